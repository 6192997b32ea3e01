// frame_commands.cpp — keys from the GUI, the frame's command, the quit.
//
// Index
//   Key layer          scancodes of the keys the shortcuts read
//   ProgramCommandContext / RunCommand
//   RunFrameCommands / DumpCommandFields
#include "playback/transport.h"
#include "ui/frame_commands.h"

#include <SDL_scancode.h>
#include <imgui.h>

#include <cstdio>

#include "app/command_ids.h"
#include "app/imgui_compat.h"
#include "app/project_commands.h"
#include "app/shell_quit.h"
#include "app/shell_services.h"
#include "app/test_driver.h"
#include "document/busy_task.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"

// ---------------------------------------------------------------------------
// Key layer
// ---------------------------------------------------------------------------

namespace {

struct KeyScancode {
    CommandKey key;
    int scancode;
};

constexpr KeyScancode kKeyScancodes[] = {
    {CommandKey::A, SDL_SCANCODE_A},           {CommandKey::B, SDL_SCANCODE_B},
    {CommandKey::C, SDL_SCANCODE_C},           {CommandKey::D, SDL_SCANCODE_D},
    {CommandKey::G, SDL_SCANCODE_G},           {CommandKey::I, SDL_SCANCODE_I},
    {CommandKey::L, SDL_SCANCODE_L},           {CommandKey::M, SDL_SCANCODE_M},
    {CommandKey::O, SDL_SCANCODE_O},           {CommandKey::R, SDL_SCANCODE_R},
    {CommandKey::S, SDL_SCANCODE_S},           {CommandKey::T, SDL_SCANCODE_T},
    {CommandKey::V, SDL_SCANCODE_V},           {CommandKey::X, SDL_SCANCODE_X},
    {CommandKey::Z, SDL_SCANCODE_Z},           {CommandKey::Digit1, SDL_SCANCODE_1},
    {CommandKey::Digit2, SDL_SCANCODE_2},      {CommandKey::Digit3, SDL_SCANCODE_3},
    {CommandKey::Digit4, SDL_SCANCODE_4},      {CommandKey::Space, SDL_SCANCODE_SPACE},
    {CommandKey::Escape, SDL_SCANCODE_ESCAPE}, {CommandKey::Backspace, SDL_SCANCODE_BACKSPACE},
    {CommandKey::Delete, SDL_SCANCODE_DELETE}, {CommandKey::Comma, SDL_SCANCODE_COMMA},
    {CommandKey::Period, SDL_SCANCODE_PERIOD}, {CommandKey::Minus, SDL_SCANCODE_MINUS},
    {CommandKey::Equal, SDL_SCANCODE_EQUALS},  {CommandKey::Semicolon, SDL_SCANCODE_SEMICOLON},
};

}  // namespace

CommandKeys ReadCommandKeys() {
    const ImGuiIO& io = ImGui::GetIO();
    CommandKeys keys;
    keys.ctrl = io.KeyCtrl;
    keys.shift = io.KeyShift;
    for (const KeyScancode& k : kKeyScancodes) {
        // Only the nudge keys repeat while held.
        const bool repeat = k.key == CommandKey::Comma || k.key == CommandKey::Period;
        if (ImCompat::IsScancodePressed(k.scancode, repeat)) keys.Press(k.key);
    }
    return keys;
}

// ---------------------------------------------------------------------------
// ProgramCommandContext / RunCommand
// ---------------------------------------------------------------------------

CommandContext ProgramCommandContext() {
    CommandContext ctx;
    ctx.doc = ProgramDocumentContext();
    ctx.life = ProgramLifecycleContext();
    ctx.video = &gVideoPlayer;
    ctx.guiTime = ClockSeconds(gAppState.clock);
    ctx.clearGuiInput = [] {
        ImGui::ClearActiveID();
        ImGui::GetIO().ClearInputKeys();
    };
    return ctx;
}

bool RunCommand(int id) {
    AppState& app = gAppState;
    if (app.busyTask.busy.load() && !CommandAllowedWhileBusy(id)) return false;
    return ExecuteCommand(ProgramCommandContext(), id);
}

// ---------------------------------------------------------------------------
// RunFrameCommands
// ---------------------------------------------------------------------------

namespace {
int gLastCommand = kCommandNone;  // the last command a frame ran, for the state dump
bool gPopupOpenAtFrameEnd = false;
}  // namespace

void NotePopupsAtFrameEnd() { gPopupOpenAtFrameEnd = ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId); }

int RunFrameCommands() {
    AppState& app = gAppState;
    ChooserState state;
    state.textFocus = ImGui::GetIO().WantTextInput;
    state.busy = app.busyTask.busy.load();
    state.reviewMode = InReviewMode(app);
    state.popupOpen = gPopupOpenAtFrameEnd;
    const int id = TakeFrameCommand(app, ReadCommandKeys(), state);
    if (id != kCommandNone) {
        gLastCommand = id;
        ExecuteCommand(ProgramCommandContext(), id);
    }
    HandleQuitRequest(app, gProject, gShellServices);
    return id;
}

void DumpCommandFields(StateDump& dump) {
    dump.Field("commands.last", gLastCommand);
    dump.Field("commands.enginePlayhead", GetPlaybackTime(gAudioEngine));
    dump.Field("commands.clipboard", static_cast<int>(gAppState.eventClipboard.events.size()));
    dump.Field("about.shown", gAppState.showAbout);
}
