// The question before an export replaces what stands at its names, and what
// the answer allows: every entry that is no regular file named with what it
// is (a folder with what it holds), a folder removed only when it was named
// and agreed to, entries at the writers' temporary names asked about and
// never lost, listings that never open a pipe swapped in at a file's name,
// and a toast that says what the status line says.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "export/export_folders.h"
#include "export/export_question.h"
#include "export/export_replacement.h"
#include "export/earlier_version.h"
#include "export/replacing_rig.h"
#include "platform/file_util.h"
#include "platform/text_direction.h"
#include "support/exported_files.h"
#include "support/tree_state.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

std::string gQuestion;
bool gAnswer = true;
bool Answer(const char*, const char* text) {
    gQuestion = text;
    return gAnswer;
}

// Three sourced layers; the AAF session, the mixdown, the stems and the clips.
struct QuestionRig : ReplacingRig {
    QuestionRig() {
        notes = dir.File("data/Replacing");
        AddDoorRainKnock(false);
        gQuestion.clear();
        gAnswer = true;
        app->questionDialog = Answer;
    }

    // Starts an export, stops it once `pass` is half done, waits for the end.
    void StopIn(const std::string& folder, ExportPass pass) {
        HoldExport(hold, true, pass, 0.5);
        ASSERT_EQ(Start(folder), ExportStart::Started);
        ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(hold); }, std::chrono::minutes(2)));
        StopRunningExport(*app);
        Finish();
        HoldExport(hold, false);
        EXPECT_EQ(ExportStatusText(*app).rfind("Export stopped", 0), 0u) << ExportStatusText(*app);
    }
};

// The kernel's word on every open of one entry, from the watch's making on.
struct OpenWatch {
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    bool watching;
    explicit OpenWatch(const std::string& path)
        : watching(fd >= 0 && ::inotify_add_watch(fd, path.c_str(), IN_OPEN) >= 0) {}
    ~OpenWatch() {
        if (fd >= 0) ::close(fd);
    }
    bool Opened() const {
        char events[4096];
        return ::read(fd, events, sizeof events) > 0;
    }
};

bool Names(const std::string& question, const std::string& name, const std::string& kind) {
    return question.find(QuotedName(name) + " is " + kind) != std::string::npos;
}

}  // namespace

