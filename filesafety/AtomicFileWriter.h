#ifndef ATOMICFILEWRITER_H
#define ATOMICFILEWRITER_H

#include <QByteArray>
#include <QFileDevice>
#include <QString>

#include <memory>

class QTemporaryFile;

// Replaces a file whose name others may know (a user's photo, a name in the shared temporary
// folder) without ever writing through that name: the content goes into a new file with an
// unpredictable name in the target's folder, is flushed to the disk and renamed over the target.
// A reader never sees a half-written file, a failure leaves the target as it was, and a symbolic
// link planted under the target name is replaced, never followed. A replaced file keeps its
// permissions, owner and group; where the owner cannot be kept, the write fails. A target that the
// user made read-only is refused: that is how the user says it must not change.
class AtomicFileWriter
{
public:
    // `suffix` names the temporary file's format where it differs from the target's suffix.
    explicit AtomicFileWriter(const QString &target, const QString &suffix = QString());
    // Removes the temporary file unless it was committed.
    ~AtomicFileWriter();

    AtomicFileWriter(const AtomicFileWriter &) = delete;
    AtomicFileWriter &operator=(const AtomicFileWriter &) = delete;

    // Creates the temporary file, hidden and ending in the target's suffix, so that tools that
    // go by the suffix (encoders, ExifTool) treat it as the target's format.
    bool open();
    bool write(const char *data, qint64 size);
    bool write(const QByteArray &data) { return write(data.constData(), data.size()); }
    // Closes the temporary file, so that another program can fill or edit it by its path.
    bool close();
    QString temporaryPath() const;

    // Permissions of a file that replaces nothing; owner read and write unless set.
    void setNewFilePermissions(QFileDevice::Permissions permissions);
    // Puts the content in place of the target.
    bool commit();

    QString errorString() const;

private:
    bool isProtectedTarget() const;
    bool replaceWith(const QString &temporary);
    bool fail(const QString &text);

    QString m_target;
    QString m_suffix;
    std::unique_ptr<QTemporaryFile> m_file;
    QFileDevice::Permissions m_newFilePermissions;
    QString m_error;
};

#endif // ATOMICFILEWRITER_H
