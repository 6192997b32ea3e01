// layer_lanes_logic.h — the arithmetic of the rendered layers on the
// timeline: waveform columns, the block list and its rows, Clip trim and
// fade handles (the trims and fades themselves: operations/clip_edits.h; the
// double-click solo: operations/audition.h).
//
// Index
//   WaveformColumnCount / ColumnPeakRange / FadeGainAt / WaveformColumns
//   RegionPeakSpan           the peaks of a layer's source region
//   LayerBlock / BuildLayerBlocks        what one frame draws (built from the results)
//   kLayerGroupOrder / LayerAreaLayout / LayoutLayerGroups
//   VisibleBlockPart         the part of a block inside the view, as fractions of the block
//   PickTrimEdge / kTrimGrabPoints   where a Clip's trim and fade drags are grabbed
//   SpliceMarkTime / LayerSpliceMarks / RefreshLayerSpliceMarks   the seams of assembled fills
//
// No GUI here: times in seconds, x and sizes in points. Interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "ui/timeline_logic.h"

struct AppState;
struct AudioEngine;
struct Project;
struct WaveformPeaks;

// ---------------------------------------------------------------------------
// Waveform columns
// ---------------------------------------------------------------------------

// w / 3 clamped into 2..200, or in compact mode w / 4 into 2..150.
int WaveformColumnCount(float width, bool compact);

// Peak indices [first, last) of a column spanning the fractions start..end
// of `count` peaks: first = floor(start × count) within 0 .. count − 1, last
// = ceil(end × count) within first + 1 .. count. Indices never leave the
// array, whatever the fractions.
struct PeakRange {
    int first = 0;
    int last = 0;
};
PeakRange ColumnPeakRange(float start, float end, int count);

// Linear fade-in below `fadeIn`, quadratic fade-out above 1 − `fadeOut`
// (fractions), at the fraction m.
float FadeGainAt(float m, float fadeIn, float fadeOut);

struct WaveformColumn {
    float amplitude = 0;  // largest peak, at least 0.02
    float rms = 0;        // largest RMS, at least 0.01 (0 without RMS values)
    float gain = 1;       // fade shaping
};
// The columns of a block `width` points wide showing the fractions f0..f1 of
// `count` peaks (and RMS values, which may be null). Empty when the block is
// narrower than 2 points or there are no peaks.
void WaveformColumns(const float* peaks, const float* rms, int count, float width, float f0, float f1,
                     float fadeIn, float fadeOut, bool compact, std::vector<WaveformColumn>& out);
// The same with the number of columns given (at least 1).
void WaveformColumnsOf(const float* peaks, const float* rms, int count, int columns, float f0, float f1,
                       float fadeIn, float fadeOut, std::vector<WaveformColumn>& out);

// Columns of a whole block `width` points wide in a time area `viewWidth`
// points wide: one every 3 points (4 compact), fewer when the block is
// shown whole and wider than 200 (150) of them, so that a view never shows
// more than 200 (150) of a block's columns, as the block drawn alone would.
// Kept per block while the zoom stays, so panning recomputes nothing. At
// most 65536.
int BlockColumnCount(float width, float viewWidth, bool compact);

// The peaks of offset .. offset + length seconds of a file of `fileDuration`
// seconds held in `peakCount` peaks: at least one peak, all inside the array;
// count 0 without peaks or a usable duration.
struct PeakSpan {
    int first = 0;
    int count = 0;
};
PeakSpan RegionPeakSpan(int peakCount, float fileDuration, float offset, float length);

// ---------------------------------------------------------------------------
// Blocks and rows
// ---------------------------------------------------------------------------

