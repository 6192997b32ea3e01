// event_preset.cpp — copies between an event and a preset.
//
// Index
//   PresetFromEvent
//   CopyPresetSettingsToEvent / CopyClipTreatmentToEvent / CopyPinnedListsToEvent
//   ApplyPresetToEvent
//   FingerprintPinnedFiles
#include "recipes/event_preset.h"

#include "document/text_util.h"
#include "library/fingerprint_worker.h"

namespace {

// An event and a preset name the settings they share alike, so one copy of
// each group serves both ways.
template <class From, class To>
void CopySharedSettings(const From& from, To& to) {
    CopyTextField(to.keywords, from.keywords);
    to.shape = from.shape;
    to.intensityMode = from.intensityMode;
    to.spread = from.spread;
    to.weightCenter = from.weightCenter;
    to.intensityScale = from.intensityScale;
    to.weightOffset = from.weightOffset;
    to.alloyMorph = from.alloyMorph;
    to.pitchVariation = from.pitchVariation;
    to.reverbSend = from.reverbSend;
    to.fillLayers = from.fillLayers;
    to.groupOverride = from.groupOverride;
    to.stereo = from.stereo;
    CopyTextField(to.libFilter, from.libFilter);
    to.weight = from.weight;
    to.intensity = from.intensity;
}

template <class From, class To>
void CopyClipTreatment(const From& from, To& to) {
    to.clipSourceOffset = from.clipSourceOffset;
    to.clipSourceDuration = from.clipSourceDuration;
    to.clipFadeIn = from.clipFadeIn;
    to.clipFadeOut = from.clipFadeOut;
    to.clipPitchRate = from.clipPitchRate;
    to.clipReverse = from.clipReverse;
}

template <class From, class To>
void CopyPinnedLists(const From& from, To& to) {
    to.pinnedFiles = from.pinnedFiles;
    to.pinnedFileIds = from.pinnedFileIds;
    to.bedLayerLoop = from.bedLayerLoop;
    to.bedLayerWeight = from.bedLayerWeight;
}

}  // namespace

EventPreset PresetFromEvent(const Event& event) {
    EventPreset preset;
    CopySharedSettings(event, preset);
    preset.duration = event.duration;
    preset.syncOffset = event.syncOffset;
    CopyPinnedLists(event, preset);
    if (event.shape == kShapeClip && event.pinnedFile[0] != '\0') {
        CopyTextField(preset.pinnedFile, event.pinnedFile);
        preset.pinnedFileId = event.pinnedFileId;
        CopyClipTreatment(event, preset);
        preset.clipWeight = event.clipWeight;
    }
    return preset;
}

void CopyPresetSettingsToEvent(const EventPreset& preset, Event& event) { CopySharedSettings(preset, event); }

void CopyClipTreatmentToEvent(const EventPreset& preset, Event& event) { CopyClipTreatment(preset, event); }

void CopyPinnedListsToEvent(const EventPreset& preset, Event& event) {
    CopyPinnedLists(preset, event);
    event.hasPinnedFiles = !event.pinnedFiles.empty();
}

void ApplyPresetToEvent(Event& event, const EventPreset& preset) {
    CopyTextField(event.presetName, preset.name);
    CopyPresetSettingsToEvent(preset, event);
    event.duration = preset.duration;
    event.syncOffset = preset.syncOffset;
    CopyPinnedListsToEvent(preset, event);
    event.locked = false;
    if (preset.shape == kShapeClip) {
        // A Clip recipe without a file of its own keeps the event's file: it
        // carries only the clip's timing and treatment.
        if (preset.pinnedFile[0] != '\0') {
            CopyTextField(event.pinnedFile, preset.pinnedFile);
            event.pinnedFileId = preset.pinnedFileId;
        }
        event.hasPinnedFiles = true;
        event.locked = true;
        CopyClipTreatmentToEvent(preset, event);
        event.clipWeight = preset.clipWeight;
    }
    // Last, so that the clip file the event ends up with is the one that
    // gets an id when it has none.
    FingerprintPinnedFiles(event);
}

void FingerprintPinnedFiles(EventPreset& preset) {
    FingerprintPinnedFiles(preset.pinnedFiles, preset.pinnedFileIds, preset.pinnedFile,
                           preset.pinnedFileId);
}
