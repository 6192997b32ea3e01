// Export folders prepared by someone else: links in place of folders, links
// at the writers' old temporary names, records of interrupted exports (this
// version's and the previous one's) forged to reach out of the folder, and
// another program taking an export's names while it runs. A start and an
// export change nothing outside the folder and no foreign file inside it
// (trees, bytes and modes), and the export is whole or not there at all.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "export/export_folders.h"
#include "export/earlier_version.h"
#include "export/export_manifest.h"
#include "export/export_settling.h"
#include "export/export_replacement.h"
#include "export/replacing_rig.h"
#include "platform/file_util.h"
#include "support/exported_files.h"
#include "support/tree_state.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

bool Yes(const char*, const char*) { return true; }

// Three sourced results; the AAF session, the mixdown, the stems and the clips.
struct HostileRig : ReplacingRig {
    HostileRig() {
        notes = dir.File("data/Exports");
        AddDoorRainKnock(true);
        app->questionDialog = Yes;
    }
};

std::string Record(char tag, const std::string& path) { return std::string(1, tag) + path + std::string(1, '\0'); }

// The files of an export in `folder`: everything but the entries named.
std::map<std::string, std::string> ExportOnly(const std::string& folder, const std::vector<std::string>& foreign) {
    std::map<std::string, std::string> files = ExportedFiles(folder);
    for (auto it = files.begin(); it != files.end();) {
        bool drop = it->first.rfind(kExportMarkPrefix, 0) == 0 || it->first.rfind(kEarlierVersionFolderPrefix, 0) == 0;
        for (const std::string& f : foreign) drop = drop || it->first.rfind(f, 0) == 0;
        it = drop ? files.erase(it) : std::next(it);
    }
    return files;
}

// The entries of `state` below any of `roots`.
std::map<std::string, std::string> Below(const std::map<std::string, std::string>& state,
                                         const std::vector<std::string>& roots) {
    std::map<std::string, std::string> part;
    for (const auto& [path, entry] : state)
        for (const std::string& root : roots)
            if (path == root || path.rfind(root + "/", 0) == 0) part[path] = entry;
    return part;
}

}  // namespace

// Links to a folder outside as a path's first part ("esc") and as a middle
// part ("mid/esc"); records of interrupted exports of this version (one
// marked committed, one not) and of the previous one, forged so that every
// entry, staging folder and holding folder they name lies through those
// links or outside the folder; notes naming them. The start and then an
// export leave everything outside as it was, and every foreign entry inside
// whole; the export in that folder is the export a clean folder gets.
TEST(HostileExportFolder, ForgedRecordsNeverReachOutside) {
    HostileRig rig;
    const std::string out = rig.dir.File("out"), clean = rig.dir.File("clean");
    const std::string priv = rig.dir.File("Private");
    ASSERT_NE(rig.ExportTo(out).find("Export complete"), std::string::npos);  // the earlier export

    PlantFile(priv + "/precious.txt", "the designer's own", 0600);
    PlantFile(priv + "/planted.desktop", "already there", 0644);
    fs::create_directories(priv + "/emptydir");
    PlantFile(out + "/notes.txt", "the designer's notes", 0640);
    fs::create_directory_symlink("../Private", out + "/esc");
    fs::create_directories(out + "/mid");
    fs::create_directory_symlink("../../Private", out + "/mid/esc");
    struct stat precious {};
    ASSERT_EQ(::stat((priv + "/precious.txt").c_str(), &precious), 0);
    // Two records of this version, their folders and entries all outside.
    std::vector<std::string> tokens;
    for (const bool committed : {false, true}) {
        ExportManifest forged;
        forged.token = NewExportToken();
        forged.exportFolder = out;
        forged.committing = true;
        forged.staging = {"esc", "mid/esc", "../Private", "/abs"};
        forged.made = {"esc/emptydir"};
        for (const char* folder : {"esc", "mid/esc", "..", "../Private"}) {
            CommitEntry e;
            e.folder = folder;
            e.name = "precious.txt";
            e.placed = true;
            e.stagedInode = precious.st_ino;
            e.hasEarlier = true;
            e.earlierInode = precious.st_ino;
            forged.entries.push_back(e);
        }
        CommitEntry up;
        up.name = "../Private/precious.txt";
        up.hasEarlier = true;
        forged.entries.push_back(up);
        const std::string control = out + "/" + ControlName(forged.token);
        PlantFile(control + "/" + kManifestFileName, ManifestJson(forged), 0644);
        if (committed) PlantFile(control + "/" + kCommittedFileName, "committed\n", 0644);
        PlantFile(rig.notes + "/" + forged.token + ".json", NoteJson({out, forged.token}), 0600);
        tokens.push_back(forged.token);
    }
    // One of the previous version, its earlier entries listed through the links.
    const std::string earlier = out + "/" + kEarlierVersionFolderPrefix + "0123456789ab";
    PlantFile(earlier + "/manifest",
              "Tessaloom replacement 1\n" + Record('A', "t") + Record('E', "esc/precious.txt") +
                  Record('E', "mid/esc/planted.desktop") + Record('E', "../escape.txt") + Record('L', "") +
                  Record('I', "1 2 -1 0 esc/.tessaloom-0123456789abcdef.tmp"),
              0600);
    PlantFile(priv + "/.tessaloom-earlier-t-0", "waiting outside", 0644);
    PlantFile(priv + "/.tessaloom-0123456789abcdef.tmp", "not a temporary file of ours", 0644);

    const std::vector<std::string> foreignEntries = {"notes.txt", "esc", "mid"};
    const std::map<std::string, std::string> outsideBefore = TreeState(priv);
    const std::map<std::string, std::string> insideBefore = Below(TreeState(out), foreignEntries);

    ExportSettled settled = SettleNotedExports(rig.notes, "");
    EXPECT_EQ(settled.finished + settled.undone, 2);
    EXPECT_EQ(TreeState(priv), outsideBefore);
    EXPECT_EQ(Below(TreeState(out), foreignEntries), insideBefore);
    for (const std::string& token : tokens) EXPECT_FALSE(fs::exists(out + "/" + ControlName(token)));

    rig.engine->masterGain = 0.5f;
    const std::string status = rig.ExportTo(out);
    EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
    EXPECT_EQ(TreeState(priv), outsideBefore);
    EXPECT_EQ(Below(TreeState(out), foreignEntries), insideBefore);
    EXPECT_TRUE(HiddenExportEntries(out).empty());
    std::map<std::string, std::string> exported = ExportOnly(out, foreignEntries);
    for (auto it = exported.begin(); it != exported.end();)
        it = it->first.rfind("Unfinished export, ", 0) == 0 ? exported.erase(it) : std::next(it);
    ASSERT_NE(rig.ExportTo(clean).find("Export complete"), std::string::npos);
    ExpectSameExportFiles(exported, ExportedFiles(clean));
}

