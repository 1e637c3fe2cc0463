#ifndef WINDOWPICTURE_H
#define WINDOWPICTURE_H

#include <QObject>
#include <QRect>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

class LumivexWindow;
class QImage;
class QQuickItemGrabResult;
class QQuickWindow;
class OvIntegrations;

// Writes a PNG of the window once it shows its first picture, then ends the run: the proof,
// without a person looking, that a launch opens its window with the image in it. The line it
// prints names where the picture lies in the PNG, so that a check can compare its pixels.
class WindowPicture : public QObject
{
    Q_OBJECT
public:
    WindowPicture(OvIntegrations *integrations, LumivexWindow *window, const QString &path, int timeoutMs,
                  QObject *parent = nullptr);

    // What the items drew (grabToImage, where the platform cannot read the window back) over the
    // window's colour, as the window shows it.
    static QImage overWindowColour(const QQuickWindow *window, const QImage &items);

Q_SIGNALS:
    // 0 once the PNG is written; 1 when no picture was shown in time or the PNG could not be written.
    void finished(int exitCode);

private Q_SLOTS:
    // A slot, as the preview item's status is a QML property reached through its notify signal.
    void check();

private:
    bool pictureShown() const;
    void write();
    void save(const QImage &picture);
    void fail(const QString &reason);
    // A launch whose images were all refused, or whose image failed to load, has nothing to show.
    void checkNothingToShow();
    // The painted picture inside the preview item, in window coordinates.
    QRect pictureRect() const;

    OvIntegrations *m_integrations;
    LumivexWindow *m_window;
    QString m_path;
    int m_timeoutMs;
    QTimer m_timeout;
    QSharedPointer<QQuickItemGrabResult> m_grab;
    bool m_done = false;
};

#endif // WINDOWPICTURE_H
