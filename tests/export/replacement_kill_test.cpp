// A re-export killed (SIGKILL) while it replaces an earlier export, with the
// earlier session's files in the replacing folder and new ones half written:
// the start-up routine, in a process of its own, and the next export to the
// folder each bring the earlier export back whole under its names and remove
// the new partial files. And what settling makes of manifests in every other
// state a kill can leave.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "export/export_folders.h"
#include "export/bwf_writer.h"
#include "export/export_replacement.h"
#include "export/replacement_journal.h"
#include "export/replacement_record.h"
#include "export/replacement_settling.h"
#include "export/replacement_trash.h"
#include "export/replacing_rig.h"
#include "platform/file_util.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

constexpr int kResults = 150;
constexpr int kBlockAtEssence = 40;

std::vector<std::string> NamesOf(const std::map<std::string, std::string>& files) {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : files) names.push_back(name);
    return names;
}

// The earlier entries set aside in `folder` (they wait where they stood).
size_t EarlierEntriesIn(const std::string& folder) {
    size_t n = 0;
    for (auto it = fs::directory_iterator(folder); it != fs::directory_iterator(); ++it)
        n += it->path().filename().string().rfind(kAsidePrefix, 0) == 0 ? 1 : 0;
    return n;
}

// Tells the record of the file now at `path`, as a held folder tells it of
// each file the pass puts in place.
void NoteInPlace(const ExportSetAside& aside, const std::string& path) {
    FileIdentity id;
    ASSERT_TRUE(IdentityAt(AT_FDCWD, path, &id));
    aside.IdentityNoter()(path, id);
}

std::string gBlockMarker;
std::atomic<int> gEssenceMoves{0};

// In the exporting child: the 40th new essence file stops on its way into
// place (its temporary file written, 39 others in place) and waits for the kill.
int BlockAtAnEssence(FileFaultPoint point, const std::string& path) {
    if (point != FileFaultPoint::Move || path.find("/Audio Files/") == std::string::npos) return 0;
    if (++gEssenceMoves < kBlockAtEssence) return 0;
    HoldUntilKilled(gBlockMarker);
}

bool Yes(const char*, const char*) { return true; }
int gQuestions = 0;
std::string gQuestion;
bool No(const char*, const char* text) {
    ++gQuestions;
    gQuestion = text;
    return false;
}

// 150 short sourced results (150 essence files), the mixdown and the clips,
// with the user folders in the rig's folder. Every export runs in a child
// process, so that the test's own process starts no worker before it forks.
struct KillRig : ReplacingRig {
    ScopedEnvironment env;

    KillRig() {
        env.UnsetUserFolderVariables();
        env.Set("XDG_DATA_HOME", dir.File("data"));
        onCallingThread = true;
        app->exportSettings.exportWavStems = false;
        engine->reverb.enabled = 0;
        project->totalDuration = 8.0f;
        const std::string src = Source("short.wav", 0.5);
        for (int i = 0; i < kResults; ++i)
            AddSourced(src, 0.1f, 0.2f, 0.05f * float(i), "layer " + std::to_string(i), false, i % 3, i % 4);
        AssignTracks();
    }

    ExportStart Start(bool (*answer)(const char*, const char*)) {
        app->questionDialog = answer;
        return Run(Out());
    }

    // Starts a re-export of a changed project in a child that stops half-way
    // through the AAF step, kills it there, and returns the replacing folder.
    std::string KillHalfWay() {
        gBlockMarker = dir.File("blocked");
        fs::remove(gBlockMarker);
        ChildProcess child([this] {
            for (RenderResult& r : project->results) r.name = "take " + r.name.substr(6);
            engine->masterGain = 0.5f;
            observer.fileFault = &BlockAtAnEssence;
            Start(&Yes);
            ::_exit(3);  // not blocked: the kill came too late
        });
        EXPECT_TRUE(WaitForHold(child, gBlockMarker)) << "the export never reached its 40th new essence file";
        const std::vector<std::string> replacing = HiddenReplacingFolders(Out());
        EXPECT_EQ(replacing.size(), 1u);
        EXPECT_GE(EarlierEntriesIn(SessionFolder() + "/Audio Files"), 100u) << "set aside where they stood";
        ::kill(child.pid, SIGKILL);
        EXPECT_EQ(child.Wait(), -SIGKILL);
        return replacing.empty() ? std::string() : replacing[0];
    }
};

}  // namespace

