// Ends a TCP connection of this process, named by its two addresses, when
// the HTTP client that made it can't let go of it: under Wine 8 a closed
// handle's pending call goes on until the camera stops sending or the call's
// own time-out, however long the camera trickles. The connection's socket is
// found among the process's handles and shut down, which ends the call.
#pragma once

#include <windows.h>

// The two ends of a TCP connection: socket addresses (sockaddr_storage).
struct CConnectionEnds
{
    BYTE m_local[128];
    BYTE m_remote[128];
};

// False when no socket of this process joins these ends (any more).
bool BreakConnection(const CConnectionEnds& ends);
