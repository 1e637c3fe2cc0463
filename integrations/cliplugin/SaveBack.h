#ifndef SAVEBACK_H
#define SAVEBACK_H

#include "imaging/ImageData.h"

#include <QString>
#include <QVariantMap>

#include <memory>

class CLIPluginData;
class CLISharedState;
class OvImageUtils;
class OvImageWriter;

// The external-editor back end's saving of results where the launching program expects them.
// The writer writes straight to the requested path, except for the forced editor "Apple Photos",
// whose result goes to a temporary JPEG that then replaces the original.
class SaveBack
{
public:
    SaveBack(CLIPluginData &backEnd, const CLISharedState &shared, OvImageUtils &imageUtils);
    ~SaveBack();

    SaveBack(const SaveBack &) = delete;
    SaveBack &operator=(const SaveBack &) = delete;

    // Relays the writer's progress and errors as the back end's and takes its completions.
    void connectWriter();

    void save(const std::shared_ptr<ImageData> &image, const QString &inputPath, const QString &outputPath,
              const QVariantMap &imageData, const QVariantMap &saveOptions);

private:
    bool isApplePhotos() const;
    void onImageSaved(const QString &outputPath);
    void replaceOriginal(const QString &temporaryPath);
    QString reportedPath() const;

    CLIPluginData &m_backEnd;
    const CLISharedState &m_shared;
    OvImageUtils &m_imageUtils;
    std::unique_ptr<OvImageWriter> m_writer;
    // Of the latest request: the route relies on the writer reporting each save before the
    // worker thread takes the next request.
    QString m_saveInputPath;
};

#endif // SAVEBACK_H
