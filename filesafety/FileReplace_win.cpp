#include "FileReplace.h"

#include <qt_windows.h>

namespace FileReplace {

namespace {

QString lastErrorText()
{
    wchar_t *buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                       | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, GetLastError(), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString text = buffer ? QString::fromWCharArray(buffer).trimmed() : QString();
    LocalFree(buffer);
    return text;
}

} // namespace

bool replace(const QString &from, const QString &to, QString *error)
{
    // MoveFileEx replaces a reparse point at `to` rather than its target.
    const bool ok = MoveFileExW(reinterpret_cast<const wchar_t *>(from.utf16()),
                                reinterpret_cast<const wchar_t *>(to.utf16()),
                                MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok && error)
        *error = lastErrorText();
    return ok;
}

// The file's owner stays its creator here: giving it another user's ownership needs the restore
// privilege, and reading and copying the replaced file's security descriptor is not done yet.
bool keepOwner(const QString &, const QString &, QString *)
{
    return true;
}

bool sync(const QString &path)
{
    HANDLE file = CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FlushFileBuffers(file);
    CloseHandle(file);
    return ok;
}

} // namespace FileReplace
