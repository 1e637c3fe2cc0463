// ovfilterhost: plays the host editor's filter module so that a filter run can be made without
// a host. See --help.

#include "FilterHostRun.h"
#include "HostCorruption.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

#include <cstdio>

namespace {

const char *const HelpText = R"(Usage: ovfilterhost [options] INPUT_IMAGE OUTPUT_IMAGE -- PROGRAM [ARGS...]

Plays the host editor's filter module for one filter run:
  1. reads INPUT_IMAGE (8 or 16 bits per sample; gray, RGB or RGBA; alpha becomes the mask
     plane) and converts it to the host's 15-bit scale (32767 = full intensity);
  2. removes channels left behind by an earlier run (with a warning), then creates the channels
     __orvaneLumivex_param, _plane0.._plane2, _mask (only with alpha) and _srcIcc, each with its
     info object (dataSize, a free lock) and a 16-byte guard of 0x08 behind the payload; all
     objects are readable and writable by the current user only (mode 0600);
  3. takes the param, plane and mask locks, fills the record, the planes, the mask, the ICC
     profile and the settings block (status starts as 255, meaning "not touched");
  4. starts PROGRAM with argv[0] = "Orvane_Lumivex_PS_Plugin" followed by ARGS (PROGRAM is looked
     up in PATH when it holds no directory), then releases its locks;
  5. waits until the program holds the param lock and then until it can take that lock back (the
     program's cleanup released it), or until the program has ended; then waits for the program
     to end (at most until the time limit, after which the program is killed);
  6. reads status and errorMessage; on status 0 writes the planes (and the mask as alpha) to
     OUTPUT_IMAGE with 16 bits per sample; with --settings-out writes the settings block as JSON
     (status 0 or 1); removes every channel it created;
  7. prints one summary line on standard output:
       ovfilterhost: status=N message="TEXT" host="NAME" exit=CODE output="PATH"
     where NAME is taken from a line "hostDisplayName=NAME" in the program's standard output (the
     program's output is passed through), CODE is the program's exit code (255 for exit(-1),
     128+signal when a signal ended it) and PATH is empty unless status is 0.

Exit codes:
  0  status 0: the program delivered an image
  1  status 1: the run ended without a saved image
  2  status 2: the program reported a failure (its message is printed on standard error)
  3  the program ended (or ran out of time) without releasing the param lock or writing a status
  4  usage or input error of ovfilterhost itself (bad option, unreadable file, program not found)

Faulty filter modules (for tests of the application's refusals):
  --corrupt KIND damages the hand-over after the channels are filled; it may be given more than
  once. KIND is one of:
    missing-param, missing-plane0, missing-plane1, missing-plane2, missing-mask, missing-icc
                   the channel's names are removed (the stand-in keeps reading its own mapping)
    damaged-guard0, damaged-guard1, damaged-guard2
                   the last guard byte of that plane is not 0x08
    guard-past-mapping
                   plane 1's dataSize reaches far beyond its mapping
    short-rows     rowBytes is one sample shorter than a row
    odd-rows       rowBytes is one byte less (odd; give --row-padding 2 or more to keep it
                   otherwise in size)
    short-planes   each plane's dataSize is one row short (its guard moves with it)
    tall-record    the record's height is one row more than the planes hold
    short-mask     the mask's dataSize is one sample short
    zero-width, zero-height
                   the record's width or height is 0
    oversized-icc  iccProfileSize reaches one byte past the ICC channel's object
    negative-icc   iccProfileSize is -1
    unterminated-process-name, unterminated-settings
                   the process name or every settings text field is filled to its last byte,
                   with no NUL; the application is expected to run normally
  --keep-locks never lets go of the param, plane and mask locks, like a module that hangs. The
  application waits for them without a time limit; killing ovfilterhost then leaves it waiting
  and leaves the channels behind (the next run removes them). Without a kill, the program is
  ended at the time limit and the exit code is 3.

Settings JSON (--settings-in, --settings-out): an object with the keys "version" (integer),
"Denoise", "Sharpen", "Enhance", "Face Recovery", "subjectSettings" and "maskStrokes". On input a
value may be a string (stored as it is) or an object/array (stored as compact JSON). On output
every text field is a string, and "settingsWritten" gives the block's written flag.
)";

// The options of the command line, in the order the help lists them.
struct CommandLineOptions
{
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help.")};
    const QCommandLineOption signature{QStringLiteral("signature"),
                                       QStringLiteral("Host signature, 4 characters in reading order (default 8BIM)."),
                                       QStringLiteral("SIG"), QStringLiteral("8BIM")};
    const QCommandLineOption processName{QStringLiteral("process-name"),
                                         QStringLiteral("Host executable name (default Photoshop.exe)."),
                                         QStringLiteral("NAME"), QStringLiteral("Photoshop.exe")};
    const QCommandLineOption hostVersion{QStringLiteral("host-version"),
                                         QStringLiteral("Host version MAJOR.MINOR.PATCH (default 24.1.0)."),
                                         QStringLiteral("VERSION"), QStringLiteral("24.1.0")};
    const QCommandLineOption runMode{QStringLiteral("run-mode"),
                                     QStringLiteral("Run mode byte, 0 = silent (default 1)."), QStringLiteral("N"),
                                     QStringLiteral("1")};
    const QCommandLineOption gray{QStringLiteral("gray"),
                                  QStringLiteral("Send a gray image (colour input is converted).")};
    const QCommandLineOption noMask{QStringLiteral("no-mask"),
                                    QStringLiteral("Send no mask plane even if the input has alpha.")};
    const QCommandLineOption icc{QStringLiteral("icc"), QStringLiteral("ICC profile file to send."),
                                 QStringLiteral("FILE")};
    const QCommandLineOption settingsIn{QStringLiteral("settings-in"),
                                        QStringLiteral("Fill the settings block from this JSON object."),
                                        QStringLiteral("FILE")};
    const QCommandLineOption settingsOut{QStringLiteral("settings-out"),
                                         QStringLiteral("Write the returned settings block as JSON."),
                                         QStringLiteral("FILE")};
    const QCommandLineOption rowPadding{QStringLiteral("row-padding"),
                                        QStringLiteral("Unused bytes behind each plane row (default 0)."),
                                        QStringLiteral("BYTES"), QStringLiteral("0")};
    const QCommandLineOption timeout{QStringLiteral("timeout"),
                                     QStringLiteral("Seconds to wait for the program (default 300)."),
                                     QStringLiteral("SECONDS"), QStringLiteral("300")};
    const QCommandLineOption corrupt{QStringLiteral("corrupt"),
                                     QStringLiteral("Damage the hand-over (see above); repeatable."),
                                     QStringLiteral("KIND")};
    const QCommandLineOption keepLocks{QStringLiteral("keep-locks"),
                                       QStringLiteral("Never let go of the locks (see above).")};

    QList<QCommandLineOption> all() const
    {
        return {help, signature,  processName, hostVersion, runMode, gray,    noMask,
                icc,  settingsIn, settingsOut, rowPadding,  timeout, corrupt, keepLocks};
    }
};

// Everything after the first "--" is the program to start and its arguments; what comes before
// stays in `arguments`.
QStringList takeProgram(QStringList *arguments)
{
    const qsizetype separator = arguments->indexOf(QStringLiteral("--"));
    if (separator < 0)
        return QStringList();
    const QStringList program = arguments->mid(separator + 1);
    *arguments = arguments->mid(0, separator);
    return program;
}

void printHelp(const QCommandLineParser &parser)
{
    std::fputs(HelpText, stdout);
    std::fputs("\n", stdout);
    std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
}

bool parseVersion(const QString &text, HostSetup *setup)
{
    const QRegularExpression pattern(QStringLiteral("^(-?\\d+)\\.(-?\\d+)\\.(-?\\d+)$"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    setup->versionMajor = match.captured(1).toInt();
    setup->versionMinor = match.captured(2).toInt();
    setup->versionPatch = match.captured(3).toInt();
    return true;
}

bool refuse(const QString &text, QString *problem)
{
    *problem = text;
    return false;
}

// What the record tells the application about the host and the run.
bool readSetup(const QCommandLineParser &parser, const CommandLineOptions &options, HostSetup *setup, QString *problem)
{
    setup->signature = parser.value(options.signature);
    setup->processName = parser.value(options.processName);
    if (setup->signature.size() != 4)
        return refuse(QStringLiteral("--signature needs exactly 4 characters"), problem);
    if (!parseVersion(parser.value(options.hostVersion), setup))
        return refuse(QStringLiteral("--host-version needs MAJOR.MINOR.PATCH"), problem);
    bool ok = false;
    const int mode = parser.value(options.runMode).toInt(&ok);
    if (!ok || mode < 0 || mode > 255)
        return refuse(QStringLiteral("--run-mode needs a number from 0 to 255"), problem);
    setup->runMode = uint8_t(mode);
    setup->rowPadding = parser.value(options.rowPadding).toUInt(&ok);
    if (!ok || setup->rowPadding > 4096)
        return refuse(QStringLiteral("--row-padding needs a number from 0 to 4096"), problem);
    return true;
}

bool readCorruptions(const QStringList &names, QList<HostCorruption::Kind> *kinds, QString *problem)
{
    for (const QString &name : names) {
        HostCorruption::Kind kind;
        if (!HostCorruption::fromName(name, &kind))
            return refuse(
                QStringLiteral("--corrupt needs one of: %1").arg(HostCorruption::names().join(QStringLiteral(", "))),
                problem);
        *kinds << kind;
    }
    return true;
}

// The run that the command line asks for: the images, the program, the host and the faults.
bool readRun(const QCommandLineParser &parser, const CommandLineOptions &options, const QStringList &program,
             FilterHostOptions *run, QString *problem)
{
    run->inputImage = parser.positionalArguments().at(0);
    run->outputImage = parser.positionalArguments().at(1);
    run->program = program.first();
    run->programArgs = program.mid(1);
    run->iccFile = parser.value(options.icc);
    run->settingsIn = parser.value(options.settingsIn);
    run->settingsOut = parser.value(options.settingsOut);
    run->gray = parser.isSet(options.gray);
    run->noMask = parser.isSet(options.noMask);
    if (!readSetup(parser, options, &run->setup, problem))
        return false;
    bool ok = false;
    run->timeoutSeconds = parser.value(options.timeout).toInt(&ok);
    if (!ok || run->timeoutSeconds <= 0)
        return refuse(QStringLiteral("--timeout needs a positive number of seconds"), problem);
    run->keepLocks = parser.isSet(options.keepLocks);
    return readCorruptions(parser.values(options.corrupt), &run->corruptions, problem);
}

int usageError(const QString &message)
{
    std::fprintf(stderr, "ovfilterhost: %s\nTry ovfilterhost --help.\n", message.toLocal8Bit().constData());
    return FilterHostRun::UsageError;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    const QStringList program = takeProgram(&arguments);

    const CommandLineOptions options;
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in for the host editor's filter module."));
    parser.addOptions(options.all());
    parser.addPositionalArgument(QStringLiteral("INPUT_IMAGE"), QStringLiteral("Image sent to the program."));
    parser.addPositionalArgument(QStringLiteral("OUTPUT_IMAGE"),
                                 QStringLiteral("Where the delivered image is written."));

    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet(options.help)) {
        printHelp(parser);
        return 0;
    }
    if (parser.positionalArguments().size() != 2)
        return usageError(QStringLiteral("expected INPUT_IMAGE and OUTPUT_IMAGE before --"));
    if (program.isEmpty())
        return usageError(QStringLiteral("expected -- PROGRAM [ARGS...]"));
    FilterHostOptions run;
    QString problem;
    if (!readRun(parser, options, program, &run, &problem))
        return usageError(problem);

    FilterHostRun hostRun(run);
    return hostRun.run();
}
