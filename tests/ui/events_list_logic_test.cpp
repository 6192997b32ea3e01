// The events list's rules: order and weight summaries, rows, clicks on rows
// and folder headers, folder edits with their undo, and the right-click
// menu's items and actions.
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/temp_dir.h"
#include "ui/event_commands.h"
#include "ui/event_menu_logic.h"
#include "ui/events_list_logic.h"

namespace {

struct ListRig : PanelRecords {
    ListRig() {
        project->totalDuration = 60;
        project->fps = 25;
    }
    int AddEvent(float time, const char* folder = "", int shape = kShapeSpot) {
        Event e = MakeEvent(*project, time, shape, 0.5f);
        CopyTextField(e.folder, folder);
        project->events.push_back(e);
        return int(project->events.size()) - 1;
    }
    void AddLayer(int event, float weight, bool muted = false) {
        RenderResult r;
        r.eventIdx = event;
        r.weight = weight;
        r.muted = muted;
        r.filepath = "/sounds/e" + std::to_string(event) + "_" + std::to_string(project->results.size()) + ".wav";
        project->results.push_back(r);
    }
    std::string Folder(int e) const { return std::string(TextFieldView(project->events[size_t(e)].folder)); }
    void Sort() { SortEventsList(*app, project->events, project->results, int(project->resultsRevision)); }
};

}  // namespace

// ---------------------------------------------------------------------------
// Order and summaries
// ---------------------------------------------------------------------------

TEST(EventsListOrder, SummariesTakeTheQuantilesOfUnmutedWeightsAndFollowTheResults) {
    ListRig rig;
    const int seven = rig.AddEvent(1), few = rig.AddEvent(2), none = rig.AddEvent(3);
    for (float w : {0.9f, 0.1f, 0.5f, 0.3f, 0.7f, 0.2f, 0.6f}) rig.AddLayer(seven, w);
    rig.AddLayer(seven, 0.05f, true);  // muted: counted, not summarised
    rig.AddLayer(few, 0.8f);
    rig.AddLayer(few, 0.4f);
    rig.AddLayer(none, 0.5f, true);
    rig.Sort();
    EXPECT_EQ(rig.app->eventResultCounts, (std::vector<int>{8, 2, 1}));
    // Sorted 0.1 0.2 0.3 0.5 0.6 0.7 0.9: positions 0, 1, 3, 5 and 6.
    EXPECT_EQ(rig.app->eventLayerWeightCount[size_t(seven)], 5);
    EXPECT_EQ(rig.app->eventLayerWeightSummary[size_t(seven)], (std::array<float, 5>{0.1f, 0.2f, 0.5f, 0.7f, 0.9f}));
    EXPECT_EQ(rig.app->eventLayerWeightCount[size_t(few)], 2);
    EXPECT_FLOAT_EQ(rig.app->eventLayerWeightSummary[size_t(few)][0], 0.4f);
    EXPECT_EQ(rig.app->eventLayerWeightCount[size_t(none)], 0);

    // Unmuting changes nothing until the revision moves (a render, a mute).
    rig.project->results.back().muted = false;
    rig.Sort();
    EXPECT_EQ(rig.app->eventLayerWeightCount[size_t(none)], 0);
    rig.project->resultsRevision += 1;
    rig.Sort();
    EXPECT_EQ(rig.app->eventLayerWeightCount[size_t(none)], 1);
}

TEST(EventsListOrder, EqualTimesKeepIndexOrderSoRangesHold) {
    ListRig rig;
    std::mt19937 random(7);
    for (int i = 0; i < 40; ++i) rig.AddEvent(float(random() % 4));  // many ties
    rig.AddEvent(std::nanf(""));
    std::vector<int> first;
    for (int pass = 0; pass < 100; ++pass) {
        rig.Sort();
        if (pass == 0) first = rig.app->eventsListOrder;
        ASSERT_EQ(rig.app->eventsListOrder, first) << "pass " << pass;
    }
    for (size_t k = 1; k + 1 < first.size(); ++k) {
        const Event& a = rig.project->events[size_t(first[k - 1])];
        const Event& b = rig.project->events[size_t(first[k])];
        EXPECT_TRUE(a.time < b.time || (a.time == b.time && first[k - 1] < first[k]));
    }
    EXPECT_EQ(first.back(), 40) << "a time that is not a number sorts last";

    // A Shift range from the anchor runs over the list order.
    rig.app->selectedEvent = first[3];
    rig.app->selectedEvents = {first[3]};
    ApplyRowClick(rig.Ctx(), first[7], {true, false, false});
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>(first.begin() + 3, first.begin() + 8));
}

