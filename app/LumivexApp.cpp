#include "LumivexApp.h"

#include "Console.h"
#include "HeadlessRun.h"
#include "OvIntegrations.h"
#include "OvIntercom.h"
#include "QuitSignals.h"
#include "SignalPrinter.h"
#include "TempFolder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTextStream>

#include <memory>

namespace {

QStringList rawArguments(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    return arguments;
}

// The arguments that name files: the first element is the program, "--editor" ones name the editor.
QStringList namedFiles(const QStringList &remaining)
{
    QStringList files;
    for (const QString &argument : remaining.mid(1)) {
        if (!argument.startsWith(QLatin1String("--editor")))
            files << argument;
    }
    return files;
}

// Qt makes folders of its own under the temporary folder (on Linux the runtime folder
// "runtime-<user>" when the session has none), and for a TMPDIR that names no folder it takes the
// root folder instead. So the whole process, and the helpers it starts, are pointed at the
// fallback folder before Qt starts. TMPDIR for POSIX programs, TMP and TEMP for Windows ones.
void settleTemporaryFolder()
{
    const QString folder = TempFolder::path();
    if (folder.isEmpty() || folder == QDir::tempPath())
        return;
    for (const char *name : {"TMPDIR", "TMP", "TEMP"})
        qputenv(name, QFile::encodeName(QDir::toNativeSeparators(folder)));
}

} // namespace

int LumivexApp::run(int &argc, char **argv)
{
    // Help, errors and the platform are settled before QApplication exists: neither --help nor
    // a headless run may need a display, whatever the environment says.
    const LaunchOptions early = LaunchOptions::parse(rawArguments(argc, argv));
    if (early.help) {
        QTextStream(stdout) << LaunchOptions::usage();
        return 0;
    }
    if (!early.error.isEmpty()) {
        Console::error(early.error);
        QTextStream(stderr) << LaunchOptions::usage();
        return 2;
    }
    if (early.headless || early.autoRun || !early.windowPicture.isEmpty())
        chooseHeadlessPlatform();
    QApplication::setApplicationName(QStringLiteral("lumivex"));
    QApplication::setOrganizationName(QStringLiteral("Orvane"));
    settleTemporaryFolder();
    QApplication app(argc, argv);
    const LaunchOptions options = LaunchOptions::parse(QApplication::arguments());
    QuitSignals::install(&app);

    OvIntegrations integrations(options.libraryArguments());
    OvIntercom intercom;
    if (integrations.pluginType() == OvIntegrations::PSFilter) {
        // The filter module reads the host's name from this line of our output.
        QTextStream(stdout) << "hostDisplayName=" << integrations.pluginDisplayName() << Qt::endl;
    }
    std::unique_ptr<SignalPrinter> printer;
    if (options.verbose) {
        printer = std::make_unique<SignalPrinter>(&integrations, &intercom);
        Console::line(QStringLiteral("started %1").arg(SignalPrinter::describe(&integrations)));
    }
    if (const std::optional<int> code = handOff(options, integrations, intercom))
        return *code;
    QObject::connect(&intercom, &OvIntercom::mergeInstance, &integrations, &OvIntegrations::mergeInstance);

    integrations.setup(&app, &intercom);
    integrations.start();
    return options.autoRun || options.headless ? runHeadless(options, integrations) : runWindow(options, integrations);
}

std::optional<int> LumivexApp::handOff(const LaunchOptions &options, OvIntegrations &integrations, OvIntercom &intercom)
{
    // A batch run or a window picture works on its own files only; it neither hands off nor takes over.
    if (options.autoRun || !options.windowPicture.isEmpty() || !integrations.canMergeInstance())
        return std::nullopt;
    const QString key = integrations.mergableInstanceKey();
    // The merge text joins paths with "::" and has no escape: a launch with such a path keeps
    // its files rather than have the running instance open the pieces.
    const bool fits = options.filesFitMergeData();
    if (!fits)
        qWarning() << "A file name holds \"::\", which a handoff cannot carry; this launch keeps its files";
    const QString data = fits ? integrations.getDataForMerging() : QString();
    intercom.setHandOffTimeout(options.handOffTimeoutMs);
    switch (intercom.join(key, data)) {
    case OvIntercom::Role::HandedOver:
        Console::line(QStringLiteral("handed %1 file(s) over to the running instance for %2")
                          .arg(data.split(QStringLiteral("::"), Qt::SkipEmptyParts).size())
                          .arg(Console::quoted(key)));
        integrations.cleanup();
        return 0;
    case OvIntercom::Role::Refused:
        Console::error(QStringLiteral("error: the running instance for %1 refused the files of this launch "
                                      "(%2 bytes of file names); this launch ends")
                           .arg(Console::quoted(key))
                           .arg(data.toUtf8().size()));
        integrations.cleanup();
        return 1;
    case OvIntercom::Role::Running:
        Console::line(QStringLiteral("listening for other launches on %1").arg(Console::quoted(intercom.serverName())));
        return std::nullopt;
    case OvIntercom::Role::Alone:
        // The intercom has said why.
        return std::nullopt;
    }
    return std::nullopt;
}

void LumivexApp::chooseHeadlessPlatform()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
#ifdef Q_OS_WIN
    // The Qt built for Windows here has no offscreen plugin (it needs FreeType); minimal draws
    // windows into memory too, and with the system's fonts once asked to.
    qputenv("QT_QPA_PLATFORM", "minimal:enable_fonts");
#else
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
}

int LumivexApp::runHeadless(const LaunchOptions &options, OvIntegrations &integrations)
{
    if (!options.autoRun) {
        // No window and no batch: stay up for handoffs and file events until asked to stop.
        const int code = QApplication::exec();
        integrations.cleanup();
        return code;
    }
    HeadlessRun headless(&integrations, options.operation);
    if (integrations.pluginType() == OvIntegrations::CLI)
        headless.checkNamedFiles(namedFiles(options.remaining));
    QObject::connect(&headless, &HeadlessRun::finished, qApp, &QCoreApplication::exit, Qt::QueuedConnection);
    headless.begin();
    return QApplication::exec();
}
