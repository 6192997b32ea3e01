// command_executor.cpp — every command id carried out.
//
// Index
//   Missing                       a log line for commands whose panels are not built
//   CommandReplacesOrEdits        what an export refuses
//   Transport                     play / stop (1), nudges (12, 13)
//   Projects                      recent projects (1000 + i), Save and Save As (10, 35)
//   View and work area            zoom (14, 15), in and out points (20 to 22), Escape (2)
//   Files                         user guide (40), video (43), markers (44)
//   Edits                         render (19), place recipes and chains
//   ExecuteCommand                the table
//
// A command refused for a running export shows "Export in progress"; one
// dropped for a busy task never gets here (the chooser drops it).
#include "ui/command_executor.h"

#include <cstdio>
#include <filesystem>
#include <string>

#include "app/command_ids.h"
#include "app/project_commands.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/render_requests.h"
#include "operations/bounce.h"
#include "operations/event_placement.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_placement.h"
#include "operations/reference_video.h"
#include "operations/selection.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "picture/session_markers.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "platform/user_folders.h"
#include "ui/command_chooser.h"
#include "ui/event_commands.h"
#include "ui/event_menu_logic.h"
#include "operations/scene_edits.h"
#include "ui/timeline_logic.h"
#include "ui/trace_panel_logic.h"
#include "ui/trace_view_logic.h"

namespace {

// ---------------------------------------------------------------------------
// Missing
// ---------------------------------------------------------------------------

bool Missing(int id, const char* what) {
    std::printf("[UI] command %d: %s is not part of the window yet\n", id, what);
    std::fflush(stdout);
    return false;
}

bool HasSelection(const AppState& app) { return !app.selectedEvents.empty(); }

}  // namespace

// ---------------------------------------------------------------------------
// CommandReplacesOrEdits
// ---------------------------------------------------------------------------

bool CommandReplacesOrEdits(int id, const AppState& app) {
    if (id >= kCommandRecentBase && id < kCommandChainEnd) return true;
    switch (id) {
        case kCommandUndo:
        case kCommandRedo:
        case kCommandCut:
        case kCommandPaste:
        case kCommandDelete:
        case kCommandMute:
        case kCommandGroup:
        case kCommandUngroup:
        case kCommandRender:
        case kCommandSaveScene:
        case kCommandLock:
        case kCommandCreateSpot:
        case kCommandCreateBloom:
        case kCommandCreateContour:
        case kCommandCreateFill:
        case kCommandReviewApply:
        case kCommandNew:
        case kCommandOpen:
        case kCommandClose:
        case kCommandLauncher:
        case kCommandPlaceClip:
        case kCommandPlaceBed:
        case kCommandBounceToClip: return true;
        case kCommandNudgeBack:
        case kCommandNudgeForward: return HasSelection(app);  // without one only the playhead moves
        default: return false;
    }
}

