#ifndef CLIPLUGINDATA_H
#define CLIPLUGINDATA_H

#include "CLISharedState.h"
#include "FileIntake.h"
#include "ImageLoadChain.h"
#include "PluginData.h"
#include "SaveBack.h"
#include "imaging/ImageData.h"
#include "imaging/OvImageUtils.h"

#include <QSize>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>
#include <string>

class QApplication;
class QDropEvent;
class QEvent;
class QFileOpenEvent;
class OvIntercom;

// The back end of every launch that is not a filter-host run: the application works as the
// external editor of the program that started it (or stand-alone when there is none).
//
// Threads: constructed on the GUI thread, then moved to the facade's worker thread. The GUI thread
// (start, event filter, queries) and the worker thread (loading, saving, merging) share the file
// lists, the editor names and the loading state: all of that is m_shared's, and nothing else is
// touched from both. Signals are never emitted under its lock.
class CLIPluginData : public PluginData
{
    Q_OBJECT
public:
    explicit CLIPluginData(const QStringList &args);
    ~CLIPluginData() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

    void loadImage(const QString &id, bool isExportingRaw) override;
    void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
                   const QVariantMap &imageData, const QVariantMap &saveOptions) override;
    QVariantMap loadSettings(const QString &id) override;
    void saveSettings(const QString &id, const QVariantMap &settings) override;
    QString getMergableInstanceKey() const override;
    QString getPluginDisplayName() const override;
    bool isResizingSupported() const override;
    bool isSilent() const override;
    bool isPluginMode() const override;
    bool isLoading() const override;
    QString loadingError() const override;
    QString loadingStatus() const override;
    QString getDataForMerging() override;
    void mergeInstance(const QString &data) override;
    QSize imageSize(const QString &id) override;

    void setup(QApplication *app, OvIntercom *intercom) override;
    void start() override;

    // The list of launchers that merely open files and are no editors, matched on the whole
    // executable name ignoring case.
    static const QStringList &knownNonEditors();

Q_SIGNALS:
    // Carries a load request over to the reader thread.
    void startLoadImage(QString filePath, QVariantMap metadata, QVariantMap options);

private:
    // Tests reach the reader thread through it.
    friend struct CLIPluginDataProbe;

    void logLaunchMode();
    void detectExternalEditor();
    bool readParentExecutable(std::string &path) const;
    static std::optional<QString> editorFor(const QString &processName, const std::string &executable);
    static QString describedEditor(const std::string &executable, const QString &fallback);
    void announceFiles(bool mergingInstance);
    void sendInfoEvent();

    bool handleFileOpen(const QFileOpenEvent &event);
    bool handleDrop(const QDropEvent &event);
    void redetectAndNotify();

    CLISharedState m_shared;
    // In this order the imaging objects are made: the reader and its thread, the writer, the
    // utilities, then the supported formats. m_saveBack only keeps m_imageUtils for later.
    ImageLoadChain m_loadChain;
    SaveBack m_saveBack;
    OvImageUtils m_imageUtils;
    FileIntake m_intake;
    quint64 m_parentPid = 0;
    OvIntercom *m_intercom = nullptr;
};

#endif // CLIPLUGINDATA_H
