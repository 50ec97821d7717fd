#include <unistd.h>

#include "platform/terminal.h"

namespace platform {

bool IsLiveConsole(FILE* stream) {
    return stream != nullptr && ::isatty(::fileno(stream)) == 1;
}

}  // namespace platform
