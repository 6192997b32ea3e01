// Backups belong to the save they extend: a discard or a save retires them,
// recovery takes the newest complete backup that extends the file on disk
// (also when a kill struck between rotating the slots and moving the new one
// in), and an untitled project that crashed comes back at the next start.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "library/file_registry.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "persistence/json_value.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"
#include "support/lifecycle_rig.h"
#include "support/scoped_environment.h"

namespace fs = std::filesystem;

namespace {

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The next run of the program finds the lock of one that ended without
// closing the project.
void Crash(const std::string& path) { ASSERT_TRUE(WriteLockOf(path, DeadProcessId())); }

// Kills the process the moment an autosave moves its new backup into slot 1:
// the slots are rotated, the new backup is complete, slot 1 is empty.
int KillBeforeSlotOne(FileFaultPoint point, const std::string& path) {
    const std::string slot = ".backup1.tlproj";
    if (point == FileFaultPoint::Move && path.size() > slot.size() &&
        path.compare(path.size() - slot.size(), slot.size(), slot) == 0)
        ::_exit(9);
    return 0;
}

}  // namespace

TEST(ProjectRecovery, DiscardedOrSavedOverEditsNeverComeBack) {
    TempDir place;
    const std::string path = place.path() + "/Scene/Scene.tlproj";
    std::string backupOf7;
    {  // Saved with 7 events, edited to 11 and backed up; then New and Discard.
        LifecycleRig rig;
        *rig.project = SpotDocument(7);
        ASSERT_TRUE(SaveProject(rig.ctx, path));
        *rig.project = SpotDocument(11);
        rig.app->modified = true;
        ASSERT_TRUE(AutoSaveProject(rig.ctx, path));
        backupOf7 = ReadWholeFile(BackupFilePath(path, 1));
        ContinuePendingAction(rig.ctx);  // Discard behind New
        EXPECT_TRUE(rig.app->projectPath.empty());
    }
    {  // The next start opens it, edits, and crashes before any autosave.
        LifecycleRig rig;
        ASSERT_TRUE(OpenProject(rig.ctx, path));
        EXPECT_EQ(rig.project->events.size(), 7u);
        rig.project->events.pop_back();
        rig.app->modified = true;
        Crash(path);
    }
    LifecycleRig rig;
    ASSERT_TRUE(OpenProject(rig.ctx, path));
    EXPECT_EQ(rig.project->events.size(), 7u);
    EXPECT_EQ(rig.app->toastText, "Project opened");

    // A save retires the backups too; one a kill left between the two (or
    // copied back by hand) extends another file: the saved one opens.
    *rig.project = SpotDocument(12);
    ASSERT_TRUE(AutoSaveProject(rig.ctx, path));
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    EXPECT_TRUE(BackupCandidates(path).empty());
    ASSERT_TRUE(WriteWholeFile(BackupFilePath(path, 1), backupOf7));
    Crash(path);
    LifecycleRig next;
    ASSERT_TRUE(OpenProject(next.ctx, path));
    EXPECT_EQ(next.project->events.size(), 12u);
    EXPECT_EQ(next.app->toastText, "Project opened");
}

TEST(ProjectRecovery, AKillBetweenRotatingAndMovingInLosesNoBackup) {
    LifecycleRig rig;
    const std::string path = rig.File("Scene/Scene.tlproj");
    *rig.project = SpotDocument(7);
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    *rig.project = SpotDocument(9);
    rig.app->modified = true;
    ASSERT_TRUE(AutoSaveProject(rig.ctx, path));
    *rig.project = SpotDocument(12);

    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        rig.observer.fileFault = &KillBeforeSlotOne;
        AutoSaveProject(rig.ctx, path);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 9) << "the kill happened where it was meant to";
    ASSERT_FALSE(fs::exists(BackupFilePath(path, 1)));
    ASSERT_TRUE(fs::exists(BackupFilePath(path, 2)));
    Crash(path);

    {  // The newest complete backup is the one the kill kept from slot 1.
        LifecycleRig next;
        ASSERT_TRUE(OpenProject(next.ctx, path));
        EXPECT_EQ(next.project->events.size(), 12u);
        EXPECT_TRUE(StartsWith(next.app->toastText, "Recovered from backup")) << next.app->toastText;
    }
    // Without it, slot 2 is next.
    for (const auto& entry : fs::directory_iterator(BackupFolderPath(path)))
        if (entry.path().filename().string().find(".backup1.") != std::string::npos) fs::remove(entry.path());
    Crash(path);
    LifecycleRig next;
    ASSERT_TRUE(OpenProject(next.ctx, path));
    EXPECT_EQ(next.project->events.size(), 9u);
    EXPECT_TRUE(StartsWith(next.app->toastText, "Recovered from backup")) << next.app->toastText;
}

TEST(ProjectRecovery, AnUntitledProjectIsBackedUpAndOfferedAtTheNextStart) {
    TempDir data;
    ScopedEnvironment env;
    env.Set("APPDATA", data.path());
    const std::string folder = AppDataDir() + "/Recovery";
    const std::string own = folder + "/Untitled-" + std::to_string(::getpid()) + ".tlproj";
    std::string sound;
    {
        LifecycleRig rig;
        *rig.project = SpotDocument(5);
        RenderResult layer;
        layer.filepath = sound = rig.File("far.wav");
        ASSERT_TRUE(WriteWholeFile(sound, "a sound that stays in its library"));
        rig.project->results.push_back(layer);
        rig.app->modified = true;
        rig.app->autoSaveInterval = 30;
        EXPECT_TRUE(AutoSaveTick(rig.ctx, 31));
        ASSERT_TRUE(fs::exists(own)) << "a never-saved project has a backup";
        EXPECT_FALSE(fs::exists(folder + "/Audio")) << "its sounds stay where they are";
    }
    // The program died: its file now carries a process id nobody has.
    const std::string crashed = folder + "/Untitled-" + std::to_string(DeadProcessId()) + ".tlproj";
    fs::rename(own, crashed);
    {
        // A running copy's backup is its own, however new.
        LiveCopy copy;
        const std::string theirs = folder + "/Untitled-" + std::to_string(copy.pid()) + ".tlproj";
        fs::copy_file(crashed, theirs);
        fs::last_write_time(theirs, fs::last_write_time(crashed) + std::chrono::seconds(60));

        LifecycleRig next;
        ASSERT_TRUE(RecoverUntitledProject(next.ctx));
        ASSERT_TRUE(SettleBusyTask(*next.app));  // the layer's voice
        EXPECT_EQ(next.project->events.size(), 5u);
        ASSERT_EQ(next.project->results.size(), 1u);
        EXPECT_EQ(next.project->results[0].filepath, sound);
        EXPECT_TRUE(next.app->projectPath.empty());
        EXPECT_TRUE(next.app->modified);
        EXPECT_TRUE(StartsWith(next.app->toastText, "Recovered")) << next.app->toastText;
        // Taken over by this run (a second crash still finds it), the
        // running copy's left alone.
        EXPECT_TRUE(fs::exists(own));
        EXPECT_FALSE(fs::exists(crashed));
        EXPECT_TRUE(fs::exists(theirs));
        fs::remove(theirs);

        // Discarding it (New) retires it.
        ContinuePendingAction(next.ctx);
        EXPECT_FALSE(fs::exists(own));
    }
    LifecycleRig last;
    EXPECT_FALSE(RecoverUntitledProject(last.ctx));
}
