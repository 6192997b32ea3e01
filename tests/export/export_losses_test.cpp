// What an export could not write: a full disk injected into the writer's file
// layer, and the status and toast that name the file instead of calling the
// export complete.
#include <gtest/gtest.h>

#include <grp.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

#include "export/aaf_export_rig.h"
#include "export/bwf_writer.h"
#include "operations/export_job.h"
#include "support/child_process.h"
#include "support/exported_files.h"

namespace fs = std::filesystem;

namespace {

// Three sourced layers (two groups) with the reverb on; the AAF session
// through the program's writer and the stems pass, which carries the reverb
// stem.
struct LossRig : AafRig {
    LossRig() {
        const std::string src = Source("door_slam_01.wav", 3.0, 1);
        AddSourced(src, 0.2f, 1.0f, 1.0f, "Door", false, 0, 0);
        AddSourced(src, 1.0f, 0.8f, 2.0f, "Knock", false, 1, 0);
        AddSourced(src, 0.5f, 0.6f, 0.5f, "Tap", false, 1, 1);
        engine->reverb.enabled = 1;
        app->exportSettings.exportFormatWAV = true;
        app->exportSettings.exportWavMixdown = false;
        app->exportSettings.exportWavStems = true;
        app->exportSettings.exportReverbStem = true;
    }

