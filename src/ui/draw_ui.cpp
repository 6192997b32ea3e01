// draw_ui.cpp — the order of one frame of the main window.
//
// Index
//   gUiFrame / NoteRegionDrawn / DumpUiFrameFields
//   Requests             first frame, launcher offer, library services, video
//                        unload
//   Regions              "##main" and the bands of the layout; the title
//                        bar's menu button, caption buttons and drag zone
//   DrawUI               the steps in order
//
// Steps that change the document (the video requests and the pending open
// path) stay parked while a busy task or an export runs: a worker may be
// using the document, and the request is taken on the first frame after.
// While a task other than a full render runs, the busy overlay is all the
// frame draws (job_protocol.h).
#include "ui/draw_ui.h"

#include <imgui.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

#include "app/frame_driver.h"
#include "app/imgui_compat.h"
#include "app/library_frame.h"
#include "app/program_menu.h"
#include "app/program_menu_table.h"
#include "app/project_commands.h"
#include "app/project_frame.h"
#include "app/shell_audio.h"
#include "app/shell_services.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "app/update_check.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "library/library_folders.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/demo_content.h"
#include "operations/export_job.h"
#include "operations/preferences.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "operations/trace_job.h"
#include "picture/video_player.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "recipes/legacy_presets.h"
#include "ui/command_chooser.h"
#include "ui/drop_handover.h"
#include "ui/events_list.h"
#include "ui/events_tab.h"
#include "ui/export_tab.h"
#include "ui/frame_commands.h"
#include "ui/job_protocol.h"
#include "ui/launcher.h"
#include "ui/launcher_logic.h"
#include "ui/library_panel.h"
#include "ui/main_bands.h"
#include "ui/mixer_panel.h"
#include "ui/notices.h"
#include "ui/settings_panel.h"
#include "ui/tab_row.h"
#include "ui/timeline_panel.h"
#include "ui/trace_panel.h"
#include "ui/transport_actions.h"

UiFrameState gUiFrame;

void NoteRegionDrawn(const char* name) { gUiFrame.regionsDrawn.emplace_back(name); }

void DumpUiFrameFields(StateDump& dump) {
    dump.Field("frame.workMs", gUiFrame.workSeconds * 1000.0);
    dump.Field("frame.longestWorkMs", gUiFrame.longestWorkSeconds * 1000.0);
    const UILayout& l = gUiFrame.layout;
    dump.Field("layout.displayWidth", static_cast<double>(l.displayWidth));
    dump.Field("layout.displayHeight", static_cast<double>(l.displayHeight));
    dump.Field("layout.fontSize", static_cast<double>(l.fontSize));
    dump.Field("layout.titleBarHeight", static_cast<double>(l.titleBarHeight));
    dump.Field("layout.videoHeight", static_cast<double>(l.videoHeight));
    dump.Field("layout.transportHeight", static_cast<double>(l.transportHeight));
    dump.Field("layout.footerHeight", static_cast<double>(l.footerHeight));
    dump.Field("layout.timelineHeight", static_cast<double>(l.timelineHeight));
    dump.Field("layout.videoWidth", static_cast<double>(l.videoWidth));
    dump.Field("layout.panelWidth", static_cast<double>(l.panelWidth));
    dump.Field("layout.panelSplitLeft", static_cast<double>(l.panelSplitLeft));
    dump.Field("layout.panelSplitRight", static_cast<double>(l.panelSplitRight));
    dump.Field("layout.hasVideo", l.hasVideo);
    std::string regions;
    for (const std::string& r : gUiFrame.regionsDrawn) regions += (regions.empty() ? "" : " ") + r;
    dump.Field("regions", regions);
}

