// The project on disk: saved into its own folder with lock, recent list and
// thumbnail request; a failed save changes nothing; autosaves rotate the
// backups and a failed one deletes none; the timer runs only while modified,
// saved and idle; a crash is recovered from the newest backup only when the
// lock's process is gone and the backup is newer; a failed open changes
// nothing.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "document/busy_task.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

namespace {

std::string OwnLock() { return "pid=" + std::to_string(::getpid()) + "\n"; }

// Moves a file's modification time by `seconds` from the reference file's.
void SetWrittenRelativeTo(const std::string& path, const std::string& reference, int seconds) {
    fs::last_write_time(path, fs::last_write_time(reference) + std::chrono::seconds(seconds));
}

}  // namespace

// ---------------------------------------------------------------------------
// Saving
// ---------------------------------------------------------------------------

TEST(ProjectSave, GoesIntoItsOwnFolderWithLockRecentListAndThumbnail) {
    LifecycleRig rig;
    *rig.project = SpotDocument(2);
    rig.app->modified = true;
    const std::string x = rig.File("X");
    fs::create_directories(x);

    ASSERT_TRUE(SaveProject(rig.ctx, x + "/Y"));  // no extension: appended
    const std::string saved = x + "/Y/Y.tlproj";
    EXPECT_TRUE(fs::is_regular_file(saved));
    EXPECT_EQ(EventCountIn(saved), 2);
    EXPECT_EQ(rig.app->projectPath, saved);
    EXPECT_EQ(rig.app->projectName, "Y");
    EXPECT_EQ(rig.app->pendingThumbnailPath, x + "/Y/Y.thumb.png");
    EXPECT_EQ(ReadWholeFile(saved + ".lock"), OwnLock());
    EXPECT_EQ(rig.app->crashLockPath, saved + ".lock");
    ASSERT_FALSE(rig.app->recentProjects.empty());
    EXPECT_EQ(rig.app->recentProjects.front(), saved);
    EXPECT_EQ(rig.preferencesSaved, 1);
    EXPECT_FALSE(rig.app->modified);
    EXPECT_EQ(rig.app->toastText, "Project saved");

    // A path already in its folder and already ending in ".tlproj" stays.
    ASSERT_TRUE(SaveProject(rig.ctx, saved));
    EXPECT_EQ(rig.app->projectPath, saved);
    EXPECT_FALSE(fs::exists(saved + ".tlproj"));
    // X/Y.tlproj is saved as X/Y/Y.tlproj too.
    ASSERT_TRUE(SaveProject(rig.ctx, x + "/Y.tlproj"));
    EXPECT_EQ(rig.app->projectPath, saved);
    EXPECT_FALSE(fs::exists(x + "/Y.tlproj"));

    // Saving under another name releases the old lock.
    ASSERT_TRUE(SaveProject(rig.ctx, x + "/Z.tlproj"));
    EXPECT_FALSE(fs::exists(saved + ".lock"));
    EXPECT_TRUE(fs::exists(x + "/Z/Z.tlproj.lock"));
    EXPECT_EQ(rig.app->recentProjects.size(), 2u);
}

TEST(ProjectSave, AFailedSaveKeepsPathModifiedOldFileAndThePrompt) {
    LifecycleRig rig;
    *rig.project = SpotDocument(2);
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    const std::string oldText = ReadWholeFile(path);
    const int recentBefore = static_cast<int>(rig.app->recentProjects.size());

    *rig.project = SpotDocument(5);
    rig.app->modified = true;
    rig.app->confirmAction = 1;
    rig.app->confirmOpenPath = rig.File("Other.tlproj");
    rig.app->pendingThumbnailPath.clear();
    fs::create_directories(path + ".tmp");  // the temporary file cannot be made

    EXPECT_FALSE(SaveProject(rig.ctx, path));
    EXPECT_EQ(rig.app->toastText, "Save failed");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 3);
    EXPECT_EQ(rig.app->projectPath, path);
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(ReadWholeFile(path), oldText);
    EXPECT_EQ(rig.app->confirmAction, 1);
    EXPECT_EQ(rig.app->confirmOpenPath, rig.File("Other.tlproj"));
    EXPECT_TRUE(rig.app->pendingThumbnailPath.empty());
    EXPECT_EQ(static_cast<int>(rig.app->recentProjects.size()), recentBefore);
}

// ---------------------------------------------------------------------------
// Backups
// ---------------------------------------------------------------------------

