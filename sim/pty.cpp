#include "sim/pty.h"

#include <fcntl.h>
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

}  // namespace

bool Pty::Open(std::string* error) {
    Close();
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    char name[128] = {};
    const char* step = "posix_openpt";
    bool ok = master_ >= 0;
    if (ok) ok = (step = "grantpt", ::grantpt(master_) == 0);
    if (ok) ok = (step = "unlockpt", ::unlockpt(master_) == 0);
    if (ok) ok = (step = "ptsname_r", ::ptsname_r(master_, name, sizeof name) == 0);
    if (ok) {
        step = "open slave";
        slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ok = slave_ >= 0;
    }
    if (ok) ok = (step = "raw mode", MakeRaw(slave_));
    if (!ok) {
        *error = std::string(step) + ": " + std::strerror(errno);
        Close();
        return false;
    }
    slavePath_ = name;
    return true;
}

void Pty::Close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = -1;
    master_ = -1;
}

}  // namespace sim