namespace {

// ---------------------------------------------------------------------------
// Requests
// ---------------------------------------------------------------------------

void RunFirstFrameInitialisation(AppState& app) {
    InitLibraryIndexFolder(gSoundLibrary);
    // An export that a kill stopped half-way through replacing an earlier
    // one: the earlier export comes back whole before anything else looks.
    SettleInterruptedExports(app);
    LoadPreferences();
    SwitchShellSampleRate(app);    // the preferences may name another rate
    MigrateLegacyPresetFolders();  // before the demo content, so demo files never shadow old ones
    InstallDemoContent(false);
    InstallRecipePreviews();
    LoadRecipesFolder();
    RescanRecipesAndChains();
    if (UpdateCheckDue(app, static_cast<int64_t>(std::time(nullptr)))) StartUpdateCheck();
    // A never-saved project of a run that crashed comes back first; the
    // launcher does not cover it.
    if (RecoverUntitledProject(ProgramLifecycleContext())) app.launcherDismissed = true;
}

void RunLibraryServices(const AppState& app) {
    if (!app.busyTask.busy.load()) {
        AddLibraryFolder(gSoundLibrary, ClockSeconds(app.clock));
        RefreshMissingFiles(ClockSeconds(app.clock), false);
    }
    ProbeUnknownSoundValues();
}

void OfferLauncherOnce(AppState& app, UiFrameState& ui) {
    if (ui.launcherOffered) return;
    ui.launcherOffered = true;
    if (app.showLauncherOnStartup && !app.launcherDismissed) app.showLauncher = true;
}

void TakeVideoUnloadRequest(AppState& app, const ShellServices& services) {
    if (!app.unloadVideoRequest) return;
    app.unloadVideoRequest = false;
    // A running picture trace reads the video: it stops first.
    if (app.traceRunning.load()) CancelTraceAnalysis(app);
    app.offlineVideoPath.clear();
    if (services.closeReferenceVideo) services.closeReferenceVideo();
    app.opticalTrace.suggestions.clear();
    if (app.activeTab == 1 && !app.opticalTrace.present) app.activeTab = 0;
}

// ---------------------------------------------------------------------------
// Regions
// ---------------------------------------------------------------------------

constexpr ImGuiWindowFlags kRegionFlags = ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse;

// Opens a child at the rectangle; false (and nothing to close) when it has
// no area, since a zero or negative size would mean "the rest" to the GUI.
bool BeginRegion(const char* id, const LayoutRect& r) {
    if (r.width <= 0 || r.height <= 0) return false;
    ImGui::SetCursorPos(ImVec2(r.x, r.y));
    ImGui::BeginChild(id, ImVec2(r.width, r.height), ImGuiChildFlags_None, kRegionFlags);
    NoteRegionDrawn(id);
    return true;
}

void FillRegion(uint32_t color) {
    ImVec2 p = ImGui::GetWindowPos();
    ImVec2 s = ImGui::GetWindowSize();
    ImGui::GetWindowDrawList()->AddRectFilled(p, ImVec2(p.x + s.x, p.y + s.y), color);
}

void DrawRegions(AppState& app, const UILayout& layout) {
    if (BeginRegion("##title", TitleBarRect(layout))) {
        // The menu button, the title, the unsaved-changes confirmation and
        // the caption buttons; the drag zone runs from the title to the tabs.
        DrawTitleBand(app, layout);
        // The tab buttons stand in the title bar, so they are drawn in its
        // child: the main window's own items under a child never get the
        // pointer.
        DrawTabRow(app, layout, static_cast<int>(gMissingFiles.files.size()));
        DrawProjectName(app, layout);
        ImGui::EndChild();
    }
    // Then the audio-device check, the auto-save and the toast's countdown.
    PollShellAudioDevice(ImGui::GetIO().DeltaTime);
    RunProjectFrame(ProgramLifecycleContext(), ImGui::GetIO().DeltaTime);

    if (BeginRegion("##video_area", VideoAreaRect(layout))) {
        FillRegion(gTheme.videoBg);
        DrawVideoArea(app, layout);
        ImGui::EndChild();
    }

    // The active tab's panel (activeTab: 0 events, 1 trace, 2 library,
    // 3 mixer, 4 export, 5 settings) draws itself at TabPanelRect(layout).
    // The events tab shows its list; the inspector joins above it.
    switch (app.activeTab) {
        case 0: DrawEventsTab(ImGui::GetWindowDrawList(), layout); break;
        case 1: TracePanel(ImGui::GetWindowDrawList(), layout); break;
        case 2: DrawLibraryPanel(ImGui::GetWindowDrawList(), layout); break;
        case 3: MixerPanel(ImGui::GetWindowDrawList(), layout); break;
        case 4: DrawExportTab(ImGui::GetWindowDrawList(), layout); break;
        case 5: SettingsPanel(ImGui::GetWindowDrawList(), layout); break;
        default: break;
    }

    if (BeginRegion("##transport", TransportRect(layout))) {
        FillRegion(gTheme.transportBg);
        DrawTransportBand(app, layout);
        ImGui::EndChild();
    }

    TimelinePanel(ImGui::GetWindowDrawList(), layout);

    if (BeginRegion("##footer", FooterRect(layout))) {
        DrawFooterBand(app, layout);
        ImGui::EndChild();
    }

    // Then the launcher (the about box follows the main window).
}

void DrawMainWindow(AppState& app, UiFrameState& ui, float width, float height) {
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImVec2(width, height));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0, 0));
    // The window never moves or comes to the front: it is the whole client area.
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                                   ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoScrollWithMouse |
                                   ImGuiWindowFlags_NoCollapse | ImGuiWindowFlags_NoBringToFrontOnFocus |
                                   ImGuiWindowFlags_NoMove | ImGuiWindowFlags_NoSavedSettings;
    ImGui::Begin("##main", nullptr, flags);
    ImGui::PopStyleVar();
    NoteRegionDrawn("##main");

    // Paddings follow this frame's font size, set before the layout.
    float fontSize = ImGui::GetFontSize();
    LayoutSpacing spacing = SpacingForFontSize(fontSize);
    ImGuiStyle& style = ImGui::GetStyle();
    style.FramePadding = ImVec2(spacing.x, spacing.y);
    style.ItemSpacing = ImVec2(spacing.x, spacing.y);

    // The reference video's size narrows the video box once a video is open.
    SyncVideoTexture(gBands.video, gFrameDriver, gVideoPlayer);
    const LayoutVideo video = LayoutVideoFor(gBands.video, gVideoPlayer);
    ui.layout = ComputeUILayout(width, height, fontSize, static_cast<bool>(app.titleBarCallback), video);
    // The panels note where they take drops while they draw.
    ClearDropZones(gDropZones);
    // Dropped folders are the library's whatever tab is shown (the panel
    // shows the scan); they wait while a busy task runs.
    if (!app.busyTask.busy.load()) TakeDroppedFolders(app, gSoundLibrary);
    DrawRegions(app, ui.layout);
    ImGui::End();
    // The launcher's card over the window, while it is shown.
    DrawLauncher(app, ui.layout, ProgramLauncherActions());
    DrawAboutBox(app);
    // The program menu, opened by the title bar's menu button, over everything.
    DrawProgramMenu(gProgramMenu, app);
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawUI
// ---------------------------------------------------------------------------

