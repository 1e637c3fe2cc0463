#include "LaunchOptions.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString AutoPrefix = QStringLiteral("--auto=");
const QString HandOffTimeoutPrefix = QStringLiteral("--handoff-timeout=");
const QString WindowPicturePrefix = QStringLiteral("--window-png=");
// The library takes an argument with this start as the editor name, never as a file.
const QString EditorPrefix = QStringLiteral("--editor");

bool isFile(const QString &argument)
{
    return !argument.isEmpty() && !argument.startsWith(EditorPrefix);
}

// "." and doubled slashes always go. A ".." goes too, unless it follows a symbolic link: there it
// means the link target's parent, and the file named would change, so the joined form stays.
QString absoluteFile(const QDir &here, const QString &argument)
{
    const QString joined = here.filePath(argument);
    const QString cleaned = QDir::cleanPath(joined);
    if (!QDir::fromNativeSeparators(joined).split(QLatin1Char('/')).contains(QLatin1String("..")))
        return cleaned;
    const QFileInfo meant(joined);
    return meant.exists() && meant.canonicalFilePath() != QFileInfo(cleaned).canonicalFilePath() ? joined : cleaned;
}

// Seconds, a fraction allowed (tests shorten the wait to less than one), up to a day.
int timeoutMs(const QString &seconds, bool *ok)
{
    const double value = seconds.toDouble(ok);
    *ok = *ok && value > 0 && value <= 24 * 3600;
    return *ok ? qMax(1, int(value * 1000)) : 0;
}

} // namespace

LaunchOptions LaunchOptions::parse(const QStringList &arguments)
{
    LaunchOptions options;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &arg = arguments.at(i);
        // The first element is the program, or the filter marker: never one of our options.
        if (i == 0) {
            options.remaining << arg;
        } else if (arg == QLatin1String("--headless")) {
            options.headless = true;
        } else if (arg == QLatin1String("--verbose")) {
            options.verbose = true;
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            options.help = true;
        } else if (arg.startsWith(AutoPrefix)) {
            const QString name = arg.mid(AutoPrefix.size());
            bool known = false;
            options.operation = ImageOperation::fromName(name, &known);
            options.autoRun = true;
            if (!known)
                options.error =
                    QStringLiteral("unknown operation \"%1\" for --auto (use identity or enhance)").arg(name);
        } else if (arg.startsWith(HandOffTimeoutPrefix)) {
            bool ok = false;
            const int ms = timeoutMs(arg.mid(HandOffTimeoutPrefix.size()), &ok);
            if (ok)
                options.handOffTimeoutMs = ms;
            else
                options.error = QStringLiteral("--handoff-timeout takes a number of seconds, not \"%1\"")
                                    .arg(arg.mid(HandOffTimeoutPrefix.size()));
        } else if (arg.startsWith(WindowPicturePrefix)) {
            options.windowPicture = arg.mid(WindowPicturePrefix.size());
            if (options.windowPicture.isEmpty())
                options.error = QStringLiteral("--window-png takes the path of the PNG to write");
        } else {
            options.remaining << arg;
        }
    }
    return options;
}

QStringList LaunchOptions::libraryArguments() const
{
    QStringList arguments = remaining;
    const QDir here = QDir::current();
    for (int i = 1; i < arguments.size(); ++i) {
        if (isFile(arguments.at(i)))
            arguments[i] = absoluteFile(here, arguments.at(i));
    }
    return arguments;
}

bool LaunchOptions::filesFitMergeData() const
{
    // The absolute form counts: the current folder's name may hold the separator too.
    const QStringList arguments = libraryArguments();
    for (int i = 1; i < arguments.size(); ++i) {
        if (isFile(arguments.at(i)) && arguments.at(i).contains(QLatin1String("::")))
            return false;
    }
    return true;
}

QString LaunchOptions::usage()
{
    return QStringLiteral("Usage: lumivex [options] [--editor=NAME] [FILE...]\n"
                          "       (started by a filter module: Orvane_Lumivex_PS_Plugin [options])\n"
                          "\n"
                          "The reference application of the Lumivex integrations library.\n"
                          "\n"
                          "Options:\n"
                          "  --auto=identity|enhance  headless run: load every announced image, apply the\n"
                          "                           operation, save it back (in place for an external\n"
                          "                           editor, into the host for a filter module) and exit;\n"
                          "                           exit code 0 when everything was saved, 1 otherwise\n"
                          "  --headless               no window (implies QT_QPA_PLATFORM=offscreen)\n"
                          "  --verbose                print every signal of the library as one line\n"
                          "  --handoff-timeout=SECONDS\n"
                          "                           how long a second launch waits for the running\n"
                          "                           instance to take its files before it runs on its\n"
                          "                           own (default 30)\n"
                          "  --window-png=PATH        open the window without a display, write a PNG of it\n"
                          "                           to PATH once it shows its first image, and exit\n"
                          "                           (0 when written, 1 when no image was shown in 60 s)\n"
                          "  --help, -h               show this help\n"
                          "\n"
                          "Other arguments go to the library: --editor=NAME names the external editor,\n"
                          "everything else is an image file. A second interactive launch with the same\n"
                          "editor hands its files to the running instance and exits.\n");
}
