#ifndef TEMPFILEWRITER_H
#define TEMPFILEWRITER_H

#include <QByteArray>
#include <QString>

// The external-editor mode's writes of files whose names others can predict (in the shared
// temporary folder, or beside a user's original), all through AtomicFileWriter: a planted link
// is replaced, never followed, and a failure leaves the target untouched.
class TempFileWriter
{
public:
    // Replaces `path` with a new file holding `data`.
    static bool writeNew(const QString &path, const QByteArray &data, QString *error = nullptr);

    // Replaces `destination` with a new file holding a copy of `source`. An existing destination
    // keeps its permissions, owner and group.
    static bool copyOver(const QString &source, const QString &destination, QString *error = nullptr);
};

#endif // TEMPFILEWRITER_H
