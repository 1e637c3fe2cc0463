#include "LumivexProcess.h"
#include "SampleImage.h"
#include "TestHelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

// Single-instance handoff between real lumivex processes: a later launch hands its files to the
// running instance, which announces them as merged; each file is announced exactly once.
class tst_LumivexHandoff : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_environment;

    // An image in the subfolder `folder`, which is created; the canonical path of it.
    QString image(const QString &folder, const QString &name) const
    {
        QDir(m_dir->path()).mkpath(folder);
        const QString path = m_dir->filePath(folder + QLatin1Char('/') + name);
        if (!QFileInfo::exists(path))
            SampleImage::write(path, 160, 120);
        return QFileInfo(path).canonicalFilePath();
    }

    static QString announced(const QString &path, bool merged)
    {
        return QStringLiteral("pluginImagesAdded ids=[\"%1\"] mergingInstance=%2").arg(path, merged ? "true" : "false");
    }

    std::unique_ptr<LumivexProcess> launch(const QString &editor, const QString &file, const QString &folder = QString(),
                                           const QString &option = QStringLiteral("--headless"),
                                           const QString &gate = QString(), const QStringList &extra = {})
    {
        auto process = std::make_unique<LumivexProcess>(m_environment);
        process->process().setWorkingDirectory(folder.isEmpty() ? m_dir->path() : m_dir->filePath(folder));
        QStringList arguments = QStringList{option, QStringLiteral("--verbose")} + extra;
        if (!editor.isEmpty())
            arguments << QStringLiteral("--editor=") + editor;
        arguments << file;
        if (!gate.isEmpty()) // it waits for its line from the gate, a FIFO, first
            arguments = QStringList{"-c", "read x < \"$0\"; exec \"$@\"", gate, QDir(TestHelpers::binDir()).filePath("lumivex")} + arguments;
        process->start(arguments, gate.isEmpty() ? QStringLiteral("lumivex") : QStringLiteral("/bin/sh"));
        return process;
    }

    // The first instance is up once it listens and has announced its own file.
    static bool isReady(const LumivexProcess &instance, const QString &file)
    {
        return instance.output().contains(QLatin1String("listening for other launches"))
            && instance.output().contains(announced(file, false));
    }

    static bool handedOver(LumivexProcess &launch)
    {
        return launch.finish() && launch.process().exitStatus() == QProcess::NormalExit
            && launch.process().exitCode() == 0 && launch.output().contains(QLatin1String("handed 1 file(s) over"));
    }

    static void stop(LumivexProcess &instance)
    {
        instance.process().terminate();
        QVERIFY(instance.finish());
        QCOMPARE(instance.process().exitCode(), 0);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_environment = TestHelpers::isolatedEnvironment(m_dir->filePath(QStringLiteral("env")));
    }

    void secondLaunch_data()
    {
        QTest::addColumn<QString>("firstEditor");
        QTest::addColumn<QString>("secondEditor");
        QTest::addColumn<QString>("secondName");
        QTest::addColumn<bool>("relative");
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("merged");
        const QString window = QStringLiteral("--headless");
        QTest::newRow("same launching program") << "" << "" << "second.png" << false << window << true;
        QTest::newRow("other editor") << "Capture One" << "Adobe Lightroom Classic" << "second.png" << false << window << false;
        QTest::newRow("batch run") << "Capture One" << "Capture One" << "second.png" << false << "--auto=identity" << false;
        // The running instance sits in another folder that has a same.jpg of its own.
        QTest::newRow("relative name") << "Capture One" << "Capture One" << "same.jpg" << true << window << true;
        // The merge text would split it into "…/a" and "b.jpg".
        QTest::newRow("name with the separator") << "Capture One" << "Capture One" << "a::b.jpg" << true << window << false;
    }

    void secondLaunch()
    {
        QFETCH(QString, firstEditor);
        QFETCH(QString, secondEditor);
        QFETCH(QString, secondName);
        QFETCH(bool, relative);
        QFETCH(QString, option);
        QFETCH(bool, merged);
#ifdef Q_OS_WIN
        if (secondName.contains(QLatin1Char(':')))
            QSKIP("Windows file names cannot hold a colon");
#endif
        const QString first = image(QStringLiteral("a"), QStringLiteral("first.jpg"));
        image(QStringLiteral("a"), QStringLiteral("same.jpg"));
        const QString second = image(QStringLiteral("b"), secondName);

        const auto running = launch(firstEditor, first, QStringLiteral("a"));
        QTRY_VERIFY2_WITH_TIMEOUT(isReady(*running, first), qPrintable(running->output() + running->errors()), 30000);

        const auto later = launch(secondEditor, relative ? secondName : second, QStringLiteral("b"), option);
        if (merged) {
            QVERIFY2(handedOver(*later), qPrintable(later->output() + later->errors()));
            QTRY_VERIFY2_WITH_TIMEOUT(running->output().contains(announced(second, true)), qPrintable(running->output()), 20000);
        } else {
            QTRY_VERIFY2_WITH_TIMEOUT(later->output().contains(announced(second, false)),
                                      qPrintable(later->output() + later->errors()), 30000);
            QVERIFY(!running->output().contains(QLatin1String("mergingInstance=true")));
            stop(*later);
        }
        // A polite stop ends the instance normally and takes its name away with it.
        stop(*running);
#ifdef Q_OS_UNIX
        const QDir runtime(m_environment.value(QStringLiteral("XDG_RUNTIME_DIR")));
        QCOMPARE(runtime.entryList({QStringLiteral("lumivex-*")}, QDir::System), QStringList());
#endif
    }

