#include "ImageHeaderReader.h"

#include <QFile>

namespace {

constexpr int HeadBytes = 64;
constexpr quint16 TagImageWidth = 256;
constexpr quint16 TagImageLength = 257;
constexpr quint16 TagOrientation = 274;
constexpr quint16 TypeShort = 3;
constexpr quint16 TypeLong = 4;
constexpr int MaxDirectoryEntries = 4096;

struct ByteReader
{
    const QByteArray &bytes;
    bool bigEndian;

    quint32 byteAt(int i) const { return static_cast<quint8>(bytes.at(i)); }
    quint16 u16(int i) const
    {
        return static_cast<quint16>(bigEndian ? (byteAt(i) << 8) | byteAt(i + 1) : byteAt(i) | (byteAt(i + 1) << 8));
    }
    quint32 u32(int i) const
    {
        return bigEndian ? (quint32(u16(i)) << 16) | u16(i + 2) : u16(i) | (quint32(u16(i + 2)) << 16);
    }
};

quint32 le24(const QByteArray &b, int i)
{
    return quint32(quint8(b.at(i))) | (quint32(quint8(b.at(i + 1))) << 8) | (quint32(quint8(b.at(i + 2))) << 16);
}

} // namespace

ImageHeaderReader::Header ImageHeaderReader::read(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = file.read(HeadBytes);
    if (head.startsWith("II*\0") || head.startsWith(QByteArray("MM\0*", 4)))
        return readTiff(head, file);
    if (head.size() >= 30 && head.startsWith("RIFF") && head.mid(8, 4) == "WEBP")
        return readWebP(head);
    return {};
}

ImageHeaderReader::Header ImageHeaderReader::readTiff(const QByteArray &head, QFile &file)
{
    if (head.size() < 8)
        return {};
    const ByteReader header{head, head.at(0) == 'M'};
    if (!file.seek(header.u32(4)))
        return {};
    const QByteArray countBytes = file.read(2);
    if (countBytes.size() != 2)
        return {};
    const int count = ByteReader{countBytes, header.bigEndian}.u16(0);
    if (count > MaxDirectoryEntries)
        return {};
    const QByteArray entries = file.read(qint64(count) * 12);
    if (entries.size() != count * 12)
        return {};

    const ByteReader dir{entries, header.bigEndian};
    Header result;
    int width = 0;
    int height = 0;
    for (int i = 0; i < count; ++i) {
        const int at = i * 12;
        const quint16 tag = dir.u16(at);
        const quint16 type = dir.u16(at + 2);
        // A single SHORT sits in the first two bytes of the value field in either byte order.
        const quint32 value = type == TypeShort ? dir.u16(at + 8) : type == TypeLong ? dir.u32(at + 8) : 0;
        if (tag == TagImageWidth)
            width = int(value);
        else if (tag == TagImageLength)
            height = int(value);
        else if (tag == TagOrientation && value >= 1 && value <= 8)
            result.orientation = int(value);
    }
    if (width > 0 && height > 0)
        result.size = QSize(width, height);
    return result;
}

ImageHeaderReader::Header ImageHeaderReader::readWebP(const QByteArray &head)
{
    const QByteArray chunk = head.mid(12, 4);
    Header result;
    if (chunk == "VP8X") {
        result.size = QSize(int(le24(head, 24)) + 1, int(le24(head, 27)) + 1);
    } else if (chunk == "VP8L" && quint8(head.at(20)) == 0x2f) {
        const quint32 bits = le24(head, 21) | (quint32(quint8(head.at(24))) << 24);
        result.size = QSize(int(bits & 0x3fff) + 1, int((bits >> 14) & 0x3fff) + 1);
    } else if (chunk == "VP8 " && quint8(head.at(23)) == 0x9d && quint8(head.at(24)) == 0x01
               && quint8(head.at(25)) == 0x2a) {
        const ByteReader le{head, false};
        result.size = QSize(le.u16(26) & 0x3fff, le.u16(28) & 0x3fff);
    }
    return result;
}
