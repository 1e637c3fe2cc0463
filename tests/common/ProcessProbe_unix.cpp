#include "ProcessProbe.h"

#include "TestHelpers.h"

#include <csignal>

namespace ProcessProbe {

bool isRunning(qint64 pid)
{
    const QList<QByteArray> fields = TestHelpers::processStatFields(pid);
    return !fields.isEmpty() && fields.first() != "Z";
}

void terminate(qint64 pid)
{
    ::kill(pid_t(pid), SIGKILL);
}

} // namespace ProcessProbe
