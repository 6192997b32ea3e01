// The frame loop's project decisions: the unsaved-changes confirmation guards
// what would replace unsaved events; its Save continues only after a save
// that succeeded, Discard continues, closing forgets; the dialogs are asked
// with their titles; a queued path waits for an export; the thumbnail of the
// frame after the last of two saves is written once, where that save asked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

#include "app/frame_driver.h"
#include "app/project_commands.h"
#include "app/project_frame.h"
#include "operations/project_disk.h"
#include "persistence/project_thumbnail.h"
#include "platform/image_file.h"
#include "support/lifecycle_rig.h"

namespace fs = std::filesystem;

namespace {

// Two events and unsaved changes, the dialogs installed; returns another
// project of five events written beside them, to be opened instead.
std::string UnsavedBesideAnother(LifecycleRig& rig) {
    *rig.project = SpotDocument(2);
    rig.app->modified = true;
    FakeDialogs::Install(*rig.app);
    const std::string other = rig.File("Other/Other.tlproj");
    EXPECT_TRUE(WriteProjectAt(other, SpotDocument(5)));
    return other;
}

}  // namespace

TEST(ProjectCommands, TheConfirmationGuardsUnsavedEventsOnly) {
    LifecycleRig rig;
    const std::string other = UnsavedBesideAnother(rig);
    AppState& app = *rig.app;

    EXPECT_EQ(NewProjectCommand(rig.ctx), ProjectCommandResult::Prompted);
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(OpenProjectCommand(rig.ctx), ProjectCommandResult::Prompted);
    EXPECT_TRUE(app.openDialogAfterConfirm);
    EXPECT_TRUE(FakeDialogs::titles.empty());  // the dialog comes after the confirmation
    EXPECT_EQ(OpenRecentProjectCommand(rig.ctx, other), ProjectCommandResult::Prompted);
    EXPECT_EQ(app.confirmOpenPath, other);
    EXPECT_FALSE(app.openDialogAfterConfirm);
    app.pendingOpenPath = other;
    app.confirmOpenPath.clear();
    EXPECT_EQ(TakeQueuedOpenPath(rig.ctx), ProjectCommandResult::Prompted);
    EXPECT_EQ(app.confirmOpenPath, other);
    EXPECT_TRUE(app.pendingOpenPath.empty());
    EXPECT_EQ(rig.project->events.size(), 2u);
    ConfirmClose(app);
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_TRUE(app.confirmOpenPath.empty());

    // An export holds a queued path back and refuses New and Open.
    app.exportRunning.store(true);
    app.pendingOpenPath = other;
    EXPECT_EQ(TakeQueuedOpenPath(rig.ctx), ProjectCommandResult::Cancelled);
    EXPECT_EQ(app.pendingOpenPath, other);
    EXPECT_EQ(NewProjectCommand(rig.ctx), ProjectCommandResult::Refused);
    EXPECT_EQ(app.toastText, "Export in progress");
    EXPECT_EQ(app.confirmAction, 0);
    app.exportRunning.store(false);

    // Without unsaved events everything acts at once: modified alone, or
    // events saved.
    rig.project->events.clear();
    EXPECT_EQ(TakeQueuedOpenPath(rig.ctx), ProjectCommandResult::Done);
    EXPECT_EQ(rig.project->events.size(), 5u);
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_EQ(NewProjectCommand(rig.ctx), ProjectCommandResult::Done);
    EXPECT_TRUE(rig.project->events.empty());
    FakeDialogs::openAnswer = other;
    EXPECT_EQ(OpenProjectCommand(rig.ctx), ProjectCommandResult::Done);
    EXPECT_EQ(FakeDialogs::titles.back(), "Open Tessaloom Project|tlproj");
    EXPECT_EQ(app.projectPath, other);
}

TEST(ProjectCommands, SaveContinuesOnlyAfterASuccessfulSaveDiscardContinues) {
    LifecycleRig rig;
    const std::string other = UnsavedBesideAnother(rig);
    AppState& app = *rig.app;
    ASSERT_EQ(OpenRecentProjectCommand(rig.ctx, other), ProjectCommandResult::Prompted);

    // Never saved and the dialog cancelled: nothing saved, nothing continues.
    EXPECT_EQ(ConfirmSave(rig.ctx), ProjectCommandResult::Cancelled);
    EXPECT_EQ(FakeDialogs::titles.back(), "Save Tessaloom Project|tlproj");
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(rig.project->events.size(), 2u);

    // A save that fails keeps the confirmation and the document.
    const std::string mine = rig.File("Mine/Mine.tlproj");
    fs::create_directories(mine + ".tmp");
    FakeDialogs::saveAnswer = mine;
    EXPECT_EQ(ConfirmSave(rig.ctx), ProjectCommandResult::Failed);
    EXPECT_EQ(app.toastText, "Save failed");
    EXPECT_EQ(app.confirmAction, 1);
    EXPECT_EQ(app.confirmOpenPath, other);
    EXPECT_EQ(rig.project->events.size(), 2u);

    // Saved: the waiting project opens.
    fs::remove(mine + ".tmp");
    EXPECT_EQ(ConfirmSave(rig.ctx), ProjectCommandResult::Done);
    EXPECT_TRUE(fs::exists(mine));
    EXPECT_EQ(app.confirmAction, 0);
    EXPECT_EQ(app.projectPath, other);
    EXPECT_EQ(rig.project->events.size(), 5u);

    // Discard continues without saving: a New or Close makes a new project,
    // a quit quits.
    app.modified = true;
    ASSERT_EQ(NewProjectCommand(rig.ctx), ProjectCommandResult::Prompted);
    ConfirmDiscard(rig.ctx);
    EXPECT_TRUE(rig.project->events.empty());
    EXPECT_EQ(app.confirmAction, 0);
    app.confirmAction = 1;
    app.quitAfterConfirm = true;
    ConfirmDiscard(rig.ctx);
    EXPECT_EQ(rig.quits, 1);
    EXPECT_FALSE(app.quitAfterConfirm);
    EXPECT_EQ(app.confirmAction, 0);

    // The Open the confirmation guarded asks its dialog afterwards.
    *rig.project = SpotDocument(2);
    app.modified = true;
    ASSERT_EQ(OpenProjectCommand(rig.ctx), ProjectCommandResult::Prompted);
    FakeDialogs::openAnswer = mine;
    ConfirmDiscard(rig.ctx);
    EXPECT_EQ(app.projectPath, mine);
    EXPECT_FALSE(app.openDialogAfterConfirm);
}

