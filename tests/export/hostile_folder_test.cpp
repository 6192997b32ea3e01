// Export folders prepared by someone else: links in place of folders, links
// at the writers' temporary names, hidden replacing folders the program never
// made, and a replacement of the program's own whose manifest was rewritten
// to reach out of the folder. A start and an export change nothing outside
// the folder and no foreign file inside it (trees, bytes and modes), and the
// export is whole.
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
#include "export/export_replacement.h"
#include "export/replacement_journal.h"
#include "export/replacement_records.h"
#include "export/replacement_settling.h"
#include "export/replacement_trash.h"
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
        notes = dir.File("data/Replacing");
        AddDoorRainKnock(true);
        app->questionDialog = Yes;
    }
};

std::string Record(char tag, const std::string& path) { return std::string(1, tag) + path + std::string(1, '\0'); }

// The files of an export in `folder`: everything but the entries named.
std::map<std::string, std::string> ExportOnly(const std::string& folder, const std::vector<std::string>& foreign) {
    std::map<std::string, std::string> files = ExportedFiles(folder);
    for (auto it = files.begin(); it != files.end();) {
        bool drop = it->first.rfind(kReplacingFolderPrefix, 0) == 0;
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

// Links to a folder outside as a path's first part ("esc"), as a middle part
// ("mid/esc") and as a hidden replacing folder itself; two replacements the
// program noted (one to undo, one the export had kept) whose manifests name,
// in records of every kind, places through those links, outside the folder
// and a foreign file inside it; the trash of a stopped export holding links
// to a file and a folder outside; and a hidden replacing folder no note
// names, whose manifest names the designer's notes. The start and then an
// export leave all of it as it was, and the export in that folder is the
// export a clean folder gets.
TEST(HostileExportFolder, NothingOutsideAndNoForeignFileInsideChanges) {
    HostileRig rig;
    const std::string out = rig.dir.File("out"), clean = rig.dir.File("clean");
    const std::string priv = rig.dir.File("Private");
    ASSERT_NE(rig.ExportTo(out).find("Export complete"), std::string::npos);  // the earlier export

    // What lies outside, with modes of its own.
    PlantFile(priv + "/precious.txt", "the designer's own", 0600);
    PlantFile(priv + "/tmpvictim.tmp", "not a temporary file of ours", 0640);
    PlantFile(priv + "/planted.desktop", "already there", 0644);
    fs::create_directories(priv + "/emptydir");
    ::chmod((priv + "/emptydir").c_str(), 0750);
    PlantFile(priv + "/manifest", "Tessaloom replacement 1\n" + Record('L', "") + Record('N', "precious.txt"), 0644);
    PlantFile(priv + "/0", "waiting outside", 0644);
    // And inside: the designer's notes, the links, a folder of another program.
    PlantFile(out + "/notes.txt", "the designer's notes", 0640);
    fs::create_directory_symlink("../Private", out + "/esc");
    fs::create_directories(out + "/mid");
    fs::create_directory_symlink("../../Private", out + "/mid/esc");
    const std::string linked = out + "/" + kReplacingFolderPrefix + "linked";
    fs::create_directory_symlink("../Private", linked);
    const std::string foreign = out + "/" + kReplacingFolderPrefix + "foreign";
    PlantFile(foreign + "/manifest",
          "Tessaloom replacement 1\n" + Record('E', "Reel.wav") + Record('L', "") + Record('N', "notes.txt") +
              Record('N', "Reel.wav") + Record('D', "mid"),
          0600);
    PlantFile(foreign + "/0", "another program's earlier file", 0600);

    // A replacement of the program's own, killed, its manifest then rewritten.
    ExportSetAside aside = SetAsideFiles({out + "/Reel.wav"}, out, rig.notes);
    ASSERT_EQ(aside.moved.size(), 1u);
    const std::string own = aside.folder;
    aside.finished = true;  // killed: nothing of the pass's own finish runs
    aside.journal.reset();
    std::string manifest = ReadWholeFile(own + "/manifest");
    // More earlier entries listed after the mixdown (its identities kept).
    const size_t at = manifest.find(Record('L', ""));
    ASSERT_NE(at, std::string::npos);
    manifest = manifest.substr(0, at) + Record('E', "esc/planted.desktop") +
               Record('E', "mid/esc/new/sub/dir/planted") + Record('E', "../escape.txt") + manifest.substr(at) +
               Record('N', "esc/precious.txt") + Record('N', "mid/esc/precious.txt") + Record('N', "notes.txt") +
               Record('N', priv + "/precious.txt") + Record('T', "esc/tmpvictim") + Record('D', "esc/emptydir") +
               Record('D', "mid/esc/emptydir") + Record('D', "mid");
    ASSERT_TRUE(WriteWholeFile(own + "/manifest", manifest));
    for (int i = 1; i <= 3; ++i) PlantFile(own + "/" + std::to_string(i), "a stranger's bytes", 0755);
    // One the export had kept (C), its earlier file waiting to go, with the
    // same records through the links.
    const std::string clip = out + "/Clips/Reel - Door.wav";
    ASSERT_TRUE(fs::is_regular_file(clip));
    ExportSetAside kept = SetAsideFiles({clip}, out, rig.notes);
    ASSERT_EQ(kept.moved.size(), 1u);
    kept.finished = true;
    kept.journal.reset();
    std::string keptManifest = ReadWholeFile(kept.folder + "/manifest");
    keptManifest += Record('N', "esc/precious.txt") + Record('T', "mid/esc/tmpvictim") + Record('D', "esc/emptydir") +
                    Record('C', "");
    ASSERT_TRUE(WriteWholeFile(kept.folder + "/manifest", keptManifest));
    PlantFile(kept.folder + "/1", "a stranger's bytes", 0644);
    // The trash of a stopped export (X: everything in it goes), left by a
    // kill, with links planted in it to a file and a folder outside.
    std::string trashName;
    {
        std::unique_ptr<ReplacementTrash> trash = OpenReplacementTrash(out, rig.notes);
        ASSERT_TRUE(trash);
        trashName = trash->name;
    }
    fs::create_symlink(priv + "/precious.txt", out + "/" + trashName + "/0");
    fs::create_directory_symlink(priv + "/emptydir", out + "/" + trashName + "/1");
    // A note naming the link as if it were a replacing folder of the program's.
    struct stat outStat {};
    ASSERT_EQ(::stat(out.c_str(), &outStat), 0);
    PlantFile(rig.notes + "/0123456789abcdef.replacing",
          linked + "\ntoken 00\nexport " + std::to_string(outStat.st_dev) + " " + std::to_string(outStat.st_ino) + "\n",
          0600);

    const std::vector<std::string> foreignEntries = {"notes.txt", "esc", "mid", FileNameOf(linked), FileNameOf(foreign)};
    const std::map<std::string, std::string> outsideBefore = TreeState(priv);
    const std::map<std::string, std::string> insideBefore = Below(TreeState(out), foreignEntries);
    ASSERT_EQ(insideBefore.count("esc"), 1u);

    // The start: the note of the program's own replacement is the only one acted on.
    SettleNotedReplacements(rig.notes);
    EXPECT_TRUE(fs::is_regular_file(out + "/Reel.wav")) << "the earlier mixdown is back under its name";
    EXPECT_EQ(TreeState(priv), outsideBefore);
    EXPECT_EQ(Below(TreeState(out), foreignEntries), insideBefore);
    // What waits behind a link (two entries of the own replacement, and the
    // note whose folder is a link) is tried again by a later start.
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.notes), fs::directory_iterator()), 2);
    EXPECT_EQ(ReadWholeFile(own + "/1"), "a stranger's bytes") << "a record through a link is refused";
    EXPECT_FALSE(fs::exists(clip)) << "the kept replacement is finished: its earlier file is gone";
    EXPECT_FALSE(fs::exists(fs::symlink_status(out + "/" + trashName))) << "the trash is emptied, links and all";

    // A changed project exported into the folder, and into a clean one.
    rig.engine->masterGain = 0.5f;
    const std::string status = rig.ExportTo(out);
    EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
    EXPECT_NE(status.find("hidden replacing folders of another export left as found"), std::string::npos) << status;
    EXPECT_EQ(TreeState(priv), outsideBefore);
    EXPECT_EQ(Below(TreeState(out), foreignEntries), insideBefore);
    const std::map<std::string, std::string> exported = ExportOnly(out, foreignEntries);
    ASSERT_NE(rig.ExportTo(clean).find("Export complete"), std::string::npos);
    ExpectSameExportFiles(exported, ExportedFiles(clean));
}

