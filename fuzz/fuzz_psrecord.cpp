// The IPC record as a filter module may fill it: host identity, any geometry against planes of
// any size, and a settings block with or without terminating NULs. Each input goes through what
// the back end does with a record: the host table names the host, the geometry check decides
// whether the planes hold the image, and only then are samples read (and written back) through
// planes allocated at exactly the claimed sizes, so that a check that lets too much through
// shows up as an out-of-bounds access. The record is one buffer reused for every input.

#include "FuzzSupport.h"

#include "psplugin/IPCParams.h"
#include "psplugin/PSHostTable.h"
#include "psplugin/PSPlaneTransfer.h"
#include "psplugin/PSRecordCheck.h"
#include "psplugin/PSSettingsExchange.h"

#include <QStringList>
#include <QVariantMap>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

using FuzzSupport::check;

namespace {

constexpr uint64_t MaxPlaneBytes = 1 << 16;

// Bytes of the input into a text field; a field may be filled to its end without a NUL. The
// strokes field is megabytes long and read the same way as the others: it only ever gets a
// short text, since one input filling it would cost as much as thousands of others.
void fillField(FuzzedDataProvider &in, char *field, std::size_t fieldSize, bool mayFillWhole)
{
    const std::string bytes = in.ConsumeRandomLengthString(std::min<std::size_t>(fieldSize - 1, 4096));
    if (mayFillWhole && in.ConsumeBool() && !bytes.empty()) {
        for (std::size_t i = 0; i < fieldSize; i += bytes.size())
            std::memcpy(field + i, bytes.data(), std::min(bytes.size(), fieldSize - i));
    } else {
        std::memcpy(field, bytes.data(), bytes.size());
        field[bytes.size()] = '\0';
    }
}

QString expectedText(const char *field, std::size_t fieldSize)
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, fieldSize)));
}

// Either any three words, or a small image whose stride is its row plus some padding; the
// second kind fits its planes often enough for the samples to be read.
void consumeGeometry(FuzzedDataProvider &in, IPCParams &record)
{
    if (in.ConsumeBool()) {
        record.width = in.ConsumeIntegral<uint32_t>();
        record.height = in.ConsumeIntegral<uint32_t>();
        record.rowBytes = in.ConsumeIntegral<uint32_t>();
    } else {
        record.width = in.ConsumeIntegralInRange<uint32_t>(0, 200);
        record.height = in.ConsumeIntegralInRange<uint32_t>(0, 200);
        record.rowBytes = record.width * 2 + in.ConsumeIntegralInRange<uint32_t>(0, 70);
    }
}

// A plane's size: what the geometry needs, give or take a few bytes, within a small bound.
uint64_t consumePlaneBytes(FuzzedDataProvider &in, const IPCParams &record)
{
    const uint64_t needed = std::min<uint64_t>(uint64_t(record.height) * record.rowBytes, MaxPlaneBytes);
    const int slack = in.ConsumeIntegralInRange<int>(-64, 64);
    return slack < 0 && uint64_t(-slack) > needed ? 0 : needed + slack;
}

const QStringList &knownHostNames()
{
    static const QStringList names = {"Adobe Photoshop Elements",
                                      "Adobe Photoshop",
                                      "Corel Painter",
                                      "Corel PHOTO-PAINT",
                                      "CorelDRAW",
                                      "PhotoLine",
                                      "Luminar Flex",
                                      "Luminar",
                                      "Host Editor",
                                      "ACDSee Ultimate",
                                      "ACDSee Professional",
                                      "ACDSee Gemstone",
                                      "XnView MP",
                                      "Corel PaintShop Pro",
                                      "Affinity Photo 2",
                                      "Affinity Photo",
                                      "ON1 Photo RAW",
                                      "GIMP",
                                      "Paint.NET",
                                      "Aurora HDR",
                                      "Orvane Studio"};
    return names;
}

