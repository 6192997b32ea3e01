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
#include <functional>
#include <set>
#include <thread>

#include "export/aaf_export_rig.h"
#include "export/bwf_writer.h"
#include "operations/export_job.h"
#include "support/child_process.h"
#include "support/exported_files.h"
#include "support/wait_until.h"

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
// nothing of the export is put in place (the session would lack it), and
// the status and the toast name the pass, the drive, the file and its
// folder, and say that the earlier export is whole. A stems pass whose third
// file fails (the reverb stem and BG written) fails the export the same way.
TEST(ExportLosses, TheStatusAndToastNameTheFileNotWritten) {
    LossRig rig;
    rig.app->questionDialog = [](const char*, const char*) { return true; };

    ArmWriteFault(rig.fault, 2, ENOSPC, "Reverb.R.wav");
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    const std::string status = ExportStatusText(*rig.app);
    EXPECT_EQ(status.rfind("Export failed in the AAF session \xE2\x80\x94 the drive at ", 0), 0u) << status;
    EXPECT_NE(status.find(" is full (\xE2\x80\x9CReverb.R.wav\xE2\x80\x9D in \xE2\x80\x9C" "Audio Files\xE2\x80\x9D); nothing was written"),
              std::string::npos)
        << status;
    EXPECT_EQ(rig.app->toastText, status);
    EXPECT_FALSE(fs::exists(rig.SessionFolder()));
    EXPECT_FALSE(fs::exists(rig.OutFile("Reel - FX A.wav")));

    // Nothing lost: complete.
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete");
    // The session, its three layers' and two reverb returns' audio files, and
    // three stems: every file counts.
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete \xE2\x80\x94 9 files");
    const std::map<std::string, std::string> earlier = ExportedFiles(rig.Out());

    // The stems pass writes the reverb stem, BG, then FX A, which fails.
    rig.engine->masterGain = 0.5f;
    ArmWriteFault(rig.fault, 1, ENOSPC, "Reel - FX A.wav");
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    const std::string stems = ExportStatusText(*rig.app);
    EXPECT_EQ(stems.rfind("Export failed in the stems \xE2\x80\x94 the drive at ", 0), 0u) << stems;
    EXPECT_NE(stems.find("(\xE2\x80\x9CReel - FX A.wav\xE2\x80\x9D in \xE2\x80\x9C" + fs::path(rig.Out()).filename().string() +
                         "\xE2\x80\x9D); the earlier export is whole"),
              std::string::npos)
        << stems;
    EXPECT_EQ(rig.app->toastText, stems);
    EXPECT_EQ(ExportedFiles(rig.Out()), earlier) << "the session the AAF step wrote is not put in place either";
}

// The text stays one status line: a long name is cut with an ellipsis, and
// a layer with no voice is named when no file was lost.
TEST(ExportLosses, FinalTextsNameTheFirstLossWithinTheStatusLine) {
    ExportReport report;
    report.filesWritten = 3;
    report.wavFailed = true;
    report.failedPass = ExportPass::Clips;
    report.losses.AddFile("/out/Clips/Reel - Door.wav");
    EXPECT_EQ(ExportFinalText(report),
              "Export failed in the clips \xE2\x80\x94 \xE2\x80\x9CReel - Door.wav\xE2\x80\x9D could not be written; "
              "nothing was written");
    report.earlierWhole = true;
    report.losses.files.push_back(std::string(300, 'x') + ".wav");
    report.losses.files.front() = std::string(200, 'y');
    const std::string cut = ExportFinalText(report);
    EXPECT_LE(cut.size(), 127u);
    EXPECT_NE(cut.find("\xE2\x80\xA6\xE2\x80\x9D and 1 more could not be written; the earlier export is whole"),
              std::string::npos)
        << cut;

    ExportReport silent;
    silent.filesWritten = 2;
    silent.losses.layers = {"rain_loop.wav", "Door", "Knock"};
    EXPECT_FALSE(silent.Succeeded());
    EXPECT_EQ(ExportFinalText(silent),
              "Export finished with errors \xE2\x80\x94 3 layers without sound: rain_loop.wav and 2 more");
    silent.folderGone = "/media/disk/Delivery";
    silent.aafFailed = true;
    EXPECT_EQ(ExportFinalText(silent),
              "Export failed in the AAF session \xE2\x80\x94 the export folder \xE2\x80\x9C" "Delivery\xE2\x80\x9D was "
              "removed during the export; nothing was written");
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

}  // namespace

