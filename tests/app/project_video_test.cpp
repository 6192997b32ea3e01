// The reference video a project names, when what stands at its path is no
// file: the open does not offer the chooser for it, and the next frame
// refuses it with the sentence that names what it is.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/project_frame.h"
#include "operations/project_lifecycle.h"
#include "picture/video_player.h"
#include "support/lifecycle_rig.h"

TEST(ProjectVideo, AVideoThatIsAPipeOrAFolderIsRefusedByNameAndNoChooserOpens) {
    struct Case {
        const char* name;
        const char* sentence;
    };
    const Case cases[] = {{"Reel.mov", "\xE2\x80\x9CReel.mov\xE2\x80\x9D is a named pipe, not a file"},
                          {"Cut.mp4", "\xE2\x80\x9C" "Cut.mp4\xE2\x80\x9D is a folder, not a file"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LifecycleRig rig;
        FakeDialogs::Install(*rig.app);
        FakeDialogs::openAnswer = rig.File("chosen.mp4");
        const std::string video = rig.File(c.name);
        if (std::string(c.name) == "Reel.mov")
            ASSERT_EQ(::mkfifo(video.c_str(), 0600), 0);
        else
            ASSERT_EQ(::mkdir(video.c_str(), 0700), 0);
        const std::string path = rig.File("Night/Night.tlproj");
        ASSERT_TRUE(WriteProjectAt(path, SpotDocument(1), [&](ProjectSaveContext& s) { s.videoPath = video; }));

        ASSERT_TRUE(OpenProject(rig.ctx, path));
        EXPECT_TRUE(FakeDialogs::titles.empty()) << "no chooser for a video that is there";
        EXPECT_EQ(rig.app->pendingVideoReloadPath, video);

        VideoPlayer player;
        TakePendingVideoReload(*rig.app, player, *rig.engine);
        EXPECT_FALSE(player.loaded);
        EXPECT_EQ(rig.app->toastText, c.sentence);
        EXPECT_EQ(rig.app->offlineVideoPath, video) << "a save keeps the video's path";
        CloseReferenceVideo(player);
    }
}
