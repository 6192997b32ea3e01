// What a whole export leaves in its folders: names that fit and never repeat
// a sound's extension, base names refused before anything is written, and an
// earlier export replaced only by an export that succeeded, with every file
// of another name left alone.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <atomic>
#include <cerrno>
#include <functional>
#include <map>
#include <thread>

#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "export/aaf_export_rig.h"
#include "export/aaf_test_tools.h"
#include "export/export_names.h"
#include "export/export_replacement.h"
#include "export/export_folders.h"
#include "platform/file_util.h"
#include "support/audio_fixtures.h"
#include "support/exported_files.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> Under(const std::map<std::string, std::string>& files, const std::string& prefix) {
    std::map<std::string, std::string> part;
    for (const auto& [path, bytes] : files)
        if (path.compare(0, prefix.size(), prefix) == 0) part[path] = bytes;
    return part;
}


bool gAnswer = false;
int gQuestions = 0;
std::string gQuestion;
bool Answer(const char*, const char* text) {
    ++gQuestions;
    gQuestion = text;
    return gAnswer;
}

// Three sourced results on three tracks; AAF and every WAV pass chosen.
struct WholeExportRig : AafRig {
    WholeExportRig() {
        app->exportSettings.exportFormatWAV = true;
        app->exportSettings.exportWavMixdown = true;
        app->exportSettings.exportWavStems = true;
        app->exportSettings.exportWavTracks = true;
        app->exportSettings.exportWavClips = true;
        const std::string src = Source("door_slam_01.wav", 3.0, 1);
        const std::string wide = Source("rain_light_loop.wav", 3.0, 2, kRigRate, 7);
        AddSourced(src, 0.2f, 1.0f, 1.0f, "door_slam_01.wav", false, 1, 0);
        AddSourced(wide, 0.5f, 1.5f, 2.0f, "rain_light_loop.wav", true, 0, 0);
        AddSourced(src, 1.0f, 0.5f, 3.0f, "Knock", false, 2, 0);
        app->questionDialog = Answer;
    }

