// The console front end of the engine: notifications become printed lines
// (and live progress lines on a terminal), message boxes become printed
// lines that never wait.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "link/channel.h"
#include "platform/notify.h"

namespace cli {

class Console : public platform::NotifyReceiver, public platform::OperatorPrompt {
public:
    // live: redraw one progress line per channel (a terminal); otherwise
    // print the lines only.
    Console(FILE* out, bool live);

    intptr_t Send(unsigned message, uintptr_t code, const void* payload) override;
    void ShowText(const char* text) override;
    bool AskYesNo(const char* text) override;

    // Forgets the progress of every channel (before the next session).
    void ResetProgress();
    // Prints a line above the progress block.
    void Line(const std::string& text);
    // Leaves the progress block on screen and moves below it.
    void Finish();

private:
    struct Progress {
        bool shown = false;
        int kind = -1;
        uint32_t size = 0;
        uint32_t sent = 0;
        std::chrono::steady_clock::time_point started{};
    };
    void OnProgress(const void* payload);
    void OnStatus(const char* text);
    void OnChannelText(const void* payload);
    void EraseBlock();
    void DrawBlock();

    FILE* out_;
    bool live_;
    std::mutex mutex_;
    Progress progress_[kChannelCount];
    int drawnLines_ = 0;
};

}  // namespace cli
