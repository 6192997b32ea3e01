// The frame's choice of one command: the shortcut tables, the menu's parked
// command, text focus, the busy task's filter and review mode; the key layer.
#include <SDL_scancode.h>
#include <gtest/gtest.h>
#include <imgui.h>

#include <initializer_list>
#include <memory>

#include "app/command_ids.h"
#include "operations/app_state.h"
#include "support/imgui_headless.h"
#include "ui/command_chooser.h"
#include "ui/frame_commands.h"

namespace {

CommandKeys Keys(std::initializer_list<CommandKey> pressed, bool ctrl = false, bool shift = false) {
    CommandKeys keys;
    for (CommandKey k : pressed) keys.Press(k);
    keys.ctrl = ctrl;
    keys.shift = shift;
    return keys;
}

struct KeyCase {
    const char* what;
    CommandKeys keys;
    bool review;
    int expected;
};

}  // namespace

TEST(CommandChooser, ShortcutTables) {
    using K = CommandKey;
    const KeyCase cases[] = {
        {"Ctrl+Shift+Z redoes", Keys({K::Z}, true, true), false, kCommandRedo},
        {"Ctrl+Z undoes", Keys({K::Z}, true), false, kCommandUndo},
        {"plain Z is nothing", Keys({K::Z}), false, kCommandNone},
        {"X clears the work area", Keys({K::X}), false, kCommandClearWorkArea},
        {"Shift+X is nothing", Keys({K::X}, false, true), false, kCommandNone},
        {"Ctrl+Shift+G ungroups", Keys({K::G}, true, true), false, kCommandUngroup},
        {"Ctrl+G groups", Keys({K::G}, true), false, kCommandGroup},
        {"G renders", Keys({K::G}), false, kCommandRender},
        {"with Ctrl only the Ctrl rows: Ctrl+D is nothing", Keys({K::D}, true), false, kCommandNone},
        {"the top-row 1 makes a Spot", Keys({K::Digit1}), false, kCommandCreateSpot},
        {"Backspace deletes", Keys({K::Backspace}), false, kCommandDelete},
        {"Space and Comma together nudge only", Keys({K::Space, K::Comma}), false, kCommandNudgeBack},
        {"Period beats Comma", Keys({K::Comma, K::Period}), false, kCommandNudgeForward},
        {"Ctrl+Comma is the Settings accelerator, not a nudge", Keys({K::Comma}, true), false, kCommandNone},
        {"the first row in table order wins", Keys({K::Space, K::Escape}), false, kCommandPlayStop},
        {"normal mode has no Minus", Keys({K::Minus}), false, kCommandNone},
        {"review: Minus turns off", Keys({K::Minus}), true, kCommandReviewOff},
        {"review: Equal turns on", Keys({K::Equal}), true, kCommandReviewOn},
        {"review: Semicolon applies", Keys({K::Semicolon}), true, kCommandReviewApply},
        {"review: Ctrl+A selects every suggestion", Keys({K::A}, true), true, kCommandReviewSelectAll},
        {"review: no new events", Keys({K::Digit1}), true, kCommandNone},
        {"review: Period still nudges", Keys({K::Period}), true, kCommandNudgeForward},
    };
    for (const KeyCase& c : cases) EXPECT_EQ(ChooseKeyCommand(c.keys, c.review), c.expected) << c.what;
}

TEST(CommandChooser, KeysMenuFocusAndBusyTask) {
    using K = CommandKey;
    ChooserState idle;
    // A key beats the menu, whose command is dropped.
    EXPECT_EQ(ChooseCommand(Keys({K::X}), idle, kCommandOpen), kCommandClearWorkArea);
    EXPECT_EQ(ChooseCommand(Keys({}), idle, kCommandOpen), kCommandOpen);

    // A focused text field blocks the keys, not the menu.
    ChooserState typing;
    typing.textFocus = true;
    EXPECT_EQ(ChooseCommand(Keys({K::Space}), typing, kCommandNone), kCommandNone);
    EXPECT_EQ(ChooseCommand(Keys({K::Space}), typing, kCommandSave), kCommandSave);

    // During a full render keys are not read; menu commands pass only
    // from the allowed list.
    ChooserState busy;
    busy.busy = true;
    EXPECT_EQ(ChooseCommand(Keys({}), busy, kCommandOpen), kCommandNone);
    EXPECT_EQ(ChooseCommand(Keys({}), busy, kCommandTabEvents), kCommandTabEvents);
    EXPECT_EQ(ChooseCommand(Keys({K::Space}), busy, kCommandNone), kCommandNone);
    for (int id : {1, 2, 11, 14, 15, 38, 39, 40, 41, 42, 45, 46, 47, 48})
        EXPECT_EQ(ChooseCommand(Keys({}), busy, id), id) << id;
    for (int id : {3, 4, 8, 10, 19, 33, 35, 36, 37, 900, 1000, 2000, 3000})
        EXPECT_EQ(ChooseCommand(Keys({}), busy, id), kCommandNone) << id;

    // An Escape that closed a pop-up does nothing more (the selection stays);
    // other keys still act while a pop-up is open.
    ChooserState popup;
    popup.popupOpen = true;
    EXPECT_EQ(ChooseCommand(Keys({K::Escape}), idle, kCommandNone), kCommandEscape);
    EXPECT_EQ(ChooseCommand(Keys({K::Escape}), popup, kCommandNone), kCommandNone);
    EXPECT_EQ(ChooseCommand(Keys({K::X}), popup, kCommandNone), kCommandClearWorkArea);
}

