#include "LargeMemory.h"

#include <sys/mman.h>

void *allocateLargeMemory(std::size_t bytes)
{
    void *memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Only advice: without transparent huge pages the memory works the same, in small pages.
    ::madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return memory;
}

void releaseLargeMemory(void *memory, std::size_t bytes)
{
    ::munmap(memory, bytes);
}
