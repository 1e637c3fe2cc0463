#include "InstanceName.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

// A socket file in the user's runtime folder (mode 0700), with the uid in the name as well, so
// that a shared temporary folder fallback still keeps users apart.
QString InstanceName::userScopedName(const QString &digest)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QString fileName = QStringLiteral("lumivex-%1-%2").arg(::getuid()).arg(digest);
    return QDir(folder).filePath(fileName);
}
