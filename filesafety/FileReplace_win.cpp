#include "FileReplace.h"

#include <qt_windows.h>

#include <iterator>

namespace FileReplace {

namespace {

QString errorText(DWORD code)
{
    wchar_t *buffer = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                   code, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    const QString text = buffer ? QString::fromWCharArray(buffer).trimmed() : QString();
    LocalFree(buffer);
    return text;
}

const wchar_t *wide(const QString &path)
{
    return reinterpret_cast<const wchar_t *>(path.utf16());
}

bool isLink(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The atomic step is MoveFileEx: one rename, so a process killed at any point leaves the old file
// or the new one. Windows refuses it while another process holds the target open, even one that
// allows deletion (a photo manager, an indexer or a virus scanner usually does); ReplaceFile
// succeeds then. Only then, because Wine's ReplaceFile moves the target aside before it moves the
// replacement in, and a kill between the two would leave no file at all. A link is never handed
// to ReplaceFile, which would replace what it points to rather than the link itself.
bool replaceOnce(const QString &from, const QString &to)
{
    if (MoveFileExW(wide(from), wide(to), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD refusal = GetLastError();
    if (refusal != ERROR_ACCESS_DENIED || isLink(to))
        return false;
    if (ReplaceFileW(wide(to), wide(from), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr))
        return true;
    // The first refusal is the one to report when the target has gone in the meantime.
    if (GetLastError() == ERROR_FILE_NOT_FOUND)
        SetLastError(refusal);
    return false;
}

// A holder that denies deletion usually lets go within moments (a scanner, a thumbnailer).
bool isPassing(DWORD code)
{
    switch (code) {
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
        return true;
    default:
        return false;
    }
}

// The waits between attempts, in milliseconds: about 1.3 s in all, as git for Windows waits on
// held files, so that a save never hangs on a holder that does not let go.
const DWORD RetryDelays[] = {1, 10, 20, 40, 80, 160, 320, 640};

} // namespace

bool replace(const QString &from, const QString &to, QString *error)
{
    for (size_t attempt = 0;; ++attempt) {
        if (replaceOnce(from, to))
            return true;
        const DWORD code = GetLastError();
        if (!isPassing(code) || attempt == std::size(RetryDelays)) {
            if (error)
                *error = errorText(code);
            return false;
        }
        Sleep(RetryDelays[attempt]);
    }
}

// The file's owner stays its creator here: giving it another user's ownership needs the restore
// privilege, and reading and copying the replaced file's security descriptor is not done yet.
bool keepOwner(const QString &, const QString &, QString *)
{
    return true;
}

bool isReadOnly(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)
           && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool sync(const QString &path)
{
    // Any sharing: the flush only needs a handle with write access, and Qt's temporary file
    // engine may still hold one of its own.
    HANDLE file = CreateFileW(wide(path), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = FlushFileBuffers(file);
    CloseHandle(file);
    return ok;
}

} // namespace FileReplace
