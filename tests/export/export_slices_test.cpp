// An export of a project whose voices stream: the passes decode the voices
// the streaming window released, a window of the timeline at a time, and
// let them go behind them. Whatever the export's window and the streaming
// one, the files are those of an export with every voice held whole, sample
// for sample.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/export_job.h"
#include "operations/voice_sync.h"
#include "persistence/project_load.h"
#include "playback/audio_engine.h"
#include "playback/transport.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace {

struct StreamedExport : DocumentRecords {
    SessionList session, renderedSession;
    ExportVoiceStats stats;
    int evicted = 0;

    // Opens the project file as the program does (the voices built with no
    // scale analysis), the playhead at `playhead`, then exports the mixdown,
    // the stems with the reverb stem and an AAF session with handles into
    // out/A, and one of rendered essences only (no handles, no fill sources)
    // into out/B.
    void Run(const std::string& projectPath, const std::string& out, bool streaming, float window, float playhead,
             double windowSeconds) {
        ASSERT_TRUE(LoadProjectFile(projectPath, *project).ok);
        engine->reverb.enabled = 1;
        engine->streamVoices = streaming ? 1 : 0;
        engine->streamWindow = window;
        SeekPlayback(*engine, playhead);
        const DocumentContext ctx = Context();
        QuietStdout(true);
        RebuildCache(ctx, true);
        for (const PlaybackVoice& v : engine->voices) evicted += v.evicted ? 1 : 0;

        ExportSettings& s = app->exportSettings;
        s.exportFormatAAF = s.exportFormatWAV = true;
        s.exportWavMixdown = s.exportWavStems = true;
        s.exportReverbStem = true;
        s.exportAAFMarkers = true;
        ExportContext ectx = ExportContextOf(CapturingAafStep(session));
        ExportJob job = MakeExportJob(*app, *project, *engine, out + "/A/Reel");
        job.windowSeconds = windowSeconds;
        job.voiceStats = &stats;
        const ExportReport a = RunExportJob(job, ectx);

        s.exportFormatWAV = false;
        ectx.aafStep = CapturingAafStep(renderedSession);
        job = MakeExportJob(*app, *project, *engine, out + "/B/Reel");
        job.handles = false;
        job.fillVirtual = false;
        job.windowSeconds = windowSeconds;
        job.voiceStats = &stats;
        const ExportReport b = RunExportJob(job, ectx);
        QuietStdout(false);
        ASSERT_TRUE(a.Succeeded()) << a.finalText;
        ASSERT_TRUE(b.Succeeded()) << b.finalText;
    }
};

}  // namespace

TEST(ExportSlices, ASlicedExportOfStreamedVoicesEqualsTheExportOfWholeVoices) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 18, .seconds = 40, .layers = LargeProjectLayers::Rendered, .soundCount = 20};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string path = WriteLargeProject(large, dir.path(), "Slices");
    ASSERT_FALSE(path.empty());

    StreamedExport whole, sliced;
    whole.Run(path, dir.File("whole"), false, 30.0f, 0.0f, 0);
    // A 3 s streaming window at 20 s keeps a few voices; the passes prepare
    // the rest a window at a time, here a single slice of the grid (1.4 s).
    sliced.Run(path, dir.File("sliced"), true, 3.0f, 20.0f, 0.5);
    ASSERT_GT(whole.engine->voices.size(), 24u);
    EXPECT_EQ(whole.evicted, 0);
    EXPECT_GT(sliced.evicted, int(sliced.engine->voices.size()) * 2 / 3);
    EXPECT_EQ(whole.stats.decodes.load(), 0u) << "nothing to decode when every voice has its samples loaded";
    // Every pass decodes what it needs again, and keeps a few loaded at a time.
    EXPECT_GT(sliced.stats.decodes.load(), size_t(sliced.evicted) * 3);
    EXPECT_LT(sliced.stats.mostLoaded.load(), size_t(sliced.evicted) / 3);

    const auto a = ExportedFiles(dir.File("whole"));
    const auto b = ExportedFiles(dir.File("sliced"));
    ASSERT_GT(a.size(), 24u);
    ExpectSameExportFiles(a, b);
    ExpectSameSession(whole.session, sliced.session);
    ExpectSameSession(whole.renderedSession, sliced.renderedSession);
    EXPECT_FALSE(sliced.renderedSession.list.essencePaths.empty());
}
