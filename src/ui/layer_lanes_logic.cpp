// layer_lanes_logic.cpp — waveform columns, layer blocks and rows, Clip trim
// and fade handles.
//
// Index
//   Waveform columns
//   RegionPeakSpan
//   Blocks and rows
//   Clip trim and fade handles
//   Splice marks
#include "ui/layer_lanes_logic.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <mutex>

#include "document/event.h"
#include "document/project.h"
#include "operations/app_state.h"
#include "operations/event_voices.h"
#include "playback/audio_engine.h"
#include "playback/voice_settings.h"
#include "ui/timeline_index.h"

// ---------------------------------------------------------------------------
// Waveform columns
// ---------------------------------------------------------------------------

int WaveformColumnCount(float width, bool compact) {
    if (!(width > 0)) return 2;
    const float n = compact ? width / 4 : width / 3;
    return int(std::clamp(n, 2.0f, compact ? 150.0f : 200.0f));
}

PeakRange ColumnPeakRange(float start, float end, int count) {
    PeakRange range;
    if (count <= 0) return range;
    const double n = double(count);
    double first = std::floor(double(start) * n);
    double last = std::ceil(double(end) * n);
    // Clamped as doubles: a fraction far outside 0..1 never reaches an int.
    if (!(first >= 0)) first = 0;
    if (first > n - 1) first = n - 1;
    if (!(last > first)) last = first + 1;
    if (last > n) last = n;
    range.first = int(first);
    range.last = int(last);
    return range;
}

float FadeGainAt(float m, float fadeIn, float fadeOut) {
    float gain = 1;
    if (fadeIn > 0 && m < fadeIn) gain = std::max(m, 0.0f) / fadeIn;
    if (fadeOut > 0 && m > 1 - fadeOut) {
        const float u = std::max(1 - m, 0.0f) / fadeOut;
        gain *= u * u;
    }
    return gain;
}

void WaveformColumns(const float* peaks, const float* rms, int count, float width, float f0, float f1,
                     float fadeIn, float fadeOut, bool compact, std::vector<WaveformColumn>& out) {
    out.clear();
    if (!peaks || count <= 0 || !(width >= 2)) return;
    WaveformColumnsOf(peaks, rms, count, WaveformColumnCount(width, compact), f0, f1, fadeIn, fadeOut, out);
}

int BlockColumnCount(float width, float viewWidth, bool compact) {
    if (!(width > 0)) return 2;
    const float most = compact ? 150.0f : 200.0f;
    const float step = std::max(compact ? 4.0f : 3.0f, std::min(width, std::max(viewWidth, 1.0f)) / most);
    // A very long block seen very close gets coarser columns rather than
    // millions of them.
    return int(std::clamp(std::round(width / step), 2.0f, 65536.0f));
}

void WaveformColumnsOf(const float* peaks, const float* rms, int count, int columns, float f0, float f1,
                       float fadeIn, float fadeOut, std::vector<WaveformColumn>& out) {
    out.clear();
    if (!peaks || count <= 0 || columns < 1) return;
    const float span = f1 - f0;
    out.resize(size_t(columns));
    for (int c = 0; c < columns; ++c) {
        const float start = f0 + (float(c) / float(columns)) * span;
        const float end = f0 + (float(c + 1) / float(columns)) * span;
        const PeakRange range = ColumnPeakRange(start, end, count);
        WaveformColumn& column = out[size_t(c)];
        float amplitude = 0, level = 0;
        for (int i = range.first; i < range.last; ++i) {
            amplitude = std::max(amplitude, peaks[i]);
            if (rms) level = std::max(level, rms[i]);
        }
        column.amplitude = std::max(amplitude, 0.02f);
        column.rms = rms ? std::max(level, 0.01f) : 0;
        column.gain = FadeGainAt(0.5f * (start + end), fadeIn, fadeOut);
    }
}

// ---------------------------------------------------------------------------
// RegionPeakSpan
// ---------------------------------------------------------------------------

PeakSpan RegionPeakSpan(int peakCount, float fileDuration, float offset, float length) {
    PeakSpan span;
    if (peakCount <= 0 || !(fileDuration > 0) || !std::isfinite(fileDuration)) return span;
    const PeakRange range = ColumnPeakRange(offset / fileDuration, (offset + std::max(length, 0.0f)) / fileDuration,
                                            peakCount);
    span.first = range.first;
    span.count = range.last - range.first;
    return span;
}

// ---------------------------------------------------------------------------
// Blocks and rows
// ---------------------------------------------------------------------------

void BuildLayerBlocks(const Project& project, std::vector<LayerBlock>& blocks) {
    // Rewritten in place, so a frame allocates nothing once the list has
    // grown. Peaks found for a layer stay with it while the block at its
    // place carries the same id and file; the rest is refreshed every build.
    size_t count = 0;
    const int events = int(project.events.size());
    for (size_t i = 0; i < project.results.size(); ++i) {
        const RenderResult& r = project.results[i];
        if (r.eventIdx < 0 || r.eventIdx >= events) continue;
        if (!std::isfinite(r.startTime) || !std::isfinite(r.duration) || !(r.duration > 0)) continue;
        if (count == blocks.size()) blocks.emplace_back();
        LayerBlock& b = blocks[count++];
        const size_t pathHash = std::hash<std::string>{}(r.filepath);
        if (b.id != r.id || b.pathHash != pathHash) b.peaks.reset();
        b.result = int(i);
        b.id = r.id;
        b.pathHash = pathHash;
        b.event = r.eventIdx;
        b.group = std::clamp(int(r.group), 0, 2);
        b.track = std::max(int(r.groupTrack), 0);
        b.shape = project.events[size_t(r.eventIdx)].shape;
        b.start = r.startTime;
        b.duration = r.duration;
        b.sourceOffset = r.sourceOffset;
        b.sourceDuration = r.sourceDuration;
        b.fadeIn = r.fadeIn;
        b.fadeOut = r.fadeOut;
        b.weight = r.weight;
        // Drawn as heard: silent when the layer or its event is muted.
        b.muted = LayerMuted(r, int(project.events.size()), project.events.data());
    }
    blocks.resize(count);
}

