#ifndef INSTANCENAME_H
#define INSTANCENAME_H

#include <QString>

// Where the running instance for a merge key is found and elected: the local-socket name it
// listens on and the name of the lock its holder keeps. Two users never share them, and neither
// do two keys; the platform file decides where they live. Both are empty when this user has no
// place that only this user controls: such a launch neither hands over nor takes over.
class InstanceName
{
public:
    static QString serverName(const QString &key);
    static QString lockName(const QString &key);

private:
    // A short, file-name-safe digest of the key (editor names carry blanks and quotes).
    static QString keyDigest(const QString &key);
    // The platform halves: where a name made of this user and the digest lives.
    static QString serverName_sys(const QString &digest);
    static QString lockName_sys(const QString &digest);
};

#endif // INSTANCENAME_H
