#include "FuzzSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QVariantList>
#include <QVariantMap>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace FuzzSupport {

namespace {

void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
        std::abort();
    }
}

QString fixturePath;

// What the repeated lists of one input may add up to, in nodes and characters. Texts of
// megabytes (a strokes text past its field) would cost as much as thousands of inputs each, so
// they are left to the regular tests and the fuzzing stays fast.
qint64 repeatBudget = 0;

qint64 weight(const QVariant &value)
{
    qint64 total = 1;
    if (value.typeId() == QMetaType::QString)
        total += value.toString().size();
    else if (value.typeId() == QMetaType::QVariantList)
        for (const QVariant &item : value.toList())
            total += weight(item);
    else if (value.typeId() == QMetaType::QVariantMap) {
        const QVariantMap map = value.toMap();
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            total += it.key().size() + weight(it.value());
    }
    return total;
}

void removeFixture()
{
    if (!fixturePath.isEmpty())
        QDir(fixturePath).removeRecursively();
}

} // namespace

void initialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    qInstallMessageHandler(quietHandler);
    // Code that asks whether a level is on skips building lines nobody will read.
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false\n*.warning=false"));
}

void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "property broken: %s %s\n", what, qPrintable(detail));
    std::fflush(stderr);
    std::abort();
}

QString makeFixtureFolder()
{
    fixturePath = QDir::temp().filePath(QStringLiteral("lumivex-fuzz-%1").arg(QCoreApplication::applicationPid()));
    QDir(fixturePath).removeRecursively();
    QDir().mkpath(fixturePath + QStringLiteral("/sub"));
    const char *const names[] = {"a.jpg", "B.TIF", "c.png", "sub/d.jpeg", "notes.txt", "side.xmp"};
    for (const char *name : names) {
        QFile file(fixturePath + QLatin1Char('/') + QLatin1String(name));
        if (!file.open(QIODevice::WriteOnly))
            fail("cannot create fixture file", file.fileName());
        file.write("x");
    }
    QDir::setCurrent(fixturePath);
    std::atexit(removeFixture);
    return fixturePath;
}

QString consumeText(FuzzedDataProvider &in, std::size_t maxUnits)
{
    switch (in.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return QString::fromUtf8(QByteArray::fromStdString(in.ConsumeRandomLengthString(maxUnits * 3)));
    case 1:
        return QString::fromLatin1(QByteArray::fromStdString(in.ConsumeRandomLengthString(maxUnits)));
    default: {
        QString text;
        const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
        for (std::size_t i = 0; i < units && in.remaining_bytes() >= 2; ++i)
            text.append(QChar(in.ConsumeIntegral<char16_t>()));
        return text;
    }
    }
}

void resetRepeatBudget()
{
    repeatBudget = 4096;
}

QVariant consumeValue(FuzzedDataProvider &in, int depth, const QStringList &keys)
{
    const int kind = in.ConsumeIntegralInRange(0, depth > 0 ? 7 : 4);
    switch (kind) {
    case 0:
        return consumeText(in, 64);
    case 1:
        return QVariant::fromValue(in.ConsumeIntegral<qint64>());
    case 2:
        return in.ConsumeFloatingPoint<double>();
    case 3:
        return in.ConsumeBool();
    case 4:
        return QVariant();
    case 5: {
        QVariantMap map;
        const int entries = in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < entries && in.remaining_bytes() > 0; ++i) {
            const bool known = !keys.isEmpty() && in.ConsumeBool();
            const QString key =
                known ? keys.at(in.ConsumeIntegralInRange<int>(0, int(keys.size()) - 1)) : consumeText(in, 16);
            map.insert(key, consumeValue(in, depth - 1, keys));
        }
        return map;
    }
    case 6: {
        QVariantList list;
        const int entries = in.ConsumeIntegralInRange(0, 8);
        for (int i = 0; i < entries && in.remaining_bytes() > 0; ++i)
            list.append(consumeValue(in, depth - 1, keys));
        return list;
    }
    default: {
        // Few bytes, many elements: long texts from short inputs.
        const QVariant element = consumeValue(in, depth - 1, keys);
        const qint64 requested = in.ConsumeIntegralInRange(0, 64);
        const qint64 each = weight(element);
        const qint64 count = std::min(requested, repeatBudget / each);
        repeatBudget -= count * each;
        return QVariantList(qsizetype(count), element);
    }
    }
}

} // namespace FuzzSupport
