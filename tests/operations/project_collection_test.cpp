// A saved project's audio: a disk that fills up during the copies is reported,
// never "Project saved"; a project reopened without its "Audio" folder keeps
// relative references and moves with its audio again; reopening and saving
// copies nothing twice; a copy cut short by a kill is cleaned away by the
// next save or open, but never one that another save is still writing.
#include <gtest/gtest.h>

#include <sys/file.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "library/file_registry.h"
#include "operations/project_disk.h"
#include "operations/project_lifecycle.h"
#include "platform/file_util.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

namespace {

// Every copy into an "Audio" folder fails as on a full disk; the project
// files themselves still fit.
int FailAudioCopies(FileFaultPoint point, const std::string& path) {
    return point == FileFaultPoint::Write && path.find("/Audio/") != std::string::npos ? ENOSPC : 0;
}

// Nothing fits any more.
int FailEveryWrite(FileFaultPoint point, const std::string&) { return point == FileFaultPoint::Write ? ENOSPC : 0; }

// Opens the project and lets the voices of its layers build.
bool OpenSettled(LifecycleRig& rig, const std::string& path) {
    return OpenProject(rig.ctx, path) && SettleBusyTask(*rig.app);
}

// The rig's saves meet `hook` while it lives.
struct FaultHookScope {
    LifecycleRig& rig;
    FaultHookScope(LifecycleRig& rig, FileFaultHook hook) : rig(rig) { rig.observer.fileFault = hook; }
    ~FaultHookScope() { rig.observer.fileFault = nullptr; }
};

}  // namespace

// ---------------------------------------------------------------------------
// A full disk
// ---------------------------------------------------------------------------

TEST(ProjectCollection, AFullDiskIsReportedNeverAsProjectSaved) {
    LifecycleRig rig;
    const std::vector<std::string> sounds = {WriteSound(rig.File("lib/a.wav"), 0.2, 1),
                                             WriteSound(rig.File("lib/b.wav"), 0.2, 2)};
    *rig.project = SoundDocument(sounds);
    rig.app->modified = true;
    const std::string path = rig.File("Scene/Scene.tlproj");
    {
        FaultHookScope full(rig, &FailAudioCopies);
        SaveProject(rig.ctx, path);
    }
    // The file went to disk and names the sounds where they are, so it opens
    // and plays; the user is told what is not in its folder, and why.
    EXPECT_NE(rig.app->toastText, "Project saved");
    EXPECT_NE(rig.app->toastText.find("2 sounds"), std::string::npos) << rig.app->toastText;
    EXPECT_NE(rig.app->toastText.find("disk full"), std::string::npos) << rig.app->toastText;
    EXPECT_EQ(StoredLayerPaths(path), sounds);
    EXPECT_TRUE(FolderNames(rig.File("Scene/Audio")).empty());

    // An autosave that cannot be written says so too.
    rig.app->modified = true;
    rig.app->autoSaveInterval = 30;
    rig.app->autoSaveElapsed = 29;
    rig.app->toastText.clear();
    {
        FaultHookScope full(rig, &FailEveryWrite);
        EXPECT_FALSE(AutoSaveTick(rig.ctx, 2));
    }
    EXPECT_EQ(rig.app->toastText, "Auto-save failed: disk full");
    EXPECT_FALSE(BackupExists(path));
}

namespace {

// A tmpfs of `bytes` mounted at `dir` in a mount namespace of this process
// alone (a child's: the test's own process is left as it was). False when the
// system does not permit it.
bool MountSmallTmpfs(const std::string& dir, size_t bytes) {
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::geteuid();
        const gid_t gid = ::getegid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
        WriteWholeFile("/proc/self/setgroups", "deny");
        WriteWholeFile("/proc/self/uid_map", std::to_string(uid) + " " + std::to_string(uid) + " 1");
        WriteWholeFile("/proc/self/gid_map", std::to_string(gid) + " " + std::to_string(gid) + " 1");
    }
    ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    const std::string options = "size=" + std::to_string(bytes);
    return ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

}  // namespace

