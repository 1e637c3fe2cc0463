// pslockholder: holds the lock of one channel from another process, for the lock tests.
// Usage: pslockholder CHANNEL_NAME. Prints "locked" once it holds the lock, releases it when a
// line arrives on standard input and prints "unlocked", then ends at the next line.

#include "SharedMemoryChannel.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char *argv[])
{
    if (argc != 2)
        return 4;
    SharedMemoryChannel<char> channel(argv[1], 0);
    if (channel.open() != 0)
        return 3;
    while (channel.tryLock() != 0) {
    }
    std::printf("locked\n");
    std::fflush(stdout);
    std::string line;
    std::getline(std::cin, line);
    channel.unlock();
    std::printf("unlocked\n");
    std::fflush(stdout);
    std::getline(std::cin, line);
    // The channel belongs to the test: unmap without removing its names.
    std::_Exit(0);
}
