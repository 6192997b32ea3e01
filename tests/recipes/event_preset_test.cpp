// Copies between events and presets: what each direction takes, what it
// leaves alone, and the flags and ids it sets.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "document/event.h"
#include "library/file_registry.h"
#include "recipes/event_preset.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct PresetCase {
    const char* what;
    std::function<void(Event& event, EventPreset& preset)> setUp;
    bool apply;  // true: ApplyPresetToEvent(event, preset); false: preset = PresetFromEvent(event)
    std::function<void(const Event& event, const EventPreset& preset)> check;
};

Event LockedClip(const char* file) {
    Event event;
    event.shape = kShapeClip;
    event.locked = true;
    event.hasPinnedFiles = true;
    std::strcpy(event.pinnedFile, file);
    event.pinnedFileId = "00000000000c11b0";
    event.time = 7.5f;
    event.gain = 0.4f;
    std::strcpy(event.folder, "Doors");
    event.hero = true;
    event.alloy = true;
    event.userShapeIdx = 2;
    event.sceneLink = 1;
    event.hasTraceGain = true;
    event.traceGain.fill(0.2f);
    event.bounceSource.resize(1);
    return event;
}

}  // namespace

TEST(EventPreset, CopiesBetweenEventsAndPresets) {
    TempDir dir;
    const std::string readable1 = dir.File("one.wav");
    const std::string readable2 = dir.File("two.wav");
    ASSERT_TRUE(WriteWholeFile(readable1, WavHolding("preset copy one " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(readable2, WavHolding("preset copy two " + dir.path())));

    const PresetCase cases[] = {
        {"a Spot preset unlocks a Clip event and keeps what belongs to the event",
         [](Event& event, EventPreset& preset) {
             event = LockedClip("/sfx/door.wav");
             preset.shape = kShapeSpot;
             std::strcpy(preset.name, "Tick");
             std::strcpy(preset.keywords, "tick");
             preset.duration = 0.5f;
             preset.gain = 3.0f;
             preset.weight.fill(0.1f);
             preset.intensity.fill(0.9f);
         },
         true,
         [](const Event& event, const EventPreset&) {
             EXPECT_EQ(event.shape, kShapeSpot);
             EXPECT_FALSE(event.locked);
             EXPECT_FLOAT_EQ(event.gain, 0.4f);
             EXPECT_FLOAT_EQ(event.time, 7.5f);
             EXPECT_STREQ(event.folder, "Doors");
             EXPECT_TRUE(event.hero);
             EXPECT_TRUE(event.alloy);
             EXPECT_EQ(event.userShapeIdx, 2);
             EXPECT_EQ(event.sceneLink, 1);
             EXPECT_TRUE(event.hasTraceGain);
             EXPECT_FLOAT_EQ(event.traceGain[100], 0.2f);
             EXPECT_EQ(event.bounceSource.size(), 1u);
             EXPECT_STREQ(event.presetName, "Tick");
             EXPECT_STREQ(event.keywords, "tick");
             EXPECT_FLOAT_EQ(event.duration, 0.5f);
             EXPECT_FLOAT_EQ(event.weight[3], 0.1f);
             EXPECT_FLOAT_EQ(event.intensity[250], 0.9f);
             // No pinned list in the preset: the event plays no pinned files.
             EXPECT_FALSE(event.hasPinnedFiles);
         }},
        {"a Clip preset without a file locks the event, copies the timing and keeps the event's file",
         [](Event& event, EventPreset& preset) {
             event.shape = kShapeSpot;
             std::strcpy(event.pinnedFile, "/sfx/keep.wav");
             event.pinnedFileId = "0000000000000abc";
             preset.shape = kShapeClip;
             preset.clipSourceOffset = 1.25f;
             preset.clipSourceDuration = 2.0f;
             preset.clipFadeIn = 0.1f;
             preset.clipFadeOut = 0.2f;
             preset.clipPitchRate = 0.5f;
             preset.clipReverse = true;
             preset.clipWeight = 0.7f;
         },
         true,
         [](const Event& event, const EventPreset&) {
             EXPECT_EQ(event.shape, kShapeClip);
             EXPECT_TRUE(event.locked);
             EXPECT_TRUE(event.hasPinnedFiles);
             EXPECT_STREQ(event.pinnedFile, "/sfx/keep.wav");
             EXPECT_EQ(event.pinnedFileId, "0000000000000abc");
             EXPECT_FLOAT_EQ(event.clipSourceOffset, 1.25f);
             EXPECT_FLOAT_EQ(event.clipSourceDuration, 2.0f);
             EXPECT_FLOAT_EQ(event.clipFadeIn, 0.1f);
             EXPECT_FLOAT_EQ(event.clipFadeOut, 0.2f);
             EXPECT_FLOAT_EQ(event.clipPitchRate, 0.5f);
             EXPECT_TRUE(event.clipReverse);
             EXPECT_FLOAT_EQ(event.clipWeight, 0.7f);
         }},
        {"a Clip preset with a file replaces the event's file and id",
         [](Event& event, EventPreset& preset) {
             event = LockedClip("/sfx/old.wav");
             preset.shape = kShapeClip;
             std::strcpy(preset.pinnedFile, "/sfx/new.wav");
             preset.pinnedFileId = "0000000000000def";
         },
         true,
         [](const Event& event, const EventPreset&) {
             EXPECT_STREQ(event.pinnedFile, "/sfx/new.wav");
             EXPECT_EQ(event.pinnedFileId, "0000000000000def");
             EXPECT_TRUE(event.locked);
         }},
        {"an event's gain is not taken: the preset's stays 1",
         [](Event& event, EventPreset&) {
             event.gain = 0.5f;
             event.shape = kShapeBloom;
         },
         false,
         [](const Event&, const EventPreset& preset) {
             EXPECT_FLOAT_EQ(preset.gain, 1.0f);
             EXPECT_EQ(preset.name[0], '\0');
             EXPECT_TRUE(preset.sourcePath.empty());
         }},
        {"a Clip event without a file gives the clip defaults",
         [](Event& event, EventPreset&) {
             event.shape = kShapeClip;
             event.clipFadeIn = 0.3f;
             event.clipFadeOut = 0.4f;
             event.clipPitchRate = 2.0f;
             event.clipWeight = 0.9f;
         },
         false,
         [](const Event&, const EventPreset& preset) {
             EXPECT_FLOAT_EQ(preset.clipFadeIn, -1.0f);
             EXPECT_FLOAT_EQ(preset.clipFadeOut, -1.0f);
             EXPECT_FLOAT_EQ(preset.clipPitchRate, 1.0f);
             EXPECT_FLOAT_EQ(preset.clipWeight, -1.0f);
         }},
        {"a file pinned to a non-Clip event stays out of the preset; the lists come whole",
         [](Event& event, EventPreset&) {
             event.shape = kShapeBed;
             std::strcpy(event.pinnedFile, "/sfx/stray.wav");
             event.pinnedFiles = {"/a.wav", "/b.wav"};
             event.pinnedFileIds = {"1", "2"};
             event.bedLayerLoop = {1, 0};
             event.bedLayerWeight = {0.25f, -1.0f};
             std::strcpy(event.libFilter, "Rooms");
             event.syncOffset = 0.75f;
         },
         false,
         [](const Event&, const EventPreset& preset) {
             EXPECT_EQ(preset.pinnedFile[0], '\0');
             EXPECT_EQ(preset.pinnedFiles, (std::vector<std::string>{"/a.wav", "/b.wav"}));
             EXPECT_EQ(preset.pinnedFileIds, (std::vector<std::string>{"1", "2"}));
             EXPECT_EQ(preset.bedLayerLoop, (std::vector<uint8_t>{1, 0}));
             EXPECT_EQ(preset.bedLayerWeight, (std::vector<float>{0.25f, -1.0f}));
             EXPECT_STREQ(preset.libFilter, "Rooms");
             EXPECT_FLOAT_EQ(preset.syncOffset, 0.75f);
         }},
        {"three pinned files and one id leave the event with three ids",
         [&](Event& event, EventPreset& preset) {
             event.shape = kShapeSpot;
             preset.shape = kShapeBed;
             preset.pinnedFiles = {readable1, "/nowhere/missing.wav", readable2};
             preset.pinnedFileIds = {"00000000001d0001"};
         },
         true,
         [&](const Event& event, const EventPreset&) {
             ASSERT_EQ(event.pinnedFileIds.size(), 3u);
             EXPECT_EQ(event.pinnedFileIds[0], "00000000001d0001");
             EXPECT_TRUE(event.pinnedFileIds[1].empty());
             FileRef ref;
             ASSERT_TRUE(FileRegistry::Instance().GetFileRef(event.pinnedFileIds[2], ref));
             EXPECT_EQ(ref.path, readable2);
             EXPECT_TRUE(event.hasPinnedFiles);
             EXPECT_FALSE(event.locked);
         }},
    };
    for (const PresetCase& c : cases) {
        SCOPED_TRACE(c.what);
        Event event;
        EventPreset preset;
        c.setUp(event, preset);
        if (c.apply) ApplyPresetToEvent(event, preset);
        else preset = PresetFromEvent(event);
        c.check(event, preset);
    }
}

TEST(EventPreset, EventToPresetAndBackKeepsTheSettings) {
    Event source;
    source.shape = kShapeContour;
    source.intensityMode = 2;
    source.duration = 4.5f;
    source.syncOffset = 1.0f;
    source.spread = 0.6f;
    source.weightCenter = 0.2f;
    source.intensityScale = 1.4f;
    source.weightOffset = -0.1f;
    source.alloyMorph = 0.8f;
    source.pitchVariation = 0.3f;
    source.reverbSend = 0.45f;
    source.fillLayers = 12;
    source.groupOverride = 1;
    source.stereo = true;
    std::strcpy(source.keywords, "whoosh, fast");
    for (int i = 0; i < 256; ++i) source.weight[i] = static_cast<float>(i) / 255.0f;

    EventPreset preset = PresetFromEvent(source);
    Event target;
    ApplyPresetToEvent(target, preset);
    EXPECT_EQ(target.shape, source.shape);
    EXPECT_EQ(target.intensityMode, source.intensityMode);
    EXPECT_FLOAT_EQ(target.duration, source.duration);
    EXPECT_FLOAT_EQ(target.syncOffset, source.syncOffset);
    EXPECT_FLOAT_EQ(target.spread, source.spread);
    EXPECT_FLOAT_EQ(target.weightCenter, source.weightCenter);
    EXPECT_FLOAT_EQ(target.intensityScale, source.intensityScale);
    EXPECT_FLOAT_EQ(target.weightOffset, source.weightOffset);
    EXPECT_FLOAT_EQ(target.alloyMorph, source.alloyMorph);
    EXPECT_FLOAT_EQ(target.pitchVariation, source.pitchVariation);
    EXPECT_FLOAT_EQ(target.reverbSend, source.reverbSend);
    EXPECT_EQ(target.fillLayers, source.fillLayers);
    EXPECT_EQ(target.groupOverride, source.groupOverride);
    EXPECT_EQ(target.stereo, source.stereo);
    EXPECT_STREQ(target.keywords, source.keywords);
    EXPECT_EQ(target.weight, source.weight);
}