// Links at every temporary name a writer uses (the mixdown's, a clip's, an
// essence's and the session's), to files outside: each writer makes its
// temporary file new, the outside files keep their bytes, the links are
// where they were, and the export is whole. A subfolder of the export that
// is a link is never written through: its pass fails the export, nothing
// lands where the link points, and nothing is put in place.
TEST(HostileExportFolder, LinksAtTemporaryNamesAndSubfoldersAreNeverFollowed) {
    HostileRig rig;
    const std::string out = rig.dir.File("out"), clean = rig.dir.File("clean");
    ASSERT_NE(rig.ExportTo(clean).find("Export complete"), std::string::npos);
    const std::map<std::string, std::string> reference = ExportedFiles(clean);

    const std::string outside = rig.dir.File("outside");
    const std::vector<std::string> temporaries = {"Reel.wav.tmp", "Clips/Reel - Knock.wav.tmp",
                                                  "Reel/Audio Files/FX A1_000_Door.wav.tmp", "Reel/Reel.aaf.tmp"};
    ASSERT_TRUE(reference.count("Reel/Audio Files/FX A1_000_Door.wav")) << "the essence name planted is written";
    for (size_t i = 0; i < temporaries.size(); ++i) {
        PlantFile(outside + "/victim" + std::to_string(i), "outside " + std::to_string(i), 0644);
        fs::create_directories(fs::path(out + "/" + temporaries[i]).parent_path());
        fs::create_symlink(outside + "/victim" + std::to_string(i), out + "/" + temporaries[i]);
    }
    const std::map<std::string, std::string> before = TreeState(outside);
    EXPECT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    EXPECT_EQ(TreeState(outside), before) << "no writer followed a link at its temporary name";
    // The links are not the export's: each stays where it was, and the
    // writers made their temporary files under names of their own.
    for (const std::string& t : temporaries) EXPECT_TRUE(fs::is_symlink(out + "/" + t)) << t;
    std::map<std::string, std::string> exported = ExportedFiles(out);
    for (auto it = exported.begin(); it != exported.end();)  // the links, read through by the walk
        it = it->first.rfind("../", 0) == 0 ? exported.erase(it) : std::next(it);
    ExpectSameExportFiles(exported, reference);

    // "Clips" a link to a folder outside.
    const std::string linked = rig.dir.File("linked");
    const std::string elsewhere = rig.dir.File("elsewhere");
    fs::create_directories(elsewhere);
    fs::create_directories(linked);
    fs::create_directory_symlink(elsewhere, linked + "/Clips");
    const std::string status = rig.ExportTo(linked);
    EXPECT_EQ(status.rfind("Export complete", 0), std::string::npos) << status;
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_FALSE(fs::exists(linked + "/Reel.wav")) << "nothing of a failed export is put in place";
}

