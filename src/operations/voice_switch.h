// voice_switch.h — voices a rebuild made beside the engine's, taken in all
// at once with the levels of the finished set.
//
// Index
//   SwitchToVoicesBuiltBeside   write-backs, the new set drafted and levelled, then heard from one block on
//
// A rebuild that replaced voices one by one as they were built would be
// heard half done: new voices before their event's equal power and the
// headroom cut of the finished set are known (louder, by as much as the
// levels it skips), next to old voices at other pitches. Built beside the
// engine's instead (voice_builds.h, BuildVoicesBeside), the new set is
// drafted, levelled whole and switched in by one hold of the engine lock:
// the old set plays as it was until that block, the finished one from it.
#pragma once

#include <cstdint>
#include <vector>

#include "operations/document_context.h"

struct VoicesBuiltBeside;

// On the thread that owns the document and the voices, after the builds:
// the builds' write-backs go into the document; new voices the streaming
// window reaches now but did not when they were built get their samples
// (decoded while the window is kept, WorkKeepingStreamWindow); then the set
// is drafted as a rebuild in place leaves it: the engine's voices, each
// replaced by its new one when `slot` (per result) names it, dropped when
// `drop` (per voice) marks it, the new voices without a slot after them, all
// linked to their results and in result order; every voice with the
// settings a fresh build of its result gives (a voice the mixer hears is
// never changed before the switch: one whose placement, curves, mute or
// event gain change gets them in the switch's hold); the whole level pass
// over the draft; and the switch (SwitchToLevelledVoices). The level memo
// then describes the document (NoteLevelMemoDocument).
void SwitchToVoicesBuiltBeside(const DocumentContext& ctx, VoicesBuiltBeside& built, const std::vector<int>& slot,
                               const std::vector<uint8_t>& drop);