void transferSamples(const IPCParams &record, const uint64_t planeBytes[3], const uint64_t *maskBytes)
{
    std::unique_ptr<unsigned char[]> planes[3];
    for (int k = 0; k < 3; ++k) {
        planes[k].reset(new unsigned char[planeBytes[k]]);
        std::memset(planes[k].get(), 0x5a + k, planeBytes[k]);
    }
    std::unique_ptr<unsigned char[]> mask(maskBytes ? new unsigned char[*maskBytes] : nullptr);
    if (mask)
        std::memset(mask.get(), 0x7f, *maskBytes);

    PlaneView view;
    view.width = record.width;
    view.height = record.height;
    view.rowBytes = record.rowBytes;
    for (int k = 0; k < 3; ++k)
        view.planes[k] = reinterpret_cast<uint16_t *>(planes[record.grayscale != 0 ? 0 : k].get());
    view.mask = reinterpret_cast<uint16_t *>(mask.get());

    const cv::Mat loaded = PSPlaneTransfer::load(view, nullptr);
    check(loaded.cols == int(record.width) && loaded.rows == int(record.height) && loaded.channels() == 4,
          "loaded image has another shape than the record");
    PSPlaneTransfer::save(loaded, mask ? 4 : 3, view, mask != nullptr, nullptr);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static IPCParams *const record = new IPCParams();
    IPCSettings &settings = record->settings;
    FuzzedDataProvider in(data, size);

    record->runMode = in.ConsumeIntegral<uint8_t>();
    const std::string signature = in.ConsumeBytesAsString(4);
    std::memset(record->hostSignature, 0, 4);
    std::memcpy(record->hostSignature, signature.data(), signature.size());
    fillField(in, record->hostProcessName, sizeof(record->hostProcessName), true);
    record->hostVersionMajor = in.ConsumeIntegral<int32_t>();
    record->hostVersionMinor = in.ConsumeIntegral<int32_t>();
    record->hostVersionPatch = in.ConsumeIntegral<int32_t>();
    consumeGeometry(in, *record);
    record->grayscale = in.ConsumeIntegral<uint32_t>();
    record->hasMask = in.ConsumeBool() ? 1 : 0;
    uint64_t planeBytes[3];
    for (uint64_t &bytes : planeBytes)
        bytes = consumePlaneBytes(in, *record);
    const uint64_t maskBytes = consumePlaneBytes(in, *record);

    settings.settingsVersion = in.ConsumeIntegral<int32_t>();
    char *const textFields[5] = {settings.denoiseSettings, settings.sharpenSettings, settings.enhanceSettings,
                                 settings.faceRecoverySettings, settings.subjectSettings};
    for (char *field : textFields)
        fillField(in, field, sizeof(settings.denoiseSettings), true);
    fillField(in, settings.maskStrokes, sizeof(settings.maskStrokes), false);

    const QString hostSignature = PSHostTable::signatureFromRecord(record->hostSignature);
    const QString processName = expectedText(record->hostProcessName, sizeof(record->hostProcessName));
    const QString displayName = PSHostTable::displayName(hostSignature, processName);
    check(knownHostNames().contains(displayName), "display name outside the host table", displayName);

    const uint64_t *mask = record->hasMask != 0 ? &maskBytes : nullptr;
    if (PSRecordCheck::planesFit(*record, planeBytes, mask))
        transferSamples(*record, planeBytes, mask);

    const QVariantMap loaded = PSSettingsExchange::read(settings, record->runMode);
    check(loaded.value(QStringLiteral("version")).toInt() == settings.settingsVersion, "version differs");
    check(loaded.value(QStringLiteral("manual")).toBool() == (record->runMode != 1), "manual differs");
    const char *const keys[5] = {"Denoise", "Sharpen", "Enhance", "Face Recovery", "subjectSettings"};
    for (int i = 0; i < 5; ++i)
        check(loaded.value(QLatin1String(keys[i])).toString()
                  == expectedText(textFields[i], sizeof(settings.denoiseSettings)),
              "text field read differently", QLatin1String(keys[i]));
    check(loaded.value(QStringLiteral("maskStrokes")).toString()
              == expectedText(settings.maskStrokes, sizeof(settings.maskStrokes)),
          "maskStrokes read differently");
    return 0;
}
