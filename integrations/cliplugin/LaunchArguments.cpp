#include "LaunchArguments.h"

#include <QDebug>

namespace {

const QString EditorOption = QStringLiteral("--editor");

bool isQuote(QChar c)
{
    return c == QLatin1Char('"') || c == QLatin1Char('\'');
}

} // namespace

QString LaunchArguments::editorOptionValue(const QString &argument)
{
    const qsizetype prefix = EditorOption.size();
    const bool hasValue = argument.size() > prefix && argument.at(prefix) == QLatin1Char('=');
    QString value = hasValue ? argument.mid(prefix + 1) : argument;
    if (!value.isEmpty() && isQuote(value.front()))
        value.remove(0, 1);
    if (!value.isEmpty() && isQuote(value.back()))
        value.chop(1);
    return value;
}

LaunchArguments LaunchArguments::parse(const QStringList &arguments)
{
    LaunchArguments result;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        qInfo() << "Processing argument" << argument;
        if (argument.startsWith(EditorOption)) {
            result.editor = editorOptionValue(argument);
            qInfo() << "Set external editor from CLI argument:" << result.editor;
        } else {
            result.candidates << argument;
        }
    }
    return result;
}
