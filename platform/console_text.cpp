#include <cstdarg>
#include <string>

#include "platform/console_text.h"

namespace platform {

void PrintText(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (length > 0) {
        std::string text(static_cast<size_t>(length) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<size_t>(length));
        WriteText(stream, text);
    }
    va_end(again);
}

}  // namespace platform
