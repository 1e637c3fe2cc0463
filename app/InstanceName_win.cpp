#include "InstanceName.h"

#include <windows.h>

// Named pipes live in one namespace for the whole machine; the session id and the user name
// keep the pipes of different logons apart.
QString InstanceName::userScopedName(const QString &digest)
{
    wchar_t user[256];
    DWORD length = 256;
    const QString userName = GetUserNameW(user, &length)
        ? QString::fromWCharArray(user, int(length) - 1) : QStringLiteral("unknown");
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return QStringLiteral("lumivex-%1-%2-%3").arg(session).arg(userName, digest);
}
