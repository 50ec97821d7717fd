#include <sys/stat.h>

#include <stdexcept>

#include "tests/support/pty_peer.h"

namespace testing_support {

std::vector<std::string> NonRegularFiles(const TempDir& dir) {
    const std::string fifo = dir.File("fifo.bin");
    if (::mkfifo(fifo.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    return {fifo, "/dev/zero"};
}

}  // namespace testing_support
