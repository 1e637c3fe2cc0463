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

/// The object the application talks to. It picks the back end once, in the constructor, and keeps
/// it on a worker thread of its own: requests leave as this object's signals, results come back as
/// the back end's signals re-emitted here. The application introspects the meta-object (QML binds
/// by name and index), so the order of signals, invokables and properties is fixed: do not reorder.
///
/// The back end is either the filter-host one (PSFilter: a host editor's filter module started the
/// application and hands the image over through shared memory) or the external-editor one (CLI:
/// every other launch; image files come from the command line, file-open events, URLs, drops and
/// other instances, and results are saved back in place).
///
/// Use: construct the object after the `QApplication`, with the whole command line; call setup(),
/// connect to the signals, call start(), which announces the images (pluginImagesAdded()), and ask
/// for one with loadImage(). Write results with saveImage() and call cleanup() before quitting.
///
/// \par Threads
/// The object lives on the thread that constructs it, the GUI thread, and is used from there. Every
/// signal that relays a back-end result is emitted on the GUI thread: the back end runs on the
/// worker thread, so those arrive as queued calls from the event loop, never from inside the call
/// that caused them (the one exception, isPluginModeChanged(), comes from inside the application's
/// event filter). The requests loadImage(), saveImage() and mergeInstance() are queued to the
/// worker thread and return at once; saveSettings() is a direct connection that runs to its end
/// before the emit returns. The property readers, loadSettings() and imageSize() ask the back end
/// directly on the calling thread; nothing is cached.
class OV_INTEGRATIONS_EXPORT OvIntegrations : public QObject
{
    Q_OBJECT
    /// Whether the application runs as the plug-in of another program. Always true in filter-host
    /// mode; in external-editor mode true while an editor is known (named by `--editor=NAME`, by an
    /// "orvane" editor URL, or found as the launching program; a launch without valid files has
    /// none). Read from the back end at every access.
    /// \thread Read on the GUI thread. Notified by isPluginModeChanged().
    Q_PROPERTY(bool isPluginMode READ isPluginMode NOTIFY isPluginModeChanged)
    /// The mode chosen by the constructor. It never changes afterwards and is never None once the
    /// constructor has returned; pluginTypeChanged() exists for QML and is never emitted.
    Q_PROPERTY(PluginType pluginType READ pluginType NOTIFY pluginTypeChanged)
    /// Whether the back end is loading an image. True from the start of a loadImage() request until
    /// its image or its error has been reported.
    /// \thread Read on the GUI thread. Notified by loadingChanged().
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    /// The message of the last load that failed; empty while none has. Only the external-editor back
    /// end sets it, and a later successful load does not clear it.
    /// \thread Read on the GUI thread. Notified by loadingErrorChanged().
    Q_PROPERTY(QString loadingError READ loadingError NOTIFY loadingErrorChanged)
    /// A progress text of the load that is running, for the user. "Reading metadata", "Decoding
    /// image" and the like; empty when no load runs. Only the external-editor back end sets it.
    /// \thread Read on the GUI thread. Notified by loadingStatusChanged().
    Q_PROPERTY(QString loadingStatus READ loadingStatus NOTIFY loadingStatusChanged)
    /// The key under which instances of the application share one running instance. In filter-host
    /// mode "PhotoShopFilter", or "PhotoShopFilterSilent" for a silent run; in external-editor mode
    /// the editor name (empty in a stand-alone run). Declared constant, so QML reads it once,
    /// although a stand-alone run that later learns its editor (see isPluginModeChanged()) answers
    /// with the new name from then on.
    Q_PROPERTY(QString mergableInstanceKey READ mergableInstanceKey CONSTANT)
    /// The name of the launching program, for the user. The host editor's name in filter-host mode
    /// ("Adobe Photoshop", ...), the editor name in external-editor mode (empty in a stand-alone
    /// run). Declared constant, with the same reservation as mergableInstanceKey.
    Q_PROPERTY(QString pluginDisplayName READ pluginDisplayName CONSTANT)
    /// Whether a result may differ in size from its source. False in filter-host mode, where the
    /// host's planes have a fixed size and saveImage() refuses any other; true in external-editor mode.
    Q_PROPERTY(bool resizingSupported READ resizingSupported CONSTANT)
    /// Whether the filter host asked for a run without user interaction (its run mode 0); always
    /// false in external-editor mode.
    Q_PROPERTY(bool isSilent READ isSilent CONSTANT)
    /// The identifier of the image that the user interface shows. There is no C++ setter: it is
    /// written through the property system (QML, `setProperty()`). Writing another value emits
    /// currentImageChanged(); it does not touch imagedata, which takes the new image's description
    /// when the next pluginImageLoaded() for this identifier arrives.
    /// \thread Read and written on the GUI thread only.
    Q_PROPERTY(QString currentImage MEMBER m_currentImage NOTIFY currentImageChanged)
    /// The description of the current image. It is the map of the last pluginImageLoaded() whose
    /// identifier equalled currentImage when it arrived; empty before that. It holds the image handle
    /// under "image" (`std::shared_ptr<ImageData>`), optionally a second rendition under "rawImage",
    /// and the back end's own keys ("filepath", "thumbnail", "metadata", ...). setCropRect() crops its
    /// images in place.
    /// \thread Read on the GUI thread only. Notified by imagedataChanged().
    Q_PROPERTY(QVariantMap imagedata READ imagedata NOTIFY imagedataChanged)

public:
    /// The mode of a run, fixed by the constructor from the first command-line argument.
    enum PluginType {
        None = -1, ///< Only until the constructor has decided; never seen afterwards.
        PSFilter = 0, ///< Filter-host mode: started by a host editor's filter module, image in shared memory.
        CLI = 1, ///< External-editor mode: every other launch, stand-alone runs included.
    };
    Q_ENUM(PluginType)

