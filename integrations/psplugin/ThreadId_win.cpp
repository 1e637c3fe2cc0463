#include "ThreadId.h"

#include <windows.h>

uint32_t currentThreadId()
{
    return static_cast<uint32_t>(::GetCurrentThreadId());
}
