// Dropped paths: which are videos, folders and audio files, what reaches the
// pending-drop fields, and SDL's begin / file / complete sequence.
#include <SDL.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>

#include "app/drop_target.h"
#include "operations/app_state.h"
#include "support/temp_dir.h"

TEST(DropTarget, ExtensionsComeFromTheNameOnly) {
    EXPECT_EQ(DropExtension("/a/Take.WAV"), "wav");
    EXPECT_EQ(DropExtension("/a/release.1/readme"), "") << "a dot in a folder name does not count";
    EXPECT_EQ(DropExtension("C:\\a.b\\readme"), "");
    EXPECT_EQ(DropExtension("/a/archive.tar.gz"), "gz");
    EXPECT_TRUE(IsDropVideoExtension("wmv"));
    EXPECT_TRUE(IsDropAudioExtension("aiff"));
    EXPECT_FALSE(IsDropAudioExtension("m4a"));
}

TEST(DropTarget, PathsSortIntoVideoFoldersAndAudio) {
    TempDir dir;
    const std::string folder = dir.File("Foley");
    const std::string videoFolder = dir.File("Rain.mov");
    const std::string release = dir.File("release.1");
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(videoFolder.c_str(), 0755), 0);
    ASSERT_EQ(mkdir(release.c_str(), 0755), 0);
    // The names decide what a file is for; what is in them is read later.
    for (const char* name : {"Take.WAV", "first.mp4", "notes.txt", "second.MOV", "b.flac", "release.1/readme"})
        ASSERT_TRUE(WriteWholeFile(dir.File(name), "x"));
    DropSort s = SortDroppedPaths({dir.File("Take.WAV"), release + "/readme", dir.File("first.mp4"), videoFolder,
                                   dir.File("notes.txt"), dir.File("second.MOV"), folder, dir.File("b.flac"), ""});
    EXPECT_EQ(s.videoPath, dir.File("second.MOV")) << "two videos: the last";
    EXPECT_EQ(s.folders, (std::vector<std::string>{videoFolder, folder})) << "a folder named like a video is a folder";
    EXPECT_EQ(s.audioFiles, (std::vector<std::string>{dir.File("Take.WAV"), dir.File("b.flac")}));
    EXPECT_TRUE(s.audioSeen);
    EXPECT_TRUE(s.accepted);
    EXPECT_TRUE(s.refusals.empty());

    DropSort none = SortDroppedPaths({release + "/readme", dir.File("a.m4a")});
    EXPECT_FALSE(none.accepted);
    EXPECT_TRUE(none.folders.empty() && none.audioFiles.empty() && none.videoPath.empty());
}

// A pipe or socket dressed as a sound or a video, and a file that is gone,
// are refused with what they are; the rest of the drop is still taken.
TEST(DropTarget, WhatIsNoFileIsRefusedByName) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.File("pipe.wav").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(dir.File("feed.mov").c_str(), 0600), 0);
    ASSERT_TRUE(WriteWholeFile(dir.File("ok.wav"), "x"));
    const DropSort s = SortDroppedPaths({dir.File("pipe.wav"), dir.File("ok.wav"), dir.File("feed.mov"),
                                         dir.File("gone.wav")});
    EXPECT_EQ(s.audioFiles, std::vector<std::string>{dir.File("ok.wav")});
    EXPECT_TRUE(s.videoPath.empty());
    EXPECT_EQ(s.refusals, (std::vector<std::string>{"\xE2\x80\x9Cpipe.wav\xE2\x80\x9D is a named pipe, not a file",
                                                    "\xE2\x80\x9C" "feed.mov\xE2\x80\x9D is a named pipe, not a file",
                                                    "\xE2\x80\x9Cgone.wav\xE2\x80\x9D was not found"}));
    auto app = std::make_unique<AppState>();
    EXPECT_TRUE(DeliverDrop(*app, s, 0, 0, false));
    EXPECT_EQ(app->toastText, s.refusals.front()) << "the first refusal is told";
    EXPECT_GT(app->toastTimer, 0);
}

