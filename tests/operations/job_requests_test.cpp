// The frame's document requests: scene links, the queued deletion, the voice
// rebuild held while the designer leaves the document, and the lock that
// follows a render.
#include <gtest/gtest.h>

#include "document/document_rig.h"
#include "operations/job_requests.h"
#include "support/lifecycle_rig.h"
#include "support/plain_records.h"

TEST(JobRequests, SceneLinksAndTheLockAfterARenderOrItsCancel) {
    Project project;
    AddSceneSpan(project, 4, 6.5f);
    project.events.resize(3);
    project.events[0].sceneLink = 0;
    project.events[1].time = 2;
    project.events[2].sceneLink = 4;  // no such scene
    EXPECT_TRUE(FollowSceneLinks(project));
    EXPECT_EQ(project.events[0].time, 4.0f);
    EXPECT_EQ(project.events[0].duration, 2.5f);
    EXPECT_EQ(project.events[1].time, 2.0f);
    EXPECT_EQ(project.events[2].sceneLink, -1);
    EXPECT_FALSE(FollowSceneLinks(project));  // nothing left to change

    // A cancelled render leaves the events it never reached unlocked.
    project.results.resize(1);
    project.results[0].eventIdx = 1;
    LockEventsAfterRender(project, true);
    EXPECT_FALSE(project.events[0].locked);
    EXPECT_TRUE(project.events[1].locked);
    LockEventsAfterRender(project, false);
    EXPECT_TRUE(project.events[0].locked && project.events[2].locked);

    // Only a render request's task leaves the lock behind, and only once.
    DocRig rig;
    rig.AddLayeredEvents(2, 1);
    FinishRenderRequest(rig.Context(), false);
    EXPECT_FALSE(rig.project->events[0].locked);
    rig.app->lockAfterRender = true;
    FinishRenderRequest(rig.Context(), false);
    EXPECT_TRUE(rig.project->events[0].locked && rig.project->events[1].locked);
    EXPECT_FALSE(rig.app->lockAfterRender);
}

TEST(JobRequests, TheQueuedDeletionIsOneEditAndALeavingCommandHoldsTheRebuild) {
    DocRig rig;
    rig.AddLayeredEvents(3, 1);
    rig.app->selectedEvents = {2};
    rig.app->selectedEvent = 2;
    const DocumentContext ctx = rig.Context();

    // While an export runs nothing is taken: the request waits.
    rig.app->pendingDeleteEvent = 0;
    rig.app->exportRunning = true;
    TakeJobRequests(ctx, {});
    EXPECT_EQ(rig.project->events.size(), 3u);
    EXPECT_EQ(rig.app->pendingDeleteEvent, 0);
    rig.app->exportRunning = false;

    TakeJobRequests(ctx, {});
    // Whatever voice work the deletion left for the frame runs to its end.
    if (rig.app->busyTask.busy.load()) {
        ASSERT_TRUE(SettleBusyTask(*rig.app));
    }
    EXPECT_EQ(rig.project->events.size(), 2u);
    EXPECT_EQ(rig.app->pendingDeleteEvent, -1);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);
    EXPECT_TRUE(rig.app->modified);
    EXPECT_EQ(rig.app->selectedEvent, 1) << "the selection follows its event down";
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{1});

    // A deletion past the list is dropped with no undo step.
    rig.app->pendingDeleteEvent = 7;
    TakeJobRequests(ctx, {});
    EXPECT_EQ(rig.app->pendingDeleteEvent, -1);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // New, Open or Close parked: the voices are not rebuilt under the
    // question; once it is gone they are.
    rig.app->deferredRebuild.store(true);
    TakeJobRequests(ctx, {.leftButtonDown = false, .leavingCommandParked = true});
    EXPECT_FALSE(rig.app->busyTask.busy.load());
    EXPECT_TRUE(rig.app->deferredRebuild.load());
    TakeJobRequests(ctx, {});
    EXPECT_FALSE(rig.app->deferredRebuild.load());
    EXPECT_TRUE(rig.app->busyTask.busy.load());
    EXPECT_TRUE(SettleBusyTask(*rig.app));
}
