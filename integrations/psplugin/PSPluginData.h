#ifndef PSPLUGINDATA_H
#define PSPLUGINDATA_H

#include "PluginData.h"
#include "psplugin/IPCParams.h"
#include "psplugin/IPCSettings.h"

#include <QByteArray>
#include <QSize>
#include <QString>
#include <QVariantList>
#include <QVariantMap>

#include <opencv2/core/mat.hpp>

#include <atomic>
#include <cstdint>
#include <memory>

template <typename Payload> class SharedMemoryChannel;
struct PlaneView;

// Back end of a run started by a Photoshop-compatible host's filter module. The image, the
// host's identity and the filter settings arrive through named shared memory that the filter
// module created; this object holds the module's locks from construction until cleanup().
class PSPluginData : public PluginData
{
    Q_OBJECT
public:
    PSPluginData();
    ~PSPluginData() override;

    Q_INVOKABLE void loadImage(const QString &id, bool isExportingRaw) override;
    Q_INVOKABLE void saveImage(const std::shared_ptr<ImageData> &image, const QString &inputPath,
                               const QString &outputPath, const QVariantMap &imageData,
                               const QVariantMap &saveOptions) override;
    Q_INVOKABLE QVariantMap loadSettings(const QString &id) override;
    Q_INVOKABLE void saveSettings(const QString &id, const QVariantMap &settings) override;
    Q_INVOKABLE QString getMergableInstanceKey() const override;
    Q_INVOKABLE QString getPluginDisplayName() const override;
    Q_INVOKABLE bool isResizingSupported() const override;
    Q_INVOKABLE bool isSilent() const override;
    Q_INVOKABLE bool isLoading() const override;
    Q_INVOKABLE bool canMergeInstance() const override;
    Q_INVOKABLE QSize imageSize(const QString &id) override;

    void start() override;
    void cleanup() override;

private:
    [[noreturn]] void reportFailure(const char *message);
    void checkPlaneGeometry();
    void checkIccGeometry(uint64_t iccMappedSize);
    void identifyHost();

    PlaneView planeView(bool grayFromPlane0) const;
    void writeThumbnail(const cv::Mat &converted, const QString &path);
    bool fitsTheHost(const std::shared_ptr<ImageData> &image) const;
    bool writeFullMatrix(const cv::Mat &current, const cv::Mat &source);
    bool fullMatrixFits(const cv::Mat &source) const;
    void reportChannelMismatch(int channels) const;

    IPCParams *record = nullptr;
    IPCSettings settingsCopy;
    uint16_t *planeData[3] = {nullptr, nullptr, nullptr};
    uint16_t *maskData = nullptr;
    QByteArray iccProfile;
    // The channels stay mapped until the process ends: closing one would remove the filter
    // module's named objects, so they are deliberately never deleted.
    SharedMemoryChannel<IPCParams> *paramChannel = nullptr;
    SharedMemoryChannel<uint16_t> *planeChannels[3] = {nullptr, nullptr, nullptr};
    SharedMemoryChannel<uint16_t> *maskChannel = nullptr;
    QVariantMap cachedImageData;
    // Written on the worker thread, read on the GUI thread.
    std::atomic<bool> imageWasSaved{false};
    std::atomic<bool> loading{false};
    QString hostVersion;
    QString hostSignature;
    QString hostProcessName;
    QString hostDisplayName;
    // A second cleanup() must not release a lock that the filter module has taken back since.
    bool finished = false;
};

#endif // PSPLUGINDATA_H
