// The per-frame probe of the program: weights reach the results, never while
// an export reads them, and leave the document unmarked (they are measured
// again when it is next opened); quitting can stop the probe.
#include <gtest/gtest.h>

#include <cstring>

#include "app/library_frame.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "operations/app_state.h"

TEST(LibraryFrame, ProbedWeightsReachResultsWithoutMarkingTheDocument) {
    gSoundLibrary.libraries.resize(1);
    LibraryEntry entry;
    entry.path = "/library/hit.wav";
    entry.brightness = 0.8f;
    gSoundLibrary.libraries[0].entries = {entry};
    MarkLibrariesChanged(gSoundLibrary);
    gProject = Project();
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

    gAppState.exportRunning.store(false);
    ProbeUnknownSoundValues();
    EXPECT_FLOAT_EQ(gProject.events[0].clipWeight, 0.8f);
    EXPECT_FLOAT_EQ(gProject.results[0].weight, 0.8f);
    EXPECT_FALSE(gAppState.modified) << "a close must not ask about what nobody changed";

    StopBackgroundWorkers(gAppState);
    EXPECT_TRUE(gSoundProbe.probeQuit.load());
    gProject = Project();
    gSoundLibrary.libraries.clear();
    gAppState.modified = false;
}
