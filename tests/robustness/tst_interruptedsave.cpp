// A process saving in place through OvImageWriter is killed outright (SIGKILL, TerminateProcess)
// at random points of its saves. The file must always be the old or the new image, whole; the next
// save that completes leaves no temporary file beside it.

#include "TestHelpers.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>


namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString saveLoopPath()
{
    return TestHelpers::binDir() + QStringLiteral("/ovsaveloop");
}

// Runs the loop for `count` saves; the time from its first output to its end in ms, -1 on failure.
qint64 runToEnd(const QString &target, int count)
{
    QProcess process;
    process.start(saveLoopPath(), {target, QString::number(count)});
    if (!process.waitForReadyRead(30000))
        return -1;
    QElapsedTimer timer;
    timer.start();
    const bool done = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return done ? timer.elapsed() : -1;
}

} // namespace

class tst_InterruptedSave : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void killedSaveLeavesOldOrNewImage_data();
    void killedSaveLeavesOldOrNewImage();

private:
    QTemporaryDir m_references;
    QByteArray m_firstImage;
    QByteArray m_secondImage;
    qint64 m_saveMs = 0;
    quint32 m_seed = 0;
};

// The loop's two images as the writer encodes them, and how long one save takes here: an even
// number of saves ends with the second image.
void tst_InterruptedSave::initTestCase()
{
    QVERIFY(m_references.isValid());
    const QString first = m_references.filePath(QStringLiteral("first.png"));
    const QString second = m_references.filePath(QStringLiteral("second.png"));
    QVERIFY(runToEnd(first, 1) >= 0);
    const qint64 elapsed = runToEnd(second, 6);
    QVERIFY(elapsed >= 0);
    m_saveMs = qMax<qint64>(1, elapsed / 6);
    m_firstImage = readAll(first);
    m_secondImage = readAll(second);
    QVERIFY(!m_firstImage.isEmpty() && m_firstImage != m_secondImage);
    m_seed = QRandomGenerator::global()->generate();
    qInfo() << "seed" << m_seed;
}

void tst_InterruptedSave::killedSaveLeavesOldOrNewImage_data()
{
    QTest::addColumn<int>("run");
    // 30 runs by default; a longer soak sets OV_INTERRUPTED_SAVE_RUNS.
    const int runs = qEnvironmentVariableIsSet("OV_INTERRUPTED_SAVE_RUNS")
        ? qEnvironmentVariableIntValue("OV_INTERRUPTED_SAVE_RUNS") : 30;
    for (int run = 1; run <= runs; ++run)
        QTest::addRow("run %d", run) << run;
}

void tst_InterruptedSave::killedSaveLeavesOldOrNewImage()
{
    QFETCH(int, run);
    QRandomGenerator random(m_seed + quint32(run));
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("photo.png"));
    QVERIFY(QFile::copy(m_references.filePath(QStringLiteral("first.png")), target));

    QProcess process;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(saveLoopPath(), {target});
    QVERIFY(process.waitForReadyRead(30000));
    // Anywhere in the first three saves: encoding, writing, syncing or renaming.
    const int delay = int(random.bounded(quint32(3 * m_saveMs + 1)));
    QTimer::singleShot(delay, &process, &QProcess::kill);
    QVERIFY(finished.wait(30000));
    QCOMPARE(process.exitStatus(), QProcess::CrashExit);

    // Both images are whole files from completed saves (initTestCase).
    const QByteArray after = readAll(target);
    QVERIFY2(after == m_firstImage || after == m_secondImage,
             qPrintable(QStringLiteral("%1 bytes, neither image (killed after %2 ms)").arg(after.size()).arg(delay)));

    // A kill between creating the temporary file and renaming it leaves that file behind; the
    // next completed save clears it away.
    QVERIFY(runToEnd(target, 1) >= 0);
    QCOMPARE(readAll(target), m_firstImage);
    const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    QCOMPARE(left, QStringList{QStringLiteral("photo.png")});
}

QTEST_GUILESS_MAIN(tst_InterruptedSave)
#include "tst_interruptedsave.moc"
