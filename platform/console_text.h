// The programs' texts with the outside world: their arguments and what they
// print. Inside, texts are UTF-8. On Windows the arguments are read from the
// UTF-16 command line, and a console is written in UTF-16 so that any letter
// shows; a file or pipe gets the UTF-8 bytes unchanged. On POSIX arguments
// and output are bytes as they are.
#pragma once

#include <cstdio>
#include <string_view>

#include "platform/compiler.h"

namespace platform {

// Replaces main's arguments by UTF-8 ones (on POSIX it leaves them alone).
// The new ones stay valid until the process ends.
void TakeArgumentsAsUtf8(int* argc, char*** argv);

// Writes UTF-8 text to stream.
void WriteText(FILE* stream, std::string_view text);

// printf into WriteText.
void PrintText(FILE* stream, const char* format, ...) KELVANE_PRINTF_FORMAT(2, 3);

}  // namespace platform
