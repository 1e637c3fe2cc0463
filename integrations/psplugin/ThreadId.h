#ifndef THREADID_H
#define THREADID_H

#include <cstdint>

// The operating system's id of the calling thread, as the filter module's lock records it.
uint32_t currentThreadId();

#endif // THREADID_H
