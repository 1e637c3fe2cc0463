#include "PeakMemory.h"

#include "ProcessMemory.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

QString PeakMemory::Figure::perPixel(double pixels) const
{
    if (!measured())
        return QStringLiteral("not measured (%1)").arg(missing);
    return QStringLiteral("%1 bytes/pixel").arg(double(bytes) / pixels, 0, 'f', 2);
}

PeakMemory::Added PeakMemory::during(const std::function<void()> &call)
{
    return ProcessMemory::resetPeak() ? byHighWaterMark(call) : bySampling(call);
}

// Shared pages stay mapped once touched, so their share of the peak is what they add by the end.
PeakMemory::Added PeakMemory::byHighWaterMark(const std::function<void()> &call)
{
    const ProcessMemory::Counters before = ProcessMemory::read();
    call();
    const ProcessMemory::Counters after = ProcessMemory::read();
    Added added;
    added.method = QStringLiteral("high-water mark reset before the call");
    if (before.resident < 0 || after.peakResident < 0) {
        added.total.missing = added.own.missing = QStringLiteral("the system reports no resident set");
        added.shared.missing = added.total.missing;
        return added;
    }
    added.total.bytes = after.peakResident - before.resident;
    if (before.sharedResident < 0 || after.sharedResident < 0) {
        added.shared.missing = added.own.missing = after.sharedMissing;
        return added;
    }
    added.shared.bytes = after.sharedResident - before.sharedResident;
    added.own.bytes = added.total.bytes - added.shared.bytes;
    return added;
}

// The working set and the private bytes at their highest while the call runs, a sample a
// millisecond: a peak shorter than that can be missed, so the figures are lower bounds.
PeakMemory::Added PeakMemory::bySampling(const std::function<void()> &call)
{
    const QString privateMissing = privateCounterMissing();
    const ProcessMemory::Counters before = ProcessMemory::read();
    std::atomic<bool> done{false};
    qint64 residentPeak = before.resident;
    qint64 privatePeak = before.privateBytes;
    const auto sample = [&] {
        const ProcessMemory::Counters now = ProcessMemory::read();
        residentPeak = std::max(residentPeak, now.resident);
        privatePeak = std::max(privatePeak, now.privateBytes);
    };
    std::thread sampler([&] {
        while (!done.load()) {
            sample();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    call();
    done = true;
    sampler.join();
    sample();

    Added added;
    added.method = QStringLiteral("sampled every millisecond during the call");
    const ProcessMemory::Counters after = ProcessMemory::read();
    if (before.sharedResident >= 0 && after.sharedResident >= 0)
        added.shared.bytes = after.sharedResident - before.sharedResident;
    else
        added.shared.missing = before.sharedMissing;
    if (before.resident < 0)
        added.total.missing = QStringLiteral("the system reports no working set");
    else
        added.total.bytes = residentPeak - before.resident;
    if (privateMissing.isEmpty())
        added.own.bytes = privatePeak - before.privateBytes;
    else
        added.own.missing = privateMissing;
    return added;
}

// A counter is believed only once it has followed memory that this process alone holds: 64 MB,
// allocated and written. Wine, for one, fills the private bytes from the swap in use.
QString PeakMemory::privateCounterMissing()
{
    static const QString missing = [] {
        constexpr qint64 Probe = 64 << 20;
        const ProcessMemory::Counters before = ProcessMemory::read();
        if (before.privateBytes < 0)
            return before.privateMissing;
        std::vector<char> probe(size_t(Probe), 1);
        const ProcessMemory::Counters after = ProcessMemory::read();
        const qint64 grown = after.privateBytes - before.privateBytes;
        if (grown >= Probe * 3 / 4 && probe.back() == 1)
            return QString();
        return QStringLiteral("the private-bytes counter grew by %1 MB while 64 MB of private memory was "
                              "written")
            .arg(double(grown) / 1e6, 0, 'f', 1);
    }();
    return missing;
}
