#ifndef OVINTERCOM_H
#define OVINTERCOM_H

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The application's messaging object. The integrations library only passes a pointer to it
// from OvIntegrations::setup() to the back end; the application defines it (the reference
// application in app/ implements the single-instance handoff with it).
//
// Handoff: the first launch for a merge key listens on a local socket whose name is scoped to
// the user and the key; a later launch with the same key connects, sends its merge data and
// waits until the running instance confirms that it took the data over.
class OvIntercom : public QObject
{
    Q_OBJECT
public:
    explicit OvIntercom(QObject *parent = nullptr);
    ~OvIntercom() override;

    // Sends `data` to the instance listening under `key`. True only once that instance has
    // confirmed receipt; false when nobody answers in time (no instance, or a stale name).
    bool handOff(const QString &key, const QString &data, int timeoutMs = 5000);

    // Makes this process the running instance for `key`. A name left behind by an instance
    // that died is removed and taken over. False when another live instance owns the name or
    // the socket cannot be created.
    bool listen(const QString &key);

    bool isListening() const;
    QString serverName() const;

    // The local-socket name for `key`, scoped to the current user.
    static QString serverNameFor(const QString &key);

Q_SIGNALS:
    // A second launch handed its pending files over; the data is the back end's merge text.
    void mergeInstance(const QString &data);

private:
    void acceptPending();
    void readHandOff(QLocalSocket *socket);
    bool isAnswering(const QString &name) const;

    QLocalServer *m_server = nullptr;
};

#endif // OVINTERCOM_H