    /// Chooses the mode from \p args and creates the matching back end, which is moved to the
    /// worker thread (not started yet) and connected to this object.
    ///
    /// In filter-host mode the constructor opens the filter module's shared memory and does not
    /// return before the module has let go of the lock on its record: it waits for it without any
    /// time limit. A channel that cannot be opened ends the process with exit code -1. In
    /// external-editor mode it sorts the arguments into image files and an editor name, identifies
    /// the launching program and starts the back end's reader thread.
    ///
    /// Requests emitted before start() wait in the worker thread's queue; saveSettings() runs at once.
    /// \param args the application's command line as `QApplication::arguments()` gives it, program
    ///        included. A first element exactly "Orvane_Lumivex_PS_Plugin" selects PSFilter, anything
    ///        else (an empty list too) selects CLI.
    /// \thread GUI thread, after the `QApplication` has been made. Emits nothing.
    explicit OvIntegrations(QStringList args);
    /// Stops the worker thread. It asks the thread's event loop to quit and waits up to 5000 ms, then
    /// terminates it and waits another 5000 ms; each outcome is logged. It neither calls cleanup() nor
    /// destroys the back end, which stays alive until the process ends.
    /// \thread GUI thread.
    ~OvIntegrations() override;

    /// Connects the back end to the application. It hands \p app and \p intercom to the back end,
    /// then installs this object as an event filter on \p app, so that the back end sees the
    /// application's events (file-open events and drops in external-editor mode); until then no
    /// application event reaches the back end. Call it once; it does not depend on start() having
    /// run or not.
    /// \param app the application; with null no event filter is installed.
    /// \param intercom the application's messaging object, passed on unchanged and possibly null. The
    ///        external-editor back end keeps it, the filter-host one ignores it.
    /// \thread GUI thread. Emits nothing.
    void setup(QApplication *app, OvIntercom *intercom);
    /// Ends the exchange with the launching program; the worker thread keeps running. In filter-host
    /// mode it releases the image-plane and mask locks, records that the run ended without an image
    /// unless a saveImage() reached the host, and releases the record's lock last, which lets the
    /// filter module hand the result to the host. Call it once the last save has been reported
    /// (pluginImageSaved()); a second call does nothing. In external-editor mode it does nothing.
    /// \thread GUI thread. Emits nothing.
    void cleanup();

    /// Passes every event that the application delivers to the back end. The back end's
    /// PluginData::eventFilter() decides. Installed by setup(); not meant to be called otherwise.
    /// \param watched the object the event is for, passed on unchanged.
    /// \param event the event, passed on unchanged.
    /// \return true when the back end consumed the event. The external-editor back end consumes
    ///         file-open events and lets drops and everything else through.
    /// \thread GUI thread, while Qt delivers the event.
    /// \emits In external-editor mode a file-open event or a drop can lead to isPluginModeChanged()
    ///        (at once) and to invalidImages(), pluginImagesAdded() and trackEvent() (queued).
    bool eventFilter(QObject *watched, QEvent *event) override;

