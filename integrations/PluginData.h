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

/// The abstract back end behind OvIntegrations. The order of the signals and of the invokable
/// operations is part of the meta-object that the application introspects: do not reorder.
///
/// Each mode has one concrete back end inside the library: the filter-host one (PSPluginData) and
/// the external-editor one (CLIPluginData). OvIntegrations creates exactly one, in its constructor,
/// and talks to it only through the operations and signals declared here. The base class keeps no
/// state; its optional operations have the defaults documented with them.
///
/// \par Threads
/// The back end is constructed on the GUI thread and moved to the facade's worker thread before
/// anything else is called. loadImage(), saveImage() and mergeInstance() arrive as queued calls on
/// the worker thread. saveSettings() runs on the thread that emits the facade's request (a direct
/// connection, the GUI thread). Everything else (setup(), start(), cleanup(), eventFilter(),
/// loadSettings(), imageSize() and the queries) is called directly on the GUI thread, possibly while
/// a queued request runs on the worker thread: what the queries read, the worker thread writes, and
/// a back end has to make those reads safe itself.
///
/// The facade relays every signal to one of its own: isPluginModeChanged() and isLoadingChanged()
/// through automatic connections (direct when emitted on the GUI thread), all others queued. A back
/// end may therefore emit from either thread; the arguments are copied into the queued call.
class OV_INTEGRATIONS_EXPORT PluginData : public QObject
{
    Q_OBJECT
public:
    /// Makes the `QObject` without a parent, as the facade moves the back end to its worker thread.
    /// \thread GUI thread, inside the facade's constructor.
    PluginData();
    /// Does nothing beyond the `QObject` destructor. The facade never destroys its back end, which
    /// lives until the process ends.
    ~PluginData() override;

    /// Sees every event that the application delivers, passed on unchanged by
    /// OvIntegrations::eventFilter() once OvIntegrations::setup() has installed it. The default lets
    /// every event through. The external-editor back end takes file-open events and drops here.
    /// \param watched the object the event is for.
    /// \param event the event.
    /// \return true to consume the event; the default returns false without looking at it.
    /// \thread GUI thread.
    bool eventFilter(QObject *watched, QEvent *event) override;

