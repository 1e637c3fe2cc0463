#include "PSFuzzSession.h"

#include "FuzzSupport.h"

#include "psplugin/PSPluginData.h"

#include <cstring>

PSFuzzSession &PSFuzzSession::instance()
{
    static PSFuzzSession *session = new PSFuzzSession;
    return *session;
}

PSFuzzSession::PSFuzzSession()
{
    HostImage image;
    image.width = ImageWidth;
    image.height = ImageHeight;
    for (int k = 0; k < 3; ++k) {
        image.planes[k] = cv::Mat(ImageHeight, ImageWidth, CV_16UC1);
        for (int y = 0; y < ImageHeight; ++y)
            for (int x = 0; x < ImageWidth; ++x)
                image.planes[k].at<uint16_t>(y, x) = uint16_t((x * 601 + y * 73 + k * 4099) % 32768);
    }
    FilterHostSession::removeStaleChannels();
    QString error;
    if (!session.create(image, HostSetup(), &error))
        FuzzSupport::fail("cannot create the filter-host channels", error);
    session.releaseLocks();
    plugin = new PSPluginData();
    plugin->start();
}

IPCParams *PSFuzzSession::record() const
{
    return session.record();
}

void PSFuzzSession::renewIcc(const QByteArray &payload)
{
    icc.reset();
    HostChannel::removeNamed(FilterHostSession::IccName);
    icc = std::make_unique<HostChannel>(FilterHostSession::IccName);
    QString error;
    if (!icc->create(uint64_t(payload.size()), &error))
        FuzzSupport::fail("cannot create the ICC channel", error);
    if (!payload.isEmpty())
        std::memcpy(icc->data(), payload.constData(), size_t(payload.size()));
}
