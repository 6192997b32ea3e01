// The one commit of an export and what settles it: a kill at every step of
// the commit (the folder then holds the earlier export whole, or the new one
// whole, after the next start, whatever a chmod or extended attributes did
// meanwhile); another program taking a name at the moment it lands; the
// records read back whatever the names hold; the question naming what it
// will remove; what the previous version left; and what the start tells.
//
// Index
//   CommitRig          a small project exported in child processes, killed at a named step
//   KillAtEveryStep    every step of the commit, then chmod, xattrs and a start
//   Strangers          a name taken as its entry lands
//   Records            manifests and notes round-trip any name; a folder named with a newline
//   Question           a kept copy of the program's own file is named, and stays on "no"
//   PreviousVersion    its hidden entries come back or stand in sight; its patterns miss ours
//   StartTells         the toast and status after a start that settled, and a stop's status kept
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "export/earlier_version.h"
#include "export/export_manifest.h"
#include "export/export_settling.h"
#include "export/replacing_rig.h"
#include "operations/export_job.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/scoped_environment.h"
#include "support/test_drives.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// CommitRig
// ---------------------------------------------------------------------------

using CommitRig = ChildExportRig;

// An attribute on every entry below `root` and the whole tree group-writable,
// as an indexer and a colleague sharing it leave them.
void TouchLikeOthers(const std::string& root) {
    ChmodGroupWritable(root);
    SetXattrEverywhere(root);
}

}  // namespace

// ---------------------------------------------------------------------------
// KillAtEveryStep
// ---------------------------------------------------------------------------

