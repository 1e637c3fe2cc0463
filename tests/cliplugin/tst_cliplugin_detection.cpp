#include "TestHelpers.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// Editor detection with real parent processes: a copy of the system shell under the name to test
// starts the helper program, whose back end then looks at its parent.
class tst_CliPluginDetection : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void parentProcess_data();
    void parentProcess();
    void adoptedAfterDoubleFork_data();
    void adoptedAfterDoubleFork();

private:
    QString path(const QString &name) const { return m_dir.path() + QLatin1Char('/') + name; }
    QString makeParent(const QString &name);
    void writeDesktopEntry(const QString &name, const QString &exec);

    QTemporaryDir m_dir;
};

void tst_CliPluginDetection::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("bin")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("xdg-home/applications")));
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("xdg-dirs")));
    QVERIFY(TestHelpers::writeRgbImage(path(QStringLiteral("photo.jpg")), TestHelpers::makePattern(8, 8, CV_8U, 3)));
}

QString tst_CliPluginDetection::makeParent(const QString &name)
{
    const QString target = path(QStringLiteral("bin/") + name);
    return TestHelpers::makeLauncher(target) ? target : QString();
}

void tst_CliPluginDetection::writeDesktopEntry(const QString &name, const QString &exec)
{
    QFile entry(path(QStringLiteral("xdg-home/applications/editor.desktop")));
    QFile::remove(entry.fileName());
    if (name.isEmpty())
        return;
    QVERIFY(entry.open(QIODevice::WriteOnly | QIODevice::Text));
    entry.write("[Desktop Action open]\nName=Not this one\n\n");
    entry.write("[Desktop Entry]\nType=Application\nName=" + name.toUtf8() + "\nName[de]=Anders\nExec="
                + exec.toUtf8() + " %F\n");
}

void tst_CliPluginDetection::parentProcess_data()
{
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QString>("desktopName");
    QTest::addColumn<QString>("desktopExec"); // "<abs>", "<quoted>" or "<path>" for the parent
    QTest::addColumn<QString>("editor");
    QTest::addColumn<QString>("processName");

    QTest::newRow("Lightroom Classic") << "LightroomClassic.exe" << "" << "" << "Adobe Lightroom Classic"
                                       << "LightroomClassic";
    QTest::newRow("Capture One host") << "P1.C1.PluginHostProcess.exe" << "" << "" << "Capture One"
                                      << "P1.C1.PluginHostProcess";
    QTest::newRow("EXPLORER.EXE is no editor") << "EXPLORER.EXE" << "" << "" << "" << "";
    QTest::newRow("desktop entry") << "explorer2.exe" << "Photo Studio" << "<abs>" << "Photo Studio" << "explorer2";
    QTest::newRow("desktop entry with quoted Exec") << "Studio Pro" << "Studio Pro Deluxe" << "<quoted>"
                                                    << "Studio Pro Deluxe" << "Studio Pro";
    QTest::newRow("desktop entry found through PATH") << "retoucher" << "Retoucher" << "<path>" << "Retoucher"
                                                      << "retoucher";
    QTest::newRow("desktop entry for another program") << "retoucher" << "Terminal" << "/bin/sh"
                                                       << "External Editor" << "retoucher";

    // Typed in a terminal, opened from a file manager or a desktop launcher, or run through a
    // wrapper: a person's own launch, never an editor's. Each has a desktop entry that names it,
    // as terminals and file managers do, which must not make it an editor.
    for (const char *launcher : {"bash", "dash", "zsh", "gnome-terminal-server", "konsole", "xterm", "nautilus",
                                 "dolphin", "thunar", "plasmashell", "gnome-shell", "systemd", "init", "sudo",
                                 "env", "timeout", "xargs", "nohup", "nice", "setsid", "stdbuf", "time", "strace"})
        QTest::addRow("%s is no editor", launcher) << launcher << "Launcher" << "<abs>" << "" << "";
    // A Linux editor is still named by its desktop entry; the version goes with the last dot.
    QTest::newRow("editor with a desktop entry") << "gimp-2.10" << "GNU Image Manipulation Program" << "<abs>"
                                                 << "GNU Image Manipulation Program" << "gimp-2";
    QTest::newRow("launcher name inside another") << "bashful" << "Bashful Photos" << "<path>" << "Bashful Photos"
                                                  << "bashful";
}

void tst_CliPluginDetection::parentProcess()
{
    QFETCH(QString, parentName);
    QFETCH(QString, desktopName);
    QFETCH(QString, desktopExec);
    QFETCH(QString, editor);
    QFETCH(QString, processName);

#ifdef Q_OS_WIN
    if (!desktopName.isEmpty())
        QSKIP("Desktop entries name the programs of a Linux desktop only");
#endif
    const QString parent = makeParent(parentName);
    QVERIFY(!parent.isEmpty());
    QString exec = desktopExec;
    if (exec == QLatin1String("<abs>"))
        exec = parent;
    else if (exec == QLatin1String("<quoted>"))
        exec = QLatin1Char('"') + parent + QLatin1Char('"');
    else if (exec == QLatin1String("<path>"))
        exec = parentName;
    writeDesktopEntry(desktopName, exec);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("xdg-home")));
    env.insert(QStringLiteral("XDG_DATA_DIRS"), path(QStringLiteral("xdg-dirs")));
