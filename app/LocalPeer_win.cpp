#include "LocalPeer.h"

#include <vector>

#include <windows.h>

namespace {

// The user SID of a process, copied out of its token; empty when it cannot be read.
std::vector<char> processUser(HANDLE process)
{
    std::vector<char> user;
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token))
        return user;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    user.resize(size);
    if (size == 0 || !GetTokenInformation(token, TokenUser, user.data(), size, &size))
        user.clear();
    CloseHandle(token);
    return user;
}

PSID sidOf(std::vector<char> &tokenUser)
{
    return reinterpret_cast<TOKEN_USER *>(tokenUser.data())->User.Sid;
}

} // namespace

bool LocalPeer::isSameUser(qintptr descriptor, Side peer)
{
    const HANDLE pipe = reinterpret_cast<HANDLE>(descriptor);
    ULONG pid = 0;
    const BOOL known =
        peer == Client ? GetNamedPipeClientProcessId(pipe, &pid) : GetNamedPipeServerProcessId(pipe, &pid);
    if (!known)
        return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return false;
    std::vector<char> theirs = processUser(process);
    CloseHandle(process);
    std::vector<char> ours = processUser(GetCurrentProcess());
    return !theirs.empty() && !ours.empty() && EqualSid(sidOf(theirs), sidOf(ours));
}