TEST(CommandChooser, ParkedCommandIsTakenOnce) {
    auto app = std::make_unique<AppState>();
    app->pendingCommand.store(kCommandAbout);
    EXPECT_EQ(TakeFrameCommand(*app, CommandKeys{}, ChooserState{}), kCommandAbout);
    EXPECT_EQ(app->pendingCommand.load(), 0);
    EXPECT_EQ(TakeFrameCommand(*app, CommandKeys{}, ChooserState{}), kCommandNone);

    // Dropped by a key, it is gone, not left for the next frame.
    app->pendingCommand.store(kCommandNew);
    EXPECT_EQ(TakeFrameCommand(*app, Keys({CommandKey::T}), ChooserState{}), kCommandZoomIn);
    EXPECT_EQ(app->pendingCommand.load(), 0);

    // Behind the busy overlay a refused command is dropped, an allowed one waits.
    app->pendingCommand.store(kCommandSave);
    EXPECT_TRUE(DropParkedBusyCommand(*app));
    EXPECT_EQ(app->pendingCommand.load(), 0);
    app->pendingCommand.store(kCommandTabMixer);
    EXPECT_FALSE(DropParkedBusyCommand(*app));
    EXPECT_EQ(app->pendingCommand.load(), kCommandTabMixer);
    EXPECT_FALSE(app->busyTask.cancelRequested.load());

    // New, Open and Close leave the document: the task is stopped and the
    // command runs after it, behind the overlay or with the window live.
    for (int id : {kCommandNew, kCommandOpen, kCommandClose}) {
        app->busyTask.cancelRequested.store(false);
        app->pendingCommand.store(id);
        EXPECT_FALSE(DropParkedBusyCommand(*app)) << id;
        EXPECT_EQ(app->pendingCommand.load(), id);
        EXPECT_TRUE(app->busyTask.cancelRequested.load()) << id;
        app->busyTask.cancelRequested.store(false);
        ChooserState busy;
        busy.busy = true;
        EXPECT_EQ(TakeFrameCommand(*app, CommandKeys{}, busy), kCommandNone) << id;
        EXPECT_EQ(app->pendingCommand.load(), id);
        EXPECT_TRUE(app->busyTask.cancelRequested.load()) << id;
        EXPECT_EQ(TakeFrameCommand(*app, CommandKeys{}, ChooserState{}), id) << "once the task is over";
    }
    // So does the window's close button.
    app->busyTask.cancelRequested.store(false);
    app->quitRequested = true;
    EXPECT_FALSE(DropParkedBusyCommand(*app));
    EXPECT_TRUE(app->busyTask.cancelRequested.load());
    EXPECT_TRUE(app->quitRequested) << "taken once the task is over";

    // Review mode needs the Trace tab and a trace with data.
    EXPECT_FALSE(InReviewMode(*app));
    app->activeTab = 1;
    EXPECT_FALSE(InReviewMode(*app));
    app->opticalTrace.present.store(true);
    EXPECT_TRUE(InReviewMode(*app));
}

// The key layer reads the GUI's keys by SDL scancode: a held key fires once,
// except Comma and Period, which repeat at the key-repeat rate.
TEST(CommandKeyLayer, HeldKeysFireOnceButTheNudgeKeysRepeat) {
    HeadlessGui gui;
    int periods = 0, spaces = 0, undos = 0;
    auto frame = [&](bool ctrl) {
        ImGui::GetIO().KeyCtrl = ctrl;
        gui.Frame();
        const CommandKeys keys = ReadCommandKeys();
        periods += keys.Pressed(CommandKey::Period);
        spaces += keys.Pressed(CommandKey::Space);
        undos += ChooseKeyCommand(keys, false) == kCommandUndo;
        gui.EndFrame();
    };
    gui.SetKey(SDL_SCANCODE_PERIOD, true);
    gui.SetKey(SDL_SCANCODE_SPACE, true);
    for (int k = 0; k < 60; ++k) frame(false);  // one second held
    EXPECT_EQ(spaces, 1);
    EXPECT_GT(periods, 10) << "Period repeats while held";
    gui.SetKey(SDL_SCANCODE_PERIOD, false);
    gui.SetKey(SDL_SCANCODE_SPACE, false);
    frame(false);

    gui.SetKey(SDL_SCANCODE_Z, true);
    for (int k = 0; k < 60; ++k) frame(true);
    EXPECT_EQ(undos, 1) << "Ctrl+Z held is one undo";
}
