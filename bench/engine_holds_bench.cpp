// What editing while playing costs the audio thread, at 2,000 and 20,000
// voices: the longest hold of the engine's lock by each kind of edit, by a
// timeline frame and by the state dump; the block mixer with 50 voices
// sounding among many; a Bed move's rebuild while playing; silent blocks per
// 100 edits with the audio thread mixing in real time; and the longest frame
// of work after opening a 5,000-event hour headless while the probe learns
// its weights. Figures are reported, never asserted.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/document_dump.h"
#include "app/frame_driver.h"
#include "app/null_frame_backend.h"
#include "app/test_driver.h"
#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/bed_watch.h"
#include "operations/document_context.h"
#include "operations/event_drags.h"
#include "operations/event_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_streaming.h"
#include "operations/voice_sync.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/mixer_rig.h"
#include "support/imgui_headless.h"
#include "support/large_project.h"
#include "support/program_work.h"
#include "support/quiet_stdout.h"
#include "support/spots_and_beds.h"
#include "support/temp_dir.h"
#include "ui/draw_ui.h"
#include "ui/event_commands.h"
#include "ui/inspector_logic.h"
#include "ui/layer_lanes_logic.h"
#include "ui/result_layers_logic.h"

namespace {

constexpr int kRate = 48000;

// `voices` silent layers two per Spot every 0.1 s and two Beds of a real
// file, built into the program's engine (the state dump reads it), the far
// voices without their samples.
struct EditRig {
    TempDir dir;
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    AudioEngine& engine = gAudioEngine;
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::vector<int> beds;

    explicit EditRig(int voices) {
        AddSpotsAndBeds(*project, dir.File("bed.wav"), voices, beds);
        engine.streamVoices = 1;
        engine.streamWindow = 5.0f;
        engine.playing = 0;
        engine.position = 0;
        ResetEngineVoices(engine, kRate, 0);
        RebuildCacheAsyncJob(Context(), false);
        app->busyTask.done = false;
    }
    ~EditRig() {
        engine.playing = 0;
        ResetEngineVoices(engine, kRate, 0);
        engine.streamVoices = 0;
    }

    DocumentContext Context() {
        DocumentContext ctx = MakeDocumentContext(*project, *library, engine, *app);
        ctx.sampleRate = kRate;
        return ctx;
    }
};

// One edit of each kind as the interface makes it, there and back.
std::vector<std::pair<std::string, std::function<void()>>> Edits(EditRig& rig) {
    const DocumentContext ctx = rig.Context();
    AudioEngine& engine = rig.engine;
    AppState& app = *rig.app;
    const int middle = int(rig.project->events.size()) / 2;
    const int layer = int(rig.project->results.size()) / 2;
    const int32_t layerId = rig.project->results[size_t(layer)].id;
    // Found again at each use: an undo replaces the event list.
    Project* project = rig.project.get();
    const size_t bedIndex = size_t(rig.beds.back());
    auto bed = [project, bedIndex] { return &project->events[bedIndex]; };
    auto bedJob = [ctx] {
        RebuildBedsAndWeights(ctx);
        RebuildCache(ctx, false);
    };
    return {
        {"move", [=, &app] {
             SelectEvents(app, {middle});
             MoveSelectedEvents(ctx, 0.25f);
             MoveSelectedEvents(ctx, -0.25f);
             SyncVoicesWithResults(ctx);
         }},
        {"gainDrag", [=] {
             EditGesture drag, layerDrag;
             for (float db : {-12.0f, -6.0f, 0.0f}) SetEventVolume(ctx, middle, db, drag);
             SetLayerVolume(ctx, layer, -6.0f, layerDrag);
             SetLayerVolume(ctx, layer, 0.0f, layerDrag);
         }},
        {"muteUnmute", [=, &app] {
             SelectEvents(app, {middle});
             ToggleSelectionMuted(ctx);
             ToggleSelectionMuted(ctx);
         }},
        {"solo", [=, &engine, &app] {
             ToggleLayerSolo(engine, app, layerId);
             ToggleLayerSolo(engine, app, layerId);
         }},
        {"undoRedo", [=] {
             RunUndoCommand(ctx, false);
             RunUndoCommand(ctx, true);
         }},
        {"delete", [=] {
             PushUndoSnapshot(ctx);
             DeleteEventWithVoices(ctx, middle + 1);
             RunUndoCommand(ctx, false);
         }},
        {"bedMove", [=] {
             bed()->time += 0.5f;
             bedJob();
             bed()->time -= 0.5f;
             bedJob();
         }},
        {"bedLength", [=] {
             bed()->duration += 0.5f;
             bedJob();
             bed()->duration -= 0.5f;
             bedJob();
         }},
        {"timelineFrame", [&engine, &app] {
             static LayerSpliceMarks marks;
             engine.stats.levelsGeneration.fetch_add(1);
             RefreshLayerSpliceMarks(app, engine, marks);
             KeepLayerSoloValid(engine, app);
         }},
        {"stateDump", [] {
             StateDump dump;
             DumpEngineFields(dump);
             benchmark::DoNotOptimize(dump.text.data());
         }},
    };
}

std::map<int, std::unique_ptr<EditRig>>& Rigs() {
    static std::map<int, std::unique_ptr<EditRig>> rigs;
    return rigs;
}

EditRig& RigOf(int voices) {
    auto& rigs = Rigs();
    if (rigs.begin() != rigs.end() && rigs.begin()->first != voices) rigs.clear();  // one in the engine at a time
    auto& rig = rigs[voices];
    if (!rig) {
        QuietStdout(true);
        rig = std::make_unique<EditRig>(voices);
        QuietStdout(false);
    }
    return *rig;
}

}  // namespace

