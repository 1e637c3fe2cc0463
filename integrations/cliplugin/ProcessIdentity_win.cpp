// Windows process and shell services. Built without Qt so that it needs nothing but the
// Windows SDK headers (and compiles with a mingw-w64 cross compiler).
#include "ProcessIdentity.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <tlhelp32.h>
#include <objbase.h>
#include <shobjidl.h>
#include <propkey.h>

#include <string>
#include <vector>

namespace {

std::string toUtf8(const wchar_t *text, int length)
{
    if (!text || length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (size <= 0)
        return {};
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, &result[0], size, nullptr, nullptr);
    return result;
}

std::wstring toWide(const std::string &text)
{
    if (text.empty())
        return {};
    const int length = static_cast<int>(text.size());
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    if (size <= 0)
        return {};
    std::wstring result(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, &result[0], size);
    return result;
}

} // namespace

namespace ProcessIdentity {

// The shared launchers (cmd, explorer, OpenWith, chrome, rundll32, dllhost) are all that Windows
// knows: any other parent, a shell such as PowerShell included, is named by its description.
const std::vector<std::string> &systemLaunchers()
{
    static const std::vector<std::string> none;
    return none;
}

std::uint32_t parentProcessId()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;

    std::uint32_t parent = 0;
    const DWORD self = GetCurrentProcessId();
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(PROCESSENTRY32W);
    if (Process32FirstW(snapshot, &entry)) {
        do {
            if (entry.th32ProcessID == self) {
                parent = entry.th32ParentProcessID;
                break;
            }
        } while (Process32NextW(snapshot, &entry));
    }
    CloseHandle(snapshot);
    return parent;
}

// Windows gives an orphan no new parent: the process keeps the id of the one that ended.
bool adoptsOrphans(std::uint32_t)
{
    return false;
}

bool executablePath(std::uint32_t pid, std::string &path, unsigned long &lastError)
{
    // 0x410: reading the image name needs no more than query and VM-read rights.
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, static_cast<DWORD>(pid));
    wchar_t buffer[MAX_PATH];
    DWORD size = MAX_PATH - 1;
    const BOOL ok = process && QueryFullProcessImageNameW(process, 0, buffer, &size);
    lastError = ok ? 0 : GetLastError();
    if (process)
        CloseHandle(process);
    if (!ok)
        return false;
    path = toUtf8(buffer, static_cast<int>(size));
    return true;
}

DescriptionStatus fileDescription(const std::string &path, std::string &description, long &resultCode)
{
    // COM stays initialised for the thread: shell items may be asked for again later.
    CoInitialize(nullptr);

    const std::wstring widePath = toWide(path);
    IShellItem2 *item = nullptr;
    HRESULT result =
        SHCreateItemFromParsingName(widePath.c_str(), nullptr, IID_IShellItem2, reinterpret_cast<void **>(&item));
    if (FAILED(result) || !item) {
        resultCode = static_cast<long>(result);
        return DescriptionStatus::NoItem;
    }

    LPWSTR text = nullptr;
    result = item->GetString(PKEY_FileDescription, &text);
    if (FAILED(result)) {
        resultCode = static_cast<long>(result);
        item->Release();
        return DescriptionStatus::NoDescription;
    }

    description = text ? toUtf8(text, lstrlenW(text)) : std::string();
    CoTaskMemFree(text);
    item->Release();
    resultCode = 0;
    return DescriptionStatus::Found;
}

} // namespace ProcessIdentity
