#include "HeldFile.h"

#include <QDir>

#include <windows.h>

HeldFile::HeldFile(const QString &path, bool allowDelete)
{
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | (allowDelete ? FILE_SHARE_DELETE : 0);
    const HANDLE handle = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                      GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    m_handle = handle == INVALID_HANDLE_VALUE ? -1 : qintptr(handle);
}

HeldFile::~HeldFile()
{
    if (isOpen())
        CloseHandle(HANDLE(m_handle));
}

bool HeldFile::isOpen() const
{
    return m_handle != -1;
}