namespace {

// ---------------------------------------------------------------------------
// Transport
// ---------------------------------------------------------------------------

// A pause leaves the engine at the playhead the window showed last.
void TogglePlay(const CommandContext& ctx) {
    AppState& app = *ctx.doc.app;
    if (app.playing) {
        StopPlayback(app, *ctx.doc.engine, ctx.video);
        SeekTransport(app, *ctx.doc.engine, nullptr, app.currentTime);
    } else {
        StartPlayback(app, *ctx.doc.engine, ctx.video);
    }
}

void Nudge(const CommandContext& ctx, int frames) {
    if (ctx.video && ctx.video->loaded) PauseReferenceVideo(*ctx.video);
    if (!NudgeSelection(ctx.doc, frames, ctx.guiTime)) return;
    if (ctx.video && ctx.video->loaded) SeekReferenceVideo(*ctx.video, ctx.doc.app->currentTime);
}

// ---------------------------------------------------------------------------
// View and work area
// ---------------------------------------------------------------------------

constexpr float kZoomInFactor = 0.7f;
constexpr float kZoomOutFactor = 1.4f;

void Zoom(AppState& app, const Project& project, float factor) {
    ClampTimelineView(app, factor, app.currentTime, project.totalDuration);
}

// The work area's points move on their own: the scene they came from no
// longer matches them.
void SetInPoint(AppState& app) {
    app.workAreaIn = app.currentTime;
    if (app.workAreaOut >= 0 && !(app.workAreaOut > app.workAreaIn)) app.workAreaOut = -1;
    app.activeScene = -1;
}

void SetOutPoint(AppState& app) {
    app.workAreaOut = app.currentTime;
    if (app.workAreaIn >= 0 && !(app.workAreaIn < app.workAreaOut)) app.workAreaIn = -1;
    app.activeScene = -1;
}

void ClearWorkArea(AppState& app) {
    app.workAreaIn = -1;
    app.workAreaOut = -1;
    app.activeScene = -1;
}

// The first of these that applies: the suggestions' selection in review
// mode, draw mode, the scene and work area, the selection.
void Escape(const CommandContext& ctx) {
    AppState& app = *ctx.doc.app;
    const Project& project = *ctx.doc.project;
    // As the confirmation's close cross: nothing waits behind it any more.
    if (app.confirmAction == 1) {
        ConfirmClose(app);
        return;
    }
    if (InReviewMode(app) && ClearTraceSuggestionSelection(app)) return;
    if (app.curveDrawMode) {
        SetCurveDrawMode(app, project, false);
        return;
    }
    if (app.activeScene >= 0 || app.workAreaIn >= 0 || app.workAreaOut >= 0) {
        ClearWorkArea(app);
        return;
    }
    ClearSelection(app);
}

// ---------------------------------------------------------------------------
// Projects
// ---------------------------------------------------------------------------

bool Ran(ProjectCommandResult result) {
    return result == ProjectCommandResult::Done || result == ProjectCommandResult::Prompted;
}

// Against the recent list as it stands now.
bool OpenRecent(const CommandContext& ctx, int index) {
    const std::vector<std::string>& recent = ctx.doc.app->recentProjects;
    if (index < 0 || size_t(index) >= recent.size()) return false;
    const std::string path = recent[size_t(index)];  // the open rewrites the list
    return Ran(OpenRecentProjectCommand(ctx.life, path));
}

// Save and Save As ask a dialog: the keys held when it opened are released
// meanwhile, and the GUI must not keep them down.
bool Save(const CommandContext& ctx, bool saveAs) {
    const ProjectCommandResult result = saveAs ? SaveProjectAsCommand(ctx.life) : SaveProjectCommand(ctx.life);
    if (ctx.clearGuiInput) ctx.clearGuiInput();
    return result == ProjectCommandResult::Done;
}

// ---------------------------------------------------------------------------
// Files
// ---------------------------------------------------------------------------

bool OpenUserGuide(const AppState& app) {
    if (!app.openUrlCallback) return false;
    const std::string path = (std::filesystem::path(app.exeDir) / "Tessaloom User Guide.pdf").string();
    if (!FileIsReadable(path)) {
        std::printf("[UI] no user guide at %s\n", path.c_str());
        return false;
    }
    app.openUrlCallback(path);
    return true;
}

bool ImportVideo(AppState& app) {
    std::string path = ChooseReferenceVideoFile(app);
    if (path.empty()) return false;
    app.droppedVideoPath = std::move(path);  // loaded by the frame, as a drop is
    return true;
}

bool ImportMarkers(AppState& app, Project& project) {
    if (!RunMarkerImport(app, project)) return false;
    app.activeTab = 1;
    return true;
}

// ---------------------------------------------------------------------------
// Edits
// ---------------------------------------------------------------------------

bool RequestRender(const DocumentContext& ctx) {
    AppState& app = *ctx.app;
    if (ctx.project->events.empty() || app.busyTask.busy.load() || app.exportRunning.load()) return false;
    return RequestRenderEdit(ctx, 1);
}

// Against the lists as they stand now: an index past the end places nothing.
int PlaceListEntry(const DocumentContext& ctx, int id) {
    if (id >= kCommandChainBase) return PlaceChainAtPlayhead(ctx, gChains, id - kCommandChainBase);
    return PlaceRecipeAtPlayhead(ctx, gRecipes, id - kCommandRecipeBase);
}

}  // namespace

// ---------------------------------------------------------------------------
// ExecuteCommand
// ---------------------------------------------------------------------------

