// The requests the job protocol turns into busy tasks: render requests of
// every kind with their locks, the render that waits for the picture trace,
// the deferred rebuild raised from another thread, the Bed refresh and load.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/command_ids.h"
#include "operations/render_job.h"
#include "support/render_fixtures.h"
#include "ui/job_protocol_rig.h"

namespace {

// A library of analysed sounds that are not on disk (renders choose from
// them; their voices are silent placeholders) and `spots` Spot events.
void AddRenderableProject(Rig& rig, int spots) {
    rig.library->libraries.push_back(MakeLibrary("Synth", MakeSyntheticEntries(80, 5)));
    rig.project->totalDuration = 30;
    for (int i = 0; i < spots; ++i) AddEvent(*rig.project, 1.0f + 2.0f * float(i), kShapeSpot, 0.5f);
}

bool AllLocked(const Project& project) {
    for (const Event& e : project.events)
        if (!e.locked) return false;
    return true;
}

}  // namespace

TEST(JobRequests, ARenderRequestWaitsBehindABusyTaskAndEveryKindLocksAllEventsAfterwards) {
    Rig rig;
    AddRenderableProject(rig, 4);
    AppState& app = *rig.app;
    BusyTask& task = app.busyTask;

    Latch other;
    ASSERT_TRUE(StartBusyTask(task, "Updating audio...", other.Job(task), false, -1.0f));
    app.renderRequestKind = 1;
    app.activeTab = 1;  // Trace
    rig.Frames(4);
    EXPECT_EQ(app.renderRequestKind, 1);  // waits in place
    EXPECT_EQ(BusyStatusText(task), "Updating audio...");
    other.released = true;
    rig.FinishTask();

    rig.Frame();
    EXPECT_EQ(app.renderRequestKind, 0);
    EXPECT_EQ(app.activeTab, 0);  // a render leaves the Trace tab for Events
    EXPECT_TRUE(app.lockAfterRender);
    EXPECT_EQ(BusyStatusText(task), "Rendering...");
    EXPECT_TRUE(task.immediate);
    rig.FinishTask();
    EXPECT_TRUE(AllLocked(*rig.project));
    EXPECT_FALSE(app.lockAfterRender);

    struct KindCase {
        int kind;
        const char* status;
    };
    for (KindCase c : {KindCase{2, "Re-rendering..."}, KindCase{3, "Re-rendering event..."},
                       KindCase{4, "Re-rendering event..."}}) {
        SCOPED_TRACE(c.kind);
        for (size_t i = 0; i < rig.project->events.size(); ++i) rig.project->events[i].locked = i % 2 == 0;
        std::vector<char> lockedWhileRendering;
        rig.observer.postPass = [&](PostPass pass) {
            if (pass != PostPass::Deconflict) return;
            for (const Event& e : rig.project->events) lockedWhileRendering.push_back(e.locked);
        };
        app.renderRequestKind = c.kind;
        app.renderRequestIndex = 1;
        app.renderRequestList = {0, 2};
        rig.Frame();
        EXPECT_EQ(BusyStatusText(task), c.status);
        EXPECT_EQ(task.immediate, c.kind == 2);
        rig.FinishTask();
        rig.observer.postPass = nullptr;
        if (c.kind == 2) {
            ASSERT_EQ(lockedWhileRendering.size(), rig.project->events.size());
            for (char locked : lockedWhileRendering) EXPECT_FALSE(locked);  // unlocked before the render
        }
        EXPECT_TRUE(AllLocked(*rig.project));
    }

    // A request that cannot start (an empty list) is cleared without a task or a lock.
    for (Event& e : rig.project->events) e.locked = false;
    app.renderRequestKind = 4;
    app.renderRequestList.clear();
    rig.Frames(3);
    EXPECT_EQ(app.renderRequestKind, 0);
    EXPECT_FALSE(task.busy.load());
    EXPECT_FALSE(app.lockAfterRender);
    EXPECT_FALSE(rig.project->events[0].locked);
}