// The question on its own: regular files are counted, never named; every
// other entry is named below the export folder with what it is, a folder
// with how many entries it holds, however many there are ("more" never
// stands for one); the folders named are handed back, and an entry gone by
// now is counted but not named.
TEST(ReplaceQuestion, NamesEveryEntryThatIsNoFileAndEachFolderWithWhatItHolds) {
    TempDir dir;
    const std::string out = dir.File("out");
    std::vector<std::string> entries;
    const auto entry = [&](const std::string& name) { return entries.emplace_back(out + "/" + name); };
    for (const char* name : {"Reel.wav", "Reel - BG.wav", "Clips/Reel - Door.wav"}) PlantFile(entry(name), "a file");
    const std::vector<std::string> pipes = {"Reel - FX A.wav", "Reel - FX B.wav", "Clips/Reel - Rain.wav",
                                            "Clips/Reel - Knock.wav", "Clips/Reel - Wind.wav"};
    for (const std::string& name : pipes) ASSERT_EQ(::mkfifo(entry(name).c_str(), 0600), 0);
    fs::create_symlink(out + "/nowhere", entry("Clips/Reel - Link.wav"));
    ASSERT_TRUE(PlantSocket(entry("Clips/Reel - Sock.wav")));
    PlantFile(entry("Clips/Reel - Notes.wav") + "/notes.txt", "the designer's notes");
    PlantFile(out + "/Clips/Reel - Notes.wav/cues.txt", "more notes");
    fs::create_directories(entry("Clips/Reel - Empty.wav"));
    PlantFile(entry("Clips/Reel - One.wav") + "/notes.txt", "one");
    entry("Clips/Reel - Gone.wav");  // removed since it was listed
    const std::string longName = "Clips/Reel - " + std::string(200, 'x') + ".wav";
    ASSERT_EQ(::mkfifo(entry(longName).c_str(), 0600), 0);

    const ReplaceQuestion q = MakeReplaceQuestion("Reel", out, entries);
    EXPECT_EQ(q.text.rfind("Files of an earlier export named \"Reel\" are in " + out + " (" +
                               std::to_string(entries.size()) + " items; ",
                           0),
              0u)
        << q.text;
    EXPECT_EQ(q.text.substr(q.text.size() - 16), "). Replace them?");
    for (const std::string& name : pipes) EXPECT_TRUE(Names(q.text, name, "a named pipe")) << name;
    EXPECT_TRUE(Names(q.text, "Clips/Reel - Link.wav", "a symbolic link"));
    EXPECT_TRUE(Names(q.text, "Clips/Reel - Sock.wav", "a socket"));
    EXPECT_TRUE(Names(q.text, "Clips/Reel - Notes.wav", "a folder holding 2 entries"));
    EXPECT_TRUE(Names(q.text, "Clips/Reel - One.wav", "a folder holding 1 entry"));
    EXPECT_TRUE(Names(q.text, "Clips/Reel - Empty.wav", "an empty folder"));
    EXPECT_EQ(q.text.find("more"), std::string::npos) << "every odd entry is named";
    for (const char* file : {"Reel.wav", "Reel - BG.wav", "Clips/Reel - Door.wav", "Reel - Gone.wav"})
        EXPECT_EQ(q.text.find(QuotedName(file)), std::string::npos) << file;
    EXPECT_NE(q.text.find("\xE2\x80\xA6\xE2\x80\x9D is a named pipe"), std::string::npos)
        << "a very long name is shortened by the one rule";
    EXPECT_LT(q.text.find("\xE2\x80\xA6\xE2\x80\x9D is a named pipe") - q.text.rfind("\xE2\x80\x9C"), 110u);

    std::vector<std::string> folders = {out + "/Clips/Reel - Notes.wav", out + "/Clips/Reel - Empty.wav",
                                        out + "/Clips/Reel - One.wav"};
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(q.folders, folders);
    for (const std::string& f : folders) EXPECT_TRUE(IsAgreedFolder(q.folders, f));
    EXPECT_FALSE(IsAgreedFolder(q.folders, out + "/Clips/Reel - Rain.wav"));

    // One entry: the singular, and nothing named for a file.
    const ReplaceQuestion one = MakeReplaceQuestion("Reel", out, {out + "/Reel.wav"});
    EXPECT_EQ(one.text, "Files of an earlier export named \"Reel\" are in " + out + " (1 item). Replace them?");
    EXPECT_TRUE(one.folders.empty());
}

// The job on its own: a folder at a clip's name among the entries to
// replace is set aside, and replaced, only when it is among the folders the
// question named; otherwise it stays with what it holds, and nothing of the
// export is put in place (the earlier export stays whole).
TEST(ReplaceQuestion, OnlyAFolderAgreedToByNameIsReplaced) {
    QuestionRig rig;
    const std::string out = rig.dir.File("out");
    ASSERT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    const std::string folder = out + "/Clips/Reel - Door.wav";
    fs::remove(folder);
    PlantFile(folder + "/notes.txt", "the designer's notes");
    for (bool named : {false, true}) {
        SCOPED_TRACE(named ? "named" : "not named");
        rig.AssignTracks();
        ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel");
        job.replacing = ExistingExportFiles(job, *rig.project);
        ASSERT_NE(std::find(job.replacing.begin(), job.replacing.end(), folder), job.replacing.end());
        job.replaceAgreed = true;
        if (named) job.replacingFolders = {folder};
        const std::string knock = ReadWholeFile(out + "/Clips/Reel - Knock.wav");
        const ExportReport report = RunExportJob(job, rig.Ctx());
        EXPECT_TRUE(HiddenExportEntries(out).empty());
        if (named) {
            EXPECT_GT(report.filesWritten, 0) << report.finalText;
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(folder))) << report.finalText;
        } else {
            EXPECT_EQ(report.blockedBy, "Clips/Reel - Door.wav") << report.finalText;
            EXPECT_EQ(ReadWholeFile(folder + "/notes.txt"), "the designer's notes") << report.finalText;
            EXPECT_EQ(ReadWholeFile(out + "/Clips/Reel - Knock.wav"), knock) << "the earlier clip stays";
        }
    }
}