TEST(ExportReplacementKilled, TheNextStartAndTheNextExportBringTheEarlierExportBackWhole) {
    KillRig rig;
    ASSERT_EQ(RunInChild([&rig] { ::_exit(rig.Start(&Yes) == ExportStart::Started ? 0 : 1); }), 0);
    const std::map<std::string, std::string> earlier = Snapshot(rig.Out());
    ASSERT_EQ(earlier.size(), size_t(2 * kResults + 2));  // essences, clips, session, mixdown

    // Killed with the earlier session set aside and 39 new essence files in
    // place: the folder is neither export. The start-up routine, in a process
    // of its own, puts the earlier export back and clears its note.
    const std::string replacing = rig.KillHalfWay();
    EXPECT_NE(Snapshot(rig.Out()), earlier);
    EXPECT_EQ(rig.Notes().size(), 1u) << "noted as in progress in the data folder";
    ASSERT_EQ(RunInChild([] { SettleInterruptedExports(); }), 0);
    EXPECT_EQ(Snapshot(rig.Out()), earlier);
    EXPECT_FALSE(fs::exists(replacing));
    EXPECT_TRUE(rig.Notes().empty());

    // Killed again; this time the next export to the folder finds it first,
    // and asks about the earlier export whole (declined: nothing else runs).
    rig.KillHalfWay();
    gQuestions = 0;
    EXPECT_EQ(rig.Start(&No), ExportStart::Declined);
    EXPECT_EQ(gQuestions, 1);
    EXPECT_NE(gQuestion.find("(" + std::to_string(earlier.size()) + " items)"), std::string::npos) << gQuestion;
    EXPECT_EQ(Snapshot(rig.Out()), earlier);
    EXPECT_TRUE(rig.Notes().empty());
}