// The longest hold of the engine's lock by each kind of edit (microseconds,
// the largest over the iterations), with the transport running.
static void BM_EditHolds(benchmark::State& state) {
    EditRig& rig = RigOf(int(state.range(0)));
    rig.engine.playing = 1;
    rig.engine.position = 3 * kRate;
    auto edits = Edits(rig);
    std::map<std::string, int64_t> longest;
    QuietStdout(true);
    for (auto _ : state) {
        for (auto& [name, op] : edits) {
            rig.engine.mutex.ResetHoldStats();
            op();
            longest[name] = std::max(longest[name], rig.engine.mutex.LongestHoldNanos());
        }
    }
    QuietStdout(false);
    rig.engine.playing = 0;
    for (auto& [name, nanos] : longest) state.counters[name + "_us"] = double(nanos) / 1000.0;
}
BENCHMARK(BM_EditHolds)->Arg(2000)->Arg(20000)->ArgNames({"voices"})->Iterations(3)->Unit(benchmark::kMillisecond);

// One 512-frame block with 50 voices sounding among `voices` spread over the
// timeline, through the index (indexed 1), through it with 64 voices moved
// since it was made (indexed 2) or looking at every voice.
static void BM_MixBlockAmongMany(benchmark::State& state) {
    const int voices = int(state.range(0));
    const bool indexed = state.range(1) != 0;
    auto e = MakePlayingEngine();
    // 50 voices of 1 s at any moment: starts every 1/50 s.
    for (int v = 0; v < voices; ++v) {
        PlaybackVoice voice = ConstantVoice(0.02 * v, 1.0, 0.001f, v % 3);
        voice.resultId = uint32_t(v + 1);
        InstallPlaybackVoice(*e, std::move(voice), 0.01f, 0.01f);
    }
    ReindexEngineVoices(*e);
    if (!indexed) e->mixScratch.clear();
    if (state.range(1) == 2) {
        std::vector<VoicePlacement> moved;
        for (int v = 0; v < 64; ++v) {
            const PlaybackVoice& voice = e->voices[size_t(v * (voices / 64))];
            moved.push_back({size_t(v * (voices / 64)), voice.startTime + 0.001f, voice.plainStartTime + 0.001f});
        }
        SetVoicePlacements(*e, moved);
    }
    std::vector<float> l(512), r(512);
    const int64_t span = int64_t(0.02 * voices * kRate) - kRate;
    int64_t at = kRate;
    for (auto _ : state) {
        e->position = at;
        MixAudioBlock(*e, l.data(), r.data(), 512);
        benchmark::DoNotOptimize(l.data());
        at = kRate + (at + 7919 * 512) % std::max<int64_t>(span, 1);
    }
}
BENCHMARK(BM_MixBlockAmongMany)
    ->ArgsProduct({{2000, 20000}, {1, 2, 0}})
    ->ArgNames({"voices", "indexed"})
    ->Unit(benchmark::kMicrosecond);

