// The project-file writer: sounds are copied on its own thread while the
// interface goes on (and edits), a save runs during an export, and replacing
// the document stops a running autosave instead of waiting for all of it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "platform/file_util.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

namespace {

// Holds the first copy into an "Audio" folder of the rig's saves until
// released, and notes which thread made it. A copy made on the test's own
// thread is not held (it would hold the test itself): the test finds it by
// the copier.
struct CopyGate {
    LifecycleRig& rig;

    static std::atomic<bool> entered;
    static std::atomic<bool> released;
    static std::atomic<std::thread::id> copier;
    static std::atomic<std::thread::id> tester;

    static int Hook(FileFaultPoint point, const std::string& path) {
        if (point != FileFaultPoint::Write || path.find("/Audio/.tlcopy-") == std::string::npos) return 0;
        if (!entered.exchange(true)) {
            copier.store(std::this_thread::get_id());
            while (!released.load() && std::this_thread::get_id() != tester.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return 0;
    }

    explicit CopyGate(LifecycleRig& rig) : rig(rig) {
        entered = false;
        released = false;
        copier = std::thread::id();
        tester = std::this_thread::get_id();
        rig.observer.fileFault = &Hook;
    }
    ~CopyGate() {
        released = true;
        rig.observer.fileFault = nullptr;
    }
    // A hang guard only (the copy is started by then, at once on an idle
    // machine): false when no copy came within 60 s.
    static bool WaitEntered() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!entered.load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return entered.load();
    }
};
std::atomic<bool> CopyGate::entered{false};
std::atomic<bool> CopyGate::released{false};
std::atomic<std::thread::id> CopyGate::copier{};
std::atomic<std::thread::id> CopyGate::tester{};

Project NoiseDocument(LifecycleRig& rig, int count) {
    std::vector<std::string> sounds;
    for (int i = 0; i < count; ++i)
        sounds.push_back(WriteSound(rig.File("lib/s" + std::to_string(i) + ".wav"), 0.1, 40 + unsigned(i)));
    return SoundDocument(sounds);
}

// Frames until the write is finished (a hang guard of a minute, never a pace).
bool PumpUntilWritten(LifecycleRig& rig) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ProjectSaveRunning(*rig.app) && std::chrono::steady_clock::now() < until) {
        PumpProjectSave(rig.ctx);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return !ProjectSaveRunning(*rig.app);
}

}  // namespace

TEST(ProjectSaveWriter, TheFirstAutosaveCopiesItsAudioOffTheInterfaceThread) {
    LifecycleRig rig;
    rig.ctx.saveOnWorker = true;
    *rig.project = NoiseDocument(rig, 3);
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    ASSERT_TRUE(WaitForProjectSave(rig.ctx));
    rig.project->events.push_back(Event{});
    rig.app->modified = true;
    rig.app->autoSaveInterval = 30;
    rig.app->autoSaveElapsed = 29;

    CopyGate gate(rig);
    EXPECT_TRUE(AutoSaveTick(rig.ctx, 2));
    ASSERT_TRUE(CopyGate::WaitEntered());
    EXPECT_NE(CopyGate::copier.load(), std::this_thread::get_id()) << "the interface thread copied the audio";
    // The window goes on drawing and editing while the sounds are copied.
    EXPECT_TRUE(ProjectSaveRunning(*rig.app));
    PumpProjectSave(rig.ctx);
    EXPECT_TRUE(ProjectSaveRunning(*rig.app));
    rig.project->events.push_back(Event{});
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 100)) << "one write at a time";

    CopyGate::released = true;
    ASSERT_TRUE(PumpUntilWritten(rig));
    EXPECT_EQ(rig.app->toastText, "Auto-saved (backup)");
    EXPECT_EQ(EventCountIn(BackupFilePath(path, 1)), 4) << "the document as it was when the backup started";
    EXPECT_EQ(ReadWholeFile(path + ".lock"), "pid=" + std::to_string(::getpid()) + "\n");

    // A New while the next backup copies its sounds: that backup is of a
    // document that goes, and it stops before its next sound.
    fs::remove_all(BackupFolderPath(path));
    CopyGate::entered = false;
    CopyGate::released = false;
    ASSERT_TRUE(AutoSaveProject(rig.ctx, path));
    ASSERT_TRUE(CopyGate::WaitEntered());
    // The copy goes on once the New has asked the backup to stop (the New
    // then waits for it): its next sound is certainly not started.
    const std::atomic<bool>* stop = ProjectSaveStopFlag(*rig.app);
    ASSERT_NE(stop, nullptr);
    std::thread release([stop] {
        // A hang guard: a New that never asks lets the copy go after a minute.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!stop->load() && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        CopyGate::released = true;
    });
    EXPECT_TRUE(NewProject(rig.ctx));
    release.join();
    EXPECT_FALSE(ProjectSaveRunning(*rig.app));
    EXPECT_TRUE(BackupCandidates(path).empty());
    EXPECT_EQ(FolderNames(BackupFolderPath(path) + "/Audio").size(), 1u);
}

TEST(ProjectSaveWriter, ASaveDuringAnExportRunsAndEditsMadeMeanwhileStayUnsaved) {
    LifecycleRig rig;
    rig.ctx.saveOnWorker = true;
    *rig.project = NoiseDocument(rig, 2);
    rig.app->modified = true;
    rig.app->exportRunning.store(true);
    const std::string path = rig.File("Scene/Scene.tlproj");

    CopyGate gate(rig);
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    ASSERT_TRUE(CopyGate::WaitEntered());
    // Meanwhile: another Save and a New wait for this one; an edit is made.
    EXPECT_FALSE(SaveProject(rig.ctx, path));
    EXPECT_EQ(rig.app->toastText, "Save in progress");
    rig.app->exportRunning.store(false);
    EXPECT_FALSE(NewProject(rig.ctx));
    EXPECT_EQ(rig.project->events.size(), 2u);
    rig.project->events.push_back(Event{});
    rig.app->modified = true;

    CopyGate::released = true;
    ASSERT_TRUE(PumpUntilWritten(rig));
    EXPECT_EQ(rig.app->toastText, "Project saved");
    EXPECT_EQ(rig.app->projectPath, path);
    EXPECT_EQ(EventCountIn(path), 2);
    EXPECT_TRUE(rig.app->modified) << "the edit made during the save is not in the file";
}
