#ifndef HOSTPERMISSIONS_H
#define HOSTPERMISSIONS_H

#include <boost/interprocess/permissions.hpp>

#include <string>

// Access to a channel's objects for the creating user alone: Boost's default would let every
// user of the machine read the host's image. Plain C++ so that the Windows test programs use it.
namespace HostPermissions {

// Fills `permissions`; false (with `error`) when the system cannot describe the current user,
// in which case nothing may be created rather than falling back to the default.
bool ownerOnly(boost::interprocess::permissions &permissions, std::string &error);

} // namespace HostPermissions

#endif // HOSTPERMISSIONS_H
