#include "imaging/OvExifToolMetadata.h"

#include <QtTest>

class tst_OvExifToolMetadata : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void orientation_data();
    void orientation();
};

void tst_OvExifToolMetadata::orientation_data()
{
    QTest::addColumn<QVariantMap>("metadata");
    QTest::addColumn<int>("expected");

    QTest::newRow("absent") << QVariantMap() << 1;
    QTest::newRow("number from JSON") << QVariantMap{{"EXIF:Orientation", 8.0}} << 8;
    QTest::newRow("text") << QVariantMap{{"EXIF:Orientation", QStringLiteral("3")}} << 3;
    QTest::newRow("zero") << QVariantMap{{"EXIF:Orientation", 0}} << 1;
    QTest::newRow("nine") << QVariantMap{{"EXIF:Orientation", 9}} << 1;
    QTest::newRow("not a number") << QVariantMap{{"EXIF:Orientation", QStringLiteral("Rotate 90 CW")}} << 1;
    QTest::newRow("XMP only") << QVariantMap{{"XMP:Orientation", 5}} << 5;
    QTest::newRow("EXIF wins over XMP") << QVariantMap{{"EXIF:Orientation", 2}, {"XMP:Orientation", 7}} << 2;
}

void tst_OvExifToolMetadata::orientation()
{
    QFETCH(QVariantMap, metadata);
    QFETCH(int, expected);
    QCOMPARE(OvExifToolMetadata(metadata).orientation(), expected);
}

QTEST_GUILESS_MAIN(tst_OvExifToolMetadata)
#include "tst_ovexiftoolmetadata.moc"
