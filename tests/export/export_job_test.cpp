// Export job: order of the steps and their texts, the rollback, the AAF
// step's interface, the start and finish on the interface thread, and an
// export beside a running frame loop and audio thread.
#include "operations/export_job.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <thread>

#include "export/bwf_readback.h"
#include "export/bwf_writer.h"
#include "export/export_rig.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/document_context.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "support/audio_fixtures.h"
#include "support/exported_files.h"
#include "support/run_command.h"

namespace fs = std::filesystem;

namespace {

// Where the drive holding `path` is mounted, as findmnt tells it.
std::string MountPointOfPath(const std::string& path) {
    std::string at = path;
    while (!fs::exists(at) && at.find('/') != std::string::npos) at = fs::path(at).parent_path().string();
    std::string out = RunCommand({"findmnt", "-n", "-o", "TARGET", "--target", at}).out;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
}

}  // namespace

namespace {

// Runs an export through the interface routines and finishes it as the frame does.
ExportStart ExportAndWait(ExportRig& rig, const ExportContext& ctx, const ExportJob& job) {
    const ExportStart started = StartExport(ctx, job);
    if (started != ExportStart::Started) return started;
    while (!PollExport(*rig.app)) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return started;
}

int gQuestions = 0;
bool gAnswer = false;
bool CountingQuestion(const char*, const char*) {
    ++gQuestions;
    return gAnswer;
}

}  // namespace

TEST(ExportJob, SnapAndRangeEdges) {
    EXPECT_EQ(SnapSamplePosition(true, 1600.0f, 799), 0);
    EXPECT_EQ(SnapSamplePosition(true, 1600.0f, 800), 1600);
    EXPECT_EQ(SnapSamplePosition(true, 1600.0f, 2401), 3200);
    EXPECT_EQ(SnapSamplePosition(true, 1999.6f, 1000), 2000);  // the step rounds to 2000
    EXPECT_EQ(SnapSamplePosition(true, 0.4f, 12345), 12345);    // rounds below one sample
    EXPECT_EQ(SnapSamplePosition(true, 0.0f, 12345), 12345);
    EXPECT_EQ(SnapSamplePosition(false, 1600.0f, 799), 799);

    RenderResult r;
    r.startTime = 5.0f;
    r.duration = 5.0f;
    EXPECT_FALSE(IsInExportRange(true, 10.0f, 20.0f, r));  // touches the in point only
    r.duration = 5.01f;
    EXPECT_TRUE(IsInExportRange(true, 10.0f, 20.0f, r));
    r.startTime = 20.0f;
    EXPECT_FALSE(IsInExportRange(true, 10.0f, 20.0f, r));  // starts at the out point
    EXPECT_TRUE(IsInExportRange(false, 10.0f, 20.0f, r));
}

TEST(ExportJob, FinalTexts) {
    EXPECT_EQ(ExportFinalText(1), "Export complete — 1 file");
    EXPECT_EQ(ExportFinalText(3), "Export complete — 3 files");

    // The layer counts end every text; a named loss is cut (between whole
    // characters, with "…") to leave them and the reason room.
    ExportReport report;
    report.filesWritten = 79;
    report.layerSounds.missing = 60;
    EXPECT_EQ(ExportFinalText(report), "Export complete — 79 files; 60 layers silent (sound missing)");
    report.layerSounds = LayerSoundCounts{1, 0, 0, 0};
    report.losses.files = {"Ko\xCC\x81" + std::string(200, 'x') + ".wav", "b.wav"};
    report.losses.why = WriteFailure{"/out/x.wav", EIO, false, ""};
    report.wavFailed = true;
    report.failedPass = ExportPass::Stems;
    // The name gives way first: the line keeps to its 127 bytes while a
    // readable start of the name is left.
    const std::string named = ExportFinalText(report);
    EXPECT_NE(named.find("\xE2\x80\xA6"), std::string::npos) << "the name gave way: " << named;
    EXPECT_EQ(named.rfind("Export failed in the stems — “Ko\xCC\x81xxx", 0), 0u) << named;
    EXPECT_NE(named.find("\xE2\x80\xA6” and 1 more could not be written (Input/output error); nothing was written; "
                         "1 layer silent (sound missing)"),
              std::string::npos)
        << named;
    // Every count stays whole beside the reason; the name keeps a readable
    // start even when the line cannot hold it all (the toast shows it whole).
    report.layerSounds = LayerSoundCounts{12, 30, 4, 2};
    const std::string crowded = ExportFinalText(report);
    EXPECT_NE(crowded.find("“Ko\xCC\x81xxx"), std::string::npos) << crowded;
    EXPECT_NE(crowded.find("(Input/output error); nothing was written; 12 layers silent (sound missing); 30 layers that matched no "
                           "sound; 4 layers from a changed sound; 2 alloy layers without one of their sources"),
              std::string::npos)
        << crowded;
    report.layerSounds = LayerSoundCounts{};
    // A name whose room ends between a letter and its accent keeps the
    // letter whole: the cut falls before "o" and its combining mark.
    report.losses.files.front() = std::string(300, 'x');
    const std::string plain = ExportFinalText(report);
    const size_t kept = plain.find("\xE2\x80\xA6") - plain.find("“x") - 3;  // the x's that fit
    ASSERT_GT(kept, 10u);
    report.losses.files.front() = std::string(kept - 1, 'x') + "o\xCC\x81" + std::string(100, 'x');
    const std::string cut = ExportFinalText(report);
    EXPECT_LE(cut.size(), 127u + 24u);
    EXPECT_NE(cut.find("“" + std::string(kept - 1, 'x') + "\xE2\x80\xA6” and 1 more"), std::string::npos) << cut;
    EXPECT_EQ(cut.find("o\xE2\x80\xA6"), std::string::npos) << "the accent left its letter: " << cut;
}