    ExportStart ExportAndWait(const std::string& chosen) {
        AssignTracks();
        const ExportStart started =
            StartExport(Context(ProgramAafStep()), MakeExportJob(*app, *project, *engine, chosen));
        if (started == ExportStart::Started)
            while (!PollExport(*app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return started;
    }
    // The AAF, the mixdown and the clips: an earlier export for a later one to replace.
    ExportStart ExportWithoutStemsOrTracks(const std::string& chosen) {
        app->exportSettings.exportWavStems = false;
        app->exportSettings.exportWavTracks = false;
        return ExportAndWait(chosen);
    }
};

}  // namespace

// A 250-byte base name (the longest the ".aaf.tmp" of its session file once
// broke) exports; every name with the temporary suffix fits 255 bytes, is
// cut only at a character boundary, and files named after a sound file
// carry one extension.
TEST(ExportNames, LongBaseNamesExportAndSoundFileNamesKeepOneExtension) {
    std::string utf8;
    while (utf8.size() < 250) utf8 += "é";  // two-byte characters across every cut
    for (const std::string& base : {std::string(250, 'R'), utf8}) {
        SCOPED_TRACE(base.size());
        WholeExportRig rig;
        gQuestions = 0;
        ASSERT_EQ(rig.ExportAndWait(rig.Out() + "/" + base), ExportStart::Started);
        EXPECT_EQ(rig.app->toastText, "Export complete");
        EXPECT_EQ(gQuestions, 0);

        const std::map<std::string, std::string> files = Snapshot(rig.Out());
        int essence = 0;
        for (const auto& [path, bytes] : files) {
            const std::string name = fs::path(path).filename().string();
            EXPECT_LE(name.size() + 4, 255u) << name;
            EXPECT_EQ(ToValidUtf8(name), name);
            EXPECT_EQ(name.find(".wav.wav"), std::string::npos) << name;
            EXPECT_EQ(name.find(".wav.L"), std::string::npos) << name;
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
            if (path.find("/Audio Files/") != std::string::npos) ++essence;
        }
        EXPECT_EQ(essence, 4);
        const std::string session = rig.Out() + "/" + base;
        ASSERT_TRUE(fs::is_directory(session)) << "the session folder keeps the whole name";
        EXPECT_TRUE(fs::exists(session + "/Audio Files/FX A1_000_door_slam_01.wav"));
        EXPECT_TRUE(fs::exists(session + "/Audio Files/BG1_001_rain_light_loop.L.wav"));
        EXPECT_TRUE(fs::exists(session + "/Audio Files/BG1_001_rain_light_loop.R.wav"));

        // One cut base begins every WAV name; the session file is the name cut to fit.
        const std::string wavBase = WavFileBase(base);
        EXPECT_LT(wavBase.size(), base.size());
        EXPECT_TRUE(files.count(wavBase + ".wav"));
        EXPECT_TRUE(files.count("Clips/" + wavBase + " - door_slam_01.wav"));
        EXPECT_TRUE(files.count("Clips/" + wavBase + " - rain_light_loop.wav"));
        EXPECT_TRUE(files.count("Tracks/" + wavBase + " - BG 01.wav"));
        const std::string aafName = AafFileName(base);
        EXPECT_LE(aafName.size() + 4, 255u);
        EXPECT_GE(aafName.size() + 4, 254u) << "cut no further than a character needs";
        const AafReadBack oracle = ReadWithOracle(session + "/" + aafName);
        EXPECT_TRUE(oracle.ok) << oracle.message;
    }
    EXPECT_EQ(WithoutAudioExtension("door_slam_01.WAV"), "door_slam_01");
    EXPECT_EQ(WithoutAudioExtension("pad.aiff"), "pad");
    EXPECT_EQ(WithoutAudioExtension(".wav"), ".wav");
    EXPECT_EQ(WithoutAudioExtension("Reel.v2"), "Reel.v2");
}

// "." and "..", a "/" or control characters in a base name: refused with a
// message at every door, and not a byte written anywhere.
TEST(ExportNames, BaseNamesThatLeaveTheFolderAreRefusedBeforeAnythingIsWritten) {
    for (const std::string& base : {std::string(".."), std::string("."), std::string("bad\x01name")}) {
        SCOPED_TRACE(base);
        WholeExportRig rig;
        fs::create_directories(rig.Out());
        const std::map<std::string, std::string> before = Snapshot(rig.dir.path());
        rig.AssignTracks();
        ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, rig.Out() + "/x");
        job.baseName = base;

        EXPECT_EQ(StartExport(rig.Context(ProgramAafStep()), job), ExportStart::InvalidName);
        EXPECT_EQ(rig.app->toastText.rfind("Export refused. A name cannot", 0), 0u) << rig.app->toastText;
        EXPECT_FALSE(rig.app->exportRunning.load());

        const ExportReport report = RunExportJob(job, rig.Context(ProgramAafStep()));
        EXPECT_FALSE(report.Succeeded());
        EXPECT_EQ(report.finalText, rig.app->toastText);
        EXPECT_FALSE(WriteAafExport(job, *rig.project, *rig.engine));
        bool failed = false;
        EXPECT_EQ(rig.Pass(job, kWavMixdown, false, &failed), 0);
        EXPECT_TRUE(failed);
        EXPECT_EQ(Snapshot(rig.dir.path()), before);
        EXPECT_TRUE(fs::is_empty(rig.Out()));
    }
    // The save dialog's ".." arrives as a base name of its own.
    WholeExportRig rig;
    EXPECT_EQ(MakeExportJob(*rig.app, *rig.project, *rig.engine, rig.Out() + "/..").baseName, "..");
}

