// marker_records.h — markers read from a session text, waiting on the timeline.
//
// Index
//   MarkerEvent   one marker that may become an event
//   MarkerScene   one scene marker that may become a project scene
#pragma once

#include <cstdint>

struct MarkerEvent {
    int32_t shape = 0;  // an EventShape: 0 Spot unless the marker says "bloom"
    float time = 0;     // seconds
    float duration = 3.0f;
    float weightCenter = 0.3f;
    // Negative means "keep the event's default" when the marker becomes an
    // event; the import never sets them.
    float spread = -1;
    float gain = -1;
    float syncRatio = -1;  // sync offset as a fraction of the duration
    char keywords[128] = {};
    char name[128] = {};
    char presetName[64] = {};  // a recipe the marker names; empty when none
    bool accepted = true;
    bool otherShapeWord = false;  // names contour, fill, scatter, clip or bed
};

struct MarkerScene {
    float time = 0;
    char name[64] = {};
    char keywords[128] = {};
};
