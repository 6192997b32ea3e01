// The steps every edit takes: refused whole while an export owns the
// document, one undo step and one voice sync however many events an edit
// touches, and a drag of many steps undone in one.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "operations/app_state.h"
#include "operations/edit_steps.h"
#include "operations/event_settings.h"
#include "operations/folder_edits.h"
#include "operations/pinned_sound_edits.h"
#include "operations/render_requests.h"
#include "operations/scene_edits.h"
#include "operations/selection_edits.h"
#include "operations/undo.h"
#include "support/document_records.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"

namespace {

struct EditRig : DocumentRecords {
    explicit EditRig(int events) {
        *project = SpotDocument(events);
        project->totalDuration = 40;
        Scene scene;
        CopyTextField(scene.name, "Hall");
        scene.inTime = 2;
        scene.outTime = 9;
        project->scenes.push_back(scene);
        for (int e = 0; e < events; ++e) app->selectedEvents.insert(e);
        app->selectedEvent = 0;
    }
    std::vector<int> All() const {
        std::vector<int> out;
        for (int e = 0; e < int(project->events.size()); ++e) out.push_back(e);
        return out;
    }
};

// What an edit may change, as a comparable record.
std::string Fingerprint(const Project& p, const AppState& app) {
    std::string out;
    for (const Event& e : p.events) {
        out += std::to_string(e.time) + "|" + std::string(TextFieldView(e.keywords)) + "|" +
               std::string(TextFieldView(e.folder)) + "|" + std::string(TextFieldView(e.libFilter)) + "|" +
               std::to_string(e.locked) + std::to_string(e.hero) + std::to_string(e.groupOverride) + "|" +
               std::to_string(e.pitchVariation) + ";";
    }
    for (const Scene& s : p.scenes) out += std::string(TextFieldView(s.name)) + std::to_string(s.outTime) + ";";
    for (const std::string& g : app.linkedGroups) out += "link:" + g;
    return out + "render:" + std::to_string(app.renderRequestKind);
}

struct NamedEdit {
    const char* name;
    std::function<bool(EditRig&)> run;
};

const std::vector<NamedEdit>& Edits() {
    static const std::vector<NamedEdit> edits = {
        {"batch bus", [](EditRig& r) { return ToggleBatchBus(r.Context(), r.All()); }},
        {"batch keywords", [](EditRig& r) { return SetBatchKeywords(r.Context(), r.All(), "rain"); }},
        {"batch filter", [](EditRig& r) { return SetBatchLibFilter(r.Context(), r.All(), "Water"); }},
        {"palette filter", [](EditRig& r) { return SetEventLibFilter(r.Context(), 0, "Water"); }},
        {"lock", [](EditRig& r) { return ToggleSelectionLocked(r.Context()); }},
        {"hero", [](EditRig& r) { return ToggleSelectionHero(r.Context()); }},
        {"group", [](EditRig& r) { return GroupSelection(r.Context()); }},
        {"new scene", [](EditRig& r) { return AddSceneFromSpan(r.Context(), 20, 30) >= 0; }},
        {"split scene", [](EditRig& r) {
             r.app->activeScene = 0;
             r.app->currentTime = 5;
             return SplitSceneAtPlayhead(r.Context());
         }},
        {"render", [](EditRig& r) { return RequestRenderEdit(r.Context(), 1); }},
        {"new event", [](EditRig& r) { return CreateEventAtPlayhead(r.Context(), kShapeSpot) >= 0; }},
    };
    return edits;
}

}  // namespace

// While an export runs every edit is refused whole: nothing of the document,
// no undo step, no unsaved flag. Once it ends, the same edit goes through
// with exactly one undo step and the flag.
TEST(EditSteps, AnExportRefusesEveryEditWholeAndAfterItEachTakesOneUndoStep) {
    for (const NamedEdit& edit : Edits()) {
        SCOPED_TRACE(edit.name);
        EditRig rig(4);
        const std::string before = Fingerprint(*rig.project, *rig.app);
        rig.app->exportRunning.store(true);
        QuietStdout(true);
        EXPECT_FALSE(edit.run(rig));
        QuietStdout(false);
        EXPECT_EQ(Fingerprint(*rig.project, *rig.app), before);
        EXPECT_TRUE(rig.app->undoHistory.undo.empty());
        EXPECT_FALSE(rig.app->modified);

        rig.app->exportRunning.store(false);
        ASSERT_TRUE(edit.run(rig));
        EXPECT_NE(Fingerprint(*rig.project, *rig.app), before);
        EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
        EXPECT_TRUE(rig.app->modified);
    }
}

// An edit over a selection syncs the voices once, whether it touches one
// event or forty; an edit of saved fields alone syncs none.
TEST(EditSteps, AnEditSyncsTheVoicesOnceHoweverManyEventsItTouches) {
    for (int events : {1, 40}) {
        SCOPED_TRACE(events);
        EditRig rig(events);
        const int64_t syncs = EditCountsOf().voiceSyncs.load();
        ASSERT_TRUE(ToggleBatchBus(rig.Context(), rig.All()));
        EXPECT_EQ(EditCountsOf().voiceSyncs.load() - syncs, 1);
        const int64_t afterBus = EditCountsOf().voiceSyncs.load();
        ASSERT_TRUE(SetBatchKeywords(rig.Context(), rig.All(), "door"));
        EXPECT_EQ(EditCountsOf().voiceSyncs.load(), afterBus);
    }
}

// A drag is one undo step however many steps it takes, each step marking
// the document unsaved; its undo brings back the value before the drag.
TEST(EditSteps, ADragOfManyStepsIsOneUndoStep) {
    EditRig rig(3);
    const DocumentContext ctx = rig.Context();
    const float pitchBefore = rig.project->events[1].pitchVariation;
    ASSERT_TRUE(BeginEdit(ctx, "Pitch"));
    for (int semis = 1; semis <= 6; ++semis) {
        rig.app->modified = false;  // a save in the middle of the drag
        ASSERT_TRUE(SetEventPitch(ctx, 1, float(semis)));
        EXPECT_TRUE(rig.app->modified) << "step " << semis;
    }
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    ASSERT_TRUE(Undo(ctx));
    EXPECT_EQ(rig.project->events[1].pitchVariation, pitchBefore);
    EXPECT_TRUE(rig.app->undoHistory.undo.empty());
    // A step while an export runs changes nothing.
    rig.app->exportRunning.store(true);
    EXPECT_FALSE(SetEventPitch(ctx, 1, 12));
    EXPECT_EQ(rig.project->events[1].pitchVariation, pitchBefore);
}

// A folder's link is saved with the project: linking it is an undoable edit
// of its own, refused for a folder no event uses.
TEST(EditSteps, LinkingAFolderIsOneUndoableEdit) {
    EditRig rig(3);
    const DocumentContext ctx = rig.Context();
    EXPECT_FALSE(SetFolderLinked(ctx, "Doors", true));  // no event in it
    for (int e : {0, 2}) CopyTextField(rig.project->events[size_t(e)].folder, "Doors");
    ASSERT_TRUE(SetFolderLinked(ctx, "Doors", true));
    EXPECT_TRUE(rig.app->linkedGroups.count("Doors"));
    EXPECT_TRUE(rig.app->modified);
    EXPECT_FALSE(SetFolderLinked(ctx, "Doors", true));  // already linked: no second step
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    ASSERT_TRUE(Undo(ctx));
    EXPECT_FALSE(rig.app->linkedGroups.count("Doors"));
}
