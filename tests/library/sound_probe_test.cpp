// Sound probe: values found in the libraries at once, files outside them
// analysed on one worker, the cache, waiting while a busy task runs, missing
// files, the lookup rebuilt only when libraries change, and a prompt quit.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

Event ClipEvent(const std::string& path, const std::string& id = "") {
    Event event;
    event.shape = kShapeClip;
    std::strncpy(event.pinnedFile, path.c_str(), sizeof event.pinnedFile - 1);
    event.pinnedFileId = id;
    return event;
}

Event BedEvent(const std::vector<std::string>& files) {
    Event event;
    event.shape = kShapeBed;
    event.pinnedFiles = files;
    return event;
}

void WaitForProbe(SoundProbe& probe) {
    WaitUntil([&probe] { return !probe.probeBusy.load(); }, std::chrono::seconds(120));
    if (probe.probeThread.joinable()) probe.probeThread.join();
}

SoundLibrary& LibraryWith(SoundLibrary& library, const std::string& path, const std::string& id, float brightness) {
    library.libraries.resize(1);
    LibraryEntry entry;
    entry.path = path;
    entry.fileId = id;
    entry.brightness = brightness;
    library.libraries[0].entries.push_back(entry);
    MarkLibrariesChanged(library);
    return library;
}

}  // namespace

TEST(SoundProbe, LibraryFilesAreAnsweredAtOnce) {
    SoundProbe probe;
    SoundLibrary library;
    LibraryWith(library, "/lib/a.wav", "00000000000000a1", 1.7f);
    LibraryWith(library, "/lib/b.wav", "", 0.25f);
    Project project;
    project.events.push_back(ClipEvent("/elsewhere/renamed.wav", "00000000000000a1"));  // by id
    project.events.push_back(ClipEvent("/lib/b.wav"));                                   // by path
    project.events.push_back(ClipEvent(""));  // no file: left alone

    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 1.0));
    EXPECT_FLOAT_EQ(project.events[0].clipWeight, 1.0f);  // clamped
    EXPECT_FLOAT_EQ(project.events[1].clipWeight, 0.25f);
    EXPECT_FLOAT_EQ(project.events[2].clipWeight, -1.0f);
    EXPECT_FALSE(probe.probeThread.joinable());
    EXPECT_TRUE(probe.probePending.empty());
    EXPECT_DOUBLE_EQ(probe.nextProbeTime, 3.0);
}

TEST(SoundProbe, OutsideFilesGoToOneWorkerAndReachEveryEvent) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 0.3;
    spec.frequency = 3000;
    ASSERT_TRUE(WriteTestAudio(dir.File("out1.wav"), spec));
    spec.frequency = 200;
    ASSERT_TRUE(WriteTestAudio(dir.File("out2.wav"), spec));

    SoundProbe probe;
    SoundLibrary library;
    LibraryWith(library, dir.File("lib.wav"), "", 0.4f);
    Project project;
    project.events.push_back(BedEvent({dir.File("lib.wav"), dir.File("out1.wav"), dir.File("out2.wav")}));
    project.events.push_back(ClipEvent(dir.File("out1.wav")));  // the same file: no second job

    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 1.0));
    const Event& bed = project.events[0];
    ASSERT_EQ(bed.bedLayerWeight.size(), 3u);
    EXPECT_FLOAT_EQ(bed.bedLayerWeight[0], 0.4f);
    EXPECT_FLOAT_EQ(bed.bedLayerWeight[1], -1.0f);
    EXPECT_EQ(probe.probePending.size(), 2u);  // one worker with two jobs
    EXPECT_TRUE(probe.probeThread.joinable());

    // While a render runs, delivered values wait and no pass starts.
    WaitForProbe(probe);
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, project, library, true, 10.0));
    EXPECT_FLOAT_EQ(project.events[0].bedLayerWeight[1], -1.0f);

    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 1.5));
    EXPECT_GE(bed.bedLayerWeight[1], 0.0f);
    EXPECT_GT(bed.bedLayerWeight[1], bed.bedLayerWeight[2]);  // the brighter tone weighs more
    EXPECT_FLOAT_EQ(project.events[1].clipWeight, bed.bedLayerWeight[1]);
    EXPECT_EQ(probe.brightnessProbeCache.size(), 2u);

    // A later layer with a probed file takes the cached value at the next pass.
    const float out2 = bed.bedLayerWeight[2];
    project.events.push_back(BedEvent({dir.File("out2.wav")}));
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, project, library, false, 2.0));  // not due yet
    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 3.0));
    EXPECT_FLOAT_EQ(project.events[2].bedLayerWeight[0], out2);
    EXPECT_FALSE(probe.probeThread.joinable());
}

