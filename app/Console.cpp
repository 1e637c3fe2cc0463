#include "Console.h"

#include "imaging/ImageData.h"

#include <QSize>
#include <QTextStream>

#include <cstdio>
#include <memory>

void Console::line(const QString &text)
{
    QTextStream out(stdout);
    out << "lumivex: " << text << Qt::endl;
}

void Console::error(const QString &text)
{
    QTextStream err(stderr);
    err << "lumivex: " << text << Qt::endl;
}

QString Console::quoted(const QString &text)
{
    QString escaped = text;
    escaped.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
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