// Links at every temporary name a writer uses (the mixdown's, a clip's, an
// essence's and the session's), to files outside: each writer makes its
// temporary file new, the outside files keep their bytes, the links are
// where they were, and the export is whole. A subfolder of the export that is a link is never written through:
// its pass fails and nothing lands where the link points.
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
    EXPECT_TRUE(fs::is_regular_file(linked + "/Reel.wav")) << "the other passes wrote their files";
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
            EXPECT_NE(text.find(" not written"), std::string::npos) << text;
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
        EXPECT_EQ(ExportStatusText(*rig.app), "Export stopped");
        EXPECT_NE(gQuestionText.find("(4 items; \xE2\x80\x9CReel.wav\xE2\x80\x9D is a symbolic link"),
                  std::string::npos)
            << gQuestionText;
        EXPECT_NE(gQuestionText.find("\xE2\x80\x9CReel - FX B.wav\xE2\x80\x9D is a named pipe"), std::string::npos)
            << gQuestionText;
        EXPECT_TRUE(WaitUntil([&] { return HiddenReplacingFolders(out).empty(); }));
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

// A stop whose earlier file cannot go back (another program wrote its name
// meanwhile) says so, with the count and where the file waits, and keeps the
// note; the next start tries again and, once the name is free, puts it back.
TEST(HostileExportFolder, AnEarlierFileThatCannotGoBackIsSaidAndTriedAgain) {
    HostileRig rig;
    const std::string out = rig.dir.File("out");
    ASSERT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    const std::map<std::string, std::string> earlier = ExportedFiles(out);

    rig.engine->masterGain = 0.5f;
    HoldExport(rig.hold, true, ExportPass::Clips, 0.5);
    rig.AssignTracks();
    ASSERT_EQ(StartExport(rig.Ctx(), MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")),
              ExportStart::Started);
    ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(rig.hold); }, std::chrono::minutes(2)));
    // Another program writes the mixdown's name while the export holds.
    ASSERT_TRUE(fs::remove(out + "/Reel.wav"));
    PlantFile(out + "/Reel.wav", "another program's mixdown", 0644);
    StopRunningExport(*rig.app);
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::vector<std::string> waiting = HiddenReplacingFolders(out);
    ASSERT_EQ(waiting.size(), 1u) << "the record stays with the entry it names";
    // The earlier mixdown waits beside the other program's, under its hidden name.
    std::string waitsAs;
    for (const fs::directory_entry& e : fs::directory_iterator(out))
        if (e.path().filename().string().rfind(kAsidePrefix, 0) == 0) waitsAs = e.path().string();
    ASSERT_FALSE(waitsAs.empty());
    EXPECT_EQ(ExportStatusText(*rig.app).substr(0, 127),
              ("Export stopped \xE2\x80\x94 1 earlier file could not be put back; it is in " + waitsAs +
               "; 1 file was another program's and was left in place")
                  .substr(0, 127));
    EXPECT_EQ(ReadWholeFile(out + "/Reel.wav"), "another program's mixdown");
    EXPECT_EQ(std::distance(fs::directory_iterator(rig.notes), fs::directory_iterator()), 1)
        << "the note stays for the next start";

    SettleNotedReplacements(rig.notes);  // still taken: it waits on
    EXPECT_EQ(HiddenReplacingFolders(out), waiting);
    EXPECT_FALSE(fs::is_empty(rig.notes));
    fs::remove(out + "/Reel.wav");
    SettleNotedReplacements(rig.notes);  // free now: it goes back
    EXPECT_TRUE(HiddenReplacingFolders(out).empty());
    EXPECT_TRUE(fs::is_empty(rig.notes));
    EXPECT_EQ(ExportedFiles(out), earlier);
}

// A record refused by every step that meets it (the temporary file's removal
// after a kill, and the file's own) is logged and counted once.
TEST(HostileExportFolder, ARefusedRecordIsCountedOnce) {
    TempDir dir;
    const std::string out = dir.File("out"), outside = dir.File("outside");
    fs::create_directories(out);
    PlantFile(outside + "/precious.wav", "outside", 0644);
    PlantFile(outside + "/precious.wav.tmp", "outside", 0644);
    fs::create_directory_symlink(outside, out + "/esc");
    const int exportFd = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(exportFd, 0);
    ReplacementRecord record;
    record.made.push_back({'N', "esc/precious.wav"});
    const ReplacementSettled settled = replacement::SettleRecord(exportFd, -1, record, false, out, true);
    ::close(exportFd);
    EXPECT_EQ(settled.refused, 1);
    EXPECT_EQ(ReadWholeFile(outside + "/precious.wav"), "outside");
    EXPECT_EQ(ReadWholeFile(outside + "/precious.wav.tmp"), "outside");
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
    EXPECT_EQ(ExportStatusText(*rig.app), "Export stopped");
    EXPECT_EQ(TreeState(out), before);

    ::close(other);
    EXPECT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
}