// An earlier export, then a re-export of the changed project killed at each
// step of its commit in turn; then a chmod -R g+w and an extended attribute
// on every entry; then a start. Before the marker the folder holds the
// earlier export byte for byte; from the marker on, the new export, file for
// file as a clean export of it; never anything hidden, never a note left.
TEST(ExportCommit, AKillAtEveryStepLeavesOneExportWhole) {
    CommitRig rig;
    const std::string out = rig.Out(), fresh = rig.dir.File("fresh");
    ASSERT_EQ(rig.ExportInChild(out, false), 0);
    const std::map<std::string, std::string> earlier = Snapshot(out);
    ASSERT_EQ(rig.ExportInChild(fresh, true), 0);
    const std::map<std::string, std::string> changed = ExportedFiles(fresh);
    const fs::path copy = rig.dir.File("earlier");
    fs::copy(out, copy, fs::copy_options::recursive);

    // The steps a whole re-export takes.
    gCommitStepsFile = rig.dir.File("steps");
    ASSERT_EQ(rig.ExportInChild(rig.dir.File("probe"), true), 0);  // into a fresh folder: places only
    fs::remove_all(rig.dir.File("probe"));
    fs::remove(gCommitStepsFile);
    fs::copy(copy, rig.dir.File("probe"), fs::copy_options::recursive);
    ASSERT_EQ(rig.ExportInChild(rig.dir.File("probe"), true), 0);
    const std::string listed = ReadWholeFile(gCommitStepsFile);
    gCommitStepsFile.clear();
    std::vector<std::string> steps;
    for (size_t at = 0; at < listed.size();) {
        const size_t end = listed.find('\n', at);
        steps.push_back(listed.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_GE(steps.size(), 10u) << listed;
    ASSERT_EQ(steps.front(), "plan");
    ASSERT_EQ(steps.back(), "finish");
    // Each kind of step once in every folder, the export folder's every
    // step, and the last move before the marker.
    std::vector<std::string> chosen;
    std::set<std::string> seen;
    for (size_t i = 0; i < steps.size(); ++i) {
        const std::string& step = steps[i];
        const size_t space = step.find(' ');
        const std::string path = space == std::string::npos ? "" : step.substr(space + 1);
        const std::string kind = step.substr(0, space) + " " + fs::path(path).parent_path().string();
        if (path.find('/') == std::string::npos || seen.insert(kind).second || steps[i + 1 < steps.size() ? i + 1 : i] == "mark")
            chosen.push_back(step);
    }
    steps = chosen;

    bool sawEarlier = false, sawNew = false;
    for (const std::string& step : steps) {
        SCOPED_TRACE("killed at " + step);
        fs::remove_all(out);
        fs::copy(copy, out, fs::copy_options::recursive);
        ASSERT_EQ(rig.ExportInChild(out, true, step), -SIGKILL);
        TouchLikeOthers(out);
        ASSERT_EQ(rig.StartInChild(), 0);
        EXPECT_TRUE(HiddenBelow(out).empty());
        EXPECT_TRUE(!fs::exists(rig.NotesFolder()) || fs::is_empty(rig.NotesFolder()));
        const bool marked = step == "finish";
        if (marked) {
            sawNew = true;
            ExpectSameExportFiles(ExportedFiles(out), changed);
        } else {
            sawEarlier = true;
            EXPECT_EQ(Snapshot(out), earlier) << "the earlier export, byte for byte";
        }
    }
    EXPECT_TRUE(sawEarlier && sawNew);
}

// ---------------------------------------------------------------------------
// Strangers
// ---------------------------------------------------------------------------

// Another program puts a file at a name just as the export's entry would
// land there (an output name, an essence's, the session file's): its file
// stays, nothing of the export is in place, the earlier entry of that name
// stands in sight in "Earlier export, set aside <date>" beside it (its name
// is taken), every other earlier file is back at its name, and the status
// says where the set-aside entry is.
TEST(ExportCommit, ANameTakenAsItsEntryLandsKeepsBothInSight) {
    struct Case {
        const char* what;
        std::string folder;  // below the export folder
        std::function<bool(const std::string&)> name;
    };
    const Case cases[] = {
        {"an output name", "", [](const std::string& n) { return n == "Reel.wav"; }},
        {"an essence name", "Reel/Audio Files", [](const std::string& n) { return n.find("_000_") != std::string::npos; }},
        {"the session file", "Reel", [](const std::string& n) { return n == "Reel.aaf"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CommitRig rig;
        const std::string out = rig.Out();
        ASSERT_EQ(rig.Run(out), ExportStart::Started);
        const std::map<std::string, std::string> earlier = Snapshot(out);
        std::string taken;
        for (const auto& [path, bytes] : earlier) {
            const fs::path p(path);
            if (taken.empty() && p.parent_path().string() == c.folder && c.name(p.filename().string())) taken = path;
        }
        ASSERT_FALSE(taken.empty());
        gAtCommitStep = [&](const std::string& step) {
            if (step == "place " + taken) {
                ASSERT_TRUE(WriteWholeFile(out + "/" + taken, "another program's"));
            }
        };
        rig.Change();
        ASSERT_EQ(rig.Run(out), ExportStart::Started);
        gAtCommitStep = nullptr;
        const std::string status = ExportStatusText(*rig.app);
        EXPECT_EQ(status.rfind("Export failed at the commit", 0), 0u) << status;
        EXPECT_EQ(ReadWholeFile(out + "/" + taken), "another program's");
        const fs::path folder = fs::path(out) / c.folder;
        std::string aside;
        for (const auto& e : fs::directory_iterator(folder))
            if (e.path().filename().string().rfind("Earlier export, set aside ", 0) == 0) aside = e.path().string();
        ASSERT_FALSE(aside.empty()) << status;
        EXPECT_EQ(ReadWholeFile(aside + "/" + fs::path(taken).filename().string()), earlier.at(taken));
        EXPECT_NE(rig.app->toastText.find(fs::path(aside).filename().string()), std::string::npos) << rig.app->toastText;
        std::map<std::string, std::string> after = Snapshot(out);
        after.erase(taken);
        std::map<std::string, std::string> rest = earlier;
        rest.erase(taken);
        for (auto it = after.begin(); it != after.end();)
            it = it->first.find("Earlier export, set aside ") != std::string::npos ? after.erase(it) : std::next(it);
        EXPECT_EQ(after, rest) << "every other earlier file is back at its name";
        EXPECT_TRUE(HiddenBelow(out).empty());
    }
}

// ---------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------

// The manifest and the note read back every name whole: a newline, a tab,
// quotes and backslashes, control characters, 255 bytes, bytes that are not
// UTF-8; a torn record is refused rather than half read.
TEST(ExportCommit, RecordsReadBackAnyName) {
    const std::string names[] = {
        "Deliv\nery", "tab\there", "quote \" and \\ backslash", std::string("bell\x07") + "\x1f",
        std::string(255, 'n'), "\xff\xfe not UTF-8 \xc3", "R\xC3\xA9" "el \xE2\x80\x94 Approved.wav",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        ExportManifest m;
        m.token = NewExportToken();
        m.exportFolder = "/media/" + name;
        m.started = 1797130260;
        m.staging = {"", name};
        m.made = {name + "/Clips"};
        m.committing = true;
        CommitEntry e;
        e.folder = name;
        e.name = name;
        e.placed = true;
        e.stagedInode = 18446744073709551000ull;
        e.hasEarlier = true;
        e.earlierInode = 42;
        e.earlierSize = 1234567890123;
        m.entries = {e, CommitEntry{}};
        const std::string text = ManifestJson(m);
        ExportManifest back;
        ASSERT_TRUE(ParseManifestJson(text, &back));
        EXPECT_EQ(back.exportFolder, m.exportFolder);
        EXPECT_EQ(back.staging, m.staging);
        EXPECT_EQ(back.made, m.made);
        ASSERT_EQ(back.entries.size(), 2u);
        EXPECT_EQ(back.entries[0].name, name);
        EXPECT_EQ(back.entries[0].stagedInode, e.stagedInode);
        EXPECT_EQ(back.entries[0].earlierSize, e.earlierSize);
        EXPECT_EQ(back.entries[1].earlierSize, -1);
        EXPECT_EQ(text.find('\n' + name), std::string::npos) << "a raw newline of a name never reaches the file";
        ExportManifest torn;
        EXPECT_FALSE(ParseManifestJson(text.substr(0, text.size() / 2), &torn));
        ExportNote note;
        ASSERT_TRUE(ParseNoteJson(NoteJson({m.exportFolder, m.token}), &note));
        EXPECT_EQ(note.exportFolder, m.exportFolder);
        EXPECT_EQ(note.token, m.token);
    }
}

// A folder named with a newline and a tab: an export killed in its commit is
// settled by the next start, which finds it through the note.
TEST(ExportCommit, AFolderNamedWithANewlineIsSettled) {
    CommitRig rig;
    const std::string out = rig.dir.File("Deliv\nery\tA");
    ASSERT_EQ(rig.ExportInChild(out, false), 0);
    const std::map<std::string, std::string> earlier = Snapshot(out);
    ASSERT_EQ(rig.ExportInChild(out, true, "mark"), -SIGKILL);
    ASSERT_FALSE(HiddenBelow(out).empty());
    ASSERT_EQ(rig.StartInChild(), 0);
    EXPECT_EQ(Snapshot(out), earlier);
    EXPECT_TRUE(fs::is_empty(rig.NotesFolder()));
}

// ---------------------------------------------------------------------------
// Question
// ---------------------------------------------------------------------------

// A kept copy of the program's mixdown, "Reel - Approved.wav", is of the
// export's names but not written again: the question names it; "no" leaves
// everything; "yes" lets it go with the rest. Another program's file of the
// same pattern is never named and always stays.
TEST(ExportCommit, TheQuestionNamesWhatTheExportDoesNotWriteAgain) {
    CommitRig rig;
    const std::string out = rig.Out();
    ASSERT_EQ(rig.Run(out), ExportStart::Started);
    fs::copy_file(out + "/Reel.wav", out + "/Reel - Approved.wav");
    ASSERT_TRUE(WriteWholeFile(out + "/Reel - Notes.wav", "another program's"));
    static std::string question;
    static bool answer = false;
    rig.app->questionDialog = [](const char*, const char* text) {
        question = text;
        return answer;
    };
    const std::map<std::string, std::string> before = Snapshot(out);
    rig.Change();
    answer = false;
    EXPECT_EQ(rig.Run(out), ExportStart::Declined);
    EXPECT_NE(question.find("This export does not write \xE2\x80\x9CReel - Approved.wav\xE2\x80\x9D again; it goes too."),
              std::string::npos)
        << question;
    EXPECT_EQ(question.find("Reel - Notes.wav"), std::string::npos) << question;
    EXPECT_EQ(Snapshot(out), before);

    answer = true;
    ASSERT_EQ(rig.Run(out), ExportStart::Started);
    EXPECT_EQ(ExportStatusText(*rig.app).rfind("Export complete", 0), 0u) << ExportStatusText(*rig.app);
    EXPECT_FALSE(fs::exists(out + "/Reel - Approved.wav"));
    EXPECT_EQ(ReadWholeFile(out + "/Reel - Notes.wav"), "another program's");
    EXPECT_TRUE(HiddenBelow(out).empty());
}

// ---------------------------------------------------------------------------
// PreviousVersion
// ---------------------------------------------------------------------------

namespace {

std::string Record(char tag, const std::string& path) { return std::string(1, tag) + path + std::string(1, '\0'); }

}  // namespace

// What the previous version left when killed: earlier files under its hidden
// names, its manifest and its note. At the start, an earlier file whose name
// is free goes back; one whose name holds the killed export's new file stands
// in "Earlier export, set aside <date>" beside it; its recorded temporary
// file goes; a trash of a stopped export, or a hidden folder with another
// program's file, stands in sight as "Unfinished export, <date>". Nothing is
// hidden afterwards and nothing deleted but that temporary file.
TEST(ExportCommit, ThePreviousVersionsLeftoversComeBackOrStandInSight) {
    TempDir dir;
    const std::string out = dir.File("out"), notes = dir.File("Replacing");
    fs::create_directories(out + "/Clips");
    fs::create_directories(notes);
    ASSERT_TRUE(WriteWholeFile(out + "/.tessaloom-earlier-abc-0", "earlier mixdown"));
    ASSERT_TRUE(WriteWholeFile(out + "/Clips/.tessaloom-earlier-abc-1", "earlier clip"));
    ASSERT_TRUE(WriteWholeFile(out + "/Clips/Reel - Door.wav", "the killed export's clip"));
    ASSERT_TRUE(WriteWholeFile(out + "/Clips/.tessaloom-0123456789abcdef.tmp", "half a clip"));
    const std::string hidden = out + "/.tessaloom-replacing-abc";
    const std::string trash = out + "/.tessaloom-replacing-def";
    fs::create_directories(hidden);
    fs::create_directories(trash);
    ASSERT_TRUE(WriteWholeFile(hidden + "/manifest",
                               "Tessaloom replacement 1\n" + Record('K', "ff") + Record('A', "abc") +
                                   Record('E', "Reel.wav") + Record('E', "Clips/Reel - Door.wav") + Record('L', "") +
                                   Record('N', "Clips/Reel - Door.wav") +
                                   Record('I', "1 2 -1 0 c0 g-1 Clips/.tessaloom-0123456789abcdef.tmp")));
    ASSERT_TRUE(WriteWholeFile(hidden + "/stranger.txt", "another program's"));
    ASSERT_TRUE(WriteWholeFile(trash + "/manifest", "Tessaloom replacement 1\n" + Record('K', "ee") + Record('X', "")));
    ASSERT_TRUE(WriteWholeFile(trash + "/0", "a stopped export's file"));
    ASSERT_TRUE(WriteWholeFile(notes + "/0123456789abcdef.replacing", hidden + "\ntoken ff\n"));

    const ExportSettled settled = SettleNotedExports("", notes);
    EXPECT_EQ(ReadWholeFile(out + "/Reel.wav"), "earlier mixdown") << "its name was free";
    EXPECT_EQ(ReadWholeFile(out + "/Clips/Reel - Door.wav"), "the killed export's clip");
    ASSERT_EQ(settled.setAside.size(), 1u);
    EXPECT_EQ(ReadWholeFile(settled.setAside[0] + "/Reel - Door.wav"), "earlier clip");
    EXPECT_FALSE(fs::exists(out + "/Clips/.tessaloom-0123456789abcdef.tmp"));
    ASSERT_EQ(settled.unfinished.size(), 2u);
    std::string kept;
    for (const std::string& folder : settled.unfinished)
        for (const auto& e : fs::directory_iterator(folder)) kept += ReadWholeFile(e.path().string()) + ";";
    EXPECT_NE(kept.find("another program's;"), std::string::npos) << kept;
    EXPECT_NE(kept.find("a stopped export's file;"), std::string::npos) << kept;
    EXPECT_TRUE(HiddenBelow(out).empty());
    EXPECT_TRUE(fs::is_empty(notes));
}

// The names this version makes are none the previous version acts on: its
// settling looks only at folders beginning ".tessaloom-replacing-" and at
// temporary files of exactly ".tessaloom-" 16 hex ".tmp" that its own
// manifests name, and its question only at "<base> - *.wav", "<base>.wav",
// essences ending ".wav" and names ending ".tmp".
TEST(ExportCommit, ThisVersionsNamesAreNoneThePreviousVersionActsOn) {
    const std::string token = NewExportToken();
    const std::string ours[] = {ControlName(token), StagingName(token), HoldingName(token)};
    for (const std::string& name : ours) {
        SCOPED_TRACE(name);
        EXPECT_NE(name.rfind(kEarlierVersionFolderPrefix, 0), 0u);
        EXPECT_NE(name.rfind(kEarlierVersionAsidePrefix, 0), 0u);
        for (const char* ending : {".tmp", ".wav", ".aaf"})
            EXPECT_FALSE(name.size() >= 4 && name.compare(name.size() - 4, 4, ending) == 0) << ending;
        EXPECT_NE(name.size(), 31u) << "the length of the previous version's temporary names";
        EXPECT_EQ(TokenOfControlName(name), name == ours[0] ? token : "");
    }
}

// ---------------------------------------------------------------------------
// StartTells
// ---------------------------------------------------------------------------

// A start that settled an interrupted export says so in the toast and in the
// status, in the same words; a start with nothing to settle says nothing. An
// export stopped while the program was being ended keeps its status for the
// next start, which shows it once.
TEST(ExportCommit, TheStartTellsWhatItSettledAndHowTheLastExportEnded) {
    CommitRig rig;
    const std::string out = rig.Out();
    ASSERT_EQ(rig.ExportInChild(out, false), 0);
    ASSERT_EQ(rig.ExportInChild(out, true, "mark"), -SIGKILL);
    AppState app;
    const std::string told = SettleInterruptedExports(app, rig.NotesFolder(), "");
    EXPECT_NE(told.find("An interrupted export was undone ("), std::string::npos) << told;
    EXPECT_EQ(app.toastText, told);
    EXPECT_EQ(ExportStatusText(app), told.substr(0, std::min<size_t>(told.size(), 127)));
    AppState again;
    EXPECT_EQ(SettleInterruptedExports(again, rig.NotesFolder(), ""), "");
    EXPECT_TRUE(again.toastText.empty());

    // Stopped while the program is being ended.
    rig.app->exportEnding.store(true);
    rig.app->exportCancel.store(true);
    ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel");
    job.cancel = &rig.app->exportCancel;
    job.ending = &rig.app->exportEnding;
    const ExportReport report = RunExportJob(job, rig.Ctx());
    ASSERT_TRUE(report.stopped);
    AppState next;
    const std::string shown = SettleInterruptedExports(next, rig.NotesFolder(), "");
    EXPECT_EQ(shown, "The last export before the program ended: " + report.finalText);
    EXPECT_EQ(SettleInterruptedExports(next, rig.NotesFolder(), ""), "") << "shown once";
}