// Re-exporting a changed project over an earlier export: "No" changes
// nothing; "Yes" leaves exactly what a fresh export of the new project
// writes, beside every planted file, untouched, including one that only
// looks like an export's file.
TEST(ExportReplacement, YesLeavesExactlyTheNewExportBesideForeignFiles) {
    WholeExportRig rig;
    const std::string chosen = rig.Out() + "/Reel";
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    const std::map<std::string, std::string> first = Snapshot(rig.Out());
    ASSERT_GE(first.size(), 12u);

    const std::vector<float> plain(100, 0.1f);
    ASSERT_TRUE(WriteWholeFile(rig.SessionFolder() + "/notes.txt", "mine"));
    ASSERT_TRUE(WriteSamples(rig.AudioFolder() + "/foreign.wav", plain, 1, kRigRate));
    ASSERT_TRUE(WriteSamples(rig.AudioFolder() + "/FX A9_123_looks_like_ours.wav", plain, 1, kRigRate));
    ASSERT_TRUE(WriteSamples(rig.OutFile("Clips/Reel - planted.wav"), plain, 1, kRigRate));
    ASSERT_TRUE(WriteWholeFile(rig.OutFile("Reel notes.wav"), "mine too"));
    const std::map<std::string, std::string> planted = Snapshot(rig.Out());
    ASSERT_EQ(planted.size(), first.size() + 5);

    // The project changes: other names, one result fewer, another mix.
    rig.project->results[0].name = "Slam";
    rig.project->results[2].muted = true;
    rig.engine->voices[2].muted = 1;
    rig.engine->masterGain = 0.5f;

    gAnswer = false;
    gQuestions = 0;
    EXPECT_EQ(rig.ExportAndWait(chosen), ExportStart::Declined);
    EXPECT_EQ(gQuestions, 1);
    EXPECT_EQ(Snapshot(rig.Out()), planted);

    gAnswer = true;
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    EXPECT_EQ(gQuestions, 2);
    EXPECT_EQ(rig.app->toastText, "Export complete");
    const std::map<std::string, std::string> after = Snapshot(rig.Out());

    // The same project exported into an empty folder.
    ASSERT_EQ(rig.ExportAndWait(rig.dir.path() + "/fresh/Reel"), ExportStart::Started);
    std::map<std::string, std::string> expected;
    for (const auto& [path, bytes] : Snapshot(rig.dir.path() + "/fresh")) expected[path] = "";
    for (const auto& [path, bytes] : planted)
        if (!first.count(path)) expected[path] = bytes;
    std::map<std::string, std::string> got;
    for (const auto& [path, bytes] : after) got[path] = first.count(path) || !planted.count(path) ? "" : bytes;
    EXPECT_EQ(got, expected);
    EXPECT_FALSE(fs::exists(rig.AudioFolder() + "/FX A1_000_door_slam_01.wav")) << "the earlier essence is gone";
    EXPECT_TRUE(fs::exists(rig.AudioFolder() + "/FX A1_000_Slam.wav"));
    EXPECT_NE(after.at("Reel.wav"), first.at("Reel.wav"));
    for (const fs::directory_entry& e : fs::directory_iterator(rig.Out()))
        EXPECT_NE(e.path().filename().string().rfind(".tessaloom-replacing", 0), 0u) << "no set-aside folder is left";
}

