// Undo and redo: the stack limit, round trips, the selection, the voices'
// curve references and the Undo/Redo commands.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "document/document_rig.h"
#include "operations/event_edits.h"
#include "operations/undo.h"

namespace {

std::vector<float> EventTimes(const Project& project) {
    std::vector<float> times;
    for (const Event& e : project.events) times.push_back(e.time);
    return times;
}

}  // namespace

TEST(Undo, KeepsFiftyStepsAndDropsTheOldest) {
    DocRig rig;
    // Push k is taken when the document holds k events.
    for (int k = 0; k < 51; ++k) {
        ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
        AddEvent(*rig.project, float(k), kShapeSpot, 0.5f);
    }
    UndoHistory& history = rig.app->undoHistory;
    ASSERT_EQ(history.undo.size(), kUndoLimit);
    EXPECT_EQ(history.undo.front().events.size(), 1u);  // the first push (no events) is gone
    EXPECT_EQ(history.undo.back().events.size(), 50u);

    int steps = 0;
    while (Undo(rig.Context())) ++steps;
    EXPECT_EQ(steps, 50);
    EXPECT_EQ(rig.project->events.size(), 1u);
    EXPECT_EQ(history.redo.size(), 50u);
}

TEST(Undo, PushUndoRedoRoundTripTheWholeDocument) {
    DocRig rig;
    rig.AddLayeredEvents(2, 2);
    rig.project->scenes.push_back(Scene{"Dock", 1, 4, ""});
    BanFile(*rig.project, "/lib/a.wav", "00000000000000aa");
    const std::vector<float> beforeTimes = EventTimes(*rig.project);
    const int32_t firstId = rig.project->results[0].id;

    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    EXPECT_TRUE(rig.app->modified);
    // The edit: every part of the snapshot changes.
    AddEvent(*rig.project, 9, kShapeBloom, 0.5f);
    rig.project->results.erase(rig.project->results.begin());
    rig.project->scenes.clear();
    rig.project->userShapes.push_back(UserShape{});
    BanFile(*rig.project, "/lib/b.wav", "00000000000000bb");
    rig.project->rendered = false;
    const UndoSnapshot after = CaptureUndoSnapshot(*rig.project);

    rig.app->modified = false;
    rig.app->selectedEvents = {0, 2};
    rig.app->selectedEvent = 2;
    rig.app->expandedEvent = 2;
    ASSERT_TRUE(Undo(rig.Context()));
    EXPECT_EQ(EventTimes(*rig.project), beforeTimes);
    ASSERT_EQ(rig.project->results.size(), 4u);
    EXPECT_EQ(rig.project->results[0].id, firstId);  // ids come back with their layers
    EXPECT_EQ(rig.project->scenes.size(), 1u);
    EXPECT_TRUE(rig.project->userShapes.empty());
    EXPECT_EQ(rig.project->bannedFiles, std::vector<std::string>{"/lib/a.wav"});
    EXPECT_EQ(rig.project->bannedFileIds, std::vector<std::string>{"00000000000000aa"});
    EXPECT_TRUE(rig.project->rendered);
    EXPECT_EQ(rig.project->publishedResultCount.load(), 4);
    EXPECT_FALSE(rig.app->modified);
    // The selection named events of the other document.
    EXPECT_TRUE(rig.app->selectedEvents.empty());
    EXPECT_EQ(rig.app->selectedEvent, -1);
    EXPECT_EQ(rig.app->expandedEvent, -1);

    ASSERT_TRUE(Redo(rig.Context()));
    EXPECT_EQ(rig.project->events.size(), after.events.size());
    EXPECT_EQ(rig.project->results.size(), after.results.size());
    EXPECT_EQ(rig.project->userShapes.size(), 1u);
    EXPECT_EQ(rig.project->bannedFiles, after.bannedFiles);
    EXPECT_EQ(rig.project->bannedFileIds, after.bannedFileIds);
    EXPECT_FALSE(rig.project->rendered);
    EXPECT_FALSE(rig.app->modified);

    // A new edit after an undo forgets what could be redone.
    ASSERT_TRUE(Undo(rig.Context()));
    ASSERT_EQ(rig.app->undoHistory.redo.size(), 1u);
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    EXPECT_TRUE(rig.app->undoHistory.redo.empty());
    EXPECT_FALSE(Redo(rig.Context()));
}

