// project.h — the document: settings, events, rendered layers, groups, scenes.
//
// Index
//   MixGroup, Scene, UserShape        small records of the document
//   AlloySource, ResultVariation      parts of a rendered layer
//   MuteReason                        why a layer is silent (not saved)
//   RenderResult                      one rendered layer; ids from a process-wide counter
//   TrackMemoSlot                     the last track assignment's record, never shared by a copy
//   Project                           the document itself
//   gProject                          the one document of the program
//   ChannelCountName                  "mono", "stereo", ... for the inspector
//   UsableFrameRate                   a frame rate from a file or a video, kept within 1..240
//   TimelineFps / RoundToFrame        the frame rate the timeline steps by, and a time on a frame
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "document/copyable_atomic.h"
#include "document/event.h"
#include "document/layer_counts.h"

struct MixGroup {
    char name[32] = {};
    int32_t trackCount = 8;
    bool stereo = true;
    float targetLUFS = -16;
    int32_t usedTracks = 0;  // tracks the last assignment used; not saved
};

struct Scene {
    char name[64] = {};
    float inTime = 0;
    float outTime = 0;
    char keywords[128] = {};
};

struct UserShape {
    char name[64] = {};
    char keywords[256] = {};
    float defaultDuration = 1.5f;
    float spread = 0;
    float weightCenter = 0.5f;
    float intensityScale = 1.0f;
    float weightOffset = 0;
    float syncOffset = 0;
    Curve256 weight{};
    Curve256 intensity{};
};

struct AlloySource {
    std::string filepath;
    std::string fileId;
    float offset = 0;
    float duration = 0;
    std::string name;
    bool operator==(const AlloySource&) const = default;
};

// The fields that a change of sound choice replaces. A re-roll also moves the
// layer to suit the new sound, so an entry made from a layer keeps where it
// sat (`placed`), and stepping back to it puts the sound back in sync.
struct ResultVariation {
    std::string name;
    std::string filepath;
    std::string fileId;
    float sourceOffset = 0;
    float sourceDuration = 0;
    float fadeIn = 0;
    float fadeOut = 0;
    float audioSyncOffset = 0;
    bool placed = false;  // startTime and duration below hold the layer's placement
    float startTime = 0;
    float duration = 0;
    bool operator==(const ResultVariation&) const = default;
};

// Reasons a layer is muted. `muted` is set exactly when any reason is; the
// track assignment lifts only its own (budget) reason. Not saved: a loaded
// `muted` counts as the user's.
enum MuteReason : uint8_t {
    kMuteUser = 1 << 0,
    kMuteBan = 1 << 1,
    kMuteSilence = 1 << 2,
    kMuteBudget = 1 << 3,
};

struct FillChunk {
    int32_t s = 0;
    int32_t l = 0;
    int32_t x = 0;
    bool operator==(const FillChunk&) const = default;
};

int32_t NextRenderResultId();

// A layer's loudness that was never measured (no finite measure is this low).
inline constexpr float kLoudnessNotMeasured = -1000.0f;

struct RenderResult {
    int32_t id = NextRenderResultId();  // kept by copies; never reused in a run
    std::string name;
    std::string filepath;
    std::string fileId;
    float sourceOffset = 0;
    float sourceDuration = 0;
    float startTime = 0;
    float duration = 0;
    float weight = 0.5f;
    int32_t eventIdx = 0;
    int32_t track = 0;
    int32_t group = 0;
    int32_t groupTrack = 0;  // -1 when the budget muted the layer
    int32_t procMode = 0;    // 0 plain, 1 fill, 2 clip region, 3 alloy
    float fadeIn = 0.01f;
    float fadeOut = 0.05f;
    float fadeFactor = 0.3f;
    float audioSyncOffset = 0;
    bool stereo = false;
    bool muted = false;
    uint8_t muteReasons = 0;
    bool placeholder = false;
    bool missing = false;
    // What the last look at its files found (an open, a relink; an export
    // looks for itself). While they are not the files its sound was measured
    // from, its voice is levelled with the measures below. Not saved.
    LayerSound sound = LayerSound::AsMeasured;
    float layerGain = 1;
    float userVolume = 1;
    float normGain = 1;
    // What the layer's sound measured when a voice was last built from it:
    // its peak (0: never measured) and integrated loudness
    // (kLoudnessNotMeasured: not measured). A build without the sound (gone,
    // unreadable, an alloy source away) levels the layer with these, so the
    // other layers keep their levels while it is away.
    float measuredPeak = 0;
    float measuredLufs = kLoudnessNotMeasured;
    std::array<float, 128> fillGain{};
    bool hasFillGain = false;
    std::array<float, 32> deconGain{};
    bool hasDeconGain = false;
    float deconOffset = 0;
    std::array<float, 256> intGain{};
    bool hasIntGain = false;
    std::array<float, 5> eqGains{1, 1, 1, 1, 1};
    bool hasEqGains = false;
    float pitchShift = 0;
    float pitchVarShift = 0;
    float detectedPitchHz = 0;
    int32_t detectedMidiNote = -1;
    float detectedCents = 0;
    float detectedConfidence = 0;
    float scaleCorrection = 0;
    bool fillLoop = false;
    std::vector<FillChunk> fillChunks;
    AlloySource alloyMid;
    AlloySource alloyHigh;
    AlloySource alloyEnv;
    std::array<float, 32> alloyWeightCurve{};
    std::array<float, 32> alloyIntensityCurve{};
    bool hasAlloyCurves = false;
    float alloyMorph = 1;
    int32_t alloyAlgo = 2;
    float alloyTransferDepth = 0.2f;
    float alloyAttackGraft = 0.03f;
    float alloyMicroPitch = 0.03f;
    int32_t alloyFilterBands = 10;
    std::vector<ResultVariation> variations;
    int32_t variationIndex = -1;
    // Every field, in order (undo keeps one copy of layers that stay equal;
    // floats compare by value, so 0 and -0 count as equal).
    bool operator==(const RenderResult&) const = default;
};

