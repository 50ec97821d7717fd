#include "sim/pty.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace sim {
namespace {

bool MakeRaw(int fd) {
    struct termios tio {};
    if (::tcgetattr(fd, &tio) != 0) return false;
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

// Opens both sides; the name of the step that failed (errno tells why), or
// null.
const char* OpenSides(int* master, int* slave, std::string* path) {
    *master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (*master < 0) return "posix_openpt";
    if (::grantpt(*master) != 0) return "grantpt";
    if (::unlockpt(*master) != 0) return "unlockpt";
    char name[128] = {};
    if (::ptsname_r(*master, name, sizeof name) != 0) return "ptsname_r";
    *slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (*slave < 0) return "open slave";
    if (!MakeRaw(*slave)) return "raw mode";
    *path = name;
    return nullptr;
}

}  // namespace

bool Pty::Open(std::string* error) {
    Close();
    const char* failed = OpenSides(&master_, &slave_, &slavePath_);
    if (failed == nullptr) return true;
    *error = std::string(failed) + ": " + std::strerror(errno);
    Close();
    return false;
}

bool Pty::SlaveHasInput() const {
    if (slave_ < 0) return false;
    // A poll of the slave also moves bytes the kernel still holds on their
    // way from the master, so a reply just written counts as waiting.
    struct pollfd p {
        slave_, POLLIN, 0
    };
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

void Pty::Close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = -1;
    master_ = -1;
}

}  // namespace sim
