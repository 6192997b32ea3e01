// command_chooser.cpp — the shortcut tables and the frame's choice.
//
// Index
//   Tables            KeyRow, the normal and the review-mode rows
//   ChooseKeyCommand
//   CommandAllowedWhileBusy / CommandStopsBusyTask / ChooseCommand / TakeFrameCommand /
//   DropParkedBusyCommand
//   InReviewMode
#include "ui/command_chooser.h"

#include "app/command_ids.h"
#include "operations/app_state.h"

namespace {

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

enum class Mod : uint8_t { Plain, Ctrl, CtrlShift, PlainNoShift };

struct KeyRow {
    Mod mod;
    CommandKey key;
    int command;
};

// In the order they are tested: the Shift rows come before the rows they
// would otherwise shadow (Ctrl+Shift+Z before Ctrl+Z).
constexpr KeyRow kNormalRows[] = {
    {Mod::CtrlShift, CommandKey::Z, kCommandRedo},
    {Mod::Ctrl, CommandKey::Z, kCommandUndo},
    {Mod::Ctrl, CommandKey::X, kCommandCut},
    {Mod::Ctrl, CommandKey::C, kCommandCopy},
    {Mod::Ctrl, CommandKey::V, kCommandPaste},
    {Mod::Ctrl, CommandKey::S, kCommandSave},
    {Mod::Ctrl, CommandKey::A, kCommandSelectAll},
    {Mod::CtrlShift, CommandKey::G, kCommandUngroup},
    {Mod::Ctrl, CommandKey::G, kCommandGroup},
    {Mod::Ctrl, CommandKey::L, kCommandLock},
    {Mod::Ctrl, CommandKey::B, kCommandSaveScene},
    {Mod::Plain, CommandKey::Space, kCommandPlayStop},
    {Mod::Plain, CommandKey::Escape, kCommandEscape},
    {Mod::Plain, CommandKey::D, kCommandDrawMode},
    {Mod::Plain, CommandKey::T, kCommandZoomIn},
    {Mod::Plain, CommandKey::R, kCommandZoomOut},
    {Mod::Plain, CommandKey::M, kCommandMute},
    {Mod::Plain, CommandKey::G, kCommandRender},
    {Mod::Plain, CommandKey::I, kCommandSetInPoint},
    {Mod::Plain, CommandKey::O, kCommandSetOutPoint},
    {Mod::PlainNoShift, CommandKey::X, kCommandClearWorkArea},
    {Mod::Plain, CommandKey::Digit1, kCommandCreateSpot},
    {Mod::Plain, CommandKey::Digit2, kCommandCreateBloom},
    {Mod::Plain, CommandKey::Digit3, kCommandCreateContour},
    {Mod::Plain, CommandKey::Digit4, kCommandCreateFill},
    {Mod::Plain, CommandKey::Backspace, kCommandDelete},
    {Mod::Plain, CommandKey::Delete, kCommandDelete},
};

constexpr KeyRow kReviewRows[] = {
    {Mod::CtrlShift, CommandKey::Z, kCommandRedo},
    {Mod::Ctrl, CommandKey::Z, kCommandUndo},
    {Mod::Ctrl, CommandKey::S, kCommandSave},
    {Mod::Ctrl, CommandKey::A, kCommandReviewSelectAll},
    {Mod::Plain, CommandKey::Space, kCommandPlayStop},
    {Mod::Plain, CommandKey::Escape, kCommandEscape},
    {Mod::Plain, CommandKey::T, kCommandZoomIn},
    {Mod::Plain, CommandKey::R, kCommandZoomOut},
    {Mod::Plain, CommandKey::G, kCommandRender},
    {Mod::Plain, CommandKey::Minus, kCommandReviewOff},
    {Mod::Plain, CommandKey::Equal, kCommandReviewOn},
    {Mod::Plain, CommandKey::Semicolon, kCommandReviewApply},
};

bool RowMatches(const KeyRow& row, const CommandKeys& keys) {
    if (!keys.Pressed(row.key)) return false;
    switch (row.mod) {
        case Mod::Plain: return !keys.ctrl;
        case Mod::PlainNoShift: return !keys.ctrl && !keys.shift;
        case Mod::Ctrl: return keys.ctrl;
        case Mod::CtrlShift: return keys.ctrl && keys.shift;
    }
    return false;
}

template <size_t N>
int FirstMatch(const KeyRow (&rows)[N], const CommandKeys& keys) {
    for (const KeyRow& row : rows)
        if (RowMatches(row, keys)) return row.command;
    return kCommandNone;
}

}  // namespace