TEST(EventsListOrder, MoveListItemMovesOneElementAndKeepsParallelListsAlike) {
    std::vector<std::string> paths{"a", "b", "c", "d"};
    std::vector<uint8_t> loops{0, 1, 0, 1};
    std::vector<float> weights{0.1f, 0.2f, 0.3f, 0.4f};
    for (auto* step : {&paths}) MoveListItem(0, 2, *step);
    MoveListItem(0, 2, loops);
    MoveListItem(0, 2, weights);
    EXPECT_EQ(paths, (std::vector<std::string>{"b", "c", "a", "d"}));
    EXPECT_EQ(loops, (std::vector<uint8_t>{1, 0, 0, 1}));
    EXPECT_EQ(weights, (std::vector<float>{0.2f, 0.3f, 0.1f, 0.4f}));
    MoveListItem(1, 99, paths);  // past the end: appended
    EXPECT_EQ(paths.back(), "c");
    MoveListItem(7, 0, paths);  // outside: nothing
    EXPECT_EQ(paths, (std::vector<std::string>{"b", "a", "d", "c"}));
}

// ---------------------------------------------------------------------------
// Rows and clicks
// ---------------------------------------------------------------------------

TEST(EventsListRows, FoldersRunsCollapseAndTheExpandedEventShowsItsLayers) {
    ListRig rig;
    const int a = rig.AddEvent(1, "Doors"), b = rig.AddEvent(2, "Doors"), c = rig.AddEvent(3);
    rig.AddEvent(4, "Doors");  // a second run of the same folder
    rig.AddLayer(c, 0.5f);
    rig.AddLayer(a, 0.5f);
    rig.AddLayer(c, 0.5f);
    rig.app->expandedEvent = c;
    rig.Sort();
    std::vector<ListRow> rows;
    BuildListRows(*rig.app, rig.project->events, rig.project->results, {}, rows);
    auto kinds = [&] {
        std::string s;
        for (const ListRow& r : rows) s += "FEL"[int(r.kind)];
        return s;
    };
    EXPECT_EQ(kinds(), "FEEELLFE");
    EXPECT_EQ(rows[0].count, 2);
    EXPECT_EQ(rows[4].index, 0);  // the layers in result order
    EXPECT_EQ(rows[5].index, 2);
    EXPECT_FLOAT_EQ(rows[1].y, rows[0].height);
    EXPECT_EQ(FirstRowAt(rows, rows[3].y + 1), 3u);

    rig.app->collapsedFolders.insert("Doors");
    BuildListRows(*rig.app, rig.project->events, rig.project->results, {}, rows);
    EXPECT_EQ(kinds(), "FELLF");
    EXPECT_LT(EventRowY(rows, b), 0) << "hidden in its folder";
}

TEST(EventsListRows, ASelectedRowOutOfSightComesToTheMiddle) {
    // A view of 100 points scrolled to 40, rows starting 10 below its origin.
    EXPECT_EQ(ScrollShowingRow(50, 18, 10, 40, 100), 40.0f) << "in sight: the list stays";
    EXPECT_EQ(ScrollShowingRow(30, 18, 10, 40, 100), 40.0f) << "its top exactly at the view's";
    EXPECT_EQ(ScrollShowingRow(200, 18, 10, 40, 100), 169.0f) << "below: its middle to the view's";
    EXPECT_EQ(ScrollShowingRow(125, 18, 10, 40, 100), 94.0f) << "partly below";
    EXPECT_EQ(ScrollShowingRow(0, 18, 10, 40, 100), 0.0f) << "above: no scroll past the top";
}

TEST(EventsListRows, ClicksSelectExpandAndHeadersSelectOrCollapse) {
    ListRig rig;
    const int a = rig.AddEvent(1, "Doors"), b = rig.AddEvent(2, "Doors"), c = rig.AddEvent(3), d = rig.AddEvent(4);
    rig.Sort();
    DocumentContext ctx = rig.Ctx();

    ApplyRowClick(ctx, c, {});
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{c});
    EXPECT_EQ(rig.app->expandedEvent, -1);
    ApplyRowClick(ctx, c, {});  // the only selected event: expands
    EXPECT_EQ(rig.app->expandedEvent, c);
    ApplyRowClick(ctx, c, {});
    EXPECT_EQ(rig.app->expandedEvent, -1);
    ApplyRowClick(ctx, d, {false, true, false});  // Ctrl toggles
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{c, d}));

    // An unlinked folder's header collapses; a linked one selects its events.
    ApplyFolderHeaderClick(*rig.app, rig.project->events, "Doors", {});
    EXPECT_TRUE(rig.app->collapsedFolders.count("Doors"));
    ApplyFolderHeaderClick(*rig.app, rig.project->events, "Doors", {});
    EXPECT_FALSE(rig.app->collapsedFolders.count("Doors"));
    rig.app->linkedGroups.insert("Doors");
    ApplyFolderHeaderClick(*rig.app, rig.project->events, "Doors", {});
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{a, b}));
    EXPECT_EQ(rig.app->selectedEvent, a);
    // A plain click on a linked member takes its folder; Alt keeps it out.
    ApplyRowClick(ctx, b, {false, false, true});
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{b});
    ApplyRowClick(ctx, d, {});
    // Ctrl on a header adds its events, and removes them once all are in.
    ApplyFolderHeaderClick(*rig.app, rig.project->events, "Doors", {false, true, false});
    EXPECT_EQ(rig.app->selectedEvents, (std::set<int>{a, b, d}));
    ApplyFolderHeaderClick(*rig.app, rig.project->events, "Doors", {false, true, false});
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{d});
    EXPECT_EQ(rig.app->selectedEvent, d);
}

