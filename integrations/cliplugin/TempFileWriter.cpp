#include "TempFileWriter.h"

#include "AtomicFileWriter.h"

#include <QFile>

namespace {

bool failed(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

bool TempFileWriter::writeNew(const QString &path, const QByteArray &data, QString *error)
{
    AtomicFileWriter file(path);
    if (!file.open() || !file.write(data) || !file.commit())
        return failed(error, file.errorString());
    return true;
}

bool TempFileWriter::copyOver(const QString &source, const QString &destination, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return failed(error, in.errorString());
    AtomicFileWriter file(destination);
    if (!file.open())
        return failed(error, file.errorString());
    QByteArray chunk;
    while (!(chunk = in.read(1 << 20)).isEmpty()) {
        if (!file.write(chunk))
            return failed(error, file.errorString());
    }
    if (in.error() != QFileDevice::NoError)
        return failed(error, in.errorString());
    if (!file.commit())
        return failed(error, file.errorString());
    return true;
}