// ---------------------------------------------------------------------------
// ChooseKeyCommand
// ---------------------------------------------------------------------------

int ChooseKeyCommand(const CommandKeys& keys, bool reviewMode) {
    int command = reviewMode ? FirstMatch(kReviewRows, keys) : FirstMatch(kNormalRows, keys);
    // The nudge keys follow the plain keys only: Ctrl+Comma is the Settings
    // accelerator, and a nudge must never swallow it.
    if (!keys.ctrl) {
        if (keys.Pressed(CommandKey::Comma)) command = kCommandNudgeBack;
        if (keys.Pressed(CommandKey::Period)) command = kCommandNudgeForward;
    }
    return command;
}

// ---------------------------------------------------------------------------
// ChooseCommand
// ---------------------------------------------------------------------------

bool CommandAllowedWhileBusy(int id) {
    switch (id) {
        case kCommandPlayStop:
        case kCommandEscape:
        case kCommandDrawMode:
        case kCommandZoomIn:
        case kCommandZoomOut:
        case kCommandSettings:
        case kCommandAbout:
        case kCommandUserGuide:
        case kCommandLauncher:
        case kCommandZoomFit:
        case kCommandTabEvents:
        case kCommandTabTrace:
        case kCommandTabLibrary:
        case kCommandTabMixer: return true;
        default: return false;
    }
}

int ChooseCommand(const CommandKeys& keys, const ChooserState& state, int menuCommand) {
    int keyCommand = state.textFocus || state.busy ? kCommandNone : ChooseKeyCommand(keys, state.reviewMode);
    if (keyCommand == kCommandEscape && state.popupOpen) keyCommand = kCommandNone;
    const int command = keyCommand != kCommandNone ? keyCommand : menuCommand;
    if (state.busy && !CommandAllowedWhileBusy(command)) return kCommandNone;
    return command;
}

bool CommandStopsBusyTask(int id) { return id == kCommandNew || id == kCommandOpen || id == kCommandClose; }

int TakeFrameCommand(AppState& app, const CommandKeys& keys, const ChooserState& state) {
    const int menuCommand = app.pendingCommand.exchange(kCommandNone);
    if (state.busy && CommandStopsBusyTask(menuCommand)) {
        app.busyTask.cancelRequested.store(true);
        int none = kCommandNone;
        app.pendingCommand.compare_exchange_strong(none, menuCommand);
        return kCommandNone;
    }
    return ChooseCommand(keys, state, menuCommand);
}

bool DropParkedBusyCommand(AppState& app) {
    if (app.quitRequested) app.busyTask.cancelRequested.store(true);
    int id = app.pendingCommand.load();
    if (CommandStopsBusyTask(id)) app.busyTask.cancelRequested.store(true);
    if (id == kCommandNone || CommandAllowedWhileBusy(id) || CommandStopsBusyTask(id)) return false;
    // A command parked meanwhile by another thread is left for the next look.
    return app.pendingCommand.compare_exchange_strong(id, kCommandNone);
}

// ---------------------------------------------------------------------------
// InReviewMode
// ---------------------------------------------------------------------------

bool InReviewMode(const AppState& app) { return app.activeTab == 1 && app.opticalTrace.present.load(); }
