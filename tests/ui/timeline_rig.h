// timeline_rig.h — the timeline panel in a GUI context without a window: a
// fixed display, scripted mouse and keys, and a private document, library,
// engine and app state. Shared by the widget tests and the benchmarks.
#pragma once

#include <imgui.h>

#include <cmath>
#include <memory>

#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/imgui_headless.h"
#include "ui/drop_handover.h"
#include "ui/timeline_logic.h"
#include "ui/timeline_panel.h"
#include "ui/ui_layout.h"

struct TimelineRig {
    static constexpr int kRate = 48000;
    HeadlessGui gui{1280, 720};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    UILayout layout;
    float mouseX = 0;
    float mouseY = 0;

    TimelineRig() {
        // Large documents need more than 65536 vertices in one list, as the
        // OpenGL back-end allows.
        ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
        layout = ComputeUILayout(gui.width, gui.height, 13, false, {});
        app->projectSampleRate = kRate;
        ResetEngineVoices(*engine, kRate, 0);
        library->libraries.resize(1);  // a library exists: the hints say "Ready to render."
    }
    DocumentContext Context() { return MakeDocumentContext(*project, *library, *engine, *app); }

    // One frame: the main window with the timeline at its place in the layout.
    void Frame() {
        gui.Frame();
        ClearDropZones(gDropZones);
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
        ImGui::Begin("##main", nullptr,
                     ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoScrollbar |
                         ImGuiWindowFlags_NoScrollWithMouse | ImGuiWindowFlags_NoBringToFrontOnFocus);
        ImGui::PopStyleVar();
        TimelinePanel(Context(), ImGui::GetWindowDrawList(), layout);
        ImGui::End();
        gui.EndFrame();
    }
    void Frames(int count) {
        for (int i = 0; i < count; ++i) Frame();
    }

    // The time area of the last frame and the app state's view.
    TimelineView View() const {
        return {gTimelineGeometry.x0, gTimelineGeometry.width, app->viewStart, app->viewDuration};
    }
    // Dear ImGui floors the mouse position to whole points: so do these.
    float X(float t) const { return std::floor(MapRange(View(), t)); }
    float EventLaneY() const { return gTimelineGeometry.eventLaneTop + 12; }
    float RulerY() const { return gTimelineGeometry.rulerTop + 10; }
    float WeightLaneY(float value) const {
        return gTimelineGeometry.weightLaneTop + (1 - value) * gTimelineGeometry.laneHeight;
    }

    void Move(float x, float y) {
        mouseX = x;
        mouseY = y;
        gui.MoveMouse(x, y);
        Frame();
    }
    void Press(float x, float y) {
        mouseX = x;
        mouseY = y;
        gui.MoveMouse(x, y);
        gui.SetButton(0, true);
        Frame();
    }
    void Release() {
        gui.SetButton(0, false);
        Frame();
    }
    void Click(float x, float y) {
        Press(x, y);
        Release();
    }
    void Wheel(float notches) {
        ImGui::GetIO().MouseWheel = notches;
        Frame();
    }
    void Modifiers(bool shift, bool ctrl, bool alt) {
        ImGuiIO& io = ImGui::GetIO();
        io.KeyShift = shift;
        io.KeyCtrl = ctrl;
        io.KeyAlt = alt;
    }
};