// A folder past the fourth odd entry at the export's names: the question
// names it with what it holds; a stop in any pass leaves the folder, its
// notes and every other entry as they were; "yes" to a question that named
// it replaces it. A folder that comes to stand at a clip's name after the
// question (while the export waited for the folder) was not agreed to: the
// export leaves it with its notes.
TEST(ReplaceQuestion, AFolderPastTheFourthOddEntryIsNamedAndGoesOnlyWhenAgreed) {
    QuestionRig rig;
    const std::string out = rig.dir.File("out"), outside = rig.dir.File("outside");
    ASSERT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    PlantFile(outside + "/target", "a file the links lead to");
    for (const char* name : {"Reel.wav", "Reel - BG.wav"}) {
        fs::remove(out + "/" + name);
        fs::create_symlink(outside + "/target", out + "/" + name);
    }
    fs::remove(out + "/Reel - FX A.wav");
    fs::create_symlink(outside + "/missing", out + "/Reel - FX A.wav");
    fs::remove(out + "/Reel - FX B.wav");
    ASSERT_EQ(::mkfifo((out + "/Reel - FX B.wav").c_str(), 0600), 0);
    fs::remove(out + "/Clips/Reel - Door.wav");
    PlantFile(out + "/Clips/Reel - Door.wav/notes.txt", "the designer's notes");
    const std::map<std::string, std::string> before = TreeState(out);
    const std::map<std::string, std::string> outsideBefore = TreeState(outside);

    for (ExportPass pass : {ExportPass::Aaf, ExportPass::Stems, ExportPass::Clips}) {
        SCOPED_TRACE(int(pass));
        rig.StopIn(out, pass);
        EXPECT_TRUE(Names(gQuestion, "Clips/Reel - Door.wav", "a folder holding 1 entry")) << gQuestion;
        EXPECT_TRUE(Names(gQuestion, "Reel - FX B.wav", "a named pipe")) << gQuestion;
        EXPECT_EQ(gQuestion.find("more"), std::string::npos) << gQuestion;
        EXPECT_TRUE(WaitUntil([&] { return HiddenExportEntries(out).empty(); }));
        EXPECT_EQ(FirstDifference(TreeState(out), before), "");
    }
    EXPECT_EQ(TreeState(outside), outsideBefore);

    // Named and agreed: replaced like every other entry.
    EXPECT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Clips/Reel - Door.wav")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Reel - FX B.wav")));
    EXPECT_EQ(TreeState(outside), outsideBefore);

    // Another program holds the folder: the question is asked before the
    // export waits, and the folder that comes meanwhile was never named.
    const int other = ::open(out.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    rig.engine->masterGain = 0.5f;
    ASSERT_EQ(rig.Start(out), ExportStart::Started);
    ASSERT_TRUE(WaitUntil([&] { return ExportStatusText(*rig.app) == kWaitingForFolderText; }));
    EXPECT_EQ(gQuestion.find("folder holding"), std::string::npos) << gQuestion;
    fs::remove(out + "/Clips/Reel - Knock.wav");
    PlantFile(out + "/Clips/Reel - Knock.wav/notes.txt", "notes that came later");
    ::close(other);
    rig.Finish();
    EXPECT_EQ(ReadWholeFile(out + "/Clips/Reel - Knock.wav/notes.txt"), "notes that came later")
        << ExportStatusText(*rig.app);
    EXPECT_TRUE(HiddenExportEntries(out).empty());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Clips/Reel - Door.wav")))
        << "the earlier clip stays: nothing of the export was put in place";
}