uint64_t LayerResultsSignature(const Project& project, uint64_t undoGeneration) {
    Signature sig;
    sig.Add(undoGeneration);
    sig.Add(project.events.size());
    sig.Add(project.results.size());
    for (const RenderResult& r : project.results) {
        sig.Add(r.id);
        sig.Add(r.eventIdx);
        sig.Add(r.startTime);
        sig.Add(r.duration);
        sig.Add(r.sourceOffset);
        sig.Add(r.sourceDuration);
        sig.Add(r.fadeIn);
        sig.Add(r.fadeOut);
        sig.Add(r.weight);
        sig.Add(LayerMuted(r, int(project.events.size()), project.events.data()));
        sig.Add(r.group);
        sig.Add(r.groupTrack);
        sig.Add(r.filepath.size());
    }
    return sig.value;
}

LayerAreaLayout LayoutLayerGroups(const std::vector<LayerBlock>& blocks, const bool shownGroups[3], float top,
                                  float headerHeight, float rowHeight) {
    int tracks[3] = {0, 0, 0};
    for (const LayerBlock& b : blocks) tracks[b.group] = std::max(tracks[b.group], b.track + 1);
    return LayoutLayerRows(tracks, shownGroups, top, headerHeight, rowHeight);
}

LayerAreaLayout LayoutLayerRows(const int tracks[3], const bool shownGroups[3], float top, float headerHeight,
                                float rowHeight) {
    LayerAreaLayout layout;
    layout.rowHeight = rowHeight;
    layout.headerHeight = headerHeight;
    float y = top;
    for (int g : kLayerGroupOrder) {
        if (tracks[g] <= 0) continue;
        LayerGroupRows rows;
        rows.group = g;
        rows.shown = shownGroups[g];
        rows.tracks = tracks[g];
        rows.headerTop = y;
        y += headerHeight;
        rows.rowsTop = y;
        if (rows.shown) y += rowHeight * float(rows.tracks);
        layout.groups.push_back(rows);
    }
    layout.height = y - top;
    return layout;
}

float LayerRowTop(const LayerAreaLayout& layout, const LayerBlock& block) {
    for (const LayerGroupRows& rows : layout.groups) {
        if (rows.group != block.group) continue;
        if (!rows.shown || block.track >= rows.tracks) return -1;
        return rows.rowsTop + layout.rowHeight * float(block.track);
    }
    return -1;
}

VisibleBlock VisibleBlockPart(const TimelineView& view, float start, float duration) {
    VisibleBlock part;
    if (!(duration > 0) || !TimeAreaUsable(view)) return part;
    const float viewEnd = view.viewStart + view.viewDuration;
    const float end = start + duration;
    if (end <= view.viewStart || start >= viewEnd) return part;
    const float a = std::max(start, view.viewStart), b = std::min(end, viewEnd);
    part.visible = true;
    part.x0 = MapRange(view, a);
    part.x1 = MapRange(view, b);
    part.f0 = (a - start) / duration;
    part.f1 = (b - start) / duration;
    return part;
}

// ---------------------------------------------------------------------------
// Clip trim and fade handles
// ---------------------------------------------------------------------------

int PickTrimEdge(float x, float blockLeft, float blockRight) {
    if (!(blockRight - blockLeft > kTrimMinWidth)) return 0;
    const float left = std::fabs(x - blockLeft), right = std::fabs(x - blockRight);
    if (x < blockLeft - kTrimGrabPoints || x > blockRight + kTrimGrabPoints) return 0;
    if (left <= kTrimGrabPoints && left <= right) return 1;
    if (right <= kTrimGrabPoints) return 2;
    return 0;
}

// ---------------------------------------------------------------------------
// Splice marks
// ---------------------------------------------------------------------------

float SpliceMarkTime(float voiceStart, float voiceLength, float fraction) {
    return voiceStart + fraction * voiceLength;
}

bool RefreshLayerSpliceMarks(const AppState& app, const AudioEngine& engine, LayerSpliceMarks& marks) {
    const uint32_t generation = engine.stats.levelsGeneration.load();
    const int32_t voices = engine.stats.voiceCount.load();
    if (marks.voiceCount == voices && marks.levelsGeneration == generation) return true;
    // The voices are this thread's to read only while no task builds them;
    // never under the lock (the markers are the owner's, the mixer never
    // reads them).
    if (!VoicesAreOurs(app)) return false;
    marks.byResult.clear();
    for (const PlaybackVoice& v : engine.voices) {
        const int count = std::clamp(int(v.spliceCount), 0, kMaxSpliceMarkers);
        if (count == 0) continue;
        std::vector<float>& times = marks.byResult[int32_t(v.resultId)];
        for (int i = 0; i < count; ++i) times.push_back(SpliceMarkTime(v.startTime, v.length, v.spliceTimes[size_t(i)]));
    }
    marks.levelsGeneration = generation;
    marks.voiceCount = voices;
    return true;
}
