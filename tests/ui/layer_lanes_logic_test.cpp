// Waveform columns, layer rows, Clip trims and fades, and the layer solo.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "playback/audio_engine.h"
#include "playback/engine_voices.h"
#include "ui/layer_lanes_logic.h"

TEST(LayerWaveform, ColumnCountsSilenceAndTheFadeShapes) {
    EXPECT_EQ(WaveformColumnCount(900, false), 200);
    EXPECT_EQ(WaveformColumnCount(900, true), 150);
    EXPECT_EQ(WaveformColumnCount(30, false), 10);
    EXPECT_EQ(WaveformColumnCount(3, true), 2);

    std::vector<WaveformColumn> columns;
    const std::vector<float> silence(64, 0.0f), rms(64, 0.0f);
    WaveformColumns(silence.data(), rms.data(), 64, 900, 0, 1, 0, 0, false, columns);
    ASSERT_EQ(columns.size(), 200u);
    for (const WaveformColumn& c : columns) {
        EXPECT_FLOAT_EQ(c.amplitude, 0.02f);  // the waveform never vanishes
        EXPECT_FLOAT_EQ(c.rms, 0.01f);
    }
    WaveformColumns(silence.data(), nullptr, 64, 1.9f, 0, 1, 0, 0, false, columns);
    EXPECT_TRUE(columns.empty());
    WaveformColumns(nullptr, nullptr, 0, 900, 0, 1, 0, 0, false, columns);
    EXPECT_TRUE(columns.empty());

    // Fade-in linear, fade-out quadratic.
    EXPECT_FLOAT_EQ(FadeGainAt(0.05f, 0.1f, 0), 0.5f);
    EXPECT_FLOAT_EQ(FadeGainAt(0.95f, 0, 0.1f), 0.25f);
    EXPECT_FLOAT_EQ(FadeGainAt(0.5f, 0.1f, 0.1f), 1.0f);
}

TEST(LayerWaveform, PeakIndicesStayInTheArrayForAnyVisibleEnd) {
    for (int count : {1, 7, 1000}) {
        for (float end : {1.0f, 1.0001f, 3.0f, 1e30f}) {
            const PeakRange r = ColumnPeakRange(0.999f, end, count);
            EXPECT_GE(r.first, 0);
            EXPECT_LT(r.first, count);
            EXPECT_GT(r.last, r.first);
            EXPECT_LE(r.last, count);
        }
        const PeakRange before = ColumnPeakRange(-5, -4, count);
        EXPECT_EQ(before.first, 0);
        EXPECT_EQ(before.last, 1);
    }
    // The largest peak of its range; a column reaching past the end reads the last peak.
    std::vector<float> peaks = {0.1f, 0.9f, 0.3f, 0.7f};
    std::vector<WaveformColumn> columns;
    WaveformColumns(peaks.data(), nullptr, 4, 6, 0, 1.0001f, 0, 0, false, columns);
    ASSERT_EQ(columns.size(), 2u);
    EXPECT_FLOAT_EQ(columns[0].amplitude, 0.9f);
    EXPECT_FLOAT_EQ(columns[1].amplitude, 0.7f);

    // A region of a file: the middle two seconds of four held in 400 peaks.
    const PeakSpan span = RegionPeakSpan(400, 4, 1, 2);
    EXPECT_EQ(span.first, 100);
    EXPECT_EQ(span.count, 200);
    EXPECT_EQ(RegionPeakSpan(400, 0, 1, 2).count, 0);
    const PeakSpan past = RegionPeakSpan(400, 4, 3.9f, 50);
    EXPECT_LE(past.first + past.count, 400);
    EXPECT_GE(past.count, 1);
}

TEST(LayerRows, GroupsRunFxAFxBThenBgAndAFoldedGroupKeepsItsHeader) {
    std::vector<LayerBlock> blocks(4);
    blocks[0].group = 0;
    blocks[0].track = 1;  // BG: two rows
    blocks[1].group = 1;  // FX A: one row
    blocks[2].group = 1;
    blocks[3].group = 0;
    bool shown[3] = {true, true, true};
    LayerAreaLayout layout = LayoutLayerGroups(blocks, shown, 100, 18, 24);
    ASSERT_EQ(layout.groups.size(), 2u);  // FX B has nothing
    EXPECT_EQ(layout.groups[0].group, 1);
    EXPECT_EQ(layout.groups[1].group, 0);
    EXPECT_FLOAT_EQ(layout.height, 18 + 24 + 18 + 48);
    EXPECT_FLOAT_EQ(LayerRowTop(layout, blocks[0]), 100 + 18 + 24 + 18 + 24);

    shown[1] = false;
    layout = LayoutLayerGroups(blocks, shown, 100, 18, 24);
    EXPECT_FLOAT_EQ(layout.height, 18 + 18 + 48);
    EXPECT_LT(LayerRowTop(layout, blocks[1]), 0);  // folded: not drawn
    EXPECT_FLOAT_EQ(layout.groups[1].headerTop, 118);

    // A block cut by the view's left edge shows its later part.
    const TimelineView view{0, 1000, 10, 10};
    const VisibleBlock part = VisibleBlockPart(view, 8, 4);
    ASSERT_TRUE(part.visible);
    EXPECT_FLOAT_EQ(part.x0, 0);
    EXPECT_FLOAT_EQ(part.x1, 200);
    EXPECT_FLOAT_EQ(part.f0, 0.5f);
    EXPECT_FLOAT_EQ(part.f1, 1.0f);
    EXPECT_FALSE(VisibleBlockPart(view, 20, 1).visible);
}

