#include "HostPermissions.h"

namespace HostPermissions {

bool ownerOnly(boost::interprocess::permissions &permissions, std::string &)
{
    permissions.set_permissions(0600);
    return true;
}

} // namespace HostPermissions
