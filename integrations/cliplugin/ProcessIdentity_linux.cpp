// Linux process identity: the parent from the kernel, the executable through /proc, and the
// file description from the desktop entry (freedesktop.org) whose Exec names that executable.
#include "ProcessIdentity.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cerrno>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

QStringList applicationDirs()
{
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");

    QStringList dirs{dataHome + QStringLiteral("/applications")};
    for (const QString &dir : dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        dirs << dir + QStringLiteral("/applications");
    return dirs;
}

// The program of an Exec line: its first word, with the quoting of the desktop entry format.
QString execProgram(const QString &exec)
{
    const QString text = exec.trimmed();
    if (!text.startsWith(QLatin1Char('"')))
        return text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);

    QString program;
    for (qsizetype i = 1; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\\') && i + 1 < text.size()) {
            program += text.at(++i);
        } else if (c == QLatin1Char('"')) {
            break;
        } else {
            program += c;
        }
    }
    return program;
}

QString resolvedProgram(const QString &program)
{
    if (program.isEmpty())
        return {};
    const QString found = program.contains(QLatin1Char('/')) ? program : QStandardPaths::findExecutable(program);
    return found.isEmpty() ? QString() : QFileInfo(found).canonicalFilePath();
}

struct DesktopEntry
{
    QString name;
    QString exec;
};

// Reads the unlocalised Name and Exec of the [Desktop Entry] group.
DesktopEntry readDesktopEntry(const QString &file)
{
    DesktopEntry entry;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
        return entry;
    QTextStream stream(&in);
    bool inMainGroup = false;
    QString line;
    while (stream.readLineInto(&line)) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        if (!inMainGroup)
            continue;
        if (entry.name.isEmpty() && line.startsWith(QLatin1String("Name=")))
            entry.name = line.mid(5).trimmed();
        else if (entry.exec.isEmpty() && line.startsWith(QLatin1String("Exec=")))
            entry.exec = line.mid(5).trimmed();
    }
    return entry;
}

} // namespace

