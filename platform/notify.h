// The two ways the core reaches whoever sits in front of it: a notification
// receiver (the stand-in for SendMessage to the dialog) and an operator prompt
// (the stand-in for message boxes shown from any thread).
#pragma once

#include <cstdint>

namespace platform {

// Receives the engine's notifications. Send is synchronous: it returns only
// after the receiver handled the notification, so a payload on the sender's
// stack stays valid throughout.
class NotifyReceiver {
public:
    virtual ~NotifyReceiver() = default;
    virtual intptr_t Send(unsigned message, uintptr_t code, const void* payload) = 0;
};

// Shows texts to the operator exactly as given. A window shows a modal box on
// its own thread while the caller waits; a console prints and never waits.
class OperatorPrompt {
public:
    virtual ~OperatorPrompt() = default;
    virtual void ShowText(const char* text) = 0;
    // True only when the operator answered Yes.
    virtual bool AskYesNo(const char* text) = 0;
};

// The process-wide prompt (nullptr: texts go to the trace sink, questions get No).
void SetOperatorPrompt(OperatorPrompt* prompt);
OperatorPrompt* GetOperatorPrompt();

// A box with an OK button.
void ShowMessage(const char* text);
// A Yes/No box; true only for Yes.
bool AskYesNo(const char* text);

}  // namespace platform
