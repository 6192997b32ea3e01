// The drives rig on every kind it can mount: what it promises holds (a
// colleague reaches the drive, chmod and attributes reach every entry or the
// drive refuses them all, a fill leaves no room and a free gives it back, a
// remount keeps the bytes under another device number), and the features a
// replacement in place leans on are logged, never asserted: they are the
// drive's, not the program's.
//
// Index
//   Delivery     a small tree as a delivery folder stands
//   Drives       the promises on each kind, and its features logged
//   Colleagues   ids and umasks taken in a child, two colleagues in one group folder;
//                no drive for someone who is not root
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/drive_features.h"
#include "support/test_drives.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// Delivery
// ---------------------------------------------------------------------------

// A delivery folder: a mixdown, a stem in a subfolder and a link to the
// mixdown where the drive has links. Its entries (the folder first), and
// each file's bytes by path.
struct Delivery {
    std::string root;
    std::vector<std::string> entries;
    std::vector<std::pair<std::string, std::string>> files;
    int links = 0;

    explicit Delivery(const std::string& at) : root(at + "/Delivery") {
        fs::create_directories(root + "/Tracks");
        entries = {root, root + "/Tracks"};
        for (const auto& [name, bytes] : {std::pair<std::string, std::string>{"Reel.wav", std::string(9000, 'M')},
                                          {"Tracks/Reel - BG.wav", std::string(5000, 'B')}}) {
            EXPECT_TRUE(WriteWholeFile(root + "/" + name, bytes)) << name;
            entries.push_back(root + "/" + name);
            files.emplace_back(root + "/" + name, bytes);
        }
        if (::symlink("Reel.wav", (root + "/Latest.wav").c_str()) == 0) {
            entries.push_back(root + "/Latest.wav");
            ++links;
        }
    }
};

dev_t DeviceOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_dev : 0;
}

bool IsLink(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// 64 KiB written to a new file and flushed: 0, or the errno of the first failure.
int WriteNewFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return errno;
    const std::string bytes(64 << 10, 'n');
    int failed = 0;
    if (::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) || ::fsync(fd) != 0) failed = errno;
    if (::close(fd) != 0 && failed == 0) failed = errno;
    ::unlink(path.c_str());
    return failed;
}

class TestDrives : public ::testing::TestWithParam<const char*> {};

}  // namespace

// ---------------------------------------------------------------------------
// Drives
// ---------------------------------------------------------------------------

TEST_P(TestDrives, KeepsItsPromisesAndLogsTheDrivesFeatures) {
    const std::string kind = GetParam();
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755);  // colleagues pass through
    std::optional<TestDrive> held(std::in_place, kind, dir.File("drive"));
    TestDrive& drive = *held;
    if (!drive.mounted) GTEST_SKIP() << drive.why;
    const Delivery delivery(drive.at);

    // Two colleagues of one group: one writes in a folder open to all, the other reads it.
    const std::vector<Colleague> two = ColleaguesOfOneGroup(2);
    const std::string shared = drive.at + "/Shared";
    fs::create_directories(shared);
    ::chmod(shared.c_str(), 0777);
    ::chmod(drive.at.c_str(), 0755);
    EXPECT_EQ(RunAsColleague(two[0], [&] { ::_exit(WriteWholeFile(shared + "/Mine.wav", "mine") ? 0 : 1); }), 0)
        << "a colleague could not write on the drive";
    EXPECT_EQ(RunAsColleague(two[1], [&] { ::_exit(ReadWholeFile(shared + "/Mine.wav") == "mine" ? 0 : 1); }), 0)
        << "the other colleague could not read it";

    // chmod -R g+w reaches every entry, or the drive refuses every one.
    const TreeTouch chmodded = ChmodGroupWritable(delivery.root);
    EXPECT_EQ(chmodded.entries, int(delivery.entries.size()));
    EXPECT_EQ(chmodded.links, delivery.links);
    if (chmodded.refused == 0) {
        for (const std::string& e : delivery.entries) {
            struct stat st {};
            ASSERT_EQ(::lstat(e.c_str(), &st), 0) << e;
            if (S_ISLNK(st.st_mode)) continue;
            EXPECT_TRUE(st.st_mode & S_IWGRP) << e;
        }
    } else {
        EXPECT_EQ(chmodded.refused, chmodded.entries - chmodded.links) << chmodded.firstRefusal;
        std::printf("[drives] %s refuses chmod: %s\n", kind.c_str(), chmodded.firstRefusal.c_str());
    }

    // An attribute on every entry but the links, read back; or none anywhere.
    const TreeTouch marked = SetXattrEverywhere(delivery.root, "user.scanned", "clean");
    EXPECT_EQ(marked.entries, int(delivery.entries.size()));
    if (marked.refused == 0) {
        for (const std::string& e : delivery.entries) {
            if (IsLink(e)) continue;
            char value[16] = {};
            EXPECT_EQ(::lgetxattr(e.c_str(), "user.scanned", value, sizeof value), 5) << e;
            EXPECT_STREQ(value, "clean") << e;
        }
    } else {
        EXPECT_EQ(marked.refused, marked.entries - marked.links) << marked.firstRefusal;
        EXPECT_TRUE(marked.firstErrno == ENOTSUP || marked.firstErrno == EOPNOTSUPP) << marked.firstRefusal;
        std::printf("[drives] %s has no extended attributes: %s\n", kind.c_str(), marked.firstRefusal.c_str());
    }

    // Full: a new file's bytes do not fit, and the drive says so as it says
    // it when full; freed: they fit again. The delivery stands throughout.
    ASSERT_TRUE(FillDrive(drive, delivery.root)) << drive.why;
    EXPECT_EQ(WriteNewFile(delivery.root + "/Reel - FX.wav"), DriveFullError(kind));
    FreeDrive(drive);
    EXPECT_EQ(WriteNewFile(delivery.root + "/Reel - FX.wav"), 0) << "the space came back";
    for (const auto& [path, bytes] : delivery.files) EXPECT_EQ(ReadWholeFile(path), bytes) << path;

    // Back under another device number, every byte kept.
    const dev_t before = drive.Device();
    if (kind == "tmpfs") {
        EXPECT_FALSE(RemountElsewhere(drive));
        EXPECT_NE(drive.why.find("tmpfs"), std::string::npos) << drive.why;
    } else {
        ASSERT_TRUE(RemountElsewhere(drive)) << drive.why;
        EXPECT_NE(drive.Device(), before);
        EXPECT_NE(drive.Device(), dev_t(0));
        for (const auto& [path, bytes] : delivery.files) EXPECT_EQ(ReadWholeFile(path), bytes) << path;
        EXPECT_EQ(ReadWholeFile(shared + "/Mine.wav"), "mine");
    }

    std::printf("[drives] %s\n", FeatureLine(kind, ProbeDriveFeatures(drive)).c_str());

    // Nothing left once the record goes: no mount at the folder, no loop
    // device on the image, no driver running.
    const std::string backing = drive.loop.empty() ? "" : "/sys/block/" + drive.loop.substr(5) + "/loop/backing_file";
    const std::string image = drive.image;
    const pid_t driver = drive.daemon ? drive.daemon->pid : -1;
    held.reset();
    EXPECT_EQ(DeviceOf(dir.File("drive")), DeviceOf(dir.path()));
    if (!backing.empty()) {
        EXPECT_EQ(ReadWholeFile(backing).find(image), std::string::npos) << backing;
    }
    if (driver > 0) {
        EXPECT_NE(::kill(driver, 0), 0) << "the FUSE driver still runs";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKind, TestDrives, ::testing::ValuesIn(kDriveKinds),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name;
                             for (const char* c = info.param; *c; ++c) name += std::isalnum(*c) ? *c : '_';
                             return name;
                         });

