// project_commands.cpp — the project commands' decisions and the program's
// lifecycle context.
//
// Index
//   ProgramLifecycleContext and the program's forms
//   Raising the confirmation   NeedsConfirmation, RaiseConfirmation
//   New, Open, recent projects, Save, Save As, the queued path
//   The confirmation's buttons
#include "app/project_commands.h"

#include <algorithm>
#include <cstdio>

#include "app/shell_quit.h"
#include "app/shell_services.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"

// ---------------------------------------------------------------------------
// The program's context
// ---------------------------------------------------------------------------

LifecycleContext ProgramLifecycleContext() {
    LifecycleContext ctx = MakeLifecycleContext(gProject, gSoundLibrary, gAudioEngine, gAppState);
    ctx.output = &gAudioOutput;
    ctx.video = &gVideoPlayer;
    ctx.savePreferences = [] {
        if (gShellServices.savePreferences) gShellServices.savePreferences();
    };
    ctx.quit = [] { QuitApplication(gAppState, gShellServices); };
    ctx.saveOnWorker = true;
    return ctx;
}

bool OpenProject(const std::string& path) { return OpenProject(ProgramLifecycleContext(), path); }
bool SaveProject(const std::string& path) {
    const LifecycleContext ctx = ProgramLifecycleContext();
    return SaveProject(ctx, path) && WaitForProjectSave(ctx);
}
bool NewProject() { return NewProject(ProgramLifecycleContext()); }
void ContinuePendingAction() { ContinuePendingAction(ProgramLifecycleContext()); }

// ---------------------------------------------------------------------------
// Raising the confirmation
// ---------------------------------------------------------------------------

namespace {

constexpr const char* kOpenTitle = "Open Tessaloom Project";
constexpr const char* kSaveTitle = "Save Tessaloom Project";
constexpr const char* kSaveAsTitle = "Save Tessaloom Project As";
constexpr const char* kProjectDialogExtension = "tlproj";

bool NeedsConfirmation(const LifecycleContext& ctx) {
    return ctx.app->modified && !ctx.project->events.empty();
}

// The confirmation guards exactly one action: the one given here.
ProjectCommandResult RaiseConfirmation(AppState& app, std::string openPath, bool openDialog) {
    app.confirmAction = 1;
    app.quitAfterConfirm = false;
    app.confirmOpenPath = std::move(openPath);
    app.openDialogAfterConfirm = openDialog;
    std::printf("[UI] unsaved changes: %s asks first\n", openDialog || !app.confirmOpenPath.empty() ? "the open" : "a new project");
    std::fflush(stdout);
    return ProjectCommandResult::Prompted;
}

std::string AskOpenPath(const AppState& app) {
    return app.openFileDialog ? app.openFileDialog(kOpenTitle, kProjectDialogExtension) : std::string();
}

std::string AskSavePath(const AppState& app, const char* title) {
    return app.saveFileDialog ? app.saveFileDialog(title, kProjectDialogExtension) : std::string();
}

ProjectCommandResult Outcome(bool ok) { return ok ? ProjectCommandResult::Done : ProjectCommandResult::Failed; }

ProjectCommandResult SaveTo(const LifecycleContext& ctx, const std::string& path, bool continueAfter = false) {
    if (path.empty()) return ProjectCommandResult::Cancelled;
    if (ctx.app->busyTask.busy.load() || ManualSaveRunning(*ctx.app)) return ProjectCommandResult::Refused;
    return Outcome(SaveProject(ctx, path, continueAfter));
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands
// ---------------------------------------------------------------------------

ProjectCommandResult NewProjectCommand(const LifecycleContext& ctx) {
    if (DocumentChangeRefused(*ctx.app, "New project")) return ProjectCommandResult::Refused;
    if (NeedsConfirmation(ctx)) return RaiseConfirmation(*ctx.app, std::string(), false);
    return Outcome(NewProject(ctx));
}

ProjectCommandResult OpenProjectCommand(const LifecycleContext& ctx) {
    if (DocumentChangeRefused(*ctx.app, "Open")) return ProjectCommandResult::Refused;
    // Unsaved events are not thrown away by an open either: the
    // confirmation asks first, and the dialog follows it.
    if (NeedsConfirmation(ctx)) return RaiseConfirmation(*ctx.app, std::string(), true);
    const std::string path = AskOpenPath(*ctx.app);
    if (path.empty()) return ProjectCommandResult::Cancelled;
    return Outcome(OpenProject(ctx, path));
}

ProjectCommandResult OpenRecentProjectCommand(const LifecycleContext& ctx, const std::string& path) {
    if (path.empty()) return ProjectCommandResult::Cancelled;
    if (DocumentChangeRefused(*ctx.app, "Open")) return ProjectCommandResult::Refused;
    if (NeedsConfirmation(ctx)) return RaiseConfirmation(*ctx.app, path, false);
    return Outcome(OpenProject(ctx, path));
}

ProjectCommandResult LauncherOpenRecent(const LifecycleContext& ctx, const std::string& path) {
    AppState& app = *ctx.app;
    const std::string refusal = RegularFileProblem(path);
    if (!refusal.empty()) {
        auto& list = app.recentProjects;
        list.erase(std::remove(list.begin(), list.end(), path), list.end());
        app.recentMenuDirty = true;
        if (ctx.savePreferences) ctx.savePreferences();
        ShowToast(app, refusal + " \xE2\x80\x94 removed from recent", 3);
        return ProjectCommandResult::Failed;
    }
    return OpenRecentProjectCommand(ctx, path);
}

ProjectCommandResult SaveProjectCommand(const LifecycleContext& ctx) {
    const AppState& app = *ctx.app;
    if (ctx.project->events.empty() || !app.saveFileDialog) return ProjectCommandResult::Cancelled;
    return SaveTo(ctx, !app.projectPath.empty() ? app.projectPath : AskSavePath(app, kSaveTitle));
}

ProjectCommandResult SaveProjectAsCommand(const LifecycleContext& ctx) {
    return SaveTo(ctx, AskSavePath(*ctx.app, kSaveAsTitle));
}

ProjectCommandResult TakeQueuedOpenPath(const LifecycleContext& ctx) {
    AppState& app = *ctx.app;
    // A program being ended by a signal opens nothing more.
    if (app.pendingOpenPath.empty() || !DocumentMayChange(app) || app.terminationSignal != 0)
        return ProjectCommandResult::Cancelled;
    std::string path;
    path.swap(app.pendingOpenPath);
    if (NeedsConfirmation(ctx)) return RaiseConfirmation(app, std::move(path), false);
    return Outcome(OpenProject(ctx, path));
}

// ---------------------------------------------------------------------------
// The confirmation
// ---------------------------------------------------------------------------

ProjectCommandResult ConfirmSave(const LifecycleContext& ctx) {
    const AppState& app = *ctx.app;
    const std::string path = !app.projectPath.empty() ? app.projectPath : AskSavePath(app, kSaveTitle);
    // The pending action follows once the save has succeeded (SaveProject).
    return SaveTo(ctx, path, true);
}

void ConfirmDiscard(const LifecycleContext& ctx) { ContinuePendingAction(ctx); }

void ConfirmClose(AppState& app) {
    app.confirmAction = 0;
    app.quitAfterConfirm = false;
    app.confirmOpenPath.clear();
    app.openDialogAfterConfirm = false;
}