#ifndef Q_OS_UNIX
    void runningInstanceStalls() { QSKIP("A running instance is stalled here with SIGSTOP"); }
#else

    // Exactly one of the two takes the file: the running instance once it resumes, or the
    // waiting launch itself once the running instance is gone or the wait for it is over.
    void runningInstanceStalls_data()
    {
        QTest::addColumn<int>("thenSignal");
        QTest::addColumn<QStringList>("options");
        QTest::newRow("resumes") << int(SIGCONT) << QStringList();
        QTest::newRow("dies") << int(SIGKILL) << QStringList();
        QTest::newRow("resumes after the wait") << int(SIGCONT) << QStringList{"--handoff-timeout=2"};
    }

    void runningInstanceStalls()
    {
        QFETCH(int, thenSignal);
        QFETCH(QStringList, options);
        const QString first = image(QStringLiteral("a"), QStringLiteral("first.jpg"));
        const QString second = image(QStringLiteral("a"), QStringLiteral("second.jpg"));
        const auto running = launch(QStringLiteral("Capture One"), first);
        QTRY_VERIFY_WITH_TIMEOUT(isReady(*running, first), 30000);

        ::kill(pid_t(running->process().processId()), SIGSTOP);
        const auto later = launch(QStringLiteral("Capture One"), second, QString(), QStringLiteral("--headless"),
                                  QString(), options);
        if (!options.isEmpty()) {
            // The wait is over while the instance is still stopped: the launch goes on with its
            // file, and the instance, resumed, drops the offer it finds unanswered.
            QTRY_VERIFY2_WITH_TIMEOUT(later->output().contains(announced(second, false)),
                                      qPrintable(later->output() + later->errors()), 30000);
            QVERIFY(later->errors().contains(QLatin1String("has not taken the files within 2000 ms")));
            ::kill(pid_t(running->process().processId()), thenSignal);
            QTRY_VERIFY2_WITH_TIMEOUT(running->errors().contains(QLatin1String("Dropping a handoff whose launch went on")),
                                      qPrintable(running->errors()), 20000);
            QVERIFY(!running->output().contains(QLatin1String("mergingInstance=true")));
            stop(*later);
            stop(*running);
            return;
        }
        // Longer than any answer could take: the later launch must neither give up nor run alone.
        const bool endedWhileStopped = later->finish(6000);
        ::kill(pid_t(running->process().processId()), thenSignal);
        QVERIFY2(!endedWhileStopped && !later->output().contains(QLatin1String("pluginImagesAdded")), qPrintable(later->output()));
        if (thenSignal == SIGKILL) {
            // Its socket is left behind; the launch takes the name over with its own file.
            QTRY_VERIFY2_WITH_TIMEOUT(isReady(*later, second), qPrintable(later->output() + later->errors()), 30000);
            stop(*later);
            return;
        }
        QVERIFY2(handedOver(*later), qPrintable(later->output() + later->errors()));
        QTRY_VERIFY_WITH_TIMEOUT(running->output().contains(announced(second, true)), 20000);
        stop(*running);
    }

