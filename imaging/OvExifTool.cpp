#include "OvExifTool.h"

#include "ExifToolSession.h"
#include "ThumbnailMaker.h"

#include <QDebug>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QQueue>
#include <QThreadPool>

namespace {

struct Request
{
    enum Kind { Metadata, Thumbnail } kind;
    QString source;
    QString thumbnail;
    int orientation = 1;
};

// ExifTool prints one JSON object per file; the first is ours.
QJsonObject firstObject(const QByteArray &output)
{
    const QJsonDocument document = QJsonDocument::fromJson(output);
    const QJsonArray objects = document.array();
    return objects.isEmpty() ? QJsonObject() : objects.first().toObject();
}

QByteArray binaryValue(const QJsonObject &object, const QString &key)
{
    static const QLatin1String prefix("base64:");
    const QString value = object.value(key).toString();
    return value.startsWith(prefix) ? QByteArray::fromBase64(value.mid(prefix.size()).toLatin1()) : QByteArray();
}

QStringList metadataArguments(const QString &path)
{
    return {QStringLiteral("-j"),
            QStringLiteral("-n"),
            QStringLiteral("-G"),
            QStringLiteral("-charset"),
            QStringLiteral("filename=utf8"),
            path};
}

QStringList previewArguments(const QString &path)
{
    return {QStringLiteral("-j"),
            QStringLiteral("-b"),
            QStringLiteral("-PreviewImage"),
            QStringLiteral("-ThumbnailImage"),
            QStringLiteral("-charset"),
            QStringLiteral("filename=utf8"),
            path};
}

// A path goes down ExifTool's argument stream as one line, and must not read as an option.
bool usablePath(const QString &path)
{
    return !path.isEmpty() && !path.contains(QLatin1Char('\n')) && !path.contains(QLatin1Char('\r'));
}

} // namespace

struct OvExifTool::Private
{
    explicit Private(OvExifTool *owner)
        : q(owner)
        , session(owner)
    {
        // One decode at a time, so thumbnails finish in the order they were asked for.
        pool.setMaxThreadCount(1);
    }

    ~Private() { pool.waitForDone(); }

    void enqueue(Request request)
    {
        queue.enqueue(std::move(request));
        next();
    }

    // Requests are answered strictly in order: the next one starts when the last has answered.
    void next()
    {
        if (busy || queue.isEmpty())
            return;
        busy = true;
        const Request request = queue.dequeue();
        const QString path = QFileInfo(request.source).absoluteFilePath();
        if (request.kind == Request::Metadata) {
            if (!usablePath(request.source))
                return answerMetadata(request, false, {}, "unusable path");
            session.execute(metadataArguments(path),
                            [this, request](bool ok, const QByteArray &out, const QByteArray &err) {
                                answerMetadata(request, ok, out, err);
                            });
        } else {
            if (!usablePath(request.source))
                return makeThumbnail(request, QByteArray());
            session.execute(previewArguments(path),
                            [this, request](bool ok, const QByteArray &out, const QByteArray &) {
                                const QJsonObject object = ok ? firstObject(out) : QJsonObject();
                                QByteArray preview = binaryValue(object, QStringLiteral("PreviewImage"));
                                if (preview.isEmpty())
                                    preview = binaryValue(object, QStringLiteral("ThumbnailImage"));
                                makeThumbnail(request, preview);
                            });
        }
    }

    void answerMetadata(const Request &request, bool ok, const QByteArray &output, const QByteArray &errors)
    {
        QVariantMap metadata = ok ? firstObject(output).toVariantMap() : QVariantMap();
        if (metadata.isEmpty())
            qWarning() << "ExifTool could not read the metadata of" << request.source << errors.trimmed();
        done();
        emit q->readFinished(request.source, metadata);
    }

    void makeThumbnail(const Request &request, const QByteArray &preview)
    {
        pool.start([this, request, preview] {
            ThumbnailMaker::make(request.source, request.thumbnail, request.orientation, preview);
            // The owner waits for the pool in its destructor, so it is alive here; the queued
            // call is dropped if it is deleted before the event loop delivers it.
            QMetaObject::invokeMethod(
                q,
                [this, request] {
                    done();
                    emit q->thumbnailFinished(request.thumbnail);
                },
                Qt::QueuedConnection);
        });
    }

    void done()
    {
        busy = false;
        // Let the signal go out first; the next request starts from the event loop.
        QMetaObject::invokeMethod(
            q, [this] { next(); }, Qt::QueuedConnection);
    }

    OvExifTool *q;
    ExifToolSession session;
    QThreadPool pool;
    QQueue<Request> queue;
    bool busy = false;
};

OvExifTool::OvExifTool(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>(this))
{
}

OvExifTool::~OvExifTool() = default;

void OvExifTool::readMetadata(const QString &path)
{
    d->enqueue({Request::Metadata, path, QString(), 1});
}

void OvExifTool::saveThumbnailToFile(const QString &sourcePath, const QString &thumbnailPath, int orientation)
{
    d->enqueue({Request::Thumbnail, sourcePath, thumbnailPath, orientation});
}