// "Replace them?" counts what the export replaces: every file the program
// wrote (also one the new export does not write again) and a file of
// another program that has a name the export writes. A file of another
// program that only fits a pass's pattern stays out of the count and where
// it is, also when its name is a clip's with a number no clip gets.
TEST(ExportReplacement, TheQuestionCountsOnlyWhatTheExportReplaces) {
    WholeExportRig rig;
    const std::string chosen = rig.Out() + "/Reel";
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    const std::map<std::string, std::string> first = Snapshot(rig.Out());

    const std::vector<float> plain(100, 0.1f);
    const std::vector<std::string> foreign = {"Reel - notes.wav", "Clips/Reel - planted.wav",
                                              "Clips/Reel - Knock_2.wav", "Tracks/Reel - BG 01 mix.wav",
                                              "Reel/Audio Files/FX A9_123_looks_like_ours.wav"};
    for (const std::string& name : foreign) ASSERT_TRUE(WriteSamples(rig.OutFile(name), plain, 1, kRigRate));
    // Another program's file under the name of one of the new clips.
    ASSERT_TRUE(WriteSamples(rig.OutFile("Clips/Reel - Knock.wav"), plain, 1, kRigRate));
    const std::map<std::string, std::string> planted = Snapshot(rig.Out());

    gAnswer = true;
    gQuestions = 0;
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    ASSERT_EQ(gQuestions, 1);
    const std::string count = "(" + std::to_string(first.size()) + " items). Replace them?";
    EXPECT_NE(gQuestion.find(count), std::string::npos) << gQuestion << "\n expected " << count;
    const std::map<std::string, std::string> after = Snapshot(rig.Out());
    for (const std::string& name : foreign) EXPECT_EQ(after.at(name), planted.at(name)) << name;
    EXPECT_TRUE(IsOwnBroadcastWav(rig.OutFile("Clips/Reel - Knock.wav"))) << "replaced by the new clip";
    EXPECT_EQ(after.size(), first.size() + foreign.size());
}

// A pass that fails fails the whole export: nothing of it is put in place,
// the passes that succeeded included, so the earlier export stands whole at
// every name (never a delivery of two exports), and the status says so.
TEST(ExportReplacement, AFailedPassLeavesTheWholeEarlierExport) {
    WholeExportRig rig;
    const std::string chosen = rig.Out() + "/Reel";
    ASSERT_EQ(rig.ExportWithoutStemsOrTracks(chosen), ExportStart::Started);
    const std::map<std::string, std::string> first = Snapshot(rig.Out());

    rig.project->results[0].name = "Slam";
    rig.engine->masterGain = 0.5f;
    // The new session cannot be saved, and one new clip file finds its disk full.
    ArmWriteFault(rig.fault, 1, ENOSPC, "Reel - Slam.wav", true);
    rig.writerSucceeds = false;
    AafRig* session = &rig;
    const ExportContext ctx = rig.Context([session](const ExportJob& job, const Project& p, const AudioEngine& e) {
        return WriteAafExport(job, p, e, session->Writer());
    });
    gAnswer = true;
    rig.AssignTracks();
    ASSERT_EQ(StartExport(ctx, MakeExportJob(*rig.app, *rig.project, *rig.engine, chosen)), ExportStart::Started);
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(rig.session.calls, 1);
    EXPECT_NE(rig.app->toastText, "Export complete");

    const std::map<std::string, std::string> after = Snapshot(rig.Out());
    EXPECT_EQ(Under(after, "Reel/"), Under(first, "Reel/")) << "the earlier session is whole";
    EXPECT_EQ(after, first) << "the mixdown that was written is not put in place either";
    EXPECT_TRUE(HiddenExportEntries(rig.Out()).empty());
    const std::string status = ExportStatusText(*rig.app);
    EXPECT_EQ(status.rfind("Export failed in the AAF session", 0), 0u) << status;
    EXPECT_NE(rig.app->toastText.find("the earlier export is whole"), std::string::npos) << rig.app->toastText;
}

namespace {

std::atomic<bool>* gStopAtFirstClip = nullptr;

// Stops the export the moment its first clip file is moved into place, as a
// signal to end the program would.
int StopAtFirstClip(FileFaultPoint point, const std::string& path) {
    if (point == FileFaultPoint::Move && path.find("/Clips/") != std::string::npos && gStopAtFirstClip)
        gStopAtFirstClip->store(true);
    return 0;
}

}  // namespace

