// The ExifTool helper ends with the application on every path by which the application ends:
// a helper left behind keeps polling for commands, holds its files and is started anew by the
// next launch. The parent here ends the two ways that run none of its own clean-up.
#include "ProcessProbe.h"
#include "TestHelpers.h"

#include <QProcess>
#include <QScopeGuard>
#include <QTest>

class tst_ChildProcessTie : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void helperEndsWithItsParent_data();
    void helperEndsWithItsParent();
};

void tst_ChildProcessTie::helperEndsWithItsParent_data()
{
    QTest::addColumn<bool>("parentKilled"); // killed from outside, or its own _Exit
    QTest::newRow("parent killed") << true;
    QTest::newRow("parent ends through _Exit") << false;
}

void tst_ChildProcessTie::helperEndsWithItsParent()
{
    QFETCH(bool, parentKilled);
    QProcess parent;
    QStringList arguments{TestHelpers::binDir() + QStringLiteral("/childtie_child")};
    if (!parentKilled)
        arguments << QStringLiteral("--exit");
    parent.start(TestHelpers::binDir() + QStringLiteral("/childtie_parent"), arguments);
    QVERIFY(parent.waitForStarted());
    QByteArray output;
    QTRY_VERIFY_WITH_TIMEOUT((output += parent.readAllStandardOutput()).contains('\n'), 20000);
    const QByteArray line = output.trimmed();
    QVERIFY2(line.startsWith("child="), line.constData());
    const qint64 helper = line.mid(6).toLongLong();
    const auto leaveNothingRunning = qScopeGuard([helper] {
        if (ProcessProbe::isRunning(helper))
            ProcessProbe::terminate(helper);
    });
    QVERIFY(ProcessProbe::isRunning(helper));

    if (parentKilled)
        parent.kill();
    else
        parent.write("end\n");
    QVERIFY(parent.waitForFinished(20000));
    if (!parentKilled)
        QCOMPARE(parent.exitCode(), 7);
    QTRY_VERIFY_WITH_TIMEOUT(!ProcessProbe::isRunning(helper), 10000);
}

QTEST_GUILESS_MAIN(tst_ChildProcessTie)
#include "tst_childprocesstie.moc"