// The disk fills up in each pass of an export with every pass: each time,
// nothing of the new export is put in place (the earlier export stands
// whole, file for file, with nothing hidden beside it), and the status names
// the pass that met the full disk and the drive, and says that the earlier
// export is whole; once the disk no longer fills up, the export is complete.
TEST(ExportLosses, ADiskThatFillsUpLeavesTheEarlierExportWhole) {
    EveryPassRig rig;
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    ASSERT_EQ(rig.app->toastText, "Export complete");
    const std::map<std::string, std::string> earlier = ExportedFiles(rig.Out());
    ASSERT_GT(earlier.size(), 14u);
    rig.engine->masterGain = 0.5f;
    rig.app->questionDialog = [](const char*, const char*) { return true; };

    // A file of each pass, by where the earlier export has it.
    struct Case {
        const char* pass;
        std::function<bool(const std::string&)> of;
    };
    const Case cases[] = {
        {"AAF session", [](const std::string& f) { return f.find(".aaf") != std::string::npos; }},
        {"mixdown", [](const std::string& f) { return f.find('/') == std::string::npos && f.find(" - ") == std::string::npos; }},
        {"stems", [](const std::string& f) { return f.find('/') == std::string::npos && f.find(" - ") != std::string::npos; }},
        {"tracks", [](const std::string& f) { return f.rfind("Tracks/", 0) == 0; }},
        {"clips", [](const std::string& f) { return f.rfind("Clips/", 0) == 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pass);
        std::string file;
        for (const auto& [path, bytes] : earlier)
            if (file.empty() && c.of(path)) file = fs::path(path).filename().string();
        ASSERT_FALSE(file.empty());
        // The disk fills up at that file's first write, and stays full.
        ArmWriteFault(rig.fault, 1, ENOSPC, file, true);
        ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
        ArmWriteFault(rig.fault, 0, 0);
        const std::string status = ExportStatusText(*rig.app);
        EXPECT_EQ(ExportedFiles(rig.Out()), earlier) << status;
        EXPECT_TRUE(HiddenExportEntries(rig.Out()).empty()) << status;
        EXPECT_EQ(status.rfind("Export failed in the " + std::string(c.pass) + " \xE2\x80\x94 the drive at ", 0), 0u)
            << status;
        EXPECT_NE(status.find(" is full ("), std::string::npos) << status;
        EXPECT_NE(rig.app->toastText.find("; the earlier export is whole"), std::string::npos) << rig.app->toastText;
    }
    ASSERT_EQ(rig.ExportAndWait(), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete");
}

// The export folder removed while the stems pass runs: nothing is in place,
// and the status says the folder (by its name) was removed, rather than
// counting files as if some were on the disk.
TEST(ExportLosses, AnExportFolderRemovedMeanwhileIsNamed) {
    LossRig rig;
    HoldExport(rig.hold, true, ExportPass::Stems, 0.5);
    ASSERT_EQ(StartExport(rig.Context(ProgramAafStep()), rig.Job()), ExportStart::Started);
    ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(rig.hold); }, std::chrono::minutes(2)));
    fs::remove_all(rig.Out());
    HoldExport(rig.hold, false);
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const std::string status = ExportStatusText(*rig.app);
    EXPECT_EQ(status.rfind("Export failed", 0), 0u) << status;
    EXPECT_NE(rig.app->toastText.find("the export folder \xE2\x80\x9C" + fs::path(rig.Out()).filename().string() +
                                      "\xE2\x80\x9D was removed during the export; nothing was written"),
              std::string::npos)
        << rig.app->toastText;
    EXPECT_FALSE(fs::exists(rig.Out()));
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
// where only the Tracks folder refuses, the tracks pass fails the export:
// the folder is named, and nothing is put in place. The program runs as a user the folders refuse: as root, the
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
        const std::string tracksLost = "Export failed in the tracks \xE2\x80\x94 \xE2\x80\x9CTracks\xE2\x80\x9D is not "
                                       "writable (" + std::string(std::strerror(EACCES)) + "); nothing was written";
        expect(partly == tracksLost, "read-only Tracks folder: " + partly);
        expect(!fs::exists(open + "/Reel.wav") && !fs::exists(open + "/Reel - BG.wav"),
               "nothing of the failed export is put in place");
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