    ExportStart ExportAndWait() {
        ExportContext ctx = Context(ProgramAafStep());
        const ExportStart started = StartExport(ctx, Job());
        if (started == ExportStart::Started)
            while (!PollExport(*app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return started;
    }
};

}  // namespace

// The Nth write of the named file fails as a full disk fails it: nothing of
// that file is left, the file before it and the same name written again
// afterwards are whole.
TEST(ExportLosses, AnInjectedFullDiskFailsOneWriteOfOneFile) {
    TempDir dir;
    std::vector<float> left(200000, 0.25f), right(200000, -0.25f);
    const std::string first = dir.File("first.wav"), hit = dir.File("hit.wav");

    WriteFault fault;
    ArmWriteFault(fault, 3, ENOSPC, "hit.wav");
    ASSERT_TRUE(WriteBWFStereo(first, left.data(), right.data(), 200000, 48000, 0.0, "first", nullptr, nullptr, &fault));
    EXPECT_FALSE(WriteBWFStereo(hit, left.data(), right.data(), 200000, 48000, 0.0, "hit", nullptr, nullptr, &fault));
    EXPECT_FALSE(fs::exists(hit));
    EXPECT_FALSE(fs::exists(hit + ".tmp"));

    ASSERT_TRUE(WriteBWFStereo(hit, left.data(), right.data(), 200000, 48000, 0.0, "hit", nullptr, nullptr, &fault));
    for (const std::string& path : {first, hit}) {
        const BwfReadBack back = ReadBwfFile(path);
        ASSERT_TRUE(back.ok) << path;
        EXPECT_EQ(back.frames, 200000);
        EXPECT_EQ(back.codes[2 * 199999 + 1], back.codes[1]) << "the last frame is there";
    }

    // The count covers the header's writes as well: a failure on the first
    // write of a mono file leaves nothing either.
    ArmWriteFault(fault, 1, ENOSPC);
    EXPECT_FALSE(WriteBWFClipMono(dir.File("mono.wav"), left.data(), 1000, 48000, 0.0, "mono", nullptr, nullptr, &fault));
    EXPECT_FALSE(fs::exists(dir.File("mono.wav")));

    // A disk that fills: that write and every later one fail, of any file.
    ArmWriteFault(fault, 2, ENOSPC, "", true);
    EXPECT_FALSE(WriteBWFStereo(first, left.data(), right.data(), 200000, 48000, 0.0, "first", nullptr, nullptr, &fault));
    EXPECT_FALSE(WriteBWFClipMono(dir.File("mono.wav"), left.data(), 1000, 48000, 0.0, "mono", nullptr, nullptr, &fault));
    EXPECT_FALSE(fs::exists(dir.File("mono.wav")));
    EXPECT_TRUE(ReadBwfFile(first).ok) << "the file there before is untouched";
}

// The reverb return's right channel of the AAF session hits the full disk:
// the session is written without it, and the status and the toast name the
// file rather than calling the export complete. A stems pass whose third
// file fails takes back what it wrote, and the text counts all of them.
TEST(ExportLosses, TheStatusAndToastNameTheFileNotWritten) {
    LossRig rig;
    rig.app->questionDialog = [](const char*, const char*) { return true; };

    ArmWriteFault(rig.fault, 2, ENOSPC, "Reverb.R.wav");
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    const char* lostReverb =
        "Export finished with errors \xE2\x80\x94 1 file not written: Reverb.R.wav (No space left on device)";
    EXPECT_EQ(ExportStatusText(*rig.app), lostReverb);
    EXPECT_EQ(rig.app->toastText, lostReverb);
    EXPECT_TRUE(fs::exists(rig.SessionFolder() + "/Reel.aaf"));
    EXPECT_TRUE(fs::exists(rig.AudioFolder() + "/Reverb.L.wav"));
    EXPECT_FALSE(fs::exists(rig.AudioFolder() + "/Reverb.R.wav"));
    EXPECT_TRUE(fs::exists(rig.OutFile("Reel - FX A.wav")));

    // Nothing lost: complete again.
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete");
    // The session, its three layers' and two reverb returns' audio files, and
    // three stems: every file counts, as every file not written counts above.
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete \xE2\x80\x94 9 files");

    // The stems pass writes the reverb stem, BG, then FX A, which fails.
    ArmWriteFault(rig.fault, 1, ENOSPC, "Reel - FX A.wav");
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    const char* lostStems = "Export finished with errors \xE2\x80\x94 3 files not written: Reel - FX A.wav and 2 more "
                            "(No space left on device)";
    EXPECT_EQ(ExportStatusText(*rig.app), lostStems);
    EXPECT_EQ(rig.app->toastText, lostStems);
    EXPECT_TRUE(fs::exists(rig.AudioFolder() + "/Reverb.R.wav"));
}

// The text stays one status line: a long name is cut with an ellipsis, and
// a layer with no voice is named when no file was lost.
TEST(ExportLosses, FinalTextsNameTheFirstLossWithinTheStatusLine) {
    ExportReport report;
    report.filesWritten = 3;
    report.losses.AddFile("/out/Clips/Reel - Door.wav");
    EXPECT_EQ(ExportFinalText(report), "Export finished with errors \xE2\x80\x94 1 file not written: Reel - Door.wav");
    report.losses.files.push_back(std::string(300, 'x') + ".wav");
    report.losses.files.front() = std::string(200, 'y');
    const std::string cut = ExportFinalText(report);
    EXPECT_LE(cut.size(), 127u);
    EXPECT_NE(cut.find("\xE2\x80\xA6 and 1 more"), std::string::npos) << cut;

    ExportReport silent;
    silent.filesWritten = 2;
    silent.losses.layers = {"rain_loop.wav", "Door", "Knock"};
    EXPECT_FALSE(silent.Succeeded());
    EXPECT_EQ(ExportFinalText(silent),
              "Export finished with errors \xE2\x80\x94 3 layers without sound: rain_loop.wav and 2 more");
    silent.aafFailed = true;
    EXPECT_EQ(ExportFinalText(silent), "AAF export FAILED \xE2\x80\x94 2 WAVs written");
}

// The export holds exactly the document's layers: a voice whose layer was
// erased (it still plays until the voices are synced) is neither mixed nor
// written, and a layer that has no voice is named in the status.
TEST(ExportLosses, OnlyTheDocumentsLayersAreExportedAndSilentOnesAreNamed) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5, 0.5f), "Kept");
    rig.Add(ClickVoice(2.0, 1.0, 0.5, 0.9f), "Erased");
    rig.project->results.erase(rig.project->results.begin() + 1);
    RenderResult silent;
    silent.name = "Silent";
    silent.filepath = rig.dir.File("silent.wav");
    silent.startTime = 3.0f;
    silent.duration = 0.5f;
    rig.project->results.push_back(silent);

    const ExportReport report = RunExportJob(rig.Job(true, false, false, true), rig.Context());
    EXPECT_EQ(report.losses.layers, std::vector<std::string>{"Silent"});
    EXPECT_EQ(report.finalText, "Export finished with errors \xE2\x80\x94 1 layer without sound: Silent");
    EXPECT_EQ(ExportStatusText(*rig.app), report.finalText);

    const BwfReadBack mix = ReadBwfFile(rig.OutFile("Mix.wav"));
    ASSERT_TRUE(mix.ok);
    float kept = 0, erased = 0;
    for (int64_t f = 0; f < mix.frames; ++f) {
        const float a = std::fabs(mix.samples[size_t(2 * f)]) + std::fabs(mix.samples[size_t(2 * f + 1)]);
        (f < 2 * kRigRate ? kept : erased) = std::max(f < 2 * kRigRate ? kept : erased, a);
    }
    EXPECT_GT(kept, 0.1f);
    EXPECT_EQ(erased, 0.0f) << "the erased layer is not heard";
    EXPECT_TRUE(fs::exists(rig.OutFile("Clips/Mix - Kept.wav")));
    EXPECT_FALSE(fs::exists(rig.OutFile("Clips/Mix - Erased.wav")));
    size_t clips = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(rig.OutFile("Clips"))) clips += e.is_regular_file();
    EXPECT_EQ(clips, 1u);
}

