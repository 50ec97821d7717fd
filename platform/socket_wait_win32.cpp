#include <winsock2.h>

#include "platform/socket_wait.h"

namespace platform {

// select() rather than WSAPoll: a connection the server refused shows in the
// exception set, where WSAPoll of older Windows never reports it.
SocketWait WaitForSocket(int socket, bool forWriting, int timeoutMs) {
    const auto handle = static_cast<SOCKET>(socket);
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(handle, &ready);
    FD_SET(handle, &failed);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed,
                           &timeout);
    if (n > 0) return SocketWait::kReady;
    return n == 0 ? SocketWait::kTimedOut : SocketWait::kFailed;
}

}  // namespace platform
