#ifndef CHANNELLOG_H
#define CHANNELLOG_H

#include <string>

// Where the wire-protocol code (channel, lock) sends its log lines. That code builds without Qt,
// so that test programs for other systems can link it; the library plugs Qt's message logger
// in (ChannelQtLog). Until a sink is set, lines go to standard error.
namespace ChannelLog {

enum class Level { Info, Warning, Critical };

using Sink = void (*)(Level level, const std::string &text);

// Null restores standard error.
void setSink(Sink sink);
void write(Level level, const std::string &text);

} // namespace ChannelLog

#endif // CHANNELLOG_H
