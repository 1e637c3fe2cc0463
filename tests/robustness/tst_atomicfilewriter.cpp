// The one helper behind every write beside a target: the target is either left as it was or
// replaced whole, a planted link is replaced rather than followed, and a replaced file keeps
// its permissions, owner and group.

#include "AtomicFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeAll(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

} // namespace

class tst_AtomicFileWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void replace_data();
    void replace();
};

void tst_AtomicFileWriter::replace_data()
{
    // existing: what stands under the target name; committed: whether the write is completed.
    QTest::addColumn<QString>("existing");
    QTest::addColumn<bool>("committed");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("mode");
    QTest::newRow("new file, owner only") << "none" << true << QByteArray("new") << 0600;
    QTest::newRow("replaced file keeps its mode") << "file" << true << QByteArray("new") << 0640;
    QTest::newRow("abandoned write leaves the file") << "file" << false << QByteArray("old") << 0640;
    QTest::newRow("planted link replaced, not followed") << "link" << true << QByteArray("new") << 0600;
    QTest::newRow("another user's file keeps its owner") << "nobody" << true << QByteArray("new") << 0644;
}

void tst_AtomicFileWriter::replace()
{
    QFETCH(QString, existing);
    QFETCH(bool, committed);
    QFETCH(QByteArray, expected);
    QFETCH(int, mode);
    if (existing == QLatin1String("nobody") && ::geteuid() != 0)
        QSKIP("only root may save a file that another user owns");

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("photo.jpg"));
    const QString victim = dir.filePath(QStringLiteral("victim.jpg"));
    QVERIFY(writeAll(victim, "victim"));
    if (existing == QLatin1String("file") || existing == QLatin1String("nobody")) {
        QVERIFY(writeAll(target, "old"));
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(mode)), 0);
    } else if (existing == QLatin1String("link")) {
        QVERIFY(QFile::link(victim, target));
    }
    const uid_t nobody = 65534;
    if (existing == QLatin1String("nobody"))
        QCOMPARE(::chown(QFile::encodeName(target).constData(), nobody, nobody), 0);

    {
        AtomicFileWriter file(target);
        QVERIFY(file.open());
        QVERIFY(file.write("new"));
        // A reader sees the old state until the write is committed.
        QCOMPARE(QFileInfo(target).isSymLink(), existing == QLatin1String("link"));
        if (committed)
            QVERIFY2(file.commit(), qPrintable(file.errorString()));
    }

    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readAll(target), expected);
    QCOMPARE(readAll(victim), QByteArray("victim"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2); // no leftover
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
    if (existing == QLatin1String("nobody")) {
        QCOMPARE(info.st_uid, nobody);
        QCOMPARE(info.st_gid, gid_t(nobody));
    }
}

QTEST_GUILESS_MAIN(tst_AtomicFileWriter)
#include "tst_atomicfilewriter.moc"
