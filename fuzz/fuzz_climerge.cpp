// Merge data: what getDataForMerging gives for any launch arguments, handed to a running
// instance, announces the same files there as merged; raw merge strings with doubled, leading
// and trailing separators, missing, repeated and unsupported paths only ever announce existing files.

#include "CliFuzzSupport.h"
#include "FuzzSupport.h"

#include "cliplugin/CLIPluginData.h"

#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

using FuzzSupport::check;

namespace {

CLIPluginData *runningInstance = nullptr;
AnnouncementLog *runningLog = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    FuzzSupport::makeFixtureFolder();
    runningInstance = new CLIPluginData(QStringList{QStringLiteral("lumivex")});
    runningInstance->start();
    runningLog = new AnnouncementLog(runningInstance);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    if (in.ConsumeBool()) {
        QStringList arguments{QStringLiteral("lumivex")};
        const int count = in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < count && in.remaining_bytes() > 0; ++i)
            arguments.append(FuzzSupport::consumeText(in, 48));
        CLIPluginData newInstance(arguments);
        const QString mergeData = newInstance.getDataForMerging();
        runningLog->clear();
        runningInstance->mergeInstance(mergeData);
        const QStringList expected = mergeData.isEmpty() ? QStringList() : mergeData.split(QStringLiteral("::"));
        check(runningLog->added == expected, "merged files differ from the new instance's files", mergeData);
        check(runningLog->invalid.isEmpty(), "a file of the new instance rejected by the running one",
              runningLog->invalid.join(QLatin1Char('|')));
        check(expected.isEmpty() || runningLog->lastMerging, "merged files not announced as merged");
    } else {
        const QString mergeData = FuzzSupport::consumeText(in, 512);
        runningLog->clear();
        runningInstance->mergeInstance(mergeData);
        checkAnnouncedFiles(runningLog->added);
        check(runningLog->addedSignals <= 1, "one merge announced more than once");
        check(runningLog->added.isEmpty() || runningLog->lastMerging, "merged files not announced as merged");
    }
    check(runningInstance->getDataForMerging().isEmpty(), "merged files still pending in a started instance");
    return 0;
}
