// voice_time_index.cpp — spans, the bucket index and the gather.
//
// Index
//   VoiceSpanOf
//   BuildVoiceTimeIndex   count per bucket, prefix sums, fill in voice order
//   Loose voices          MarkVoiceLoose, LooseVoiceBound, IndexWantsRebuild
//   GatherVoicesAt / GatherPays
#include "playback/voice_time_index.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "playback/audio_engine.h"

// ---------------------------------------------------------------------------
// VoiceSpanOf
// ---------------------------------------------------------------------------

VoiceSpan VoiceSpanOf(const PlaybackVoice& voice, int rate) {
    const double r = double(std::max(rate, 1));
    const double a = voice.startTime, b = voice.plainStartTime;
    const double sampled = double(std::max(voice.sampleCount, 0)) / r;
    const double len = std::max(double(voice.length), sampled);
    VoiceSpan span;
    // Two samples either side: the mixers place a voice on a whole sample.
    span.start = std::min(a, b) - 2.0 / r;
    span.end = std::max(a, b) + len + 2.0 / r;
    if (!std::isfinite(span.start) || !std::isfinite(span.end)) {
        span.start = -std::numeric_limits<double>::infinity();
        span.end = std::numeric_limits<double>::infinity();
        span.loose = 1;
    }
    return span;
}

// ---------------------------------------------------------------------------
// BuildVoiceTimeIndex
// ---------------------------------------------------------------------------

namespace {

constexpr int64_t kMaxBuckets = int64_t(1) << 22;

int64_t BucketOf(double t, double width) {
    const double b = std::floor(t / width);
    return int64_t(std::clamp(b, -4.0e15, 4.0e15));
}

bool Overlaps(const VoiceSpan& s, double t0, double t1) { return s.start < t1 && t0 < s.end; }

}  // namespace

VoiceTimeIndex BuildVoiceTimeIndex(std::vector<VoiceSpan>& spans) {
    VoiceTimeIndex index;
    index.covered = spans.size();
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (VoiceSpan& s : spans) {
        if (!std::isfinite(s.start) || !std::isfinite(s.end)) {
            s.loose = 1;
            ++index.builtLoose;
            continue;
        }
        s.loose = 0;
        lo = std::min(lo, s.start);
        hi = std::max(hi, s.end);
    }
    index.loose.reserve(index.builtLoose + 2 * LooseVoiceBound(std::max(spans.capacity(), spans.size())));
    for (size_t v = 0; v < spans.size() && index.loose.size() < index.builtLoose; ++v)
        if (spans[v].loose) index.loose.push_back(uint32_t(v));
    if (!(lo <= hi)) return index;  // nothing indexed: every voice is loose, or there are none

    // A bucket a second wide, unless the entries would pass a few per voice
    // (very long voices on a very long timeline) or the buckets a few million.
    const double budget = 16.0 * double(spans.size()) + 4.0e6;
    double width = 1.0;
    for (int tries = 0; tries < 60; ++tries) {
        const int64_t buckets = BucketOf(hi, width) - BucketOf(lo, width) + 1;
        double entries = 0;
        for (const VoiceSpan& s : spans)
            if (!s.loose) entries += double(BucketOf(s.end, width) - BucketOf(s.start, width) + 1);
        if (buckets <= kMaxBuckets && entries <= budget) break;
        width *= 2.0;
    }
    index.bucketSeconds = width;
    index.firstBucket = BucketOf(lo, width);
    const size_t buckets = size_t(BucketOf(hi, width) - index.firstBucket + 1);
    index.offsets.assign(buckets + 1, 0);
    for (const VoiceSpan& s : spans) {
        if (s.loose) continue;
        const size_t b0 = size_t(BucketOf(s.start, width) - index.firstBucket);
        const size_t b1 = size_t(BucketOf(s.end, width) - index.firstBucket);
        for (size_t b = b0; b <= b1; ++b) ++index.offsets[b + 1];
    }
    for (size_t b = 0; b < buckets; ++b) index.offsets[b + 1] += index.offsets[b];
    index.entries.resize(index.offsets[buckets]);
    std::vector<uint32_t> fill(index.offsets.begin(), index.offsets.end() - 1);
    for (size_t v = 0; v < spans.size(); ++v) {
        const VoiceSpan& s = spans[v];
        if (s.loose) continue;
        const size_t b0 = size_t(BucketOf(s.start, width) - index.firstBucket);
        const size_t b1 = size_t(BucketOf(s.end, width) - index.firstBucket);
        for (size_t b = b0; b <= b1; ++b) index.entries[fill[b]++] = uint32_t(v);
    }
    return index;
}

