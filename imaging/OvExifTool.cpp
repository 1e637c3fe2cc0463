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

// Requests are answered strictly in order: the next one starts when the last has answered.
struct OvExifTool::Private
{
    explicit Private(OvExifTool *owner);
    ~Private();

    void enqueue(Request request);
    void next();
    void readMetadata(const Request &request, const QString &path);
    void readPreview(const Request &request, const QString &path);
    void answerMetadata(const Request &request, bool ok, const QByteArray &output, const QByteArray &errors);
    void makeThumbnail(const Request &request, const QByteArray &preview);
    void done();

    OvExifTool *m_owner;
    ExifToolSession m_session;
    QThreadPool m_pool;
    QQueue<Request> m_queue;
    bool m_busy = false;
};

OvExifTool::Private::Private(OvExifTool *owner)
    : m_owner(owner)
    , m_session(owner)
{
    // One decode at a time, so thumbnails finish in the order they were asked for.
    m_pool.setMaxThreadCount(1);
}

OvExifTool::Private::~Private()
{
    m_pool.waitForDone();
}

void OvExifTool::Private::enqueue(Request request)
{
    m_queue.enqueue(std::move(request));
    next();
}

void OvExifTool::Private::next()
{
    if (m_busy || m_queue.isEmpty())
        return;
    m_busy = true;
    const Request request = m_queue.dequeue();
    const QString path = QFileInfo(request.source).absoluteFilePath();
    if (request.kind == Request::Metadata)
        readMetadata(request, path);
    else
        readPreview(request, path);
}

void OvExifTool::Private::readMetadata(const Request &request, const QString &path)
{
    if (!usablePath(request.source))
        return answerMetadata(request, false, {}, "unusable path");
    m_session.execute(metadataArguments(path), [this, request](bool ok, const QByteArray &out, const QByteArray &err) {
        answerMetadata(request, ok, out, err);
    });
}

// The embedded preview is the faster source of a thumbnail; without one the file itself is decoded.
void OvExifTool::Private::readPreview(const Request &request, const QString &path)
{
    if (!usablePath(request.source))
        return makeThumbnail(request, QByteArray());
    m_session.execute(previewArguments(path), [this, request](bool ok, const QByteArray &out, const QByteArray &) {
        const QJsonObject object = ok ? firstObject(out) : QJsonObject();
        QByteArray preview = binaryValue(object, QStringLiteral("PreviewImage"));
        if (preview.isEmpty())
            preview = binaryValue(object, QStringLiteral("ThumbnailImage"));
        makeThumbnail(request, preview);
    });
}

void OvExifTool::Private::answerMetadata(const Request &request, bool ok, const QByteArray &output,
                                         const QByteArray &errors)
{
    QVariantMap metadata = ok ? firstObject(output).toVariantMap() : QVariantMap();
    if (metadata.isEmpty())
        qWarning() << "ExifTool could not read the metadata of" << request.source << errors.trimmed();
    done();
    emit m_owner->readFinished(request.source, metadata);
}

void OvExifTool::Private::makeThumbnail(const Request &request, const QByteArray &preview)
{
    m_pool.start([this, request, preview] {
        ThumbnailMaker::make(request.source, request.thumbnail, request.orientation, preview);
        // The owner waits for the pool in its destructor, so it is alive here; the queued
        // call is dropped if it is deleted before the event loop delivers it.
        QMetaObject::invokeMethod(
            m_owner,
            [this, request] {
                done();
                emit m_owner->thumbnailFinished(request.thumbnail);
            },
            Qt::QueuedConnection);
    });
}

void OvExifTool::Private::done()
{
    m_busy = false;
    // Let the signal go out first; the next request starts from the event loop.
    QMetaObject::invokeMethod(
        m_owner, [this] { next(); }, Qt::QueuedConnection);
}

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
