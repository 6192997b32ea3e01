// The export on the drives designers deliver to (ext4, ext2 of 128-byte
// inodes, xfs, btrfs, tmpfs, and NTFS, FAT32 and exFAT through FUSE), each
// mounted once: a kill in a pass and at the commit, each followed by a
// chmod -R g+w, an attribute on every entry and a remount under another
// device number, then a start; a stop of a program being ended; a full
// disk; and a whole export. The earlier export stands whole, byte for byte,
// with nothing hidden, until an export is whole; then the folder holds the
// new export file for file. And two colleagues of one group folder.
//
// Index
//   DriveRig      a small project exported in children onto a mounted drive
//   EveryDrive    the rounds above on each kind (each pass met on some kind)
//   GroupFolder   one colleague's export killed after the other's, settled by the other's next export
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/replacing_rig.h"
#include "operations/export_job.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/scoped_environment.h"
#include "support/test_drives.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// DriveRig
// ---------------------------------------------------------------------------

std::string gMarker;  // made by a child held in a pass, waiting for its kill
std::string gStopFolder;
ExportPass gPass = ExportPass::Clips;
std::atomic<bool>* gStop = nullptr;

bool OfPass(ExportPass pass, const std::string& path) {
    const std::string name = fs::path(path).filename().string();
    const std::string folder = fs::path(path).parent_path().filename().string();
    switch (pass) {
        case ExportPass::Aaf: return path.find("/Audio Files/") != std::string::npos;
        case ExportPass::Mixdown: return name == "Reel.wav";
        case ExportPass::Stems: return name.rfind("Reel - ", 0) == 0 && folder != "Clips";
        default: return folder == "Clips";
    }
}

// In a child: the first file of the pass stops on its way into its staging
// folder and waits for the kill; or, with gStop, the export is stopped there.
int AtFirstFileOfPass(FileFaultPoint point, const std::string& path) {
    if (point != FileFaultPoint::Move || !OfPass(gPass, path)) return 0;
    if (gStop) {
        gStop->store(true);
        return 0;
    }
    HoldUntilKilled(gMarker);
}

// The regular files of an export (its session, WAVs and clips) by path.
std::map<std::string, std::string> Files(const std::string& root) {
    std::map<std::string, std::string> files = Snapshot(root);
    for (auto it = files.begin(); it != files.end();)
        it = it->first.rfind("lost+found", 0) == 0 ? files.erase(it) : std::next(it);
    return files;
}

struct DriveRig : ChildExportRig {
    // A re-export killed at the first file of `pass`; whether it got there.
    bool KillInPass(const std::string& folder, ExportPass pass) {
        gMarker = dir.File("held");
        fs::remove(gMarker);
        ChildProcess child([this, folder, pass] {
            Change();
            gPass = pass;
            observer.fileFault = &AtFirstFileOfPass;
            Run(folder);
            ::_exit(3);
        });
        const bool held = WaitForHold(child, gMarker);
        ::kill(child.pid, SIGKILL);
        child.Wait();
        return held;
    }
};

const char* PassName(ExportPass p) {
    switch (p) {
        case ExportPass::Aaf: return "AAF";
        case ExportPass::Mixdown: return "mixdown";
        case ExportPass::Stems: return "stems";
        default: return "clips";
    }
}

class ExportOnDrives : public ::testing::TestWithParam<const char*> {};

}  // namespace

// ---------------------------------------------------------------------------
// EveryDrive
// ---------------------------------------------------------------------------

