// event.h — one timeline event: its shape, curves and sound-selection settings.
//
// Index
//   EventShape            Spot .. Bed, with the name tables
//   Event                 the record, fields in their saved order
//   MakeEvent / AddEvent  a new event with its shape's defaults; AddEvent appends it
//   EventSpan / SpanOfEvent  start = time − syncOffset, end = start + duration
//   InitEventCurves       the weight and intensity curves of a new event
//   IntensityModeOf       the intensity mode the event follows
//   ResetIntensityToSync  regenerate the intensity curve around the sync point
//   EventMixGroup / ShapeMixGroup / GroupFirstTrack   mix-group mapping
//   ShapeGroupCanChange   whether a user's group choice reaches the mix
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/curve.h"

struct Project;
struct MixGroup;

enum EventShape : int32_t {
    kShapeSpot = 0,
    kShapeBloom = 1,
    kShapeContour = 2,
    kShapeFill = 3,
    kShapeScatter = 4,
    kShapeClip = 5,
    kShapeBed = 6,
};
constexpr int kShapeCount = 7;

// Display names; any value outside 0..6 reads as "?".
const char* EventShapeName(int shape);
// Names used when an event is named automatically (shape 4 is "Wave").
const char* EventAutoNameShape(int shape);

// Per-shape defaults of a new event.
struct ShapeDefaults {
    float duration;
    float spread;
    int mixGroup;
};
const ShapeDefaults& DefaultsForShape(int shape);  // out-of-range shapes use Spot's row

struct Event {
    float time = 0;            // sync point on the timeline
    float duration = 0;
    float spread = 0;
    float weightCenter = 0.5f;
    float intensityScale = 1.0f;
    float weightOffset = 0;
    float syncOffset = 0;      // from the event's start to its sync point
    int32_t shape = kShapeSpot;
    int32_t userShapeIdx = -1;
    bool locked = false;
    bool muted = false;
    bool stereo = false;
    bool hero = false;
    float gain = 1.0f;
    bool alloy = false;
    float alloyMorph = 1.0f;
    float pitchVariation = 0;
    int32_t scaleTuneOverride = 0;
    float reverbSend = -1;
    int32_t fillLayers = 0;
    int32_t groupOverride = -1;
    int32_t sceneLink = -1;
    int32_t sceneCrossfade = 1;
    bool sceneFill = false;
    char keywords[256] = {};
    char pinnedFile[512] = {};
    std::string pinnedFileId;
    bool hasPinnedFiles = false;
    std::vector<std::string> pinnedFiles;
    std::vector<std::string> pinnedFileIds;
    std::vector<uint8_t> bedLayerLoop;
    std::vector<float> bedLayerWeight;
    float clipSourceOffset = 0;
    float clipSourceDuration = 0;
    float clipFadeIn = -1;
    float clipFadeOut = -1;
    float clipPitchRate = 1.0f;
    bool clipReverse = false;
    float clipWeight = -1;
    std::vector<Event> bounceSource;  // bounced events, times relative to this Clip
    char folder[64] = {};
    char libFilter[512] = {};
    char presetName[64] = {};
    int32_t intensityMode = 0;  // 0 follows the sync point, 1 flat, 2 free curve
    Curve256 weight{};
    Curve256 intensity{};
    Curve256 traceGain{};
    bool hasTraceGain = false;
    // Every field, in order, bounce sources included (undo keeps one copy of
    // events that stay equal; floats compare by value, so 0 and -0 count as equal).
    bool operator==(const Event&) const = default;
};

// AddEvent appends straight to the list: while playback voices may read the
// events' curves, append through AppendDocumentEvents (or the edit
// operations' AddEvent over a DocumentContext) instead.
Event MakeEvent(const Project& project, float time, int shape, float weightCenter);
int AddEvent(Project& project, float time, int shape, float weightCenter);
void InitEventCurves(int shape, float weightCenter, float spread, Curve256& weight,
                     Curve256& intensity, float peak);
// The mode the event follows: a Fill's or a Bed's intensity is its drawn
// curve (2) whatever mode it was made or saved with (a Fill takes the last
// mode the user chose, a scene's Fill the flat one, for its first curve);
// every other shape its own intensityMode.
int IntensityModeOf(const Event& event);
// The intensity curve drawn again around the sync point, when the event
// follows it (IntensityModeOf 0) and has no user shape.
void ResetIntensityToSync(Event& event);

// What of the timeline an event covers: its sync point lies syncOffset after
// its start.
struct EventSpan {
    float start = 0;
    float end = 0;
};
EventSpan SpanOfEvent(const Event& event);

int ShapeMixGroup(int shape);
int EventMixGroup(const Event& event);
// False for Fill (always on BG, whatever groupOverride says) and Bed (its
// layers are the background by nature): a bus toggle would store a choice
// that nothing plays.
bool ShapeGroupCanChange(int shape);
// First output track of group g; tracks are laid out group 1, 2, then 0.
int GroupFirstTrack(const MixGroup* groups, int group);
