#include "tests/support/pty_peer.h"

namespace testing_support {

std::vector<std::string> NonRegularFiles(const TempDir&) {
    return {"NUL"};
}

}  // namespace testing_support
