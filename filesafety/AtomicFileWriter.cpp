#include "AtomicFileWriter.h"

#include "FileReplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

namespace {

QString temporaryTemplate(const QString &target, QString suffix)
{
    const QFileInfo info(target);
    if (suffix.isEmpty())
        suffix = info.suffix();
    const QString base = info.completeBaseName().isEmpty() ? info.fileName() : info.completeBaseName();
    return info.dir().filePath(QLatin1Char('.') + base + QStringLiteral(".XXXXXX")
                               + (suffix.isEmpty() ? QString() : QLatin1Char('.') + suffix));
}

} // namespace

AtomicFileWriter::AtomicFileWriter(const QString &target, const QString &suffix)
    : m_target(target)
    , m_suffix(suffix)
    , m_newFilePermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                           | QFileDevice::WriteUser)
{
}

AtomicFileWriter::~AtomicFileWriter() = default;

bool AtomicFileWriter::open()
{
    // Refused before anything is written beside it.
    if (isProtectedTarget())
        return fail(QStringLiteral("the file is read-only"));
    m_file = std::make_unique<QTemporaryFile>(temporaryTemplate(m_target, m_suffix));
    if (!m_file->open())
        return fail(m_file->errorString());
    return true;
}

bool AtomicFileWriter::write(const char *data, qint64 size)
{
    if (!m_file || !m_file->isOpen())
        return fail(QStringLiteral("the file is not open"));
    if (m_file->write(data, size) != size)
        return fail(m_file->errorString());
    return true;
}

bool AtomicFileWriter::close()
{
    if (m_file && m_file->isOpen()) {
        if (!m_file->flush())
            return fail(m_file->errorString());
        m_file->close();
    }
    return true;
}

QString AtomicFileWriter::temporaryPath() const
{
    return m_file ? m_file->fileName() : QString();
}

void AtomicFileWriter::setNewFilePermissions(QFileDevice::Permissions permissions)
{
    m_newFilePermissions = permissions;
}

bool AtomicFileWriter::commit()
{
    if (!m_file)
        return fail(QStringLiteral("the file is not open"));
    if (!close())
        return false;
    // On Windows Qt's temporary file keeps a handle of its own until it is destroyed, and that
    // handle denies the flush and the rename below: the file is released first and removed here
    // when anything fails.
    const QString temporary = m_file->fileName();
    m_file->setAutoRemove(false);
    m_file.reset();
    if (replaceWith(temporary))
        return true;
    QFile::remove(temporary);
    return false;
}

bool AtomicFileWriter::replaceWith(const QString &temporary)
{
    // A link under the target name is no file of the user's: nothing of it is carried over.
    const QFileInfo existing(m_target);
    QString error;
    // Again at the last moment: the user may have protected it while the content was made.
    if (isProtectedTarget())
        return fail(QStringLiteral("the file is read-only"));
    if (existing.exists() && !existing.isSymLink()) {
        // The owner first: changing it may clear permission bits.
        if (!FileReplace::keepOwner(temporary, m_target, &error))
            return fail(error);
        QFile::setPermissions(temporary, existing.permissions());
    } else {
        QFile::setPermissions(temporary, m_newFilePermissions);
    }
    if (!FileReplace::sync(temporary))
        return fail(QStringLiteral("the file could not be written to disk"));
    if (!FileReplace::replace(temporary, m_target, &error))
        return fail(error);
    return true;
}

// A link under the target name is replaced, so only a file of the user's own is judged.
bool AtomicFileWriter::isProtectedTarget() const
{
    return !QFileInfo(m_target).isSymLink() && FileReplace::isReadOnly(m_target);
}

QString AtomicFileWriter::errorString() const
{
    return m_error;
}

bool AtomicFileWriter::fail(const QString &text)
{
    m_error = text;
    return false;
}
