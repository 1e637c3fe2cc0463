#ifndef OVINTERCOM_H
#define OVINTERCOM_H

#include "InstanceLock.h"

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class HandOffReader;

// The application's messaging object. The integrations library only passes a pointer to it
// from OvIntegrations::setup() to the back end; the application implements the single-instance
// handoff with it.
//
// For each merge key one live process holds the instance lock and listens on a local socket in a
// folder private to the user; a later launch with the same key connects, checks that the
// listener runs as the same user, sends its merge data and waits until the running instance
// confirms that it took the data over.
class OvIntercom : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Running,    // this process holds the lock and listens for later launches
        HandedOver, // the running instance confirmed that it took the data
        Alone,      // neither: no private place for the name, or nothing to hand over
    };
    Q_ENUM(Role)

    explicit OvIntercom(QObject *parent = nullptr);
    ~OvIntercom() override;

    // Settles this launch's place for `key`: the running instance when no live one holds the key,
    // otherwise the sender of `data` to the one that does (empty data is never sent). A running
    // instance that stalls is waited for as long as it lives, since on waking it takes the files
    // all the same; when it dies instead, this launch takes its place with its own files.
    Role join(const QString &key, const QString &data);

    bool isListening() const;
    QString serverName() const;
    // How long a connected sender may take to deliver its whole message.
    void setMessageTimeout(int milliseconds);

    // The local-socket name for `key`, private to the current user; empty when there is none.
    static QString serverNameFor(const QString &key);

Q_SIGNALS:
    // A second launch handed its pending files over; the data is the back end's merge text.
    void mergeInstance(const QString &data);

private:
    // Unreachable: nothing was sent. Lost: sent, but the connection ended unconfirmed.
    enum class Delivery { Confirmed, Unreachable, Lost, Refused };

    Delivery deliver(const QString &name, const QByteArray &message, const QString &lockName);
    bool startServer(const QString &name);
    void acceptPending();
    void watch(QLocalSocket *socket);
    bool readHandOff(QLocalSocket *socket, HandOffReader &reader);

    InstanceLock m_lock;
    QLocalServer *m_server = nullptr;
    int m_messageTimeoutMs = 10000;
};

#endif // OVINTERCOM_H
