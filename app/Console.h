#ifndef CONSOLE_H
#define CONSOLE_H

#include <QString>
#include <QStringList>
#include <QVariant>

// What lumivex tells its user on standard output: one flushed line per event, so that a script
// or a test reading the pipe sees each line as it happens. Diagnostics go through Qt's logger.
class Console
{
public:
    static void line(const QString &text);
    static void error(const QString &text);

    // Readable forms of values: strings in double quotes, lists in brackets, maps in braces.
    static QString quoted(const QString &text);
    static QString list(const QStringList &items);
    static QString value(const QVariant &value);
};

#endif // CONSOLE_H
