#include "sim/handset.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

namespace sim {
namespace {

// Longest sleep: the thread looks at its stop flag at least this often even
// if the wake-up is missed.
constexpr auto kMaxSleep = std::chrono::milliseconds(100);
// Shortest sleep while bytes are on their way: pacing releases them in
// batches of about this much line time.
constexpr auto kBatch = std::chrono::milliseconds(1);
// Replies the host does not read are dropped past this much.
constexpr size_t kMaxOutbox = 64 * 1024;
// The line is read again once this much of its queue is free, so a busy line
// costs a read every few milliseconds rather than one per batch.
constexpr size_t kReadRoom = kLineQueueBytes / 2;

// Points link at target, replacing whatever link stood there, in one step.
bool PlaceLink(const std::string& link, const std::string& target, std::string* error) {
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(target.c_str(), fresh.c_str()) == 0 &&
        ::rename(fresh.c_str(), link.c_str()) == 0) {
        return true;
    }
    *error = "cannot link " + link + " to " + target + ": " + std::strerror(errno);
    ::unlink(fresh.c_str());
    return false;
}

}  // namespace

Handset::Handset(HandsetConfig config, uint32_t baud)
    : core_(std::move(config)), baud_(baud), rxLine_(baud), txLine_(baud) {}

Handset::Handset(SwapPlan plan, uint32_t baud)
    : core_(HandsetConfig{}), baud_(baud), plan_(std::move(plan)), rxLine_(baud), txLine_(baud) {}

Handset::~Handset() {
    Stop();
}

bool Handset::Start(std::string* error) {
    if (Swapping() ? !Arrive(1, error) : !pty_.Open(error)) return false;
    if (!Swapping()) {
        std::lock_guard<std::mutex> lock(mutex_);
        device_ = pty_.SlavePath();
        presence_.present = true;
    }
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        *error = std::string("eventfd: ") + std::strerror(errno);
        Vacate();
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this] { Run(); });
    return true;
}

std::string Handset::Device() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_;
}

// Opens a fresh pseudo-terminal for handset `number` and points the link at it.
bool Handset::Arrive(int number, std::string* error) {
    HandsetConfig config = plan_.configFor(number);
    const std::string serial = config.serial;
    if (!pty_.Open(error) || !watch_.Open(pty_.SlavePath(), error) ||
        !PlaceLink(plan_.link, pty_.SlavePath(), error)) {
        Vacate();
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        core_ = HandsetCore(std::move(config));
        presence_.number = number;
        presence_.present = true;
        presence_.serial = serial;
        device_ = pty_.SlavePath();
    }
    number_ = number;
    present_ = true;
    hostClosed_ = false;
    passed_ = false;
    return true;
}

// The link goes first, then the pseudo-terminal: a host holding it sees a
// hang-up, a host looking for the device finds none.
void Handset::Vacate() {
    if (Swapping()) ::unlink(plan_.link.c_str());
    watch_.Close();
    pty_.Close();
}

void Handset::Leave(Clock::time_point now) {
    const std::string device = pty_.SlavePath();
    Vacate();
    rxLine_.Clear();
    txLine_.Clear();
    inbox_.clear();
    outbox_.clear();
    delayedReply_.clear();
    busy_ = false;
    readable_ = false;
    lineDead_ = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (core_.TakeDumpDue()) core_.WriteDumpNow();
        departed_.push_back(core_.Stats());
        presence_.present = false;
        presence_.departures += 1;
        device_.clear();
    }
    present_ = false;
    arriveAt_ = now + plan_.pause;
    Tell(false, device);
}

bool Handset::ShouldLeave(Clock::time_point now) {
    if (lineDead_) return true;  // the cable was pulled
    if (watch_.Take()) {
        hostClosed_ = true;
        hostClosedAt_ = now;
    }
    const bool hostHolds = watch_.HostOpens() > 0;
    bool complete = false;
    uint64_t unlocks = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        complete = core_.ImageComplete();
        unlocks = core_.Stats().unlocks;
    }
    // After a go whose reply has left and whose dump is written: once the
    // host has taken the reply and the stay is over.
    if (!passed_ && complete && txLine_.Pending() == 0 && outbox_.empty() && !busy_ &&
        (!hostHolds || !pty_.SlaveHasInput())) {
        passed_ = true;
        passedAt_ = now;
    }
    if (passed_) return now >= passedAt_ + plan_.stay;
    return unlocks > 0 && !hostHolds && hostClosed_ && now >= hostClosedAt_ + plan_.pause;
}

void Handset::CheckArrival(Clock::time_point now) {
    if ((plan_.count != 0 && number_ >= plan_.count) || now < arriveAt_) return;
    std::string error;
    if (Arrive(number_ + 1, &error)) {
        Tell(true, pty_.SlavePath());
        return;
    }
    const LogFunction log = plan_.configFor(number_ + 1).log;
    if (log) log("handset " + std::to_string(number_ + 1) + " cannot arrive: " + error);
    arriveAt_ = now + plan_.pause;  // tries again
}

void Handset::Tell(bool arrived, const std::string& device) {
    if (!plan_.onEvent) return;
    SwapEvent event;
    event.arrived = arrived;
    event.device = device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        event.number = presence_.number;
        event.serial = presence_.serial;
    }
    plan_.onEvent(event);
}

void Handset::Stop() {
    if (thread_.joinable()) {
        stop_ = true;
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) ::close(wakeFd_);
    wakeFd_ = -1;
    Vacate();
}

void Handset::Run() {
    while (!stop_) {
        const Clock::time_point now = Clock::now();
        if (present_) {
            ReadLine(now);
            Deliver(now);
            Transmit(now);
            WriteDueDump();
            if (Swapping() && ShouldLeave(now)) Leave(now);
        } else {
            CheckArrival(now);
        }
        // After Transmit: a waiter that sees a reply counted finds it on the line.
        changed_.notify_all();
        WaitForWork(Clock::now());
    }
}