TEST(ProjectCommands, SaveAndSaveAsAskTheirDialogsAndTheLauncherDropsMissingFiles) {
    LifecycleRig rig;
    FakeDialogs::Install(*rig.app);
    AppState& app = *rig.app;
    // Nothing to save without events.
    EXPECT_EQ(SaveProjectCommand(rig.ctx), ProjectCommandResult::Cancelled);
    EXPECT_TRUE(FakeDialogs::titles.empty());

    *rig.project = SpotDocument(1);
    FakeDialogs::saveAnswer = rig.File("First");
    EXPECT_EQ(SaveProjectCommand(rig.ctx), ProjectCommandResult::Done);
    EXPECT_EQ(app.projectPath, rig.File("First/First.tlproj"));
    EXPECT_EQ(SaveProjectCommand(rig.ctx), ProjectCommandResult::Done);  // to its path, no dialog
    EXPECT_EQ(FakeDialogs::titles.size(), 1u);
    FakeDialogs::saveAnswer = rig.File("Second.tlproj");
    EXPECT_EQ(SaveProjectAsCommand(rig.ctx), ProjectCommandResult::Done);
    EXPECT_EQ(FakeDialogs::titles.back(), "Save Tessaloom Project As|tlproj");
    EXPECT_EQ(app.projectPath, rig.File("Second/Second.tlproj"));

    const std::string gone = rig.File("Gone/Gone.tlproj");
    app.recentProjects.insert(app.recentProjects.begin(), gone);
    app.recentMenuDirty = false;
    EXPECT_EQ(LauncherOpenRecent(rig.ctx, gone), ProjectCommandResult::Failed);
    EXPECT_EQ(app.toastText, "\xE2\x80\x9CGone.tlproj\xE2\x80\x9D was not found \xE2\x80\x94 removed from recent");
    EXPECT_EQ(std::count(app.recentProjects.begin(), app.recentProjects.end(), gone), 0);
    EXPECT_TRUE(app.recentMenuDirty);
    EXPECT_GE(rig.preferencesSaved, 1);
}

TEST(ProjectThumbnail, TwoSavesBeforeAFrameGiveOneFileAtTheLaterPath) {
    LifecycleRig rig;
    *rig.project = SpotDocument(1);
    ASSERT_TRUE(SaveProject(rig.ctx, rig.File("A/A.tlproj")));
    ASSERT_TRUE(SaveProject(rig.ctx, rig.File("B/B.tlproj")));
    EXPECT_EQ(rig.app->pendingThumbnailPath, rig.File("B/B.thumb.png"));

    // A 640 × 360 frame with a diagonal pattern and a transparent alpha.
    FrameImage frame;
    frame.width = 640;
    frame.height = 360;
    frame.rgba.resize(640 * 360 * 4);
    for (int y = 0; y < 360; ++y)
        for (int x = 0; x < 640; ++x) {
            uint8_t* p = &frame.rgba[(size_t(y) * 640 + size_t(x)) * 4];
            p[0] = uint8_t(x);
            p[1] = uint8_t(y);
            p[2] = uint8_t((x + y) / 4);
            p[3] = 0;
        }
    CaptureThumbnail(*rig.app, frame);
    EXPECT_TRUE(rig.app->pendingThumbnailPath.empty());
    EXPECT_FALSE(fs::exists(rig.File("A/A.thumb.png")));
    EXPECT_FALSE(fs::exists(rig.File("B/B.thumb.png.tmp")));

    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    ASSERT_TRUE(LoadImagePixels(rig.File("B/B.thumb.png"), pixels, width, height));
    EXPECT_EQ(width, 400);
    EXPECT_EQ(height, 225);
    const ThumbnailImage expected = ScaleThumbnail(frame.rgba.data(), 640, 360, 640 * 4);
    EXPECT_EQ(pixels, expected.rgba);
    for (size_t i = 3; i < pixels.size(); i += 4) ASSERT_EQ(pixels[i], 255);

    // Nothing pending: nothing written; an empty frame writes nothing either.
    CaptureThumbnail(*rig.app, frame);
    rig.app->pendingThumbnailPath = rig.File("C.thumb.png");
    CaptureThumbnail(*rig.app, FrameImage{});
    EXPECT_FALSE(fs::exists(rig.File("C.thumb.png")));
    EXPECT_TRUE(rig.app->pendingThumbnailPath.empty());
}