// A layer that matched no sound and one whose sound is gone play silence:
// the export completes, and its text and toast count each kind apart.
// A muted one is not counted.
TEST(ExportJob, SilentLayersAreToldInTheTextAndTheToast) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    rig.project->results[size_t(rig.Add(ClickVoice(1.0, 1.0, 0.0, 0.0f), "(no match)"))].placeholder = true;
    RenderResult& gone = rig.project->results[size_t(rig.Add(ClickVoice(1.5, 1.0, 0.0, 0.0f), "Gone"))];
    gone.filepath = "/nowhere/gone.wav";
    gone.missing = true;
    const int muted = rig.Add(ClickVoice(2.0, 1.0, 0.0, 0.0f), "Hushed");
    rig.project->results[size_t(muted)].placeholder = true;
    rig.project->results[size_t(muted)].muted = true;
    ASSERT_EQ(ExportAndWait(rig, rig.Context(), rig.Job(true)), ExportStart::Started);
    const std::string text = "Export complete — 1 file; 1 layer silent (sound missing); 1 layer that matched no sound";
    EXPECT_EQ(ExportStatusText(*rig.app), text);
    EXPECT_EQ(rig.app->toastText, text);
}

TEST(ExportJob, RollbackRemovesWhatAnUnfinishedPassMade) {
    TempDir dir;
    testing::internal::CaptureStdout();
    { ExportRollback nothing; }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Export] Rollback: removed 0 files\n");

    const std::string a = dir.File("a"), b = dir.File("a/b");
    {
        ExportRollback pass;
        ASSERT_TRUE(MakeExportFolder(b, pass));
        EXPECT_EQ(pass.folders, (std::vector<std::string>{a, b}));
        ASSERT_TRUE(WriteWholeFile(b + "/one.wav", "1"));
        pass.files.push_back(b + "/one.wav");
        ASSERT_TRUE(WriteWholeFile(a + "/stranger.txt", "not ours"));  // keeps folder a
        testing::internal::CaptureStdout();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "[Export] Rollback: removed 1 files\n");
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(a + "/stranger.txt"));

    {
        ExportRollback kept;
        ASSERT_TRUE(MakeExportFolder(dir.File("k"), kept));
        kept.committed = true;
        testing::internal::CaptureStdout();
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(fs::is_directory(dir.File("k")));
}

