#include "OvIntercom.h"

#include "HandOffReader.h"
#include "InstanceName.h"
#include "LocalPeer.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// The answers of the exchange, each one word of the same size. The running instance sends Ready
// once it holds the whole offer and Refusal instead when it will not take it; the launch answers
// Ready with Take; Taken confirms the merge.
constexpr int WordSize = 3;
const QByteArray Ready = QByteArrayLiteral("RDY");
const QByteArray Take = QByteArrayLiteral("TAK");
const QByteArray Taken = QByteArrayLiteral("ACK");
const QByteArray Refusal = QByteArrayLiteral("NAK");
constexpr int ConnectTimeoutMs = 1000;
// How often a waiting sender asks whether the running instance still lives.
constexpr int PollMs = 200;
// A lock holder that does not listen yet is still starting up.
constexpr int RetryMs = 50;
constexpr int PatienceMs = 5000;
// A holder that has accepted nothing for this long lost its socket (a cleaner of the temporary
// folder may take it). Nothing was handed to it, so the launch may safely keep its own files.
constexpr int UnreachableMs = 10000;

int pollTime(const QDeadlineTimer &deadline)
{
    return int(std::clamp<qint64>(deadline.remainingTime(), 0, PollMs));
}

} // namespace

// What the running instance knows of one connection.
struct OvIntercom::Incoming
{
    enum class Stage { Offer, Answer, Refusing, Done };
    HandOffReader offer;
    Stage stage = Stage::Offer;
};

OvIntercom::OvIntercom(QObject *parent)
    : QObject(parent)
{
}

OvIntercom::~OvIntercom()
{
    // The socket goes before the lock, so that whoever takes the lock next finds no listener.
    if (m_server)
        m_server->close();
    m_lock.unlock();
}

bool OvIntercom::isListening() const
{
    return m_server && m_server->isListening();
}

QString OvIntercom::serverName() const
{
    return m_server ? m_server->fullServerName() : QString();
}

void OvIntercom::setMessageTimeout(int milliseconds)
{
    m_messageTimeoutMs = milliseconds;
}

void OvIntercom::setHandOffTimeout(int milliseconds)
{
    m_handOffTimeoutMs = milliseconds;
}

int OvIntercom::handOffTimeout() const
{
    return m_handOffTimeoutMs;
}

// The clocks of one join(): the overall deadline, the first "still waiting" warning, and how
// long the running instance has accepted no connection.
struct OvIntercom::Attempts
{
    explicit Attempts(int handOffTimeoutMs)
        : deadline(handOffTimeoutMs)
    {
        waiting.start();
        unreachable.start();
    }

    QDeadlineTimer deadline;
    QElapsedTimer waiting;
    QElapsedTimer unreachable;
    bool toldWaiting = false;
};

OvIntercom::Role OvIntercom::join(const QString &key, const QString &data)
{
    const QString name = InstanceName::serverName(key);
    const QString lockName = InstanceName::lockName(key);
    if (name.isEmpty() || lockName.isEmpty())
        return aloneWithoutName(key);
    const QByteArray message = HandOffReader::message(data);
    Attempts attempts(m_handOffTimeoutMs);
    for (;;) {
        if (m_lock.tryLock(lockName))
            return startServer(name) ? Role::Running : aloneWithoutName(key);
        if (data.isEmpty()) {
            qWarning() << "Another instance is running for" << key
                       << "and this launch hands nothing over; it runs on its own";
            return Role::Alone;
        }
        const Delivery delivery = deliver(name, message, lockName, attempts.deadline);
        if (const std::optional<Role> role = settle(delivery, key, attempts))
            return *role;
        if (const std::optional<Role> role = giveUpWaiting(key, attempts))
            return *role;
        QThread::msleep(RetryMs);
    }
}

OvIntercom::Role OvIntercom::aloneWithoutName(const QString &key)
{
    qWarning() << "Could not take the instance name for" << key << "- this launch runs on its own";
    return Role::Alone;
}

// The launch's place after one delivery, or nothing when it is to try again.
std::optional<OvIntercom::Role> OvIntercom::settle(Delivery delivery, const QString &key, Attempts &attempts) const
{
    switch (delivery) {
    case Delivery::Confirmed:
        return Role::HandedOver;
    case Delivery::Unconfirmed:
        // The running instance holds our answer and takes the files when it resumes; running
        // with them here as well would open them twice.
        qWarning() << "The running instance for" << key << "has not confirmed the handoff within" << m_handOffTimeoutMs
                   << "ms; it opens the files when it resumes";
        return Role::HandedOver;
    case Delivery::Refused:
        return Role::Refused;
    case Delivery::Untrusted:
        return Role::Alone;
    case Delivery::Lost:
        attempts.unreachable.restart();
        return std::nullopt;
    case Delivery::Unreachable:
        if (!attempts.unreachable.hasExpired(UnreachableMs))
            return std::nullopt;
        qWarning() << "The running instance for" << key << "does not answer; this launch keeps its files";
        return Role::Alone;
    case Delivery::TimedOut:
        return std::nullopt;
    }
    return std::nullopt;
}

// Alone once the handoff timeout has passed; before that, one warning after a while of waiting.
std::optional<OvIntercom::Role> OvIntercom::giveUpWaiting(const QString &key, Attempts &attempts) const
{
    if (attempts.deadline.hasExpired()) {
        qWarning() << "The running instance for" << key << "has not taken the files within" << m_handOffTimeoutMs
                   << "ms; this launch runs on its own";
        return Role::Alone;
    }
    if (!attempts.toldWaiting && attempts.waiting.hasExpired(PatienceMs)) {
        qWarning() << "The running instance for" << key << "has not taken the files yet; waiting up to"
                   << m_handOffTimeoutMs << "ms";
        attempts.toldWaiting = true;
    }
    return std::nullopt;
}

