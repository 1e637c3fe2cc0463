#ifndef VIEWCONTROLLER_H
#define VIEWCONTROLLER_H

#include "imaging/ImageData.h"

#include <QFutureWatcher>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QRectF>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>

class ImagePreviewProvider;
class OvIntegrations;

// The window's side of the application, exposed to QML as `viewer`: the list of announced images,
// the picture on screen, the demo enhancement and saving. Loading and saving run on the library's
// worker thread, enhancement and preview conversion on a pool thread, so the GUI thread never
// waits for pixels.
class ViewController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QVariantList images READ images NOTIFY imagesChanged)
    Q_PROPERTY(QStringList rejected READ rejected NOTIFY rejectedChanged)
    Q_PROPERTY(QString previewUrl READ previewUrl NOTIFY previewChanged)
    Q_PROPERTY(bool hasImage READ hasImage NOTIFY previewChanged)
    Q_PROPERTY(QString imageSizeText READ imageSizeText NOTIFY previewChanged)
    Q_PROPERTY(bool enhanced READ enhanced NOTIFY previewChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(QString modeText READ modeText CONSTANT)
    Q_PROPERTY(bool filterHost READ filterHost CONSTANT)

public:
    ViewController(OvIntegrations *integrations, ImagePreviewProvider *provider, QObject *parent = nullptr);
    ~ViewController() override;

    QVariantList images() const;
    QStringList rejected() const;
    QString previewUrl() const;
    bool hasImage() const;
    QString imageSizeText() const;
    bool enhanced() const;
    bool busy() const;
    QString message() const;
    QString modeText() const;
    bool filterHost() const;

    // The image that Save would hand over (the loaded one, or its enhanced copy).
    std::shared_ptr<ImageData> workingImage() const;

    Q_INVOKABLE void open(const QString &id);
    Q_INVOKABLE void enhance();
    Q_INVOKABLE void revert();
    // A selection relative to the picture on screen, which may itself be a crop already.
    Q_INVOKABLE void crop(qreal x, qreal y, qreal width, qreal height);
    Q_INVOKABLE void resetCrop();
    Q_INVOKABLE void save();

Q_SIGNALS:
    void imagesChanged();
    void rejectedChanged();
    void previewChanged();
    void busyChanged();
    void messageChanged();
    // Filter-host mode: the host has its image; the application should clean up and quit.
    void deliveredToHost();

private:
    // What the pool thread made of one state of the loaded image.
    struct Rendition
    {
        std::shared_ptr<ImageData> source;
        std::shared_ptr<ImageData> image;
        QImage preview;
    };

    void onImagesAdded(const QStringList &ids, bool mergingInstance);
    void onInvalidImages(const QStringList &files);
    void onImageLoaded(const QString &id, const QVariantMap &imageData);
    void onImagedataChanged();
    void onSaved(const QString &outputPath);
    void onSavingError(const QString &outputPath, const QString &error);
    void render();
    void onRenderFinished();
    void show(const std::shared_ptr<ImageData> &image, const QImage &preview);
    void setMessage(const QString &text);
    std::shared_ptr<ImageData> loadedImage() const;

    OvIntegrations *m_integrations;
    ImagePreviewProvider *m_provider;
    QStringList m_ids;
    QHash<QString, QVariantMap> m_entries;
    QStringList m_rejected;
    std::shared_ptr<ImageData> m_working;
    int m_revision = 0;
    bool m_enhanced = false;
    QRectF m_crop = QRectF(0, 0, 1, 1);
    QFutureWatcher<Rendition> m_rendering;
    bool m_busy = false;
    bool m_renderAgain = false;
    QString m_message;
};

#endif // VIEWCONTROLLER_H
