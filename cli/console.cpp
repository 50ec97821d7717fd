#include "cli/console.h"

#include <cstring>

#include "engine/image.h"
#include "link/notify.h"
#include "link/serial.h"
#include "platform/console_text.h"

namespace cli {

Console::Console(FILE* out, bool live) : out_(out), live_(live) {}

void Console::ResetProgress() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Progress& p : progress_)
        p = Progress{};
}

intptr_t Console::Send(unsigned /*message*/, uintptr_t code, const void* payload) {
    if (payload == nullptr) return 0;
    switch (code) {
        case NOTIFY_PROGRESS:
            OnProgress(payload);
            break;
        case NOTIFY_STATUS:
            OnStatus(static_cast<const char*>(payload));
            break;
        case NOTIFY_CHANNEL_TEXT:
            OnChannelText(payload);
            break;
        default:
            break;
    }
    return 0;
}

void Console::ShowText(const char* text) {
    Line(std::string("message: ") + text);
}

bool Console::AskYesNo(const char* text) {
    Line(std::string("question (answered No): ") + text);
    return false;
}

void Console::OnStatus(const char* text) {
    Line(std::string("status: ") + text);
    // A port that does not open is told by its COM number only; the device
    // and the system's reason follow on a line of their own.
    int comPort = 0;
    if (std::sscanf(text, "SERIAL_DEVICE_Open(COM%d) Failed!", &comPort) != 1) return;
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const std::string reason = SERIAL_PORT_LastOpenError(ch);
        if (g_nComPort[ch] == comPort && !reason.empty()) {
            Line("[CH" + std::to_string(ch) + "] " + reason);
        }
    }
}

void Console::OnChannelText(const void* payload) {
    const auto* record = static_cast<const ImageEntry*>(payload);
    if (record->path[0] == '\0' || !IsChannel(record->channel)) return;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "[CH%d] ", record->channel);
    Line(prefix + std::string(record->path));
}

void Console::OnProgress(const void* payload) {
    const auto* e = static_cast<const ImageEntry*>(payload);
    if (!IsChannel(e->channel)) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Progress& p = progress_[e->channel];
    if (!p.shown || p.kind != e->kind || e->bytesSent < p.sent) {
        p.started = std::chrono::steady_clock::now();
    }
    p.shown = true;
    p.kind = e->kind;
    p.size = e->size;
    p.sent = e->bytesSent;
    if (!live_) return;
    EraseBlock();
    DrawBlock();
}

void Console::Line(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    EraseBlock();
    platform::PrintText(out_, "%s\n", text.c_str());
    DrawBlock();
    std::fflush(out_);
}

void Console::Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    drawnLines_ = 0;
    std::fflush(out_);
}

void Console::EraseBlock() {
    if (!live_ || drawnLines_ == 0) return;
    platform::PrintText(out_, "\x1b[%dA\x1b[J", drawnLines_);
    drawnLines_ = 0;
}

void Console::DrawBlock() {
    if (!live_) return;
    const auto now = std::chrono::steady_clock::now();
    for (int ch = 0; ch < kChannelCount; ++ch) {
        const Progress& p = progress_[ch];
        if (!p.shown) continue;
        const double seconds = std::chrono::duration<double>(now - p.started).count();
        const double rate = seconds > 0.05 ? p.sent / 1000.0 / seconds : 0.0;
        const unsigned percent =
            p.size == 0 ? 100u : static_cast<unsigned>(uint64_t{p.sent} * 100 / p.size);
        const char* name = p.kind >= 0 && p.kind < kImageSlotCount ? g_imageNames[p.kind] : "?";
        platform::PrintText(out_, "  CH%d %-10s %3u%% %10u/%-10u %8.1f KB/s\n", ch, name,
                            percent > 100 ? 100u : percent, p.sent, p.size, rate);
        ++drawnLines_;
    }
    std::fflush(out_);
}

}  // namespace cli
