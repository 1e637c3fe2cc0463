#include "InstanceName.h"

#include <windows.h>

namespace {

// Named pipes and mutexes live in namespaces wider than one user; the session id and the user
// name keep the objects of different logons apart.
QString userAndSession()
{
    wchar_t user[256];
    DWORD length = 256;
    const QString userName =
        GetUserNameW(user, &length) ? QString::fromWCharArray(user, int(length) - 1) : QStringLiteral("unknown");
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return QStringLiteral("%1-%2").arg(session).arg(userName);
}

} // namespace

QString InstanceName::serverName_sys(const QString &digest)
{
    return QStringLiteral("lumivex-%1-%2").arg(userAndSession(), digest);
}

// A mutex in the session's own namespace: another logon cannot see it, let alone hold it.
QString InstanceName::lockName_sys(const QString &digest)
{
    return QStringLiteral("Local\\lumivex-%1-%2-lock").arg(userAndSession(), digest);
}
