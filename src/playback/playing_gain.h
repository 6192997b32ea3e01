// playing_gain.h — the gain a voice is heard at, and the group it plays in.
//
// Index
//   kPlayingGroups   the mixer's three groups
//   PlayingGroup     the group a voice plays in: one outside 0..2 plays in the nearest
//   PlayingGainOf    the law itself: normGain x gain x eventGain x group gain, in that order
//   PlayingGain      the law for a voice as it stands
//
// The real-time mixer, every export pass, the AAF clip gains, the recipe
// preview and the level passes all hear a voice through these, so that a
// voice sounds alike wherever it is mixed. The order of the product is part
// of the law: another order can round to other bits, and the exports are
// compared byte for byte.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "playback/audio_engine.h"

inline constexpr int kPlayingGroups = 3;

// A group outside 0..2 (a damaged or hand-edited file, a layer moved by an
// older build) plays in the nearest group: its fader, send, mute and solo.
inline int PlayingGroup(int32_t group) { return std::clamp<int32_t>(group, 0, kPlayingGroups - 1); }

// `groupGain` is the group's fader, times whatever a pass applies on top of
// it (the master), or 1 where groups are not mixed (a clip's own gain, the
// preview). T is float for the mix and double where a level pass weighs a
// gain it has not stored yet.
template <typename T>
inline T PlayingGainOf(T gain, T normGain, T eventGain, T groupGain) {
    return normGain * gain * eventGain * groupGain;
}

// The gain and event gain may change while a block is mixed: each is read
// once, as it stands.
inline float PlayingGain(const PlaybackVoice& v, float groupGain) {
    constexpr auto relaxed = std::memory_order_relaxed;
    return PlayingGainOf(v.gain.load(relaxed), v.normGain, v.eventGain.load(relaxed), groupGain);
}
