// command_chooser.h — which one command a frame runs: a key of the main
// window's shortcuts, or the command the menu parked.
//
// Index
//   CommandKey / CommandKeys   the keys the shortcuts read, pressed this frame
//   ChooserState               text focus, busy task, review mode
//   ChooseKeyCommand           the shortcut tables (normal and review mode)
//   CommandAllowedWhileBusy    what passes while a busy task runs
//   CommandStopsBusyTask       what stops the task and then runs
//   ChooseCommand              keys, then the menu's command, then the busy filter
//   TakeFrameCommand           ChooseCommand over `pendingCommand` (taken by exchange)
//   DropParkedBusyCommand      while the busy overlay owns the frame
//   InReviewMode               the Trace tab shows a picture trace with data
//
// Pure functions of their arguments (TakeFrameCommand also empties the
// slot): the key layer (command_keys_gui.cpp) fills CommandKeys from the
// GUI, so the tables are tested without a window. A key the accelerators
// handle (Ctrl+Shift+S, Ctrl+0, F1, ...) never reaches the GUI: it arrives
// here as the menu's command.
#pragma once

#include <cstdint>

struct AppState;

enum class CommandKey : uint8_t {
    A, B, C, D, G, I, L, M, O, R, S, T, V, X, Z,
    Digit1, Digit2, Digit3, Digit4,  // the top row
    Space, Escape, Backspace, Delete,
    Comma, Period,                   // read with key repeat
    Minus, Equal, Semicolon,
    Count
};

struct CommandKeys {
    bool pressed[static_cast<int>(CommandKey::Count)] = {};
    bool ctrl = false;
    bool shift = false;

    bool Pressed(CommandKey key) const { return pressed[static_cast<int>(key)]; }
    void Press(CommandKey key) { pressed[static_cast<int>(key)] = true; }
};

struct ChooserState {
    bool textFocus = false;  // a text field has the keyboard
    bool busy = false;       // a busy task exists (a full render keeps the window live)
    bool reviewMode = false;
    // A pop-up was open when the last frame ended: an Escape now closed it
    // (the GUI's own navigation does that) and means nothing more.
    bool popupOpen = false;
};

// The first match of the set's table in order; with Ctrl held only the Ctrl
// rows, without it the plain rows and then Comma (12) or Period (13), which
// override a plain key of the same frame. 0 when nothing matches.
int ChooseKeyCommand(const CommandKeys& keys, bool reviewMode);

// 1, 2, 11, 14, 15, 38 to 42 and 45 to 48: the transport, Escape, draw mode,
// the view and the tabs, the about box, the guide and the launcher.
bool CommandAllowedWhileBusy(int id);

// Keys count only without text focus and without a busy task. A key beats
// the menu's command, which is then dropped; while busy a command outside
// the allowed list is dropped. 0 for nothing to run.
int ChooseCommand(const CommandKeys& keys, const ChooserState& state, int menuCommand);

// New, Open and Close: the designer leaves the document, so a busy task on
// it is stopped (its job polls the cancel flag; a voice build stops once each
// of its threads has finished the voice in hand) and the command waits for the
// task's end instead of being dropped.
bool CommandStopsBusyTask(int id);

// Takes the parked command (exchanged with 0, so a command parked by another
// thread meanwhile is not lost) and chooses. While busy, a command that stops
// the task raises the task's cancel flag and is parked again.
int TakeFrameCommand(AppState& app, const CommandKeys& keys, const ChooserState& state);

// While the busy overlay owns the frame no command runs: a parked command
// the busy task does not allow is dropped now (as a frame with the window
// live would drop it), an allowed one waits for the task's end, and so does
// one that stops the task (CommandStopsBusyTask), which is asked to stop; a
// quit asked for meanwhile (the window's close button) stops it the same
// way and is taken once the task is over. True when one was dropped.
bool DropParkedBusyCommand(AppState& app);

bool InReviewMode(const AppState& app);
