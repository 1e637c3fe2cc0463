#include "HostCorruption.h"

#include "FilterHostSession.h"

#include <cstring>

namespace {

const char *const KindNames[] = {
    "missing-param", "missing-plane0", "missing-plane1", "missing-plane2", "missing-mask", "missing-icc",
    "damaged-guard0", "damaged-guard1", "damaged-guard2", "short-rows", "short-planes", "zero-width",
    "zero-height", "oversized-icc", "unterminated-process-name", "unterminated-settings"};

// The stand-in keeps its own mapping of a channel whose names are removed, so it can still read
// what the application wrote into the record; only the application finds nothing to open.
void removeNames(HostChannel &channel)
{
    HostChannel::removeNamed(channel.name());
}

// Fills a text field completely, leaving no NUL anywhere in it. `pattern` repeats.
void fillWithoutNul(char *field, std::size_t size, const char *pattern)
{
    const std::size_t length = std::strlen(pattern);
    for (std::size_t i = 0; i < size; ++i)
        field[i] = pattern[i % length];
}

} // namespace

QStringList HostCorruption::names()
{
    QStringList list;
    for (const char *name : KindNames)
        list << QString::fromLatin1(name);
    return list;
}

bool HostCorruption::fromName(const QString &name, Kind *kind)
{
    const qsizetype index = names().indexOf(name);
    if (index < 0)
        return false;
    *kind = Kind(index);
    return true;
}

bool HostCorruption::apply(const QList<Kind> &kinds, FilterHostSession &session, QString *error)
{
    for (Kind kind : kinds) {
        if (!applyOne(kind, session, error))
            return false;
    }
    return true;
}

bool HostCorruption::applyOne(Kind kind, FilterHostSession &session, QString *error)
{
    IPCParams *record = session.record();
    switch (kind) {
    case MissingParam:
        removeNames(session.param());
        break;
    case MissingPlane0:
    case MissingPlane1:
    case MissingPlane2:
        removeNames(session.plane(kind - MissingPlane0));
        break;
    case MissingMask:
        if (!session.mask()) {
            *error = QStringLiteral("--corrupt missing-mask needs an input image with alpha");
            return false;
        }
        removeNames(*session.mask());
        break;
    case MissingIcc:
        removeNames(session.icc());
        break;
    case DamagedGuard0:
    case DamagedGuard1:
    case DamagedGuard2:
        session.plane(kind - DamagedGuard0).guard()[HostChannel::GuardSize - 1] = 0;
        break;
    case ShortRows:
        record->rowBytes = record->width * 2 - 2;
        break;
    case ShortPlanes:
        // The guard moves with the size, so only the geometry check can notice.
        for (int k = 0; k < 3; ++k) {
            HostChannel &plane = session.plane(k);
            const uint64_t shorter = plane.dataSize() - record->rowBytes;
            plane.info()->dataSize = shorter;
            std::memset(plane.data() + shorter, HostChannel::GuardByte, HostChannel::GuardSize);
        }
        break;
    case ZeroWidth:
        record->width = 0;
        break;
    case ZeroHeight:
        record->height = 0;
        break;
    case OversizedIcc:
        record->iccProfileSize = int32_t(session.icc().dataSize() + HostChannel::GuardSize + 1);
        break;
    case UnterminatedProcessName:
        fillWithoutNul(record->hostProcessName, IPCParams::HostProcessNameSize, "Photoshop.exe ");
        break;
    case UnterminatedSettings:
        FilterHostSession::fillTextFields(&record->settings, 'x');
        break;
    }
    return true;
}
