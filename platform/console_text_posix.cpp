#include "platform/console_text.h"

namespace platform {

void TakeArgumentsAsUtf8(int* /*argc*/, char*** /*argv*/) {}

void WriteText(FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace platform
