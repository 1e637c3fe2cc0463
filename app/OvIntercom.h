#ifndef OVINTERCOM_H
#define OVINTERCOM_H

#include "InstanceLock.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <optional>

class QLocalServer;
class QLocalSocket;
class HandOffReader;

// The application's messaging object. The integrations library only passes a pointer to it
// from OvIntegrations::setup() to the back end; the application implements the single-instance
// handoff with it.
//
// For each merge key one live process holds the instance lock and listens on a local socket in a
// folder private to the user; a later launch with the same key connects, checks that the
// listener runs as the same user and offers its merge data. The exchange has three steps, so
// that the files are opened exactly once: the running instance reads the offer and says it is
// ready; only when the launch answers "take them" does it merge the data, and it confirms that.
// A launch that gives up before answering leaves nothing behind, since the running instance
// drops an offer that is never answered.
class OvIntercom : public QObject
{
    Q_OBJECT
public:
    enum class Role {
        Running, // this process holds the lock and listens for later launches
        HandedOver, // the running instance took the data
        Alone, // this launch runs on its own; a warning has said why
        Refused, // the running instance refused the data: this launch should end
    };
    Q_ENUM(Role)

    explicit OvIntercom(QObject *parent = nullptr);
    ~OvIntercom() override;

    // Settles this launch's place for `key`: the running instance when no live one holds the key,
    // otherwise the sender of `data` to the one that does (empty data is never sent). A running
    // instance that stalls is waited for up to the handoff timeout; one that dies meanwhile is
    // replaced by this launch with its own files.
    Role join(const QString &key, const QString &data);

    bool isListening() const;
    QString serverName() const;
    // How long a connected sender may take to deliver its whole message and answer.
    void setMessageTimeout(int milliseconds);
    // How long join() waits for the running instance to be ready to take the data.
    void setHandOffTimeout(int milliseconds);
    int handOffTimeout() const;

Q_SIGNALS:
    // A second launch handed its pending files over; the data is the back end's merge text.
    void mergeInstance(const QString &data);

private:
    // Unreachable: nothing was sent. Lost: the connection ended before the data was taken.
    // Unconfirmed: the answer went out, but the confirmation did not come in time.
    enum class Delivery { Confirmed, Unconfirmed, Unreachable, Lost, Untrusted, Refused, TimedOut };
    struct Incoming;
    struct Attempts;

    static Role aloneWithoutName(const QString &key);
    std::optional<Role> settle(Delivery delivery, const QString &key, Attempts &attempts) const;
    std::optional<Role> giveUpWaiting(const QString &key, Attempts &attempts) const;

    Delivery deliver(const QString &name, const QByteArray &message, const QString &lockName,
                     const QDeadlineTimer &deadline);
    Delivery awaitAnswers(QLocalSocket &socket, const QString &lockName, const QDeadlineTimer &deadline);
    bool startServer(const QString &name);
    void acceptPending();
    void watch(QLocalSocket *socket);
    bool advance(QLocalSocket *socket, Incoming &incoming);
    bool takeOffer(QLocalSocket *socket, Incoming &incoming);
    void drop(const Incoming &incoming);

    InstanceLock m_lock;
    QLocalServer *m_server = nullptr;
    int m_messageTimeoutMs = 10000;
    int m_handOffTimeoutMs = 30000;
};

#endif // OVINTERCOM_H
