#ifndef CHANNELQTLOG_H
#define CHANNELQTLOG_H

// Sends the channel's and the lock's log lines through Qt's message logger (default category),
// at the level each line was written with.
namespace ChannelQtLog {

void install();

} // namespace ChannelQtLog

#endif // CHANNELQTLOG_H
