#ifndef LARGEMEMORY_H
#define LARGEMEMORY_H

#include <cstddef>

// Memory for whole images straight from the operating system. First touches of fresh memory
// cost far more than the copying into it, so the memory is asked for in large pages where the
// system offers them. Null when the system refuses.
void *allocateLargeMemory(std::size_t bytes);
void releaseLargeMemory(void *memory, std::size_t bytes);

#endif // LARGEMEMORY_H
