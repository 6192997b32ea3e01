// trace_frames.cpp — suggested cuts and flashes moved onto their frame.
//
// Index
//   MeasureFrameSignature / FrameChangeBetween
//   HardChangeTime        hard changes, grouped into events, the event nearest the suggestion
//   FrameWalker           forward decoding of the stretches around the suggestions
//   RefineSuggestionFrames   move each spot onto its change, one spot per frame
#include "picture/trace_frames.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>

#include "picture/trace_records.h"
#include "picture/video_decoder.h"

namespace {

// Either side of a suggestion: the smoothing of the trace puts a spot up to
// three samples from its change in the later peel passes. The slack keeps a
// change exactly at the edge inside.
constexpr double kWindowSeconds = 0.3 + 1e-4;
constexpr double kSeekGapSeconds = 2.0;   // a stretch without suggestions this long is skipped by seeking
constexpr double kEventSeconds = 0.2;     // hard changes closer than this are one event
constexpr float kHardChange = 0.08f;
constexpr float kDominance = 4.0f;
constexpr int32_t kSignatureWidth = 64;   // pictures measured this wide at most

}  // namespace

// ---------------------------------------------------------------------------
// MeasureFrameSignature / FrameChangeBetween
// ---------------------------------------------------------------------------

FrameSignature MeasureFrameSignature(const uint8_t* rgba, int32_t width, int32_t height) {
    FrameSignature sig;
    const int64_t n = (rgba && width > 0 && height > 0) ? int64_t(width) * int64_t(height) : 0;
    if (n < 1) return sig;
    int64_t bins[24] = {};
    double luma = 0;
    for (int64_t p = 0; p < n; ++p) {
        const uint8_t* px = rgba + p * 4;
        luma += 0.2126 * px[0] + 0.7152 * px[1] + 0.0722 * px[2];
        for (int c = 0; c < 3; ++c) ++bins[c * 8 + std::min(px[c] * 8 / 255, 7)];
    }
    sig.luma = float(luma / 255.0 / double(n));
    for (int k = 0; k < 24; ++k) sig.histogram[k] = float(double(bins[k]) / double(n));
    return sig;
}

float FrameChangeBetween(const FrameSignature& before, const FrameSignature& after) {
    double histogram = 0;
    for (int k = 0; k < 24; ++k) histogram += std::fabs(double(after.histogram[k]) - double(before.histogram[k]));
    return float(histogram / 6.0 + std::fabs(double(after.luma) - double(before.luma)));
}

// ---------------------------------------------------------------------------
// HardChangeTime
// ---------------------------------------------------------------------------

double HardChangeTime(const std::vector<FrameChange>& changes, double near) {
    const double none = std::numeric_limits<double>::quiet_NaN();
    if (changes.empty()) return none;
    std::vector<float> values;
    values.reserve(changes.size());
    for (const FrameChange& c : changes) values.push_back(std::isfinite(c.change) ? c.change : 0.0f);
    auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    const float floor = std::max(kHardChange, kDominance * *middle);

    double best = none, bestDistance = std::numeric_limits<double>::infinity();
    double eventStart = none, lastHard = none;
    auto closeEvent = [&] {
        if (std::isnan(eventStart)) return;
        const double distance = std::fabs(eventStart - near);
        if (distance < bestDistance) bestDistance = distance, best = eventStart;
    };
    for (const FrameChange& c : changes) {
        if (!(c.change >= floor) || !std::isfinite(c.time)) continue;
        if (std::isnan(lastHard) || c.time - lastHard >= kEventSeconds) {
            closeEvent();
            eventStart = c.time;
        }
        lastHard = c.time;
    }
    closeEvent();
    return best;
}

// ---------------------------------------------------------------------------
// FrameWalker
// ---------------------------------------------------------------------------

namespace {

struct MeasuredFrame {
    double time = 0;
    bool followsPrevious = false;  // the frame decoded just before it is the one before it here
    FrameSignature signature;
};

// Decodes forward and keeps the signatures of the frames a window needs.
// Windows come in order of their start; a gap longer than kSeekGapSeconds
// before the next window is skipped by a seek.
class FrameWalker {
public:
    explicit FrameWalker(const std::string& path) {
        open_ = OpenVideoFFmpeg(decoder_, path);
        if (!open_) return;
        width_ = std::min(decoder_.width, kSignatureWidth);
        height_ = std::max(1, int32_t(std::lround(double(decoder_.height) * width_ / decoder_.width)));
        rgba_.resize(size_t(width_) * size_t(height_) * 4);
        frameSeconds_ = decoder_.fps > 0 ? 1.0 / decoder_.fps : 0.04;
    }
    ~FrameWalker() { CloseVideoFFmpeg(decoder_); }
    FrameWalker(const FrameWalker&) = delete;
    FrameWalker& operator=(const FrameWalker&) = delete;

