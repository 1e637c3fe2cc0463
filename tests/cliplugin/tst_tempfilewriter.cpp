#include "TempFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

// Files under predictable names: written new and renamed into place, links replaced not followed.
class tst_TempFileWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void writeNew_data();
    void writeNew();
    void copyOverKeepsPermissions();
    void copyOverMissingSourceLeavesTarget();
    void renameOverFailsIntoMissingFolder();

private:
    QString path(const QString &name) const { return m_dir->path() + QLatin1Char('/') + name; }
    static QByteArray read(const QString &file);
    static void write(const QString &file, const QByteArray &data);

    std::unique_ptr<QTemporaryDir> m_dir;
};

QByteArray tst_TempFileWriter::read(const QString &file)
{
    QFile in(file);
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<unreadable>");
}

void tst_TempFileWriter::write(const QString &file, const QByteArray &data)
{
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(data);
}

void tst_TempFileWriter::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_TempFileWriter::writeNew_data()
{
    QTest::addColumn<QString>("existing"); // "none", "file", "link", "danglingLink"
    QTest::newRow("no file yet") << "none";
    QTest::newRow("replaces a file") << "file";
    QTest::newRow("replaces a link, target untouched") << "link";
    QTest::newRow("replaces a dangling link, nothing created behind it") << "danglingLink";
}

void tst_TempFileWriter::writeNew()
{
    QFETCH(QString, existing);
    const QString target = path(QStringLiteral("name.png"));
    const QString victim = path(QStringLiteral("victim"));
    if (existing == QLatin1String("file"))
        write(target, "old");
    if (existing == QLatin1String("link")) {
        write(victim, "victim");
        QVERIFY(QFile::link(victim, target));
    }
    if (existing == QLatin1String("danglingLink"))
        QVERIFY(QFile::link(victim, target));

    QString error;
    QVERIFY2(TempFileWriter::writeNew(target, "new content", &error), qPrintable(error));
    QCOMPARE(read(target), QByteArray("new content"));
    QVERIFY(!QFileInfo(target).isSymLink());
    if (existing == QLatin1String("link"))
        QCOMPARE(read(victim), QByteArray("victim"));
    if (existing == QLatin1String("danglingLink"))
        QVERIFY(!QFile::exists(victim));
    // Only the target is left: no temporary sibling.
    const QStringList left = QDir(m_dir->path()).entryList(QDir::Files | QDir::System);
    QCOMPARE(left.contains(QStringLiteral("name.png")), true);
    QCOMPARE(left.size(), existing == QLatin1String("link") ? 2 : 1);
}

void tst_TempFileWriter::copyOverKeepsPermissions()
{
    const QString source = path(QStringLiteral("result.jpeg"));
    const QString original = path(QStringLiteral("IMG_1.HEIC"));
    write(source, QByteArray(3 * 1024 * 1024, 'r'));
    write(original, "original");
    const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(original, permissions));

    QString error;
    QVERIFY2(TempFileWriter::copyOver(source, original, &error), qPrintable(error));
    QCOMPARE(read(original), read(source));
    // The owner, group and other bits; the "user" bits depend on who runs the test.
    QCOMPARE(QFile::permissions(original) & 0xf0ff, permissions);
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files).size(), 2);
}

void tst_TempFileWriter::copyOverMissingSourceLeavesTarget()
{
    const QString original = path(QStringLiteral("keep.jpg"));
    write(original, "original");
    QString error;
    QVERIFY(!TempFileWriter::copyOver(path(QStringLiteral("absent.jpeg")), original, &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(read(original), QByteArray("original"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{QStringLiteral("keep.jpg")});
}

void tst_TempFileWriter::renameOverFailsIntoMissingFolder()
{
    const QString from = path(QStringLiteral("from"));
    write(from, "data");
    QString error;
    QVERIFY(!TempFileWriter::renameOver(from, path(QStringLiteral("no/such/place")), &error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(read(from), QByteArray("data"));
}

QTEST_GUILESS_MAIN(tst_TempFileWriter)
#include "tst_tempfilewriter.moc"
