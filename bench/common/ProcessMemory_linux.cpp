#include "ProcessMemory.h"

#include <QFile>

#include <cstring>

namespace {

// One "Field:   1234 kB" line of /proc/self/status, in bytes; -1 when the kernel has no such field.
qint64 statusBytes(const QByteArray &status, const char *field)
{
    for (const QByteArray &line : status.split('\n')) {
        if (line.startsWith(field))
            return line.mid(int(std::strlen(field))).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

} // namespace

ProcessMemory::Counters ProcessMemory::read()
{
    Counters counters;
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly)) {
        counters.sharedMissing = counters.privateMissing = QStringLiteral("/proc/self/status cannot be read");
        return counters;
    }
    const QByteArray status = file.readAll();
    counters.resident = statusBytes(status, "VmRSS:");
    counters.peakResident = statusBytes(status, "VmHWM:");
    counters.sharedResident = statusBytes(status, "RssShmem:");
    counters.privateBytes = statusBytes(status, "RssAnon:");
    if (counters.sharedResident < 0)
        counters.sharedMissing = QStringLiteral("the kernel reports no RssShmem (before Linux 4.5)");
    if (counters.privateBytes < 0)
        counters.privateMissing = QStringLiteral("the kernel reports no RssAnon (before Linux 4.5)");
    return counters;
}

// Writing 5 to clear_refs resets the high-water mark (Linux 4.0 and later).
bool ProcessMemory::resetPeak()
{
    QFile file(QStringLiteral("/proc/self/clear_refs"));
    return file.open(QIODevice::WriteOnly) && file.write("5") == 1;
}

QString ProcessMemory::platform()
{
    return QStringLiteral("Linux");
}
