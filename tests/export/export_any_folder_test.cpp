// A project exports the same files from any folder: a rendered generated
// project (Fills and Beds saved without chunk plans, so that every fill is
// made again when the project opens) copied whole to another folder, and
// saved from there into a third one, exports byte for byte what the original
// exports. Every open and export runs in a process of its own, as another
// run of the program would: within one process the file registry remembers
// where each file was first seen and the copy would play the original's
// files.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

#include "document/event.h"
#include "library/file_registry.h"
#include "library/library_index_file.h"
#include "library/sound_probe.h"
#include "operations/export_job.h"
#include "operations/voice_sync.h"
#include "operations/project_lifecycle.h"
#include "playback/audio_engine.h"
#include "render/fill_resynthesis.h"
#include "support/child_process.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// What each fill of a document is made of, as its first build makes it.
struct FillKinds {
    int excerpts = 0, loops = 0, grains = 0, planned = 0;
};

FillKinds CountFillKinds(const Project& project) {
    FillKinds kinds;
    for (const RenderResult& stored : project.results) {
        if (stored.procMode != 1 || stored.filepath.empty()) continue;
        kinds.planned += stored.fillChunks.empty() ? 0 : 1;
        RenderResult r = stored;
        auto voice = std::make_unique<PlaybackVoice>();
        if (!LoadFillAudio(r, 48000, *voice)) continue;
        if (voice->chunkCount > 0)
            ++kinds.grains;
        else if (voice->spliceCount > 0)
            ++kinds.loops;
        else
            ++kinds.excerpts;
    }
    return kinds;
}

// The child's exit status for a failed step, with what failed on its output.
int Failed(const char* what, const std::string& detail = "") {
    std::printf("[Test] child: %s %s\n", what, detail.c_str());
    return 1;
}

// In a child: the generated project "<folder>/Reel/Reel.tlproj" over its
// library "<folder>/Library", rendered, with half the Fill event's layers
// shortened so that they are excerpts of their sound; `withoutIds` stores no
// file id anywhere, as projects from before ids did. Exit status 0 when the
// fills are of every kind and none holds a plan.
int WriteGeneratedProject(const std::string& folder, bool withoutIds = false) {
    LargeProjectSpec spec{.eventCount = 18, .seconds = 30, .layers = LargeProjectLayers::Rendered, .soundCount = 16};
    LargeProject large = MakeLargeProject(spec, folder + "/Library");
    int fillLayer = 0;
    for (RenderResult& r : large.project.results) {
        const bool fillEvent = r.eventIdx >= 0 && size_t(r.eventIdx) < large.project.events.size() &&
                               large.project.events[size_t(r.eventIdx)].shape == kShapeFill;
        if (fillEvent && r.procMode == 1 && fillLayer++ % 2 == 0) r.duration = 1.0f;
    }
    const FillKinds kinds = CountFillKinds(large.project);
    std::printf("[Test] fills: %d excerpts, %d loops, %d of grains, %d planned\n", kinds.excerpts, kinds.loops,
                kinds.grains, kinds.planned);
    if (kinds.excerpts < 2 || kinds.loops < 2 || kinds.grains < 2 || kinds.planned != 0)
        return Failed("fills not of every kind");
    if (withoutIds) {
        for (RenderResult& r : large.project.results) r.fileId.clear();
        for (Event& e : large.project.events) {
            e.pinnedFileId.clear();
            for (std::string& id : e.pinnedFileIds) id.clear();
        }
    }
    const ExportSettings everything = EveryExportPass();
    const std::string path = WriteLargeProject(large, folder, "Reel", &everything);
    if (path.empty()) return Failed("project not written");
    if (withoutIds && ReadWholeFile(path).find("\"fileId\"") != std::string::npos) return Failed("ids stored");
    return 0;
}

// The export of the open document with every pass into `out`, as the Export
// tab does it (the sound probe's values taken first). 0 when it completed.
int ExportAsTheTabDoes(LifecycleRig& rig, const std::string& out) {
    SoundProbe probe;
    ExportContext ctx = rig.ExportContextOf(ProgramAafStep());
    ctx.registry = &FileRegistry::Instance();
    ctx.probe = &probe;
    ctx.library = rig.library.get();
    ctx.startThread = RunOnCallingThread;
    rig.app->exportSettings = EveryExportPass();
    rig.engine->reverb.enabled = 1;
    if (StartExport(ctx, MakeExportJob(*rig.app, *rig.project, *rig.engine, out + "/Reel")) != ExportStart::Started)
        return Failed("export not started");
    PollExport(*rig.app);
    // Complete; silent layers are told in the same text.
    if (rig.app->toastText.rfind("Export complete", 0) != 0) return Failed("export:", rig.app->toastText);
    std::printf("[Test] child: %s\n", ExportStatusText(*rig.app).c_str());
    StopSoundProbe(probe);
    return 0;
}

