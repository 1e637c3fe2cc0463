#include "InstanceName.h"

#include <QCryptographicHash>

QString InstanceName::forKey(const QString &key)
{
    return userScopedName(keyDigest(key));
}

QString InstanceName::lockFor(const QString &key)
{
    return lockName(keyDigest(key));
}

QString InstanceName::keyDigest(const QString &key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toHex().left(16));
}
