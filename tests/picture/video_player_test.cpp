// Reference video player: opening, seeking at three frame rates, playing on
// an injected clock, MPEG-TS start times and a picture size change midway.
// Every frame of the test videos carries its index, read back from the
// shown picture.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>

#include "operations/app_state.h"
#include "operations/reference_video.h"
#include "picture/video_player.h"
#include "picture/video_test_support.h"
#include "platform/file_util.h"
#include "support/audio_fixtures.h"
#include "support/clip_fixtures.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"

namespace {

struct RateCase {
    const char* name;
    const char* rate;
    double fps;
};

void PrintTo(const RateCase& rate, std::ostream* out) { *out << rate.rate << " fps"; }

const RateCase kRates[] = {{"ntsc_film", "24000/1001", 24000.0 / 1001.0},
                           {"pal", "25", 25.0},
                           {"ntsc_video", "30000/1001", 30000.0 / 1001.0}};

// Videos are made once per run and shared by the tests that need them.
const std::string& CachedVideo(const std::string& name, const TestVideoSpec& spec) {
    static TempDir dir;
    static std::map<std::string, std::string> made;
    auto it = made.find(name);
    if (it != made.end()) return it->second;
    const std::string path = dir.File(name);
    EXPECT_TRUE(MakeTestVideo(path, spec)) << "ffmpeg could not make " << name;
    return made.emplace(name, path).first->second;
}

// 12 s, GOP 12, two B-frames, 160x96.
const std::string& TwelveSeconds(const RateCase& rate) {
    TestVideoSpec spec;
    spec.rate = rate.rate;
    spec.seconds = 12;
    return CachedVideo(std::string("twelve_") + rate.name + ".mp4", spec);
}

int FrameCount(double seconds, double fps) { return int(std::ceil(seconds * fps - 1e-9)); }

class VideoPlayerTest : public ::testing::Test {
protected:
    void TearDown() override { CloseReferenceVideo(player); }

    // Seeks to a video time, lets the decoder thread finish and shows the result.
    int SeekTo(double videoTime) {
        SeekReferenceVideo(player, float(offset + videoTime));
        EXPECT_TRUE(WaitForReferenceVideoIdle(player, 20));
        UpdateReferenceVideo(player);
        return ShownIndex(player);
    }

