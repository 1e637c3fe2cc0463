// saveImage as the image library sees it: which full matrix the back end asks for, and what it
// does with the channel count the library answers with. The library's ImageData::fullMat is
// replaced in this program by one that records the question and answers with a chosen channel
// count, so that answers a real library may give (alpha kept, alpha missing) can be posed.

#include "PSTestSupport.h"

#include "imaging/ImageData.h"
#include "psplugin/PSPluginData.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <opencv2/imgproc.hpp>

#include <vector>

using namespace PSTestSupport;

namespace {

constexpr int Width = 21;
constexpr int Height = 13;

std::vector<bool> g_questions;
int g_answerChannels = 0;
cv::Size g_answerSize;

// Host samples after the save: 1.0, 0.5, 0.0 and 0.25 of the full range.
const uint16_t Expected[4] = {32767, 16384, 0, 8192};

std::vector<uint16_t> planeSamples(HostChannel &channel, uint32_t rowBytes)
{
    std::vector<uint16_t> samples;
    for (int y = 0; y < Height; ++y) {
        const auto *row = reinterpret_cast<const uint16_t *>(channel.data() + size_t(y) * rowBytes);
        samples.insert(samples.end(), row, row + Width);
    }
    return samples;
}

} // namespace

// Binds in place of the image library's own: libintegrations imports the symbol, and this
// program's definition comes first in the lookup.
cv::Mat ImageData::fullMat(bool alpha) const
{
    g_questions.push_back(alpha);
    cv::Mat answer = mat();
    if (answer.channels() != g_answerChannels)
        cv::cvtColor(answer, answer, g_answerChannels == 4 ? cv::COLOR_RGB2RGBA : cv::COLOR_RGBA2RGB);
    if (answer.size() != g_answerSize)
        answer = answer(cv::Rect(cv::Point(0, 0), g_answerSize)).clone();
    return answer;
}

class tst_PSFullMatRequest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void save_data();
    void save();

private:
    QTemporaryDir m_temp;
    FilterHostSession *m_session = nullptr;
    PSPluginData *m_backEnd = nullptr;
};

void tst_PSFullMatRequest::initTestCase()
{
    QVERIFY(m_temp.isValid());
    qputenv("TMPDIR", QFile::encodeName(m_temp.path()));
}

void tst_PSFullMatRequest::cleanup()
{
    endBackEnd(m_session, m_backEnd);
}

void tst_PSFullMatRequest::save_data()
{
    QTest::addColumn<bool>("mask");
    QTest::addColumn<int>("imageChannels");
    QTest::addColumn<int>("answerChannels");
    QTest::addColumn<QSize>("answerSize");
    QTest::addColumn<QString>("critical"); // empty: none
    QTest::addColumn<bool>("written");
    const QSize size(Width, Height);
    QTest::newRow("mask, alpha asked for") << true << 4 << 4 << size << QString() << true;
    QTest::newRow("no mask, alpha dropped by the library") << false << 4 << 3 << size << QString() << true;
    QTest::newRow("no mask, library keeps alpha")
        << false << 4 << 4 << size
        << "Mat channels and alpha pointer don't match up. Have 4 channels and alpha pointer is null" << true;
    QTest::newRow("mask, library gives no alpha")
        << true << 3 << 3 << size
        << "Mat channels and alpha pointer don't match up. Have 3 channels and alpha pointer is not null" << true;
    QTest::newRow("library answers one row short")
        << true << 4 << 4 << QSize(Width, Height - 1) << QStringLiteral("Cannot save image with new dimensions %1 %2").arg(Width).arg(Height - 1)
        << false;
}

void tst_PSFullMatRequest::save()
{
    QFETCH(bool, mask);
    QFETCH(int, imageChannels);
    QFETCH(int, answerChannels);
    QFETCH(QSize, answerSize);
    QFETCH(QString, critical);
    QFETCH(bool, written);
    m_backEnd = startBackEnd(m_session, makeHostImage(Width, Height, false, mask));
    QVERIFY(m_backEnd);
    const uint32_t rowBytes = m_session->record()->rowBytes;
    std::vector<uint16_t> before[4];
    for (int k = 0; k < 3; ++k)
        before[k] = planeSamples(m_session->plane(k), rowBytes);
    if (mask)
        before[3] = planeSamples(*m_session->mask(), rowBytes);

    const cv::Scalar pixel(1.0, 0.5, 0.0, 0.25);
    const auto image = std::make_shared<ImageData>(cv::Mat(Height, Width, CV_32FC(imageChannels), pixel), cv::Mat());
    g_questions.clear();
    g_answerChannels = answerChannels;
    g_answerSize = cv::Size(answerSize.width(), answerSize.height());
    QSignalSpy saved(m_backEnd, &PluginData::imageSaved);
    const QStringList criticals = messagesDuring(QtCriticalMsg, [&] {
        m_backEnd->saveImage(image, QString(), QStringLiteral("out"), {}, {});
    });

    QCOMPARE(g_questions, std::vector<bool>{mask});
    QCOMPARE(criticals, critical.isEmpty() ? QStringList() : QStringList{critical});
    QCOMPARE(saved.size(), written ? 1 : 0);
    for (int k = 0; k < 3; ++k)
        QCOMPARE(planeSamples(m_session->plane(k), rowBytes),
                 written ? std::vector<uint16_t>(size_t(Width * Height), Expected[k]) : before[k]);
    if (mask) {
        const bool maskWritten = written && answerChannels == 4;
        QCOMPARE(planeSamples(*m_session->mask(), rowBytes),
                 maskWritten ? std::vector<uint16_t>(size_t(Width * Height), Expected[3]) : before[3]);
    }
}

QTEST_GUILESS_MAIN(tst_PSFullMatRequest)
#include "tst_psfullmatrequest.moc"