namespace {

// Every pass: the AAF session with its reverb returns, the mixdown, the
// stems with the reverb stem, the tracks and the clips, over stereo and mono
// layers on tracks of two groups.
struct EveryPassRig : LossRig {
    EveryPassRig() {
        const std::string wide = Source("rain_wide.wav", 4.0, 2);
        AddSourced(wide, 0.0f, 2.5f, 1.5f, "Rain", true, 0, 1);
        AddSourced(wide, 0.5f, 1.0f, 3.0f, "Gust", true, 2, 0);
        app->exportSettings.exportWavMixdown = true;
        app->exportSettings.exportWavTracks = true;
        app->exportSettings.exportWavClips = true;
        project->totalDuration = 6.0f;
    }
};

// The files below `root`, by their path within it.
std::set<std::string> FilesBelow(const std::string& root) {
    std::set<std::string> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        if (it->is_regular_file()) files.insert(fs::relative(it->path(), root).string());
    return files;
}

// "<opening> — N file(s) not written: <first>[ and M more] (<reason>)", or
// "Export failed — nothing written: <first>[ and M more] (<reason>)", taken apart.
struct LossText {
    bool parsed = false;
    bool sessionFailed = false;  // "AAF export FAILED" rather than "Export finished with errors"
    bool nothingWritten = false;
    size_t count = 0;
    std::string first;
    std::string reason;
};

LossText ParseLossText(const std::string& status) {
    LossText t;
    const std::string dash = " \xE2\x80\x94 ";
    const size_t at = status.find(dash);
    if (at == std::string::npos) return t;
    const std::string opening = status.substr(0, at);
    std::string names;
    const std::string nothing = "nothing written: ";
    if (opening == "Export failed" && status.compare(at + dash.size(), nothing.size(), nothing) == 0) {
        t.nothingWritten = true;
        names = status.substr(at + dash.size() + nothing.size());
    } else {
        const size_t colon = status.find(" not written: ");
        if (colon == std::string::npos) return t;
        t.sessionFailed = opening == "AAF export FAILED";
        if (!t.sessionFailed && opening != "Export finished with errors") return t;
        t.count = std::stoul(status.substr(at + dash.size()));
        names = status.substr(colon + 14);
    }
    const size_t open = names.rfind(" (");
    if (open != std::string::npos && names.back() == ')') {
        t.reason = names.substr(open + 2, names.size() - open - 3);
        names.resize(open);
    }
    size_t more = 0;
    const size_t andAt = names.rfind(" and ");
    if (andAt != std::string::npos && names.size() >= 5 && names.compare(names.size() - 5, 5, " more") == 0) {
        more = std::stoul(names.substr(andAt + 5));
        names.resize(andAt);
    }
    if (t.nothingWritten) t.count = more + 1;
    t.first = names;
    t.parsed = true;
    return t;
}

}  // namespace

// The disk fills up at several points of an export with every pass: the
// status counts exactly the files the export meant to write that are not in
// the folder (those a pass never came to, those its undoing took back, the
// session's essences when the session could not be written), and names one
// of them; a failed session names itself.
TEST(ExportLosses, ADiskThatFillsUpLeavesTheCountOfEveryMissingFile) {
    EveryPassRig rig;
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    ASSERT_EQ(rig.app->toastText, "Export complete");
    const std::set<std::string> whole = FilesBelow(rig.Out());
    ASSERT_GT(whole.size(), 14u);

    int failedRuns = 0, sessionsLost = 0;
    for (int nth = 1; nth < (1 << 22); nth *= 3) {
        SCOPED_TRACE("disk full from write " + std::to_string(nth));
        fs::remove_all(rig.Out());
        ArmWriteFault(rig.fault, nth, ENOSPC, "", true);
        ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
        ArmWriteFault(rig.fault, 0, 0);
        const std::string status = ExportStatusText(*rig.app);
        const std::set<std::string> there = FilesBelow(rig.Out());
        std::vector<std::string> missing;
        for (const std::string& f : whole)
            if (!there.count(f)) missing.push_back(f);
        for (const std::string& f : there) EXPECT_TRUE(whole.count(f)) << f << " is not a file of the export";
        if (missing.empty()) {
            EXPECT_EQ(rig.app->toastText, "Export complete") << status;
            break;
        }
        ++failedRuns;
        const LossText text = ParseLossText(status);
        ASSERT_TRUE(text.parsed) << status;
        EXPECT_EQ(text.count, missing.size()) << status;
        // Why: the disk that filled up, every time.
        EXPECT_EQ(text.reason, std::strerror(ENOSPC)) << status;
        EXPECT_EQ(text.nothingWritten, there.empty()) << status;
        bool named = false;
        for (const std::string& f : missing) named = named || fs::path(f).filename() == text.first;
        EXPECT_TRUE(named) << text.first << " is not among the missing files";
        if (text.sessionFailed) {
            ++sessionsLost;
            EXPECT_EQ(text.first, "Reel.aaf");
        }
        if (text.nothingWritten && text.first == "Reel.aaf") ++sessionsLost;
    }
    EXPECT_GE(failedRuns, 5);
    EXPECT_GE(sessionsLost, 1);
}

