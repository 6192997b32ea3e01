// alloy_layers.h — pieces of the alloy layer builder that stand on their own.
//
// Index
//   AlloyLayerCountForRange   one to three alloy layers by the spread of the event's weight
//   AlloyWindow               the region of one source of an alloy layer
//   ChooseAlloyWindow         the region whose level contour best fits the layer's envelope
//
// The builder itself, BuildAlloyLayers, is declared with the other shape
// builders in render/layer_builders.h.
#pragma once

#include <cstdint>

struct LibraryEntry;

// 1 below a weight range of 0.15, 2 below 0.45, else 3.
int AlloyLayerCountForRange(float weightRange);

struct AlloyWindow {
    float offset = 0;  // s into the file
    float length = 0;  // s, min(sound duration, wanted length)
};

// A sound longer than `wantedLength` (by more than 0.01 s) plays the window
// whose level curve (20 points a second, averaged into 16 bins) is most like
// target16; the earliest of equal windows wins. Without a level curve (an
// unreadable file) the offset is drawn from *drawState, or is 0 when
// drawState is null. A shorter sound plays whole from 0.
AlloyWindow ChooseAlloyWindow(const LibraryEntry& sound, float wantedLength, const float target16[16],
                              uint32_t* drawState);