TEST(ProjectBackups, AnAutosaveRotatesTheSlotsAndWritesANewFirst) {
    LifecycleRig rig;
    *rig.project = SpotDocument(3);
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    const std::string projectText = ReadWholeFile(path);
    rig.app->modified = true;
    rig.app->maxBackups = 3;
    fs::create_directories(BackupFolderPath(path));
    for (int slot = 1; slot <= 3; ++slot)
        ASSERT_TRUE(WriteWholeFile(BackupFilePath(path, slot), "backup " + std::to_string(slot)));

    ASSERT_TRUE(AutoSaveProject(rig.ctx, path));
    EXPECT_EQ(EventCountIn(BackupFilePath(path, 1)), 3);
    EXPECT_EQ(ReadWholeFile(BackupFilePath(path, 2)), "backup 1");
    EXPECT_EQ(ReadWholeFile(BackupFilePath(path, 3)), "backup 2");
    EXPECT_FALSE(fs::exists(BackupFilePath(path, 4)));
    EXPECT_FALSE(fs::exists(BackupFilePath(path, 1) + ".new"));
    EXPECT_EQ(ReadWholeFile(path), projectText);  // the project file is not touched
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(ReadWholeFile(path + ".lock"), OwnLock());
    EXPECT_EQ(BackupFilePath(path, 2), rig.File("Scene/Backups/Scene.backup2.tlproj"));
}

TEST(ProjectBackups, AnAutosaveThatCannotBeWrittenKeepsEveryBackup) {
    LifecycleRig rig;
    *rig.project = SpotDocument(200);  // some kilobytes of project text
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    rig.app->maxBackups = 3;
    fs::create_directories(BackupFolderPath(path));
    for (int slot = 1; slot <= 3; ++slot)
        ASSERT_TRUE(WriteWholeFile(BackupFilePath(path, slot), "backup " + std::to_string(slot)));

    // A full disk: the child may write only a little, then every write fails.
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {2048, 2048};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(AutoSaveProject(rig.ctx, path) ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    for (int slot = 1; slot <= 3; ++slot)
        EXPECT_EQ(ReadWholeFile(BackupFilePath(path, slot)), "backup " + std::to_string(slot)) << slot;
    EXPECT_FALSE(fs::exists(BackupFilePath(path, 4)));
}

TEST(ProjectBackups, TheTimerRunsOnlyWhileModifiedSavedAndIdle) {
    LifecycleRig rig;
    *rig.project = SpotDocument(1);
    AppState& app = *rig.app;
    app.autoSaveInterval = 30;
    const std::string path = rig.File("Scene/Scene.tlproj");

    // Never saved and empty: nothing to back up, no time.
    app.modified = true;
    rig.project->events.clear();
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 20));
    EXPECT_EQ(app.autoSaveElapsed, 0);
    *rig.project = SpotDocument(1);

    ASSERT_TRUE(SaveProject(rig.ctx, path));
    // Saved, but nothing changed since.
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 20));
    EXPECT_EQ(app.autoSaveElapsed, 0);

    app.modified = true;
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 20));
    EXPECT_EQ(app.autoSaveElapsed, 20);
    // A busy task holds the time where it is.
    app.busyTask.busy.store(true);
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 20));
    app.busyTask.busy.store(false);
    app.autoSaveEnabled = false;
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 20));
    app.autoSaveEnabled = true;
    EXPECT_EQ(app.autoSaveElapsed, 20);
    EXPECT_FALSE(BackupExists(path));

    EXPECT_TRUE(AutoSaveTick(rig.ctx, 10));
    EXPECT_TRUE(BackupExists(path));
    EXPECT_EQ(app.autoSaveElapsed, 0);
    EXPECT_EQ(app.toastText, "Auto-saved (backup)");
    EXPECT_TRUE(app.modified);

    // A failed backup says why and starts the time again.
    fs::remove_all(BackupFolderPath(path));
    ASSERT_TRUE(WriteWholeFile(BackupFolderPath(path), "a file where the folder belongs"));
    app.toastText.clear();
    EXPECT_FALSE(AutoSaveTick(rig.ctx, 30));
    EXPECT_EQ(app.autoSaveElapsed, 0);
    EXPECT_EQ(app.toastText, "Auto-save failed: not a directory");
}

// ---------------------------------------------------------------------------
// Recovery after a crash
// ---------------------------------------------------------------------------

namespace {

// The saved project holds 2 events and no work area; its backup 3 events and
// a work area from 5 s.
struct CrashedProject {
    std::string path;
    std::string backup;
};

CrashedProject WriteCrashedProject(LifecycleRig& rig, int backupAge) {
    CrashedProject c;
    c.path = rig.File("Scene/Scene.tlproj");
    c.backup = BackupFilePath(c.path, 1);
    fs::create_directories(BackupFolderPath(c.path));
    EXPECT_TRUE(WriteProjectAt(c.path, SpotDocument(2)));
    EXPECT_TRUE(WriteProjectAt(c.backup, SpotDocument(3), [](ProjectSaveContext& s) {
        s.workAreaIn = 5;
        s.workAreaOut = 9;
    }));
    SetWrittenRelativeTo(c.backup, c.path, backupAge);
    return c;
}

}  // namespace

