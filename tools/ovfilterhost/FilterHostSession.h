#ifndef FILTERHOSTSESSION_H
#define FILTERHOSTSESSION_H

#include "HostChannel.h"
#include "HostImage.h"
#include "IPCParams.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>

// What the filter module tells the application about the host and the run.
struct HostSetup
{
    QString signature = QStringLiteral("8BIM"); // reading order
    QString processName = QStringLiteral("Photoshop.exe");
    int32_t versionMajor = 24;
    int32_t versionMinor = 1;
    int32_t versionPatch = 0;
    uint8_t runMode = 1;
    uint32_t rowPadding = 0; // bytes behind each row's samples
    QByteArray icc;
    QJsonObject settings; // keys of the settings map; texts, or objects/arrays as compact JSON
};

// The six channels of one filter run, created and filled the way the host's filter module does.
class FilterHostSession
{
public:
    // `status` before the application has touched the record.
    static constexpr uint8_t UntouchedStatus = 0xFF;

    static const char *const ParamName;
    static const char *const PlaneNames[3];
    static const char *const MaskName;
    static const char *const IccName;

    FilterHostSession();
    ~FilterHostSession();

    // Removes channels of an earlier run that ended without cleaning up; returns their names.
    static QStringList removeStaleChannels();

    // Creates every channel, takes the param, plane and mask locks and fills them while holding
    // them. The caller releases the locks once the application has been started.
    bool create(const HostImage &image, const HostSetup &setup, QString *error);
    void releaseLocks();
    void removeAll();

    IPCParams *record() const;
    HostChannel &param() { return *m_paramChannel; }
    HostChannel &plane(int k) { return *m_planeChannels[k]; }
    HostChannel *mask() { return m_maskChannel.get(); }
    HostChannel &icc() { return *m_iccChannel; }

    HostImage readImage() const;
    QJsonObject readSettings() const;
    QString hostErrorMessage() const;

    static bool writeSettings(IPCSettings *settings, const QJsonObject &json, QString *error);
    // Fills every text field of the settings block with `byte` from its first byte to its last,
    // so that none of them holds a NUL.
    static void fillTextFields(IPCSettings *settings, char byte);

private:
    void fillRecord(const HostImage &image, const HostSetup &setup);
    void writePlane(HostChannel &channel, const cv::Mat &plane);
    cv::Mat readPlane(const HostChannel &channel) const;

    std::unique_ptr<HostChannel> m_paramChannel;
    std::unique_ptr<HostChannel> m_planeChannels[3];
    std::unique_ptr<HostChannel> m_maskChannel;
    std::unique_ptr<HostChannel> m_iccChannel;
    bool m_gray = false;
};

#endif // FILTERHOSTSESSION_H