bool ExecuteCommand(const CommandContext& ctx, int id) {
    AppState& app = *ctx.doc.app;
    Project& project = *ctx.doc.project;
    if (id == kCommandNone) return false;
    // The launcher only shows itself (its buttons ask again): a full render
    // lets it through, an export does not.
    const bool held = id == kCommandLauncher ? app.exportRunning.load() : !DocumentMayChange(app);
    if (CommandReplacesOrEdits(id, app) && held) {
        if (app.exportRunning.load()) ShowToast(app, "Export in progress", 3);
        std::printf("[UI] command %d dropped: the document is busy\n", id);
        return false;
    }
    if (id >= kCommandRecentBase && id < kCommandRecentEnd) return OpenRecent(ctx, id - kCommandRecentBase);
    if (id >= kCommandRecipeBase && id < kCommandChainEnd) return PlaceListEntry(ctx.doc, id) >= 0;

    switch (id) {
        case kCommandPlayStop: TogglePlay(ctx); return true;
        case kCommandEscape: Escape(ctx); return true;
        case kCommandUndo:
        case kCommandRedo: return RunUndoCommand(ctx.doc, id == kCommandRedo);
        case kCommandCopy:
            CopySelectedEvents(project, app, app.eventClipboard);
            return HasSelection(app);
        case kCommandCut:
            CopySelectedEvents(project, app, app.eventClipboard);
            return DeleteSelectedEvents(ctx.doc);
        case kCommandPaste: return !PasteEventClipboard(ctx.doc, app.eventClipboard).empty();
        case kCommandDelete: return DeleteSelectedEvents(ctx.doc);
        case kCommandSelectAll: SelectAllEvents(app, project); return !project.events.empty();
        case kCommandSave: return Save(ctx, false);
        case kCommandSaveAs: return Save(ctx, true);
        case kCommandNew:
        case kCommandClose: return Ran(NewProjectCommand(ctx.life));
        case kCommandOpen: return Ran(OpenProjectCommand(ctx.life));
        case kCommandDrawMode: return ToggleCurveDrawMode(app, project);
        case kCommandNudgeBack: Nudge(ctx, -1); return true;
        case kCommandNudgeForward: Nudge(ctx, +1); return true;
        case kCommandZoomIn: Zoom(app, project, kZoomInFactor); return true;
        case kCommandZoomOut: Zoom(app, project, kZoomOutFactor); return true;
        case kCommandMute: return ToggleSelectionMuted(ctx.doc);
        case kCommandGroup: return GroupSelection(ctx.doc);
        case kCommandUngroup: return UngroupSelection(ctx.doc);
        case kCommandRender: return RequestRender(ctx.doc);
        case kCommandSetInPoint: SetInPoint(app); return true;
        case kCommandSetOutPoint: SetOutPoint(app); return true;
        case kCommandClearWorkArea: ClearWorkArea(app); return true;
        case kCommandLock: return ToggleSelectionLocked(ctx.doc);
        case kCommandCreateSpot:
        case kCommandCreateBloom:
        case kCommandCreateContour:
        case kCommandCreateFill: return CreateEventAtPlayhead(ctx.doc, id - kCommandCreateSpot) >= 0;
        case kCommandSaveScene: return NewSceneFromWorkArea(ctx.doc) >= 0;
        case kCommandReviewSelectAll: SelectAllTraceSuggestions(app); return true;
        case kCommandReviewOn:
        case kCommandReviewOff: SetTraceSelectionOn(app, id == kCommandReviewOn); return true;
        case kCommandReviewApply: return QueueTraceReviewImport(app);
        case kCommandExport: app.activeTab = 4; return true;
        case kCommandSettings: app.activeTab = 5; return true;
        case kCommandAbout: app.showAbout = !app.showAbout; return true;
        case kCommandUserGuide: return OpenUserGuide(app);
        case kCommandLauncher:
            app.showLauncher = true;
            app.launcherDismissed = false;
            return true;
        case kCommandZoomFit: FitTimelineView(app, project.totalDuration); return true;
        case kCommandImportVideo: return ImportVideo(app);
        case kCommandImportMarkers: return ImportMarkers(app, project);
        case kCommandTabEvents: app.activeTab = 0; return true;
        case kCommandTabTrace: app.activeTab = 1; return true;
        case kCommandTabLibrary: app.activeTab = 2; return true;
        case kCommandTabMixer: app.activeTab = 3; return true;
        case kCommandPlaceClip: return PlaceAudioFileAsClip(ctx.doc) >= 0;
        case kCommandPlaceBed: return AddBedAtPlayhead(ctx.doc) >= 0;
        case kCommandBounceToClip: return BounceSelectionToClip(ctx.doc, BouncesDir()) >= 0;
        default: return Missing(id, "this command");
    }
}
