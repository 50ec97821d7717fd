// The unlock that starts a channel's exchange, taken only once the handset is
// in step with this session.
//
// A session that was stopped leaves up to four frames on their way to the
// handset (three unanswered and the one being written), and the handset
// answers each of them before it reads anything of the next session. Those
// answers carry sequence numbers of their own, so an unlock sent at once may
// seem answered by one of them. Instead of a fixed pause, the first unlock is
// a probe: a handset in step answers it alone, at once. A second unlock two
// sequence numbers on confirms it (an earlier session's answers come in
// consecutive numbers, so none of them can pass for both). Any other answer
// means the handset still answers earlier frames: the line is left to go
// quiet (no byte for as long as the largest frame takes), bounded by what
// four frames take at the line's speed, and the probe starts over.
#include "link/commands.h"
#include "link/frame.h"
#include "link/packet.h"
#include "link/serial.h"
#include "platform/tick.h"
#include "platform/trace.h"

namespace {

// A handset's own time to answer, beyond the time its answer takes on the line.
constexpr uint32_t kAnswerMarginMs = 300;
// Frames an earlier session can have left on their way.
constexpr uint64_t kFramesInFlight = 4;
constexpr int kProbeRounds = 3;

enum class Answer { kInStep, kOutOfStep, kSilent, kStopped };

uint32_t LineMs(int channel, uint64_t bytes) {
    const uint32_t baud = g_dwBaudRate[channel];
    return baud == 0 ? 0 : static_cast<uint32_t>(bytes * 10 * 1000 / baud + 1);
}

// The longest a handset that still has frames to answer stays silent.
uint32_t QuietMs(int channel) {
    return LineMs(channel, kLargestFrameBytes) + kAnswerMarginMs;
}

bool Active(int channel) {
    return channelActive[channel].load() != 0;
}

bool Passed(uint32_t deadline) {
    return static_cast<int32_t>(platform::GetTickCount() - deadline) >= 0;
}

// Sends one unlock and waits for the first answer after it, at least as long
// as a silent handset is given and never past the later of that and
// deadline. In step: the answer is the unlock's ACK, alone and without error.
Answer Probe(int channel, uint32_t deadline) {
    LinkState& fn = FN[channel];
    const uint32_t ownDeadline = platform::GetTickCount() + QuietMs(channel);
    if (static_cast<int32_t>(ownDeadline - deadline) > 0) deadline = ownDeadline;
    const int32_t before = fn.rxCount;
    const int slot = fn.txCount & 3;
    FLASH_DOWNLOADER_SendUnlock(channel);
    if (fn.sendFailed != 0) return Active(channel) ? Answer::kSilent : Answer::kStopped;
    uint32_t heard = platform::GetTickCount();
    while (fn.rxCount == before) {
        const uint32_t now = platform::GetTickCount();
        if (!Active(channel)) return Answer::kStopped;
        if (now - heard >= QuietMs(channel) || Passed(deadline)) return Answer::kSilent;
        platform::Sleep(1);
        if (SERIAL_PORT_DoReading(channel) > 0) heard = platform::GetTickCount();
    }
    const bool alone = fn.rxCount == before + 1 && fn.replyRing[slot] == ackCode &&
                       fn.errorCount == 0 && fn.error_no == -1;
    return alone ? Answer::kInStep : Answer::kOutOfStep;
}

// Lets whatever the handset still answers arrive and drops it.
void LetLineGoQuiet(int channel, uint32_t deadline) {
    uint32_t heard = platform::GetTickCount();
    for (;;) {
        if (!Active(channel) || platform::GetTickCount() - heard >= QuietMs(channel) ||
            Passed(deadline)) {
            break;
        }
        platform::Sleep(1);
        if (SERIAL_PORT_DoReading(channel) > 0) heard = platform::GetTickCount();
    }
    SERIAL_PORT_PurgeInput(channel);
    FRAME_ResetReceiver(channel);
}

// The probe, and its confirmation two sequence numbers on.
Answer ProbeTwice(int channel, uint32_t deadline) {
    FLASH_DOWNLOADER_ResetLink(channel);
    const Answer first = Probe(channel, deadline);
    if (first != Answer::kInStep) return first;
    FN[channel].txCount += 1;  // a number skipped; its slot stays answered
    const Answer second = Probe(channel, deadline);
    return second == Answer::kSilent ? Answer::kOutOfStep : second;
}

}  // namespace

int FLASH_DOWNLOADER_UnlockInStep(int channel) {
    const uint32_t deadline = platform::GetTickCount() +
                              LineMs(channel, kFramesInFlight * kLargestFrameBytes) +
                              QuietMs(channel);
    for (int round = 0; round < kProbeRounds; ++round) {
        const Answer answer = ProbeTwice(channel, deadline);
        if (answer == Answer::kInStep) {
            FLASH_DOWNLOADER_ResetLink(channel);
            return 1;
        }
        if (answer != Answer::kOutOfStep) break;
        TRACE("[Ch %d] FLASH_DOWNLOADER_UnlockInStep() earlier answers on the line\n", channel);
        LetLineGoQuiet(channel, deadline);
    }
    FLASH_DOWNLOADER_ResetLink(channel);
    FLASH_DOWNLOADER_Close(channel);
    return 0;
}