TEST(EventsListRows, AClickInDrawModeZoomsOntoTheNewSelection) {
    ListRig rig;
    rig.AddEvent(10);
    const int far = rig.AddEvent(40);
    rig.project->events[size_t(far)].duration = 2;
    rig.Sort();
    rig.app->curveDrawMode = true;
    rig.app->drawViewSaved = true;
    ApplyRowClick(rig.Ctx(), far, {});
    EXPECT_FLOAT_EQ(rig.app->drawFocusStart, 40 - rig.project->events[size_t(far)].syncOffset);
    EXPECT_GT(rig.app->viewStart, 35);
    EXPECT_LT(rig.app->viewDuration, 5);
}

// ---------------------------------------------------------------------------
// Folder edits
// ---------------------------------------------------------------------------

TEST(EventsListFolders, EditsChangeTheFoldersAndUndoRestoresThem) {
    ListRig rig;
    const int a = rig.AddEvent(1, "Doors"), b = rig.AddEvent(2, "Doors"), c = rig.AddEvent(3);
    rig.AddLayer(a, 0.5f);
    rig.AddLayer(c, 0.5f);
    rig.app->linkedGroups.insert("Doors");
    rig.app->collapsedFolders.insert("Doors");
    rig.Sort();
    DocumentContext ctx = rig.Ctx();
    auto undo = [&] { ASSERT_TRUE(Undo(ctx)); };

    ASSERT_TRUE(RenameFolder(ctx, "Doors", "  Gates and a very long name that does not fit the sixty-three byte folder"));
    EXPECT_EQ(rig.Folder(a).size(), 63u);
    ASSERT_TRUE(RenameFolder(ctx, rig.Folder(a), "Gates"));
    EXPECT_EQ(rig.Folder(b), "Gates");
    EXPECT_TRUE(rig.app->linkedGroups.count("Gates") && !rig.app->linkedGroups.count("Doors"));
    EXPECT_TRUE(rig.app->collapsedFolders.count("Gates"));
    EXPECT_FALSE(RenameFolder(ctx, "Gates", "Gates")) << "unchanged";
    EXPECT_FALSE(RenameFolder(ctx, "Gates", "")) << "empty";
    undo();
    undo();
    EXPECT_EQ(rig.Folder(a), "Doors");
    EXPECT_TRUE(rig.app->linkedGroups.count("Doors")) << "the folder links again";

    ASSERT_TRUE(UngroupFolder(ctx, "Doors"));
    EXPECT_EQ(rig.Folder(a), "");
    EXPECT_FALSE(rig.app->linkedGroups.count("Doors"));
    undo();
    EXPECT_EQ(rig.Folder(b), "Doors");
    EXPECT_TRUE(rig.app->linkedGroups.count("Doors"));

    // Drops: the selection into a folder, then out of every folder.
    rig.app->selectedEvents = {c};
    ASSERT_TRUE(MoveSelectionToFolder(ctx, "Doors"));
    EXPECT_EQ(rig.Folder(c), "Doors");
    EXPECT_FALSE(MoveSelectionToFolder(ctx, "Doors")) << "already there: no undo step";
    undo();
    EXPECT_EQ(rig.Folder(c), "");
    rig.app->selectedEvents = {a, c};
    ASSERT_TRUE(RemoveSelectionFromFolders(ctx));
    EXPECT_EQ(rig.Folder(a), "");
    EXPECT_EQ(rig.Folder(b), "Doors");
    undo();
    EXPECT_EQ(rig.Folder(a), "Doors");

    // Delete Group: its events and their layers go; Undo brings them back.
    rig.app->selectedEvent = 2;
    ASSERT_TRUE(DeleteFolder(ctx, "Doors"));
    ASSERT_EQ(rig.project->events.size(), 1u);
    EXPECT_EQ(rig.project->results.size(), 1u);
    EXPECT_EQ(rig.project->results[0].eventIdx, 0);
    EXPECT_EQ(rig.app->selectedEvent, 0);
    undo();
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_EQ(rig.Folder(b), "Doors");
    EXPECT_EQ(rig.project->results.size(), 2u);

    // Nothing changes while an export runs.
    rig.app->exportRunning = true;
    EXPECT_FALSE(UngroupFolder(ctx, "Doors"));
    EXPECT_FALSE(DeleteFolder(ctx, "Doors"));
    EXPECT_EQ(rig.project->events.size(), 3u);
}

