// event_preset.h — the reusable settings of one event, without its place on
// the timeline: what a recipe file holds and what each chain event carries.
//
// Index
//   EventPreset              the record, fields in their saved order, with the defaults
//   PresetFromEvent          event -> preset (saving the selected event as a recipe)
//   CopyPresetSettingsToEvent / CopyClipTreatmentToEvent / CopyPinnedListsToEvent
//                            the parts the preset -> event copies share
//   ApplyPresetToEvent       preset -> event (placing, dropping, applying a recipe)
//   FingerprintPinnedFiles   give the preset's pinned files their ids
//
// Presets are copied by value; a worker that renders one gets its own copy
// behind a shared pointer, so the lists may change while it runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "document/curve.h"
#include "document/event.h"

struct EventPreset {
    char name[64] = {};
    char keywords[256] = {};
    int32_t shape = kShapeBloom;
    int32_t intensityMode = 0;
    float duration = 2.0f;
    float syncOffset = 0;
    float spread = 0.3f;
    float weightCenter = 0.5f;
    float intensityScale = 1.0f;
    float weightOffset = 0;
    float alloyMorph = 1.0f;
    float pitchVariation = 0;
    float reverbSend = -1;
    float gain = 1.0f;  // only chains carry it; a recipe leaves the event's gain alone
    int32_t fillLayers = 0;
    int32_t groupOverride = -1;
    bool stereo = false;
    char pinnedFile[512] = {};  // a Clip's source file
    std::string pinnedFileId;
    char libFilter[512] = {};
    std::vector<std::string> pinnedFiles;    // a Bed's layer files
    std::vector<std::string> pinnedFileIds;  // same index; "" = no id
    std::vector<uint8_t> bedLayerLoop;
    std::vector<float> bedLayerWeight;       // 0..1, or -1 = automatic
    float clipSourceOffset = 0;
    float clipSourceDuration = 0;
    float clipFadeIn = -1;
    float clipFadeOut = -1;
    float clipPitchRate = 1.0f;
    bool clipReverse = false;
    float clipWeight = -1;
    // Every producer fills both curves; zeros until then.
    Curve256 weight{};
    Curve256 intensity{};
    std::string sourcePath;  // the recipe file it was read from; "" when built from an event
};

// Name and sourcePath stay empty (the caller names the recipe). The event's
// gain is not taken; the single pinned file and the clip timing only from a
// Clip that has a pinned file.
EventPreset PresetFromEvent(const Event& event);

// The settings every copy of a preset into an event shares: keywords, shape,
// intensity mode, spread, weight centre, intensity scale, weight offset,
// alloy morph, pitch variation, reverb send, fill layers, group override,
// stereo, library filter and both curves. Not the name, duration, sync
// offset, gain or any pinned file.
void CopyPresetSettingsToEvent(const EventPreset& preset, Event& event);
// A Clip's source offset and duration, fades, pitch rate and reverse flag.
void CopyClipTreatmentToEvent(const EventPreset& preset, Event& event);
// The pinned-file, id, loop and weight lists; the event plays pinned files
// when the file list is not empty.
void CopyPinnedListsToEvent(const EventPreset& preset, Event& event);

// Overwrites the fields a recipe controls. The event keeps its time, gain,
// folder, mute, hero, alloy, user shape, scale-tune override, scene fields,
// trace curve and bounce sources. Pinned files without an id get one from the
// file registry. A Clip preset locks the event; any other unlocks it.
void ApplyPresetToEvent(Event& event, const EventPreset& preset);

void FingerprintPinnedFiles(EventPreset& preset);
