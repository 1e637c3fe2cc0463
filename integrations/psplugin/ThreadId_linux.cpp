#include "ThreadId.h"

#include <sys/syscall.h>
#include <unistd.h>

uint32_t currentThreadId()
{
    return static_cast<uint32_t>(::syscall(SYS_gettid));
}
