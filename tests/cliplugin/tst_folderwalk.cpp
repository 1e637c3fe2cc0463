#include "FolderWalk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// The files of a dropped folder: those with a dot in their names, in every subfolder.
class tst_FolderWalk : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void files_data();
    void files();
};

void tst_FolderWalk::files_data()
{
    QTest::addColumn<QStringList>("tree"); // files to make; a trailing "/" makes a folder
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("empty folder") << QStringList{} << QStringList{};
    QTest::newRow("flat") << QStringList{"a.jpg", "b.XMP", "notes.txt"} << QStringList{"a.jpg", "b.XMP", "notes.txt"};
    QTest::newRow("names without a dot skipped") << QStringList{"README", "c.png"} << QStringList{"c.png"};
    QTest::newRow("all subfolders") << QStringList{"sub/two.JPEG", "sub/deeper/three.png", "one.jpg"}
                                    << QStringList{"one.jpg", "sub/deeper/three.png", "sub/two.JPEG"};
    QTest::newRow("folders with dots are no files") << QStringList{"album.2024/", "album.2024/x.tif"}
                                                    << QStringList{"album.2024/x.tif"};
}

void tst_FolderWalk::files()
{
    QFETCH(QStringList, tree);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    for (const QString &entry : tree) {
        const QString path = dir.filePath(entry);
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        if (entry.endsWith(QLatin1Char('/')))
            continue;
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QStringList found = FolderWalk::files(dir.path());
    found.replaceInStrings(dir.path() + QLatin1Char('/'), QString());
    found.sort();
    QCOMPARE(found, expected);
    QVERIFY(FolderWalk::files(QString()).isEmpty());
}

QTEST_GUILESS_MAIN(tst_FolderWalk)
#include "tst_folderwalk.moc"