    VideoPlayer player;
    double offset = 0;
};

// ---- Opening ------------------------------------------------------------------

TEST_F(VideoPlayerTest, LargePicturesAreScaledToTheCapOnTheirLongerSide) {
    struct SizeCase { int width, height; const char* format; int wantWidth, wantHeight; };
    const SizeCase cases[] = {{1920, 1080, "yuv420p", 1280, 720},
                              {1281, 720, "yuv444p", 1280, 719},
                              {1280, 1280, "yuv420p", 1280, 1280}};
    for (const SizeCase& c : cases) {
        TestVideoSpec spec;
        spec.width = c.width;
        spec.height = c.height;
        spec.pixelFormat = c.format;
        spec.seconds = 0.2;
        const std::string name = std::to_string(c.width) + "x" + std::to_string(c.height) + ".mp4";
        ASSERT_TRUE(LoadReferenceVideo(player, CachedVideo(name, spec))) << name;
        EXPECT_EQ(player.width, c.wantWidth) << name;
        EXPECT_EQ(player.height, c.wantHeight) << name;
        EXPECT_EQ(player.shown.width, c.wantWidth);
        EXPECT_EQ(player.shown.height, c.wantHeight);
        EXPECT_EQ(player.shown.rgba.size(), size_t(c.wantWidth) * size_t(c.wantHeight) * 4);
        EXPECT_EQ(ShownIndex(player), 0) << name;
    }
}

TEST_F(VideoPlayerTest, FrameRateDurationAndTheLoadLine) {
    for (const RateCase& rate : kRates) {
        const std::string& path = TwelveSeconds(rate);
        testing::internal::CaptureStdout();
        ASSERT_TRUE(LoadReferenceVideo(player, path));
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NEAR(player.fps, rate.fps, 1e-4) << rate.name;
        const double frames = FrameCount(12, rate.fps);
        EXPECT_NEAR(player.duration, frames / rate.fps, 1e-3) << rate.name;
        EXPECT_TRUE(player.loaded);
        EXPECT_EQ(player.currentTime, 0.0f);
        EXPECT_FALSE(player.playing);
        char line[512];
        std::snprintf(line, sizeof line, "[Video] loaded via FFmpeg (h264) 160x96 %.2ffps %.2fs (%s)\n",
                      double(player.fps), double(player.duration), path.c_str());
        EXPECT_NE(log.find(line), std::string::npos) << log;
    }
}

TEST_F(VideoPlayerTest, FilesWithoutPictureFailWithTheirLineAndLeaveThePlayerClosed) {
    TempDir dir;
    const std::string text = dir.File("notes.txt");
    ASSERT_TRUE(WriteWholeFile(text, "these are notes, not a video\n"));
    AudioSpec tone;
    tone.seconds = 0.5;
    const std::string wav = dir.File("tone.wav"), m4a = dir.File("tone.m4a");
    ASSERT_TRUE(WriteTestAudio(wav, tone));
    ASSERT_TRUE(RunTool({"ffmpeg", "-loglevel", "error", "-y", "-i", wav, "-c:a", "aac", m4a}));

    // A container that names other files: a concat list naming a video that
    // plays. The file it names is not opened.
    const std::string concat = dir.File("joined.ffconcat");
    ASSERT_TRUE(WriteWholeFile(concat, "ffconcat version 1.0\nfile '" + TwelveSeconds(kRates[1]) + "'\n"));
    const std::string refers = " refers to other files (";

    struct FailCase { std::string path; std::string line; };
    const FailCase cases[] = {
        {concat, "[Video] FFmpeg: \xE2\x80\x9Cjoined.ffconcat\xE2\x80\x9D" + refers},
        {text, "[Video] FFmpeg: cannot open container (" + text + ")\n"},
        {m4a, "[Video] FFmpeg: no decodable video stream (" + m4a + ")\n"},
        {dir.File("missing.mp4"),
         "[Video] FFmpeg: \xE2\x80\x9Cmissing.mp4\xE2\x80\x9D was not found (" + dir.File("missing.mp4") + ")\n"}};
    player.startOffset = 4.0f;
    for (const FailCase& c : cases) {
        // A loaded video goes first: a failed load leaves nothing of it.
        ASSERT_TRUE(LoadReferenceVideo(player, TwelveSeconds(kRates[1])));
        testing::internal::CaptureStdout();
        EXPECT_FALSE(LoadReferenceVideo(player, c.path));
        const std::string log = testing::internal::GetCapturedStdout();
        EXPECT_NE(log.find(c.line), std::string::npos) << log;
        EXPECT_FALSE(player.loaded);
        EXPECT_EQ(player.impl, nullptr);
        EXPECT_EQ(player.width, 0);
        EXPECT_EQ(player.duration, 0.0f);
        EXPECT_EQ(player.currentTime, -1.0f);
        EXPECT_TRUE(player.shown.rgba.empty());
        EXPECT_EQ(player.startOffset.load(), 4.0f);
    }
}

TEST_F(VideoPlayerTest, TruncatedFilesFailOrPlayWhatTheyHold) {
    TempDir dir;
    TestVideoSpec spec;
    spec.seconds = 4;
    for (const char* name : {"plain.mp4", "faststart.mp4", "stream.ts"}) {
        TestVideoSpec s = spec;
        if (std::string(name) == "faststart.mp4") s.outputArgs = {"-movflags", "+faststart"};
        const std::string whole = dir.File(std::string("whole_") + name);
        ASSERT_TRUE(MakeTestVideo(whole, s));
        const std::string data = ReadWholeFile(whole);
        const std::string cut = dir.File(name);
        ASSERT_TRUE(WriteWholeFile(cut, data.substr(0, data.size() * 6 / 10)));

        testing::internal::CaptureStdout();
        const bool loaded = LoadReferenceVideo(player, cut);
        const std::string log = testing::internal::GetCapturedStdout();
        if (!loaded) {
            EXPECT_NE(log.find("[Video] FFmpeg: "), std::string::npos) << name << ": " << log;
            EXPECT_FALSE(player.loaded);
            continue;
        }
        // Whatever it holds shows the right frames; beyond that the last one stays.
        for (double t : {1.0, 0.2, 3.9, 0.0}) {
            const int index = SeekTo(t);
            EXPECT_GE(index, 0) << name << " at " << t;
            EXPECT_LE(index, ExpectedFrame(t, 25, 100)) << name << " at " << t;
            EXPECT_NEAR(player.shown.time, index / 25.0, 1e-6) << name;
        }
        EXPECT_EQ(SeekTo(1.0), 25) << name;
        CloseReferenceVideo(player);
    }
}

// ---- Seeking --------------------------------------------------------------------

class VideoSeekTest : public VideoPlayerTest, public ::testing::WithParamInterface<RateCase> {};

TEST_P(VideoSeekTest, EverySeekShowsExactlyItsFrame) {
    const RateCase rate = GetParam();
    const int frames = FrameCount(12, rate.fps);
    const double fps = rate.fps;
    offset = 2.5;
    player.startOffset = float(offset);
    ASSERT_TRUE(LoadReferenceVideo(player, TwelveSeconds(rate)));

    auto expectFrame = [&](int k, const char* what) {
        EXPECT_EQ(SeekTo(k / fps), k) << what;
        EXPECT_NEAR(player.shown.time, k / fps, 1e-6) << what;
        EXPECT_NEAR(UpdateReferenceVideo(player), offset + k / fps, 1e-4) << what;
        EXPECT_EQ(player.pendingSeek, -1.0f) << what;
    };
    expectFrame(frames - 1, "last frame");
    expectFrame(0, "first frame");
    expectFrame(48, "keyframe");
    expectFrame(47, "frame before a keyframe");
    expectFrame(61, "B-frame");
    expectFrame(62, "B-frame");
    expectFrame(frames - 2, "forward jump over 5 s");
    expectFrame(100, "backward jump over 5 s");
    expectFrame(120, "forward hop under 5 s");
    expectFrame(119, "one frame back");

    // The end of the timeline and times before the video clamp.
    EXPECT_EQ(SeekTo(1000), frames - 1);
    EXPECT_EQ(SeekTo(-1000), 0);

    // Between two frames the nearer one shows.
    EXPECT_EQ(SeekTo((200 + 0.3) / fps), 200);
    EXPECT_EQ(SeekTo((200 + 0.7) / fps), 201);
}

TEST_P(VideoSeekTest, RepositioningFollowsTheSeekRules) {
    const RateCase rate = GetParam();
    const double fps = rate.fps;
    offset = 1.0;
    player.startOffset = float(offset);
    ASSERT_TRUE(LoadReferenceVideo(player, TwelveSeconds(rate)));
    VideoPlayerStats& stats = player.stats;

    // A seek to the shown frame, or to a time nearer it than to its
    // neighbours, decodes nothing and shows nothing new.
    const uint64_t counter = player.shown.counter;
    const int64_t received = stats.framesReceived.load();
    SeekReferenceVideo(player, float(offset + 0.2 / fps));
    EXPECT_EQ(player.pendingSeek, -1.0f);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_EQ(stats.framesReceived.load(), received);
    EXPECT_EQ(player.shown.counter, counter);

    // Hops forward under 5 s decode on from the shown frame.
    int64_t before = stats.repositions.load();
    EXPECT_EQ(SeekTo(30 / fps), 30);
    EXPECT_EQ(SeekTo(4.0), ExpectedFrame(4.0, fps, 1000));
    EXPECT_EQ(stats.repositions.load(), before);
    EXPECT_EQ(stats.extraRepositions.load(), 0);

    // Forward by 5 s or more, and any step back, reposition once.
    before = stats.repositions.load();
    SeekTo(9.5);
    EXPECT_EQ(stats.repositions.load(), before + 1);
    SeekTo(9.0);
    EXPECT_EQ(stats.repositions.load(), before + 2);

    // The same target sought again while pending repositions once.
    before = stats.repositions.load();
    SeekReferenceVideo(player, float(offset + 2.0));
    SeekReferenceVideo(player, float(offset + 2.0));
    SeekReferenceVideo(player, float(offset + 2.0));
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_EQ(stats.repositions.load(), before + 1);
    EXPECT_EQ(ShownIndex(player), ExpectedFrame(2.0, fps, 1000));

    // Two different far targets in a row: at most one reposition each (the
    // first is skipped when the second comes before the thread reached it),
    // and the last one shows.
    before = stats.repositions.load();
    SeekReferenceVideo(player, float(offset + 10.0));
    SeekReferenceVideo(player, float(offset + 0.5));
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_GE(stats.repositions.load(), before + 1);
    EXPECT_LE(stats.repositions.load(), before + 2);
    EXPECT_EQ(ShownIndex(player), ExpectedFrame(0.5, fps, 1000));
    EXPECT_EQ(player.pendingSeek, -1.0f);
}

TEST_P(VideoSeekTest, ScrubbingBackFastShowsTheFirstPictureAfterRepositioning) {
    const RateCase rate = GetParam();
    const double fps = rate.fps;
    ScopedTestClock clock(player);
    ASSERT_TRUE(LoadReferenceVideo(player, TwelveSeconds(rate)));
    SeekTo(11.0);

    // Backward seeks 0.1 s apart: the keyframe before the target is
    // offered first, then the exact frame.
    TestClock::Advance(0.1);
    const int target = 8 * 12 + 7;  // mid-GOP
    EXPECT_EQ(SeekTo(target / fps), target);
    EXPECT_EQ(player.stats.scrubPreviews.load(), 1);
    const double preview = player.stats.lastScrubPreviewTime.load();
    const int previewFrame = int(std::lround(preview * fps));
    EXPECT_EQ(previewFrame % 12, 0) << "a keyframe";
    EXPECT_LE(previewFrame, target);

    // A slow backward seek waits for its exact frame.
    TestClock::Advance(1.0);
    EXPECT_EQ(SeekTo(50 / fps), 50);
    EXPECT_EQ(player.stats.scrubPreviews.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(Rates, VideoSeekTest, ::testing::ValuesIn(kRates),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Playing -----------------------------------------------------------------------

TEST_F(VideoPlayerTest, PlayingFollowsTheClockWithinOneFrameAndStopsAtTheEnd) {
    ScopedTestClock clock(player);
    const RateCase& rate = kRates[2];
    const double fps = rate.fps;
    const int frames = FrameCount(12, fps);
    offset = 3.0;
    player.startOffset = float(offset);
    ASSERT_TRUE(LoadReferenceVideo(player, TwelveSeconds(rate)));
    const int start = 150;
    ASSERT_EQ(SeekTo(start / fps), start);

    PlayReferenceVideo(player);
    EXPECT_TRUE(player.playing);
    const double playStart = start / fps;
    double elapsed = 0;
    // Steps shorter and longer than a frame, repeated to the end.
    const double steps[] = {0.011, 0.02, 1 / fps, 0.05, 0.3, 0.004, 1.1};
    int lastIndex = start;
    for (int i = 0; player.playing && i < 2000; ++i) {
        const double step = steps[i % 7];
        TestClock::Advance(step);
        elapsed += step;
        ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
        const float projectTime = UpdateReferenceVideo(player);
        if (!player.playing) break;
        const double due = std::min(double(player.duration), playStart + elapsed);
        const int index = ShownIndex(player);
        ASSERT_EQ(index, ExpectedFrame(player.shown.time, fps, frames)) << "picture and time agree";
        EXPECT_LE(player.shown.time, due + 1e-6) << "never ahead";
        EXPECT_LT(due - player.shown.time, 1 / fps + 1e-6) << "within one frame";
        EXPECT_GE(index, lastIndex);
        EXPECT_NEAR(projectTime, offset + player.shown.time, 1e-4);
        lastIndex = index;
    }
    EXPECT_FALSE(player.playing);
    EXPECT_EQ(ShownIndex(player), frames - 1) << "the last picture stays";
    TestClock::Advance(1.0);
    UpdateReferenceVideo(player);
    EXPECT_EQ(ShownIndex(player), frames - 1);

    // Pause keeps the picture; a seek while playing restarts from the target.
    SeekTo(2.0);
    const double resumedAt = player.shown.time;
    PlayReferenceVideo(player);
    TestClock::Advance(0.5);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_EQ(ShownIndex(player), int(std::floor((resumedAt + 0.5) * fps + 1e-9)));
    SeekReferenceVideo(player, float(offset + 8.0));
    TestClock::Advance(0.25);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_EQ(ShownIndex(player), int(std::floor(8.25 * fps + 1e-9)));
    PauseReferenceVideo(player);
    const int paused = ShownIndex(player);
    TestClock::Advance(1.0);
    ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
    UpdateReferenceVideo(player);
    EXPECT_EQ(ShownIndex(player), paused);
    EXPECT_FALSE(player.playing);

    CloseReferenceVideo(player);
    EXPECT_FALSE(player.loaded);
    EXPECT_FALSE(player.playing);
    EXPECT_EQ(player.duration, 0.0f);
    EXPECT_EQ(player.fps, 0.0f);
    EXPECT_EQ(player.width, 0);
    EXPECT_EQ(player.height, 0);
    EXPECT_EQ(player.currentTime, -1.0f);
    EXPECT_EQ(player.pendingSeek, -1.0f);
    EXPECT_TRUE(player.path.empty());
    EXPECT_TRUE(player.shown.rgba.empty());
    EXPECT_EQ(player.shown.time, -1.0);
    EXPECT_EQ(player.startOffset.load(), float(offset));
    EXPECT_EQ(UpdateReferenceVideo(player), float(offset) - 1.0f);
}

// ---- Streams that start late, pictures that change size ------------------------------

TEST_F(VideoPlayerTest, MpegTsTimesCountFromTheFirstPicture) {
    TestVideoSpec spec;
    spec.seconds = 8;
    const std::string& path = CachedVideo("eight.ts", spec);
    ASSERT_TRUE(LoadReferenceVideo(player, path));
    EXPECT_EQ(player.shown.time, 0.0);
    EXPECT_EQ(ShownIndex(player), 0);
    for (int k : {100, 37, 36, 150, 12, 11, 199, 0, 60}) {
        EXPECT_EQ(SeekTo(k / 25.0), k);
        EXPECT_NEAR(player.shown.time, k / 25.0, 1e-6);
    }
}

TEST_F(VideoPlayerTest, APictureSizeChangeMidwayPlaysAndSeeksCleanly) {
    TempDir dir;
    TestVideoSpec first;
    first.seconds = 3;
    TestVideoSpec second = first;
    second.width = 240;
    second.height = 136;
    second.firstIndex = 75;
    // The first file starts at the muxer's 1.4 s plus two B-frames; with an
    // offset the muxer leaves the B-frames out, so they are added here.
    second.outputArgs = {"-output_ts_offset", "3.08"};
    const std::string a = dir.File("a.ts"), b = dir.File("b.ts"), joined = dir.File("joined.ts");
    ASSERT_TRUE(MakeTestVideo(a, first));
    ASSERT_TRUE(MakeTestVideo(b, second));
    ASSERT_TRUE(WriteWholeFile(joined, ReadWholeFile(a) + ReadWholeFile(b)));

    ScopedTestClock clock(player);
    ASSERT_TRUE(LoadReferenceVideo(player, joined));
    EXPECT_EQ(player.width, 160);
    EXPECT_EQ(SeekTo(100 / 25.0), 100);
    EXPECT_EQ(SeekTo(10 / 25.0), 10);
    EXPECT_EQ(SeekTo(140 / 25.0), 140);
    EXPECT_EQ(SeekTo(74 / 25.0), 74);

    // Play across the change.
    SeekTo(60 / 25.0);
    PlayReferenceVideo(player);
    for (int k = 61; k <= 90; ++k) {
        TestClock::Advance(1 / 25.0);
        ASSERT_TRUE(WaitForReferenceVideoIdle(player, 10));
        UpdateReferenceVideo(player);
        EXPECT_EQ(ShownIndex(player), k);
    }
}

// ---- The file dialog ----------------------------------------------------------------------

std::string gDialogTitle, gDialogFilter;
std::string FakeOpenDialog(const char* title, const char* filter) {
    gDialogTitle = title;
    gDialogFilter = filter;
    return "/videos/reel 1.mov";
}

TEST(ChooseReferenceVideoFile, AsksTheDialogHookForAVideo) {
    AppState app;
    EXPECT_EQ(ChooseReferenceVideoFile(app), "");
    app.openFileDialog = &FakeOpenDialog;
    EXPECT_EQ(ChooseReferenceVideoFile(app), "/videos/reel 1.mov");
    EXPECT_EQ(gDialogTitle, "Select a video file for reference");
    EXPECT_EQ("*." + gDialogFilter, "*.mp4;*.mov;*.m4v;*.avi;*.mkv;*.wmv;*.webm;*.mxf");
}

}  // namespace

namespace {

std::string gSwappedPath;
std::string gFifoPath;

// Once the video's path has been checked and opened, a named pipe is renamed
// over it, as a stranger sharing the folder could.
int SwapAPipeOverTheVideo(FileFaultPoint point, const std::string& path) {
    if (point == FileFaultPoint::Opened && path == gSwappedPath) std::rename(gFifoPath.c_str(), gSwappedPath.c_str());
    return 0;
}

}  // namespace

// A named pipe put at the video's path between its check and the decoder's
// open is never opened: the decoder reads the file that was checked, and the
// load does not block. The pipe itself, asked for afterwards, is refused by
// the sentence naming it.
TEST_F(VideoPlayerTest, APipeSwappedOverTheVideoAfterItsCheckIsNeverOpened) {
    TempDir dir;
    const std::string video = dir.File("reel.mp4");
    std::filesystem::copy_file(TwelveSeconds(kRates[1]), video);
    gSwappedPath = video;
    gFifoPath = dir.File("pipe");
    ASSERT_EQ(::mkfifo(gFifoPath.c_str(), 0600), 0);
    player.fileFault = &SwapAPipeOverTheVideo;
    std::atomic<bool> done{false}, loaded{false};
    std::thread load([&] {
        loaded = LoadReferenceVideo(player, video);
        done = true;
    });
    const bool returned = WaitUntil([&] { return done.load(); }, std::chrono::seconds(60));
    player.fileFault = nullptr;
    if (!returned) {
        // Blocked on the pipe: a writer lets it go, and the test fails.
        const int writer = ::open(video.c_str(), O_WRONLY | O_NONBLOCK);
        if (writer >= 0) ::close(writer);
    }
    load.join();
    ASSERT_TRUE(returned) << "the load blocked on the pipe";
    EXPECT_TRUE(loaded.load());
    EXPECT_EQ(ShownIndex(player), 0) << "the picture is the checked file's";
    struct stat st {};
    ASSERT_EQ(::lstat(video.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "the pipe stands at the path now";
    CloseReferenceVideo(player);

    testing::internal::CaptureStdout();
    EXPECT_FALSE(LoadReferenceVideo(player, video));
    const std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("\xE2\x80\x9Creel.mp4\xE2\x80\x9D is a named pipe, not a file"), std::string::npos) << log;
}