namespace {

std::string gMovedClips, gOutsideClips;

// Once the clips pass has put its first file in place (its folder is open),
// "Clips" is swapped for a link to a folder outside.
int SwapClipsAtFirstClip(FileFaultPoint point, const std::string& path) {
    if (point != FileFaultPoint::Move || path.find("/Clips/") == std::string::npos || gMovedClips.empty()) return 0;
    const std::string clips = path.substr(0, path.rfind('/'));
    if (::rename(clips.c_str(), gMovedClips.c_str()) == 0) ::symlink(gOutsideClips.c_str(), clips.c_str());
    gMovedClips.clear();
    return 0;
}

// Files of the names the clips pass writes, and a temporary name, outside.
void FillOutside(const std::string& folder) {
    for (const char* name : {"Reel - Door.wav", "Reel - Rain.wav", "Reel - Knock.wav", "Reel - Knock.wav.tmp"})
        PlantFile(folder + "/" + name, std::string("outside: ") + name, 0640);
}

}  // namespace

// "Clips" swapped for a link to a folder outside after its pass opened it,
// once, and by another process that swaps it back and forth while exports
// run: nothing outside changes (tree, bytes, modes) in any run, the pass
// writes into the folder it opened or fails, and the status counts what was
// not written.
TEST(HostileExportFolder, ASubfolderSwappedForALinkChangesNothingOutside) {
    HostileRig rig;
    const std::string out = rig.dir.File("out"), outside = rig.dir.File("outside");
    FillOutside(outside);
    ASSERT_NE(rig.ExportTo(out).find("Export complete"), std::string::npos);
    const std::map<std::string, std::string> outsideBefore = TreeState(outside);

    gMovedClips = out + "/Clips.opened";
    gOutsideClips = outside;
    rig.observer.fileFault = &SwapClipsAtFirstClip;
    rig.engine->masterGain = 0.5f;
    const std::string status = rig.ExportTo(out);
    rig.observer.fileFault = nullptr;
    ASSERT_TRUE(gMovedClips.empty()) << "the swap happened";
    EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
    EXPECT_EQ(TreeState(outside), outsideBefore);
    size_t clips = 0;
    for (const auto& entry : fs::directory_iterator(out + "/Clips.opened"))
        clips += entry.path().extension() == ".wav" ? 1 : 0;
    EXPECT_EQ(clips, 3u) << "every clip went into the folder the pass opened";

    // Swapped continuously by another process while exports run.
    fs::remove(out + "/Clips");
    fs::rename(out + "/Clips.opened", out + "/Clips");
    const std::string real = out + "/Clips.real";
    std::atomic<bool> swapping{true};
    std::thread swapper([&] {
        const std::string clips = out + "/Clips";
        for (unsigned i = 0; swapping.load(); ++i) {
            if (::rename(clips.c_str(), real.c_str()) != 0) continue;
            ::symlink(outside.c_str(), clips.c_str());
            if (i % 8 == 0) std::this_thread::yield();
            ::unlink(clips.c_str());
            ::rename(real.c_str(), clips.c_str());
        }
    });
    int incomplete = 0;
    for (int run = 0; run < 6; ++run) {
        rig.engine->masterGain = 0.3f + 0.1f * float(run);
        const std::string text = rig.ExportTo(out);
        EXPECT_EQ(TreeState(outside), outsideBefore) << "run " << run << ": " << text;
        if (text.rfind("Export complete", 0) != 0) {
            ++incomplete;
            EXPECT_EQ(text.rfind("Export failed", 0), 0u) << text;
            EXPECT_NE(text.find("the earlier export is whole"), std::string::npos) << text;
        }
    }
    swapping.store(false);
    swapper.join();
    std::printf("[Test] %d of 6 exports under the swapping were incomplete\n", incomplete);
    EXPECT_EQ(TreeState(outside), outsideBefore);
}

namespace {

// The entries planted at the names the mixdown and the stems write: links to
// files outside and a named pipe.
void PlantOddEntries(const std::string& out, const std::string& outside) {
    fs::create_directories(out);
    PlantFile(outside + "/target", "a file the links lead to", 0600);
    fs::create_symlink(outside + "/target", out + "/Reel.wav");
    fs::create_symlink(outside + "/target", out + "/Reel - BG.wav");
    fs::create_symlink(outside + "/missing", out + "/Reel - FX A.wav");
    ASSERT_EQ(::mkfifo((out + "/Reel - FX B.wav").c_str(), 0600), 0);
}

std::string gQuestionText;
bool RecordingYes(const char*, const char* text) {
    gQuestionText = text;
    return true;
}

}  // namespace

