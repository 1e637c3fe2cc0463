// The IPC record as a filter module may fill it: host identity, geometry within what the
// planes hold, an ICC profile and a settings block with or without terminating NULs. The back
// end reads it through start(), loadSettings() and loadImage(); the host table names the host.

#include "FuzzSupport.h"
#include "PSFuzzSession.h"

#include "psplugin/IPCParams.h"
#include "psplugin/PSHostTable.h"
#include "psplugin/PSPluginData.h"

#include <QSize>
#include <QStringList>
#include <QVariantMap>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <string>

using FuzzSupport::check;

namespace {

// Bytes of the input into a text field; a field may be filled to its end without a NUL.
void fillField(FuzzedDataProvider &in, char *field, std::size_t fieldSize, std::size_t maxInput)
{
    const std::string bytes = in.ConsumeRandomLengthString(std::min(fieldSize, maxInput));
    const bool fillWhole = in.ConsumeBool();
    if (fillWhole && !bytes.empty()) {
        for (std::size_t i = 0; i < fieldSize; i += bytes.size())
            std::memcpy(field + i, bytes.data(), std::min(bytes.size(), fieldSize - i));
    } else {
        std::memcpy(field, bytes.data(), bytes.size());
        field[bytes.size() < fieldSize ? bytes.size() : fieldSize - 1] = '\0';
    }
}

QString expectedText(const char *field, std::size_t fieldSize)
{
    return QString::fromUtf8(field, qsizetype(strnlen(field, fieldSize)));
}

// Maps any three words onto a geometry that the planes of the session can hold. Geometries the
// back end refuses end the process by design, so they are left to the regular tests. Strips
// taller than eight times their width are left to them too: their thumbnails run to megapixels
// and would slow every input down a hundredfold.
void setGeometry(IPCParams *record, uint32_t w, uint32_t h, uint32_t pad, uint64_t planeBytes)
{
    record->width = 1 + w % PSFuzzSession::ImageWidth;
    record->rowBytes = record->width * 2 + 2 * (pad % 32);
    const uint64_t rows = std::min<uint64_t>(planeBytes / record->rowBytes, 8 * record->width);
    record->height = uint32_t(1 + h % rows);
}

const QStringList &knownHostNames()
{
    static const QStringList names = {
        "Adobe Photoshop Elements", "Adobe Photoshop", "Corel Painter", "Corel PHOTO-PAINT", "CorelDRAW",
        "PhotoLine", "Luminar Flex", "Luminar", "Host Editor", "ACDSee Ultimate", "ACDSee Professional",
        "ACDSee Gemstone", "XnView MP", "Corel PaintShop Pro", "Affinity Photo 2", "Affinity Photo",
        "ON1 Photo RAW", "GIMP", "Paint.NET", "Aurora HDR", "Orvane Studio"};
    return names;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    PSFuzzSession::instance();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    PSFuzzSession &session = PSFuzzSession::instance();
    IPCParams *record = session.record();
    IPCSettings &settings = record->settings;
    FuzzedDataProvider in(data, size);

    record->runMode = in.ConsumeIntegral<uint8_t>();
    const std::string signature = in.ConsumeBytesAsString(4);
    std::memset(record->hostSignature, 0, 4);
    std::memcpy(record->hostSignature, signature.data(), signature.size());
    fillField(in, record->hostProcessName, sizeof(record->hostProcessName), sizeof(record->hostProcessName));
    record->hostVersionMajor = in.ConsumeIntegral<int32_t>();
    record->hostVersionMinor = in.ConsumeIntegral<int32_t>();
    record->hostVersionPatch = in.ConsumeIntegral<int32_t>();
    const uint32_t w = in.ConsumeIntegral<uint32_t>();
    const uint32_t h = in.ConsumeIntegral<uint32_t>();
    setGeometry(record, w, h, in.ConsumeIntegral<uint32_t>(), session.planeBytes());
    record->grayscale = in.ConsumeIntegral<uint32_t>();
    record->unused = in.ConsumeIntegral<uint32_t>();
    record->hasMask = 0;

    const QByteArray icc = QByteArray::fromStdString(in.ConsumeRandomLengthString(4096));
    record->iccProfileSize = int32_t(in.ConsumeIntegralInRange<qsizetype>(0, icc.size()));
    session.renewIcc(icc);

    settings.settingsVersion = in.ConsumeIntegral<int32_t>();
    char *const textFields[5] = {settings.denoiseSettings, settings.sharpenSettings, settings.enhanceSettings,
                                 settings.faceRecoverySettings, settings.subjectSettings};
    for (char *field : textFields)
        fillField(in, field, sizeof(settings.denoiseSettings), sizeof(settings.denoiseSettings));
    fillField(in, settings.maskStrokes, sizeof(settings.maskStrokes), 1 << 16);

    // Host identity as the back end derives it at construction.
    const QString hostSignature = PSHostTable::signatureFromRecord(record->hostSignature);
    const QString processName = expectedText(record->hostProcessName, sizeof(record->hostProcessName));
    const QString displayName = PSHostTable::displayName(hostSignature, processName);
    check(knownHostNames().contains(displayName), "display name outside the host table", displayName);

    PSPluginData &backEnd = session.backEnd();
    backEnd.start();

    check(backEnd.isSilent() == (record->runMode == 0), "isSilent does not follow runMode");
    check(backEnd.imageSize(QString()) == QSize(int(record->width), int(record->height)), "imageSize differs from the record");

    const QVariantMap loaded = backEnd.loadSettings(QStringLiteral("id"));
    check(loaded.value(QStringLiteral("version")).toInt() == settings.settingsVersion, "version differs");
    check(loaded.value(QStringLiteral("manual")).toBool() == (record->runMode != 1), "manual differs");
    const char *const keys[5] = {"Denoise", "Sharpen", "Enhance", "Face Recovery", "subjectSettings"};
    for (int i = 0; i < 5; ++i)
        check(loaded.value(QLatin1String(keys[i])).toString() == expectedText(textFields[i], sizeof(settings.denoiseSettings)),
              "text field read differently", QLatin1String(keys[i]));
    check(loaded.value(QStringLiteral("maskStrokes")).toString() == expectedText(settings.maskStrokes, sizeof(settings.maskStrokes)),
          "maskStrokes read differently");

    backEnd.loadImage(displayName + QStringLiteral(" Image"), false);
    check(!backEnd.isLoading(), "still loading after loadImage returned");
    return 0;
}