// ---------------------------------------------------------------------------
// Loose voices
// ---------------------------------------------------------------------------

void MarkVoiceLoose(VoiceTimeIndex& index, std::vector<VoiceSpan>& spans, size_t v) {
    if (v >= index.covered || v >= spans.size() || spans[v].loose) return;
    spans[v].loose = 1;
    // Never past the room reserved at the build: this runs under the engine lock.
    if (index.loose.size() < index.loose.capacity())
        index.loose.push_back(uint32_t(v));
    else
        index.looseOverflow = 1;
}

size_t LooseVoiceBound(size_t voiceCount) { return std::max<size_t>(64, voiceCount / 64); }

bool IndexWantsRebuild(const VoiceTimeIndex& index, size_t voiceCount) {
    return index.looseOverflow || index.loose.size() - index.builtLoose > LooseVoiceBound(voiceCount);
}

// ---------------------------------------------------------------------------
// GatherVoicesAt
// ---------------------------------------------------------------------------

int GatherVoicesAt(const VoiceTimeIndex& index, const std::vector<VoiceSpan>& spans, size_t voiceCount,
                   double t0, double t1, uint32_t* out, size_t room) {
    if (voiceCount > spans.size()) return -1;
    size_t n = 0;
    auto add = [&](size_t v) {
        if (n == room) return false;
        out[n++] = uint32_t(v);
        return true;
    };
    const size_t covered = std::min(index.covered, voiceCount);
    bool sorted = true;
    const size_t buckets = index.offsets.empty() ? 0 : index.offsets.size() - 1;
    if (buckets > 0 && covered > 0) {
        const double width = index.bucketSeconds;
        const int64_t want0 = BucketOf(t0, width), want1 = BucketOf(t1, width);
        const int64_t from = std::max(want0, index.firstBucket);
        const int64_t to = std::min(want1, index.firstBucket + int64_t(buckets) - 1);
        for (int64_t b = from; b <= to; ++b) {
            const size_t k = size_t(b - index.firstBucket);
            const size_t before = n;
            for (uint32_t i = index.offsets[k]; i < index.offsets[k + 1]; ++i) {
                const uint32_t v = index.entries[i];
                if (v >= covered) continue;
                const VoiceSpan& s = spans[v];
                // A voice in an earlier bucket of this span was taken there.
                if (s.loose || (b > from && BucketOf(s.start, width) < b) || !Overlaps(s, t0, t1)) continue;
                if (!add(v)) return -1;
            }
            if (b > from && n > before) sorted = false;
        }
    }
    // The loose voices: those listed, or every indexed one the list had no
    // room for. A listed voice is loose (an index made since would have
    // emptied the list); the test keeps one that is not from being taken twice.
    auto addLoose = [&](size_t v) {
        if (!spans[v].loose || !Overlaps(spans[v], t0, t1)) return true;
        sorted = false;
        return add(v);
    };
    if (index.looseOverflow) {
        for (size_t v = 0; v < covered; ++v)
            if (!addLoose(v)) return -1;
    } else {
        for (const uint32_t v : index.loose)
            if (v < covered && !addLoose(v)) return -1;
    }
    // The tail comes after everything indexed: ascending already.
    for (size_t v = covered; v < voiceCount; ++v)
        if (Overlaps(spans[v], t0, t1) && !add(v)) return -1;
    if (!sorted) std::sort(out, out + n);
    return int(n);
}

bool GatherPays(const VoiceTimeIndex& index, size_t voiceCount, double t0, double t1) {
    const size_t covered = std::min(index.covered, voiceCount);
    const size_t buckets = index.offsets.empty() ? 0 : index.offsets.size() - 1;
    if (buckets == 0 || covered == 0) return true;
    const double width = index.bucketSeconds;
    const int64_t from = std::max(BucketOf(t0, width), index.firstBucket);
    const int64_t to = std::min(BucketOf(t1, width), index.firstBucket + int64_t(buckets) - 1);
    size_t looked = 0;
    for (int64_t b = from; b <= to && 2 * looked < covered; ++b) {
        const size_t k = size_t(b - index.firstBucket);
        looked += index.offsets[k + 1] - index.offsets[k];
    }
    return 2 * looked < covered;
}
