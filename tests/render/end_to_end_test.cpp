// From a folder of sounds to playable layers: scan, render every shape, run
// the post passes and decode what the layers point at, with the real modules.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/library_scan.h"
#include "library/sound_library.h"
#include "playback/audio_engine.h"
#include "render/clip_processing.h"
#include "render/post_passes.h"
#include "render/render_pass.h"
#include "render/track_assignment.h"
#include "support/audio_fixtures.h"
#include "support/render_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// Scans `folder` into `library` the way the program does and takes the result over.
void ScanInto(SoundLibrary& library, const std::string& folder) {
    ASSERT_TRUE(StartLibraryScan(library, folder, 1, -1));
    for (int i = 0; i < 30000 && library.scanRunning.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    library.scanThread.join();
    ASSERT_EQ(library.finishedScans.size(), 1u);
    library.libraries.push_back(library.finishedScans[0]);
    library.finishedScans.clear();
}

void RenderAndFinish(Project& project, const SoundLibrary& library, uint32_t seed) {
    RenderEventsWithSeeds(project, library, -1, -1, -1, false, false, FixedRenderSeeds(seed, seed + 1));
    ProtectSilencePass(project);
    DeconflictPass(project);
    DensityPass(project);
    AssignTracks(project);
}

}  // namespace

TEST(EndToEnd, ScannedFolderRendersEveryShapeIntoPlayableLayers) {
    TempDir dir;
    const std::string folder = dir.File("Foley");
    fs::create_directories(folder);
    const char* names[] = {"Metal_Hit", "Glass_Break", "Wind_Gust", "Door_Slam", "Rain_Loop",
                           "Whoosh_Fast", "Impact_Deep", "Cloth_Rustle"};
    for (int i = 0; i < 8; ++i) {
        AudioSpec spec;
        spec.kind = i % 2 ? SignalKind::Noise : SignalKind::Sine;
        spec.frequency = 120.0 * (i + 1);
        spec.seconds = 0.8 + 0.7 * i;
        spec.channels = 1 + i % 2;
        spec.seed = static_cast<unsigned>(i + 3);
        ASSERT_TRUE(WriteTestAudio(folder + "/" + names[i] + ".wav", spec));
    }
    SoundLibrary library;
    ScanInto(library, folder);
    ASSERT_EQ(library.libraries[0].entries.size(), 8u);

    Project project;
    project.totalDuration = 40;
    const int shapes[] = {kShapeSpot, kShapeBloom, kShapeContour, kShapeFill, kShapeScatter};
    for (int k = 0; k < 5; ++k) {
        int e = AddEvent(project, 2.0f + 6.0f * k, shapes[k], 0.2f * k + 0.1f);
        CopyTextField(project.events[e].keywords, k == 0 ? "metal, hit" : "");
    }
    const std::string clipFile = library.libraries[0].entries[2].path;
    int clip = AddEvent(project, 33.0f, kShapeClip, 0.5f);
    CopyTextField(project.events[clip].pinnedFile, clipFile);
    project.events[clip].clipSourceDuration = 1.0f;
    int bed = AddEvent(project, 30.0f, kShapeBed, 0.5f);
    for (int i = 4; i < 6; ++i) {
        project.events[bed].pinnedFiles.push_back(library.libraries[0].entries[i].path);
        project.events[bed].pinnedFileIds.push_back(library.libraries[0].entries[i].fileId);
        project.events[bed].bedLayerLoop.push_back(1);
        project.events[bed].bedLayerWeight.push_back(-1);
    }
    project.events[bed].hasPinnedFiles = true;

    RenderAndFinish(project, library, 7);
    ASSERT_TRUE(project.rendered);
    for (int e = 0; e < static_cast<int>(project.events.size()); ++e)
        EXPECT_FALSE(LayersOfEvent(project, e).empty()) << "event " << e;

    const int rate = 48000;
    auto voice = std::make_unique<PlaybackVoice>();
    int decoded = 0;
    for (RenderResult& r : project.results) {
        ASSERT_GE(r.eventIdx, 0);
        ASSERT_LT(r.eventIdx, static_cast<int>(project.events.size()));
        EXPECT_TRUE(std::isfinite(r.startTime) && std::isfinite(r.duration) && r.duration > 0) << r.name;
        EXPECT_GE(r.group, 0);
        EXPECT_LE(r.group, 2);
        if (r.placeholder || r.filepath.empty()) continue;
        // Every chosen sound is a scanned file that the registry knows by its id.
        EXPECT_TRUE(fs::exists(r.filepath)) << r.filepath;
        if (!r.fileId.empty()) {
            EXPECT_EQ(FileRegistry::Instance().FindPath(r.fileId), r.filepath);
        }
        if (r.procMode == 3) continue;  // alloy has its own producer
        ASSERT_TRUE(ProcessResultAudio(r, rate, *voice)) << r.name;
        ASSERT_GT(voice->sampleCount, 0);
        float peak = 0;
        for (int i = 0; i < voice->sampleCount; ++i) peak = std::max(peak, std::fabs(voice->left[static_cast<size_t>(i)]));
        EXPECT_GT(peak, 0.01f) << r.name;
        const float seconds = static_cast<float>(voice->sampleCount) / rate;
        // A fill lasts its layer's duration; a region, its source's.
        const float span = r.procMode == 1 ? r.duration : r.sourceDuration;
        EXPECT_NEAR(seconds, span / std::pow(2.0f, r.pitchShift / 12.0f), 0.05f) << r.name;
        ++decoded;
    }
    EXPECT_GT(decoded, 5);

    // The same seeds give the same layers.
    Project again = project;
    again.results.clear();
    RenderAndFinish(again, library, 7);
    ASSERT_EQ(again.results.size(), project.results.size());
    for (size_t i = 0; i < project.results.size(); ++i) {
        EXPECT_EQ(again.results[i].filepath, project.results[i].filepath);
        EXPECT_EQ(again.results[i].sourceOffset, project.results[i].sourceOffset);
        EXPECT_EQ(again.results[i].startTime, project.results[i].startTime);
        EXPECT_EQ(again.results[i].track, project.results[i].track);
    }
}
