#include "OvIntercom.h"

#include "InstanceName.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>

namespace {

// Every handoff starts with this word, so that a stray client cannot make the running instance
// merge garbage; the version of the stream format is fixed for the same reason.
constexpr quint32 HandOffMagic = 0x4c564d31; // "LVM1"
constexpr QDataStream::Version StreamVersion = QDataStream::Qt_6_0;
const QByteArray Confirmation = QByteArrayLiteral("ACK");
constexpr int ProbeTimeoutMs = 500;

} // namespace

OvIntercom::OvIntercom(QObject *parent)
    : QObject(parent)
{
}

OvIntercom::~OvIntercom()
{
    if (m_server)
        m_server->close();
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

bool OvIntercom::handOff(const QString &key, const QString &data, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(serverNameFor(key));
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;

    QDataStream out(&socket);
    out.setVersion(StreamVersion);
    out << HandOffMagic << data;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return false;
    }
    // The running instance answers only after it has emitted the data, so a confirmation means
    // the files are in its hands and this launch may end.
    while (socket.bytesAvailable() < Confirmation.size()) {
        if (deadline.hasExpired() || !socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
    }
    return socket.read(Confirmation.size()) == Confirmation;
}

bool OvIntercom::listen(const QString &key)
{
    const QString name = serverNameFor(key);
    if (!m_server) {
        m_server = new QLocalServer(this);
        m_server->setSocketOptions(QLocalServer::UserAccessOption);
        connect(m_server, &QLocalServer::newConnection, this, &OvIntercom::acceptPending);
    }
    if (m_server->isListening())
        m_server->close();
    // Whoever answers on the name is alive and owns it. Otherwise the name is free or was left
    // by an instance that died; it is cleared first because listening with access options
    // replaces an existing socket file instead of failing on it.
    if (isAnswering(name))
        return false;
    QLocalServer::removeServer(name);
    return m_server->listen(name);
}

bool OvIntercom::isAnswering(const QString &name) const
{
    QLocalSocket probe;
    probe.connectToServer(name);
    const bool answering = probe.waitForConnected(ProbeTimeoutMs);
    probe.abort();
    return answering;
}

void OvIntercom::acceptPending()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readHandOff(socket); });
        if (socket->bytesAvailable() > 0)
            readHandOff(socket);
    }
}

void OvIntercom::readHandOff(QLocalSocket *socket)
{
    QDataStream in(socket);
    in.setVersion(StreamVersion);
    in.startTransaction();
    quint32 magic = 0;
    QString data;
    in >> magic;
    if (in.status() == QDataStream::Ok && magic != HandOffMagic) {
        in.abortTransaction();
        socket->abort();
        return;
    }
    in >> data;
    if (!in.commitTransaction())
        return; // the rest of the message is still on its way
    emit mergeInstance(data);
    socket->write(Confirmation);
    socket->flush();
    socket->disconnectFromServer();
}
