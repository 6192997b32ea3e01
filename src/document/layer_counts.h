// layer_counts.h — the layers that sound otherwise than they were made to,
// counted, and the one way the program words the counts.
//
// Index
//   LayerSound            what became of a layer's sound: as measured, matched none, missing,
//                         changed, an alloy short of a source, rebuilt
//   LayerSoundCounts      layers that matched no sound, lost their sound, play a changed
//                         sound, or morph without one of their sources
//   CountLayerSound       one layer into the counts
//   LayerSoundCountsText  "2 layers silent (sound missing); 1 layer that matched no sound; ..."
//
// The export's final text and the toast after an open or a render say the
// same of the same layers, so both word their counts here.
#pragma once

#include <cstdint>
#include <string>

enum class LayerSound : uint8_t {
    AsMeasured,    // the sound is there as it was measured
    Unmatched,     // a placeholder: silent
    Missing,       // gone or unreadable: silent
    Changed,       // there, but not what was measured: decoded afresh
    AlloyPartial,  // an alloy without one of its sources: the rest morphed afresh
    Rebuilt,       // as measured, but its voice was built without it: decoded afresh
};

struct LayerSoundCounts {
    int32_t missing = 0;       // silent: the sound is gone or unreadable
    int32_t unmatched = 0;     // silent: placeholders, the render found no sound for them
    int32_t changed = 0;       // sound from a file that is no longer what was measured
    int32_t alloyPartial = 0;  // an alloy's morph without one of its sources
    bool Any() const { return missing > 0 || unmatched > 0 || changed > 0 || alloyPartial > 0; }
    bool operator==(const LayerSoundCounts&) const = default;
};

// Counts one layer under its finding; a layer as measured (or rebuilt from
// its sound as measured) counts nowhere.
void CountLayerSound(LayerSoundCounts& counts, LayerSound sound);

// The counts that are not zero, in the order above, joined by "; ":
// "%d layer%s silent (sound missing)", "%d layer%s that matched no sound",
// "%d layer%s from a changed sound", "%d alloy layer%s without one of
// its (their) sources"; "" when every count is zero.
std::string LayerSoundCountsText(const LayerSoundCounts& counts);