// The environment of a run of the program whose user folder is `dataFolder`.
void UseDataFolder(ScopedEnvironment& env, const std::string& dataFolder) {
    env.UnsetUserFolderVariables();
    env.Set("XDG_DATA_HOME", dataFolder);
}

// In a child: the project opened as the program opens it (its voices built by
// the open's own task), saved as `saveAs` when that is given (a Save As: its
// sounds collected into the new folder), then exported with every pass into
// `out`. Exit status 0 when the export completed.
int OpenSaveAndExport(const std::string& project, const std::string& saveAs, const std::string& out,
                      const std::string& dataFolder) {
    ScopedEnvironment env;
    UseDataFolder(env, dataFolder);
    LifecycleRig rig;
    if (!OpenProject(rig.ctx, project)) return Failed("not opened", project);
    if (!FinishBusyTask(*rig.app)) return Failed("voices not built");
    if (rig.engine->voices.size() != rig.project->results.size()) return Failed("not every layer has a voice");
    if (!saveAs.empty() && !SaveProject(rig.ctx, saveAs))
        return Failed("not saved", saveAs);
    return ExportAsTheTabDoes(rig, out);
}

// In a child: the session that rendered a generated project over sounds like
// recorded libraries', "<folder>/Library": its voices built as after a render
// (placeholders made silent, layers retuned and levelled), saved as
// "<folder>/Reel/Reel.tlproj", then exported into `out` while still open.
// With `gaps`, every Fill layer but the first of its event matched no sound
// ("(no match)" placeholders) and a plain layer's sound is gone.
int RenderSaveAndExport(const std::string& folder, bool gaps, const std::string& out,
                        const std::string& dataFolder) {
    ScopedEnvironment env;
    UseDataFolder(env, dataFolder);
    LargeProjectSpec spec{.eventCount = 12, .seconds = 20, .layers = LargeProjectLayers::Rendered, .soundCount = 16};
    spec.fieldRecordings = true;
    LargeProject large = MakeLargeProject(spec, folder + "/Library");
    int placeholders = 0, missing = 0;
    std::set<int> fills;
    std::vector<RenderResult> unmatched;
    for (RenderResult& r : large.project.results) {
        const Event& e = large.project.events[size_t(r.eventIdx)];
        if (gaps && e.shape == kShapeFill && fills.insert(r.eventIdx).second) {
            // Two more layers of the Fill that found no sound, as the render
            // leaves them when the library holds one sound for the Fill.
            for (int k = 1; k <= 2; ++k) {
                RenderResult none = r;
                none.id = NextRenderResultId();  // a layer of its own
                none.name = "(no match)";
                none.filepath.clear();
                none.fileId.clear();
                none.fillChunks.clear();
                none.placeholder = true;
                none.track = r.track + k;
                unmatched.push_back(std::move(none));
            }
        } else if (gaps && r.procMode == 0 && !r.filepath.empty() && missing == 0) {
            r.filepath = folder + "/Gone/impact.wav";  // never there
            r.fileId.clear();
            ++missing;
        }
    }
    for (RenderResult& r : unmatched) {
        large.project.results.push_back(std::move(r));
        ++placeholders;
    }
    if (gaps && (placeholders < 2 || missing != 1))
        return Failed("no placeholders", std::to_string(placeholders) + " " + std::to_string(missing));

    LifecycleRig rig;
    *rig.project = std::move(large.project);
    rig.project->rendered = true;
    // The library as this run's scan holds it: its numbers as its index
    // file gives them to the next run.
    rig.library->libraries.push_back(large.library.index);
    for (LibraryEntry& entry : rig.library->libraries.back().entries) KeepIndexedPrecision(entry);
    DocumentContext ctx = MakeDocumentContext(*rig.project, *rig.library, *rig.engine, *rig.app);
    RebuildCache(ctx, false);
    if (rig.engine->voices.size() != rig.project->results.size()) return Failed("not every layer has a voice");
    std::error_code ec;
    fs::create_directories(folder + "/Reel", ec);
    if (!SaveProject(rig.ctx, folder + "/Reel/Reel.tlproj")) return Failed("not saved");
    return ExportAsTheTabDoes(rig, out);
}

// `body` in a child process; its exit status.
int InChild(const std::function<int()> body) {
    ChildProcess child([&body] {
        const int status = body();
        std::fflush(nullptr);
        ::_exit(status);
    });
    return child.Wait();
}

}  // namespace