namespace {

// Times the frame's work up to the drawing of the window (or to the overlay,
// when a task owns the screen).
class FrameWorkTimer {
public:
    explicit FrameWorkTimer(UiFrameState& ui) : ui_(ui), start_(std::chrono::steady_clock::now()) {}
    ~FrameWorkTimer() { Stop(); }
    void Stop() {
        if (stopped_) return;
        stopped_ = true;
        ui_.workSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        ui_.longestWorkSeconds = std::max(ui_.longestWorkSeconds, ui_.workSeconds);
    }

private:
    UiFrameState& ui_;
    std::chrono::steady_clock::time_point start_;
    bool stopped_ = false;
};

}  // namespace

void DrawUI() {
    AppState& app = gAppState;
    UiFrameState& ui = gUiFrame;
    const ShellServices& services = gShellServices;
    ui.regionsDrawn.clear();
    FrameWorkTimer work(ui);

    // 1. Style from the palette, display size in points. Animations of this
    // frame raise uiAnimating again while they still move.
    ApplyThemeStyle();
    app.uiAnimating = false;
    const ImVec2 display = ImGui::GetIO().DisplaySize;

    // 2, 3. First frame: data folders, preferences, recipes; the launcher offer.
    if (!ui.firstFrameDone) {
        RunFirstFrameInitialisation(app);
        ui.firstFrameDone = true;
    }
    OfferLauncherOnce(app, ui);
    // A save or backup whose writer is done is finished, whatever this frame shows.
    PumpProjectSave(ProgramLifecycleContext());

    // 4. Library folders queued before start-up are added from the third frame on.
    if (ui.frameCount < 2)
        ++ui.frameCount;
    else if (!gSoundLibrary.libraryAddQueue.empty())
        AddQueuedLibraryFolders();

    // 5–8. Video requests and dropped files, parked while the document may
    // not change.
    if (DocumentMayChange(app)) {
        TakeVideoUnloadRequest(app, services);
        TakePendingVideoReload(app, gVideoPlayer, gAudioEngine);
        TakeDroppedVideo(app, gProject);
        TakeDroppedAudio(ProgramDocumentContext(), gSoundLibrary);
    }

    // 9. Job protocol: the requests, the busy task's start and finish, and
    // the busy overlay, which then owns the screen.
    const DocumentContext jobs = ProgramDocumentContext();
    if (RunJobProtocol(jobs, &gFrameDriver, gJobFrame)) {
        DropParkedBusyCommand(app);
        NotePopupsAtFrameEnd();
        return;
    }

    // 10. Export completion and a finished trace worker joined; the library
    // scan hand-over and the missing-file refresh while no task is busy; the
    // sound probe.
    RunWorkerCompletions(app);
    RunLibraryServices(app);
    // 11. Playback and picture sync: playhead from the engine, the video kept
    // in step, the stop at the project's end, voices prepared at the playhead.
    SyncPlaybackAndPicture(ProgramTransportContext());

    // 12. Keyboard and menu commands (the command dispatch), then the quit.
    RunFrameCommands();

    // 13. The project named on the command line or by a second copy (it
    // waits while the document may not change). The designer asked for that
    // project from the desktop: the start-up launcher does not cover it.
    if (TakeQueuedOpenPath(ProgramLifecycleContext()) == ProjectCommandResult::Done && app.showLauncher)
        CloseLauncher(app);

    // 14. The window and its regions; during a full render the live block
    // over them.
    work.Stop();
    DrawMainWindow(app, ui, display.x, display.y);
    DrawLiveBlock(jobs, gJobFrame, &ui.layout);
    NotePopupsAtFrameEnd();
}
