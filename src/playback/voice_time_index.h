// voice_time_index.h — where on the timeline each voice can sound, and an
// index by time over the voice list, so that a block of the mix looks only at
// the voices that sound in it.
//
// Index
//   VoiceSpan / VoiceSpanOf     the seconds a voice may sound in (deconfliction on or off)
//   VoiceTimeIndex              voices by one-second buckets (wider for very long timelines)
//   BuildVoiceTimeIndex         the index over a list of spans
//   MarkVoiceLoose              an indexed voice's span changed: the gather looks at it on its own
//   LooseVoiceBound / IndexWantsRebuild   how many loose voices a new index waits for
//   GatherVoicesAt              the voices that may sound in [t0, t1), in list order
//   GatherPays                  whether a gather would leave out enough voices to pay for itself
//
// The engine keeps one span per voice beside the list and an index built
// from them. Voices appended since the index was built (the tail), and
// voices whose span changed since (marked loose, and listed in the index),
// are looked at on their own, so an install or a move never waits for a new
// index: the owner of the voices builds one, unlocked, once enough voices are
// loose, and swaps it in with the list under the lock. A block then reads
// the loose voices' list, never the whole list looking for them.
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
    // The indexed voices whose span is loose, each once, in the order they
    // became so: first those whose span is not finite (`builtLoose` of
    // them), then those marked since the build. Room for more is reserved
    // when the index is built, so that marking a voice under the engine lock
    // never allocates; past it `looseOverflow` is raised and the gather
    // looks through every indexed voice for loose ones, until the next index.
    std::vector<uint32_t> loose;
    size_t builtLoose = 0;
    uint8_t looseOverflow = 0;
};

// The index over `spans` (voice i has spans[i]). Spans that are not finite
// are marked loose and listed; loose spans are left out of the buckets.
// Buckets are one second wide, wider when the spans would otherwise make
// more than a few entries per voice. The loose list gets room for twice the
// bound of spans.capacity() voices besides those.
VoiceTimeIndex BuildVoiceTimeIndex(std::vector<VoiceSpan>& spans);

// Voice v's span (already stored in spans[v]) is no longer where the index
// has it: marks it loose and lists it, once. Voices past the index (the
// tail) are looked at on their own anyway and are left as they are.
// Allocates nothing.
void MarkVoiceLoose(VoiceTimeIndex& index, std::vector<VoiceSpan>& spans, size_t v);

// How many voices may be marked loose before a new index pays: it grows
// with the voice count, so a new index (whose cost grows alike) is made
// once per that many changed voices, while a block's look at the loose
// voices stays a small part of a look at every voice.
size_t LooseVoiceBound(size_t voiceCount);
// Whether the voices marked loose since the build passed that bound, or
// overflowed the list's room. Spans that are not finite do not count: a new
// index would list them again.
bool IndexWantsRebuild(const VoiceTimeIndex& index, size_t voiceCount);

// Writes the voices of [0, voiceCount) that may sound in [t0, t1) into `out`
// in ascending order and returns how many: the indexed voices of the buckets
// the span meets, the listed loose ones and the tail past the index; the
// same voices a new index over the same spans would give. -1 when `out`
// (capacity `room`) is too small or a voice has no span: the caller then
// looks at every voice. Allocates nothing.
int GatherVoicesAt(const VoiceTimeIndex& index, const std::vector<VoiceSpan>& spans, size_t voiceCount,
                   double t0, double t1, uint32_t* out, size_t room);

// Whether gathering the voices of [t0, t1) leaves out enough of the
// [0, voiceCount) voices to be worth it: false when the buckets the span
// meets hold half the indexed voices or more. Then most of them sound, and
// looking at every voice in turn costs less than gathering them first. The
// tail past the index does not count: the gather only reads its spans, a
// walk over every voice would read each record. Allocates nothing.
bool GatherPays(const VoiceTimeIndex& index, size_t voiceCount, double t0, double t1);
