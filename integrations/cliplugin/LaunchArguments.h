#ifndef LAUNCHARGUMENTS_H
#define LAUNCHARGUMENTS_H

#include <QString>
#include <QStringList>

// The command line of an external-editor launch, sorted: the editor that an "--editor" option
// names and the remaining arguments, which are candidate files. The first element (the program)
// is never looked at.
struct LaunchArguments
{
    // Empty when no option names an editor; a later option replaces an earlier one.
    QString editor;
    // Every other argument, in order, as given.
    QStringList candidates;

    static LaunchArguments parse(const QStringList &arguments);
    // The value of an argument that starts with "--editor": what follows "=", or the whole
    // argument when no "=" follows the option; one surrounding quote is dropped at each end.
    static QString editorOptionValue(const QString &argument);
};

#endif // LAUNCHARGUMENTS_H