TEST(Undo, UndoingABanRestoresBothListsTogether) {
    DocRig rig;
    BanFile(*rig.project, "/lib/a.wav", "00000000000000aa");
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    BanFile(*rig.project, "/lib/b.wav", "00000000000000bb");
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    UnbanFile(*rig.project, "/lib/a.wav");
    ASSERT_EQ(rig.project->bannedFileIds, std::vector<std::string>{"00000000000000bb"});

    ASSERT_TRUE(Undo(rig.Context()));
    EXPECT_EQ(rig.project->bannedFiles, (std::vector<std::string>{"/lib/a.wav", "/lib/b.wav"}));
    EXPECT_EQ(rig.project->bannedFileIds, (std::vector<std::string>{"00000000000000aa", "00000000000000bb"}));
    ASSERT_TRUE(Undo(rig.Context()));
    EXPECT_EQ(rig.project->bannedFiles.size(), rig.project->bannedFileIds.size());
    EXPECT_EQ(rig.project->bannedFileIds, std::vector<std::string>{"00000000000000aa"});
}

TEST(Undo, NothingToUndoOrRefusedChangesNothing) {
    DocRig rig;
    rig.AddLayeredEvents(1, 1);
    rig.app->selectedEvents = {0};
    rig.app->selectedEvent = 0;
    EXPECT_FALSE(Undo(rig.Context()));
    EXPECT_FALSE(Redo(rig.Context()));
    EXPECT_FALSE(RunUndoCommand(rig.Context(), false));
    EXPECT_FALSE(rig.app->modified);
    EXPECT_EQ(rig.app->selectedEvent, 0);
    EXPECT_EQ(rig.project->events.size(), 1u);
    EXPECT_TRUE(rig.app->toastText.empty());

    // While a task owns the document nothing is captured or restored.
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    rig.app->modified = false;
    rig.app->busyTask.busy = true;
    EXPECT_FALSE(PushUndoSnapshot(rig.Context()));
    EXPECT_FALSE(Undo(rig.Context()));
    EXPECT_FALSE(RestoreUndoSnapshot(rig.Context(), UndoSnapshot{}));
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_EQ(rig.project->events.size(), 1u);
    EXPECT_FALSE(rig.app->modified);
    rig.app->busyTask.busy = false;
}

// Each voice follows its layer's event in the restored list at once (a
// voice the step leaves alone plays on as it did), repointed without the
// engine lock; the old events are let go only once no block can read them.
TEST(Undo, RestoringRepointsEveryVoiceCurveAndWaitsOutABlockBeforeTheOldEventsGo) {
    DocRig rig;
    rig.AddLayeredEvents(3, 2);
    rig.BuildVoices();
    std::vector<const float*> before;
    for (const PlaybackVoice& v : rig.engine->voices) {
        ASSERT_NE(v.intensityCurve, nullptr);
        before.push_back(v.intensityCurve.load());
    }
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));

    // The engine lock held elsewhere, as a block being mixed holds it: the
    // curves move to the restored events without it, but the old events are
    // not let go (nor the restore finished) until that block is done.
    std::atomic<bool> finished{false};
    std::unique_lock<EngineMutex> held(rig.engine->mutex);
    DocumentContext ctx = rig.Context();
    std::thread undo([&] {
        Undo(ctx);
        finished.store(true);
    });
    auto moved = [&] {
        for (size_t v = 0; v < before.size(); ++v) {
            const float* curve = rig.engine->voices[v].intensityCurve.load();
            if (curve == nullptr || curve == before[v]) return false;
        }
        return true;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!moved() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_TRUE(moved()) << "the curves follow the restored events without the engine lock";
    EXPECT_FALSE(finished.load()) << "the old events went while a block could still read them";
    held.unlock();
    undo.join();
    ASSERT_TRUE(finished.load());
    for (const PlaybackVoice& v : rig.engine->voices)
        EXPECT_EQ(v.intensityCurve.load(), rig.project->events[size_t(v.eventIndex)].intensity.data());
}

TEST(Undo, CommandsBringTheVoicesInLineWithTheRestoredLayers) {
    DocRig rig;
    AddEvent(*rig.project, 1, kShapeFill, 0.5f);
    ASSERT_TRUE(PushUndoSnapshot(rig.Context()));
    // The "render": layers and their voices appear.
    rig.AddLayeredEvents(2, 2);
    rig.BuildVoices();
    ASSERT_EQ(rig.engine->voices.size(), 4u);

    ASSERT_TRUE(RunUndoCommand(rig.Context(), false));
    EXPECT_EQ(rig.app->toastText, "Undo");
    EXPECT_FLOAT_EQ(rig.app->toastTimer, 1.5f);
    EXPECT_TRUE(rig.project->results.empty());
    EXPECT_TRUE(rig.engine->voices.empty());  // no voice keeps playing a layer that is gone

    ASSERT_TRUE(RunUndoCommand(rig.Context(), true));
    EXPECT_EQ(rig.app->toastText, "Redo");
    ASSERT_EQ(rig.engine->voices.size(), 4u);
    for (const PlaybackVoice& v : rig.engine->voices) {
        ASSERT_GE(v.resultIndex, 0);
        EXPECT_EQ(int32_t(v.resultId), rig.project->results[size_t(v.resultIndex)].id);
    }
}
