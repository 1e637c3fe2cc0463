#ifndef OVINTEGRATIONS_H
#define OVINTEGRATIONS_H

#include "integrations_global.h"
#include "imaging/ImageData.h"

#include <QObject>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QVariantMap>

#include <memory>

class QApplication;
class QEvent;
class OvIntercom;
class PluginData;
struct OvIntegrationsProbe;

// The object the application talks to. It picks the back end once, in the constructor, and keeps
// it on a worker thread of its own: requests leave as this object's signals, results come back as
// the back end's signals re-emitted here. The application introspects the meta-object (QML binds
// by name and index), so the order of signals, invokables and properties is fixed: do not reorder.
class OV_INTEGRATIONS_EXPORT OvIntegrations : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isPluginMode READ isPluginMode NOTIFY isPluginModeChanged)
    Q_PROPERTY(PluginType pluginType READ pluginType NOTIFY pluginTypeChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(QString loadingError READ loadingError NOTIFY loadingErrorChanged)
    Q_PROPERTY(QString loadingStatus READ loadingStatus NOTIFY loadingStatusChanged)
    Q_PROPERTY(QString mergableInstanceKey READ mergableInstanceKey CONSTANT)
    Q_PROPERTY(QString pluginDisplayName READ pluginDisplayName CONSTANT)
    Q_PROPERTY(bool resizingSupported READ resizingSupported CONSTANT)
    Q_PROPERTY(bool isSilent READ isSilent CONSTANT)
    Q_PROPERTY(QString currentImage MEMBER m_currentImage NOTIFY currentImageChanged)
    Q_PROPERTY(QVariantMap imagedata READ imagedata NOTIFY imagedataChanged)

public:
    enum PluginType {
        None = -1,
        PSFilter = 0,
        CLI = 1,
    };
    Q_ENUM(PluginType)

    explicit OvIntegrations(QStringList args);
    ~OvIntegrations() override;

    void setup(QApplication *app, OvIntercom *intercom);
    void cleanup();

    bool eventFilter(QObject *watched, QEvent *event) override;

    QString getDataForMerging() const;
    bool canMergeInstance() const;

    bool isPluginMode() const;
    PluginType pluginType() const;
    bool loading() const;
    QString loadingError() const;
    QString loadingStatus() const;
    QString mergableInstanceKey() const;
    QString pluginDisplayName() const;
    bool resizingSupported() const;
    bool isSilent() const;
    const QVariantMap &imagedata() const;

    Q_INVOKABLE void start();
    Q_INVOKABLE QVariantMap loadSettings(const QString &id);
    Q_INVOKABLE QSize imageSize(const QString &id);
    Q_INVOKABLE void setCropRect(QRectF cropRoi);

Q_SIGNALS:
    void isPluginModeChanged(bool isPluginMode);
    void loadingChanged(bool loading);
    void pluginTypeChanged(PluginType pluginType);
    void pluginImageLoaded(const QString &id, const QVariantMap &imageData);
    void pluginImagesAdded(QStringList ids, bool mergingInstance);
    void pluginImageSaved(const QString &outputPath);
    void pluginImageSavingProgress(const QString &outputPath, float progress);
    void pluginImageSavingError(const QString &outputPath, const QString &error);
    void mergeInstance(QString data);
    void loadImage(const QString &id, bool isExportingRaw = false);
    void saveImage(const std::shared_ptr<ImageData> &outIm, const QString &inputPath, const QString &outputPath,
                   const QVariantMap &imageData, const QVariantMap &saveOptions);
    void saveSettings(const QString &id, const QVariantMap &settings);
    void trackEvent(const QString &identifier, const QVariantMap &params);
    void loadingErrorChanged();
    void loadingStatusChanged();
    void invalidImages(QStringList invalidFiles);
    void currentImageChanged();
    void imagedataChanged();

private:
    // Tests reach the back end through this to make it emit; nothing else may.
    friend struct OvIntegrationsProbe;

    void connectBackEnd();
    void handleImageLoaded(const QString &id, const QVariantMap &imageData);
    void applyCrop(std::shared_ptr<ImageData> &image, QRectF rect);

    QThread m_workerThread;
    PluginType m_pluginType = None;
    PluginData *m_backEnd = nullptr;
    QString m_currentImage;
    QVariantMap m_imagedata;
};

#endif // OVINTEGRATIONS_H
