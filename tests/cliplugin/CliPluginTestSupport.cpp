#include "CliPluginTestSupport.h"

#include "TestHelpers.h"

#include <QEvent>
#include <QFile>
#include <QMetaObject>
#include <QMutexLocker>

#include <opencv2/imgcodecs.hpp>

#ifdef Q_OS_LINUX
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace {

QMutex g_mutex;
QStringList g_messages;

} // namespace

MessageCapture::MessageCapture()
{
    QMutexLocker lock(&g_mutex);
    g_messages.clear();
    m_previous = qInstallMessageHandler(&MessageCapture::handler);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
}

void MessageCapture::handler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Q_UNUSED(type);
    Q_UNUSED(context);
    QMutexLocker lock(&g_mutex);
    g_messages << message;
}

QStringList MessageCapture::messages() const
{
    QMutexLocker lock(&g_mutex);
    return g_messages;
}

bool MessageCapture::contains(const QString &text) const
{
    return indexOf(text) >= 0;
}

int MessageCapture::indexOf(const QString &text) const
{
    const QStringList all = messages();
    for (int i = 0; i < all.size(); ++i) {
        if (all.at(i).startsWith(text))
            return i;
    }
    return -1;
}

PluginDataRelay::PluginDataRelay(PluginData *backEnd)
{
    const auto queued = Qt::QueuedConnection;
    connect(backEnd, &PluginData::isPluginModeChanged, this, &PluginDataRelay::isPluginModeChanged, queued);
    connect(backEnd, &PluginData::isLoadingChanged, this, &PluginDataRelay::isLoadingChanged, queued);
    connect(backEnd, &PluginData::imageLoaded, this, &PluginDataRelay::imageLoaded, queued);
    connect(backEnd, &PluginData::imagesAdded, this, &PluginDataRelay::imagesAdded, queued);
    connect(backEnd, &PluginData::imageSaved, this, &PluginDataRelay::imageSaved, queued);
    connect(backEnd, &PluginData::imageSavingProgress, this, &PluginDataRelay::imageSavingProgress, queued);
    connect(backEnd, &PluginData::imageSavingError, this, &PluginDataRelay::imageSavingError, queued);
    connect(backEnd, &PluginData::trackEvent, this, &PluginDataRelay::trackEvent, queued);
    connect(backEnd, &PluginData::loadingErrorChanged, this, &PluginDataRelay::loadingErrorChanged, queued);
    connect(backEnd, &PluginData::loadingStatusChanged, this, &PluginDataRelay::loadingStatusChanged, queued);
    connect(backEnd, &PluginData::invalidImages, this, &PluginDataRelay::invalidImages, queued);
}

BackEndThread::BackEndThread(PluginData *backEnd)
    : m_backEnd(backEnd)
{
    m_backEnd->moveToThread(&m_thread);
    m_thread.start();
}

BackEndThread::~BackEndThread()
{
    // The back end's own objects (ExifTool wrapper, writer) belong to the worker thread, so it is
    // destroyed there before the thread ends.
    QMetaObject::invokeMethod(m_backEnd, [backEnd = m_backEnd] { delete backEnd; },
                              Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

EventForwarder::EventForwarder(PluginData *backEnd)
    : m_backEnd(backEnd)
{
}

bool EventForwarder::eventFilter(QObject *watched, QEvent *event)
{
    return m_backEnd->eventFilter(watched, event);
}

bool EventObserver::eventFilter(QObject *watched, QEvent *event)
{
    Q_UNUSED(watched);
    if (event->type() == QEvent::FileOpen || event->type() == QEvent::Drop)
        seen << event->type();
    return false;
}

namespace CliPluginTest {

bool writeJpeg(const QString &path, int width, int height)
{
    const cv::Mat rgb = TestHelpers::makePattern(width, height, CV_8U, 3);
    return cv::imwrite(QFile::encodeName(path).toStdString(), rgb, {cv::IMWRITE_JPEG_QUALITY, 95});
}

bool touch(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

void useTempDir(const QString &dir)
{
    qputenv("TMPDIR", QFile::encodeName(dir));
}

bool setPermissionOverride(bool enabled)
{
#ifdef Q_OS_LINUX
    // Capabilities set with the raw system call belong to the calling thread only.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const quint32 bit = 1u << CAP_DAC_OVERRIDE;
    if (enabled && !(data[0].permitted & bit))
        return true; // never had it: permissions already apply
    data[0].effective = enabled ? (data[0].effective | bit) : (data[0].effective & ~bit);
    return syscall(SYS_capset, &header, data) == 0;
#else
    Q_UNUSED(enabled);
    return true;
#endif
}

} // namespace CliPluginTest