    bool Open() const { return open_; }

    // The changes of consecutive frames whose later frame lies in [a, b].
    // False when the file could not be read at all.
    bool Changes(double a, double b, std::vector<FrameChange>& out) {
        out.clear();
        if (!open_) return false;
        const double keepFrom = a - 1.5 * frameSeconds_;
        if (a - decodedTo_ > kSeekGapSeconds) {
            SeekVideoFFmpeg(decoder_, std::max(0.0, keepFrom));
            frames_.clear();
            lastConverted_ = false;
            atEnd_ = false;
            decodedTo_ = -std::numeric_limits<double>::infinity();
        }
        while (!frames_.empty() && frames_.front().time < keepFrom) frames_.pop_front();
        while (!atEnd_ && decodedTo_ < b) {
            double t = 0;
            if (!ReceiveVideoFrameFFmpeg(decoder_, &t)) {
                atEnd_ = true;
                break;
            }
            decodedTo_ = t;
            if (t < keepFrom) {
                lastConverted_ = false;
                continue;
            }
            if (!ConvertVideoFrameFFmpeg(decoder_, decoder_.frame, width_, height_, rgba_.data())) {
                lastConverted_ = false;
                continue;
            }
            frames_.push_back({t, lastConverted_, MeasureFrameSignature(rgba_.data(), width_, height_)});
            lastConverted_ = true;
        }
        for (size_t i = 1; i < frames_.size(); ++i) {
            const MeasuredFrame& f = frames_[i];
            if (!f.followsPrevious || f.time < a || f.time > b) continue;
            out.push_back({f.time, FrameChangeBetween(frames_[i - 1].signature, f.signature)});
        }
        return true;
    }

private:
    VideoDecoder decoder_;
    bool open_ = false;
    int32_t width_ = 0, height_ = 0;
    double frameSeconds_ = 0.04;
    std::vector<uint8_t> rgba_;
    std::deque<MeasuredFrame> frames_;
    bool lastConverted_ = false;
    bool atEnd_ = false;
    double decodedTo_ = -std::numeric_limits<double>::infinity();
};

}  // namespace

// ---------------------------------------------------------------------------
// RefineSuggestionFrames
// ---------------------------------------------------------------------------

FramePlacement RefineSuggestionFrames(OpticalTrace& trace, const TraceVideoSource& source,
                                      const std::atomic<bool>* cancel) {
    FramePlacement placement;
    std::vector<SuggestedEvent>& list = trace.suggestions;
    std::vector<size_t> order;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].type == 0 && std::isfinite(list[i].time)) order.push_back(i);
    if (order.empty() || source.path.empty()) return placement;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return list[a].time < list[b].time; });

    FrameWalker walker(source.path);
    if (!walker.Open()) return placement;
    // The spot that stays on each frame of a hard change, by the frame's time.
    std::map<double, size_t> onFrame;
    std::vector<bool> merged(list.size(), false);
    std::vector<FrameChange> changes;
    for (size_t i : order) {
        if (cancel && cancel->load(std::memory_order_relaxed)) break;
        SuggestedEvent& s = list[i];
        const double t = s.time;
        if (!walker.Changes(t - kWindowSeconds, t + kWindowSeconds, changes)) break;
        const double frame = HardChangeTime(changes, t);
        if (std::isnan(frame)) continue;
        if (std::fabs(frame - t) >= 1e-4) {
            s.time = float(frame);
            ++placement.moved;
        }
        // Every peel pass may put a spot near the same cut: once on its frame
        // they are one hit, and the strongest speaks for it (of equals, the
        // one that stood earliest).
        auto [kept, first] = onFrame.emplace(frame, i);
        if (first) continue;
        size_t loser = i;
        if (list[i].intensity > list[kept->second].intensity) {
            loser = kept->second;
            kept->second = i;
        }
        merged[loser] = true;
        ++placement.merged;
    }
    if (placement.merged > 0) {
        size_t write = 0;
        for (size_t i = 0; i < list.size(); ++i)
            if (!merged[i]) list[write++] = std::move(list[i]);
        list.resize(write);
    }
    if (placement.moved > 0)
        std::stable_sort(list.begin(), list.end(),
                         [](const SuggestedEvent& a, const SuggestedEvent& b) { return a.time < b.time; });
    return placement;
}
