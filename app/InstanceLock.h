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
    // The platform halves: take the lock without waiting (NoHandle when another process holds
    // it or it cannot be made), and let go of a handle that tryLock_sys returned.
    static qintptr tryLock_sys(const QString &name);
    static void unlock_sys(qintptr handle);

    static constexpr qintptr NoHandle = -1;
    // A file descriptor, or a mutex handle on Windows.
    qintptr m_handle = NoHandle;
};

#endif // INSTANCELOCK_H