    /// What this instance hands to a running instance that takes over its files. In external-editor
    /// mode the files not announced yet, joined by `::`; empty in filter-host mode. start() announces
    /// the files of the command line, so a second instance asks before it calls start(). The running
    /// instance passes the text to mergeInstance().
    /// \return the merge data, possibly empty.
    /// \thread GUI thread.
    QString getDataForMerging() const;
    /// Whether instances of this mode hand their files to one running instance. False in filter-host
    /// mode, true in external-editor mode.
    /// \return the back end's answer.
    /// \thread GUI thread.
    bool canMergeInstance() const;

    /// Reader of the isPluginMode property.
    /// \return the back end's answer, asked on the calling thread.
    bool isPluginMode() const;
    /// Reader of the pluginType property.
    /// \return the mode chosen by the constructor.
    PluginType pluginType() const;
    /// Reader of the loading property.
    /// \return the back end's answer, asked on the calling thread.
    bool loading() const;
    /// Reader of the loadingError property.
    /// \return the back end's answer, asked on the calling thread.
    QString loadingError() const;
    /// Reader of the loadingStatus property.
    /// \return the back end's answer, asked on the calling thread.
    QString loadingStatus() const;
    /// Reader of the mergableInstanceKey property.
    /// \return the back end's answer, asked on the calling thread.
    QString mergableInstanceKey() const;
    /// Reader of the pluginDisplayName property.
    /// \return the back end's answer, asked on the calling thread.
    QString pluginDisplayName() const;
    /// Reader of the resizingSupported property.
    /// \return the back end's answer, asked on the calling thread.
    bool resizingSupported() const;
    /// Reader of the isSilent property.
    /// \return the back end's answer, asked on the calling thread.
    bool isSilent() const;
    /// Reader of the imagedata property.
    /// \return the description of the current image, as a reference to the member itself, whose
    ///         content changes with the next imagedataChanged().
    const QVariantMap &imagedata() const;