// A Bed moved while playing: its layers and voices brought in line (the
// rebuild's job), the audio thread mixing meanwhile.
static void BM_BedMoveWhilePlaying(benchmark::State& state) {
    EditRig& rig = RigOf(int(state.range(0)));
    const DocumentContext ctx = rig.Context();
    rig.engine.playing = 1;
    rig.engine.position = 3 * kRate;
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        while (!stop.load()) {
            MixAudioBlock(rig.engine, l.data(), r.data(), 512);
            std::this_thread::sleep_for(std::chrono::microseconds(10667));
        }
    });
    const uint64_t silentBefore = rig.engine.stats.lockedBlocks.load() + rig.engine.stats.emptyBlocks.load();
    const size_t bed = size_t(rig.beds.back());
    float step = 0.5f;
    QuietStdout(true);
    for (auto _ : state) {
        rig.project->events[bed].time += step;
        step = -step;
        RebuildBedsAndWeights(ctx);
        RebuildCache(ctx, false);
    }
    QuietStdout(false);
    stop = true;
    audio.join();
    rig.engine.playing = 0;
    state.counters["silentBlocks"] =
        double(rig.engine.stats.lockedBlocks.load() + rig.engine.stats.emptyBlocks.load() - silentBefore);
}
BENCHMARK(BM_BedMoveWhilePlaying)->Arg(2000)->Arg(20000)->ArgNames({"voices"})->Unit(benchmark::kMillisecond);

// 100 edits of every kind while the audio thread mixes a block every
// 10.7 ms, as a 512-frame device at 48 kHz asks: the blocks it left silent,
// by cause, per 100 edits.
static void BM_SilentBlocksPer100Edits(benchmark::State& state) {
    EditRig& rig = RigOf(int(state.range(0)));
    rig.engine.playing = 1;
    rig.engine.position = 3 * kRate;
    auto edits = Edits(rig);
    std::atomic<bool> stop{false};
    std::atomic<uint64_t> blocks{0};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        auto next = std::chrono::steady_clock::now();
        while (!stop.load()) {
            MixAudioBlock(rig.engine, l.data(), r.data(), 512);
            blocks.fetch_add(1);
            next += std::chrono::microseconds(10667);
            std::this_thread::sleep_until(next);
        }
    });
    // By cause: the lock taken and no voice at all are what edits can do;
    // a voice late is the streaming window's (no workers run here, so every
    // block past the rig's window finds its voices without samples).
    const uint64_t locked = rig.engine.stats.lockedBlocks.load(), empty = rig.engine.stats.emptyBlocks.load(),
                   late = rig.engine.stats.lateVoiceBlocks.load();
    int made = 0;
    QuietStdout(true);
    for (auto _ : state) {
        for (int k = 0; k < 100; ++k) {
            edits[size_t(k) % (edits.size() - 1)].second();  // the state dump is no edit
            ++made;
        }
    }
    QuietStdout(false);
    stop = true;
    audio.join();
    rig.engine.playing = 0;
    const double per100 = 100.0 / double(std::max(made, 1));
    state.counters["lockedPer100"] = per100 * double(rig.engine.stats.lockedBlocks.load() - locked);
    state.counters["emptyPer100"] = per100 * double(rig.engine.stats.emptyBlocks.load() - empty);
    state.counters["lateVoicePer100"] = per100 * double(rig.engine.stats.lateVoiceBlocks.load() - late);
    state.counters["blocks"] = double(blocks.load());
}
BENCHMARK(BM_SilentBlocksPer100Edits)
    ->Arg(2000)
    ->Arg(20000)
    ->ArgNames({"voices"})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// The program's frame loop (headless) opening a 5,000-event hour whose clip
