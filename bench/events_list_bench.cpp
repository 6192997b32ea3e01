// The events list with a large document: 2,000 events in 40 folders,
// 20,000 layers, one event expanded with 50 of them. The list's own frame
// drawn headless (rows out of view skipped), and SortEventsList alone, with
// the cached summaries and with summaries rebuilt every call.
#include <benchmark/benchmark.h>

#include <imgui.h>

#include <memory>
#include <string>

#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/imgui_headless.h"
#include "support/synthetic_project.h"
#include "ui/events_list.h"
#include "ui/events_list_logic.h"

namespace {

constexpr int kEvents = 2000;
constexpr int kLayers = 20000;

struct ListBenchRig {
    HeadlessGui gui{1280, 720};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    ListBenchRig() {
        ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        project = std::make_unique<Project>(MakeSyntheticProject(kEvents, kLayers));
        ResetEngineVoices(*engine, 48000, 0);
        // Runs of 50 events per folder in time order; the expanded event gets 50 layers.
        for (size_t e = 0; e < project->events.size(); ++e) {
            project->events[e].time = 0.37f * float(e);
            CopyTextField(project->events[e].folder, "Folder " + std::to_string(e / 50));
        }
        const int expanded = 1000;
        for (int r = 0; r < 50; ++r) project->results[size_t(r)].eventIdx = expanded;
        app->expandedEvent = expanded;
        app->selectedEvent = expanded;
        app->selectedEvents = {expanded};
        app->scrollToSelection = true;
    }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }
    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(520, 420));
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        DrawEventsList(Ctx(), nullptr);
        ImGui::End();
        gui.EndFrame();
    }
};

}  // namespace

static void BM_EventsListFrame(benchmark::State& state) {
    ListBenchRig rig;
    rig.Frame();
    rig.Frame();
    for (auto _ : state) rig.Frame();
    state.counters["rowsDrawn"] = double(gEventsListReport.rows.size());
}
BENCHMARK(BM_EventsListFrame)->Unit(benchmark::kMicrosecond);

// Arg 0: the summaries come from the cache (the usual frame); arg 1: the
// results revision moves every call, so they are rebuilt.
static void BM_SortEventsList(benchmark::State& state) {
    ListBenchRig rig;
    Project& p = *rig.project;
    for (auto _ : state) {
        if (state.range(0)) p.resultsRevision += 1;
        SortEventsList(*rig.app, p.events, p.results, int(p.resultsRevision));
        benchmark::DoNotOptimize(rig.app->eventsListOrder.data());
    }
}
BENCHMARK(BM_SortEventsList)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