TEST(ExportJob, TextsCountFilesAndTheAafStepRunsFirstWithTheVoicesPinned) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    rig.Add(ClickVoice(1.0, 1.0, 0.5, 0.5f, 1), "Wind");

    // Mixdown alone, no AAF: one file, no plural.
    ExportReport report = RunExportJob(rig.Job(true), rig.Context());
    EXPECT_EQ(report.finalText, "Export complete — 1 file");
    EXPECT_TRUE(report.Succeeded());
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete — 1 file");
    EXPECT_TRUE(rig.app->exportDone.load());
    EXPECT_EQ(rig.engine->voicePins.load(), 0) << "the pin is dropped when the job ends";

    // A failing AAF step fails the export: no WAV pass runs, nothing is
    // put in place, and the text says so.
    bool pinnedDuringAaf = false, ranBeforeWav = false;
    ExportJob job = rig.Job(false, true);
    job.exportAAF = true;
    fs::remove_all(rig.Out());
    report = RunExportJob(job, rig.Context([&](const ExportJob&, const Project&, const AudioEngine& e) {
        pinnedDuringAaf = e.voicePins.load() > 0;
        ranBeforeWav = !fs::exists(rig.OutFile("Mix - BG.wav"));
        return false;
    }));
    EXPECT_EQ(report.finalText, "Export failed in the AAF session — the export could not be finished; nothing was written");
    EXPECT_TRUE(pinnedDuringAaf);
    EXPECT_TRUE(ranBeforeWav);
    EXPECT_TRUE(ExportedFiles(rig.Out()).empty());

    // A session counts as one file; without an AAF step the AAF part fails.
    // (Each into an empty folder: a job nobody asked about replaces nothing.)
    fs::remove_all(rig.Out());
    report = RunExportJob(job, rig.Context([](const ExportJob&, const Project&, const AudioEngine&) { return true; }));
    EXPECT_EQ(report.finalText, "Export complete — 3 files");
    fs::remove_all(rig.Out());
    report = RunExportJob(job, rig.Context());
    EXPECT_TRUE(report.aafFailed);
    EXPECT_EQ(report.filesWritten, 0);
}

TEST(ExportJob, OnlyTheFirstPassAfterTheMixdownWritesTheReverbStem) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    rig.engine->reverb.enabled = 1;
    ExportJob job = rig.Job(true, true, false, true);
    job.reverbStem = true;
    // Mixdown, one stem, the reverb stem once, one clip.
    EXPECT_EQ(RunExportJob(job, rig.Context()).filesWritten, 4);
    EXPECT_TRUE(fs::exists(rig.OutFile("Mix - Reverb.wav")));

    ExportRig alone;
    alone.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    alone.engine->reverb.enabled = 1;
    ExportJob mixdown = alone.Job(true);
    mixdown.reverbStem = true;
    EXPECT_EQ(RunExportJob(mixdown, alone.Context()).filesWritten, 1);
    EXPECT_FALSE(fs::exists(alone.OutFile("Mix - Reverb.wav")));
}

// A pass that cannot write names the file in the status and the toast; a
// clean export's toast says "Export complete".
TEST(ExportJob, AFailedPassShowsInTheTextAndTheToast) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    const ExportContext ctx = rig.Context();

    ASSERT_EQ(ExportAndWait(rig, ctx, rig.Job(true, true)), ExportStart::Started);
    EXPECT_EQ(rig.app->toastText, "Export complete");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 5.0f);
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete — 2 files");

    fs::remove_all(rig.Out());
    ArmWriteFault(rig.fault, 1, ENOSPC, "Mix.wav", true);  // the mixdown's disk is full
    ASSERT_EQ(ExportAndWait(rig, ctx, rig.Job(true, true)), ExportStart::Started);
    // Nothing is put in place: the text names the pass, the file, its folder and why.
    const std::string lost = "Export failed in the mixdown — the drive at " + MountPointOfPath(rig.Out()) +
                             " is full (“Mix.wav” in “" + fs::path(rig.Out()).filename().string() +
                             "”); nothing was written";
    EXPECT_EQ(ExportStatusText(*rig.app), lost);
    EXPECT_EQ(rig.app->toastText, lost);
    EXPECT_FALSE(rig.app->exportRunning.load());
    EXPECT_FALSE(rig.app->exportDone.load());
}