#ifndef Q_OS_WIN // on Windows the path also finds the DLLs, and no row looks a program up by it
    env.insert(QStringLiteral("PATH"), path(QStringLiteral("bin")) + QStringLiteral(":/usr/bin:/bin"));
#endif

    QProcess process;
    process.setProcessEnvironment(env);
    process.start(parent, TestHelpers::launcherArguments(TestHelpers::binDir() + QStringLiteral("/cliplugin_detect_helper"),
                                                         {QDir::toNativeSeparators(path(QStringLiteral("photo.jpg")))}));
    QVERIFY(process.waitForFinished(30000));
    const QString log = QString::fromUtf8(process.readAllStandardError());
    QCOMPARE(process.exitCode(), 0);

    const QJsonObject result = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    QVERIFY2(!result.isEmpty(), qPrintable(log));
    QCOMPARE(result.value("editor").toString(), editor);
    // The usage event goes out at start with the parent's name, and only for an editor.
    const QJsonObject params = result.value("params").toObject();
    QCOMPARE(params.value("processName").toString(), processName);
    QCOMPARE(params.value("externalEditor").toString(), editor);
}

// Shotwell starts its external editor through GLib's double fork: the launcher's child starts the
// editor and ends at once, so the application's parent is whoever adopts orphans, PID 1 or the
// session's subreaper (systemd --user, a launcher by name), and never the photo manager. Here a
// shell named after it does the same inside a PID namespace of its own, whose PID 1 is a shell
// under a name no list knows; the grandchild waits until its parent has ended before it becomes
// the helper, and PID 1 waits for the helper's answer.
void tst_CliPluginDetection::adoptedAfterDoubleFork_data()
{
    QTest::addColumn<QStringList>("extraArguments");
    QTest::addColumn<QString>("editor");

    // The fault: the adopter (an init that is no known launcher, as in a container) is taken for
    // the photo manager and the copy is saved in place behind its back as "External Editor".
    QTest::newRow("PID 1 names no editor") << QStringList() << "";
    // The fault: the adopter's verdict overrides the name the user gave on the command line.
    QTest::newRow("--editor still wins") << QStringList{QStringLiteral("--editor=Shotwell")} << "Shotwell";
}

void tst_CliPluginDetection::adoptedAfterDoubleFork()
{
    QFETCH(QStringList, extraArguments);
    QFETCH(QString, editor);
#ifdef Q_OS_WIN
    QSKIP("Windows gives an orphan no new parent; the application keeps its ended launcher's id");
#else
    const QStringList newPidNamespace{QStringLiteral("-Urpf"), QStringLiteral("--mount-proc")};
    QProcess probe;
    probe.start(QStringLiteral("unshare"), newPidNamespace + QStringList{QStringLiteral("true")});
    if (!probe.waitForFinished(30000) || probe.exitCode() != 0)
        QSKIP(qPrintable(QStringLiteral("unshare cannot make a PID namespace here: ")
                         + QString::fromLocal8Bit(probe.readAllStandardError()).trimmed() + probe.errorString()));

    const QString init = makeParent(QStringLiteral("photo-init"));
    const QString launcher = makeParent(QStringLiteral("shotwell"));
    QVERIFY(!init.isEmpty() && !launcher.isEmpty());
    const QString output = path(QStringLiteral("adopted.json"));
    QFile::remove(output);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("OV_OUT"), output);
    env.insert(QStringLiteral("OV_ERR"), path(QStringLiteral("adopted.log")));
    const QString doubleFork = QStringLiteral("( ( sleep 0.5; exec \"$0\" \"$@\" >\"$OV_OUT\" 2>\"$OV_ERR\" ) & ); exit 0");
    const QString asInit = QStringLiteral("\"$0\" -c '%1' \"$@\"; i=0; "
                                          "until grep -qs '}' \"$OV_OUT\" || [ $i -ge 300 ]; do sleep 0.1; i=$((i+1)); done")
                               .arg(doubleFork);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(QStringLiteral("unshare"),
                  newPidNamespace + QStringList{init, QStringLiteral("-c"), asInit, launcher}
                      + QStringList{TestHelpers::binDir() + QStringLiteral("/cliplugin_detect_helper"),
                                    path(QStringLiteral("photo.jpg"))}
                      + extraArguments);
    QVERIFY(process.waitForFinished(60000));

    QFile file(output);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(QString::fromLocal8Bit(process.readAllStandardError())));
    const QJsonObject result = QJsonDocument::fromJson(file.readAll()).object();
    QVERIFY(!result.isEmpty());
    // The premise: the back end saw PID 1, not the shell that was still ending.
    QCOMPARE(result.value("parentBefore").toInt(), 1);
    QVERIFY(result.value("parentExecutableBefore").toString().endsWith(QLatin1String("/photo-init")));
    QCOMPARE(result.value("editor").toString(), editor);
    QCOMPARE(result.value("params").toObject().value("externalEditor").toString(), editor);
#endif
}

QTEST_GUILESS_MAIN(tst_CliPluginDetection)
#include "tst_cliplugin_detection.moc"
