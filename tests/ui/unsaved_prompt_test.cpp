// The unsaved-changes confirmation as the commands raise it and its drawn
// buttons answer it: quit, Open, New, Close and a recent project with unsaved
// events; Discard, a failing and a good Save, the close cross and Escape;
// an empty document that acts at once.
#include <gtest/gtest.h>

#include <imgui.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "app/command_ids.h"
#include "app/project_commands.h"
#include "app/shell_quit.h"
#include "app/shell_services.h"
#include "app/test_driver.h"
#include "operations/document_context.h"
#include "support/imgui_headless.h"
#include "support/lifecycle_rig.h"
#include "ui/command_executor.h"
#include "ui/unsaved_prompt.h"

namespace {

struct PromptRig : LifecycleRig {
    HeadlessGui gui;
    CommandContext cmd;

    PromptRig() {
        cmd.doc = MakeDocumentContext(*project, *library, *engine, *app);
        cmd.life = ctx;
        FakeDialogs::Install(*app);
        Unsaved();
    }
    void Unsaved() {
        *project = SpotDocument(2);
        app->modified = true;
    }
    bool Run(int id) { return ExecuteCommand(cmd, id); }

    // One frame with the confirmation in a title bar 40 points high.
    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 40));
        ImGui::Begin("##title", nullptr, ImGuiWindowFlags_NoDecoration);
        ImGui::SetCursorPos(ImVec2(40, 0));
        DrawUnsavedConfirmation(ctx, 40);
        ImGui::End();
        gui.EndFrame();
    }
    // Clicks the centre of a button the last frame drew ("save", "discard", "close").
    void Click(const std::string& button) {
        Frame();
        StateDump dump;
        DumpPromptFields(dump);
        const std::string key = "prompt." + button + "Rect=";
        const size_t at = dump.text.find(key);
        ASSERT_NE(at, std::string::npos) << dump.text;
        std::stringstream in(dump.text.substr(at + key.size()));
        float x = 0, y = 0, w = 0, h = 0;
        char comma = 0;
        in >> x >> comma >> y >> comma >> w >> comma >> h;
        ASSERT_GT(w, 0) << button;
        gui.Click(x + w / 2, y + h / 2, [this] { Frame(); });
    }
};

}  // namespace

TEST(UnsavedPrompt, QuitAndOpenWaitForItDiscardGoesOnWithoutWriting) {
    PromptRig rig;
    AppState& app = *rig.app;

    // Quit with unsaved events: the confirmation, not the quit.
    app.quitRequested = true;
    HandleQuitRequest(app, *rig.project, ShellServices{});
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_TRUE(app.quitAfterConfirm);
    EXPECT_EQ(rig.quits, 0);
    rig.Click("discard");
    EXPECT_EQ(rig.quits, 1);
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_TRUE(std::filesystem::is_empty(rig.dir.path())) << "Discard wrote nothing";

    // Open asks first; the dialog comes only after the answer. Escape
    // cancels exactly as the close cross: nothing waits any more.
    ASSERT_TRUE(rig.Run(kCommandOpen));
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_TRUE(app.openDialogAfterConfirm);
    EXPECT_TRUE(FakeDialogs::titles.empty());
    rig.Run(kCommandEscape);
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_FALSE(app.openDialogAfterConfirm);
    EXPECT_EQ(rig.project->events.size(), 2u);

    // New, the close cross, New again and Discard: a new project.
    ASSERT_TRUE(rig.Run(kCommandNew));
    rig.Click("close");
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_EQ(rig.project->events.size(), 2u);
    ASSERT_TRUE(rig.Run(kCommandClose));
    rig.Click("discard");
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_EQ(app.toastText, "New project");
    EXPECT_EQ(app.confirmAction, 0);

    // An empty document acts at once, even marked modified.
    app.modified = true;
    ASSERT_TRUE(rig.Run(kCommandNew));
    EXPECT_EQ(app.confirmAction, 0);
    app.quitRequested = true;
    HandleQuitRequest(app, *rig.project, ShellServices{});
    EXPECT_EQ(app.confirmAction, 0);
}

TEST(UnsavedPrompt, AFailedSaveKeepsItAGoodSaveOpensWhatWaited) {
    PromptRig rig;
    AppState& app = *rig.app;
    const std::string other = rig.File("Other/Other.tlproj");
    ASSERT_TRUE(WriteProjectAt(other, SpotDocument(5)));
    app.recentProjects = {other};

    // A recent project behind the confirmation; a save that cannot be
    // written leaves it up and nothing opened.
    ASSERT_TRUE(rig.Run(kCommandRecentBase));
    EXPECT_EQ(app.confirmOpenPath, other);
    FakeDialogs::saveAnswer = "/proc/no such folder/Mine.tlproj";
    rig.Click("save");
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(rig.project->events.size(), 2u);
    EXPECT_EQ(app.confirmOpenPath, other);
    EXPECT_EQ(app.toastText, "Save failed");

    // A save that works, then the project that waited.
    FakeDialogs::saveAnswer = rig.File("Mine/Mine.tlproj");
    rig.Click("save");
    EXPECT_TRUE(std::filesystem::exists(rig.File("Mine/Mine.tlproj")));
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_EQ(rig.project->events.size(), 5u);
    EXPECT_EQ(app.projectPath, other);

    // A second copy's path waits for the answer too.
    rig.Unsaved();
    app.pendingOpenPath = rig.File("Mine/Mine.tlproj");
    TakeQueuedOpenPath(rig.ctx);
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(rig.project->events.size(), 2u);
    rig.Click("discard");
    EXPECT_EQ(rig.project->events.size(), 2u) << "Mine held the two events saved above";
    EXPECT_EQ(app.projectPath, rig.File("Mine/Mine.tlproj"));
    EXPECT_FALSE(app.modified);
}
