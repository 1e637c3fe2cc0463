#include "TempFileWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

namespace {

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// A new, exclusively created file beside `target`; left on disk when it is closed.
bool openSibling(QTemporaryFile &file, const QString &target, QString *error)
{
    file.setFileTemplate(target + QStringLiteral(".XXXXXX"));
    file.setAutoRemove(true);
    if (!file.open()) {
        setError(error, file.errorString());
        return false;
    }
    return true;
}

bool commit(QTemporaryFile &file, const QString &target, QString *error)
{
    const QFileInfo existing(target);
    if (existing.exists() && !existing.isSymLink())
        file.setPermissions(existing.permissions());
    if (!file.flush()) {
        setError(error, file.errorString());
        return false;
    }
    file.close();
    if (!TempFileWriter::renameOver(file.fileName(), target, error))
        return false;
    file.setAutoRemove(false);
    return true;
}

} // namespace

bool TempFileWriter::writeNew(const QString &path, const QByteArray &data, QString *error)
{
    QTemporaryFile file;
    if (!openSibling(file, path, error))
        return false;
    if (file.write(data) != data.size()) {
        setError(error, file.errorString());
        return false;
    }
    return commit(file, path, error);
}

bool TempFileWriter::copyOver(const QString &source, const QString &destination, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly)) {
        setError(error, in.errorString());
        return false;
    }
    QTemporaryFile file;
    if (!openSibling(file, destination, error))
        return false;
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (file.write(chunk) != chunk.size()) {
            setError(error, file.errorString());
            return false;
        }
    }
    if (in.error() != QFileDevice::NoError) {
        setError(error, in.errorString());
        return false;
    }
    return commit(file, destination, error);
}

bool TempFileWriter::renameOver(const QString &from, const QString &to, QString *error)
{
    std::error_code code;
    std::filesystem::rename(std::filesystem::path(from.toStdU16String()),
                            std::filesystem::path(to.toStdU16String()), code);
    if (code) {
        setError(error, QString::fromStdString(code.message()));
        return false;
    }
    return true;
}