TEST(ExportFromAnyFolder, ACopyAndASaveAsExportWhatTheOriginalExports) {
    TempDir dir;
    const std::string one = dir.File("one"), two = dir.File("elsewhere/two"), three = dir.File("third/place");
    ASSERT_EQ(InChild([&] { return WriteGeneratedProject(one); }), 0);

    // The project folder with its Audio folder, and the library beside it.
    std::error_code ec;
    fs::create_directories(two, ec);
    fs::copy(one, two, fs::copy_options::recursive, ec);
    ASSERT_FALSE(ec) << ec.message();
    ASSERT_TRUE(fs::exists(two + "/Reel/Reel.tlproj"));
    ASSERT_TRUE(fs::is_directory(two + "/Reel/Audio")) << "the layers' sounds were collected with the project";

    const std::string data = dir.File("data");
    ASSERT_EQ(InChild([&] { return OpenSaveAndExport(one + "/Reel/Reel.tlproj", "", dir.File("out/one"), data); }), 0);
    ASSERT_EQ(InChild([&] { return OpenSaveAndExport(two + "/Reel/Reel.tlproj", "", dir.File("out/two"), data); }), 0);
    // Open the copy, Save As into a third folder, export; then open what was
    // saved there in another run and export again.
    ASSERT_EQ(InChild([&] {
                  return OpenSaveAndExport(two + "/Reel/Reel.tlproj", three + "/Saved.tlproj", dir.File("out/saved"),
                                           data);
              }),
              0);
    ASSERT_TRUE(fs::is_directory(three + "/Saved/Audio"));
    ASSERT_EQ(
        InChild([&] { return OpenSaveAndExport(three + "/Saved/Saved.tlproj", "", dir.File("out/reopened"), data); }),
        0);

    const std::map<std::string, std::string> original = ExportedFiles(dir.File("out/one"));
    ASSERT_GT(original.size(), 40u);
    for (const char* run : {"two", "saved", "reopened"}) {
        SCOPED_TRACE(run);
        ExpectSameExportFiles(original, ExportedFiles(dir.File("out/") + run));
    }
}

// A project from before file ids: opening it gives each layer the id of its
// content, made at random in each run. Two runs still export the same files,
// because no fill is keyed on an id made in the run.
TEST(ExportFromAnyFolder, LayersStoredWithoutFileIdsExportTheSameInEveryRun) {
    TempDir dir;
    const std::string folder = dir.File("old");
    ASSERT_EQ(InChild([&] { return WriteGeneratedProject(folder, true); }), 0);
    const std::string project = folder + "/Reel/Reel.tlproj";
    for (const char* run : {"first", "second"})
        ASSERT_EQ(InChild([&] { return OpenSaveAndExport(project, "", dir.File("out/") + run, dir.File("data")); }), 0);
    const std::map<std::string, std::string> first = ExportedFiles(dir.File("out/first"));
    ASSERT_GT(first.size(), 40u);
    ExpectSameExportFiles(first, ExportedFiles(dir.File("out/second")));
}

// A project rendered, saved and exported in one run of the program exports
// the same files when it is opened again in another run, and after its folder
// moved: with Fill layers that matched no sound and a Spot whose sound is
// gone (their silent voices take their share of their events' levels in both
// runs), and without them.
TEST(ExportFromAnyFolder, AReopenedProjectExportsWhatTheSessionThatSavedItExported) {
    for (const bool gaps : {true, false}) {
        SCOPED_TRACE(gaps ? "placeholders and a missing sound" : "every layer sounding");
        TempDir dir;
        const std::string one = dir.File("one"), data = dir.File("data");
        ASSERT_EQ(InChild([&] { return RenderSaveAndExport(one, gaps, dir.File("out/session"), data); }), 0);
        ASSERT_EQ(InChild([&] { return OpenSaveAndExport(one + "/Reel/Reel.tlproj", "", dir.File("out/reopened"), data); }),
                  0);
        const std::map<std::string, std::string> session = ExportedFiles(dir.File("out/session"));
        ASSERT_GT(session.size(), 30u);
        ExpectSameExportFiles(session, ExportedFiles(dir.File("out/reopened")));
        if (!gaps) continue;

        const std::string moved = dir.File("elsewhere/one");
        std::error_code ec;
        fs::create_directories(moved, ec);
        fs::copy(one, moved, fs::copy_options::recursive, ec);
        ASSERT_FALSE(ec) << ec.message();
        ASSERT_EQ(InChild([&] { return OpenSaveAndExport(moved + "/Reel/Reel.tlproj", "", dir.File("out/moved"), data); }),
                  0);
        ExpectSameExportFiles(session, ExportedFiles(dir.File("out/moved")));
    }
}
