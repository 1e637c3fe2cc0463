#ifndef IMAGEHEADERREADER_H
#define IMAGEHEADERREADER_H

#include <QSize>
#include <QString>

class QFile;

// Reads the pixel size straight from the header of the formats that Qt's image readers may lack
// on a machine (TIFF, WebP), without decoding pixels. Only the first bytes and, for TIFF, the
// first directory are read.
class ImageHeaderReader
{
public:
    struct Header
    {
        QSize size; // as stored; invalid when the header could not be read
        int orientation = 1; // EXIF/TIFF orientation 1..8 when the header carries one
    };

    static Header read(const QString &path);

private:
    static Header readTiff(const QByteArray &head, QFile &file);
    static Header readWebP(const QByteArray &head);
};

#endif // IMAGEHEADERREADER_H
