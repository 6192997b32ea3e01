// Selection: plain, range, toggle and linked-folder selection, renumbering
// after a deletion, and the name and work-area questions.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "document/event.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/selection.h"

namespace {

// Events at the given times in the given folders.
std::vector<Event> EventsIn(std::initializer_list<std::pair<float, const char*>> rows) {
    std::vector<Event> events;
    for (const auto& [time, folder] : rows) {
        Event e;
        e.time = time;
        CopyTextField(e.folder, folder);
        events.push_back(e);
    }
    return events;
}

using Selected = std::set<int>;

}  // namespace

TEST(Selection, RangeFollowsTheDisplayOrderAndFallsBackToOneEvent) {
    auto app = std::make_unique<AppState>();
    app->reviewMode = 1;
    // No anchor: a plain selection of the event.
    SelectEventRange(*app, 3, {0, 1, 2, 3});
    EXPECT_EQ(app->selectedEvents, Selected{3});
    EXPECT_EQ(app->selectedEvent, 3);
    EXPECT_EQ(app->reviewMode, 0);

    // Between the anchor and the event in the shown order, either direction;
    // the anchor stays.
    SelectEvent(*app, 1);
    SelectEventRange(*app, 3, {4, 1, 0, 3, 2});
    EXPECT_EQ(app->selectedEvents, (Selected{0, 1, 3}));
    EXPECT_EQ(app->selectedEvent, 1);
    SelectEventRange(*app, 4, {4, 1, 0, 3, 2});
    EXPECT_EQ(app->selectedEvents, (Selected{1, 4}));
    // The last occurrence counts when an index is listed twice.
    SelectEventRange(*app, 2, {1, 0, 2, 3, 1});
    EXPECT_EQ(app->selectedEvents, (Selected{1, 2, 3}));

    // An event missing from the order is selected alone and becomes the anchor.
    SelectEventRange(*app, 7, {4, 1, 0});
    EXPECT_EQ(app->selectedEvents, Selected{7});
    EXPECT_EQ(app->selectedEvent, 7);
}

TEST(Selection, ClickingALinkedFolderSelectsItWithTheEarliestPrimary) {
    auto app = std::make_unique<AppState>();
    app->linkedGroups = {"Doors"};
    const std::vector<Event> events =
        EventsIn({{4, "Cars"}, {6, "Doors"}, {1, "Cars"}, {2, "Doors"}, {9, "Doors"}, {2, "Doors"}});

    ClickSelectEvent(*app, 4, events, false);
    EXPECT_EQ(app->selectedEvents, (Selected{1, 3, 4, 5}));
    EXPECT_EQ(app->selectedEvent, 3);  // time 2, and the lower index of the two at 2

    // An unlinked folder selects only the clicked event.
    ClickSelectEvent(*app, 0, events, false);
    EXPECT_EQ(app->selectedEvents, Selected{0});
    EXPECT_EQ(app->selectedEvent, 0);

    // Without the group, only the event.
    ClickSelectEvent(*app, 4, events, true);
    EXPECT_EQ(app->selectedEvents, Selected{4});
    EXPECT_EQ(app->selectedEvent, 4);

    // Adding the folders of a selection of both kinds adds only the linked one.
    app->selectedEvents = {0, 1};
    SelectFolderEvents(*app, events);
    EXPECT_EQ(app->selectedEvents, (Selected{0, 1, 3, 4, 5}));
}

TEST(Selection, ToggleAndDeletionKeepTheSelectionConsistent) {
    auto app = std::make_unique<AppState>();
    SelectEvent(*app, 2);
    ToggleEventSelection(*app, 2);
    EXPECT_TRUE(app->selectedEvents.empty());
    EXPECT_EQ(app->selectedEvent, 2);
    ToggleEventSelection(*app, 5);
    ToggleEventSelection(*app, 1);
    EXPECT_EQ(app->selectedEvents, (Selected{1, 5}));
    EXPECT_EQ(app->selectedEvent, 1);

    app->selectedEvents = {1, 3, 5};
    app->selectedEvent = 3;
    app->expandedEvent = 5;
    RemoveSelectionIndex(*app, 3);
    EXPECT_EQ(app->selectedEvents, (Selected{1, 4}));
    EXPECT_EQ(app->selectedEvent, -1);
    EXPECT_EQ(app->expandedEvent, 4);
    RemoveSelectionIndex(*app, -1);  // no event: nothing moves
    EXPECT_EQ(app->selectedEvents, (Selected{1, 4}));

    SelectEvent(*app, -1);
    EXPECT_TRUE(app->selectedEvents.empty());
    EXPECT_EQ(app->selectedEvent, -1);
}

TEST(Selection, EveryOperationReportsTheChange) {
    auto app = std::make_unique<AppState>();
    app->linkedGroups = {"Doors"};
    const std::vector<Event> events = EventsIn({{1, "Doors"}, {2, ""}, {3, "Doors"}});
    const std::vector<std::pair<const char*, std::function<void()>>> operations = {
        {"SelectEvent", [&] { SelectEvent(*app, 1); }},
        {"SelectEvents", [&] { SelectEvents(*app, {0, 2}); }},
        {"ClearSelection", [&] { ClearSelection(*app); }},
        {"ClickSelectEvent", [&] { ClickSelectEvent(*app, 0, events, false); }},
        {"SelectEventRange", [&] { SelectEventRange(*app, 2, {0, 1, 2}); }},
        {"ToggleEventSelection", [&] { ToggleEventSelection(*app, 1); }},
        {"SelectFolderEvents", [&] { SelectFolderEvents(*app, events); }},
        {"RemoveSelectionIndex", [&] { RemoveSelectionIndex(*app, 0); }},
    };
    for (const auto& [name, operation] : operations) {
        app->selectionChanged = false;
        operation();
        EXPECT_TRUE(app->selectionChanged) << name;
    }
}

TEST(Selection, LinkedNamesAndTheWorkArea) {
    auto app = std::make_unique<AppState>();
    app->linkedGroups = {"", "Doors", "doors long enough to leave the small-string buffer"};
    EXPECT_FALSE(IsLinkedGroup(*app, ""));  // even though the set holds an empty name
    EXPECT_FALSE(FindNameIndex(*app, ""));
    EXPECT_FALSE(FindNameIndex(*app, nullptr));
    EXPECT_TRUE(FindNameIndex(*app, "Doors"));
    EXPECT_FALSE(IsLinkedGroup(*app, "doors"));  // bytes, not letters
    EXPECT_TRUE(IsLinkedGroup(*app, "doors long enough to leave the small-string buffer"));

    const std::pair<float, float> unset[] = {{5, 5}, {-1, 3}, {2, -1}, {6, 2}};
    for (const auto& [in, out] : unset) {
        app->workAreaIn = in;
        app->workAreaOut = out;
        EXPECT_FALSE(HasWorkArea(*app)) << in << " " << out;
    }
    app->workAreaIn = 0;
    app->workAreaOut = 0.5f;
    EXPECT_TRUE(HasWorkArea(*app));
}
