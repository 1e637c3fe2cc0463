#ifndef EDITORNAMES_H
#define EDITORNAMES_H

#include <QString>
#include <QStringList>

// What the name of the launching executable says about the editor: a launcher that merely opens
// files, a photo manager known by name, or a program that only its file description can name.
class EditorNames
{
public:
    enum class Kind {
        NotAnEditor, // a known launcher; no editor name
        Known, // `name` holds the editor's display name
        ByDescription, // the executable's file description names it
    };
    struct Match
    {
        Kind kind;
        QString name;
    };

    // The executable's base name (no folder, no last extension), matched ignoring case.
    static Match match(const QString &processName);

    // The launchers that are no editors, matched on the whole name ignoring case: the six that
    // every system shares, then those of the running system (ProcessIdentity::systemLaunchers).
    static const QStringList &knownNonEditors();
    // The name when the executable has no readable description.
    static QString fallbackName();
};

#endif // EDITORNAMES_H