namespace {

// A Clip at 10 s playing 2..6 s of its file, sync point at 11 s.
struct ClipPair {
    Event e;
    RenderResult r;
    ClipPair() {
        e.shape = kShapeClip;
        e.time = 11;
        e.syncOffset = 1;
        e.duration = 4;
        e.clipSourceOffset = 2;
        e.clipSourceDuration = 4;
        r.startTime = 10;
        r.duration = r.sourceDuration = 4;
        r.sourceOffset = 2;
        r.fadeIn = 0.01f;
        r.fadeOut = 0.05f;
    }
};

}  // namespace

TEST(ClipTrim, TheLeftEdgeStopsAtTheSourceStartAndTheRightAtTheFileEnd) {
    ClipPair c;
    // Dragged 5 s to the left: the source has only 2 s before the region.
    EXPECT_TRUE(TrimClip(c.e, c.r, 1, 5, 0, 30, 10));
    EXPECT_FLOAT_EQ(c.r.sourceOffset, 0);
    EXPECT_FLOAT_EQ(c.r.startTime, 8);
    EXPECT_FLOAT_EQ(c.r.duration, 6);
    EXPECT_FLOAT_EQ(c.e.clipSourceOffset, 0);
    EXPECT_FLOAT_EQ(c.e.clipSourceDuration, 6);
    EXPECT_FLOAT_EQ(c.e.time, 11);  // the sync point stays where it was
    EXPECT_FLOAT_EQ(c.e.syncOffset, 3);

    // The right edge to 25 s: the file ends 10 s after its start.
    EXPECT_TRUE(TrimClip(c.e, c.r, 2, 25, 0, 30, 10));
    EXPECT_FLOAT_EQ(c.r.duration, 10);
    EXPECT_FLOAT_EQ(c.e.duration, 10);

    // Past the end, a region keeps a hundredth of a second; the sync point
    // moves inside it and the fades that no longer fit are reset.
    EXPECT_TRUE(TrimClip(c.e, c.r, 1, 29, 0, 30, 10));
    EXPECT_NEAR(c.r.duration, 0.01f, 1e-5f);
    EXPECT_NEAR(c.e.time, c.r.startTime, 1e-5f);
    EXPECT_NEAR(c.r.fadeIn, 0.0002f, 1e-6f);
    EXPECT_NEAR(c.r.fadeOut, 0.0005f, 1e-6f);
    EXPECT_FLOAT_EQ(c.e.clipFadeIn, c.r.fadeIn);

    // The mouse beyond the view stops at its edge; an unknown file is 300 s.
    ClipPair d;
    EXPECT_TRUE(TrimClip(d.e, d.r, 2, 500, 0, 30, 0));
    EXPECT_FLOAT_EQ(d.r.duration, 20);
    EXPECT_FLOAT_EQ(ClipFileLength(0), 300);
    EXPECT_FALSE(TrimClip(d.e, d.r, 3, 12, 0, 30, 10));
}

TEST(ClipTrim, FadeDragsStayInsideTheLayerAndEdgesNeedAWideBlock) {
    ClipPair c;
    EXPECT_TRUE(DragClipFade(c.e, c.r, 1, 11));
    EXPECT_FLOAT_EQ(c.r.fadeIn, 1);
    EXPECT_FLOAT_EQ(c.e.clipFadeIn, 1);
    EXPECT_TRUE(DragClipFade(c.e, c.r, 2, 5));  // before the start: as long as it may be
    EXPECT_FLOAT_EQ(c.r.fadeOut, 3);
    EXPECT_FLOAT_EQ(c.r.fadeIn + c.r.fadeOut, c.r.duration);

    EXPECT_EQ(PickTrimEdge(103, 100, 200), 1);
    EXPECT_EQ(PickTrimEdge(190, 100, 200), 2);
    EXPECT_EQ(PickTrimEdge(150, 100, 200), 0);
    EXPECT_EQ(PickTrimEdge(101, 100, 110), 0);  // 12 points or less: no handles
}

