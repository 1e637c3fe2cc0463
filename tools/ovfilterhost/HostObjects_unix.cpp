#include "HostObjects.h"

namespace HostObjects {

bool removeLeftover(const std::string &)
{
    return false;
}

} // namespace HostObjects
