// The one helper behind every write beside a target: the target is either left as it was or
// replaced whole, a planted link is replaced rather than followed, and a replaced file keeps
// its permissions, owner and group. A file that another program holds open is replaced when its
// sharing mode allows (always on POSIX); otherwise it keeps its old content whole.

#include "AtomicFileWriter.h"
#include "HeldFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

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

// Whether a file held open without FILE_SHARE_DELETE can be replaced: Windows refuses it.
#ifdef Q_OS_WIN
constexpr bool HeldWithoutDeleteIsReplaced = false;
#else
constexpr bool HeldWithoutDeleteIsReplaced = true;
#endif

} // namespace

class tst_AtomicFileWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void replace_data();
    void replace();
    void targetNeverMissing();

private:
    static void giveOwnership(const QString &target, const QString &existing, int mode);
    static void checkOwnership(const QString &target, const QString &existing, int mode);
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
    QTest::newRow("held file, sharing delete") << "held, sharing delete" << true << QByteArray("new") << 0640;
    QTest::newRow("held file, not sharing delete")
        << "held" << true << QByteArray(HeldWithoutDeleteIsReplaced ? "new" : "old") << 0640;
}

void tst_AtomicFileWriter::replace()
{
    QFETCH(QString, existing);
    QFETCH(bool, committed);
    QFETCH(QByteArray, expected);
    QFETCH(int, mode);
#ifdef Q_OS_UNIX
    if (existing == QLatin1String("nobody") && ::geteuid() != 0)
        QSKIP("only root may save a file that another user owns");
#else
    if (existing == QLatin1String("nobody") || existing == QLatin1String("link"))
        QSKIP("owners and planted links are POSIX cases");
#endif
    const bool held = existing.startsWith(QLatin1String("held"));

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("photo.jpg"));
    const QString victim = dir.filePath(QStringLiteral("victim.jpg"));
    QVERIFY(writeAll(victim, "victim"));
    if (existing != QLatin1String("none") && existing != QLatin1String("link")) {
        QVERIFY(writeAll(target, "old"));
        giveOwnership(target, existing, mode);
    } else if (existing == QLatin1String("link")) {
        QVERIFY(QFile::link(victim, target));
    }

    {
        const HeldFile holder(held ? target : QString(), existing.endsWith(QLatin1String("sharing delete")));
        QCOMPARE(holder.isOpen(), held);
        AtomicFileWriter file(target);
        QVERIFY(file.open());
        QVERIFY(file.write("new"));
        // A reader sees the old state until the write is committed.
        QCOMPARE(QFileInfo(target).isSymLink(), existing == QLatin1String("link"));
        if (committed) {
            const bool replaced = file.commit();
            QVERIFY2(replaced == (expected == "new"), qPrintable(file.errorString()));
            if (!replaced)
                QVERIFY(!file.errorString().isEmpty());
        }
    }

    QVERIFY(!QFileInfo(target).isSymLink());
    QCOMPARE(readAll(target), expected);
    QCOMPARE(readAll(victim), QByteArray("victim"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2); // no leftover
    checkOwnership(target, existing, mode);
}

// A replace that moves the target aside before it moves the new file in (as Wine's ReplaceFile
// does) leaves a moment with no file, and a save killed in it loses the photo. The watcher only
// asks for the name, never opens the file: an open handle would make it a held file.
void tst_AtomicFileWriter::targetNeverMissing()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("photo.jpg"));
    QVERIFY(writeAll(target, "old"));

    std::atomic<bool> saving{true};
    std::atomic<int> missing{0};
    std::thread watcher([&] {
        while (saving)
            if (!QFileInfo::exists(target))
                ++missing;
    });
    int saved = 0;
    for (; saved < 200; ++saved) {
        AtomicFileWriter file(target);
        if (!file.open() || !file.write(QByteArray::number(saved)) || !file.commit())
            break;
    }
    saving = false;
    watcher.join();
    QCOMPARE(saved, 200);
    QCOMPARE(missing.load(), 0);
    QCOMPARE(readAll(target), QByteArray("199"));
}

#ifdef Q_OS_UNIX
const uid_t Nobody = 65534;

void tst_AtomicFileWriter::giveOwnership(const QString &target, const QString &existing, int mode)
{
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), mode_t(mode)), 0);
    if (existing == QLatin1String("nobody"))
        QCOMPARE(::chown(QFile::encodeName(target).constData(), Nobody, Nobody), 0);
}

void tst_AtomicFileWriter::checkOwnership(const QString &target, const QString &existing, int mode)
{
    struct stat info;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &info), 0);
    QCOMPARE(int(info.st_mode & 07777), mode);
    if (existing == QLatin1String("nobody")) {
        QCOMPARE(info.st_uid, Nobody);
        QCOMPARE(info.st_gid, gid_t(Nobody));
    }
}
#else
// Windows keeps neither POSIX modes nor owners.
void tst_AtomicFileWriter::giveOwnership(const QString &, const QString &, int) {}
void tst_AtomicFileWriter::checkOwnership(const QString &, const QString &, int) {}
#endif

QTEST_GUILESS_MAIN(tst_AtomicFileWriter)
#include "tst_atomicfilewriter.moc"