// One rendered layer as the layer area draws it. Built from the results
// while no full render rewrites them; drawn from the last list while one does.
struct LayerBlock {
    int result = -1;      // index into the results when built
    int32_t id = 0;
    int event = -1;
    int group = 0;        // 0 BG, 1 FX A, 2 FX B
    int track = 0;        // row within the group
    int shape = 0;        // the owning event's shape
    float start = 0;
    float duration = 0;
    float sourceOffset = 0;
    float sourceDuration = 0;
    float fadeIn = 0;     // seconds
    float fadeOut = 0;
    float weight = 0.5f;
    bool muted = false;   // as heard: the layer or its event muted
    size_t pathHash = 0;  // of the layer's file: peaks found for it stay while it is the same
    std::shared_ptr<const WaveformPeaks> peaks;  // null until found in the peak cache
    // The waveform of the whole block at the zoom it was last drawn at, kept
    // while the block, its peaks and the zoom stay (columnsKey).
    std::vector<WaveformColumn> columns;
    uint64_t columnsKey = 0;
    bool columnsHaveRms = false;
};

// A signature of everything the layer area draws of the results and events:
// it changes with any edit, render, undo or mute, and costs one pass over
// plain fields (no sorting, no strings).
uint64_t LayerResultsSignature(const Project& project, uint64_t undoGeneration);

// One block per result (results with a bad event index or times are left
// out). Peaks are not looked up here.
void BuildLayerBlocks(const Project& project, std::vector<LayerBlock>& blocks);

// Groups top to bottom: FX A, FX B, BG.
constexpr int kLayerGroupOrder[3] = {1, 2, 0};

struct LayerGroupRows {
    int group = 0;
    bool shown = true;
    int tracks = 0;       // rows when shown
    float headerTop = 0;
    float rowsTop = 0;
};
struct LayerAreaLayout {
    std::vector<LayerGroupRows> groups;  // only groups with used tracks, in kLayerGroupOrder
    float rowHeight = 0;
    float headerHeight = 0;
    float height = 0;     // of the whole area
};
// Rows of each group with blocks: a header, then one row per track unless
// the group is folded.
LayerAreaLayout LayoutLayerGroups(const std::vector<LayerBlock>& blocks, const bool shownGroups[3], float top,
                                  float headerHeight, float rowHeight);
// The same from the number of rows of each group (0: no blocks).
LayerAreaLayout LayoutLayerRows(const int tracks[3], const bool shownGroups[3], float top, float headerHeight,
                                float rowHeight);
// Sub-column blocks drawn as whole pixel columns in one row this frame.
struct LayerColumnRun {
    int group = 0;
    int track = 0;
    float x0 = 0;
    float x1 = 0;
};
// The top of the block's row, or a negative value when its group is folded
// or has no rows.
float LayerRowTop(const LayerAreaLayout& layout, const LayerBlock& block);

// The part of a block inside the view: its x span and the fractions of the
// block it shows. `visible` is false when the block is outside the view.
struct VisibleBlock {
    bool visible = false;
    float x0 = 0;
    float x1 = 0;
    float f0 = 0;
    float f1 = 1;
};
VisibleBlock VisibleBlockPart(const TimelineView& view, float start, float duration);

// ---------------------------------------------------------------------------
// Clip trim and fade handles
// ---------------------------------------------------------------------------

constexpr float kTrimGrabPoints = 14.0f;
constexpr float kTrimMinWidth = 12.0f;  // narrower Clip blocks show no handles
constexpr float kFadeHandlePoints = 6.0f;

// 1 within 14 points of the left edge, 2 of the right (the nearer one when
// both), 0 otherwise or when the block is 12 points wide or less.
int PickTrimEdge(float x, float blockLeft, float blockRight);

// ---------------------------------------------------------------------------
// Splice marks
// ---------------------------------------------------------------------------

// The fill builder keeps a voice's splice markers as fractions of the voice's
// length, so they stay put when the voice is pitched; this is the one place
// that turns them into timeline seconds: start + fraction × length.
float SpliceMarkTime(float voiceStart, float voiceLength, float fraction);

// Timeline times of the seams of every voice that has any, by result id.
struct LayerSpliceMarks {
    uint32_t levelsGeneration = 0;
    int32_t voiceCount = -1;  // -1: never read
    std::unordered_map<int32_t, std::vector<float>> byResult;
};
// Reads the markers again when the voices changed since the last read (the
// engine's levels generation or voice count moved). The engine lock is only
// tried, and held for counting and for copying into storage made beforehand;
// false when it was busy (the old marks stay).
bool RefreshLayerSpliceMarks(const AppState& app, const AudioEngine& engine, LayerSpliceMarks& marks);
