#include <poll.h>

#include <cerrno>

#include "platform/socket_wait.h"

namespace platform {

SocketWait WaitForSocket(int socket, bool forWriting, int timeoutMs) {
    struct pollfd watch {
        socket, static_cast<short>(forWriting ? POLLOUT : POLLIN), 0
    };
    const int n = ::poll(&watch, 1, timeoutMs);
    if (n > 0) return SocketWait::kReady;
    if (n == 0 || errno == EINTR) return SocketWait::kTimedOut;
    return SocketWait::kFailed;
}

}  // namespace platform
