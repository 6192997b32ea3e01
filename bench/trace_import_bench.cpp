// The Trace tab's import of 2,000 accepted suggestions from a one-hour trace
// (36,000 frames at 10 a second) as Spot events with their trace gains.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "recipes/event_preset.h"
#include "ui/trace_panel_logic.h"

static void BM_ImportTraceSuggestions(benchmark::State& state) {
    auto app = std::make_unique<AppState>();
    auto project = std::make_unique<Project>();
    auto library = std::make_unique<SoundLibrary>();
    auto engine = std::make_unique<AudioEngine>();
    ResetEngineVoices(*engine, 48000, 0);
    OpticalTrace& trace = app->opticalTrace;
    trace.fps = 10;
    trace.frames.assign(36000, TraceFrame{});
    for (size_t i = 0; i < trace.frames.size(); ++i) {
        trace.frames[i].time = float(i) / 10;
        trace.frames[i].composite = float((i * 7919) % 1000) / 1000;
    }
    trace.analysedCount.store(36000);
    trace.present.store(true);
    for (int i = 0; i < 2000; ++i) {
        SuggestedEvent s;
        s.time = float(i) * 1.8f;
        s.confidence = 0.9f;
        s.suggestedDuration = 1;
        s.accepted = true;
        trace.suggestions.push_back(s);
    }
    app->opticalDetail = 0.5f;
    TracePanelState panel;
    const std::vector<EventPreset> recipes;
    for (auto _ : state) {
        state.PauseTiming();
        project->events.clear();
        project->totalDuration = 30;
        app->undoHistory = {};
        state.ResumeTiming();
        const int added =
            ImportAcceptedTraceItems(MakeDocumentContext(*project, *library, *engine, *app), panel, recipes, 0);
        benchmark::DoNotOptimize(added);
    }
}
BENCHMARK(BM_ImportTraceSuggestions)->Unit(benchmark::kMillisecond);
