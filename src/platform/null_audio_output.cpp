// null_audio_output.cpp — the pacing thread of the output without a device.
//
// Index
//   Device and stream calls
//   Run                    one callback per period, paced on the steady clock
#include "platform/null_audio_output.h"

#include <chrono>
#include <cstdint>

namespace {

// Periods the thread may fall behind before it stops catching up.
constexpr int kMaxLatePeriods = 8;

}  // namespace

// ---------------------------------------------------------------------------
// Device and stream calls
// ---------------------------------------------------------------------------

NullAudioOutput::~NullAudioOutput() { CloseStream(); }

bool NullAudioOutput::GetDeviceInfo(uint32_t id, AudioDeviceInfo& info) {
    if (id != 0) return false;
    info = AudioDeviceInfo{};
    info.id = 0;
    info.name = kNullOutputDeviceName;
    info.outputChannels = 2;
    return true;  // no rates listed, none preferred: it runs at the rate asked for
}

bool NullAudioOutput::OpenStream(const AudioStreamRequest& request, uint32_t& grantedFrames,
                                 std::string& error) {
    if (open_) {
        error = "a stream is already open";
        return false;
    }
    if (request.deviceId != 0 || request.sampleRate < 1 || request.periodFrames < 1 || !request.callback) {
        error = "invalid stream request";
        return false;
    }
    request_ = request;
    buffer_.assign(size_t(request.periodFrames) * 2, 0.0f);
    grantedFrames = request.periodFrames;
    open_ = true;
    return true;
}

bool NullAudioOutput::StartStream(std::string& error) {
    if (!open_) {
        error = "no stream is open";
        return false;
    }
    if (running_.load()) return true;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_ = false;
    }
    running_.store(true);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void NullAudioOutput::StopStream() {
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    running_.store(false);
}

void NullAudioOutput::CloseStream() {
    StopStream();
    open_ = false;
    buffer_.clear();
}

// ---------------------------------------------------------------------------
// Run
// ---------------------------------------------------------------------------

void NullAudioOutput::Run() {
    using Clock = std::chrono::steady_clock;
    const double periodSeconds = double(request_.periodFrames) / request_.sampleRate;
    // Deadlines count whole periods from a start, so rounding never drifts.
    Clock::time_point start = Clock::now();
    int64_t periods = 0;
    double streamTime = 0;
    std::unique_lock<std::mutex> lock(wakeMutex_);
    while (!stop_) {
        lock.unlock();
        request_.callback(buffer_.data(), nullptr, request_.periodFrames, streamTime, 0, request_.user);
        streamTime += periodSeconds;
        ++periods;
        auto deadline = start + std::chrono::duration_cast<Clock::duration>(
                                    std::chrono::duration<double>(periods * periodSeconds));
        const Clock::time_point now = Clock::now();
        if (now - deadline > std::chrono::duration<double>(kMaxLatePeriods * periodSeconds)) {
            start = now;
            periods = 0;
            deadline = now;
        }
        lock.lock();
        wake_.wait_until(lock, deadline, [this] { return stop_; });
    }
}
