// Stands in for `exiftool -stay_open`: a helper that never ends by itself while it is wanted. It
// does not read its input, so that only the tie, not a closed pipe, can end it; after a minute
// it gives up, so that a failed test leaves no process behind for long.
#include <chrono>
#include <thread>

int main()
{
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
}
