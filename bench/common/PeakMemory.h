#ifndef PEAKMEMORY_H
#define PEAKMEMORY_H

#include <QString>

#include <functional>

// How much memory a call adds at its peak, from the process's own counters (ProcessMemory).
// Where the system lets the high-water mark start afresh (Linux) the peak is exact; elsewhere
// (Windows) a thread samples the counters every millisecond while the call runs. A figure the
// system cannot give carries the reason instead, and is never taken for zero.
class PeakMemory
{
public:
    struct Figure
    {
        qint64 bytes = -1;
        QString missing; // why `bytes` is -1

        bool measured() const { return bytes >= 0; }
        // "8.26 bytes/pixel", or "not measured (reason)".
        QString perPixel(double pixels) const;
    };

    struct Added
    {
        Figure total; // the peak of the resident set (working set) above its level before the call
        Figure shared; // pages of shared memory that the call made resident
        Figure own; // memory of the process alone: `total` less `shared`, or the peak of private bytes
        QString method; // how the peak was taken
    };

    static Added during(const std::function<void()> &call);

private:
    static Added byHighWaterMark(const std::function<void()> &call);
    static Added bySampling(const std::function<void()> &call);
    static QString privateCounterMissing();
};

#endif // PEAKMEMORY_H
