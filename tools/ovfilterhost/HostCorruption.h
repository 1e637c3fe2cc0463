#ifndef HOSTCORRUPTION_H
#define HOSTCORRUPTION_H

#include <QList>
#include <QString>
#include <QStringList>

class FilterHostSession;

// Damage done on purpose to what the stand-in hands over, so that the application's refusal of
// a faulty filter module can be shown across real processes. Each kind is applied after the
// channels are filled and before the application is started.
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
        ShortRows,        // rowBytes smaller than a row of samples
        ShortPlanes,      // each plane's dataSize one row short of what the record describes
        ZeroWidth,
        ZeroHeight,
        OversizedIcc,     // iccProfileSize beyond the ICC channel's mapped object
        UnterminatedProcessName,
        UnterminatedSettings
    };

    // The names used on the command line, in the order of Kind.
    static QStringList names();
    static bool fromName(const QString &name, Kind *kind);

    // Applies `kinds` to a created, filled session. Fails (with `error`) when a kind does not fit
    // the run, such as a missing mask for an image without one.
    static bool apply(const QList<Kind> &kinds, FilterHostSession &session, QString *error);

private:
    static bool applyOne(Kind kind, FilterHostSession &session, QString *error);
};

#endif // HOSTCORRUPTION_H
