// Line speed through termios2, which takes any rate (BOTHER) where the
// standard speed table lacks it. Kept apart: <asm/termbits.h> clashes with
// <termios.h>.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <cstdint>

#include "platform/serial_speed.h"

namespace platform {

bool SetLineSpeed(int fd, uint32_t baud) {
    if (baud == 0) return false;  // speed 0 means "hang up", never a line rate
    struct termios2 tio {};
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    if (ioctl(fd, TCSETS2, &tio) != 0) return false;
    struct termios2 check {};
    if (ioctl(fd, TCGETS2, &check) != 0) return false;
    // A driver that cannot do the rate rounds it; more than 3 % off is refused.
    uint32_t got = check.c_ospeed;
    uint32_t diff = got > baud ? got - baud : baud - got;
    return diff <= baud / 33;
}

}  // namespace platform
