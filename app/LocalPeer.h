#ifndef LOCALPEER_H
#define LOCALPEER_H

#include <QtGlobal>

// Who is at the other end of a local connection. The private folder already keeps other users
// away from the instance's socket; checking the peer on both ends as well means that neither a
// socket planted by someone else nor a connection from someone else is trusted with file names.
class LocalPeer
{
public:
    enum Side { Server, Client };

    // True when the process at the other end of `descriptor` (a connected local socket, or a pipe
    // handle on Windows), which is the `peer` side of the connection, runs as this user.
    static bool isSameUser(qintptr descriptor, Side peer);
};

#endif // LOCALPEER_H