// Entries at names an earlier version's writers used ("<name>.tmp": a
// designer's file, a named pipe, a socket, a link to a file outside) in a
// folder with no earlier export: the export never writes there (it stages
// its files), so nothing is asked; a stop in any pass leaves every one as it
// was, and a finished export leaves every one in its place too (the pipe
// never opened, the link never followed).
TEST(ReplaceQuestion, EntriesAtOldTemporaryNamesAreNeverTouched) {
    QuestionRig rig;
    const std::string out = rig.dir.File("o"), outside = rig.dir.File("outside");
    PlantFile(outside + "/victim", "a file outside");
    PlantFile(out + "/Reel.wav.tmp", "the designer's file");
    fs::create_directories(out + "/Clips");
    ASSERT_EQ(::mkfifo((out + "/Clips/Reel - Door.wav.tmp").c_str(), 0600), 0);
    ASSERT_TRUE(PlantSocket(out + "/Reel - BG.wav.tmp"));
    fs::create_directories(out + "/Reel");
    fs::create_symlink(outside + "/victim", out + "/Reel/Reel.aaf.tmp");
    const OpenWatch watch(out + "/Clips/Reel - Door.wav.tmp");
    ASSERT_TRUE(watch.watching);
    const std::map<std::string, std::string> before = TreeState(out);
    const std::map<std::string, std::string> outsideBefore = TreeState(outside);

    gAnswer = false;  // a question would decline the export
    gQuestion.clear();
    for (ExportPass pass : {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Clips}) {
        SCOPED_TRACE(int(pass));
        rig.StopIn(out, pass);
        EXPECT_TRUE(WaitUntil([&] { return HiddenExportEntries(out).empty(); }));
        EXPECT_EQ(FirstDifference(TreeState(out), before), "");
    }
    EXPECT_TRUE(gQuestion.empty()) << gQuestion;

    const std::string status = rig.ExportTo(out);
    EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
    const std::map<std::string, std::string> after = TreeState(out);
    for (const auto& [path, entry] : before) {
        const auto it = after.find(path);
        ASSERT_NE(it, after.end()) << path << " is gone";
        EXPECT_EQ(it->second, entry) << path;
    }
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Clips/Reel - Door.wav")));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(out + "/Reel/Reel.aaf")));
    EXPECT_EQ(TreeState(outside), outsideBefore);
    EXPECT_FALSE(watch.Opened()) << "the pipe was opened";
}

// A named pipe swapped in at an earlier file's name, over and over, while
// the folder is listed for the question: no listing blocks, and none ever
// opens the pipe (the kernel reports every open of it).
TEST(ReplaceQuestion, ListingsNeverOpenAPipeSwappedInAtAFilesName) {
    QuestionRig rig;
    const std::string out = rig.dir.File("out");
    ASSERT_EQ(rig.ExportTo(out).rfind("Export complete", 0), 0u);
    // A clip of the program's own under a name this export does not write:
    // only what the file is tells the listing it belongs to the question.
    const std::string own = out + "/Clips/Reel - Gone.wav";
    fs::copy_file(out + "/Clips/Reel - Door.wav", own);
    const std::string pipe = rig.dir.File("pipe"), aside = rig.dir.File("aside.wav");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const OpenWatch watch(pipe);
    ASSERT_TRUE(watch.watching);

    rig.AssignTracks();
    const ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel");
    const std::vector<std::string> listed = ExistingExportFiles(job, *rig.project);
    ASSERT_NE(std::find(listed.begin(), listed.end(), own), listed.end());

    std::atomic<bool> swapping{true};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        while (swapping.load()) {
            if (::rename(own.c_str(), aside.c_str()) != 0) continue;
            ::rename(pipe.c_str(), own.c_str());
            std::this_thread::yield();
            ::rename(own.c_str(), pipe.c_str());
            ::rename(aside.c_str(), own.c_str());
            swaps.fetch_add(1);
        }
    });
    int withPipe = 0;
    for (int i = 0; i < 400 || swaps.load() < 200; ++i) {
        const std::vector<std::string> found = ExistingExportFiles(job, *rig.project);
        withPipe += std::find(found.begin(), found.end(), own) == found.end() ? 1 : 0;
        if (i > 20000) break;
    }
    swapping.store(false);
    swapper.join();
    std::printf("[Test] %d swaps; %d listings met the pipe or no entry at the name\n", swaps.load(), withPipe);
    EXPECT_FALSE(watch.Opened()) << "a listing opened the pipe";
    EXPECT_TRUE(IsOwnBroadcastWav(own));
}

