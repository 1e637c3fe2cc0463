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

QTEST_GUILESS_MAIN(tst_CliPluginDetection)
#include "tst_cliplugin_detection.moc"
