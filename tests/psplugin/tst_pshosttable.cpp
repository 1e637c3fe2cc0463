// The host editor's display name from the record's signature and process name. The record's byte
// order and the names of Photoshop (Elements), Affinity Photo 2 and GIMP: tst_pspluginlifecycle.

#include "PSHostTable.h"

#include <QTest>

class tst_PSHostTable : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void displayName_data();
    void displayName();
};

void tst_PSHostTable::displayName_data()
{
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("processName");
    QTest::addColumn<QString>("displayName");

    QTest::newRow("case ignored") << "8BIM" << "PHOTOSHOP.EXE" << "Adobe Photoshop";
    QTest::newRow("luminar flex before luminar") << "8BIM" << "Luminar Flex.exe" << "Luminar Flex";
    QTest::newRow("luminar") << "8BIM" << "Luminar 4.exe" << "Luminar";
    QTest::newRow("8BIM unknown") << "8BIM" << "SomethingElse.exe" << "Host Editor";
    QTest::newRow("8BIM does not fall through") << "8BIM" << "XnViewMP.exe" << "Host Editor";
    QTest::newRow("acdsee ultimate") << "8BIF" << "ACDSeeUltimate2023.exe" << "ACDSee Ultimate";
    QTest::newRow("xnview mp") << "MIB8" << "XnViewMP.exe" << "XnView MP";
    QTest::newRow("paintshop pro") << "PSP9" << "anything" << "Corel PaintShop Pro";
    QTest::newRow("affinity 1") << "AffP" << "Photo.exe" << "Affinity Photo";
    QTest::newRow("affinity PffA 2") << "PffA" << "Affinity Photo 2.exe" << "Affinity Photo 2";
    QTest::newRow("paint.net") << ".PDN" << "PaintDotNet.exe" << "Paint.NET";
    QTest::newRow(".NET luminar") << ".NET" << "Luminar Neo.exe" << "Luminar";
    QTest::newRow(".NET unknown") << ".NET" << "Other.exe" << "Host Editor";
    QTest::newRow("orvane studio") << "Orvn" << "" << "Orvane Studio";
    QTest::newRow("unknown signature") << "ABCD" << "Photoshop.exe" << "Host Editor";
    QTest::newRow("signature is case-sensitive") << "8bim" << "Photoshop.exe" << "Host Editor";
}

void tst_PSHostTable::displayName()
{
    QFETCH(QString, signature);
    QFETCH(QString, processName);
    QFETCH(QString, displayName);
    QCOMPARE(PSHostTable::displayName(signature, processName), displayName);
}

QTEST_GUILESS_MAIN(tst_PSHostTable)
#include "tst_pshosttable.moc"
