#include "ChannelLog.h"

#include <atomic>
#include <cstdio>

namespace ChannelLog {

namespace {

std::atomic<Sink> currentSink{nullptr};

} // namespace

void setSink(Sink sink)
{
    currentSink.store(sink);
}

void write(Level level, const std::string &text)
{
    if (const Sink sink = currentSink.load()) {
        sink(level, text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

} // namespace ChannelLog