TEST(DropTarget, AltCountsOnlyWhenTheDropHoldsAudio) {
    auto app = std::make_unique<AppState>();
    app->droppedAltKey = false;
    DropSort folderOnly;
    folderOnly.folders = {"/sounds"};
    folderOnly.accepted = true;
    EXPECT_TRUE(DeliverDrop(*app, folderOnly, 10, 20, true));
    EXPECT_FALSE(app->droppedAltKey) << "Alt with only a folder leaves the flag";

    DropSort audio;
    audio.audioFiles = {"/a.wav"};
    audio.audioSeen = audio.accepted = true;
    audio.videoPath = "/v.mp4";
    app->droppedVideoPath = "/older.mov";
    app->dragHasAudio = true;
    EXPECT_TRUE(DeliverDrop(*app, audio, 30, 40, true));
    EXPECT_TRUE(app->droppedAltKey);
    EXPECT_EQ(app->droppedVideoPath, "/v.mp4");
    EXPECT_EQ(app->droppedFolders, (std::vector<std::string>{"/sounds"}));
    EXPECT_EQ(app->droppedAudioFiles, (std::vector<std::string>{"/a.wav"}));
    EXPECT_FLOAT_EQ(app->dragHoverX, 30);
    EXPECT_FLOAT_EQ(app->dragHoverY, 40);
    EXPECT_FALSE(app->dragHasAudio) << "the hover flags are cleared at the drop";

    DeliverDrop(*app, audio, 0, 0, false);
    EXPECT_FALSE(app->droppedAltKey);
    EXPECT_EQ(app->droppedAudioFiles.size(), 2u) << "an unconsumed drop is added to, not replaced";
}

TEST(DropTarget, SdlEventsMakeOneDropReadAtItsCompletion) {
    auto app = std::make_unique<AppState>();
    DropIntake intake;
    int pointerReads = 0;
    auto pointer = [&] {
        ++pointerReads;
        return DropPointer{300, 150, true};
    };
    TempDir dir;
    std::string a = dir.File("one.wav"), b = dir.File("two.aif"), t = "dragged text";
    ASSERT_TRUE(WriteWholeFile(a, "x"));
    ASSERT_TRUE(WriteWholeFile(b, "x"));
    auto event = [](uint32_t type, std::string* text) {
        SDL_Event e{};
        e.type = type;
        e.drop.file = text ? text->data() : nullptr;
        return e;
    };
    EXPECT_TRUE(HandleDropEvent(intake, *app, event(SDL_DROPBEGIN, nullptr), 1.5f, pointer));
    EXPECT_TRUE(HandleDropEvent(intake, *app, event(SDL_DROPFILE, &a), 1.5f, pointer));
    EXPECT_TRUE(HandleDropEvent(intake, *app, event(SDL_DROPTEXT, &t), 1.5f, pointer));
    EXPECT_TRUE(HandleDropEvent(intake, *app, event(SDL_DROPFILE, &b), 1.5f, pointer));
    EXPECT_TRUE(app->droppedAudioFiles.empty()) << "nothing is delivered before the completion";
    EXPECT_EQ(pointerReads, 0);
    EXPECT_TRUE(HandleDropEvent(intake, *app, event(SDL_DROPCOMPLETE, nullptr), 1.5f, pointer));
    EXPECT_EQ(pointerReads, 1);
    EXPECT_EQ(app->droppedAudioFiles, (std::vector<std::string>{a, b}));
    EXPECT_TRUE(app->droppedAltKey);
    EXPECT_FLOAT_EQ(app->dragHoverX, 200) << "window pixels become points";
    EXPECT_FLOAT_EQ(app->dragHoverY, 100);
    EXPECT_FALSE(intake.open);
    EXPECT_FALSE(HandleDropEvent(intake, *app, event(SDL_KEYDOWN, nullptr), 1.5f, pointer));
}
