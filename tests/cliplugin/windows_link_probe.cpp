// Calls every operation of the Windows process identity so that linking proves that all the
// system functions and property keys it uses resolve.
#include "ProcessIdentity.h"

#include <cstdio>

int main()
{
    std::string path;
    std::string description;
    unsigned long lastError = 0;
    long resultCode = 0;
    const std::uint32_t parent = ProcessIdentity::parentProcessId();
    if (ProcessIdentity::executablePath(parent, path, lastError))
        ProcessIdentity::fileDescription(path, description, resultCode);
    std::printf("%u %s %s\n", parent, path.c_str(), description.c_str());
    return 0;
}
