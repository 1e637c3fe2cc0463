// Started by the detection tests as the child of a renamed shell: constructs the external-editor
// back end with this process's arguments, starts it, and prints what it decided as one JSON line.
#include "CLIPluginData.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    auto *backEnd = new CLIPluginData(QCoreApplication::arguments());

    QJsonObject result;
    QObject::connect(backEnd, &PluginData::trackEvent, backEnd,
                     [&result](const QString &identifier, const QVariantMap &params) {
                         result.insert(QStringLiteral("event"), identifier);
                         result.insert(QStringLiteral("params"), QJsonObject::fromVariantMap(params));
                     });
    backEnd->start();

    result.insert(QStringLiteral("editor"), backEnd->getPluginDisplayName());
    QTextStream(stdout) << QJsonDocument(result).toJson(QJsonDocument::Compact) << Qt::endl;
    delete backEnd;
    return 0;
}
