#include "HostCorruption.h"

#include "FilterHostSession.h"

#include <cstring>

namespace {

const char *const VerifyFail = "IPC memory verify fail";

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

// The guard moves with the size, so only the geometry check can notice.
void shortenPlanes(FilterHostSession &session)
{
    const uint32_t rowBytes = session.record()->rowBytes;
    for (int k = 0; k < 3; ++k) {
        HostChannel &plane = session.plane(k);
        const uint64_t shorter = plane.dataSize() - rowBytes;
        plane.info()->dataSize = shorter;
        std::memset(plane.data() + shorter, HostChannel::GuardByte, HostChannel::GuardSize);
    }
}

} // namespace

const std::vector<HostCorruption::Expectation> &HostCorruption::catalogue()
{
    // Before the record is open the application can only log: the module sees it untouched.
    static const std::vector<Expectation> kinds = {
        {"missing-param", MissingParam, FilterHostSession::UntouchedStatus, "Failed to open shared memory for params",
         FatalExitSeen},
        {"missing-plane0", MissingPlane0, StatusFailed, "Failed to open shared memory for channel 0", FatalExitSeen},
        {"missing-plane1", MissingPlane1, StatusFailed, "Failed to open shared memory for channel 1", FatalExitSeen},
        {"missing-plane2", MissingPlane2, StatusFailed, "Failed to open shared memory for channel 2", FatalExitSeen},
        {"missing-mask", MissingMask, StatusFailed, "Failed to open shared memory for mask channel", FatalExitSeen},
        {"missing-icc", MissingIcc, StatusFailed, "Failed to open shared memory for ICC profile", FatalExitSeen},
        {"damaged-guard0", DamagedGuard0, StatusFailed, VerifyFail, FatalExitSeen},
        {"damaged-guard1", DamagedGuard1, StatusFailed, VerifyFail, FatalExitSeen},
        {"damaged-guard2", DamagedGuard2, StatusFailed, VerifyFail, FatalExitSeen},
        {"guard-past-mapping", GuardPastMapping, StatusFailed, VerifyFail, FatalExitSeen},
        {"short-rows", ShortRows, StatusFailed, VerifyFail, FatalExitSeen},
        {"odd-rows", OddRows, StatusFailed, VerifyFail, FatalExitSeen},
        {"short-planes", ShortPlanes, StatusFailed, VerifyFail, FatalExitSeen},
        {"tall-record", TallRecord, StatusFailed, VerifyFail, FatalExitSeen},
        {"short-mask", ShortMask, StatusFailed, VerifyFail, FatalExitSeen},
        {"zero-width", ZeroWidth, StatusFailed, VerifyFail, FatalExitSeen},
        {"zero-height", ZeroHeight, StatusFailed, VerifyFail, FatalExitSeen},
        {"oversized-icc", OversizedIcc, StatusFailed, VerifyFail, FatalExitSeen},
        {"negative-icc", NegativeIcc, StatusFailed, VerifyFail, FatalExitSeen},
        // Unterminated text is read up to the end of its field: the run goes on as usual.
        {"unterminated-process-name", UnterminatedProcessName, StatusImageSaved, "", 0},
        {"unterminated-settings", UnterminatedSettings, StatusImageSaved, "", 0},
    };
    return kinds;
}

QStringList HostCorruption::names()
{
    QStringList list;
    for (const Expectation &entry : catalogue())
        list << QString::fromLatin1(entry.name);
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

// A kind damages one of three things: the names of a channel, what a channel's own objects say
// (its guard, its payload size), or the record.
bool HostCorruption::applyOne(Kind kind, FilterHostSession &session, QString *error)
{
    if ((kind == MissingMask || kind == ShortMask) && !session.mask()) {
        *error = QStringLiteral("--corrupt %1 needs an input image with alpha").arg(names().at(kind));
        return false;
    }
    if (HostChannel *channel = channelToRemove(kind, session))
        removeNames(*channel);
    damageChannel(kind, session);
    damageRecord(kind, *session.record(), session.icc());
    return true;
}

HostChannel *HostCorruption::channelToRemove(Kind kind, FilterHostSession &session)
{
    switch (kind) {
    case MissingParam:
        return &session.param();
    case MissingPlane0:
    case MissingPlane1:
    case MissingPlane2:
        return &session.plane(kind - MissingPlane0);
    case MissingMask:
        return session.mask();
    case MissingIcc:
        return &session.icc();
    default:
        return nullptr;
    }
}

void HostCorruption::damageChannel(Kind kind, FilterHostSession &session)
{
    switch (kind) {
    case DamagedGuard0:
    case DamagedGuard1:
    case DamagedGuard2:
        session.plane(kind - DamagedGuard0).guard()[HostChannel::GuardSize - 1] = 0;
        break;
    case GuardPastMapping:
        session.plane(1).info()->dataSize = uint64_t(1) << 40;
        break;
    case ShortPlanes:
        shortenPlanes(session);
        break;
    case ShortMask:
        session.mask()->info()->dataSize -= 2;
        break;
    default:
        break;
    }
}

void HostCorruption::damageRecord(Kind kind, IPCParams &record, const HostChannel &icc)
{
    switch (kind) {
    case ShortRows:
        record.rowBytes = record.width * 2 - 2;
        break;
    case OddRows:
        record.rowBytes -= 1;
        break;
    case TallRecord:
        record.height += 1;
        break;
    case ZeroWidth:
        record.width = 0;
        break;
    case ZeroHeight:
        record.height = 0;
        break;
    case OversizedIcc:
        record.iccProfileSize = int32_t(icc.dataSize() + HostChannel::GuardSize + 1);
        break;
    case NegativeIcc:
        record.iccProfileSize = -1;
        break;
    case UnterminatedProcessName:
        fillWithoutNul(record.hostProcessName, IPCParams::HostProcessNameSize, "Photoshop.exe ");
        break;
    case UnterminatedSettings:
        FilterHostSession::fillTextFields(&record.settings, 'x');
        break;
    default:
        break;
    }
}
