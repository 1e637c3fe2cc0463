// File-open events with arbitrary URLs and file texts, the "orvane" editor URL among them, as
// the running application receives them. Every such event is consumed, only existing files are
// announced, and nothing stays pending once the back end has started.

#include "CliFuzzSupport.h"
#include "FuzzSupport.h"

#include "cliplugin/CLIPluginData.h"

#include <QFileOpenEvent>
#include <QUrl>

#include <fuzzer/FuzzedDataProvider.h>

using FuzzSupport::check;

namespace {

CLIPluginData *backEnd = nullptr;
AnnouncementLog *announced = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    FuzzSupport::initialize(argc, argv);
    FuzzSupport::makeFixtureFolder();
    backEnd = new CLIPluginData(QStringList{QStringLiteral("lumivex")});
    backEnd->start();
    announced = new AnnouncementLog(backEnd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const int form = in.ConsumeIntegralInRange(0, 2);
    const QString text = FuzzSupport::consumeText(in, 256);
    announced->clear();
    bool consumed = false;
    if (form == 0) {
        QFileOpenEvent event{QUrl(text)};
        consumed = backEnd->eventFilter(nullptr, &event);
    } else if (form == 1) {
        QFileOpenEvent event(QUrl(text, QUrl::StrictMode));
        consumed = backEnd->eventFilter(nullptr, &event);
    } else {
        QFileOpenEvent event(text);
        consumed = backEnd->eventFilter(nullptr, &event);
    }
    check(consumed, "a file-open event was not consumed");
    checkAnnouncedFiles(announced->added);
    check(announced->addedSignals <= 1 && !announced->lastMerging, "one event announced more than once, or as merged");
    check(backEnd->getDataForMerging().isEmpty(), "files still pending in a started instance");
    return 0;
}