// The states a kill can leave besides the one above: after the pass noted
// its success (the replacement is finished: the earlier files the program
// wrote go, another program's comes back, the new files stay); before that
// (undone, down to the folder the pass made and the temporary file it left
// beside a file it had not set aside), also when the pass had failed and was
// putting the earlier files back; with the manifest torn before any
// file moved (the folder goes); a folder without a manifest, which is left
// as it is; and a manifest that names files outside its export folder.
TEST(ExportReplacementKilled, SettlingFinishesOrUndoesByWhatTheManifestSays) {
    enum Stage { Succeeded, Writing, PuttingBack };
    for (Stage stage : {Succeeded, Writing, PuttingBack}) {
        SCOPED_TRACE(stage == Succeeded ? "succeeded" : stage == Writing ? "writing" : "putting back");
        const bool succeeded = stage == Succeeded;
        TempDir dir;
        const std::string out = dir.File("out"), notes = dir.File("notes");
        fs::create_directories(out + "/Clips");
        const std::vector<float> one(100, 0.1f);
        auto own = [&](const std::string& name, float level) {
            const std::vector<float> samples(100, level);
            ASSERT_TRUE(WriteBWFStereo(out + "/" + name, samples.data(), samples.data(), 100, kRigRate, 0, nullptr));
        };
        own("Reel.wav", 0.1f);
        own("Clips/Reel - A.wav", 0.2f);
        ASSERT_TRUE(WriteSamples(out + "/Clips/Reel - B.wav", one, 1, kRigRate));  // another program's
        ASSERT_TRUE(WriteSamples(out + "/Clips/Reel - E.wav", one, 1, kRigRate));  // not set aside
        const std::map<std::string, std::string> before = Snapshot(out);

        ExportSetAside aside =
            SetAsideFiles({out + "/Reel.wav", out + "/Clips/Reel - A.wav", out + "/Clips/Reel - B.wav"}, out, notes);
        ASSERT_EQ(aside.moved.size(), 3u);
        auto announce = aside.Announcer();
        ASSERT_TRUE(announce);
        announce(out + "/Reel.wav", false);
        own("Reel.wav", 0.5f);
        NoteInPlace(aside, out + "/Reel.wav");
        announce(out + "/Clips/Reel - D.wav", false);
        own("Clips/Reel - D.wav", 0.6f);
        NoteInPlace(aside, out + "/Clips/Reel - D.wav");
        announce(out + "/Tracks", true);
        fs::create_directories(out + "/Tracks");
        // Begun beside a file the pass had not set aside (under a name of
        // its own), then killed: the temporary file goes either way.
        announce(out + "/Clips/Reel - E.wav", false);
        const std::string tmp = NewTemporaryPathFor(out + "/Clips/Reel - E.wav");
        ASSERT_TRUE(WriteWholeFile(tmp, "half"));
        FileIdentity began;
        ASSERT_TRUE(IdentityAt(AT_FDCWD, tmp, &began));
        began.size = -1;
        aside.IdentityNoter()(tmp, began);
        {
            std::FILE* f = std::fopen(tmp.c_str(), "ab");
            ASSERT_TRUE(f);
            std::fputs(" written", f);
            std::fclose(f);
        }
        if (succeeded) NoteSucceeded(*aside.journal);
        const std::map<std::string, std::string> made = Snapshot(out);
        if (stage == PuttingBack) {  // failed: its rollback ran, and the first earlier file is back
            fs::remove(out + "/Reel.wav");
            fs::rename(aside.moved[0].second, out + "/Reel.wav");
        }
        aside.finished = true;  // killed: nothing of the pass's own finish runs
        const std::string folder = aside.folder;
        announce = nullptr;  // the program is gone, and its descriptors (and locks) with it
        aside.journal.reset();

        ASSERT_FALSE(fs::is_empty(notes)) << "noted as in progress";
        SettleNotedReplacements(notes);
        EXPECT_FALSE(fs::exists(folder));
        EXPECT_TRUE(fs::is_empty(notes));
        std::map<std::string, std::string> expected = before;
        if (succeeded) {
            expected = made;  // the new files, the earlier ones gone but another program's
            for (auto it = expected.begin(); it != expected.end();)
                it = it->first.find(".tessaloom-") != std::string::npos ? expected.erase(it) : std::next(it);
            expected["Clips/Reel - B.wav"] = before.at("Clips/Reel - B.wav");
            EXPECT_TRUE(fs::is_directory(out + "/Tracks"));
        } else {
            EXPECT_FALSE(fs::exists(out + "/Tracks"));
        }
        const std::map<std::string, std::string> after = Snapshot(out);
        EXPECT_EQ(NamesOf(after), NamesOf(expected));
        EXPECT_TRUE(after == expected) << "the same names with other bytes";
    }

}

namespace {

// A note of the program's, as a replacement writes it before its folder exists.
void WriteNoteFor(const std::string& notes, const std::string& name, const std::string& folder) {
    struct stat st {};
    ASSERT_EQ(::stat(fs::path(folder).parent_path().c_str(), &st), 0);
    fs::create_directories(notes);
    ASSERT_TRUE(WriteWholeFile(notes + "/" + name + ".replacing",
                               folder + "\ntoken 0a\nexport " + std::to_string(st.st_dev) + " " +
                                   std::to_string(st.st_ino) + "\n"));
}

}  // namespace