// ---------------------------------------------------------------------------
// Colleagues
// ---------------------------------------------------------------------------

// Each umask as a colleague works under it: the ids taken, the umask a shell
// reports, and in a group folder the other colleague may write the file
// exactly when the umask left the group its write bit.
TEST(TestDrives, ColleaguesWorkUnderTheirOwnIdsAndUmask) {
    if (::geteuid() != 0) GTEST_SKIP() << "taking other ids needs root, and the tests run as another user here";
    for (const mode_t mask : {mode_t(002), mode_t(022), mode_t(077)}) {
        SCOPED_TRACE(mask);
        const std::vector<Colleague> two = ColleaguesOfOneGroup(2, mask);
        ASSERT_EQ(two.size(), 2u);
        ASSERT_NE(two[0].uid, two[1].uid);
        ASSERT_EQ(two[0].gid, two[1].gid);
        TempDir dir;
        const std::string group = dir.File("Group");
        fs::create_directories(group);
        ::chmod(dir.path().c_str(), 0755);
        ASSERT_EQ(::chown(group.c_str(), 0, two[0].gid), 0);
        ASSERT_EQ(::chmod(group.c_str(), 02770), 0);

        const CommandResult id = RunCommandAs(two[0], {"sh", "-c", "id -u; id -g; id -G; umask"});
        ASSERT_EQ(id.exitCode, 0) << id.err;
        char expected[64];
        std::snprintf(expected, sizeof expected, "%u\n%u\n%u\n%04o\n", unsigned(two[0].uid), unsigned(two[0].gid),
                      unsigned(two[0].gid), unsigned(mask));
        EXPECT_EQ(id.out, expected) << "no group of the test's process is kept";

        const std::string file = group + "/Reel.wav";
        ASSERT_EQ(RunAsColleague(two[0], [&] { ::_exit(WriteWholeFile(file, "first") ? 0 : 1); }), 0);
        struct stat st {};
        ASSERT_EQ(::stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, two[0].uid);
        EXPECT_EQ(st.st_gid, two[0].gid);
        EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
        const bool groupWrites = (mask & S_IWGRP) == 0;
        EXPECT_EQ(RunAsColleague(two[1], [&] { ::_exit(WriteWholeFile(file, "second") ? 0 : 1); }) == 0, groupWrites);
        EXPECT_EQ(ReadWholeFile(file), groupWrites ? "second" : "first");
    }
}

// Someone who is not root gets no drive of any kind, and a sentence why;
// nothing is mounted at the folder. A kind the rig does not know says so.
TEST(TestDrives, NoDriveWithoutRootAndASentenceWhy) {
    if (::geteuid() != 0) GTEST_SKIP() << "taking other ids needs root, and the tests run as another user here";
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    const Colleague someone = ColleaguesOfOneGroup(1)[0];
    std::vector<std::pair<std::string, std::string>> rows;
    for (const char* kind : kDriveKinds) rows.emplace_back(kind, "needs root");
    rows.emplace_back("hfs", "knows no drive");
    for (const auto& [kind, said] : rows) {
        SCOPED_TRACE(kind);
        const std::string at = dir.File(kind);
        const std::string why = dir.File(kind + ".why");
        ASSERT_EQ(RunAsColleague(someone,
                                 [&] {
                                     bool mounted = false;
                                     {
                                         const TestDrive drive(kind, at);
                                         WriteWholeFile(why, drive.why);
                                         mounted = drive.mounted;
                                     }
                                     ::_exit(mounted ? 1 : 0);
                                 }),
                  0);
        EXPECT_NE(ReadWholeFile(why).find(said), std::string::npos) << ReadWholeFile(why);
        EXPECT_EQ(DeviceOf(at), DeviceOf(dir.path()));
    }
}
