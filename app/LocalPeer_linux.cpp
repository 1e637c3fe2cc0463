#include "LocalPeer.h"

#include <sys/socket.h>
#include <unistd.h>

// The kernel records the peer's credentials when the connection is made; they cannot be forged.
bool LocalPeer::isSameUser(qintptr descriptor, Side)
{
    struct ucred credentials = {};
    socklen_t length = sizeof(credentials);
    return ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0
           && length == sizeof(credentials) && credentials.uid == ::geteuid();
}
