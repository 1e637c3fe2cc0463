#ifndef PROCESSIDENTITY_H
#define PROCESSIDENTITY_H

#include <cstdint>
#include <string>
#include <vector>

// What the operating system tells about the process that launched the application. Plain C++
// with UTF-8 strings, so that each system's unit needs nothing but that system's own API.
namespace ProcessIdentity {

// This system's programs that merely open files or run other programs for someone else, beyond
// the launchers every system shares: base names (no folder, no last extension), matched on the
// whole name ignoring case. A launch from one of them is nobody's external editor.
const std::vector<std::string> &systemLaunchers();

// Id of the parent of the calling process; 0 when it cannot be found.
std::uint32_t parentProcessId();

// Whether process `pid` takes in the processes that others leave behind. A launcher that starts
// its program through a double fork (GLib's spawn, Qt's startDetached) lets go of it at once, and
// the program's parent is then this adopter, which launched nothing and names no editor.
bool adoptsOrphans(std::uint32_t pid);

// Full path of the executable of process `pid`. On failure returns false and sets `lastError`
// to the system's error code.
bool executablePath(std::uint32_t pid, std::string &path, unsigned long &lastError);

enum class DescriptionStatus {
    Found, // `description` holds the executable's file description (possibly empty)
    NoItem, // the executable could not be opened as an item; `resultCode` says why
    NoDescription, // the item has no readable file description; `resultCode` says why
};

// The human-readable file description of the executable at `path`.
DescriptionStatus fileDescription(const std::string &path, std::string &description, long &resultCode);

} // namespace ProcessIdentity

#endif // PROCESSIDENTITY_H
