#include "platform/notify.h"

#include <atomic>

#include "platform/trace.h"

namespace platform {
namespace {
std::atomic<OperatorPrompt*> g_prompt{nullptr};
}

void SetOperatorPrompt(OperatorPrompt* prompt) {
    g_prompt.store(prompt);
}

OperatorPrompt* GetOperatorPrompt() {
    return g_prompt.load();
}

void ShowMessage(const char* text) {
    if (OperatorPrompt* prompt = g_prompt.load()) {
        prompt->ShowText(text);
        return;
    }
    TRACE("ShowMessage() no prompt: %s\n", text);
}

bool AskYesNo(const char* text) {
    if (OperatorPrompt* prompt = g_prompt.load()) return prompt->AskYesNo(text);
    TRACE("AskYesNo() no prompt, answered No: %s\n", text);
    return false;
}

}  // namespace platform