void Handset::WriteDueDump() {
    // Only once the go's reply has left the line.
    if (txLine_.Pending() > 0 || !outbox_.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (core_.TakeDumpDue()) core_.WriteDumpNow();
}

size_t Handset::QueuedIn() const {
    return rxLine_.Pending() + inbox_.size();
}

void Handset::ReadLine(Clock::time_point now) {
    if (!readable_) return;
    readable_ = false;
    uint8_t buffer[kLineQueueBytes];
    while (!lineDead_ && QueuedIn() < kLineQueueBytes) {
        const size_t room = kLineQueueBytes - QueuedIn();
        const ssize_t n = ::read(pty_.Master(), buffer, room);
        if (n <= 0) return;  // EAGAIN: nothing waits (the slave stays open)
        rxLine_.Push(buffer, static_cast<size_t>(n), now);
    }
}

void Handset::Deliver(Clock::time_point now) {
    rxLine_.Release(now, &inbox_);
    if (busy_ && now >= busyUntil_) {
        busy_ = false;
        txLine_.Push(delayedReply_.data(), delayedReply_.size(), now);
        delayedReply_.clear();
    }
    if (!busy_ && !inbox_.empty() && !lineDead_) FeedInbox(now);
}

void Handset::FeedInbox(Clock::time_point now) {
    size_t taken = 0;
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        while (taken < inbox_.size() && !busy_ && !lineDead_) {
            taken += core_.Feed(inbox_.data() + taken, inbox_.size() - taken, &outcome);
            if (!outcome.Acts()) continue;
            if (outcome.hangUp) {
                HangUp();
            } else if (outcome.delayMs > 0) {
                busy_ = true;
                busyUntil_ = now + std::chrono::milliseconds(outcome.delayMs);
                delayedReply_ = std::move(outcome.reply);
            } else {
                txLine_.Push(outcome.reply.data(), outcome.reply.size(), now);
            }
        }
    }
    inbox_.erase(inbox_.begin(), inbox_.begin() + static_cast<std::ptrdiff_t>(taken));
}

void Handset::Transmit(Clock::time_point now) {
    txLine_.Release(now, &outbox_);
    if (outbox_.size() > kMaxOutbox) outbox_.clear();  // nobody reads the port
    if (lineDead_ || outbox_.empty()) return;
    const ssize_t n = ::write(pty_.Master(), outbox_.data(), outbox_.size());
    if (n <= 0) return;
    outbox_.erase(outbox_.begin(), outbox_.begin() + n);
    std::lock_guard<std::mutex> lock(mutex_);
    core_.CountSent(static_cast<size_t>(n));
}

Clock::time_point Handset::NextWake(Clock::time_point now) const {
    Clock::time_point wake = now + kMaxSleep;
    if (!present_) {
        const bool more = plan_.count == 0 || number_ < plan_.count;
        return more ? std::min(wake, arriveAt_) : wake;
    }
    if (passed_) wake = std::min(wake, passedAt_ + plan_.stay);
    if (Swapping() && hostClosed_ && watch_.HostOpens() == 0) {
        wake = std::min(wake, hostClosedAt_ + plan_.pause);
    }
    if (lineDead_) return wake;
    if (busy_) wake = std::min(wake, busyUntil_);
    if (!busy_ && rxLine_.Pending() > 0) wake = std::min(wake, rxLine_.NextDue());
    if (txLine_.Pending() > 0) wake = std::min(wake, txLine_.NextDue());
    return wake;
}

void Handset::WaitForWork(Clock::time_point now) {
    auto sleep = NextWake(now) - now;
    if (sleep < Clock::duration::zero()) sleep = Clock::duration::zero();
    if (sleep > Clock::duration::zero() && sleep < kBatch) sleep = kBatch;
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(sleep).count();
    struct timespec timeout {
        static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)
    };
    struct pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {pty_.Master(), 0, 0}, {watch_.Fd(), POLLIN, 0}};
    if (!lineDead_ && QueuedIn() + kReadRoom <= kLineQueueBytes) fds[1].events |= POLLIN;
    if (!lineDead_ && !outbox_.empty()) fds[1].events |= POLLOUT;
    const nfds_t count = !present_ || lineDead_ ? 1 : watch_.Fd() >= 0 ? 3 : 2;
    if (::ppoll(fds, count, &timeout, nullptr) > 0) {
        readable_ = (fds[1].revents & POLLIN) != 0;
    }
}

void Handset::HangUp() {
    lineDead_ = true;
    pty_.Close();
    rxLine_.Clear();
    txLine_.Clear();
    outbox_.clear();
    delayedReply_.clear();
    busy_ = false;
}

HandsetStats Handset::Stats() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Stats();
}

Presence Handset::CurrentPresence() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return presence_;
}

std::vector<HandsetStats> Handset::Departed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return departed_;
}

bool Handset::WaitForPresence(const std::function<bool(const Presence&)>& done,
                              std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(presence_); });
}

std::vector<FlashRange> Handset::FlashRanges() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Flash().Ranges();
}

bool Handset::ReadFlash(uint32_t address, size_t length, std::vector<uint8_t>* out) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Flash().Read(address, length, out);
}

std::vector<uint8_t> Handset::FlashImage() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.Flash().Concatenated();
}

bool Handset::WriteDump() {
    std::lock_guard<std::mutex> lock(mutex_);
    return core_.WriteDumpNow();
}

bool Handset::WaitUntil(const std::function<bool(const HandsetStats&)>& done,
                        std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return done(core_.Stats()); });
}

}  // namespace sim