TEST(SoundProbe, MissingFilesStayUnknownAndUnreadableOnesGetNeutral) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("broken.wav"), "not audio"));
    SoundProbe probe;
    SoundLibrary library;
    Project project;
    project.events.push_back(BedEvent({dir.File("missing.wav"), dir.File("broken.wav")}));
    project.events[0].pinnedFileIds = {"00000000000000e7"};  // the key of the missing layer
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, project, library, false, 1.0));
    EXPECT_EQ(probe.probePending, std::set<std::string>{dir.File("broken.wav")});
    WaitForProbe(probe);
    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 3.0));
    EXPECT_FLOAT_EQ(project.events[0].bedLayerWeight[0], -1.0f);
    EXPECT_FLOAT_EQ(project.events[0].bedLayerWeight[1], 0.5f);
    // Looked at again every pass, never queued.
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, project, library, false, 5.0));
    EXPECT_EQ(probe.probePending.count("00000000000000e7"), 0u);
    EXPECT_FALSE(probe.probeThread.joinable());
}

// Values delivered after the document that asked for them was replaced (a
// project opened meanwhile, its weights known) write nothing, and so do not
// mark the new document modified.
TEST(SoundProbe, ValuesNoEventWaitsForChangeNothing) {
    TempDir dir;
    ASSERT_TRUE(WriteTestAudio(dir.File("out.wav"), AudioSpec{}));
    SoundProbe probe;
    SoundLibrary library;
    Project project;
    project.events.push_back(ClipEvent(dir.File("out.wav")));
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, project, library, false, 1.0));
    WaitForProbe(probe);

    Project opened;
    opened.events.push_back(ClipEvent(dir.File("out.wav")));
    opened.events[0].clipWeight = 0.5f;
    EXPECT_FALSE(ProbeUnknownSoundValues(probe, opened, library, false, 3.0));
    EXPECT_FLOAT_EQ(opened.events[0].clipWeight, 0.5f);
    EXPECT_EQ(probe.brightnessProbeCache.count(dir.File("out.wav")), 1u);  // kept for later passes
}

TEST(SoundProbe, LookupIsRebuiltOnlyWhenLibrariesChange) {
    SoundProbe probe;
    SoundLibrary library;
    LibraryWith(library, "/lib/a.wav", "", 0.3f);
    Project project;
    project.events.push_back(ClipEvent("/not/there.wav"));
    for (int pass = 0; pass < 5; ++pass) ProbeUnknownSoundValues(probe, project, library, false, 2.0 * pass + 1);
    EXPECT_EQ(probe.lookup.rebuilds, 1u);

    library.libraries[0].entries[0].path = "/not/there.wav";
    MarkLibrariesChanged(library);
    EXPECT_TRUE(ProbeUnknownSoundValues(probe, project, library, false, 20.0));
    EXPECT_EQ(probe.lookup.rebuilds, 2u);
    EXPECT_FLOAT_EQ(project.events[0].clipWeight, 0.3f);
}

TEST(SoundProbe, QuittingJoinsARunningWorkerPromptly) {
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 2.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("long.wav"), spec));
    SoundProbe probe;
    std::vector<BrightnessProbeJob> jobs(500, BrightnessProbeJob{"key", dir.File("long.wav")});
    probe.probeBusy.store(true);
    probe.probeThread = std::thread(AnalyzeLibraryWorker, &probe, std::move(jobs));
    auto delivered = [&probe] {
        std::lock_guard<std::mutex> lock(probe.probeResultsMutex);
        return probe.probeResults.size();
    };
    ASSERT_TRUE(WaitUntil([&] { return delivered() > 0; })) << "the worker is under way";
    // Its next delivery waits for the lock held here, so the stop is asked
    // at a known count: afterwards the worker hands in at most the file it
    // was analysing, however slow the machine.
    size_t before = 0;
    std::thread stopper;
    {
        std::lock_guard<std::mutex> lock(probe.probeResultsMutex);
        before = probe.probeResults.size();
        stopper = std::thread([&probe] { StopSoundProbe(probe); });
        EXPECT_TRUE(WaitUntil([&probe] { return probe.probeQuit.load(); }));
    }
    stopper.join();
    EXPECT_FALSE(probe.probeThread.joinable());
    EXPECT_FALSE(probe.probeBusy.load());
    EXPECT_LE(delivered(), before + 1);

    // After the stop no new worker starts.
    SoundLibrary library;
    Project project;
    project.events.push_back(ClipEvent(dir.File("long.wav")));
    ProbeUnknownSoundValues(probe, project, library, false, 1.0);
    EXPECT_FALSE(probe.probeThread.joinable());
}