TEST(JobRequests, ACancelledFullRenderLeavesTheEventsItNeverReachedUnlocked) {
    Rig rig;
    AddRenderableProject(rig, 4);
    AppState& app = *rig.app;
    std::atomic<bool> reached{false}, release{false};
    rig.observer.eventRendered = [&](int, int done) {
        if (done != 1) return;
        reached = true;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    app.renderRequestKind = 1;
    rig.Frame();
    WaitFor([&] { return reached.load(); });
    rig.Escape();
    EXPECT_TRUE(app.busyTask.cancelRequested.load());
    release = true;
    rig.FinishTask();
    const Project& project = *rig.project;
    EXPECT_TRUE(project.events[0].locked);
    for (size_t i = 1; i < project.events.size(); ++i) EXPECT_FALSE(project.events[i].locked) << i;
}

TEST(JobRequests, ARenderRequestedWhileTheTraceRunsStartsTheFrameAfterTheTraceEnds) {
    Rig rig;
    AddRenderableProject(rig, 3);
    AppState& app = *rig.app;
    BusyTask& task = app.busyTask;
    std::atomic<bool> stopTrace{false};
    app.traceRunning = true;
    task.worker = std::thread([&] {
        while (!stopTrace.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        app.traceRunning = false;  // the trace worker's last step
    });
    task.workerIsTrace = true;
    std::atomic<bool> rendering{false}, release{false};
    rig.observer.eventRendered = [&](int, int) {
        rendering = true;
        while (!release.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };

    app.renderRequestKind = 1;
    rig.Frames(10);
    // The frames came back while the trace still runs (it ends only when told
    // below): none of them waited for it.
    EXPECT_TRUE(app.traceRunning.load());
    EXPECT_TRUE(task.busy.load());
    EXPECT_FALSE(task.threadStarted);
    EXPECT_TRUE(rig.state.liveBlockDrawn);  // the window stays live meanwhile
    EXPECT_FALSE(rendering.load());

    stopTrace = true;
    WaitFor([&] { return !app.traceRunning.load(); });
    rig.Frame();
    EXPECT_TRUE(task.threadStarted);
    WaitFor([&] { return rendering.load(); });
    EXPECT_TRUE(rendering.load());
    release = true;
    rig.FinishTask();
    EXPECT_TRUE(AllLocked(*rig.project));
}

TEST(JobRequests, ADeferredRebuildRaisedFromAnotherThreadGivesExactlyOneUpdatingAudioTask) {
    Rig rig;
    AppState& app = *rig.app;
    std::thread raiser([&] {
        for (int i = 0; i < 1000; ++i) app.deferredRebuild.store(true);
    });
    raiser.join();
    std::vector<std::string> statuses;
    for (int frame = 0; frame < 60; ++frame) {
        const bool wasBusy = app.busyTask.busy.load();
        rig.Frame();
        if (!wasBusy && app.busyTask.busy.load()) statuses.push_back(BusyStatusText(app.busyTask));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0], "Updating audio...");
    EXPECT_EQ(rig.state.tasksFinished, 1);
    EXPECT_FALSE(app.deferredRebuild.load());
}

// A quit, New or Open asked for, or the question it raised, holds a deferred
// rebuild back: its overlay would hide the question, and the answer would
// stop it and queue it again. Once the designer stays, the rebuild runs.
TEST(JobRequests, ADeferredRebuildWaitsWhileTheDesignerLeavesTheDocument) {
    Rig rig;
    AppState& app = *rig.app;
    app.deferredRebuild.store(true);
    auto leaving = [&](const char* what) {
        rig.Frame();
        EXPECT_FALSE(app.busyTask.busy.load()) << what;
        EXPECT_TRUE(app.deferredRebuild.load()) << what;
    };
    app.quitRequested = true;
    leaving("a quit asked for");
    app.quitRequested = false;
    app.confirmAction = 1;
    leaving("the question open");
    app.confirmAction = 0;
    app.pendingCommand.store(kCommandOpen);
    leaving("Open parked");
    app.pendingCommand.store(kCommandNone);
    rig.Frame();
    EXPECT_TRUE(app.busyTask.busy.load());
    EXPECT_EQ(BusyStatusText(app.busyTask), "Updating audio...");
    rig.FinishTask();
}

TEST(JobRequests, BedsAreRefreshedWhileTheMouseIsUpAndABedLoadIsItsOwnTask) {
    Rig rig;
    AppState& app = *rig.app;
    Project& project = *rig.project;
    const int bed = AddEvent(project, 2.0f, kShapeBed, 0.5f);
    project.events[size_t(bed)].duration = 8;
    project.events[size_t(bed)].pinnedFiles = {"/nonexistent/rain.wav"};
    const int other = AddEvent(project, 12.0f, kShapeBed, 0.5f);
    project.events[size_t(other)].pinnedFiles = {"/nonexistent/wind.wav", "/nonexistent/rain.wav"};

    // A drag holds the mouse: no refresh.
    rig.SetMouse(600, 600, true);
    rig.Frame();
    EXPECT_TRUE(project.results.empty());
    rig.SetMouse(600, 600, false);
    rig.Frame();  // noticed here; the Bed's layer and the voices are made by the task
    EXPECT_TRUE(project.results.empty()) << "the Bed was rebuilt on the interface thread";
    EXPECT_EQ(BusyStatusText(app.busyTask), "Updating audio...");
    rig.FinishTask();
    EXPECT_FALSE(project.results.empty());
    rig.Frames(3);  // nothing changed since: no further task
    EXPECT_FALSE(app.busyTask.busy.load());
    EXPECT_EQ(rig.state.tasksFinished, 1);

    // A length change alone: the Bed job repacks from the Bed on and syncs
    // the voices it reaches; with a full rebuild asked for too, that one
    // task brings the Beds in line as well. The other Bed's layers stay as
    // they were, and the work is bounded by the change: one Bed read, one
    // voice levelled.
    std::vector<RenderResult> otherBefore;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == other) otherBefore.push_back(r);
    ASSERT_FALSE(otherBefore.empty());
    project.events[size_t(bed)].duration = 6;
    rig.Frame();
    EXPECT_EQ(BusyStatusText(app.busyTask), "Updating audio...");
    rig.FinishTask();
    EXPECT_EQ(app.bedSync.bedsRead.load(), 1) << "the frame step's list: the Bed that changed";
    EXPECT_EQ(rig.engine->voices.size(), 3u);
    EXPECT_EQ(app.bedSync.voicesLevelled.load(), 1) << "the levels of the changed Bed's voice alone";
    EXPECT_NEAR(project.results[0].duration, 6.0f, 0.1f);
    std::vector<RenderResult> otherAfter;
    for (const RenderResult& r : project.results)
        if (r.eventIdx == other) otherAfter.push_back(r);
    ASSERT_EQ(otherAfter.size(), otherBefore.size());
    for (size_t i = 0; i < otherAfter.size(); ++i) {
        EXPECT_EQ(otherAfter[i].id, otherBefore[i].id) << "the other Bed's layer was made again";
        EXPECT_EQ(otherAfter[i].startTime, otherBefore[i].startTime);
        EXPECT_EQ(otherAfter[i].duration, otherBefore[i].duration);
    }
    for (const PlaybackVoice& v : rig.engine->voices) {
        if (v.resultIndex < 0 || size_t(v.resultIndex) >= project.results.size()) continue;
        EXPECT_EQ(v.resultId, uint32_t(project.results[size_t(v.resultIndex)].id)) << "a voice follows its layer";
    }
    project.events[size_t(bed)].duration = 5;
    app.deferredRebuild.store(true);
    rig.Frame();
    rig.FinishTask();
    EXPECT_FALSE(app.bedRebuild.load() || app.deferredRebuild.load());
    EXPECT_NEAR(project.results[0].duration, 5.0f, 0.1f);
    rig.Frames(3);
    EXPECT_FALSE(app.busyTask.busy.load());
    EXPECT_EQ(rig.state.tasksFinished, 3);

    app.pendingBedLoadEvent = 7;  // no such event
    rig.Frame();
    EXPECT_EQ(app.pendingBedLoadEvent, -1);
    EXPECT_FALSE(app.busyTask.busy.load());

    app.pendingBedLoadEvent = bed;
    rig.Frame();
    EXPECT_EQ(app.pendingBedLoadEvent, -1);
    ASSERT_TRUE(app.busyTask.busy.load());
    EXPECT_EQ(BusyStatusText(app.busyTask), "Loading bed\xE2\x80\xA6");
    EXPECT_FALSE(app.busyTask.cancellable);
    EXPECT_FLOAT_EQ(app.busyTask.progress.load(), -1.0f);
    rig.FinishTask();
}
