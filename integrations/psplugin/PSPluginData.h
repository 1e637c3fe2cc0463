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

template<typename Payload>
class SharedMemoryChannel;
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
    static void describeImage(QVariantMap &cachedImageData, const IPCParams *record, const QByteArray &iccProfile,
                              const QString &hostDisplayName, const cv::Mat &converted);
    static void writeThumbnail(const cv::Mat &converted, const QString &path);
    bool fitsTheHost(const std::shared_ptr<ImageData> &image) const;
    bool writeFullMatrix(const cv::Mat &current, const cv::Mat &source);
    bool fullMatrixFits(const cv::Mat &source) const;
    void reportChannelMismatch(int channels) const;

    IPCParams *m_record = nullptr;
    // Zeroed until start() copies the host's: settings asked for before then read as empty.
    IPCSettings m_settingsCopy{};
    uint16_t *m_planeData[3] = {nullptr, nullptr, nullptr};
    uint16_t *m_maskData = nullptr;
    QByteArray m_iccProfile;
    // The channels stay mapped until the process ends: closing one would remove the filter
    // module's named objects, so they are deliberately never deleted.
    SharedMemoryChannel<IPCParams> *m_paramChannel = nullptr;
    SharedMemoryChannel<uint16_t> *m_planeChannels[3] = {nullptr, nullptr, nullptr};
    SharedMemoryChannel<uint16_t> *m_maskChannel = nullptr;
    QVariantMap m_cachedImageData;
    // Written on the worker thread, read on the GUI thread.
    std::atomic<bool> m_imageWasSaved{false};
    std::atomic<bool> m_loading{false};
    QString m_hostVersion;
    QString m_hostSignature;
    QString m_hostProcessName;
    QString m_hostDisplayName;
    // A second cleanup() must not release a lock that the filter module has taken back since.
    bool m_finished = false;
};

#endif // PSPLUGINDATA_H
