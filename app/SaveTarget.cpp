#include "SaveTarget.h"

#include "OvIntegrations.h"

#include <QDir>
#include <QFileInfo>

QString SaveTarget::outputPath(const OvIntegrations *integrations, const QString &id)
{
    if (integrations->pluginType() == OvIntegrations::PSFilter || integrations->isPluginMode())
        return id;
    const QFileInfo info(id);
    const QString suffix = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    return info.dir().filePath(info.completeBaseName() + QStringLiteral("-lumivex") + suffix);
}