// What a kill can leave before any file moved: a note whose folder was never
// made (the note goes), a folder with nothing in it or a torn list (both go:
// a replacing folder with nothing to undo is removed). A hidden folder no
// note names is another program's, torn or not, and stays as it is; so does
// one whose manifest is not the one noted.
TEST(ExportReplacementKilled, OnlyNotedFoldersAreSettledAndEmptyOnesGo) {
    TempDir dir;
    const std::string out = dir.File("out"), notes = dir.File("notes");
    fs::create_directories(out);
    const std::string never = out + "/" + kReplacingFolderPrefix + "never";
    const std::string empty = out + "/" + kReplacingFolderPrefix + "empty";
    const std::string torn = out + "/" + kReplacingFolderPrefix + "torn";
    const std::string unnoted = out + "/" + kReplacingFolderPrefix + "unnoted";
    const std::string other = out + "/" + kReplacingFolderPrefix + "other";
    for (const std::string& f : {empty, torn, unnoted, other}) fs::create_directories(f);
    static const char kTorn[] = "Tessaloom replacement 1\nK0a\0EReel.wav\0EClips/Re";  // killed while listing
    ASSERT_TRUE(WriteWholeFile(torn + "/manifest", std::string(kTorn, sizeof kTorn - 1)));
    ASSERT_TRUE(WriteWholeFile(unnoted + "/manifest", std::string(kTorn, sizeof kTorn - 1)));
    static const char kOther[] = "Tessaloom replacement 1\nKff\0EReel.wav\0L\0";
    ASSERT_TRUE(WriteWholeFile(other + "/manifest", std::string(kOther, sizeof kOther - 1)));
    ASSERT_TRUE(WriteWholeFile(other + "/0", "an earlier file"));
    for (const std::string& f : {never, empty, torn, other}) WriteNoteFor(notes, fs::path(f).filename().string().substr(21), f);

    SettleNotedReplacements(notes);
    EXPECT_FALSE(fs::exists(empty));
    EXPECT_FALSE(fs::exists(torn));
    EXPECT_EQ(ReadWholeFile(unnoted + "/manifest"), std::string(kTorn, sizeof kTorn - 1));
    EXPECT_EQ(ReadWholeFile(other + "/0"), "an earlier file") << "its token is not the note's";
    EXPECT_FALSE(fs::exists(out + "/Reel.wav"));
    EXPECT_TRUE(fs::is_empty(notes));
    const ReplacementsLeftAlone left = SettleReplacementsIn(out, notes);
    EXPECT_EQ(left.settled, 0);
    EXPECT_EQ(left.leftAlone, 2);
}

// A replacement whose pass runs holds its note and its manifest locked:
// neither a start nor another export settles it, and its note stays; once
// its program is gone (the locks with it) the next start settles it.
TEST(ExportReplacementKilled, ARunningReplacementIsLeftAloneUntilItsProgramIsGone) {
    TempDir dir;
    const std::string out = dir.File("out"), notes = dir.File("notes");
    fs::create_directories(out);
    const std::vector<float> one(100, 0.1f);
    ASSERT_TRUE(WriteBWFStereo(out + "/Reel.wav", one.data(), one.data(), 100, kRigRate, 0, nullptr));
    const std::string earlier = ReadWholeFile(out + "/Reel.wav");
    ExportSetAside aside = SetAsideFiles({out + "/Reel.wav"}, out, notes);
    ASSERT_EQ(aside.moved.size(), 1u);
    aside.Announcer()(out + "/Reel.wav", false);
    ASSERT_TRUE(WriteBWFStereo(out + "/Reel.wav", one.data(), one.data(), 50, kRigRate, 0, nullptr));
    NoteInPlace(aside, out + "/Reel.wav");

    SettleNotedReplacements(notes);
    EXPECT_EQ(SettleReplacementsIn(out, notes).leftAlone, 1);
    EXPECT_TRUE(fs::exists(aside.moved[0].second)) << "the running replacement keeps its earlier file";
    EXPECT_FALSE(fs::is_empty(notes));
    EXPECT_NE(ReadWholeFile(out + "/Reel.wav"), earlier);

    aside.finished = true;  // its program is gone: the locks go with its descriptors
    aside.journal.reset();
    SettleNotedReplacements(notes);
    EXPECT_EQ(ReadWholeFile(out + "/Reel.wav"), earlier) << "undone: the earlier file is back";
    EXPECT_TRUE(fs::is_empty(notes));
    EXPECT_EQ(SettleReplacementsIn(out, notes).leftAlone, 0);
}