TEST(ProjectCollection, ARealFullDiskWhereTheSystemLetsUsMountOne) {
    LifecycleRig rig;
    const std::vector<std::string> sounds = {WriteSound(rig.File("lib/long.wav"), 2.0, 3)};  // ~290 KB
    *rig.project = SoundDocument(sounds);
    rig.app->modified = true;
    const std::string disk = rig.File("disk");
    fs::create_directories(disk);
    std::fflush(stdout);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!MountSmallTmpfs(disk, 64 * 1024)) ::_exit(77);
        SaveProject(rig.ctx, disk + "/Scene/Scene.tlproj");
        const std::string& toast = rig.app->toastText;
        const bool told = toast.find("1 sound") != std::string::npos && toast.find("disk full") != std::string::npos;
        const bool usable = StoredLayerPaths(disk + "/Scene/Scene.tlproj") == sounds;
        ::_exit(told && usable ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no tmpfs can be mounted here";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---------------------------------------------------------------------------
// References that move with the project
// ---------------------------------------------------------------------------

TEST(ProjectCollection, AProjectReopenedWithoutItsAudioStaysMovable) {
    TempDir place;
    std::string path;
    {
        LifecycleRig rig;
        *rig.project = SoundDocument({WriteSound(rig.File("lib/a.wav"), 0.2, 4), WriteSound(rig.File("lib/b.wav"), 0.2, 5)});
        path = place.path() + "/Scene/Scene.tlproj";
        ASSERT_TRUE(SaveProject(rig.ctx, path));
        EXPECT_EQ(StoredLayerPaths(path), (std::vector<std::string>{"Audio/a.wav", "Audio/b.wav"}));
    }  // the library goes with the rig: the project travels alone

    // Opened (and saved) while its audio is elsewhere, e.g. still copying.
    fs::rename(place.path() + "/Scene/Audio", place.path() + "/Audio.away");
    {
        LifecycleRig rig;
        ASSERT_TRUE(OpenSettled(rig, path));
        EXPECT_EQ(rig.app->toastText, "Opened (some files missing)");
        ASSERT_TRUE(SaveProject(rig.ctx, path));
        EXPECT_EQ(StoredLayerPaths(path), (std::vector<std::string>{"Audio/a.wav", "Audio/b.wav"}));
    }
    // The audio comes back and the folder moves: every layer is found.
    fs::rename(place.path() + "/Audio.away", place.path() + "/Scene/Audio");
    fs::rename(place.path() + "/Scene", place.path() + "/Moved");
    LifecycleRig rig;
    ASSERT_TRUE(OpenSettled(rig, place.path() + "/Moved/Scene.tlproj"));
    EXPECT_EQ(rig.app->toastText, "Project opened");
}

TEST(ProjectCollection, ReopeningAndSavingCopiesNothingTwice) {
    LifecycleRig rig;
    std::vector<std::string> sounds;
    for (int i = 0; i < 4; ++i)
        sounds.push_back(WriteSound(rig.File("lib/s" + std::to_string(i) + ".wav"), 0.1, 10 + unsigned(i)));
    *rig.project = SoundDocument(sounds, true);
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    const std::vector<std::string> first = FolderNames(rig.File("Scene/Audio"));
    ASSERT_EQ(first.size(), 4u);

    // Reopened while the program stays open, with a library that holds the
    // project's sources: every id resolves to the library's file again.
    ASSERT_TRUE(OpenSettled(rig, path));
    for (const std::string& sound : sounds) FileRegistry::Instance().FileRefForPath(sound);
    for (int round = 0; round < 2; ++round) {
        rig.app->modified = true;
        ASSERT_TRUE(SaveProject(rig.ctx, path));
        EXPECT_EQ(FolderNames(rig.File("Scene/Audio")), first) << "save " << round;
    }
}

// ---------------------------------------------------------------------------
// Leftovers of a killed save
// ---------------------------------------------------------------------------

TEST(ProjectCollection, ACopyCutShortIsRemovedByTheNextSaveOrOpenButNotOneInProgress) {
    LifecycleRig rig;
    *rig.project = SoundDocument({WriteSound(rig.File("lib/a.wav"))});
    const std::string path = rig.File("Scene/Scene.tlproj");
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    const std::string audio = rig.File("Scene/Audio");
    const std::string backupAudio = rig.File("Scene/Backups/Audio");
    fs::create_directories(backupAudio);

    // A save killed in the middle of its copies left these behind.
    ASSERT_TRUE(WriteWholeFile(audio + "/.tlcopy-Ab12Cd", "half a sound"));
    ASSERT_TRUE(WriteWholeFile(backupAudio + "/.tlcopy-Ef34Gh", "half a sound"));
    // Another save (a second copy of the program) is writing this one now.
    const std::string busy = audio + "/.tlcopy-Ij56Kl";
    ASSERT_TRUE(WriteWholeFile(busy, "being written"));
    const int held = ::open(busy.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);

    rig.app->modified = true;
    ASSERT_TRUE(SaveProject(rig.ctx, path));
    EXPECT_EQ(FolderNames(audio), (std::vector<std::string>{".tlcopy-Ij56Kl", "a.wav"}));

    ::close(held);
    ASSERT_TRUE(WriteWholeFile(audio + "/.tlcopy-Mn78Op", "half a sound"));
    LifecycleRig other;
    ASSERT_TRUE(OpenSettled(other, path));
    EXPECT_EQ(FolderNames(audio), (std::vector<std::string>{"a.wav"}));
    EXPECT_TRUE(FolderNames(backupAudio).empty());
}
