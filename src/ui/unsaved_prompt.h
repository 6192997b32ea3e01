// unsaved_prompt.h — the unsaved-changes confirmation in the title bar.
//
// Index
//   DrawUnsavedConfirmation   "Unsaved", "Save##cnf", "Discard##cnf" and "##cnfx"
//   DrawTitlePrompt           the same for the title bar's prompt slot (SetTitlePrompt)
//   DumpPromptFields          "prompt.*": shown, and where its buttons were drawn
//
// Raised (confirmAction 1) by whatever would throw away unsaved events: the
// quit, New, Close, Open, a recent project, a path from the command line or
// a second copy. What waits behind it is kept in `quitAfterConfirm`,
// `confirmOpenPath` or `openDialogAfterConfirm` (project_commands.h). Save
// continues only after a save that succeeded; a cancelled dialog or a
// failed save leaves the confirmation up. The close cross and Escape forget
// the pending action. UI thread, inside the title bar's window.
#pragma once

struct AppState;
struct LifecycleContext;

// Draws at the cursor, centred in a bar `height` points high, while the
// confirmation is up; returns the width it took (0 when not shown). The
// title bar calls the program's form where the confirmation belongs.
float DrawUnsavedConfirmation(const LifecycleContext& ctx, float height);
float DrawUnsavedConfirmation(float height);

// At x of the title bar; returns the right end of what it drew.
float DrawTitlePrompt(AppState& app, float x, float height);

struct StateDump;
void DumpPromptFields(StateDump& dump);