namespace {

// Exports the rig with every file into `folder` + "/Reel"; the final text.
std::string ExportInto(LossRig& rig, const std::string& folder) {
    ExportContext ctx = rig.Context(ProgramAafStep());
    rig.AssignTracks();
    if (StartExport(ctx, MakeExportJob(*rig.app, *rig.project, *rig.engine, folder + "/Reel")) != ExportStart::Started)
        return "not started";
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return ExportStatusText(*rig.app);
}

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) n += e.is_regular_file() ? 1 : 0;
    return n;
}

}  // namespace

// Into a folder the designer may not write in, nothing is written and the
// text says which folder and why, for the session and the WAV files alike;
// where only the Tracks folder refuses, every track file is counted and the
// folder named. The program runs as a user the folders refuse: as root, the
// export runs in a child that has become "nobody".
TEST(ExportLosses, AFolderThatCannotBeWrittenInIsNamedWithTheReason) {
    TempDir dir;
    const std::string closed = dir.File("Delivery"), open = dir.File("Open"), fine = dir.File("Fine");
    fs::create_directories(closed);
    fs::create_directories(open + "/Tracks");
    fs::create_directories(fine);
    const bool root = ::geteuid() == 0;
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(fine, fs::perms::all);
    fs::permissions(open, fs::perms::all);
    if (!root) {
        // The folders refuse their owner.
        fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(open + "/Tracks", fs::perms::owner_read | fs::perms::owner_exec);
    }
    auto run = [&]() -> int {
        if (root && (::setgroups(0, nullptr) != 0 || ::setresgid(65534, 65534, 65534) != 0 ||
                     ::setresuid(65534, 65534, 65534) != 0))
            return 77;
        LossRig rig;
        rig.app->questionDialog = [](const char*, const char*) { return true; };
        rig.app->exportSettings.exportWavTracks = true;
        int failures = 0;
        auto expect = [&failures](bool ok, const std::string& what) {
            if (!ok) {
                std::fprintf(stderr, "[Test] %s\n", what.c_str());
                ++failures;
            }
        };
        const std::string complete = ExportInto(rig, fine);
        expect(complete.rfind("Export complete", 0) == 0, "a folder it may write in: " + complete);
        const size_t tracks = FilesIn(fine + "/Tracks");
        expect(tracks >= 2, "tracks written: " + std::to_string(tracks));

        const std::string refused = ExportInto(rig, closed);
        const std::string nothing =
            "Export failed \xE2\x80\x94 nothing written: \xE2\x80\x9C" "Delivery\xE2\x80\x9D is not writable (" +
            std::string(std::strerror(EACCES)) + ")";
        expect(refused == nothing, "read-only folder: " + refused);
        expect(rig.app->toastText == nothing, "its toast: " + rig.app->toastText);
        expect(fs::is_empty(closed), "something was written into the folder");

        const std::string partly = ExportInto(rig, open);
        const std::string tracksLost = "Export finished with errors \xE2\x80\x94 " + std::to_string(tracks) +
                                       " files not written: \xE2\x80\x9CTracks\xE2\x80\x9D is not writable (" +
                                       std::string(std::strerror(EACCES)) + ")";
        expect(partly == tracksLost, "read-only Tracks folder: " + partly);
        expect(fs::exists(open + "/Reel.wav") || fs::exists(open + "/Reel - BG.wav"), "the stems are written");
        return failures;
    };
    if (!root) {
        EXPECT_EQ(run(), 0);
        return;
    }
    ChildProcess child([&run] { ::_exit(run()); });
    const int status = child.Wait();
    if (status == 77) GTEST_SKIP() << "this test needs to run as a user other than root, and cannot become one here";
    EXPECT_EQ(status, 0) << "see the [Test] lines above";
}
