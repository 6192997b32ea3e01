// voice_builds.h — building many voices at once, on every core, nearest the
// playhead first.
//
// Index
//   ResultsNearestFirst     the order voices are built in
//   BuildVoicesOnEveryCore  one thread per usable core, each new voice in place of its stale one
//                           (each voice waits for the observer's voiceBuildPace when a test holds it)
//   VoicesBuiltBeside / BuildVoicesBeside   the same, nothing installed or written back: for a
//                           change heard all at once
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "document/project.h"
#include "operations/document_context.h"

struct PlaybackVoice;

// The order voices are built in: result indices by the distance of their
// span from `seconds` (0 inside it), equal distances in index order.
std::vector<size_t> ResultsNearestFirst(const std::vector<RenderResult>& results, double seconds);

// A voice built for each result at the indices of `order`, taken in that
// order by one thread per usable core (each build writes back only into its
// own result and installs its voice when done). With `slots` (per result
// index), a new voice takes the place of the voice at its slot when that is
// still its result's, else it is appended, so new voices come out in
// finishing order. Stops when `cancel` (may be null) is raised; `bar` (may be
// null) gets the share built, and with countProgress the engine's
// buildProgress counts them. False when it stopped short. With the context's
// observer asking for reverseVoiceBuilds, one thread builds them in reverse.
bool BuildVoicesOnEveryCore(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                            const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress,
                            const std::vector<int>* slots = nullptr);

// Voices built beside the engine's: none is installed, and the document is
// not written, until the caller takes them in. Parallel lists, one entry per
// result built, in the order asked for.
struct VoicesBuiltBeside {
    std::vector<size_t> result;                         // the result's index
    std::vector<std::shared_ptr<PlaybackVoice>> voice;  // null: not built, or the result gets no voice
    std::vector<RenderResult> written;                  // the result with the build's write-backs
    std::vector<uint8_t> made;                          // the build ran (a stop leaves the rest out)
};
// As BuildVoicesOnEveryCore, each build on a copy of its result: the voices
// and the copies (resolved paths, missing and placeholder flags, a fill's
// plan, the pitch found, the scale correction, normGain) go into `out`. The
// document and the engine's voices are only read, so the thread that owns
// them may keep the streaming window meanwhile.
bool BuildVoicesBeside(const DocumentContext& ctx, const std::vector<size_t>& order, bool quickRebuild,
                       const std::atomic<bool>* cancel, std::atomic<float>* bar, bool countProgress,
                       VoicesBuiltBeside& out);