TEST_P(ExportOnDrives, TheEarlierExportStaysWholeUntilTheNewOneIsWhole) {
    const std::string kind = GetParam();
    DriveRig rig;
    TestDrive drive(kind, rig.dir.File("drive"));
    if (!drive.mounted) GTEST_SKIP() << drive.why;
    const std::string out = drive.at + "/Delivery", fresh = rig.dir.File("fresh");
    ASSERT_EQ(rig.ExportInChild(out, false), 0) << "an export onto " << kind;
    const std::map<std::string, std::string> earlier = Files(out);
    std::string names;
    for (const auto& [path, bytes] : earlier) names += path + "; ";
    ASSERT_GE(earlier.size(), 10u) << names;
    ASSERT_EQ(rig.ExportInChild(fresh, true), 0);
    const std::map<std::string, std::string> changed = ExportedFiles(fresh);

    // What colleagues, tools and a re-plug do, then the next start.
    auto touchAndStart = [&](const std::string& what) {
        SCOPED_TRACE(what);
        ChmodGroupWritable(out);
        SetXattrEverywhere(out);
        if (!RemountElsewhere(drive)) std::printf("[Test] %s: no remount (%s)\n", kind.c_str(), drive.why.c_str());
        ASSERT_TRUE(drive.mounted) << drive.why;
        ASSERT_EQ(rig.StartInChild(), 0);
        EXPECT_EQ(Files(out), earlier) << "the earlier export, byte for byte";
        EXPECT_TRUE(HiddenBelow(out).empty());
        EXPECT_TRUE(!fs::exists(rig.NotesFolder()) || fs::is_empty(rig.NotesFolder()));
    };
    // A kill in a pass: each kind meets one pass, and every pass is met.
    const ExportPass passes[] = {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Clips};
    size_t index = 0;
    while (kDriveKinds[index] != kind) ++index;
    const ExportPass killed = passes[index % 4], stopped = passes[(index + 2) % 4];
    ASSERT_TRUE(rig.KillInPass(out, killed)) << "the export never reached the " << PassName(killed);
    touchAndStart(std::string("killed in the ") + PassName(killed));
    // A kill half-way through the commit's moves.
    ASSERT_EQ(rig.ExportInChild(out, true, "place Reel - FX A.wav"), -SIGKILL);
    touchAndStart("killed in the commit");

    // Stopped while the program is being ended (a signal): its files go in a
    // process of their own.
    rig.Change();
    rig.app->exportEnding.store(true);
    gPass = stopped;
    gStop = &rig.app->exportCancel;
    rig.observer.fileFault = &AtFirstFileOfPass;
    ASSERT_EQ(rig.Run(out), ExportStart::Started);
    rig.observer.fileFault = nullptr;
    gStop = nullptr;
    rig.app->exportEnding.store(false);
    rig.app->exportCancel.store(false);
    EXPECT_EQ(ExportStatusText(*rig.app), "Export stopped \xE2\x80\x94 the earlier export is whole") << PassName(stopped);
    EXPECT_TRUE(WaitUntil([&] { return HiddenBelow(out).empty(); }));
    EXPECT_EQ(Files(out), earlier);

    // A full disk.
    if (FillDrive(drive, drive.at)) {
        ASSERT_EQ(rig.Run(out), ExportStart::Started);
        const std::string status = ExportStatusText(*rig.app);
        EXPECT_EQ(status.rfind("Export failed", 0), 0u) << status;
        EXPECT_NE(rig.app->toastText.find("; the earlier export is whole"), std::string::npos) << rig.app->toastText;
        if (DriveFullError(kind) == ENOSPC) {
            EXPECT_NE(status.find(" is full ("), std::string::npos) << status;
        }
        FreeDrive(drive);
        EXPECT_EQ(Files(out), earlier);
        const std::vector<std::string> hidden = HiddenBelow(out);
        EXPECT_TRUE(hidden.empty()) << hidden.front();
    } else {
        std::printf("[Test] %s: not filled (%s)\n", kind.c_str(), drive.why.c_str());
    }

    // Whole at last: the new export, file for file.
    ASSERT_EQ(rig.Run(out), ExportStart::Started);
    EXPECT_EQ(ExportStatusText(*rig.app).rfind("Export complete", 0), 0u) << ExportStatusText(*rig.app);
    std::map<std::string, std::string> now = ExportedFiles(out);
    for (auto it = now.begin(); it != now.end();)
        it = it->first.rfind("lost+found", 0) == 0 ? now.erase(it) : std::next(it);
    ExpectSameExportFiles(now, changed);
    EXPECT_TRUE(HiddenBelow(out).empty());
}

INSTANTIATE_TEST_SUITE_P(EveryKind, ExportOnDrives,
                         ::testing::Values("ext4", "ext2", "xfs", "btrfs", "tmpfs", "ntfs", "fat32", "exfat"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// ---------------------------------------------------------------------------
// GroupFolder
// ---------------------------------------------------------------------------

// Two colleagues of one group, each under umask 002, export into one group
// folder: the first's export, then the second's killed half-way through its
// commit. The first's next export settles the second's (everything it made
// is the group's to move) and completes; the second's next start finds
// nothing left to do; nothing is hidden and no note stays.
TEST(ExportOnDrives, AGroupFolderIsSettledByEitherColleague) {
    if (::geteuid() != 0) GTEST_SKIP() << "taking other ids needs root, and the tests run as another user here";
    DriveRig rig;
    const std::vector<Colleague> two = ColleaguesOfOneGroup(2, 002);
    const std::string shared = rig.dir.File("shared"), out = shared + "/Delivery";
    fs::create_directories(out);
    ASSERT_EQ(::chown(out.c_str(), 0, two[0].gid), 0);
    ASSERT_EQ(::chmod(out.c_str(), 02775), 0);
    // Everyone reaches the rig's sound files; each has a data folder of their own.
    for (const auto& entry : fs::recursive_directory_iterator(rig.dir.path()))
        ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
    ::chmod(rig.dir.path().c_str(), 0755);
    auto exportAs = [&](const Colleague& who, const std::string& data, bool changed, const std::string& killAt) {
        return RunAsColleague(who, [&, data, changed, killAt] {
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            rig.notes = data + "/Tessaloom/Exports";
            if (changed) rig.Change();
            gKillAtStep = killAt;
            ::_exit(rig.Run(out) == ExportStart::Started && ExportStatusText(*rig.app).rfind("Export complete", 0) == 0
                        ? 0
                        : 1);
        });
    };
    const std::string dataA = rig.dir.File("dataA"), dataB = rig.dir.File("dataB");
    for (const std::string& data : {dataA, dataB}) {
        fs::create_directories(data);
        ::chmod(data.c_str(), 0777);
    }
    ASSERT_EQ(exportAs(two[0], dataA, false, ""), 0);
    struct stat st {};
    ASSERT_EQ(::stat((out + "/Reel.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0664u) << "the umask decides";
    ASSERT_EQ(exportAs(two[1], dataB, true, "place Reel - FX A.wav"), -SIGKILL);
    ASSERT_FALSE(HiddenBelow(out).empty());
    ASSERT_EQ(exportAs(two[0], dataA, true, ""), 0) << "the first colleague's next export";
    EXPECT_TRUE(HiddenBelow(out).empty());
    const int start = RunAsColleague(two[1], [&] {
        AppState app;
        SettleInterruptedExports(app, dataB + "/Tessaloom/Exports", "");
        std::error_code ec;
        ::_exit(fs::exists(dataB + "/Tessaloom/Exports") && fs::is_empty(dataB + "/Tessaloom/Exports", ec) ? 0 : 1);
    });
    EXPECT_EQ(start, 0) << "the second colleague's note goes at its next start";
    EXPECT_TRUE(HiddenBelow(out).empty());
}
