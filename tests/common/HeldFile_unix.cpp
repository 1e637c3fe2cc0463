#include "HeldFile.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

HeldFile::HeldFile(const QString &path, bool)
    : m_handle(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
{
}

HeldFile::~HeldFile()
{
    if (isOpen())
        ::close(int(m_handle));
}

bool HeldFile::isOpen() const
{
    return m_handle >= 0;
}
