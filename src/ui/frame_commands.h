// frame_commands.h — the frame's share of the commands: the keys read from
// the GUI, the one command chosen and run, then the quit request.
//
// Index
//   ReadCommandKeys         the key layer: SDL scancodes in the GUI's key state
//   ProgramCommandContext   the program's objects and the GUI's input reset
//   RunFrameCommands        DrawUI's step: choose, run, then the quit request
//   NotePopupsAtFrameEnd    whether a pop-up is open as the frame ends (Escape's owner next frame)
//   DumpCommandFields       "commands.*" and "about.shown" of the window tests' state dump
//
// Dear ImGui 1.86 has no named letter, digit or punctuation keys and no
// Ctrl modifier key: the SDL back-end writes io.KeysDown by scancode, and
// this layer is the one place that reads them. UI thread only.
#pragma once

#include "ui/command_chooser.h"
#include "ui/command_executor.h"

CommandKeys ReadCommandKeys();

CommandContext ProgramCommandContext();

// Returns the command run this frame (0 for none).
int RunFrameCommands();

// Called as DrawUI ends: an Escape of the next frame belongs to a pop-up that
// is open now.
void NotePopupsAtFrameEnd();

struct StateDump;
void DumpCommandFields(StateDump& dump);
