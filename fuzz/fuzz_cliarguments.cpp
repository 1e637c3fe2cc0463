// The argument walk of the external-editor back end: any list of arguments, "--editor" forms
// with and without quotes, relative and absolute paths of existing and missing files. Accepted
// files are existing ones, once each; the merging data names exactly them; start() announces them.

#include "CliFuzzSupport.h"
#include "FuzzSupport.h"

#include "cliplugin/CLIPluginData.h"

#include <QStringList>

#include <fuzzer/FuzzedDataProvider.h>

using FuzzSupport::check;

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    FuzzSupport::makeFixtureFolder();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    QStringList arguments;
    const int count = in.ConsumeIntegralInRange(0, 12);
    for (int i = 0; i < count && in.remaining_bytes() > 0; ++i)
        arguments.append(FuzzSupport::consumeText(in, 48));

    CLIPluginData backEnd(arguments);
    const QString pending = backEnd.getDataForMerging();
    const QStringList pendingFiles = pending.isEmpty() ? QStringList() : pending.split(QStringLiteral("::"));
    checkAnnouncedFiles(pendingFiles);
    check(!(backEnd.isPluginMode() && pendingFiles.isEmpty()), "external-editor mode without files");
    check(backEnd.getMergableInstanceKey() == backEnd.getPluginDisplayName(),
          "merge key differs from the display name");

    AnnouncementLog log(&backEnd);
    backEnd.start();
    check(log.added == pendingFiles, "start() announced other files than the merging data",
          log.added.join(QLatin1Char('|')));
    check(log.addedSignals <= 1 && !log.lastMerging, "start() announced as merged or more than once");
    check(backEnd.getDataForMerging().isEmpty(), "files still pending after start()");
    return 0;
}
