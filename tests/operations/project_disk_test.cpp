// The files beside a project: where a save puts it, the names of its lock,
// backups and thumbnail (backup names always fit the system's limit), and
// who holds a crash lock.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/project_disk.h"
#include "platform/file_util.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

// What the save tests do not show: the byte comparison of the extension, a
// stem with dots, the last ".tlproj" of a path.
TEST(ProjectPaths, ExtensionStemAndThumbnailNames) {
    TempDir dir;
    EXPECT_EQ(WithProjectExtension("/w/Scene.TLPROJ"), "/w/Scene.TLPROJ.tlproj");
    EXPECT_EQ(ProjectFolderPath(dir.File("Scene.v2.tlproj")), dir.File("Scene.v2/Scene.v2.tlproj"));
    EXPECT_EQ(ThumbnailPathFor("/w/a.tlproj.d/Y.tlproj"), "/w/a.tlproj.d/Y.thumb.png");
    EXPECT_EQ(ThumbnailPathFor("/w/Y/Y.json"), "/w/Y/Y.json.thumb.png");
}

TEST(ProjectPaths, BackupNamesFitTheLimitWithTheirTemporaryNames) {
    TempDir dir;
    std::string stem;
    for (int i = 0; i < 130; ++i) stem += "\xC3\xA9";  // 260 bytes of "é"
    const std::string project = dir.File(stem + ".tlproj");
    fs::create_directories(BackupFolderPath(project));
    for (int slot : {1, 9, 10, 50}) {
        const std::string backup = BackupFilePath(project, slot);
        const std::string name = FileNameOf(backup);
        const std::string suffix = ".backup" + std::to_string(slot) + ".tlproj";
        ASSERT_GE(name.size(), suffix.size());
        EXPECT_EQ(name.substr(name.size() - suffix.size()), suffix);
        EXPECT_LE(name.size(), kBackupNameMax);
        EXPECT_EQ(ToValidUtf8(name), name) << "cut inside a character";
        // The longest name written beside it is still a legal file name.
        EXPECT_TRUE(WriteWholeFile(backup + ".new.tmp", "x")) << slot;
    }
}

TEST(CrashLock, ItsHolderIsThisProcessARunningCopyOrGone) {
    TempDir dir;
    auto owner = std::make_unique<AppState>();
    AppState& app = *owner;
    const std::string project = dir.File("Scene.tlproj");
    EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::None);

    WriteCrashLock(app, project);
    EXPECT_EQ(ReadWholeFile(project + ".lock"), "pid=" + std::to_string(::getpid()) + "\n");
    EXPECT_EQ(app.crashLockPath, project + ".lock");
    EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::ThisProcess);

    {
        LiveCopy copy;
        ASSERT_TRUE(WriteLockOf(project, copy.pid()));
        EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::RunningCopy);
    }
    ASSERT_TRUE(WriteLockOf(project, DeadProcessId()));
    EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::Gone);
    // A live process of another program took the number over.
    ASSERT_TRUE(WriteLockOf(project, ::getppid()));
    EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::Gone);
    for (const char* text : {"", "pid=", "garbage", "pid=99999999999\n"}) {
        ASSERT_TRUE(WriteWholeFile(project + ".lock", text));
        EXPECT_EQ(ReadCrashLockHolder(project), CrashLockHolder::Gone) << text;
    }

    // A lock that cannot be written is still remembered as this project's.
    auto other = std::make_unique<AppState>();
    WriteCrashLock(*other, dir.File("missing/Scene.tlproj"));
    EXPECT_EQ(other->crashLockPath, dir.File("missing/Scene.tlproj.lock"));
}