    /// Loads image \p id and reports it. It sets the loading state and emits isLoadingChanged(true),
    /// may change loadingStatus() on the way, and ends with imageLoaded() followed by
    /// isLoadingChanged(false), or with a new loadingError() (loadingErrorChanged()) followed by
    /// isLoadingChanged(false).
    /// \param id an identifier that the back end announced with imagesAdded().
    /// \param isExportingRaw false when the facade's request was emitted without it.
    /// \thread Worker thread, queued from OvIntegrations::loadImage().
    Q_INVOKABLE virtual void loadImage(const QString &id, bool isExportingRaw) = 0;
    /// Writes a result where the launching program expects it and reports imageSaved() when it is
    /// done. The external-editor back end reports imageSavingProgress() before and imageSavingError()
    /// on failure; the filter-host back end logs a refused save without a signal.
    /// \param image the image as the application passed it, with its crop.
    /// \param inputPath the source of the image.
    /// \param outputPath where the result goes.
    /// \param imageData the image's description.
    /// \param saveOptions options of the application for the writer.
    /// \thread Worker thread, queued from OvIntegrations::saveImage().
    Q_INVOKABLE virtual void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                                       const QString &outputPath, const QVariantMap &imageData,
                                       const QVariantMap &saveOptions) = 0;
    /// The processing settings that belong to image \p id, answered synchronously.
    /// \param id the image.
    /// \return the settings.
    /// \thread GUI thread, called directly by OvIntegrations::loadSettings().
    Q_INVOKABLE virtual QVariantMap loadSettings(const QString &id) = 0;
    /// Stores the processing settings of image \p id before it returns.
    /// \param id the image.
    /// \param settings the settings, in the form that loadSettings() answers with.
    /// \thread The thread that emits OvIntegrations::saveSettings() (a direct connection), the GUI
    ///         thread.
    Q_INVOKABLE virtual void saveSettings(const QString &id, const QVariantMap &settings) = 0;
    /// The key under which instances of the application share one running instance.
    /// \return the key; read by OvIntegrations::mergableInstanceKey.
    /// \thread GUI thread.
    Q_INVOKABLE virtual QString getMergableInstanceKey() const = 0;
    /// The launching program's name, for the user.
    /// \return the name; read by OvIntegrations::pluginDisplayName.
    /// \thread GUI thread.
    Q_INVOKABLE virtual QString getPluginDisplayName() const = 0;
    /// Whether a result may differ in size from its source.
    /// \return the answer; read by OvIntegrations::resizingSupported.
    /// \thread GUI thread.
    Q_INVOKABLE virtual bool isResizingSupported() const = 0;
    /// Whether the run is one without user interaction.
    /// \return the answer; read by OvIntegrations::isSilent.
    /// \thread GUI thread.
    Q_INVOKABLE virtual bool isSilent() const = 0;
    /// Whether the application runs as another program's plug-in.
    /// \return the answer; the default is true. Read by OvIntegrations::isPluginMode.
    /// \thread GUI thread.
    Q_INVOKABLE virtual bool isPluginMode() const;
    /// Whether an image is being loaded.
    /// \return the answer; the default is false. Read by OvIntegrations::loading.
    /// \thread GUI thread.
    Q_INVOKABLE virtual bool isLoading() const;
    /// The message of the last load that failed.
    /// \return the message; the default is empty. Read by OvIntegrations::loadingError.
    /// \thread GUI thread.
    Q_INVOKABLE virtual QString loadingError() const;
    /// A progress text of the load that is running.
    /// \return the text; the default is empty. Read by OvIntegrations::loadingStatus.
    /// \thread GUI thread.
    Q_INVOKABLE virtual QString loadingStatus() const;
    /// Whether instances of this mode hand their files to one running instance.
    /// \return the answer; the default is true.
    /// \thread GUI thread, called by OvIntegrations::canMergeInstance().
    Q_INVOKABLE virtual bool canMergeInstance() const;
    /// What this instance hands to a running instance that takes over its files.
    /// \return the merge data; the default is empty.
    /// \thread GUI thread, called by OvIntegrations::getDataForMerging().
    Q_INVOKABLE virtual QString getDataForMerging();
    /// Takes another instance's merge data (its getDataForMerging()) and announces what it brings
    /// with imagesAdded(), `mergingInstance` true. The default does nothing.
    /// \param data the other instance's merge data.
    /// \thread Worker thread, queued from OvIntegrations::mergeInstance().
    Q_INVOKABLE virtual void mergeInstance(const QString &data);
    /// The pixel size of image \p id, without the crops of OvIntegrations::setCropRect().
    /// \param id the image.
    /// \return the size; empty when it is not known.
    /// \thread GUI thread, called directly by OvIntegrations::imageSize().
    Q_INVOKABLE virtual QSize imageSize(const QString &id) = 0;

    /// Receives the application object and its messaging object from OvIntegrations::setup(), both
    /// unchanged and either possibly null. The default does nothing.
    /// \param app the application.
    /// \param intercom the application's messaging object.
    /// \thread GUI thread.
    virtual void setup(QApplication *app, OvIntercom *intercom);
    /// Begins the exchange: called by OvIntegrations::start() right after the worker thread has been
    /// started. A back end announces its images here (imagesAdded()). The default does nothing.
    /// \thread GUI thread.
    virtual void start();
    /// Ends the exchange: called by OvIntegrations::cleanup(). The default does nothing.
    /// \thread GUI thread.
    virtual void cleanup();

Q_SIGNALS:
    /// The answer of isPluginMode() changed. The external-editor back end emits it from its event
    /// filter when a stand-alone run looked for its editor again.
    /// \param isPluginMode the new answer.
    void isPluginModeChanged(bool isPluginMode);
    /// The answer of isLoading() changed: true when a load begins, false when it has ended.
    /// \param isLoading the new answer.
    void isLoadingChanged(bool isLoading);
    /// Image \p id is ready.
    /// \param id the identifier that loadImage() was given.
    /// \param imageData the image's description: "image" holds the `std::shared_ptr<ImageData>` and
    ///        "rawImage", when present, a second rendition that OvIntegrations::setCropRect() crops
    ///        with it. The other keys are the back end's own and pass through the facade untouched.
    void imageLoaded(QString id, QVariantMap imageData);
    /// New image identifiers are known, for loadImage().
    /// \param ids the identifiers, strings of the back end's choosing.
    /// \param mergingInstance true when they came from another instance through mergeInstance().
    void imagesAdded(QStringList ids, bool mergingInstance);
    /// A save finished.
    /// \param outputPath where the result went.
    void imageSaved(QString outputPath);
    /// Progress of a save.
    /// \param outputPath the path being written.
    /// \param progress the fraction done, from 0 to 1.
    void imageSavingProgress(QString outputPath, float progress);
    /// A save failed.
    /// \param outputPath the path that was to be written.
    /// \param error a message for the user.
    void imageSavingError(QString outputPath, QString error);
    /// A usage event for the application's analytics ("Plugin Host Info", "CLI Plugin Info").
    /// \param identifier the event's name.
    /// \param params the event's values.
    void trackEvent(QString identifier, QVariantMap params);
    /// The answer of loadingError() changed.
    void loadingErrorChanged();
    /// The answer of loadingStatus() changed.
    void loadingStatusChanged();
    /// Files were offered that the application cannot open; emitted just before the imagesAdded()
    /// of the same announcement, or alone when it accepted nothing.
    /// \param invalidFiles the rejected paths.
    void invalidImages(QStringList invalidFiles);
};

#endif // PLUGINDATA_H
