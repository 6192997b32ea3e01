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

EventPreset PresetFromEvent(const Event& event) {
    EventPreset preset;
    CopyTextField(preset.keywords, event.keywords);
    preset.shape = event.shape;
    preset.intensityMode = event.intensityMode;
    preset.duration = event.duration;
    preset.syncOffset = event.syncOffset;
    preset.spread = event.spread;
    preset.weightCenter = event.weightCenter;
    preset.intensityScale = event.intensityScale;
    preset.weightOffset = event.weightOffset;
    preset.alloyMorph = event.alloyMorph;
    preset.pitchVariation = event.pitchVariation;
    preset.reverbSend = event.reverbSend;
    preset.fillLayers = event.fillLayers;
    preset.groupOverride = event.groupOverride;
    preset.stereo = event.stereo;
    CopyTextField(preset.libFilter, event.libFilter);
    preset.pinnedFiles = event.pinnedFiles;
    preset.pinnedFileIds = event.pinnedFileIds;
    preset.bedLayerLoop = event.bedLayerLoop;
    preset.bedLayerWeight = event.bedLayerWeight;
    if (event.shape == kShapeClip && event.pinnedFile[0] != '\0') {
        CopyTextField(preset.pinnedFile, event.pinnedFile);
        preset.pinnedFileId = event.pinnedFileId;
        preset.clipSourceOffset = event.clipSourceOffset;
        preset.clipSourceDuration = event.clipSourceDuration;
        preset.clipFadeIn = event.clipFadeIn;
        preset.clipFadeOut = event.clipFadeOut;
        preset.clipPitchRate = event.clipPitchRate;
        preset.clipReverse = event.clipReverse;
        preset.clipWeight = event.clipWeight;
    }
    preset.weight = event.weight;
    preset.intensity = event.intensity;
    return preset;
}

void CopyPresetSettingsToEvent(const EventPreset& preset, Event& event) {
    CopyTextField(event.keywords, preset.keywords);
    event.shape = preset.shape;
    event.intensityMode = preset.intensityMode;
    event.spread = preset.spread;
    event.weightCenter = preset.weightCenter;
    event.intensityScale = preset.intensityScale;
    event.weightOffset = preset.weightOffset;
    event.alloyMorph = preset.alloyMorph;
    event.pitchVariation = preset.pitchVariation;
    event.reverbSend = preset.reverbSend;
    event.fillLayers = preset.fillLayers;
    event.groupOverride = preset.groupOverride;
    event.stereo = preset.stereo;
    CopyTextField(event.libFilter, preset.libFilter);
    event.weight = preset.weight;
    event.intensity = preset.intensity;
}

void CopyClipTreatmentToEvent(const EventPreset& preset, Event& event) {
    event.clipSourceOffset = preset.clipSourceOffset;
    event.clipSourceDuration = preset.clipSourceDuration;
    event.clipFadeIn = preset.clipFadeIn;
    event.clipFadeOut = preset.clipFadeOut;
    event.clipPitchRate = preset.clipPitchRate;
    event.clipReverse = preset.clipReverse;
}

void CopyPinnedListsToEvent(const EventPreset& preset, Event& event) {
    event.pinnedFiles = preset.pinnedFiles;
    event.pinnedFileIds = preset.pinnedFileIds;
    event.bedLayerLoop = preset.bedLayerLoop;
    event.bedLayerWeight = preset.bedLayerWeight;
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
