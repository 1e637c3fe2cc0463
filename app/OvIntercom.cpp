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

#include <memory>

namespace {

const QByteArray Confirmation = QByteArrayLiteral("ACK");
constexpr int ConnectTimeoutMs = 1000;
// How often a waiting sender asks whether the running instance still lives.
constexpr int PollMs = 200;
// A lock holder that does not listen yet is still starting up.
constexpr int RetryMs = 50;
constexpr int PatienceMs = 5000;
// A holder that has accepted nothing for this long lost its socket (a cleaner of the temporary
// folder may take it). Nothing was handed to it, so the launch may safely keep its own files.
constexpr int UnreachableMs = 10000;

} // namespace

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

QString OvIntercom::serverNameFor(const QString &key)
{
    return InstanceName::forKey(key);
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

OvIntercom::Role OvIntercom::join(const QString &key, const QString &data)
{
    const QString name = serverNameFor(key);
    const QString lockName = InstanceName::lockFor(key);
    if (name.isEmpty() || lockName.isEmpty())
        return Role::Alone;
    const QByteArray message = HandOffReader::message(data);
    QElapsedTimer waiting;
    waiting.start();
    QElapsedTimer unreachable;
    unreachable.start();
    bool toldWaiting = false;
    for (;;) {
        if (m_lock.tryLock(lockName))
            return startServer(name) ? Role::Running : Role::Alone;
        if (data.isEmpty())
            return Role::Alone;
        switch (deliver(name, message, lockName)) {
        case Delivery::Confirmed:
            return Role::HandedOver;
        case Delivery::Refused:
            return Role::Alone;
        case Delivery::Lost:
            unreachable.restart();
            break;
        case Delivery::Unreachable:
            if (unreachable.hasExpired(UnreachableMs)) {
                qWarning() << "The running instance for" << key << "does not answer; this launch keeps its files";
                return Role::Alone;
            }
            break;
        }
        if (!toldWaiting && waiting.hasExpired(PatienceMs)) {
            qWarning() << "The running instance for" << key << "has not taken the files yet; waiting while it lives";
            toldWaiting = true;
        }
        QThread::msleep(RetryMs);
    }
}

OvIntercom::Delivery OvIntercom::deliver(const QString &name, const QByteArray &message, const QString &lockName)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(ConnectTimeoutMs))
        return Delivery::Unreachable;
    if (!LocalPeer::isSameUser(socket.socketDescriptor(), LocalPeer::Server)) {
        qWarning() << "Refusing to hand files to" << name << "- it belongs to another user";
        return Delivery::Refused;
    }
    socket.write(message);
    // The running instance confirms only after it has taken the data, so until then the files
    // are still ours. While the lock stays taken its holder lives and will answer, even if it
    // is stopped for now; once the lock comes free the holder is gone and the lock is ours.
    for (;;) {
        if (socket.bytesToWrite() == 0 && socket.bytesAvailable() >= Confirmation.size())
            return socket.read(Confirmation.size()) == Confirmation ? Delivery::Confirmed : Delivery::Lost;
        if (socket.state() != QLocalSocket::ConnectedState || m_lock.tryLock(lockName))
            return Delivery::Lost;
        if (socket.bytesToWrite() > 0)
            socket.waitForBytesWritten(PollMs);
        else
            socket.waitForReadyRead(PollMs);
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
    auto reader = std::make_shared<HandOffReader>();
    auto *deadline = new QTimer(socket);
    deadline->setSingleShot(true);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, reader] { readHandOff(socket, *reader); });
    connect(deadline, &QTimer::timeout, this, [this, socket, reader] {
        // After a stall of our own the message may be complete but not yet read: read first.
        if (!readHandOff(socket, *reader)) {
            qWarning() << "Dropping a handoff that did not arrive within" << m_messageTimeoutMs << "ms";
            socket->abort();
            socket->deleteLater();
        }
    });
    deadline->start(m_messageTimeoutMs);
    readHandOff(socket, *reader);
}

// True once the connection is done with: taken over or refused.
bool OvIntercom::readHandOff(QLocalSocket *socket, HandOffReader &reader)
{
    if (reader.state() != HandOffReader::State::Incomplete)
        return true;
    switch (reader.read(socket)) {
    case HandOffReader::State::Incomplete:
        return false;
    case HandOffReader::State::Refused:
        socket->abort();
        socket->deleteLater();
        return true;
    case HandOffReader::State::Complete:
        break;
    }
    emit mergeInstance(reader.data());
    socket->write(Confirmation);
    socket->flush();
    socket->disconnectFromServer();
    return true;
}
