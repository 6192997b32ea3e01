// voice_time_index.h — where on the timeline each voice can sound, and an
// index by time over the voice list, so that a block of the mix looks only at
// the voices that sound in it.
//
// Index
//   VoiceSpan / VoiceSpanOf     the seconds a voice may sound in (deconfliction on or off)
//   VoiceTimeIndex              voices by one-second buckets (wider for very long timelines)
//   BuildVoiceTimeIndex         the index over a list of spans
//   GatherVoicesAt              the voices that may sound in [t0, t1), in list order
//   GatherPays                  whether a gather would leave out enough voices to pay for itself
//
// The engine keeps one span per voice beside the list and an index built
// from them. Voices appended since the index was built (the tail), and
// voices whose span changed since (marked loose), are looked at on their
// own, so an install or a move never waits for a new index: the owner of the
// voices builds one, unlocked, when it has finished changing them, and swaps
// it in with the list under the lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct PlaybackVoice;

struct VoiceSpan {
    double start = 0;
    double end = 0;
    // Not where the index has it (its span changed since), or not finite:
    // the gather looks at it on its own.
    uint8_t loose = 0;
};
// Every sample the voice can sound at `rate`, whether it plays at its
// startTime or its plainStartTime, with a little room for rounding.
VoiceSpan VoiceSpanOf(const PlaybackVoice& voice, int rate);

struct VoiceTimeIndex {
    double bucketSeconds = 1.0;
    int64_t firstBucket = 0;
    size_t covered = 0;              // voices [0, covered) were indexed
    std::vector<uint32_t> offsets;   // bucket k's voices: entries[offsets[k], offsets[k + 1])
    std::vector<uint32_t> entries;   // ascending within each bucket
};

// The index over `spans` (voice i has spans[i]). Spans that are not finite
// are marked loose; loose spans are left out. Buckets are one second wide,
// wider when the spans would otherwise make more than a few entries per voice.
VoiceTimeIndex BuildVoiceTimeIndex(std::vector<VoiceSpan>& spans);

// Writes the voices of [0, voiceCount) that may sound in [t0, t1) into `out`
// in ascending order and returns how many: the indexed voices of the buckets
// the span meets, the loose ones (when `anyLoose`) and the tail past the
// index. -1 when `out` (capacity `room`) is too small or a voice has no span:
// the caller then looks at every voice. Allocates nothing.
int GatherVoicesAt(const VoiceTimeIndex& index, const std::vector<VoiceSpan>& spans, size_t voiceCount,
                   bool anyLoose, double t0, double t1, uint32_t* out, size_t room);

// Whether gathering the voices of [t0, t1) leaves out enough of the
// [0, voiceCount) voices to be worth it: false when the buckets the span
// meets hold half the indexed voices or more. Then most of them sound, and
// looking at every voice in turn costs less than gathering them first. The
// tail past the index does not count: the gather only reads its spans, a
// walk over every voice would read each record. Allocates nothing.
bool GatherPays(const VoiceTimeIndex& index, size_t voiceCount, double t0, double t1);
