// Waveform columns, layer rows, Clip trim handles, and the layer solo.
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

// The trims and fade drags themselves: tests/operations/clip_edits_test.cpp.
TEST(ClipHandles, EdgesAreGrabbedNearTheirSideOfAWideBlock) {
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
