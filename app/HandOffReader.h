#ifndef HANDOFFREADER_H
#define HANDOFFREADER_H

#include <QByteArray>
#include <QString>

class QIODevice;

// One handoff message as it arrives in pieces: a fixed word, the length of the merge data, then
// the data as UTF-8. Each byte is taken once, so a drop of many files costs time in proportion to
// its size, and a length above the cap is refused before anything is stored.
class HandOffReader
{
public:
    enum class State { Incomplete, Complete, Refused };

    // Generous: the merge data of a drop of 100,000 files with 600-byte paths fits.
    static constexpr quint32 MaxDataBytes = 64 * 1024 * 1024;

    // The whole message for `data`, as the sending side writes it.
    static QByteArray message(const QString &data);

    // Takes from `device` what belongs to this message, and no more.
    State read(QIODevice *device);
    State state() const;
    // The merge data, once complete.
    QString data() const;

private:
    void readHeader(QIODevice *device);
    void readPayload(QIODevice *device);

    QByteArray m_header;
    QByteArray m_payload;
    qint64 m_length = -1;
    State m_state = State::Incomplete;
};

#endif // HANDOFFREADER_H