namespace {

// The files of the export named `base` in `folder`: its mixdown, its clips
// and its session folder (clock fields blanked, ExportedFiles), and any
// temporary file beside them.
std::map<std::string, std::string> ExportNamed(const std::string& folder, const std::string& base) {
    std::map<std::string, std::string> files;
    for (const auto& [path, bytes] : ExportedFiles(folder))
        if (path.rfind(base + ".wav", 0) == 0 || path.rfind("Clips/" + base + " - ", 0) == 0 ||
            path.rfind(base + "/", 0) == 0)
            files[path] = bytes;
    return files;
}

// One run of the program in a process of its own: its own user folder, the
// export on a thread of its own, its state written to files the test waits
// on ("held" once its export holds at `holdAt`, "waiting" once it waits for
// the folder, "status" with its last status once it ended).
struct ProgramRun {
    std::unique_ptr<ChildProcess> child;
    std::string marks;

    std::string Mark(const std::string& name) const { return marks + "." + name; }

    ProgramRun(KillRig& rig, const std::string& data, const std::string& out, float gain, int holdAt,
               ExportPass pass) {
        marks = data;
        child = std::make_unique<ChildProcess>([&rig, data, out, gain, holdAt, pass, this] {
            ::setenv("XDG_DATA_HOME", data.c_str(), 1);
            rig.engine->masterGain = gain;
            rig.app->questionDialog = &Yes;
            if (holdAt > 0) HoldExport(rig.hold, true, pass, 0.5);
            ExportContext ctx = rig.Ctx();  // the notes of the data folder just set
            ctx.startThread = nullptr;  // a thread of its own, as in the program
            if (StartExport(ctx, MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")) !=
                ExportStart::Started)
                ::_exit(1);
            bool held = false, waiting = false;
            while (!PollExport(*rig.app)) {
                if (!held && ExportWaitsAtHold(rig.hold)) held = WriteWholeFile(Mark("held"), "");
                if (!waiting && ExportStatusText(*rig.app) == kWaitingForFolderText)
                    waiting = WriteWholeFile(Mark("waiting"), "");
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
            WriteWholeFile(Mark("status"), ExportStatusText(*rig.app));
        });
    }
};

}  // namespace

// Two programs (each with its own user folder) export over one earlier
// export in one folder. The first holds the folder: the second waits for it
// and says so, never writing beside it. The first is killed in each of its
// passes; the second then runs whole and says "Export complete", and the
// first, started again, leaves the second's export as it is: the folder
// holds the survivor's export, byte for byte, and no hidden folder or note
// of either is left.
TEST(ExportReplacementKilled, TwoProgramsExportIntoOneFolderOneAtATime) {
    KillRig rig;
    const std::string out = rig.Out(), ref = rig.dir.File("ref"), earlier = rig.dir.File("earlier");
    const auto exportWhole = [&rig](const std::string& folder, float gain) {
        return RunInChild([&rig, folder, gain] {
            rig.engine->masterGain = gain;
            rig.app->questionDialog = &Yes;
            ::_exit(rig.Run(folder) == ExportStart::Started ? 0 : 1);
        });
    };
    ASSERT_EQ(exportWhole(out, 1.0f), 0);
    fs::copy(out, earlier, fs::copy_options::recursive);
    const std::map<std::string, std::string> earlierFiles = ExportNamed(out, "Reel");
    ASSERT_EQ(exportWhole(ref, 0.7f), 0);
    const std::map<std::string, std::string> survivor = ExportNamed(ref, "Reel");
    ASSERT_GT(survivor.size(), size_t(2 * kResults));

    for (ExportPass pass : {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Clips}) {
        SCOPED_TRACE(pass == ExportPass::Aaf ? "killed in the AAF step" : pass == ExportPass::Mixdown ? "in the mixdown" : "in the clips");
        fs::remove_all(out);
        fs::copy(earlier, out, fs::copy_options::recursive);
        const std::string first = rig.dir.File("first"), second = rig.dir.File("second");
        for (const std::string& data : {first, second}) {
            fs::remove_all(data);
            for (const char* mark : {".held", ".waiting", ".status"}) fs::remove(data + mark);
        }
        ProgramRun a(rig, first, out, 0.5f, 1, pass);
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(a.Mark("held")); }, std::chrono::minutes(3)));
        {
            const int probe = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
            EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the first program holds the folder";
            ::close(probe);
        }
        ProgramRun b(rig, second, out, 0.7f, 0, pass);
        ASSERT_TRUE(WaitUntil([&] { return fs::exists(b.Mark("waiting")); }, std::chrono::minutes(3)))
            << "the second program waits for the folder";
        EXPECT_FALSE(fs::exists(b.Mark("status"))) << "it writes nothing while the first holds the folder";
        ::kill(a.child->pid, SIGKILL);
        EXPECT_EQ(a.child->Wait(), -SIGKILL);
        ASSERT_EQ(b.child->Wait(), 0);
        const std::string status = ReadWholeFile(b.Mark("status"));
        EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
        // Beside it only what the killed program set aside waits, under
        // hidden names, until that program starts again.
        std::map<std::string, std::string> visible = ExportNamed(out, "Reel");
        for (auto it = visible.begin(); it != visible.end();)
            it = it->first.find(kAsidePrefix) != std::string::npos ? visible.erase(it) : std::next(it);
        ExpectSameExportFiles(visible, survivor);

