// command_executor.h — the one road every command takes: menu items, keys,
// toolbar and title-bar buttons, the launcher and context menus all run
// their command id (app/command_ids.h) through ExecuteCommand.
//
// Index
//   CommandContext           what a command works on
//   CommandReplacesOrEdits   the commands an export refuses ("Export in progress")
//   ExecuteCommand           one command, now
//   RunCommand               a button's command on the program's objects
//
// No GUI here: the frame (frame_commands.h) chooses the frame's command and
// supplies the GUI's part (clearing the active item and keys after a save)
// through the context. Interface thread only.
#pragma once

#include <functional>

#include "operations/document_context.h"
#include "operations/project_lifecycle.h"

struct AppState;
struct VideoPlayer;

struct CommandContext {
    DocumentContext doc;
    LifecycleContext life;         // the same objects, for the project commands
    VideoPlayer* video = nullptr;  // the reference video; null when there is none
    double guiTime = 0;            // the interface clock, seconds (nudge bursts)
    // After Save and Save As: the GUI forgets its active item and the keys
    // held, so a shortcut's key does not repeat into the field under it.
    std::function<void()> clearGuiInput;
};

// Routines of panels that are built elsewhere: each command calls its slot,
// and logs that the panel is missing while the slot is empty.
// True for the commands that change results or voices or replace the
// document (edits, render, place, paste, nudging a selection, New, Open,
// Close, recent projects, the launcher). While an export runs they are
// dropped with the toast "Export in progress".
bool CommandReplacesOrEdits(int id, const AppState& app);

// Runs the command. False when it was dropped, refused or did nothing.
bool ExecuteCommand(const CommandContext& ctx, int id);

// A button's command: the program's objects, the busy task's filter as for
// the menu (CommandAllowedWhileBusy), then ExecuteCommand.
bool RunCommand(int id);
