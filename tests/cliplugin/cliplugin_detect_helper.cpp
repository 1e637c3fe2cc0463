// Started by the detection tests as the child of a renamed shell: constructs the external-editor
// back end with this process's arguments, starts it, and prints what it decided as one JSON line,
// with the parent it had just before: a parent can change only once, from launcher to adopter, so
// an adopter seen before is the one the back end saw.
#include "CLIPluginData.h"
#include "ProcessIdentity.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QJsonObject result;
    const std::uint32_t parentBefore = ProcessIdentity::parentProcessId();
    std::string parentExecutable;
    unsigned long lastError = 0;
    ProcessIdentity::executablePath(parentBefore, parentExecutable, lastError);
    result.insert(QStringLiteral("parentBefore"), qint64(parentBefore));
    result.insert(QStringLiteral("parentExecutableBefore"), QString::fromStdString(parentExecutable));

    auto *backEnd = new CLIPluginData(QCoreApplication::arguments());

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