        // The first program starts again and settles what its kill left.
        ASSERT_EQ(RunInChild([first] {
                      ::setenv("XDG_DATA_HOME", first.c_str(), 1);
                      SettleInterruptedExports();
                  }),
                  0);
        ExpectSameExportFiles(ExportNamed(out, "Reel"), survivor);
        EXPECT_NE(ExportNamed(out, "Reel"), earlierFiles);
        EXPECT_TRUE(HiddenReplacingFolders(out).empty());
        for (const std::string& data : {first, second}) {
            std::error_code ec;
            EXPECT_TRUE(!fs::exists(data + "/Tessaloom/Replacing") || fs::is_empty(data + "/Tessaloom/Replacing", ec))
                << data;
        }
    }
}

// The trash of a stopped export: its files are removed by a process of
// their own (the program may end meanwhile), and, when that process is
// killed before it is done, by the next start; the export folder keeps
// nothing of it, and whatever else is in it stays.
TEST(ExportReplacementKilled, TheTrashOfAStoppedExportGoesNowOrAtTheNextStart) {
    TempDir dir;
    const std::string out = dir.File("out"), notes = dir.File("notes");
    fs::create_directories(out + "/Clips");
    ASSERT_TRUE(WriteWholeFile(out + "/notes.txt", "the designer's"));
    auto fill = [&](ReplacementTrash& trash) {
        for (int i = 0; i < 20; ++i) {
            const std::string made = out + "/Clips/Reel - " + std::to_string(i) + ".wav";
            ASSERT_TRUE(WriteWholeFile(made, std::string(4096, char('a' + i))));
            std::string name = std::to_string(trash.count++);
            ASSERT_EQ(::rename(made.c_str(), (out + "/" + trash.name + "/" + name).c_str()), 0);
        }
    };
    {
        std::unique_ptr<ReplacementTrash> trash = OpenReplacementTrash(out, notes);
        ASSERT_TRUE(trash);
        fill(*trash);
        EmptyTrashDetached(*trash);
    }
    EXPECT_TRUE(WaitUntil([&] { return HiddenReplacingFolders(out).empty() && fs::is_empty(notes); }));

    // Left as a kill leaves it: the next start finds its note.
    std::unique_ptr<ReplacementTrash> trash = OpenReplacementTrash(out, notes);
    ASSERT_TRUE(trash);
    fill(*trash);
    trash.reset();
    ASSERT_EQ(HiddenReplacingFolders(out).size(), 1u);
    SettleNotedReplacements(notes);
    EXPECT_TRUE(HiddenReplacingFolders(out).empty());
    EXPECT_TRUE(fs::is_empty(notes));
    EXPECT_TRUE(fs::is_empty(out + "/Clips"));
    EXPECT_EQ(ReadWholeFile(out + "/notes.txt"), "the designer's");
}