namespace ProcessIdentity {

// Programs that start another program on a person's behalf, or a service's: whatever they launch
// works on the person's files, so the result must not replace the original. Interpreters (python3,
// perl, node) are not here: a photo manager may be a script, and its desktop entry names it.
const std::vector<std::string> &systemLaunchers()
{
    // One line per kind of program reads better than one line per name.
    // clang-format off
    static const std::vector<std::string> names{
        // shells
        "sh", "bash", "dash", "zsh", "ksh", "mksh", "ash", "csh", "tcsh", "fish", "busybox", "nu", "elvish",
        // terminal emulators and multiplexers
        "gnome-terminal-server", "gnome-terminal", "kgx", "ptyxis", "ptyxis-agent", "konsole", "yakuake",
        "xterm", "uxterm", "rxvt", "urxvt", "urxvtd", "kitty", "alacritty", "foot", "footclient", "wezterm",
        "wezterm-gui", "tilix", "terminator", "xfce4-terminal", "lxterminal", "mate-terminal", "qterminal",
        "terminology", "st", "sakura", "guake", "deepin-terminal", "cool-retro-term", "tmux", "screen", "zellij",
        // file managers
        "nautilus", "nemo", "caja", "dolphin", "thunar", "pcmanfm", "pcmanfm-qt", "spacefm", "konqueror",
        "krusader", "doublecmd", "peony", "dde-file-manager", "xfe", "rox-filer", "mc", "nnn", "lf", "vifm", "yazi",
        // desktop shells, panels, launchers, openers and window managers
        "gnome-shell", "plasmashell", "krunner", "kioclient", "kioclient5", "kioclient6", "kde-open", "kde-open5",
        "kde-open6", "kdeinit5", "klauncher", "kded5", "kded6", "xfce4-panel", "xfdesktop", "xfce4-appfinder",
        "lxpanel", "lxqt-panel", "lxqt-runner", "mate-panel", "cinnamon", "budgie-panel", "budgie-desktop",
        "rofi", "wofi", "fuzzel", "tofi", "dmenu", "albert", "gio", "gio-launch-desktop", "gtk-launch",
        "gtk4-launch", "exo-open", "xdg-desktop-portal", "xdg-desktop-portal-gnome", "xdg-desktop-portal-gtk",
        "xdg-desktop-portal-kde", "xdg-desktop-portal-wlr", "mutter", "kwin_x11", "kwin_wayland", "xfwm4",
        "openbox", "i3", "sway", "hyprland", "awesome", "bspwm", "sxhkd", "dwm", "herbstluftwm", "fluxbox",
        "icewm", "icewm-session", "labwc", "river", "niri", "wayfire", "weston", "marco", "muffin",
        // session and service managers
        "systemd", "init", "upstart", "runit", "runsv", "runsvdir", "s6-supervise", "s6-svscan", "tini",
        "dumb-init", "gnome-session-binary", "gnome-session", "ksmserver", "startplasma-x11",
        "startplasma-wayland", "plasma_session", "xfce4-session", "lxsession", "lxqt-session", "mate-session",
        "cinnamon-session", "xinit", "gdm", "gdm-x-session", "gdm-wayland-session", "lightdm", "sddm",
        "sddm-helper", "dbus-daemon", "dbus-broker", "dbus-broker-launch", "cron", "crond", "atd", "anacron",
        "sshd", "login",
        // wrappers that run a program for someone else
        "sudo", "doas", "pkexec", "su", "runuser", "setpriv", "env", "timeout", "xargs", "nohup", "nice",
        "ionice", "chrt", "taskset", "numactl", "setsid", "stdbuf", "time", "strace", "ltrace", "gdb", "lldb",
        "perf", "flock", "unshare", "nsenter", "chroot", "firejail", "bwrap", "flatpak-spawn", "script",
        "watch", "make", "dbus-run-session", "dbus-launch", "ssh-agent", "systemd-run", "systemd-inhibit",
        "start-stop-daemon", "setarch", "linux32", "linux64", "prlimit", "sg", "newgrp", "entr",
    };
    // clang-format on
    return names;
}

std::uint32_t parentProcessId()
{
    return static_cast<std::uint32_t>(::getppid());
}

// The init process of the application's PID namespace. The session's subreaper (systemd --user)
// is a launcher by name instead: the kernel tells no one else which process is a subreaper.
bool adoptsOrphans(std::uint32_t pid)
{
    return pid == 1;
}

bool executablePath(std::uint32_t pid, std::string &path, unsigned long &lastError)
{
    const QString link = QStringLiteral("/proc/%1/exe").arg(pid);
    const QByteArray linkName = QFile::encodeName(link);
    QByteArray buffer(4096, '\0');
    const ssize_t length = ::readlink(linkName.constData(), buffer.data(), static_cast<size_t>(buffer.size()));
    if (pid == 0 || length <= 0) {
        lastError = pid == 0 ? ESRCH : static_cast<unsigned long>(errno);
        return false;
    }
    buffer.truncate(length);
    path = buffer.toStdString();
    lastError = 0;
    return true;
}

DescriptionStatus fileDescription(const std::string &path, std::string &description, long &resultCode)
{
    const QString executable = QFileInfo(QString::fromStdString(path)).canonicalFilePath();
    if (executable.isEmpty()) {
        resultCode = ENOENT;
        return DescriptionStatus::NoItem;
    }

    for (const QString &dir : applicationDirs()) {
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const DesktopEntry entry = readDesktopEntry(it.next());
            if (!entry.name.isEmpty() && resolvedProgram(execProgram(entry.exec)) == executable) {
                description = entry.name.toStdString();
                resultCode = 0;
                return DescriptionStatus::Found;
            }
        }
    }
    resultCode = ENOENT;
    return DescriptionStatus::NoDescription;
}

} // namespace ProcessIdentity