OvIntercom::Delivery OvIntercom::deliver(const QString &name, const QByteArray &message, const QString &lockName,
                                         const QDeadlineTimer &deadline)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return Delivery::Unreachable;
    if (!LocalPeer::isSameUser(socket.socketDescriptor(), LocalPeer::Server)) {
        qWarning() << "Refusing to hand files to" << name
                   << "- it belongs to another user; this launch runs on its own";
        return Delivery::Untrusted;
    }
    socket.write(message);
    return awaitAnswers(socket, lockName, deadline);
}

// Until Take is sent the files are still ours: giving up then (the socket closes with this
// function) leaves the running instance an offer it drops. Once Take is sent they are the
// running instance's, unless the connection ends without Taken: it writes Taken in the same
// step as it merges, so then it never merged. While the lock stays taken its holder lives;
// once the lock comes free the holder is gone and the lock is ours.
OvIntercom::Delivery OvIntercom::awaitAnswers(QLocalSocket &socket, const QString &lockName,
                                              const QDeadlineTimer &deadline)
{
    bool answered = false;
    for (;;) {
        if (socket.bytesAvailable() >= WordSize) {
            const QByteArray word = socket.read(WordSize);
            if (word == Refusal && !answered)
                return Delivery::Refused;
            if (word == Ready && !answered) {
                socket.write(Take);
                answered = true;
                continue;
            }
            return word == Taken && answered ? Delivery::Confirmed : Delivery::Lost;
        }
        if (socket.state() != QLocalSocket::ConnectedState || m_lock.tryLock(lockName))
            return Delivery::Lost;
        if (deadline.hasExpired())
            return answered ? Delivery::Unconfirmed : Delivery::TimedOut;
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(pollTime(deadline));
        else
            socket.waitForReadyRead(pollTime(deadline));
    }
}

bool OvIntercom::startServer(const QString &name)
{
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &OvIntercom::acceptPending);
    }
    // Only the lock holder gets here, so a socket by this name is one a dead instance left.
    QLocalServer::removeServer(name);
    if (m_server->listen(name))
        return true;
    // Holding the lock without listening would keep every later launch waiting for us.
    m_lock.unlock();
    return false;
}

void OvIntercom::acceptPending()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (LocalPeer::isSameUser(socket->socketDescriptor(), LocalPeer::Client)) {
            watch(socket);
        } else {
            qWarning() << "Refusing a handoff from another user";
            socket->abort();
            socket->deleteLater();
        }
    }
}

void OvIntercom::watch(QLocalSocket *socket)
{
    auto incoming = std::make_shared<Incoming>();
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, incoming] { advance(socket, *incoming); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket, incoming] {
        // What arrived just before the end still counts.
        if (!advance(socket, *incoming))
            drop(*incoming);
    });
    connect(deadline, &QTimer::timeout, this, [this, socket, incoming] {
        // After a stall of our own the rest may be waiting unread: read it first.
        socket->waitForReadyRead(0);
        if (!advance(socket, *incoming)) {
            if (incoming->stage == Incoming::Stage::Offer)
                qWarning() << "Dropping a handoff that did not arrive within" << m_messageTimeoutMs << "ms";
            drop(*incoming);
            socket->abort();
            socket->deleteLater();
        }
    });
    deadline->start(m_messageTimeoutMs);
    advance(socket, *incoming);
}

// True once the connection is done with: the offer taken, or refused and its sender told.
bool OvIntercom::advance(QLocalSocket *socket, Incoming &incoming)
{
    using Stage = Incoming::Stage;
    switch (incoming.stage) {
    case Stage::Offer:
        switch (incoming.offer.read(socket)) {
        case HandOffReader::State::Incomplete:
            return false;
        case HandOffReader::State::Refused:
            // The sender is told, and what it goes on sending is read away, so that it sees the
            // refusal instead of a broken connection (which it would take for a stall).
            qWarning() << "Refusing a handoff that is not one or exceeds" << HandOffReader::MaxDataBytes << "bytes";
            incoming.stage = Stage::Refusing;
            socket->write(Refusal);
            socket->flush();
            return advance(socket, incoming);
        case HandOffReader::State::Complete:
            // The stage changes first: a write to a sender already gone ends the connection at once.
            incoming.stage = Stage::Answer;
            socket->write(Ready);
            socket->flush();
            return advance(socket, incoming);
        }
        return false;
    case Stage::Answer:
        return takeOffer(socket, incoming);
    case Stage::Refusing:
        socket->readAll();
        return socket->state() != QLocalSocket::ConnectedState;
    case Stage::Done:
        return true;
    }
    return false;
}

bool OvIntercom::takeOffer(QLocalSocket *socket, Incoming &incoming)
{
    if (socket->bytesAvailable() < WordSize)
        return false;
    incoming.stage = Incoming::Stage::Done;
    if (socket->read(WordSize) != Take) {
        socket->abort();
        socket->deleteLater();
        return true;
    }
    // Taken goes out in the same step as the merge, so a sender that never sees it knows that
    // nothing was merged.
    emit mergeInstance(incoming.offer.data());
    socket->write(Taken);
    socket->flush();
    socket->disconnectFromServer();
    return true;
}

void OvIntercom::drop(const Incoming &incoming)
{
    if (incoming.stage == Incoming::Stage::Answer)
        qWarning() << "Dropping a handoff whose launch went on without it";
}
