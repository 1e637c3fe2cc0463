#ifndef FOLDERWALK_H
#define FOLDERWALK_H

#include <QString>
#include <QStringList>

// The files below a dropped folder that are offered as images.
class FolderWalk
{
public:
    // Every file whose name contains a dot, in all subfolders, in the directory iterator's
    // order; nothing for an empty path.
    static QStringList files(const QString &folder);
};

#endif // FOLDERWALK_H
