#include "platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

std::atomic<TraceHook> g_hook{nullptr};

bool EnvironmentWantsTraces() {
    static const bool enabled = [] {
        const char* value = std::getenv("KELVANE_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

}  // namespace

void SetTraceHook(TraceHook hook) {
    g_hook.store(hook);
}

void Trace(const char* format, ...) {
    TraceHook hook = g_hook.load();
    if (hook == nullptr && !EnvironmentWantsTraces()) return;
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (hook != nullptr) hook(line);
    if (EnvironmentWantsTraces()) std::fputs(line, stderr);
}

}  // namespace platform
