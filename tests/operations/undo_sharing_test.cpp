// Undo snapshots that share what an edit left alone: random edits of a
// generated project undone and redone to exactly the document of each step,
// and a history of single-event edits that holds one copy of the rest.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/undo.h"
#include "persistence/collect_audio.h"
#include "persistence/project_file.h"
#include "playback/audio_engine.h"
#include "support/document_records.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

namespace {

struct SharingRig : DocumentRecords {
    TempDir dir;

    SharingRig(int events, int layersPerEvent) {
        LargeProjectSpec spec{
            .eventCount = events,
            .seconds = float(events) * 0.6f,
            .layers = LargeProjectLayers::Made,
            .layersPerEvent = layersPerEvent,
            .soundCount = 16,
            .soundSeconds = 0.5f,
        };
        *project = MakeLargeProject(spec, dir.File("Library")).project;
    }
};

// Everything a project file holds, and the layers' ids and unsaved fields
// besides: two documents with the same text are the same document.
std::string DocumentText(const Project& p, const AppState& app) {
    ProjectSaveContext ctx;
    ctx.project = &p;
    ctx.linkedGroups = app.linkedGroups;
    std::string text = BuildProjectJson(ctx, CollectedAudioMap{}, "/");
    for (const RenderResult& r : p.results)
        text += "\n" + std::to_string(r.id) + ":" + std::to_string(r.muteReasons) + ":" + std::to_string(r.eventIdx);
    text += "\nrendered=" + std::to_string(p.rendered.load()) + " workArea=" + std::to_string(app.workAreaIn) + ".." +
            std::to_string(app.workAreaOut) + " scene=" + std::to_string(app.activeScene);
    return text;
}

// One edit of a kind a designer makes, chosen by `pick`, always with its
// undo step first.
void RandomEdit(const DocumentContext& ctx, std::mt19937& random) {
    Project& p = *ctx.project;
    auto pick = [&](size_t n) { return n ? size_t(random() % n) : 0; };
    ASSERT_TRUE(PushUndoSnapshot(ctx));
    const size_t e = pick(p.events.size());
    const size_t r = pick(p.results.size());
    switch (random() % 10) {
        case 0: p.events[e].time += 0.25f; break;                            // nudge
        case 1: p.events[e].gain = float(random() % 100) / 100.0f; break;     // volume
        case 2:                                                                // a curve stroke
            for (int i = 40; i < 90; ++i) p.events[e].intensity[size_t(i)] = float(random() % 1000) / 1000.0f;
            break;
        case 3: DeleteEvent(ctx, int(e)); break;                              // renumbers the layers after it
        case 4: AddEvent(ctx, float(random() % 600), int(random() % kShapeCount), 0.5f); break;
        case 5:
            if (!p.results.empty()) SetUserMuted(p.results[r], !p.results[r].muted);
            break;
        case 6:
            if (!p.results.empty()) p.results.erase(p.results.begin() + std::ptrdiff_t(r));
            break;
        case 7:  // another sound for one layer
            if (!p.results.empty()) {
                p.results[r].name = "other_" + std::to_string(random() % 50);
                p.results[r].sourceOffset += 0.1f;
            }
            break;
        case 8: {  // one event rendered again: new layers with new ids
            const int32_t owner = int32_t(e);
            std::erase_if(p.results, [&](const RenderResult& x) { return x.eventIdx == owner; });
            for (int k = 0; k < 2; ++k) {
                RenderResult fresh;
                fresh.eventIdx = owner;
                fresh.name = "fresh";
                fresh.startTime = p.events.empty() ? 0 : p.events[e].time;
                p.results.push_back(fresh);
            }
            break;
        }
        default:
            if (random() % 2) {
                BanFile(p, "/lib/banned_" + std::to_string(random() % 9) + ".wav", "00000000000000b" + std::to_string(random() % 9));
            } else {  // a scene over a longer project, made the active work area
                p.totalDuration += 5;
                p.scenes.push_back(Scene{"Scene", 1, 3, ""});
                ctx.app->workAreaIn = 1;
                ctx.app->workAreaOut = 3;
                ctx.app->activeScene = int(p.scenes.size()) - 1;
            }
            break;
    }
}

}  // namespace

TEST(UndoSharing, SixtyRandomEditsUndoAndRedoToExactlyEachStep) {
    SharingRig rig(120, 3);
    const DocumentContext ctx = rig.Context();
    std::mt19937 random(60);
    std::vector<std::string> states{DocumentText(*rig.project, *rig.app)};
    for (int k = 0; k < 60; ++k) {
        RandomEdit(ctx, random);
        states.push_back(DocumentText(*rig.project, *rig.app));
    }
    // Fifty steps are kept: back to the document after edit 10, and no further.
    for (int k = 59; k >= 10; --k) {
        ASSERT_TRUE(Undo(ctx)) << "undo to step " << k;
        ASSERT_EQ(DocumentText(*rig.project, *rig.app), states[size_t(k)]) << "undo to step " << k;
    }
    EXPECT_FALSE(Undo(ctx));
    for (int k = 11; k <= 60; ++k) {
        ASSERT_TRUE(Redo(ctx)) << "redo to step " << k;
        ASSERT_EQ(DocumentText(*rig.project, *rig.app), states[size_t(k)]) << "redo to step " << k;
    }
    EXPECT_FALSE(Redo(ctx));
    // Back and forth in the middle, then a new edit: the redo steps go.
    for (int k = 0; k < 5; ++k) ASSERT_TRUE(Undo(ctx));
    ASSERT_TRUE(Redo(ctx));
    EXPECT_EQ(DocumentText(*rig.project, *rig.app), states[56]);
    RandomEdit(ctx, random);
    EXPECT_TRUE(rig.app->undoHistory.redo.empty());
    ASSERT_TRUE(Undo(ctx));
    EXPECT_EQ(DocumentText(*rig.project, *rig.app), states[56]);
}

TEST(UndoSharing, SingleEventEditsKeepOneCopyOfEverythingElse) {
    SharingRig rig(200, 10);
    const DocumentContext ctx = rig.Context();
    Project& p = *rig.project;
    const size_t events = p.events.size(), layers = p.results.size();
    ASSERT_GT(layers, 1500u);

    // Fifty volume changes of one event each: fifty new event records, no new layer.
    for (int k = 0; k < 50; ++k) {
        ASSERT_TRUE(PushUndoSnapshot(ctx));
        p.events[size_t(k * 3)].gain = 0.5f;
    }
    SnapshotRecordCount held = DistinctSnapshotRecords(rig.app->undoHistory);
    EXPECT_LE(held.events, events + 50);
    EXPECT_EQ(held.results, layers);

    // Undo and Redo share as pushes do; deleting events early in the list
    // renumbers the layers of every later event, and still shares them.
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(Undo(ctx));
    for (int k = 0; k < 10; ++k) ASSERT_TRUE(Redo(ctx));
    for (int k = 0; k < 5; ++k) {
        ASSERT_TRUE(PushUndoSnapshot(ctx));
        ASSERT_TRUE(DeleteEvent(ctx, k));
    }
    ASSERT_TRUE(PushUndoSnapshot(ctx));
    held = DistinctSnapshotRecords(rig.app->undoHistory);
    EXPECT_LE(held.events, events + 50 + 10);
    EXPECT_EQ(held.results, layers) << "a deletion costs no layer record";
    // What the history holds: about one document, not fifty.
    const size_t oneDocument = layers * sizeof(RenderResult) + events * sizeof(Event);
    EXPECT_LT(UndoHistoryBytes(rig.app->undoHistory), oneDocument * 2);
}
