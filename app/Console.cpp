#include "Console.h"

#include "imaging/ImageData.h"

#include <QSize>
#include <QTextStream>

#include <cstdio>
#include <memory>

namespace {

// Control characters written as escapes: a file name, an error text or an editor name holding a
// line break must not start a line of its own that a reader would take for another event.
QString escapedControls(const QString &text, bool quoteMarks)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') && quoteMarks)
            escaped += QLatin1String("\\\\");
        else if (c == QLatin1Char('"') && quoteMarks)
            escaped += QLatin1String("\\\"");
        else if (c == QLatin1Char('\n'))
            escaped += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            escaped += QLatin1String("\\r");
        else if (c == QLatin1Char('\t'))
            escaped += QLatin1String("\\t");
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            escaped += c;
    }
    return escaped;
}

} // namespace

void Console::line(const QString &text)
{
    QTextStream out(stdout);
    out << "lumivex: " << escapedControls(text, false) << Qt::endl;
}

void Console::error(const QString &text)
{
    QTextStream err(stderr);
    err << "lumivex: " << escapedControls(text, false) << Qt::endl;
}

QString Console::quoted(const QString &text)
{
    return QLatin1Char('"') + escapedControls(text, true) + QLatin1Char('"');
}

QString Console::list(const QStringList &items)
{
    QStringList parts;
    for (const QString &item : items)
        parts << quoted(item);
    return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
}

QString Console::value(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<std::shared_ptr<ImageData>>()) {
        const auto image = value.value<std::shared_ptr<ImageData>>();
        return image ? QStringLiteral("<image %1x%2>").arg(image->width()).arg(image->height())
                     : QStringLiteral("<no image>");
    }
    switch (value.typeId()) {
    case QMetaType::QString:
        return quoted(value.toString());
    case QMetaType::QStringList:
        return list(value.toStringList());
    case QMetaType::QSize: {
        const QSize size = value.toSize();
        return QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
    }
    case QMetaType::QByteArray:
        return QStringLiteral("<%1 bytes>").arg(value.toByteArray().size());
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        QStringList parts;
        for (auto it = map.cbegin(); it != map.cend(); ++it)
            parts << it.key() + QLatin1Char('=') + Console::value(it.value());
        return QLatin1Char('{') + parts.join(QLatin1String(", ")) + QLatin1Char('}');
    }
    case QMetaType::QVariantList: {
        QStringList parts;
        for (const QVariant &item : value.toList())
            parts << Console::value(item);
        return QLatin1Char('[') + parts.join(QLatin1String(", ")) + QLatin1Char(']');
    }
    default:
        return value.toString();
    }
}
