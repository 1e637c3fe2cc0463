#include "CLIPluginData.h"
#include "TestHelpers.h"

#include "imaging/OvExifTool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// What the external-editor back end asks of the ExifTool wrapper for a thumbnail, and what it
// makes of the answer. The application's wrapper writes straight to the path it is given, so
// the back end must hand over the real thumbnail path and must not leave a planted link there.

namespace {

struct ThumbnailRequest
{
    QString source;
    QString thumbnail;
    bool linkAtRequest = false;
};

QList<ThumbnailRequest> g_requests;
bool g_wrapperMakesFile = true;

} // namespace

// This program's own wrapper operation: the back end's objects are linked into the program, so
// their call binds here and not to the ExifTool library. It records the request and, like the
// wrapper, answers later through the event loop.
void OvExifTool::saveThumbnailToFile(const QString &sourcePath, const QString &thumbnailPath, int)
{
    g_requests.append({sourcePath, thumbnailPath, QFileInfo(thumbnailPath).isSymLink()});
    if (g_wrapperMakesFile) {
        QFile out(thumbnailPath);
        if (out.open(QIODevice::WriteOnly))
            out.write("thumbnail");
    }
    QMetaObject::invokeMethod(
        this, [this, thumbnailPath] { Q_EMIT thumbnailFinished(thumbnailPath); }, Qt::QueuedConnection);
}

class tst_CliPluginThumbnailRequest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void request_data();
    void request();

private:
    QTemporaryDir m_dir;
};

void tst_CliPluginThumbnailRequest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("tmp")));
    qputenv("TMPDIR", QFile::encodeName(m_dir.filePath(QStringLiteral("tmp"))));
    QVERIFY(TestHelpers::writeRgbImage(m_dir.filePath(QStringLiteral("photo.png")),
                                       TestHelpers::makePattern(40, 30, CV_8U, 3)));
}

void tst_CliPluginThumbnailRequest::request_data()
{
    QTest::addColumn<bool>("plantedLink");
    QTest::addColumn<bool>("wrapperMakesFile");
    QTest::newRow("first load") << false << true;
    QTest::newRow("link planted at the thumbnail name") << true << true;
    QTest::newRow("wrapper makes no file") << false << false;
}

void tst_CliPluginThumbnailRequest::request()
{
    QFETCH(bool, plantedLink);
    QFETCH(bool, wrapperMakesFile);
    g_requests.clear();
    g_wrapperMakesFile = wrapperMakesFile;
    const QString source = m_dir.filePath(QStringLiteral("photo.png"));
    const QString thumb = QDir::tempPath() + QStringLiteral("/%1-thumbnail.jpeg").arg(qHash(QStringView(source), 0));
    const QString victim = m_dir.filePath(QStringLiteral("victim"));
    QFile::remove(thumb);
    QFile::remove(victim);
    if (plantedLink) {
        QFile out(victim);
        QVERIFY(out.open(QIODevice::WriteOnly) && out.write("victim") == 6);
        out.close();
        QVERIFY(QFile::link(victim, thumb));
    }

    CLIPluginData backEnd(QStringList{QStringLiteral("prog")});
    QSignalSpy loaded(&backEnd, &PluginData::imageLoaded);
    backEnd.loadImage(source, false);
    QVERIFY(loaded.wait(20000));

    QCOMPARE(g_requests.size(), 1);
    QCOMPARE(g_requests.first().source, source);
    QCOMPARE(g_requests.first().thumbnail, thumb);
    QVERIFY(!g_requests.first().linkAtRequest);
    const QVariantMap description = loaded.first().at(1).toMap();
    QCOMPARE(description.value(QStringLiteral("thumbnail")), wrapperMakesFile ? QVariant(thumb) : QVariant());
    if (plantedLink) {
        QFile in(victim);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(in.readAll(), QByteArray("victim"));
    }
}

QTEST_GUILESS_MAIN(tst_CliPluginThumbnailRequest)
#include "tst_cliplugin_thumbnailrequest.moc"
