// The events tab during a batch volume drag: 1,000 selected events with
// 10,000 voices. The whole tab frame (inspector and list) drawn headless
// while the mouse holds "##batchgain" and moves every frame, and the level
// move alone.
#include <benchmark/benchmark.h>

#include <imgui.h>

#include <memory>
#include <numeric>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/imgui_headless.h"
#include "ui/drop_handover.h"
#include "ui/events_tab.h"
#include "ui/inspector_logic.h"

namespace {

constexpr int kEvents = 1000;
constexpr int kVoices = 10000;

struct InspectorBenchRig {
    HeadlessGui gui{1280, 900};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::vector<int> selected;
    InspectorBenchRig() {
        ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        ResetEngineVoices(*engine, 48000, 0);
        project->totalDuration = 3600;
        for (int e = 0; e < kEvents; ++e) {
            project->events.push_back(MakeEvent(*project, 0.37f * float(e), e % 2 ? kShapeBloom : kShapeSpot, 0.5f));
            project->events.back().gain = 0.5f;
            selected.push_back(e);
        }
        engine->voices.resize(kVoices);
        for (int v = 0; v < kVoices; ++v) engine->voices[size_t(v)].eventIndex = v % kEvents;
        app->selectedEvents.insert(selected.begin(), selected.end());
        app->selectedEvent = 0;
    }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }
    void Frame() {
        gui.Frame();
        ClearDropZones(gDropZones);
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        DrawEventsTabContent(Ctx(), nullptr, 520, gui.height - 20);
        ImGui::End();
        gui.EndFrame();
    }
};

void BM_InspectorBatchGainDragFrame(benchmark::State& state) {
    InspectorBenchRig rig;
    rig.Frame();
    rig.Frame();
    const auto at = gInspectorReport.items.at("##batchgain");
    rig.gui.MoveMouse(at.first, at.second);
    rig.Frame();
    rig.gui.SetButton(0, true);
    rig.Frame();
    int step = 0;
    for (auto _ : state) {
        // Back and forth, so the levels stay inside the range.
        rig.gui.MoveMouse(at.first + ((step++ & 1) ? 3.0f : -3.0f), at.second);
        rig.Frame();
    }
    rig.gui.SetButton(0, false);
    rig.Frame();
    state.counters["events"] = kEvents;
    state.counters["voices"] = kVoices;
}
BENCHMARK(BM_InspectorBatchGainDragFrame)->Unit(benchmark::kMicrosecond);

void BM_InspectorMoveBatchVolume(benchmark::State& state) {
    InspectorBenchRig rig;
    int step = 0;
    EditGesture drag;
    for (auto _ : state) MoveBatchVolume(rig.Ctx(), rig.selected, (step++ & 1) ? 0.3f : -0.3f, drag);
    state.counters["voices"] = kVoices;
}
BENCHMARK(BM_InspectorMoveBatchVolume)->Unit(benchmark::kMicrosecond);

}  // namespace