TEST(EventsListFolders, SaveAsChainAsksBeforeReplacingAChainsFile) {
    ListRig rig;
    TempDir dir;
    rig.AddEvent(1, "Doors");
    rig.AddEvent(2, "Doors");
    rig.Sort();
    ASSERT_EQ(SaveFolderAsChain(*rig.app, *rig.project, "Doors", "Door set", dir.path(), nullptr),
              FolderSaveOutcome::Saved);
    // "Door set!" has the same file stem: without a yes it stays untouched.
    static int asked;
    asked = 0;
    auto no = [](const char*, const char*) { return ++asked, false; };
    auto yes = [](const char*, const char*) { return ++asked, true; };
    EXPECT_EQ(SaveFolderAsChain(*rig.app, *rig.project, "Doors", "Door set!", dir.path(), no),
              FolderSaveOutcome::Declined);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(SaveFolderAsChain(*rig.app, *rig.project, "Doors", "Door set!", dir.path(), yes),
              FolderSaveOutcome::Saved);
    EXPECT_EQ(asked, 2);
    // Its own name again asks too.
    EXPECT_EQ(SaveFolderAsChain(*rig.app, *rig.project, "Doors", "Door set!", dir.path(), no),
              FolderSaveOutcome::Declined);
    EXPECT_EQ(asked, 3);
    ASSERT_TRUE(WriteWholeFile(dir.File("file"), "x"));
    EXPECT_EQ(SaveFolderAsChain(*rig.app, *rig.project, "Doors", "x", dir.File("file/under"), nullptr),
              FolderSaveOutcome::Failed);
    EXPECT_EQ(rig.app->toastText, "Save failed");
}

// ---------------------------------------------------------------------------
// The right-click menu
// ---------------------------------------------------------------------------

TEST(EventMenu, LabelsAndEnablementFollowTheSelection) {
    ListRig rig;
    const int a = rig.AddEvent(1), b = rig.AddEvent(2), clip = rig.AddEvent(3, "", kShapeClip);
    rig.project->events[size_t(a)].locked = true;
    rig.app->selectedEvents = {a, b};
    EventMenu menu = BuildEventMenu(*rig.app, *rig.project);
    EXPECT_STREQ(menu.lock.label, "\uF023  Lock");
    EXPECT_FALSE(menu.rerender.enabled) << "never rendered, no Clip";
    EXPECT_FALSE(menu.bounce.enabled);
    EXPECT_STREQ(menu.bounce.tooltip, "Nothing to bounce yet");
    EXPECT_FALSE(menu.revert.shown);
    EXPECT_FALSE(menu.ungroup.enabled);
    ASSERT_TRUE(ToggleSelectionLocked(rig.Ctx()));
    EXPECT_TRUE(rig.project->events[size_t(b)].locked);
    EXPECT_STREQ(BuildEventMenu(*rig.app, *rig.project).lock.label, "\uF09C  Unlock");

    rig.app->selectedEvents = {clip};
    menu = BuildEventMenu(*rig.app, *rig.project);
    EXPECT_TRUE(menu.rerender.enabled) << "a Clip rebuilds without a render";
    EXPECT_FALSE(menu.revert.shown) << "placed from a file, not bounced";
    rig.project->events[size_t(clip)].bounceSource.push_back(Event{});
    EXPECT_TRUE(BuildEventMenu(*rig.app, *rig.project).revert.shown);

    rig.app->exportRunning = true;
    menu = BuildEventMenu(*rig.app, *rig.project);
    EXPECT_FALSE(menu.rerender.enabled || menu.revert.enabled || menu.remove.enabled || menu.bounce.enabled);
    EXPECT_STREQ(menu.remove.tooltip, "Export in progress");
}