// An export stopped halfway through its last pass: every pass is undone, the
// session and the mixdown the passes before it had replaced included, so the
// folder holds the earlier export byte for byte, as a kill leaves it for the
// next start; nothing hidden is left. Into a fresh folder, a stopped export
// leaves nothing at all. A stop asked for before a pass starts keeps it from
// starting.
TEST(ExportReplacement, AStoppedExportUndoesEveryPass) {
    WholeExportRig rig;
    const std::string chosen = rig.Out() + "/Reel";
    ASSERT_EQ(rig.ExportWithoutStemsOrTracks(chosen), ExportStart::Started);
    const std::map<std::string, std::string> first = Snapshot(rig.Out());
    ASSERT_GE(Under(first, "Clips/").size(), 2u);
    ASSERT_GE(Under(first, "Reel/").size(), 2u);

    rig.engine->masterGain = 0.5f;
    rig.project->results[0].name = "Slam";
    gAnswer = true;
    gStopAtFirstClip = &rig.app->exportCancel;
    rig.observer.fileFault = StopAtFirstClip;
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export stopped — the earlier export is whole");
    EXPECT_EQ(Snapshot(rig.Out()), first) << "the earlier export is back whole";

    // While the program is being ended, a process of their own removes the
    // new files: the export ends without waiting for the disk.
    rig.app->exportEnding.store(true);
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    rig.app->exportEnding.store(false);
    EXPECT_EQ(rig.app->toastText, "Export stopped — the earlier export is whole");
    // Only the folder's own names are looked at while the files go: a walk
    // below them would meet entries vanishing under it.
    EXPECT_TRUE(WaitUntil([&] { return HiddenExportEntries(rig.Out()).empty(); }));
    EXPECT_EQ(Snapshot(rig.Out()), first);

    rig.app->exportCancel.store(false);
    ASSERT_EQ(rig.ExportAndWait(rig.dir.File("fresh") + "/Reel"), ExportStart::Started);
    rig.observer.fileFault = nullptr;
    gStopAtFirstClip = nullptr;
    EXPECT_EQ(rig.app->toastText, "Export stopped — nothing was written");
    EXPECT_FALSE(fs::exists(rig.dir.File("fresh"))) << "nothing of a stopped export into a new folder is left";

    std::atomic<bool> stopped{true};
    ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, rig.Out() + "/Other");
    job.cancel = &stopped;
    const ExportReport report = RunExportJob(job, rig.Context(ProgramAafStep()));
    EXPECT_EQ(report.finalText, "Export stopped — nothing was written");
    EXPECT_TRUE(report.stopped);
    EXPECT_FALSE(fs::exists(rig.OutFile("Other.wav")));
}

// The stop reaches every pass part-way: held in the middle of the AAF step
// and of each WAV pass, a stop ends the export there, and the folder holds
// the earlier export byte for byte. The progress the footer shows had moved
// into the pass's share by then.
TEST(ExportReplacement, AStopReachesEveryPassPartWay) {
    WholeExportRig rig;
    rig.project->totalDuration = 30.0f;  // three windows of the mix
    const std::string chosen = rig.Out() + "/Reel";
    ASSERT_EQ(rig.ExportAndWait(chosen), ExportStart::Started);
    const std::map<std::string, std::string> first = Snapshot(rig.Out());
    rig.engine->masterGain = 0.5f;
    gAnswer = true;
    const ExportPass passes[] = {ExportPass::Aaf, ExportPass::Mixdown, ExportPass::Stems, ExportPass::Tracks,
                                 ExportPass::Clips};
    for (int p = 0; p < 5; ++p) {
        SCOPED_TRACE("pass " + std::to_string(p));
        HoldExport(rig.hold, true, passes[p], 0.5);
        rig.AssignTracks();
        ASSERT_EQ(StartExport(rig.Context(ProgramAafStep()), MakeExportJob(*rig.app, *rig.project, *rig.engine, chosen)),
                  ExportStart::Started);
        ASSERT_TRUE(WaitUntil([&] { return ExportWaitsAtHold(rig.hold); }, std::chrono::minutes(2)));
        const float progress = rig.app->exportProgress.load();
        EXPECT_GE(progress, 0.2f * float(p) + 0.1f - 1e-4f) << "half-way through the pass's fifth";
        EXPECT_LT(progress, 0.2f * float(p + 1));
        StopRunningExport(*rig.app);
        while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_FALSE(ExportWaitsAtHold(rig.hold));
        EXPECT_EQ(rig.app->toastText, "Export stopped — the earlier export is whole");
        EXPECT_EQ(Snapshot(rig.Out()), first);
    }
    HoldExport(rig.hold, false);
}

