#include "WindowPicture.h"

#include "Console.h"
#include "LumivexWindow.h"
#include "OvIntegrations.h"
#include "ViewController.h"

#include <QImage>
#include <QPainter>
#include <QQmlProperty>
#include <QQuickItem>
#include <QQuickItemGrabResult>
#include <QQuickWindow>

namespace {

const QString PreviewName = QStringLiteral("previewImage");
// Image.Ready: the picture is decoded and the item paints it on the next frame.
constexpr int ImageReady = 1;

} // namespace

WindowPicture::WindowPicture(OvIntegrations *integrations, LumivexWindow *window, const QString &path, int timeoutMs,
                             QObject *parent)
    : QObject(parent)
    , m_integrations(integrations)
    , m_window(window)
    , m_path(path)
    , m_timeoutMs(timeoutMs)
{
    ViewController *viewer = window->controller();
    connect(viewer, &ViewController::previewChanged, this, &WindowPicture::check);
    connect(viewer, &ViewController::busyChanged, this, &WindowPicture::check);
    // The preview item loads its picture after the controller announced it; its status says when
    // the picture is there to paint.
    if (QQuickItem *preview = window->window()->findChild<QQuickItem *>(PreviewName))
        QQmlProperty(preview, QStringLiteral("status")).connectNotifySignal(this, SLOT(check()));
    connect(viewer, &ViewController::rejectedChanged, this, &WindowPicture::checkNothingToShow);
    connect(integrations, &OvIntegrations::loadingErrorChanged, this, &WindowPicture::checkNothingToShow);
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this,
            [this] { fail(QStringLiteral("no image was shown within %1 s").arg(m_timeoutMs / 1000.0)); });
    m_timeout.start(timeoutMs);
}

bool WindowPicture::pictureShown() const
{
    const QQuickItem *preview = m_window->window()->findChild<QQuickItem *>(PreviewName);
    const ViewController *viewer = m_window->controller();
    return preview && viewer->hasImage() && !viewer->busy() && preview->property("status").toInt() == ImageReady
           && !pictureRect().isEmpty();
}

void WindowPicture::check()
{
    // Queued: the item's painted size follows its status in the same turn of the event loop.
    if (!m_done && pictureShown())
        QMetaObject::invokeMethod(this, &WindowPicture::write, Qt::QueuedConnection);
}

void WindowPicture::write()
{
    if (m_done || m_grab || !pictureShown())
        return;
    QQuickWindow *window = m_window->window();
    const QImage picture = window->grabWindow();
    if (!picture.isNull()) {
        save(picture);
        return;
    }
    // The minimal platform's backing store cannot be read back; the items then draw into an
    // image of their own on the next frame, over the window's colour.
    m_grab = window->contentItem()->grabToImage();
    if (!m_grab) {
        fail(QStringLiteral("the window could not be grabbed"));
        return;
    }
    connect(m_grab.data(), &QQuickItemGrabResult::ready, this,
            [this, window] { save(overWindowColour(window, m_grab->image())); });
}

QImage WindowPicture::overWindowColour(const QQuickWindow *window, const QImage &items)
{
    QImage composed(items.size(), QImage::Format_RGB32);
    composed.fill(window->color());
    QPainter(&composed).drawImage(0, 0, items);
    return composed;
}

void WindowPicture::save(const QImage &picture)
{
    if (picture.isNull()) {
        fail(QStringLiteral("the window could not be grabbed"));
        return;
    }
    if (!picture.save(m_path, "PNG")) {
        fail(QStringLiteral("the window's picture could not be written to %1").arg(Console::quoted(m_path)));
        return;
    }
    const QRect shown = pictureRect();
    Console::line(QStringLiteral("window picture %1: window %2x%3, image at %4,%5 size %6x%7")
                      .arg(Console::quoted(m_path))
                      .arg(picture.width())
                      .arg(picture.height())
                      .arg(shown.x())
                      .arg(shown.y())
                      .arg(shown.width())
                      .arg(shown.height()));
    m_done = true;
    m_timeout.stop();
    emit finished(0);
}

void WindowPicture::checkNothingToShow()
{
    const ViewController *viewer = m_window->controller();
    if (!m_integrations->loadingError().isEmpty())
        fail(QStringLiteral("the image did not load (%1)").arg(m_integrations->loadingError()));
    else if (viewer->images().isEmpty() && !viewer->rejected().isEmpty())
        fail(QStringLiteral("every file was refused (%1)").arg(viewer->rejected().join(QStringLiteral(", "))));
}

void WindowPicture::fail(const QString &reason)
{
    if (m_done)
        return;
    m_done = true;
    m_timeout.stop();
    Console::error(QStringLiteral("error: %1; no window picture written").arg(reason));
    emit finished(1);
}

QRect WindowPicture::pictureRect() const
{
    const QQuickItem *item = m_window->window()->findChild<QQuickItem *>(PreviewName);
    if (!item)
        return {};
    const QSizeF painted(item->property("paintedWidth").toReal(), item->property("paintedHeight").toReal());
    const QPointF topLeft =
        item->mapToScene(QPointF((item->width() - painted.width()) / 2, (item->height() - painted.height()) / 2));
    const qreal ratio = m_window->window()->devicePixelRatio();
    return QRectF(topLeft * ratio, painted * ratio).toRect();
}