TEST(ExportJob, StartAndFinishOnTheInterfaceThread) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");

    // No thread: nothing runs, and the state says why.
    ExportContext refusing = rig.Context();
    refusing.startThread = [](std::function<void()>) { return false; };
    EXPECT_EQ(StartExport(refusing, rig.Job(true)), ExportStart::ThreadFailed);
    EXPECT_FALSE(rig.app->exportRunning.load());
    EXPECT_FALSE(rig.app->exportCompletion);
    EXPECT_EQ(ExportStatusText(*rig.app), "Export failed — the export could not start");
    EXPECT_EQ(rig.app->toastText, ExportStatusText(*rig.app));
    EXPECT_TRUE(DocumentMayChange(*rig.app));

    // Held on a latch: the state while it runs, and the completion runs once.
    // The registry's path for a moved file is in the document before the
    // thread starts.
    FileRegistry registry;
    const std::string moved = rig.dir.File("moved.wav");
    ASSERT_TRUE(WriteWholeFile(moved, WavHolding("some sound")));
    rig.project->results[0].fileId = registry.FileRefForPath(moved).id;
    rig.project->results[0].filepath = "/gone/old.wav";
    std::function<void()> held;
    ExportContext latched = rig.Context();
    latched.registry = &registry;
    latched.startThread = [&](std::function<void()> body) {
        held = std::move(body);
        return true;
    };
    ASSERT_EQ(StartExport(latched, rig.Job(true)), ExportStart::Started);
    EXPECT_EQ(rig.project->results[0].filepath, moved);
    // The job took the faders when it was made: moving them now changes nothing.
    rig.engine->masterGain = 0.1f;
    rig.engine->groupGain[0] = 0.1f;
    EXPECT_TRUE(rig.app->exportRunning.load());
    EXPECT_FALSE(DocumentMayChange(*rig.app));
    EXPECT_EQ(ExportStatusText(*rig.app), "Exporting...");
    EXPECT_FLOAT_EQ(rig.app->exportProgress.load(), -1.0f);
    EXPECT_EQ(StartExport(latched, rig.Job(true)), ExportStart::AlreadyRunning);
    EXPECT_FALSE(PollExport(*rig.app));
    held();
    rig.app->toastText.clear();
    EXPECT_TRUE(PollExport(*rig.app));
    EXPECT_EQ(rig.app->toastText, "Export complete");
    EXPECT_TRUE(DocumentMayChange(*rig.app));
    const std::vector<float> left = ChannelOf(ReadBwfFile(rig.OutFile("Mix.wav")).samples, 2, 0);
    EXPECT_NEAR(left[size_t(kRigRate)], 0.5f * CentreGain(), 1e-4);
    rig.app->toastText.clear();
    EXPECT_FALSE(PollExport(*rig.app));
    FinishExport(*rig.app);
    EXPECT_EQ(rig.app->toastText, "") << "the completion ran once";
}

TEST(ExportJob, ReplacingAnEarlierExportAsksOnce) {
    ExportRig rig;
    rig.Add(ClickVoice(0.5, 1.0, 0.5), "Rain");
    const ExportContext ctx = rig.Context();
    ASSERT_EQ(ExportAndWait(rig, ctx, rig.Job(true, false, false, true)), ExportStart::Started);
    const std::string earlier = ReadWholeFile(rig.OutFile("Mix.wav"));
    ASSERT_FALSE(earlier.empty());

    // Without a way to ask, nothing is replaced.
    EXPECT_EQ(StartExport(ctx, rig.Job(true)), ExportStart::Declined);

    rig.app->questionDialog = CountingQuestion;
    gQuestions = 0;
    gAnswer = false;
    EXPECT_EQ(StartExport(ctx, rig.Job(true, false, false, true)), ExportStart::Declined);
    EXPECT_EQ(gQuestions, 1);
    EXPECT_FALSE(rig.app->exportRunning.load());

    rig.engine->masterGain = 0.5f;  // a different mixdown this time
    gAnswer = true;
    EXPECT_EQ(ExportAndWait(rig, ctx, rig.Job(true, false, false, true)), ExportStart::Started);
    EXPECT_EQ(gQuestions, 2) << "one question for the whole export";
    EXPECT_NE(ReadWholeFile(rig.OutFile("Mix.wav")), earlier);

    // Another base name in the same folder replaces nothing: no question.
    ExportJob other = rig.Job(true, false, false, true);
    other.baseName = "Other";
    EXPECT_TRUE(ExistingExportFiles(other, *rig.project).empty());
    EXPECT_EQ(ExistingExportFiles(rig.Job(true, false, false, true), *rig.project).size(), 2u);
}

