// project_commands.h — what the frame loop decides for the project commands,
// as small functions the command dispatch, the title bar's confirmation and
// the launcher call (none of them draws anything).
//
// Index
//   ProgramLifecycleContext   the program's document, library, engine, state,
//                             audio output, video player and services
//   OpenProject / SaveProject / NewProject / ContinuePendingAction
//                             the program's forms of the lifecycle operations
//   ProjectCommandResult      what a command did
//   NewProjectCommand         New and Close (and the launcher's "New Project##lnch")
//   OpenProjectCommand        Open: "Open Tessaloom Project" ("tlproj"), then OpenProject
//                             (and the launcher's "Open File…##lnch")
//   OpenRecentProjectCommand  an entry of Open Recent
//   LauncherOpenRecent        a row of the launcher: an unreadable file leaves the list
//   SaveProjectCommand        Save: the project's path, else "Save Tessaloom Project"
//   SaveProjectAsCommand      Save As: "Save Tessaloom Project As"
//   TakeQueuedOpenPath        a path from the command line or a second copy
//   ConfirmSave / ConfirmDiscard / ConfirmClose
//                             "Save##cnf", "Discard##cnf" and "##cnfx" of the confirmation
//
// The confirmation ("Unsaved", confirmAction 1) guards everything that would
// replace a document that holds events and unsaved changes: New, Close, Open,
// a recent project, a queued path, and quitting (HandleQuitRequest,
// shell_quit.h). What waits behind it is `quitAfterConfirm`,
// `confirmOpenPath` or `openDialogAfterConfirm`; nothing set means a new
// project. Save continues the action only when the save succeeded.
//
// While an export runs, New and Open (and the rest that replace the
// document) are refused with "Export in progress"; Save and Save As run;
// a queued path waits in `pendingOpenPath`. UI thread only.
#pragma once

#include <string>

#include "operations/project_lifecycle.h"

struct AppState;

LifecycleContext ProgramLifecycleContext();

bool OpenProject(const std::string& path);
// The program's save, waited for (the test driver's "save"): true when written.
bool SaveProject(const std::string& path);
bool NewProject();
void ContinuePendingAction();

enum class ProjectCommandResult {
    Done,       // the operation ran and succeeded (a save: started on the writer's thread)
    Prompted,   // the unsaved-changes confirmation was raised instead
    Cancelled,  // a dialog was cancelled, or there was nothing to do
    Refused,    // the document may not change now
    Failed,     // the operation ran and failed (its toast says why)
};

ProjectCommandResult NewProjectCommand(const LifecycleContext& ctx);
ProjectCommandResult OpenProjectCommand(const LifecycleContext& ctx);
ProjectCommandResult OpenRecentProjectCommand(const LifecycleContext& ctx, const std::string& path);
// The launcher closes unless the result is Failed (the row left the list) or Refused.
ProjectCommandResult LauncherOpenRecent(const LifecycleContext& ctx, const std::string& path);
// Only with at least one event and a save dialog hook.
ProjectCommandResult SaveProjectCommand(const LifecycleContext& ctx);
ProjectCommandResult SaveProjectAsCommand(const LifecycleContext& ctx);
// Waits (Cancelled, the path kept) while the document may not change.
ProjectCommandResult TakeQueuedOpenPath(const LifecycleContext& ctx);

// Saves to the project's path or the dialog's; the pending action follows
// only when that save succeeds (the confirmation hides while it runs). A
// cancelled dialog leaves the confirmation up; a failed save shows it again.
ProjectCommandResult ConfirmSave(const LifecycleContext& ctx);
void ConfirmDiscard(const LifecycleContext& ctx);
// Hides the confirmation and forgets what waited behind it.
void ConfirmClose(AppState& app);
