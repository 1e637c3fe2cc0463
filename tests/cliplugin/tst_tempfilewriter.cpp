#include "TempFileWriter.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The copy back over a user's original: the rename mechanics belong to AtomicFileWriter's own
// test; what is the copy's own is that a source of several chunks arrives whole, the original
// keeps its permissions, and a missing source leaves the original alone.
class tst_TempFileWriter : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void copyOver_data();
    void copyOver();
};

void tst_TempFileWriter::copyOver_data()
{
    QTest::addColumn<QByteArray>("source"); // empty: no source file
    QTest::newRow("several chunks, permissions kept") << QByteArray(3 * 1024 * 1024 + 5, 'r');
    QTest::newRow("missing source leaves the original") << QByteArray();
}

void tst_TempFileWriter::copyOver()
{
    QFETCH(QByteArray, source);
    QTemporaryDir dir;
    const QString from = dir.filePath(QStringLiteral("result.jpeg"));
    const QString original = dir.filePath(QStringLiteral("IMG_1.HEIC"));
    const auto write = [](const QString &path, const QByteArray &data) {
        QFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write(data) == data.size();
    };
    QVERIFY(source.isEmpty() || write(from, source));
    QVERIFY(write(original, "original"));
    const auto permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    QVERIFY(QFile::setPermissions(original, permissions));

    QString error;
    QCOMPARE(TempFileWriter::copyOver(from, original, &error), !source.isEmpty());
    QCOMPARE(error.isEmpty(), !source.isEmpty());
    QFile in(original);
    QVERIFY(in.open(QIODevice::ReadOnly));
    QCOMPARE(in.readAll(), source.isEmpty() ? QByteArray("original") : source);
    // The owner, group and other bits; the "user" bits depend on who runs the test. Windows keeps
    // only the read-only attribute, which Qt reports as the write bits of all three.
#ifdef Q_OS_WIN
    QCOMPARE(bool(QFile::permissions(original) & QFile::WriteOwner), true);
#else
    QCOMPARE(QFile::permissions(original) & 0xf0ff, permissions);
#endif
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), source.isEmpty() ? 1 : 2);
}

QTEST_GUILESS_MAIN(tst_TempFileWriter)
#include "tst_tempfilewriter.moc"
