#include "InstanceName.h"

#include <QCryptographicHash>

QString InstanceName::serverName(const QString &key)
{
    return serverName_sys(keyDigest(key));
}

QString InstanceName::lockName(const QString &key)
{
    return lockName_sys(keyDigest(key));
}

QString InstanceName::keyDigest(const QString &key)
{
    const QByteArray digest = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toHex().left(16));
}