// The earlier files each pass owns, by the pass's folders and names.
TEST(ExportReplacement, EachPassOwnsItsFoldersAndNames) {
    WholeExportRig rig;
    ASSERT_EQ(rig.ExportAndWait(rig.Out() + "/Reel"), ExportStart::Started);
    rig.AssignTracks();
    ExportJob job = MakeExportJob(*rig.app, *rig.project, *rig.engine, rig.Out() + "/Reel");
    auto names = [&](ExportPass pass) {
        std::vector<std::string> out;
        for (const std::string& f : EarlierExportFiles(job, pass)) out.push_back(fs::relative(f, rig.Out()).string());
        return out;
    };
    EXPECT_EQ(names(ExportPass::Mixdown), std::vector<std::string>{"Reel.wav"});
    EXPECT_EQ(names(ExportPass::Stems), (std::vector<std::string>{"Reel - BG.wav", "Reel - FX A.wav", "Reel - FX B.wav"}));
    EXPECT_EQ(names(ExportPass::Tracks).size(), 3u);
    EXPECT_EQ(names(ExportPass::Clips).size(), 3u);
    const std::vector<std::string> aaf = names(ExportPass::Aaf);
    ASSERT_EQ(aaf.size(), 5u);
    EXPECT_EQ(aaf[0], "Reel/Reel.aaf");
    EXPECT_TRUE(IsOwnBroadcastWav(rig.OutFile("Reel.wav")));
    EXPECT_FALSE(IsOwnBroadcastWav(rig.OutFile("Reel/Reel.aaf")));

    // Without stems, the reverb stem's pass owns the names beside the mixdown.
    job.wavStems = false;
    job.reverbStem = true;
    EXPECT_EQ(names(ExportPass::Stems), std::vector<std::string>{});
    EXPECT_EQ(names(ExportPass::Tracks).size(), 6u);
    job.exportWAV = false;
    EXPECT_TRUE(names(ExportPass::Tracks).empty());
    EXPECT_EQ(names(ExportPass::Aaf).size(), 5u);
}

// A failed export takes away the export folder and the parents it made,
// each reached from the folder below it: only while its name still names the
// folder it made and nothing is in it. A folder put at the name by someone
// else stays, and so does a made folder that holds anything.
TEST(ExportReplacement, AnUndoneNewFolderGoesOnlyWhileItsNameIsTheExportsOwn) {
    struct Case {
        const char* what;
        std::function<void(const std::string& outer, const std::string& inner)> meanwhile;
        bool outerGoes, innerGoes;
    };
    const Case cases[] = {
        {"untouched", [](const std::string&, const std::string&) {}, true, true},
        {"moved away, another folder at its name",
         [](const std::string& outer, const std::string& inner) {
             fs::rename(inner, outer + "/Moved");
             fs::create_directory(inner);
         },
         false, false},
        {"holding a file of someone else",
         [](const std::string&, const std::string& inner) { WriteWholeFile(inner + "/notes.txt", "mine"); }, false,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string outer = dir.File("Delivery"), inner = outer + "/Reel";
        ASSERT_TRUE(fs::create_directories(inner));
        // The export folder as the export holds it.
        const int held = ::open(inner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        c.meanwhile(outer, inner);
        RemoveFoldersMadeAbove(held, {outer, inner});
        ::close(held);
        EXPECT_EQ(fs::exists(outer), !c.outerGoes);
        EXPECT_EQ(fs::exists(inner), !c.innerGoes);
    }
}
