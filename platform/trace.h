// Diagnostic traces: printf-style lines into one sink.
// Silent unless KELVANE_TRACE=1 is set in the environment; tests may install a
// hook to see every line whatever the environment says.
#pragma once

#include "platform/compiler.h"

namespace platform {

// Formats one trace line and hands it to the sink.
void Trace(const char* format, ...) KELVANE_PRINTF_FORMAT(1, 2);

// A hook that receives every formatted trace line (nullptr removes it).
using TraceHook = void (*)(const char* line);
void SetTraceHook(TraceHook hook);

}  // namespace platform

#define TRACE(...) ::platform::Trace(__VA_ARGS__)