// and Bed weights the probe still has to learn: the longest frame's work
// before drawing, from the frame after the open until everything settles,
// and its ratio to the median frame's work of the same run (a frame that
// waited for the document's work stands out however loaded the machine).
static void BM_OpenHourLongestFrame(benchmark::State& state) {
    Rigs().clear();
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 5000, .seconds = 3600, .layers = LargeProjectLayers::Made,
                          .layersPerEvent = 3, .soundCount = 24};
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const std::string path = WriteLargeProject(large, dir.path(), "Hour");
    double longest = 0;
    int frames = 0;
    std::vector<double> work;
    for (auto _ : state) {
        HeadlessProgram program;
        QuietStdout(true);
        program.Open(path);
        gUiFrame.longestWorkSeconds = 0;
        do {
            program.Frame();
            ++frames;
            work.push_back(gUiFrame.workSeconds);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (ProgramStillWorking());
        QuietStdout(false);
        longest = std::max(longest, gUiFrame.longestWorkSeconds);
    }
    std::sort(work.begin(), work.end());
    const double median = work.empty() ? 0.0 : work[work.size() / 2];
    state.counters["longestFrameWorkMs"] = longest * 1000.0;
    state.counters["medianFrameWorkMs"] = median * 1000.0;
    state.counters["longestToMedianFrame"] = median > 0 ? longest / median : 0.0;
    state.counters["frames"] = double(frames);
    state.counters["layers"] = double(large.project.results.size());
}
BENCHMARK(BM_OpenHourLongestFrame)->Iterations(1)->Unit(benchmark::kSecond);

