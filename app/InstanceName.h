#ifndef INSTANCENAME_H
#define INSTANCENAME_H

#include <QString>

// The local-socket name under which the running instance for a merge key listens. Two users
// never share a name, and neither do two keys; the platform file decides where the name lives.
class InstanceName
{
public:
    static QString forKey(const QString &key);

private:
    // A short, file-name-safe digest of the key (editor names carry blanks and quotes).
    static QString keyDigest(const QString &key);
    static QString userScopedName(const QString &digest);
};

#endif // INSTANCENAME_H
