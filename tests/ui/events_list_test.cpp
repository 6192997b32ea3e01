// The events list as a widget in a GUI context without a window: a row
// dragged onto a folder header moves the selection in, onto the drop zone
// moves it out; a right-click selects an unselected row and opens the menu;
// only the rows in view are drawn; a quiet frame keeps the order and rows
// and shows what a full frame shows.
#include <gtest/gtest.h>

#include <SDL.h>
#include <imgui.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/frame_driver.h"
#include "app/shell.h"
#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/imgui_headless.h"
#include "ui/event_context_menu.h"
#include "ui/events_list.h"

namespace {

struct ListWidgetRig {
    HeadlessGui gui{900, 600};
    std::unique_ptr<AppState> app = std::make_unique<AppState>();
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    ListWidgetRig(int events, int inFolder) {
        gui.MapKeysAsSdl();
        ResetEngineVoices(*engine, 48000, 0);
        project->totalDuration = 600;
        for (int i = 0; i < events; ++i) {
            Event e = MakeEvent(*project, float(i), kShapeSpot, 0.5f);
            if (i < inFolder) CopyTextField(e.folder, "Doors");
            project->events.push_back(e);
        }
        Frame();
    }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }
    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##main", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
        DrawEventsList(Ctx(), nullptr);
        ImGui::End();
        gui.EndFrame();
    }
    // The centre of the row showing `kind` `index`.
    ImVec2 Row(int kind, int index) {
        for (const EventsListReport::Row& r : gEventsListReport.rows)
            if (r.kind == kind && r.index == index) return ImVec2(r.x + r.width / 3, r.y + r.height / 2);
        ADD_FAILURE() << "no row " << kind << "/" << index;
        return ImVec2(-1, -1);
    }
    void Drag(ImVec2 from, ImVec2 to) {
        gui.MoveMouse(from.x, from.y);
        Frame();
        gui.SetButton(0, true);
        Frame();
        for (int step = 1; step <= 4; ++step) {
            gui.MoveMouse(from.x + (to.x - from.x) * float(step) / 4, from.y + (to.y - from.y) * float(step) / 4);
            Frame();
        }
        gui.SetButton(0, false);
        Frame();
        Frame();
    }
    void Type(const char* text) {
        gui.TypeText(text);
        Frame();
        gui.SetKey(SDL_SCANCODE_RETURN, true);
        Frame();
        gui.SetKey(SDL_SCANCODE_RETURN, false);
        Frame();
    }
    std::string Folder(int e) const { return std::string(TextFieldView(project->events[size_t(e)].folder)); }
};

}  // namespace

TEST(EventsListWidget, RowsDraggedOntoAHeaderJoinItsFolderAndOntoTheDropZoneLeaveIt) {
    ListWidgetRig rig(5, 2);
    rig.app->selectedEvents = {3, 4};
    rig.app->selectedEvent = 3;
    rig.Frame();
    rig.Drag(rig.Row(1, 4), rig.Row(0, 0));
    EXPECT_EQ(rig.Folder(3), "Doors");
    EXPECT_EQ(rig.Folder(4), "Doors");
    EXPECT_EQ(rig.Folder(2), "");
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // A row that was not selected is selected as its drag starts.
    rig.Frame();
    ASSERT_GE(gEventsListReport.dropZoneY, 0);
    rig.Drag(rig.Row(1, 1), ImVec2(300, gEventsListReport.dropZoneY + 12));
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{1});
    EXPECT_EQ(rig.Folder(1), "");
    EXPECT_EQ(rig.Folder(0), "Doors");
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u);
}

TEST(EventsListWidget, ARightClickSelectsAnUnselectedRowAndOpensTheMenu) {
    ListWidgetRig rig(4, 0);
    rig.app->selectedEvents = {0, 1};
    rig.app->selectedEvent = 0;
    rig.Frame();
    const ImVec2 row = rig.Row(1, 3);
    rig.gui.Click(row.x, row.y, [&] { rig.Frame(); }, 1);
    rig.Frame();
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{3});
    EXPECT_TRUE(gEventMenuReport.open);
    EXPECT_GE(gEventMenuReport.frame, ImGui::GetFrameCount() - 2);

    // On a selected row the selection stays, and Delete acts on all of it.
    rig.app->selectedEvents = {1, 3};
    const ImVec2 other = rig.Row(1, 1);
    rig.gui.Click(other.x, other.y, [&] { rig.Frame(); }, 1);  // closes the open menu
    rig.gui.Click(other.x, other.y, [&] { rig.Frame(); }, 1);
    rig.Frame();
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{1, 3}));
    rig.gui.Click(gEventMenuReport.deleteX, gEventMenuReport.deleteY, [&] { rig.Frame(); });
    EXPECT_EQ(rig.project->events.size(), 2u);
}