// Changes that rebuild voices while playing, on a generated project of
// `layers` layers (sounds with and without a clear pitch, Beds of looping
// layers) opened (its voices built as stored): the first change of the
// musical scale (from "Off"), a later one, and a Bed's length, each as its
// busy task runs it (a Bed's also as the whole rebuild's, to compare); the
// time of each (what the busy overlay covers), the voices each built, those
// whose pitch the first searched, and the longest hold of the engine's lock
// with the blocks it left silent.
static void BM_ScaleAndBedChangesWhilePlaying(benchmark::State& state) {
    Rigs().clear();
    const int layers = int(state.range(0));
    TempDir dir;
    LargeProjectSpec spec{.eventCount = layers / 8, .seconds = std::max(120.0f, 0.6f * float(layers / 8)),
                          .layers = LargeProjectLayers::Made, .layersPerEvent = 10, .soundCount = 24,
                          .soundSeconds = 0.5f};
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    auto project = std::make_unique<Project>();
    *project = std::move(large.project);
    auto library = std::make_unique<SoundLibrary>();
    library->libraries.assign(1, large.library.index);
    auto app = std::make_unique<AppState>();
    AudioEngine& engine = gAudioEngine;
    FixProbedWeights(*project);
    project->rendered = true;
    JobObserver observer;
    std::atomic<int> built{0};
    observer.voiceBuilt = [&] { ++built; };
    DocumentContext ctx = MakeDocumentContext(*project, *library, engine, *app);
    ctx.sampleRate = kRate;
    ctx.observer = &observer;
    engine.streamVoices = 1;
    engine.streamWindow = 5.0f;
    ResetEngineVoices(engine, kRate, 0);
    QuietStdout(true);
    RebuildCacheAsyncJob(ctx, true);
    engine.playing = 1;
    engine.position = 30 * kRate;
    std::atomic<bool> stop{false};
    std::thread audio([&] {
        std::vector<float> l(512), r(512);
        while (!stop.load()) {
            MixAudioBlock(engine, l.data(), r.data(), 512);
            std::this_thread::sleep_for(std::chrono::microseconds(10667));
        }
    });
    int bed = -1;
    for (size_t e = 0; e < project->events.size() && bed < 0; ++e)
        if (project->events[e].shape == kShapeBed && project->events[e].time > 40) bed = int(e);
    auto searched = [&] {
        int n = 0;
        for (const PlaybackVoice& v : engine.voices) n += v.tuneState != 0 ? 1 : 0;
        return n;
    };
    auto timed = [&](const std::function<void()>& change, const char* name, bool bedJob = false) {
        change();
        // The frame step lists the changed Beds for their job (untimed: the
        // frame's, not the job's).
        if (bedJob) app->bedWatch.listed = BedsChanged(*project, app->bedWatch, &app->bedWatch.changed);
        built = 0;
        engine.mutex.ResetHoldStats();
        const uint64_t locked = engine.stats.lockedBlocks.load();
        const auto t0 = std::chrono::steady_clock::now();
        app->busyTask.done = false;
        // A Bed's change alone runs the frame step's Bed job; the others the rebuild.
        if (bedJob) RebuildBedsAsyncJob(ctx);
        else RebuildCacheAsyncJob(ctx, false);
        state.counters[std::string(name) + "Ms"] =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
        state.counters[std::string(name) + "Voices"] = double(built.load());
        // What it cost the audio thread: the longest hold of the engine's
        // lock (a scale change's switch to the finished set among them) and
        // the blocks left silent under it.
        state.counters[std::string(name) + "HoldUs"] = double(engine.mutex.LongestHoldNanos()) / 1000.0;
        state.counters[std::string(name) + "LockedBlocks"] = double(engine.stats.lockedBlocks.load() - locked);
    };
    for (auto _ : state) {
        timed([&] { project->scaleType = 1; }, "firstScale");
        state.counters["firstScaleSearched"] = double(searched());
        timed([&] { project->scaleRoot = 2; }, "laterScale");  // D major
        if (bed >= 0) {
            // Seven changes, shorter and longer by turns (a loaded machine
            // scatters single times): the median of each job's times, and
            // what the Bed job read each time (layers its repack visited,
            // voices whose keys it compared and whose settings it checked).
            auto median = [&](bool bedJob, const char* name) {
                std::vector<double> ms;
                for (int k = 0; k < 7; ++k) {
                    timed([&] { project->events[size_t(bed)].duration += k % 2 ? 0.25f : -0.25f; }, name, bedJob);
                    ms.push_back(state.counters[std::string(name) + "Ms"]);
                }
                std::sort(ms.begin(), ms.end());
                state.counters[std::string(name) + "Ms"] = ms[ms.size() / 2];
            };
            median(false, "bedLengthWholeRebuild");
            median(true, "bedLength");
            state.counters["bedLengthBedsRead"] = double(app->bedSync.bedsRead.load());
            state.counters["bedLengthLayersPacked"] = double(app->bedSync.layersPacked.load());
            state.counters["bedLengthVoicesCompared"] = double(app->bedSync.voicesCompared.load());
            state.counters["bedLengthVoicesSettled"] = double(app->bedSync.voicesSettled.load());
            state.counters["bedLengthVoicesLevelled"] = double(app->bedSync.voicesLevelled.load());
            state.counters["bedLengthWhole"] = app->bedSync.whole.load() ? 1 : 0;
        }
    }
    stop = true;
    audio.join();
    QuietStdout(false);
    engine.playing = 0;
    state.counters["layers"] = double(project->results.size());
    ResetEngineVoices(engine, kRate, 0);
    engine.streamVoices = 0;
}
BENCHMARK(BM_ScaleAndBedChangesWhilePlaying)
    ->Arg(2000)
    ->Arg(20000)
    ->ArgNames({"layers"})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
