#include "LargeMemory.h"

#include <windows.h>

void *allocateLargeMemory(std::size_t bytes)
{
    return ::VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void releaseLargeMemory(void *memory, std::size_t)
{
    ::VirtualFree(memory, 0, MEM_RELEASE);
}