// The program's frame loop keeps calling the voice window and reading the
// status while an export runs, beside the audio thread: the export reads a
// stable set of voices (an evicted one is decoded for the export alone, and
// nothing is evicted meanwhile, while playback still gets its voices back as
// the playhead nears them), and no thread touches another's data unguarded.
TEST(ExportJob, ExportBesideTheFrameLoopAndTheAudioThread) {
    ExportRig rig;
    auto library = std::make_unique<SoundLibrary>();
    AudioSpec spec;
    spec.kind = SignalKind::Noise;
    spec.channels = 2;
    spec.seconds = 1.0;
    const std::string path = rig.dir.File("noise.wav");
    ASSERT_TRUE(WriteTestAudio(path, spec));
    rig.project->totalDuration = 42.0f;
    for (float start : {1.0f, 40.0f}) {
        RenderResult r;
        r.name = "Noise";
        r.filepath = path;
        r.stereo = true;
        r.startTime = start;
        r.sourceDuration = r.duration = 1.0f;
        rig.project->results.push_back(r);
    }
    ResetEngineVoices(*rig.engine, kRigRate, 0);
    for (size_t i = 0; i < rig.project->results.size(); ++i)
        BuildPlaybackVoice(*rig.engine, rig.project->results[i], int(i), kRigRate, nullptr, 0, nullptr, 0, 0, false);
    rig.engine->cacheReady = 1;
    const DocumentContext frame = MakeDocumentContext(*rig.project, *library, *rig.engine, *rig.app);
    PrepareVoicesAtPlayhead(frame);  // the playhead at 0: the voice at 40 s is evicted
    ASSERT_EQ(rig.engine->voices[1].evicted, 1);
    rig.engine->playing = 1;

    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        // Played blocks, but the playhead kept near the start: a free-running
        // loop would carry it past the near voice on a busy machine, and the
        // streaming window would then release that voice for its own reasons.
        while (!stop.load()) {
            MixAudioBlock(*rig.engine, l.data(), r.data(), 512);
            rig.engine->position.store(0);
        }
    });
    const ExportContext ctx = rig.Context();
    ASSERT_EQ(StartExport(ctx, rig.Job(true, false, false, true)), ExportStart::Started);
    int frames = 0;
    std::string lastStatus;
    while (!PollExport(*rig.app)) {
        PrepareVoicesAtPlayhead(frame);
        lastStatus = ExportStatusText(*rig.app);
        ++frames;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const bool nearHeld = !rig.engine->voices[0].evicted && !rig.engine->voices[0].left.empty();
    stop.store(true);
    audio.join();

    EXPECT_GT(frames, 0);
    EXPECT_TRUE(nearHeld) << "a voice was evicted while the export ran";
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete — 3 files");
    const BwfReadBack near = ReadBwfFile(rig.OutFile("Clips/Mix - Noise.wav"));
    const BwfReadBack far = ReadBwfFile(rig.OutFile("Clips/Mix - Noise_2.wav"));
    ASSERT_TRUE(near.ok && far.ok);
    EXPECT_EQ(far.TimeReference(), uint64_t(40 * kRigRate));
    EXPECT_EQ(far.samples, near.samples) << "the evicted voice was prepared for the export";
    EXPECT_GT(PeakIndex(far.samples), 0);
}

// The footer's line while an export runs: the status with the share done
// once the passes report one, and, when a quit waits for the export, that
// the program closes when it ends.
TEST(ExportJob, TheFooterLineTellsHowFarAndThatAQuitWaits) {
    AppState app;
    SetExportStatus(app, "Exporting mix...");
    app.exportProgress = -1.0f;
    EXPECT_EQ(ExportProgressText(app), "Exporting mix...");
    app.exportProgress = 0.374f;
    EXPECT_EQ(ExportProgressText(app), "Exporting mix... 37%");
    app.quitAfterExport = true;
    EXPECT_EQ(ExportProgressText(app), "Tessaloom closes when the export ends \xE2\x80\x94 Exporting mix... 37%");
    EXPECT_EQ(ExportProgressTexts(app).back(), "Closes when the export ends \xE2\x80\x94 37%")
        << "the short line of a narrow footer";
    app.exportProgress = 1.0f;
    EXPECT_EQ(ExportProgressText(app), "Tessaloom closes when the export ends \xE2\x80\x94 Exporting mix... 100%");
    app.quitAfterExport = false;
    EXPECT_EQ(ExportProgressTexts(app), std::vector<std::string>{"Exporting mix... 100%"});
}
