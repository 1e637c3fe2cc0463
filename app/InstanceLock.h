#ifndef INSTANCELOCK_H
#define INSTANCELOCK_H

#include <QString>
#include <QtGlobal>

// Elects the running instance for a merge key: whoever holds the lock is that instance. The
// operating system lets go of it when the holder ends, however it ends, so an instance that
// crashed never blocks the next launch and two live ones can never both hold it.
class InstanceLock
{
public:
    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock &) = delete;
    InstanceLock &operator=(const InstanceLock &) = delete;

    // Takes the lock called `name` when no live process holds it; never waits. True while this
    // object holds it.
    bool tryLock(const QString &name);
    bool isLocked() const;
    void unlock();

private:
    // A file descriptor, or a mutex handle on Windows; -1 when not held.
    qintptr m_handle = -1;
};

#endif // INSTANCELOCK_H