#endif

    // Launches released together: one survives and every file is announced once, by it.
    // A soak: OV_HANDOFF_LAUNCHES=20 OV_HANDOFF_ROUNDS=10 tst_lumivexhandoff simultaneousLaunches
    void simultaneousLaunches_data()
    {
        QTest::addColumn<int>("launches");
        const int launches = qEnvironmentVariableIntValue("OV_HANDOFF_LAUNCHES");
        const int rounds = qMax(1, qEnvironmentVariableIntValue("OV_HANDOFF_ROUNDS"));
        for (int round = 1; round <= rounds; ++round)
            QTest::addRow("round %d", round) << (launches > 0 ? launches : 8);
    }

    void simultaneousLaunches()
    {
        QFETCH(int, launches);
        QStringList files;
        for (int i = 0; i < launches; ++i)
            files << image(QStringLiteral("a"), QStringLiteral("file%1.jpg").arg(i));
        std::vector<std::unique_ptr<LumivexProcess>> processes;
#ifdef Q_OS_UNIX
        const QString gate = m_dir->filePath(QStringLiteral("gate"));
        QCOMPARE(::mkfifo(QFile::encodeName(gate).constData(), 0600), 0);
        const int held = ::open(QFile::encodeName(gate).constData(), O_RDWR | O_CLOEXEC); // keeps lines until read
        for (const QString &file : files)
            processes.push_back(launch(QStringLiteral("X"), file, QString(), QStringLiteral("--headless"), gate));
        // One line each, in one write: every launch goes on at the same moment.
        QCOMPARE(::write(held, QByteArray(launches, '\n').constData(), size_t(launches)), ssize_t(launches));
#else
        // No shell to hold them at a gate: started back to back, the launches still overlap
        // through their start-up, which takes far longer than starting the next one.
        for (const QString &file : files)
            processes.push_back(launch(QStringLiteral("X"), file));
#endif
        const auto allOutput = [&processes] {
            QString text;
            for (const auto &p : processes)
                text += (p->isRunning() ? QStringLiteral("<running>") : QString()) + p->output() + p->errors();
            return text;
        };
        const auto settled = [&] {
            const QString text = allOutput();
            return text.count(QLatin1String("<running>")) == 1 && text.count(QLatin1String("pluginImagesAdded")) >= launches;
        };
        // A second running instance, or a launch left on its own, never comes right by waiting.
        const auto listening = [&] { return allOutput().count(QLatin1String("listening for other launches")); };
        const auto alone = [&] { return allOutput().count(QLatin1String("runs on its own")); };
        QTRY_VERIFY_WITH_TIMEOUT(settled() || listening() > 1 || alone() > 0, 120000);
        QVERIFY2(listening() == 1 && alone() == 0,
                 qPrintable(QStringLiteral("%1 launches listen as the running instance, %2 run on their own")
                                .arg(listening()).arg(alone())));
        for (const QString &file : files)
            QVERIFY2(allOutput().count(QStringLiteral("ids=[\"%1\"]").arg(file)) == 1, qPrintable(file));
#ifdef Q_OS_UNIX
        ::close(held);
#endif
        for (const auto &process : processes) {
            if (process->isRunning())
                stop(*process);
            else
                QVERIFY2(handedOver(*process), qPrintable(process->output() + process->errors()));
        }
    }
};

QTEST_GUILESS_MAIN(tst_LumivexHandoff)
#include "tst_lumivexhandoff.moc"
