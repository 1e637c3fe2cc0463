#ifndef HOSTCORRUPTION_H
#define HOSTCORRUPTION_H

#include "IPCParams.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class FilterHostSession;
class HostChannel;

// Damage done on purpose to what the stand-in hands over, so that the application's refusal of
// a faulty filter module can be shown across real processes. Each kind is applied after the
// channels are filled and before the application is started. The catalogue says, for each kind,
// how a correct application ends; the tests of the refusals read it from here.
class HostCorruption
{
public:
    enum Kind {
        MissingParam,
        MissingPlane0,
        MissingPlane1,
        MissingPlane2,
        MissingMask,
        MissingIcc,
        DamagedGuard0,
        DamagedGuard1,
        DamagedGuard2,
        GuardPastMapping, // a plane's dataSize far beyond its mapping
        ShortRows, // rowBytes smaller than a row of samples
        OddRows, // rowBytes one byte less: an odd stride (needs row padding to stay in size)
        ShortPlanes, // each plane's dataSize one row short of what the record describes
        TallRecord, // the record's height one row more than the planes hold
        ShortMask, // the mask's dataSize one sample short
        ZeroWidth,
        ZeroHeight,
        OversizedIcc, // iccProfileSize beyond the ICC channel's mapped object
        NegativeIcc,
        UnterminatedProcessName,
        UnterminatedSettings
    };

    // FatalExitCode as the parent sees it: a POSIX parent gets the low eight bits only, a
    // Windows parent the whole code.
#ifdef _WIN32
    static constexpr int FatalExitSeen = FatalExitCode;
#else
    static constexpr int FatalExitSeen = FatalExitCode & 0xFF;
#endif

    // How the application ends on a hand-over with one kind of damage (image with a mask).
    struct Expectation
    {
        const char *name; // on the command line
        Kind kind;
        uint8_t status; // left in the record; UntouchedStatus: the record was never touched
        const char *log; // the application's critical log line; the record's error message
                         // too when status is StatusFailed
        int exitCode; // of the application; FatalExitSeen for its fatal end
    };

    // Every kind, in the order of Kind.
    static const std::vector<Expectation> &catalogue();
    static QStringList names();
    static bool fromName(const QString &name, Kind *kind);

    // Applies `kinds` to a created, filled session. Fails (with `error`) when a kind does not fit
    // the run, such as a missing mask for an image without one.
    static bool apply(const QList<Kind> &kinds, FilterHostSession &session, QString *error);

private:
    static bool applyOne(Kind kind, FilterHostSession &session, QString *error);
    // The channel whose names a Missing kind removes; null for every other kind.
    static HostChannel *channelToRemove(Kind kind, FilterHostSession &session);
    // Guards and payload sizes in the channels' own objects.
    static void damageChannel(Kind kind, FilterHostSession &session);
    // The record's geometry, profile size and texts.
    static void damageRecord(Kind kind, IPCParams &record, const HostChannel &icc);
};

#endif // HOSTCORRUPTION_H