TEST(LayerSolo, ADoubleClickSolosTheVoiceUntilItNoLongerCarriesTheLayer) {
    auto engine = std::make_unique<AudioEngine>();
    auto app = std::make_unique<AppState>();
    ResetEngineVoices(*engine, 48000, 0);
    engine->voices.resize(3);
    engine->voices[0].resultId = 11;
    engine->voices[1].resultId = 12;
    engine->voices[2].resultId = 13;

    ToggleLayerSolo(*engine, *app, 12);
    EXPECT_EQ(engine->soloVoice.load(), 1);
    KeepLayerSoloValid(*engine, *app);
    EXPECT_EQ(engine->soloVoice.load(), 1);
    ToggleLayerSolo(*engine, *app, 12);  // the same layer again ends it
    EXPECT_EQ(engine->soloVoice.load(), -1);

    ToggleLayerSolo(*engine, *app, 13);
    engine->voices.pop_back();  // the voice went (a rebuild)
    KeepLayerSoloValid(*engine, *app);
    EXPECT_EQ(engine->soloVoice.load(), -1);
    EXPECT_EQ(app->soloResultId, -1);

    ToggleLayerSolo(*engine, *app, 11);
    engine->soloVoice = 1;  // another panel soloed something else: left alone
    KeepLayerSoloValid(*engine, *app);
    EXPECT_EQ(engine->soloVoice.load(), 1);
    EXPECT_EQ(app->soloResultId, -1);

    ToggleLayerSolo(*engine, *app, 99);  // no voice: nothing solos, the other solo stays
    EXPECT_EQ(engine->soloVoice.load(), 1);
    EXPECT_EQ(app->soloResultId, -1);
}

TEST(LayerSplices, FractionsOfTheVoiceBecomeTimelineSecondsOnceForEachVoiceChange) {
    auto app = std::make_unique<AppState>();
    auto engine = std::make_unique<AudioEngine>();
    ResetEngineVoices(*engine, 48000, 0);
    engine->voices.resize(2);
    PlaybackVoice& fill = engine->voices[1];
    fill.resultId = 7;
    fill.startTime = 10;
    fill.length = 8;  // a pitched fill: the markers stay fractions of this
    fill.spliceCount = 2;
    fill.spliceTimes[0] = 0.25f;
    fill.spliceTimes[1] = 0.5f;
    engine->stats.voiceCount = 2;

    LayerSpliceMarks marks;
    ASSERT_TRUE(RefreshLayerSpliceMarks(*app, *engine, marks));
    ASSERT_EQ(marks.byResult.size(), 1u);
    EXPECT_EQ(marks.byResult[7], (std::vector<float>{12, 14}));

    // Unchanged voices are not read again; a new levels generation is.
    fill.spliceTimes[0] = 0.75f;
    ASSERT_TRUE(RefreshLayerSpliceMarks(*app, *engine, marks));
    EXPECT_FLOAT_EQ(marks.byResult[7][0], 12);
    engine->stats.levelsGeneration.fetch_add(1);
    ASSERT_TRUE(RefreshLayerSpliceMarks(*app, *engine, marks));
    EXPECT_FLOAT_EQ(marks.byResult[7][0], 16);

    // The marks are read without the engine lock: another thread holding
    // it (as the audio thread does) neither stops nor delays the read.
    engine->stats.levelsGeneration.fetch_add(1);
    fill.spliceTimes[0] = 0.25f;
    std::atomic<bool> locked{false}, done{false};
    std::thread holder([&] {
        std::lock_guard<EngineMutex> held(engine->mutex);
        locked = true;
        while (!done.load()) std::this_thread::yield();
    });
    while (!locked.load()) std::this_thread::yield();
    EXPECT_TRUE(RefreshLayerSpliceMarks(*app, *engine, marks));
    done = true;
    holder.join();
    EXPECT_FLOAT_EQ(marks.byResult[7][0], 12);

    // While a task may be building voices on a worker, they are not read:
    // the marks stay as they were.
    engine->stats.levelsGeneration.fetch_add(1);
    fill.spliceTimes[0] = 0.75f;
    app->busyTask.busy.store(true);
    EXPECT_FALSE(RefreshLayerSpliceMarks(*app, *engine, marks));
    app->busyTask.busy.store(false);
    EXPECT_FLOAT_EQ(marks.byResult[7][0], 12);
}

// The blocks are drawn as they are heard: a layer of a muted event is a
// muted block, and muting or unmuting the event alone makes the blocks anew.
TEST(LayerBlocks, ALayerOfAMutedEventIsDrawnMuted) {
    Project project;
    project.events.push_back(MakeEvent(project, 1, kShapeSpot, 0.5f));
    project.events.push_back(MakeEvent(project, 3, kShapeSpot, 0.5f));
    for (int e = 0; e < 2; ++e) {
        RenderResult r;
        r.eventIdx = e;
        r.startTime = 1 + 2 * float(e);
        r.duration = 1;
        r.filepath = "/a.wav";
        project.results.push_back(r);
    }
    std::vector<LayerBlock> blocks;
    BuildLayerBlocks(project, blocks);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_FALSE(blocks[0].muted || blocks[1].muted);
    const uint64_t heard = LayerResultsSignature(project, 0);
    project.events[1].muted = true;
    EXPECT_NE(LayerResultsSignature(project, 0), heard) << "the event's mute alone changes what is drawn";
    BuildLayerBlocks(project, blocks);
    EXPECT_FALSE(blocks[0].muted);
    EXPECT_TRUE(blocks[1].muted);
    project.results[1].muted = true;
    project.events[1].muted = false;
    BuildLayerBlocks(project, blocks);
    EXPECT_TRUE(blocks[1].muted) << "its own mute still holds";
}
