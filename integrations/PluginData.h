#ifndef PLUGINDATA_H
#define PLUGINDATA_H

#include "integrations_global.h"
#include "imaging/ImageData.h"

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>

class QApplication;
class QEvent;
class OvIntercom;

// The abstract back end behind OvIntegrations. The order of the signals and of the invokable
// operations is part of the meta-object that the application introspects: do not reorder.
class OV_INTEGRATIONS_EXPORT PluginData : public QObject
{
    Q_OBJECT
public:
    PluginData();
    ~PluginData() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    Q_INVOKABLE virtual void loadImage(const QString &id, bool isExportingRaw) = 0;
    Q_INVOKABLE virtual void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                                       const QString &outputPath, const QVariantMap &imageData,
                                       const QVariantMap &saveOptions) = 0;
    Q_INVOKABLE virtual QVariantMap loadSettings(const QString &id) = 0;
    Q_INVOKABLE virtual void saveSettings(const QString &id, const QVariantMap &settings) = 0;
    Q_INVOKABLE virtual QString getMergableInstanceKey() const = 0;
    Q_INVOKABLE virtual QString getPluginDisplayName() const = 0;
    Q_INVOKABLE virtual bool isResizingSupported() const = 0;
    Q_INVOKABLE virtual bool isSilent() const = 0;
    Q_INVOKABLE virtual bool isPluginMode() const;
    Q_INVOKABLE virtual bool isLoading() const;
    Q_INVOKABLE virtual QString loadingError() const;
    Q_INVOKABLE virtual QString loadingStatus() const;
    Q_INVOKABLE virtual bool canMergeInstance() const;
    Q_INVOKABLE virtual QString getDataForMerging();
    Q_INVOKABLE virtual void mergeInstance(const QString &data);
    Q_INVOKABLE virtual QSize imageSize(const QString &id) = 0;

    virtual void setup(QApplication *app, OvIntercom *intercom);
    virtual void start();
    virtual void cleanup();

Q_SIGNALS:
    void isPluginModeChanged(bool isPluginMode);
    void isLoadingChanged(bool isLoading);
    void imageLoaded(QString id, QVariantMap imageData);
    void imagesAdded(QStringList ids, bool mergingInstance);
    void imageSaved(QString outputPath);
    void imageSavingProgress(QString outputPath, float progress);
    void imageSavingError(QString outputPath, QString error);
    void trackEvent(QString identifier, QVariantMap params);
    void loadingErrorChanged();
    void loadingStatusChanged();
    void invalidImages(QStringList invalidFiles);
};

#endif // PLUGINDATA_H
