// The per-frame probe of the program: weights reach the results, never while
// an export reads them, and leave the document unmarked (they are measured
// again when it is next opened); the voices follow the results they change;
// quitting can stop the probe.
#include <gtest/gtest.h>

#include <cstring>

#include "app/library_frame.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "playback/voice_settings.h"
#include "render/clip_bed_events.h"

namespace {

// An empty document over a library of one sound whose brightness (its weight
// once probed) the test knows.
void EmptyProgramWithOneSound(const char* path, float brightness) {
    gSoundLibrary.libraries.resize(1);
    LibraryEntry entry;
    entry.path = path;
    entry.brightness = brightness;
    gSoundLibrary.libraries[0].entries = {entry};
    MarkLibrariesChanged(gSoundLibrary);
    gProject = Project();
}

}  // namespace

TEST(LibraryFrame, ProbedWeightsReachResultsWithoutMarkingTheDocument) {
    EmptyProgramWithOneSound("/library/hit.wav", 0.8f);
    Event clip;
    clip.shape = kShapeClip;
    std::strcpy(clip.pinnedFile, "/library/hit.wav");
    gProject.events.push_back(clip);
    RenderResult layer;
    layer.eventIdx = 0;
    layer.weight = 0.5f;
    gProject.results.push_back(layer);
    gAppState.modified = false;

    gAppState.exportRunning.store(true);
    ProbeUnknownSoundValues();
    EXPECT_FLOAT_EQ(gProject.events[0].clipWeight, -1.0f);
    EXPECT_FALSE(gAppState.modified);
    EXPECT_TRUE(static_cast<bool>(gBackgroundWorkerStops.stopLibraryAnalysis));

    // The weight reaches the event at once and its layer with the rebuild
    // the frame asks for (its job runs on the worker in the program).
    gAppState.exportRunning.store(false);
    ProbeUnknownSoundValues();
    EXPECT_FLOAT_EQ(gProject.events[0].clipWeight, 0.8f);
    EXPECT_FLOAT_EQ(gProject.results[0].weight, 0.5f);
    EXPECT_TRUE(gAppState.deferredRebuild.exchange(false));
    RebuildCacheAsyncJob(ProgramDocumentContext(), false);
    gAppState.busyTask.done = false;
    EXPECT_FLOAT_EQ(gProject.results[0].weight, 0.8f);
    EXPECT_FALSE(gAppState.modified) << "a close must not ask about what nobody changed";

    StopBackgroundWorkers(gAppState);
    EXPECT_TRUE(gSoundProbe.probeQuit.load());
    gProject = Project();
    gSoundLibrary.libraries.clear();
    gAppState.modified = false;
}

// The probe finds a Bed's weight in the library after the voices were built,
// while playing: the rebuild the frame asks for makes the Bed to its layer
// list (a layer of another file goes) and the voices follow, the weight's pan
// included, the playhead left where the audio thread has it.
TEST(LibraryFrame, ProbedWeightsThatRebuildABedBringTheVoicesInLine) {
    EmptyProgramWithOneSound("/library/rain.wav", 0.9f);
    gProject.totalDuration = 10;
    Event bed;
    bed.shape = kShapeBed;
    bed.duration = 4;
    bed.pinnedFiles = {"/library/rain.wav"};
    bed.bedLayerLoop = {1};
    gProject.events.push_back(bed);
    ASSERT_TRUE(RebuildBedEvent(gProject, 0));
    RenderResult stale = gProject.results[0];
    stale.id = NextRenderResultId();
    stale.filepath = "/elsewhere/wind.wav";
    gProject.results.push_back(stale);
    gProject.rendered = true;
    gAppState.busyTask.cancelRequested = false;  // an earlier test's stop asked the tasks to end
    RebuildCache(ProgramDocumentContext(), false);
    ASSERT_EQ(gAudioEngine.voices.size(), 2u);
    gAudioEngine.position = 777;
    gAudioEngine.playing = 1;

    gSoundProbe.nextProbeTime = 0;
    ProbeUnknownSoundValues();
    EXPECT_EQ(gProject.results.size(), 2u) << "the Bed was rebuilt on the interface thread";
    ASSERT_TRUE(gAppState.deferredRebuild.exchange(false));
    RebuildCacheAsyncJob(ProgramDocumentContext(), false);
    gAppState.busyTask.done = false;
    gAudioEngine.playing = 0;
    ASSERT_EQ(gProject.results.size(), 1u);
    EXPECT_FLOAT_EQ(gProject.results[0].weight, 0.9f);
    ASSERT_EQ(gAudioEngine.voices.size(), 1u);
    EXPECT_EQ(gAudioEngine.voices[0].resultId, uint32_t(gProject.results[0].id));
    EXPECT_FLOAT_EQ(gAudioEngine.voices[0].pan, VoicePan(gProject.results[0]));
    EXPECT_TRUE(CheckPlaybackCacheIntegrity());
    EXPECT_EQ(gAudioEngine.position.load(), 777);

    ResetEngineVoices(gAudioEngine, 48000, 0);
    gProject = Project();
    gAppState.bedWatch = BedWatch();
    gSoundLibrary.libraries.clear();
    gAppState.modified = false;
}