// Adds or removes one mute reason and keeps `muted` equal to "any reason".
void SetMuteReason(RenderResult& result, MuteReason reason, bool on);
// Sets the user's reason from a stored or edited `muted` flag.
void SetUserMuted(RenderResult& result, bool muted);

struct TrackMemo;  // render/track_repack.h

// The last track assignment's record of the results it packed. It describes
// the results of the project that made it only: a copy (an undo step, an
// export's document) starts without one, so no two documents share it.
struct TrackMemoSlot {
    std::shared_ptr<TrackMemo> memo;
    TrackMemoSlot() = default;
    TrackMemoSlot(const TrackMemoSlot&) {}
    TrackMemoSlot(TrackMemoSlot&&) noexcept = default;
    TrackMemoSlot& operator=(const TrackMemoSlot& other) {
        if (this != &other) memo.reset();
        return *this;
    }
    TrackMemoSlot& operator=(TrackMemoSlot&&) noexcept = default;
};

struct Project {
    Project();

    float totalDuration = 30;
    float fps = 24;
    float startTC = 0;
    float maxEventDuration = 30;
    int32_t scaleType = 0;
    int32_t scaleRoot = 0;
    int32_t pitchShiftProb = 0;
    int32_t freqShiftIntensity = 0;
    int32_t reverseProb = 0;
    bool normalizeLUFS = true;
    int32_t alloyAlgorithm = 2;
    float alloyTransferDepth = 0.2f;
    float alloyAttackGraft = 0.03f;
    float alloyMicroPitch = 0.03f;
    int32_t alloyFilterBands = 10;
    float alloyLowCrossover = 200;     // kept with the document, not saved
    float alloyHighCrossover = 16000;  // kept with the document, not saved
    std::vector<Event> events;
    std::vector<RenderResult> results;
    CopyableAtomic<int32_t> publishedResultCount{0};
    uint32_t resultsRevision = 0;
    // Raised whenever the sound probe writes weights into events: a job that
    // gave every Clip's results its weight knows by it whether another came
    // since (a weight reaches the events without touching the results).
    uint32_t probedWeightsWritten = 0;
    TrackMemoSlot trackMemo;
    // Set by the render on its worker while the timeline reads it to choose
    // between the layer lanes and the hint of an unrendered project.
    CopyableAtomic<bool> rendered{false};
    std::vector<UserShape> userShapes;
    bool budgetMode = false;
    MixGroup groups[3];
    std::vector<std::string> bannedFiles;
    std::vector<std::string> bannedFileIds;
    std::vector<Scene> scenes;
    uint32_t fillPickCounter = 0;
};

extern Project gProject;

const char* ChannelCountName(int channels);

// Frame rates the program works with: 1 to 240 frames per second (the
// settings offer 23.976 to 120). A rate outside, or not a number, read from
// a damaged project or a broken video, becomes the default 24: timecode,
// frame steps and snapping divide by it every frame.
inline constexpr float kDefaultFrameRate = 24.0f;
inline constexpr float kMinFrameRate = 1.0f;
inline constexpr float kMaxFrameRate = 240.0f;
float UsableFrameRate(float fps);

// The project's frame rate, 25 when it has none (or one that is not a number).
float TimelineFps(const Project& project);
// t on the nearest frame at `fps`.
float RoundToFrame(float t, float fps);
