#ifndef HOSTOBJECTS_H
#define HOSTOBJECTS_H

#include <string>

// What is left of a channel's object once Boost could not remove it. On Windows Boost keeps each
// object as a file in its shared folder and removes it by renaming it and marking it for deletion,
// which Wine does not carry out; the file can still be deleted by name. POSIX removal has no
// such second way.
namespace HostObjects {

// True when the object's file was there and is gone now.
bool removeLeftover(const std::string &name);

} // namespace HostObjects

#endif // HOSTOBJECTS_H
