#include "HandOffReader.h"

#include <QIODevice>
#include <QtEndian>

namespace {

// Every message starts with this word, so that a stray client cannot make the running instance
// merge garbage. It names the exchange too: an instance of the older one-step exchange ("LVM2")
// refuses this one instead of merging at once.
constexpr quint32 Magic = 0x4c564d33; // "LVM3"
constexpr int HeaderSize = 8; // the word, then the length, both big-endian

} // namespace

QByteArray HandOffReader::message(const QString &data)
{
    const QByteArray payload = data.toUtf8();
    QByteArray bytes(HeaderSize, Qt::Uninitialized);
    qToBigEndian<quint32>(Magic, bytes.data());
    qToBigEndian<quint32>(quint32(payload.size()), bytes.data() + 4);
    return bytes + payload;
}

HandOffReader::State HandOffReader::read(QIODevice *device)
{
    while (m_state == State::Incomplete && device->bytesAvailable() > 0) {
        if (m_length < 0)
            readHeader(device);
        else
            readPayload(device);
    }
    return m_state;
}

void HandOffReader::readHeader(QIODevice *device)
{
    m_header += device->read(HeaderSize - m_header.size());
    if (m_header.size() < HeaderSize)
        return;
    const quint32 length = qFromBigEndian<quint32>(m_header.constData() + 4);
    if (qFromBigEndian<quint32>(m_header.constData()) != Magic || length > MaxDataBytes) {
        m_state = State::Refused;
        return;
    }
    m_length = length;
    if (m_length == 0)
        m_state = State::Complete;
}

void HandOffReader::readPayload(QIODevice *device)
{
    m_payload += device->read(m_length - m_payload.size());
    if (m_payload.size() == m_length)
        m_state = State::Complete;
}

HandOffReader::State HandOffReader::state() const
{
    return m_state;
}

QString HandOffReader::data() const
{
    return m_state == State::Complete ? QString::fromUtf8(m_payload) : QString();
}