TEST(EventsListWidget, OnlyTheRowsInViewAreDrawnAndAScrollRequestCentresTheSelection) {
    ListWidgetRig rig(400, 0);
    EXPECT_LT(gEventsListReport.rows.size(), 60u);
    rig.app->selectedEvent = 300;
    rig.app->selectedEvents = {300};
    rig.app->scrollToSelection = true;
    rig.Frame();
    rig.Frame();
    EXPECT_FALSE(rig.app->scrollToSelection);
    const ImVec2 row = rig.Row(1, 300);
    EXPECT_GT(row.y, 150);
    EXPECT_LT(row.y, 500);
}

TEST(EventsListWidget, NamesAreTypedInPlaceForAFolderAndForANewScene) {
    ListWidgetRig rig(3, 2);
    const ImVec2 header = rig.Row(0, 0);
    rig.gui.MoveMouse(header.x, header.y);
    for (bool down : {true, false, true, false}) {  // a double click
        rig.gui.SetButton(0, down);
        rig.Frame();
    }
    rig.Frame();
    ASSERT_TRUE(rig.app->folderEditing);
    rig.Type("Gates");  // the name was selected whole: typing replaces it
    EXPECT_FALSE(rig.app->folderEditing);
    EXPECT_EQ(rig.Folder(0), "Gates");
    EXPECT_EQ(rig.Folder(1), "Gates");
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // "##scadd" on a work area: one scene, its name open in the list.
    rig.app->workAreaIn = 10;
    rig.app->workAreaOut = 20;
    rig.Frame();
    rig.gui.Click(gEventsListReport.sceneAddX, gEventsListReport.scenesComboY, [&] { rig.Frame(); });
    ASSERT_EQ(rig.project->scenes.size(), 1u);
    ASSERT_TRUE(rig.app->sceneListRenaming);
    rig.Frame();
    rig.Frame();
    EXPECT_FALSE(rig.app->sceneRenameFocus) << "the field has taken the focus";
    rig.Type("Street");
    EXPECT_FALSE(rig.app->sceneListRenaming);
    EXPECT_STREQ(rig.project->scenes[0].name, "Street");
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 2u) << "the scene and its first name: one step";
}

// A frame the main loop marks quiet keeps the order and the rows the frames
// before it made: after every kind of change those frames see, the quiet
// frames must show the same list.
TEST(EventsListWidget, AQuietFrameShowsTheListTheFramesBeforeItMade) {
    ListWidgetRig rig(40, 6);
    auto drawn = [&](bool quiet) {
        rig.app->quietFrame = rig.app->documentQuiet = quiet;
        rig.Frame();
        rig.app->quietFrame = rig.app->documentQuiet = false;
        return DrawDataFingerprint(ImGui::GetDrawData());
    };
    uint64_t shown = drawn(false);
    EXPECT_EQ(drawn(true), shown);
    const std::vector<std::pair<std::string, std::function<void()>>> changes = {
        {"an event moved to the front", [&] { rig.project->events[30].time = -5; }},
        {"an event's keywords changed", [&] { CopyTextField(rig.project->events[2].keywords, "glass shatter"); }},
        {"an event added", [&] { rig.project->events.push_back(MakeEvent(*rig.project, 1.5f, kShapeBed, 0.5f)); }},
        {"a folder folded", [&] { rig.app->collapsedFolders.insert("Doors"); }},
    };
    for (const auto& [what, apply] : changes) {
        SCOPED_TRACE(what);
        apply();
        uint64_t changed = 0;
        for (int k = 0; k < kQuietAfterFrames; ++k) changed = drawn(false);
        EXPECT_NE(changed, shown);
        EXPECT_EQ(drawn(true), changed);
        EXPECT_EQ(drawn(true), changed);
        shown = changed;
    }
}