TEST(EventMenu, HeroGroupAndRerenderRaiseTheRightRequests) {
    ListRig rig;
    TempDir dir;
    AudioSpec spec;
    spec.seconds = 1;
    const std::string file = dir.File("line.wav");
    ASSERT_TRUE(WriteTestAudio(file, spec));
    const int spot = rig.AddEvent(1), clip = rig.AddEvent(2, "", kShapeClip), bloom = rig.AddEvent(3, "Group 1");
    rig.AddEvent(4, "Group 3");
    CopyTextField(rig.project->events[size_t(clip)].pinnedFile, file);
    rig.project->events[size_t(clip)].duration = 5;
    rig.project->events[size_t(spot)].locked = rig.project->events[size_t(bloom)].locked = true;
    DocumentContext ctx = rig.Ctx();

    rig.app->selectedEvents = {spot, bloom};
    ASSERT_TRUE(ToggleSelectionHero(ctx));
    EXPECT_TRUE(rig.project->events[size_t(spot)].hero && rig.project->events[size_t(bloom)].hero);
    EXPECT_EQ(rig.app->renderRequestKind, 2);
    EXPECT_STREQ(BuildEventMenu(*rig.app, *rig.project).hero.label, "\uF621  Remove Hero");

    // Group names the first free number and opens it for renaming, expanded.
    rig.app->renderRequestKind = 0;
    rig.app->selectedEvents = {spot};
    rig.app->collapsedFolders.insert("Group 2");
    ASSERT_TRUE(GroupSelection(ctx));
    EXPECT_EQ(rig.Folder(spot), "Group 2");
    EXPECT_TRUE(rig.app->linkedGroups.count("Group 2"));
    EXPECT_TRUE(rig.app->folderEditing);
    EXPECT_EQ(rig.app->editingFolder, "Group 2");
    EXPECT_STREQ(rig.app->folderEditBuffer, "Group 2");
    EXPECT_FALSE(rig.app->collapsedFolders.count("Group 2"));

    // Only Clips: rebuilt at once, no request; the duration follows the layer.
    rig.app->selectedEvents = {clip};
    EXPECT_TRUE(RerenderSelection(ctx));
    EXPECT_EQ(rig.app->renderRequestKind, 0);
    ASSERT_EQ(rig.project->results.size(), 1u);
    EXPECT_NEAR(rig.project->events[size_t(clip)].duration, 1.0f, 0.01f);
    // Mixed: the Clip again, the others unlocked and queued in ascending order.
    rig.app->selectedEvents = {bloom, clip, spot};
    RerenderSelection(ctx);
    EXPECT_EQ(rig.app->renderRequestKind, 4);
    EXPECT_EQ(rig.app->renderRequestList, (std::vector<int>{spot, bloom}));
    EXPECT_FALSE(rig.project->events[size_t(spot)].locked || rig.project->events[size_t(bloom)].locked);
    rig.app->selectedEvents = {bloom};
    RerenderSelection(ctx);
    EXPECT_EQ(rig.app->renderRequestKind, 3);
    EXPECT_EQ(rig.app->renderRequestIndex, bloom);
}

TEST(EventMenu, DeletingTwoOfSevenRenumbersLayersAndClampsThePrimary) {
    ListRig rig;
    for (int i = 0; i < 7; ++i) {
        rig.AddEvent(float(i));
        rig.AddLayer(i, 0.5f);
    }
    rig.app->selectedEvents = {2, 5};
    rig.app->selectedEvent = 5;
    DocumentContext ctx = rig.Ctx();
    ASSERT_TRUE(DeleteSelectedEvents(ctx));
    ASSERT_EQ(rig.project->events.size(), 5u);
    std::vector<int> owners;
    for (const RenderResult& r : rig.project->results) owners.push_back(r.eventIdx);
    EXPECT_EQ(owners, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(rig.project->results[4].filepath, "/sounds/e6_6.wav") << "event 6's layer now belongs to 4";
    EXPECT_EQ(rig.project->results[2].filepath, "/sounds/e3_3.wav");
    EXPECT_LE(rig.app->selectedEvent, 4);
    EXPECT_TRUE(rig.app->selectedEvents.empty());

    rig.app->currentTime = 3;
    for (int i = 0; i < 5; ++i) rig.app->selectedEvents.insert(i);
    ASSERT_TRUE(DeleteSelectedEvents(ctx));
    EXPECT_TRUE(rig.project->events.empty() && rig.project->results.empty());
    EXPECT_EQ(rig.app->selectedEvent, -1);
    EXPECT_EQ(rig.engine->position.load(), 3 * 48000) << "playback stays at the playhead";
    EXPECT_FALSE(DeleteSelectedEvents(ctx)) << "nothing left to delete";
}
