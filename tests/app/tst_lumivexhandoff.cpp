#include "LumivexProcess.h"
#include "SampleImage.h"
#include "TestHelpers.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

// Single-instance handoff between real lumivex processes: a second launch hands its files to
// the running instance, which announces them as merged; a name left by a killed instance does
// not stop the next launch.
class tst_LumivexHandoff : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcessEnvironment m_environment;

    QString image(const QString &name) const
    {
        const QString path = m_dir->filePath(name);
        if (!QFileInfo::exists(path))
            SampleImage::write(path, 160, 120);
        return path;
    }

    static QString announced(const QString &path, bool merged)
    {
        return QStringLiteral("pluginImagesAdded ids=[\"%1\"] mergingInstance=%2").arg(path, merged ? "true" : "false");
    }

    QStringList socketFiles() const
    {
        return QDir(m_environment.value(QStringLiteral("XDG_RUNTIME_DIR"))).entryList({QStringLiteral("lumivex-*")}, QDir::System);
    }

    static QStringList launch(const QString &editor, const QString &file)
    {
        QStringList arguments{QStringLiteral("--verbose")};
        if (!editor.isEmpty())
            arguments << QStringLiteral("--editor=") + editor;
        return arguments << file;
    }

    // The first instance is up once it listens and has announced its own file.
    static bool isReady(const LumivexProcess &instance, const QString &file)
    {
        return instance.output().contains(QLatin1String("listening for other launches"))
            && instance.output().contains(announced(file, false));
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
        QTest::addColumn<bool>("merged");
        QTest::newRow("same editor named") << "Capture One" << "Capture One" << true;
        QTest::newRow("same launching program") << "" << "" << true;
        QTest::newRow("other editor") << "Capture One" << "Adobe Lightroom Classic" << false;
    }

    void secondLaunch()
    {
        QFETCH(QString, firstEditor);
        QFETCH(QString, secondEditor);
        QFETCH(bool, merged);
        const QString first = image(QStringLiteral("first.jpg"));
        const QString second = image(QStringLiteral("second one.png"));

        LumivexProcess running(m_environment);
        running.start(launch(firstEditor, first));
        QTRY_VERIFY2_WITH_TIMEOUT(isReady(running, first), qPrintable(running.output() + running.errors()), 30000);

        LumivexProcess later(m_environment);
        later.start(launch(secondEditor, second));
        if (merged) {
            QVERIFY(later.finish());
            QCOMPARE(later.process().exitStatus(), QProcess::NormalExit);
            QCOMPARE(later.process().exitCode(), 0);
            QVERIFY2(later.output().contains(QLatin1String("handed 1 file(s) over to the running instance")), qPrintable(later.output()));
            QTRY_VERIFY2_WITH_TIMEOUT(running.output().contains(announced(second, true)), qPrintable(running.output()), 20000);
            QVERIFY(running.output().contains(QStringLiteral("intercom mergeInstance data=\"%1\"").arg(second)));
            QCOMPARE(socketFiles().size(), 1);
        } else {
            QTRY_VERIFY2_WITH_TIMEOUT(isReady(later, second), qPrintable(later.output() + later.errors()), 30000);
            QVERIFY(later.isRunning());
            QVERIFY(!running.output().contains(QLatin1String("mergingInstance=true")));
            QCOMPARE(socketFiles().size(), 2);
            later.process().terminate();
            QVERIFY(later.finish());
            QCOMPARE(later.process().exitCode(), 0);
        }

        // A polite stop ends the instance normally and takes its name away with it.
        running.process().terminate();
        QVERIFY(running.finish());
        QCOMPARE(running.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(running.process().exitCode(), 0);
        QVERIFY2(socketFiles().isEmpty(), qPrintable(socketFiles().join(QLatin1Char(' '))));
    }

    void staleSocketIsRecovered()
    {
        const QString first = image(QStringLiteral("first.jpg"));
        const QString second = image(QStringLiteral("second.jpg"));
        LumivexProcess crashed(m_environment);
        crashed.start(launch(QStringLiteral("Capture One"), first));
        QTRY_VERIFY_WITH_TIMEOUT(isReady(crashed, first), 30000);
        crashed.process().kill();
        QVERIFY(crashed.finish());
        QCOMPARE(socketFiles().size(), 1);

        LumivexProcess next(m_environment);
        next.start(launch(QStringLiteral("Capture One"), second));
        // It runs on its own with its file, not merged anywhere.
        QTRY_VERIFY2_WITH_TIMEOUT(isReady(next, second), qPrintable(next.output() + next.errors()), 30000);
        QVERIFY(next.isRunning());
        QVERIFY(!next.output().contains(QLatin1String("handed")));

        // And it serves the launch after it.
        LumivexProcess third(m_environment);
        third.start(launch(QStringLiteral("Capture One"), first));
        QVERIFY(third.finish());
        QCOMPARE(third.process().exitCode(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(next.output().contains(announced(first, true)), 20000);
        next.process().terminate();
        QVERIFY(next.finish());
    }

    void batchRunsStayOutOfTheHandoff()
    {
        const QString first = image(QStringLiteral("first.jpg"));
        const QString copy = m_dir->filePath(QStringLiteral("copy.jpg"));
        QVERIFY(QFile::copy(first, copy));
        LumivexProcess running(m_environment);
        running.start(launch(QStringLiteral("Capture One"), first));
        QTRY_VERIFY_WITH_TIMEOUT(isReady(running, first), 30000);

        LumivexProcess batch(m_environment);
        batch.start({QStringLiteral("--auto=identity"), QStringLiteral("--editor=Capture One"), copy});
        QVERIFY(batch.finish());
        QCOMPARE(batch.process().exitCode(), 0);
        QVERIFY(batch.output().contains(QLatin1String("saved id=")));
        QVERIFY(!running.output().contains(QLatin1String("mergingInstance=true")));
        running.process().terminate();
        QVERIFY(running.finish());
    }
};

QTEST_GUILESS_MAIN(tst_LumivexHandoff)
#include "tst_lumivexhandoff.moc"
