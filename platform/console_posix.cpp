#include <unistd.h>

#include "platform/console.h"

namespace platform {

bool StandardOutputIsTerminal() {
    return ::isatty(STDOUT_FILENO) == 1;
}

}  // namespace platform
