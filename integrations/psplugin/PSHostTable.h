#ifndef PSHOSTTABLE_H
#define PSHOSTTABLE_H

#include <QString>

// Names the host editor from the identity its filter module writes into the IPC record.
class PSHostTable
{
public:
    // The record stores the four-character signature as a little-endian word, so its bytes
    // are the characters last to first; this gives the signature in reading order.
    static QString signatureFromRecord(const char bytes[4]);

    // The host's display name; "Host Editor" for anything not recognised.
    static QString displayName(const QString &signature, const QString &processName);
};

#endif // PSHOSTTABLE_H
