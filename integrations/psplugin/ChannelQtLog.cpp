#include "ChannelQtLog.h"

#include "ChannelLog.h"

#include <QDebug>
#include <QString>

namespace ChannelQtLog {

namespace {

void toQt(ChannelLog::Level level, const std::string &text)
{
    const QString line = QString::fromStdString(text);
    switch (level) {
    case ChannelLog::Level::Info:
        qInfo().noquote() << line;
        break;
    case ChannelLog::Level::Warning:
        qWarning().noquote() << line;
        break;
    case ChannelLog::Level::Critical:
        qCritical().noquote() << line;
        break;
    }
}

} // namespace

void install()
{
    ChannelLog::setSink(&toQt);
}

} // namespace ChannelQtLog
