#include "JpegCompleteness.h"

#include <QFile>

namespace {

constexpr uchar Marker = 0xFF;
constexpr uchar StartOfImage = 0xD8;
constexpr uchar EndOfImage = 0xD9;

// Markers that stand alone, without a length: a stuffed 0xFF inside the entropy-coded data, the
// restart markers, and TEM.
bool standsAlone(uchar code)
{
    return code == 0x00 || code == 0x01 || (code >= 0xD0 && code <= 0xD7);
}

} // namespace

namespace JpegCompleteness {

bool isComplete(QByteArrayView data)
{
    const auto *bytes = reinterpret_cast<const uchar *>(data.data());
    const qsizetype size = data.size();
    if (size < 2 || bytes[0] != Marker || bytes[1] != StartOfImage)
        return true;
    qsizetype at = 2;
    while (at < size) {
        // Entropy-coded data (and anything else between segments) up to the next marker.
        if (bytes[at++] != Marker)
            continue;
        while (at < size && bytes[at] == Marker)
            ++at; // fill bytes
        if (at >= size)
            return false;
        const uchar code = bytes[at++];
        if (code == EndOfImage)
            return true;
        if (standsAlone(code))
            continue;
        // A segment: its length counts its own two bytes and skips what it holds (an embedded
        // thumbnail's own end marker among them).
        if (at + 2 > size)
            return false;
        const int length = (bytes[at] << 8) | bytes[at + 1];
        if (length < 2)
            return false;
        at += length;
    }
    return false;
}

bool isComplete(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    const qint64 size = file.size();
    if (uchar *mapped = file.map(0, size))
        return isComplete(QByteArrayView(mapped, size));
    return isComplete(QByteArrayView(file.readAll()));
}

} // namespace JpegCompleteness