// The toast and the status line come from one record: an export that found
// the previous version's hidden folder holding another program's file puts
// it in sight and says where in both; an empty one is removed and not
// reported; a clean export says "Export complete" in the toast and the count
// in the status.
TEST(ReplaceQuestion, TheToastSaysWhatTheStatusSays) {
    QuestionRig rig;
    const std::string out = rig.dir.File("out");
    const std::string hidden = out + std::string("/") + kEarlierVersionFolderPrefix + "0123456789ab";
    PlantFile(hidden + "/3", "someone's file");
    const std::string status = rig.ExportTo(out);
    EXPECT_EQ(status.rfind("Export complete", 0), 0u) << status;
    EXPECT_NE(status.find("another program's files found among an export's are in “" + out + "/Unfinished export, "),
              std::string::npos)
        << status;
    EXPECT_EQ(rig.app->toastText, status);
    EXPECT_FALSE(fs::exists(hidden));
    std::string visible;
    for (const auto& e : fs::directory_iterator(out))
        if (e.path().filename().string().rfind("Unfinished export, ", 0) == 0) visible = e.path().string();
    ASSERT_FALSE(visible.empty());
    EXPECT_EQ(ReadWholeFile(visible + "/3"), "someone's file");
    fs::remove_all(visible);

    const std::string empty = out + std::string("/") + kEarlierVersionFolderPrefix + "ba9876543210";
    fs::create_directories(empty);
    rig.engine->masterGain = 0.5f;
    const std::string clean = rig.ExportTo(out);
    EXPECT_EQ(clean.rfind("Export complete \xE2\x80\x94 ", 0), 0u) << clean;
    EXPECT_EQ(rig.app->toastText, "Export complete");
    EXPECT_FALSE(fs::exists(empty)) << "an empty hidden folder holds nothing of anyone's";

    // The record alone: whatever the final text adds, the toast is that text.
    ExportReport report;
    report.filesWritten = 3;
    report.finalText = ExportFinalText(report);
    EXPECT_EQ(ExportToastText(report), "Export complete");
    const std::function<void(ExportReport&)> variants[] = {
        [](ExportReport& r) { r.settled.undone = 1; },
        [](ExportReport& r) { r.settled.setAside.push_back("/d/Earlier export, set aside 2026-12-10 02.31"); },
        [](ExportReport& r) { r.settled.unfinished.push_back("/d/Unfinished export, 2026-12-10 02.31"); },
        [](ExportReport& r) { r.settled.failures.push_back("a record cannot be read"); },
    };
    for (const auto& change : variants) {
        ExportReport r;
        r.filesWritten = 3;
        change(r);
        r.finalText = ExportFinalText(r);
        EXPECT_NE(r.finalText, report.finalText);
        EXPECT_EQ(ExportToastText(r), r.finalText);
    }
}
