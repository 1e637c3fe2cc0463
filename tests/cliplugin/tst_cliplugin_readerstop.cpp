#include "CLIPluginData.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QSemaphore>
#include <QTest>
#include <QThread>

#include <memory>

// The back end never hands out its reader thread.
struct CLIPluginDataProbe
{
    static QThread *readerThread(const CLIPluginData &backEnd) { return backEnd.m_loadChain.readerThread(); }
};

namespace {

// QThread keeps the switch for subclasses; the stuck code runs on a thread it did not create.
struct TerminationSwitch : QThread
{
    using QThread::setTerminationEnabled;
};

} // namespace

// The back end's destruction while its reader thread is stuck where it can be neither quit nor
// terminated, as in a decoder that has switched off cancellation.
class tst_CliPluginReaderStop : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void stuckReaderThreadOutlivesBackEnd();
};

// Qt ends the process when a running QThread is deleted, so the destructor must leave the stuck
// thread alone after its two deadlines. The thread, once let go, ends on its own: the quit asked
// for is still due.
void tst_CliPluginReaderStop::stuckReaderThreadOutlivesBackEnd()
{
    auto backEnd = std::make_unique<CLIPluginData>(QStringList{QStringLiteral("prog")});
    QThread *thread = CLIPluginDataProbe::readerThread(*backEnd);
    QSemaphore stuck;
    QSemaphore letGo;
    auto *onReaderThread = new QObject;
    onReaderThread->moveToThread(thread);
    connect(thread, &QThread::finished, onReaderThread, &QObject::deleteLater);
    QMetaObject::invokeMethod(onReaderThread, [&stuck, &letGo] {
        TerminationSwitch::setTerminationEnabled(false);
        stuck.release();
        letGo.acquire();
    }, Qt::QueuedConnection);
    QVERIFY(stuck.tryAcquire(1, 20000));

    QTest::ignoreMessage(QtInfoMsg, "Stopping CLIPluginData thread");
    QTest::ignoreMessage(QtWarningMsg, "CLIPluginData thread timed out. Attempting to terminate.");
    QTest::ignoreMessage(QtCriticalMsg, "CLIPluginData thread could not terminate in time. Time to crash.");
    backEnd.reset();
    QVERIFY(thread->isRunning());

    letGo.release();
    QVERIFY(thread->wait(QDeadlineTimer(20000)));
    delete thread;
}

QTEST_GUILESS_MAIN(tst_CliPluginReaderStop)
#include "tst_cliplugin_readerstop.moc"
