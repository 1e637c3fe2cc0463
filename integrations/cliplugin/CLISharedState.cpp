#include "CLISharedState.h"

void CLISharedState::acceptFile(const QString &path)
{
    const QMutexLocker lock(&m_mutex);
    // One hash lookup per file: the set grows only for a path it does not hold yet.
    const qsizetype before = m_fileSet.size();
    m_fileSet.insert(path);
    if (m_fileSet.size() != before)
        m_files.append(path);
}

void CLISharedState::rejectFile(const QString &path)
{
    const QMutexLocker lock(&m_mutex);
    m_invalidFiles.append(path);
}

bool CLISharedState::hasPendingFiles() const
{
    const QMutexLocker lock(&m_mutex);
    return !m_files.isEmpty();
}

QStringList CLISharedState::pendingFiles() const
{
    const QMutexLocker lock(&m_mutex);
    return m_files;
}

QStringList CLISharedState::startAnnouncing()
{
    const QMutexLocker lock(&m_mutex);
    m_started = true;
    return m_files;
}

CLISharedState::Announcement CLISharedState::takeAnnouncement()
{
    const QMutexLocker lock(&m_mutex);
    Announcement announcement;
    if (!m_started)
        return announcement;
    announcement.invalidFiles.swap(m_invalidFiles);
    announcement.files.swap(m_files);
    m_fileSet.clear();
    m_fileCount += static_cast<qint32>(announcement.files.size());
    return announcement;
}

std::optional<CLISharedState::InfoEvent> CLISharedState::takeInfoEvent()
{
    const QMutexLocker lock(&m_mutex);
    if (m_infoSent || m_fileCount == 0 || m_externalEditor.isEmpty())
        return std::nullopt;
    m_infoSent = true;
    return InfoEvent{m_processName, m_externalEditor, m_fileCount};
}

bool CLISharedState::setLoadingStatus(const QString &status)
{
    const QMutexLocker lock(&m_mutex);
    if (status == m_loadingStatus)
        return false;
    m_loadingStatus = status;
    return true;
}
