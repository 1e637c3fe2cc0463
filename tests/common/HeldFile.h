#ifndef HELDFILE_H
#define HELDFILE_H

#include <QString>

// A file kept open by this process, the way a viewer or a virus scanner holds a photo while the
// application saves over it. On Windows the sharing mode decides whether the file may be
// replaced meanwhile: `allowDelete` is FILE_SHARE_DELETE. POSIX has no such mode; the file is
// simply open.
class HeldFile
{
public:
    HeldFile(const QString &path, bool allowDelete);
    ~HeldFile();
    HeldFile(const HeldFile &) = delete;
    HeldFile &operator=(const HeldFile &) = delete;

    bool isOpen() const;

private:
    qintptr m_handle;
};

#endif // HELDFILE_H