// Links and a named pipe at names the export writes: the question names each
// with what it is; an export replaces them (never writing through one, never
// opening the pipe), and one stopped in any pass leaves the folder exactly as
// it was, the links and the pipe included.
TEST(HostileExportFolder, LinksAndPipesAtOutputNamesAreAskedAboutAndComeBack) {
    HostileRig rig;
    const std::string out = rig.dir.File("out"), outside = rig.dir.File("outside");
    PlantOddEntries(out, outside);
    const std::map<std::string, std::string> outsideBefore = TreeState(outside);
    const std::map<std::string, std::string> before = TreeState(out);
    rig.app->questionDialog = RecordingYes;

    for (ExportPass pass : {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Clips}) {
        SCOPED_TRACE(int(pass));
        gQuestionText.clear();
        HoldExport(rig.hold, true, pass, 0.5);
        rig.AssignTracks();
        ASSERT_EQ(StartExport(rig.Ctx(), MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")),
                  ExportStart::Started);
        ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(rig.hold); }, std::chrono::minutes(2)));
        StopRunningExport(*rig.app);
        while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(ExportStatusText(*rig.app), "Export stopped — the earlier export is whole");
        EXPECT_NE(gQuestionText.find("(4 items; \xE2\x80\x9CReel.wav\xE2\x80\x9D is a symbolic link"),
                  std::string::npos)
            << gQuestionText;
        EXPECT_NE(gQuestionText.find("\xE2\x80\x9CReel - FX B.wav\xE2\x80\x9D is a named pipe"), std::string::npos)
            << gQuestionText;
        EXPECT_TRUE(WaitUntil([&] { return HiddenExportEntries(out).empty(); }));
        EXPECT_EQ(FirstDifference(TreeState(out), before), "");
        EXPECT_EQ(TreeState(outside), outsideBefore);
    }
    HoldExport(rig.hold, false);

    // Replaced: the export is whole and nothing outside changed.
    EXPECT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    EXPECT_EQ(TreeState(outside), outsideBefore);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Reel.wav")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Reel - FX B.wav")));
}

// Another program writes the mixdown's name while the export runs: the
// export puts nothing in place (its files would stand beside another
// program's, or over it), says which name was taken, and leaves that file
// and every other earlier file as they are; no hidden entry and no note is
// left.
TEST(HostileExportFolder, ANameTakenWhileTheExportRunsKeepsTheEarlierExportWhole) {
    HostileRig rig;
    const std::string out = rig.dir.File("out");
    ASSERT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    std::map<std::string, std::string> earlier = ExportedFiles(out);

    rig.engine->masterGain = 0.5f;
    HoldExport(rig.hold, true, ExportPass::Clips, 0.5);
    rig.AssignTracks();
    ASSERT_EQ(StartExport(rig.Ctx(), MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")),
              ExportStart::Started);
    ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(rig.hold); }, std::chrono::minutes(2)));
    ASSERT_TRUE(fs::remove(out + "/Reel.wav"));
    PlantFile(out + "/Reel.wav", "another program's mixdown", 0644);
    HoldExport(rig.hold, false);
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string status = ExportStatusText(*rig.app);
    EXPECT_EQ(status.rfind("Export failed at the commit — another program put “Reel.wav” there while the export ran", 0),
              0u)
        << status;
    EXPECT_NE(rig.app->toastText.find("the earlier export is whole"), std::string::npos) << rig.app->toastText;
    EXPECT_EQ(ReadWholeFile(out + "/Reel.wav"), "another program's mixdown");
    earlier.erase("Reel.wav");
    std::map<std::string, std::string> after = ExportedFiles(out);
    after.erase("Reel.wav");
    EXPECT_EQ(after, earlier);
    EXPECT_TRUE(HiddenExportEntries(out).empty());
    EXPECT_TRUE(!fs::exists(rig.notes) || fs::is_empty(rig.notes));
}

// Another program holds the export folder (its lock on the folder): an
// export into it waits, says why, writes nothing meanwhile, and is stopped
// like any export; once the folder is free, an export runs.
TEST(HostileExportFolder, AnExportWaitsForTheFolderAndCanBeStoppedWhileItWaits) {
    HostileRig rig;
    const std::string out = rig.dir.File("out");
    fs::create_directories(out);
    const int other = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    const std::map<std::string, std::string> before = TreeState(out);

    rig.AssignTracks();
    ASSERT_EQ(StartExport(rig.Ctx(), MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")),
              ExportStart::Started);
    ASSERT_TRUE(WaitUntil([&] { return ExportStatusText(*rig.app) == kWaitingForFolderText; }));
    EXPECT_EQ(TreeState(out), before);
    StopRunningExport(*rig.app);
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(ExportStatusText(*rig.app), "Export stopped — nothing was written");
    EXPECT_EQ(TreeState(out), before);

    ::close(other);
    EXPECT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
}
