// Waiting on a network socket that a library owns (the records' server
// connection), without knowing the system's socket calls.
#pragma once

namespace platform {

enum class SocketWait { kReady, kTimedOut, kFailed };

// Waits at most timeoutMs for socket to become readable (or writable when
// forWriting); an interrupted wait counts as timed out.
SocketWait WaitForSocket(int socket, bool forWriting, int timeoutMs);

}  // namespace platform