    /// Starts the exchange with the launching program. It starts the worker thread, with the priority
    /// of the calling thread, then calls the back end's start on the calling thread. Call it once,
    /// after setup() and after connecting to the signals.
    ///
    /// Filter-host mode: waits for the filter module's mask and plane locks (without time limit),
    /// checks the planes against the record, and copies the ICC profile and the filter's settings; a
    /// damaged hand-over ends the process with exit code -1 after the failure has been written into
    /// the record. It announces the host's one image, whose identifier is the host's name followed by
    /// " Image", and sends the usage event "Plugin Host Info".
    ///
    /// External-editor mode: announces the files gathered so far, first the rejected ones and then
    /// the accepted ones, and sends "CLI Plugin Info" when it announced files and an editor is known.
    /// \thread GUI thread.
    /// \emits pluginImagesAdded(), invalidImages() and trackEvent(), all queued: they arrive from the
    ///        event loop after start() has returned.
    Q_INVOKABLE void start();
    /// The processing settings stored for image \p id, from the back end directly. In filter-host mode
    /// they are the filter's settings as the host stored them and start() copied them: "version",
    /// "manual" and the stored texts. The external-editor back end keeps none and answers with the
    /// one entry "version" = 0.
    /// \param id an identifier from pluginImagesAdded(); the filter-host back end has one image and
    ///        does not look at it.
    /// \return the settings.
    /// \thread GUI thread, the thread that also writes them with saveSettings(). In filter-host mode
    ///         call it after start().
    Q_INVOKABLE QVariantMap loadSettings(const QString &id);
    /// The pixel size of image \p id, from the back end directly. In filter-host mode the size of the
    /// host's image; in external-editor mode the size from the header of the file \p id, without
    /// decoding it, upright as the loaded image will be. Crops made with setCropRect() do not count.
    /// \param id an identifier from pluginImagesAdded().
    /// \return the size; an empty size when the file cannot be read.
    /// \thread GUI thread.
    Q_INVOKABLE QSize imageSize(const QString &id);
    /// Crops the images of imagedata. The "image" and, when present, the "rawImage" get the region
    /// \p cropRoi. The `ImageData` objects change in place, so every holder of the same pointer sees
    /// the crop, a later saveImage() of that image included; a new crop replaces the previous one.
    /// \param cropRoi the region relative to the full image, in which (0, 0, 1, 1) is the whole
    ///        image. An empty rectangle selects the whole image again.
    /// \thread GUI thread; not while a save of the same image runs on the worker thread.
    /// \emits imagedataChanged(), in every case, also when there was no image to crop.
    Q_INVOKABLE void setCropRect(QRectF cropRoi);

Q_SIGNALS:
    /// The back end's isPluginMode changed. Emitted in external-editor mode when a file-open event or
    /// an "orvane" editor URL made a stand-alone run look for its editor again, with the answer found
    /// (which may be the same as before).
    /// \param isPluginMode the new value of the isPluginMode property.
    /// \thread GUI thread: the back end emits it from its event filter, and the automatic connection
    ///         relays it at once, before the event filter returns.
    void isPluginModeChanged(bool isPluginMode);
    /// A load started (true) or ended (false). A loadImage() request sets it true when the load
    /// begins, and false after the request's last pluginImageLoaded() or its loadingErrorChanged().
    /// \param loading the new value of the loading property.
    /// \thread GUI thread, queued from the worker thread.
    void loadingChanged(bool loading);
    /// The notify signal of the pluginType property. The type is fixed in the constructor, so this
    /// signal is never emitted.
    /// \param pluginType the mode.
    void pluginTypeChanged(PluginType pluginType);
    /// Image \p id is ready. When \p id equals currentImage, imagedata is replaced by \p imageData
    /// right after this signal, and imagedataChanged() follows; handlers of this signal still see the
    /// previous imagedata. The filter-host back end, asked again for its image, first sends the
    /// description it already has and then a fresh one.
    /// \param id the identifier that loadImage() asked for.
    /// \param imageData the image's description: "image" holds the `std::shared_ptr<ImageData>`, the
    ///        other keys belong to the back end ("filepath", "thumbnail", "metadata", ...).
    /// \thread GUI thread, queued from the worker thread.
    void pluginImageLoaded(const QString &id, const QVariantMap &imageData);
    /// Image identifiers that the back end offers. In filter-host mode one identifier, after start().
    /// In external-editor mode file paths: after start(), after file-open events and drops, and after
    /// mergeInstance().
    /// \param ids the new identifiers, for loadImage().
    /// \param mergingInstance true when the files came from another instance through mergeInstance().
    /// \thread GUI thread, queued.
    void pluginImagesAdded(QStringList ids, bool mergingInstance);
    /// A saveImage() request is done. In filter-host mode the image is in the host's planes; in
    /// external-editor mode the file has been written.
    /// \param outputPath in filter-host mode the request's output path, returned as it was; in
    ///        external-editor mode the path written (for the editor "Apple Photos", the original's
    ///        path with the extension of the format it now holds).
    /// \thread GUI thread, queued from the worker thread.
    void pluginImageSaved(const QString &outputPath);
    /// Progress of a save, in external-editor mode only. It comes before the save's
    /// pluginImageSaved() or pluginImageSavingError().
    /// \param outputPath the path being written.
    /// \param progress the fraction done, from 0 to 1.
    /// \thread GUI thread, queued from the worker thread.
    void pluginImageSavingProgress(const QString &outputPath, float progress);
    /// A save failed, in external-editor mode. The filter-host back end reports a save it refuses
    /// (no image, an empty one, another size than the host's) in its log only, without a signal.
    /// \param outputPath the path that was to be written.
    /// \param error a message for the user.
    /// \thread GUI thread, queued from the worker thread.
    void pluginImageSavingError(const QString &outputPath, const QString &error);
    /// Request: hands another instance's merge data to the back end. The data is the other
    /// instance's getDataForMerging(); the back end takes it on the worker thread. The
    /// external-editor back end accepts the files and announces them with pluginImagesAdded()
    /// (`mergingInstance` true) after invalidImages() for the rejects; the filter-host back end
    /// ignores the request.
    /// \param data the other instance's merge data.
    /// \thread Emitted by the application, normally on the GUI thread; queued, returns at once.
    void mergeInstance(QString data);
    /// Request: asks the back end to load image \p id. The back end reports loadingChanged(true) and,
    /// in external-editor mode, loadingStatusChanged() on the way, and ends with pluginImageLoaded()
    /// followed by loadingChanged(false), or with loadingErrorChanged() followed by
    /// loadingChanged(false). In external-editor mode a newer request supersedes an older one: the
    /// image of an older request that is still being decoded is not delivered.
    /// \param id an identifier from pluginImagesAdded().
    /// \param isExportingRaw passed on to the back end unchanged; the back ends of this library do
    ///        not use it.
    /// \thread Emitted by the application, normally on the GUI thread; queued to the worker thread,
    ///         returns at once.
    void loadImage(const QString &id, bool isExportingRaw = false);
    /// Request: writes a result. The image goes as it is, with the crop it has (see setCropRect()).
    ///
    /// Filter-host mode: the image is copied into the host's planes, with alpha into the mask when
    /// the host gave one; a null or empty image, or one of another size than the host's, is refused
    /// with a log message and no signal. The paths, \p imageData and \p saveOptions are not used,
    /// except that \p outputPath comes back in pluginImageSaved().
    ///
    /// External-editor mode: the image writer writes \p outputPath in the format its extension
    /// names, with \p inputPath's metadata, replacing the file in one step. For the editor
    /// "Apple Photos" the result goes to a temporary JPEG that then replaces \p inputPath.
    /// \param outIm the image to write.
    /// \param inputPath the source file, whose metadata the result receives (external-editor mode).
    /// \param outputPath the file to write (external-editor mode).
    /// \param imageData the image's description, passed on and not looked at.
    /// \param saveOptions writer options (external-editor mode): "quality" for JPEG and WebP, default 95.
    /// \thread Emitted by the application, normally on the GUI thread; queued to the worker thread,
    ///         returns at once. The image is shared, not copied: a crop made before the worker thread
    ///         reaches the request still applies to it.
    /// \emits Later, in external-editor mode: pluginImageSavingProgress() any number of times, then
    ///        pluginImageSaved() or pluginImageSavingError(); in filter-host mode pluginImageSaved()
    ///        when the host's planes took the image.
    void saveImage(const std::shared_ptr<ImageData> &outIm, const QString &inputPath, const QString &outputPath,
                   const QVariantMap &imageData, const QVariantMap &saveOptions);
    /// Request: stores the processing settings of image \p id. Through a direct connection, the back
    /// end has stored \p settings before the emit returns, so they are in place before any request
    /// emitted afterwards. In filter-host
    /// mode they go into the host's record as compact JSON (a text too long for its field is stored
    /// as an empty object or list), for the host to keep after cleanup(); the external-editor back end
    /// ignores them.
    /// \param id the image the settings belong to; the filter-host back end does not look at it.
    /// \param settings the settings, in the form that loadSettings() answers with.
    /// \thread Runs on the emitting thread: emit it on the GUI thread, where loadSettings() reads the
    ///         same settings.
    void saveSettings(const QString &id, const QVariantMap &settings);
    /// A usage event for the application's analytics, relayed from the back end. "Plugin Host Info"
    /// ("signature", "version", "processName") once after start() in filter-host mode;
    /// "CLI Plugin Info" ("processName", "externalEditor", "fileCount", "os") at most once, when files
    /// are first announced while an editor is known.
    /// \param identifier the event's name.
    /// \param params the event's values.
    /// \thread GUI thread, queued.
    void trackEvent(const QString &identifier, const QVariantMap &params);
    /// The loadingError property has a new value: a load failed (external-editor mode).
    /// \thread GUI thread, queued from the worker thread.
    void loadingErrorChanged();
    /// The loadingStatus property changed (external-editor mode).
    /// \thread GUI thread, queued.
    void loadingStatusChanged();
    /// Files offered that the application does not open (external-editor mode). These are paths whose
    /// extension is not a supported image format. They come just before the pluginImagesAdded() of
    /// the same announcement, or alone when it accepted nothing.
    /// \param invalidFiles the rejected paths.
    /// \thread GUI thread, queued.
    void invalidImages(QStringList invalidFiles);
    /// The currentImage property was written with a different value. Writing the same value emits
    /// nothing.
    /// \thread The thread that wrote the property, the GUI thread.
    void currentImageChanged();
    /// The imagedata property changed. It was replaced (a pluginImageLoaded() for currentImage) or its
    /// images were cropped (setCropRect()).
    /// \thread GUI thread.
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