TEST(ProjectRecovery, ADeadProcessLockWithANewerBackupLoadsTheBackup) {
    LifecycleRig rig;
    const CrashedProject c = WriteCrashedProject(rig, 60);
    ASSERT_TRUE(WriteLockOf(c.path, DeadProcessId()));

    testing::internal::CaptureStdout();
    ASSERT_TRUE(OpenProject(rig.ctx, c.path));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[Recovery] Crash lock detected \xE2\x80\x94 loading backup: " + c.backup), std::string::npos);
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_EQ(rig.app->projectPath, c.path);  // the next save overwrites the project, not the backup
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->toastText.rfind("Recovered from backup (auto-saved ", 0), 0u) << rig.app->toastText;
    EXPECT_FLOAT_EQ(rig.app->workAreaIn, 5);  // settings of the file loaded
    EXPECT_EQ(ReadWholeFile(c.path + ".lock"), OwnLock());
}

TEST(ProjectRecovery, OtherwiseTheProjectFileLoads) {
    LiveCopy copy;
    struct Case {
        const char* name;
        int lockPid;     // 0: this process; -1: no lock
        int backupAge;   // seconds after the file
        bool damagedBackup;
        bool removeBackup;
    };
    const Case cases[] = {
        {"this process's lock (a revert)", 0, 60, false, false},
        {"a running copy's lock", copy.pid(), 60, false, false},
        {"a backup older than the file", DeadProcessId(), -60, false, false},
        {"no backup", DeadProcessId(), 60, false, true},
        {"a damaged backup", DeadProcessId(), 60, true, false},
        {"no lock", -1, 60, false, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        LifecycleRig rig;
        const CrashedProject c = WriteCrashedProject(rig, k.backupAge);
        if (k.damagedBackup) {
            const std::string text = ReadWholeFile(c.backup);
            ASSERT_TRUE(WriteWholeFile(c.backup, text.substr(0, text.size() / 2)));
            SetWrittenRelativeTo(c.backup, c.path, 60);
        }
        if (k.removeBackup) fs::remove(c.backup);
        if (k.lockPid >= 0) {
            ASSERT_TRUE(WriteLockOf(c.path, k.lockPid == 0 ? ::getpid() : k.lockPid));
        }

        ASSERT_TRUE(OpenProject(rig.ctx, c.path));
        EXPECT_EQ(rig.project->events.size(), 2u);
        EXPECT_FALSE(rig.app->modified);
        EXPECT_EQ(rig.app->toastText, "Project opened");
        EXPECT_FLOAT_EQ(rig.app->workAreaIn, -1);
        EXPECT_EQ(ReadWholeFile(c.path + ".lock"), OwnLock());
    }
}

// ---------------------------------------------------------------------------
// Opening
// ---------------------------------------------------------------------------

TEST(ProjectOpen, AFailedOpenChangesNothing) {
    LifecycleRig rig;
    *rig.project = SpotDocument(4, 7);
    const std::string current = rig.File("Current/Current.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, current));
    rig.project->events.pop_back();
    rig.app->modified = true;
    rig.app->undoHistory.undo.emplace_back();
    rig.app->selectedEvent = 1;

    const std::string damaged = rig.File("Damaged.tlproj");
    ASSERT_TRUE(WriteProjectAt(damaged, SpotDocument(9)));
    const std::string text = ReadWholeFile(damaged);
    ASSERT_TRUE(WriteWholeFile(damaged, text.substr(0, text.size() - 40)));
    ASSERT_TRUE(WriteLockOf(damaged, DeadProcessId()));
    const std::string damagedLock = ReadWholeFile(damaged + ".lock");

    EXPECT_FALSE(OpenProject(rig.ctx, damaged));
    EXPECT_EQ(rig.app->toastText, "Error: Damaged file (incomplete JSON)");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 4);
    EXPECT_FALSE(OpenProject(rig.ctx, rig.File("missing.tlproj")));
    EXPECT_EQ(rig.app->toastText, "\xE2\x80\x9Cmissing.tlproj\xE2\x80\x9D was not found");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 3);
    EXPECT_FALSE(OpenProject(rig.ctx, ""));

    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_EQ(rig.project->scaleType, 7);
    EXPECT_EQ(rig.app->projectPath, current);
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_EQ(rig.app->selectedEvent, 1);
    EXPECT_EQ(rig.app->crashLockPath, current + ".lock");
    EXPECT_TRUE(fs::exists(current + ".lock"));
    EXPECT_EQ(ReadWholeFile(damaged + ".lock"), damagedLock);  // removed only after a load
    EXPECT_EQ(rig.app->recentProjects.size(), 1u);
}

TEST(ProjectOpen, ExportRefusesOpenAndNewButNotSave) {
    LifecycleRig rig;
    *rig.project = SpotDocument(2);
    const std::string other = rig.File("Other.tlproj");
    ASSERT_TRUE(WriteProjectAt(other, SpotDocument(5)));
    rig.app->exportRunning.store(true);

    EXPECT_FALSE(OpenProject(rig.ctx, other));
    EXPECT_EQ(rig.app->toastText, "Export in progress");
    EXPECT_FALSE(NewProject(rig.ctx));
    EXPECT_EQ(rig.project->events.size(), 2u);
    EXPECT_TRUE(SaveProject(rig.ctx, rig.File("During/During.tlproj")));
    rig.app->exportRunning.store(false);
}
