// layer_lanes.cpp — the rendered layers below the curve lanes: group
// headers, track rows, waveform blocks, the crowding heat map, and the
// presses on blocks (selection, menu, solo, Clip trims and fades).
//
// Index
//   DrawLayerWaveform     one block with its waveform (also for other panels)
//   State                 the block list and the gesture between frames
//   Heat map
//   Group headers         "##gtog%d"
//   Blocks
//   Input                 "##layerArea": press, hold, release, double and right click
//   DrawLayerLanes
//
// While a full render rewrites the results on its thread, the area draws the
// block list it built before, dimmed, and reads nothing of the results; the
// heat map and the input wait for the render to end. Waveforms come from the
// peak cache only: no frame reads a file.
#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/theme.h"
#include "document/busy_task.h"
#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/clip_edits.h"
#include "operations/document_context.h"
#include "operations/selection.h"
#include "render/post_passes.h"
#include "ui/event_context_menu.h"
#include "ui/event_lane_logic.h"
#include "ui/icons.h"
#include "ui/lane_strip.h"
#include "ui/layer_lanes_logic.h"
#include "ui/timeline_index.h"
#include "ui/timeline_frame.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

namespace {

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }
ImU32 Col(uint32_t packed, int alpha) { return static_cast<ImU32>(WithAlpha(packed, alpha)); }

}  // namespace

// ---------------------------------------------------------------------------
// DrawLayerWaveform
// ---------------------------------------------------------------------------

namespace {

// The upper and lower outline of one shape (peaks or RMS) through the
// column centres, filled as quads between neighbours.
void DrawColumnShape(ImDrawList* draw, const std::vector<ImVec2>& top, const std::vector<ImVec2>& bottom, ImU32 fill,
                     ImU32 line, bool outline) {
    for (size_t c = 0; c + 1 < top.size(); ++c)
        draw->AddQuadFilled(top[c], top[c + 1], bottom[c + 1], bottom[c], fill);
    if (!outline || top.size() < 2) return;
    draw->AddPolyline(top.data(), int(top.size()), line, 0, 0.8f);
    draw->AddPolyline(bottom.data(), int(bottom.size()), line, 0, 0.8f);
}

}  // namespace

void DrawLayerWaveform(ImDrawList* draw, float x, float y, float w, float h, uint32_t color, const float* peaks,
                       int count, float fadeIn, float fadeOut, const float* rms, bool muted, float f0, float f1,
                       bool compact, bool selected) {
    if (!draw || !(w >= 2) || !(h > 0)) return;
    const int alpha = muted ? 40 : selected ? 255 : 230;
    draw->AddRectFilled(ImVec2(x, y), ImVec2(x + w, y + h), Col(color, alpha));
    draw->PushClipRect(ImVec2(x, y), ImVec2(x + w, y + h), true);

    static std::vector<WaveformColumn> columns;
    WaveformColumns(peaks, rms, count, w, f0, f1, fadeIn, fadeOut, compact, columns);
    const float cy = y + h / 2;
    if (!columns.empty()) {
        if (!compact) draw->AddRectFilled(ImVec2(x + 1, cy - 0.5f), ImVec2(x + w - 1, cy + 0.5f), 0x14FFFFFF);
        const float cw = w / float(columns.size());
        static std::vector<ImVec2> top, bottom;
        top.resize(columns.size());
        bottom.resize(columns.size());
        for (size_t c = 0; c < columns.size(); ++c) {
            const float half = columns[c].amplitude * columns[c].gain * h * 0.44f;
            const float cx = x + (float(c) + 0.5f) * cw;
            top[c] = ImVec2(cx, cy - half);
            bottom[c] = ImVec2(cx, cy + half);
        }
        DrawColumnShape(draw, top, bottom, muted ? 0x19FFFFFF : 0x64FFFFFF, muted ? 0x23FFFFFF : 0x82FFFFFF,
                        !compact);
        if (rms) {
            for (size_t c = 0; c < columns.size(); ++c) {
                const float half = columns[c].rms * columns[c].gain * h * 0.44f;
                top[c].y = cy - half;
                bottom[c].y = cy + half;
            }
            DrawColumnShape(draw, top, bottom, muted ? 0x19FFFFFF : 0x64FFFFFF, muted ? 0x23FFFFFF : 0x82FFFFFF,
                            !compact);
        }
    }

    if (!compact && f1 - f0 > 0.0001f) {
        const float p = w / (f1 - f0);
        const float xs = x - p * f0, xe = xs + p;
        const float top = y, bottom = y + h;
        const ImU32 diagonal = muted ? 0x14FFFFFF : 0x32FFFFFF;
        const bool shade = (gTheme.laneBg >> 24) != 0;
        if (fadeIn * p > 0.75f) {
            const ImVec2 a(xs - 1.5f, bottom), b(xs - 1.5f, top), c(xs + fadeIn * p, top);
            if (shade) draw->AddTriangleFilled(a, b, c, Col(gTheme.laneBg));
            draw->AddLine(a, c, diagonal, 1);
        }
        if (fadeOut * p > 0.75f) {
            const ImVec2 a(xe + 1.5f, bottom), b(xe + 1.5f, top), c(xe - fadeOut * p, top);
            if (shade) draw->AddTriangleFilled(a, b, c, Col(gTheme.laneBg));
            draw->AddLine(a, c, diagonal, 1);
        }
    }
    draw->PopClipRect();
}

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

constexpr float kHeaderHeight = 18.0f;
constexpr float kCompactBelowPoints = 24.0f;
constexpr const char* kLayerPopup = "##wfEventCtx";

struct LayerArea {
    std::vector<LayerBlock> blocks;  // built while no full render runs
    // Rebuilt only when the results changed (their signature): the rows'
    // track counts and a time index of each row's blocks.
    uint64_t signature = 0;
    bool indexed = false;
    int tracks[3] = {0, 0, 0};
    std::vector<TimeIndex> rows[3];  // per group, per track
    PixelColumns columns, selectedColumns;
    std::vector<ColumnRun> runs;
    std::vector<LayerColumnRun> drawnRuns;  // this frame's sub-column runs, for the dump
    ClipGesture gesture;             // the trim or fade drag, from its press to its release
    LayerSpliceMarks splices;        // seams of assembled fills, by layer id
};
LayerArea gArea;

float RowHeightForMode(int laneMode) {
    static const float kRows[3] = {24.0f, 32.0f, 44.0f};
    return kRows[std::clamp(laneMode, 0, 2)];
}

// A block as drawn this frame.
struct DrawnBlock {
    size_t block = 0;
    float x0 = 0, x1 = 0, top = 0, bottom = 0;
    float left = 0, right = 0;  // the whole block's x, beyond the view too
};

// ---------------------------------------------------------------------------
// Heat map
// ---------------------------------------------------------------------------

void DrawHeatMap(const TimelineFrame& f, float top, float height) {
    const AppState& app = *f.app;
    if (!app.showSpectralHeatmap || !f.project->rendered || !(height > 5)) return;
    constexpr float kCell = 4.0f;
    const int count = std::max(1, int(f.view.width / kCell));
    static std::vector<float> times, levels;
    times.resize(size_t(count));
    levels.resize(size_t(count) * 5);
    for (int i = 0; i < count; ++i) times[size_t(i)] = UnmapRange(f.view, f.view.x0 + (float(i) + 0.5f) * kCell);
    BandCrowdingColumns(*f.project, times.data(), count, app.heatmapRawTiming, levels.data());
    const float band = height / 5;
    for (int i = 0; i < count; ++i) {
        const float x = f.view.x0 + float(i) * kCell;
        for (int b = 0; b < 5; ++b) {
            const float raw = levels[size_t(i) * 5 + size_t(b)];
            if (!(raw >= 0.05f)) continue;
            const float level = std::clamp(raw, 0.0f, 1.0f);
            const int red = int(level * 255), green = int((1 - level) * 180);
            const int alpha = 40 + int(level * 110);
            const ImU32 color = IM_COL32(red, green, 0, alpha);
            // Band 0 (the lowest) at the bottom.
            const float y = top + height - float(b + 1) * band;
            f.draw->AddRectFilled(ImVec2(x, y), ImVec2(x + kCell, y + band), color);
        }
    }
}

// ---------------------------------------------------------------------------
// Group headers
// ---------------------------------------------------------------------------

const char* GroupName(const Project& project, int group) {
    const char* name = project.groups[group].name;
    if (name[0] != '\0') return name;
    static const char* const kNames[3] = {"BG", "FX A", "FX B"};
    return kNames[group];
}

void DrawGroupHeaders(TimelineFrame& f, const LayerAreaLayout& layout) {
    AppState& app = *f.app;
    const float right = f.view.x0 + f.view.width;
    for (const LayerGroupRows& rows : layout.groups) {
        const int g = rows.group;
        const uint32_t color = GroupColor(g);
        const float top = rows.headerTop, bottom = top + layout.headerHeight;
        char id[16];
        std::snprintf(id, sizeof id, "##gtog%d", g);
        ImGui::SetCursorScreenPos(ImVec2(f.left + 8, top));
        const bool clicked = ImGui::InvisibleButton(id, ImVec2(right - f.left - 8, layout.headerHeight));
        const bool hovered = ImGui::IsItemHovered();
        f.draw->AddRectFilled(ImVec2(f.left + 8, top), ImVec2(right, bottom), Col(color, hovered ? 70 : 45));
        f.draw->AddRectFilled(ImVec2(f.left + 8, top), ImVec2(f.left + 11, bottom), Col(color, 220));
        const char* name = GroupName(*f.project, g);
        char label[64];
        std::snprintf(label, sizeof label, "%s %s", rows.shown ? kIconGroupShown : kIconGroupFolded, name);
        f.draw->AddText(f.smallFont, f.smallSize, ImVec2(f.left + 8 + 8, top + (layout.headerHeight - f.smallSize) / 2),
                        Col(gTheme.text, 210), rows.shown ? name : label);
        if (!rows.shown) {
            char hidden[64];
            std::snprintf(hidden, sizeof hidden, "%d track%s hidden", rows.tracks, rows.tracks == 1 ? "" : "s");
            f.draw->AddText(f.smallFont, f.smallSize, ImVec2(f.view.x0 + 6, top + (layout.headerHeight - f.smallSize) / 2),
                            Col(gTheme.textDim, 160), hidden);
        }
        if (hovered) {
            if (rows.shown)
                ShowStyledTooltip("%s \xE2\x80\x94 click to hide", name);
            else
                ShowStyledTooltip("%s (hidden) \xE2\x80\x94 click to show", name);
        }
        if (clicked) app.shownGroups[g] = rows.shown ? !app.shownGroups[g] : true;
    }
}

// ---------------------------------------------------------------------------
// Blocks
// ---------------------------------------------------------------------------

bool IsSelected(const AppState& app, int event) { return app.selectedEvents.count(event) != 0; }

// The block's waveform at this zoom: taken from the block's own columns
// when they were made for the same width, else made again for the whole
// block (kept on the block). False when the block has no peaks.
bool BlockColumns(LayerBlock& b, float fullWidth, float viewWidth, bool compact) {
    if (!b.peaks) return false;
    const PeakSpan span = RegionPeakSpan(int(b.peaks->peaks.size()), b.peaks->duration, b.sourceOffset,
                                         b.sourceDuration > 0 ? b.sourceDuration : b.duration);
    if (span.count <= 0) return false;
    const int count = BlockColumnCount(fullWidth, viewWidth, compact);
    const float fadeIn = b.duration > 0 ? b.fadeIn / b.duration : 0;
    const float fadeOut = b.duration > 0 ? b.fadeOut / b.duration : 0;
    Signature key;
    key.Add(count);
    key.Add(b.peaks.get());
    key.Add(span.first);
    key.Add(span.count);
    key.Add(fadeIn);
    key.Add(fadeOut);
    if (key.value == b.columnsKey && !b.columns.empty()) return true;
    const float* peaks = b.peaks->peaks.data() + span.first;
    const float* rms = b.peaks->rms.size() == b.peaks->peaks.size() ? b.peaks->rms.data() + span.first : nullptr;
    WaveformColumnsOf(peaks, rms, span.count, count, 0, 1, fadeIn, fadeOut, b.columns);
    b.columnsHaveRms = rms != nullptr;
    b.columnsKey = key.value;
    return !b.columns.empty();
}

// A block wide enough for its waveform (the whole block spans left .. left +
// width; x0 .. x1 shows): background, the columns that show, fade marks.
void DrawWideBlock(ImDrawList* draw, const LayerBlock& b, float left, float width, float x0, float x1, float top,
                   float height, uint32_t color, bool muted, bool compact, bool selected) {
    // No clip rectangle of its own: each one would be a draw call of its
    // own, and a software renderer pays dearly for thousands of them. The
    // shape is kept inside the shown part by clamping its points instead.
    const int alpha = muted ? 40 : selected ? 255 : 230;
    draw->AddRectFilled(ImVec2(x0, top), ImVec2(x1, top + height), Col(color, alpha));
    const int n = int(b.columns.size());
    const float cy = top + height / 2, cw = width / float(std::max(n, 1));
    if (n > 0) {
        if (!compact) draw->AddRectFilled(ImVec2(x0 + 1, cy - 0.5f), ImVec2(x1 - 1, cy + 0.5f), 0x14FFFFFF);
        // The columns around the shown part, so the outline runs to its edges.
        const int first = std::clamp(int(std::floor((x0 - left) / cw)) - 1, 0, n - 1);
        const int last = std::clamp(int(std::ceil((x1 - left) / cw)) + 1, first + 1, n);
        static std::vector<ImVec2> upper, lower;
        for (int pass = 0; pass < (b.columnsHaveRms ? 2 : 1); ++pass) {
            upper.clear();
            lower.clear();
            for (int c = first; c < last; ++c) {
                const WaveformColumn& column = b.columns[size_t(c)];
                const float half = (pass == 0 ? column.amplitude : column.rms) * column.gain * height * 0.44f;
                const float cx = std::clamp(left + (float(c) + 0.5f) * cw, x0, x1);
                upper.emplace_back(cx, cy - half);
                lower.emplace_back(cx, cy + half);
            }
            // One strip of plain triangles: the columns tile the shape, and the
            // outline (when drawn) is the anti-aliased edge.
            FillStrip(draw, upper.data(), lower.data(), int(upper.size()), muted ? 0x19FFFFFF : 0x64FFFFFF);
            if (!compact && upper.size() >= 2) {
                const ImU32 line = muted ? 0x23FFFFFF : 0x82FFFFFF;
                draw->AddPolyline(upper.data(), int(upper.size()), line, 0, 0.8f);
                draw->AddPolyline(lower.data(), int(lower.size()), line, 0, 0.8f);
            }
        }
    }
    if (!compact && b.duration > 0) {
        // The fade marks, cut to the shown part: the triangle over the fade
        // between the block's edge and the fade's end, and its diagonal.
        const float pps = width / b.duration;
        const float xs = left, xe = left + width, bottom = top + height;
        const ImU32 diagonal = muted ? 0x14FFFFFF : 0x32FFFFFF;
        const bool shade = (gTheme.laneBg >> 24) != 0;
        auto mark = [&](float edge, float end) {
            // The diagonal runs from (edge, bottom) to (end, top).
            const float a = std::clamp(std::min(edge, end), x0, x1), c = std::clamp(std::max(edge, end), x0, x1);
            if (!(c > a)) return;
            auto yAt = [&](float x) { return bottom + (top - bottom) * (x - edge) / (end - edge); };
            const ImVec2 p(a, yAt(a)), q(c, yAt(c));
            const float outerX = edge < end ? a : c;
            if (shade) draw->AddTriangleFilled(p, q, ImVec2(outerX, top), Col(gTheme.laneBg));
            draw->AddLine(p, q, diagonal, 1);
        };
        if (b.fadeIn * pps > 0.75f) mark(xs - 1.5f, xs + b.fadeIn * pps);
        if (b.fadeOut * pps > 0.75f) mark(xe + 1.5f, xe - b.fadeOut * pps);
    }
}

// A block too narrow for its waveform at this zoom (under 2 points) still
// shows: the pixel columns it touches are drawn whole, in its group's
// colour, so a zoomed-out lane shows where sound is.
void DrawRowColumns(TimelineFrame& f, int group, int track, float top, float bottom, bool renderRunning) {
    ColumnRuns(gArea.columns, gArea.runs);
    const ImU32 fill = renderRunning ? Col(gTheme.textDim, 120) : Col(GroupColor(group), 230);
    for (const ColumnRun& run : gArea.runs) {
        f.draw->AddRectFilled(ImVec2(run.x0, top), ImVec2(run.x1, bottom), fill);
        gArea.drawnRuns.push_back({group, track, run.x0, run.x1});
    }
    ColumnRuns(gArea.selectedColumns, gArea.runs);
    for (const ColumnRun& run : gArea.runs)
        f.draw->AddRectFilled(ImVec2(run.x0, top), ImVec2(run.x1, bottom), Col(gTheme.text, 150));
}

void DrawBlocks(TimelineFrame& f, const LayerAreaLayout& layout, bool renderRunning, std::vector<DrawnBlock>& drawn) {
    const AppState& app = *f.app;
    const Project& project = *f.project;
    const float rowHeight = layout.rowHeight;
    const bool compact = rowHeight < 28;
    drawn.clear();
    gArea.drawnRuns.clear();
    // Only the rows the scrolled lanes region shows are drawn (and pressed),
    // and in each only the blocks its time index finds in the view.
    const float visibleTop = f.draw->GetClipRectMin().y, visibleBottom = f.draw->GetClipRectMax().y;
    const float viewEnd = f.view.viewStart + f.view.viewDuration;
    const float pps = f.view.width / f.view.viewDuration;
    const float pixelScale = ImGui::GetIO().DisplayFramebufferScale.x;
    for (const LayerGroupRows& rows : layout.groups) {
        if (!rows.shown) continue;
        const int g = rows.group;
        for (int t = 0; t < rows.tracks && size_t(t) < gArea.rows[g].size(); ++t) {
            const float rowTop = rows.rowsTop + float(t) * rowHeight;
            if (rowTop > visibleBottom || rowTop + rowHeight < visibleTop) continue;
            // Row stripes, so empty tracks still read as tracks.
            if (t % 2 == 1)
                f.draw->AddRectFilled(ImVec2(f.view.x0, rowTop), ImVec2(f.view.x0 + f.view.width, rowTop + rowHeight),
                                      Col(gTheme.timelineShade4, 90));
            ResetColumns(gArea.columns, f.view.x0, f.view.width, pixelScale);
            ResetColumns(gArea.selectedColumns, f.view.x0, f.view.width, pixelScale);
            const TimeIndex& index = gArea.rows[g][size_t(t)];
            const auto [first, last] = IndexCandidates(index, f.view.viewStart, viewEnd);
            for (size_t k = first; k < last; ++k) {
                const size_t i = size_t(index.items[k]);
                LayerBlock& b = gArea.blocks[i];
                const VisibleBlock part = VisibleBlockPart(f.view, b.start, b.duration);
                if (!part.visible) continue;
                DrawnBlock d;
                d.block = i;
                d.x0 = part.x0;
                d.x1 = part.x1;
                d.top = rowTop + 1;
                d.bottom = rowTop + rowHeight - 1;
                d.left = MapRange(f.view, b.start);
                d.right = MapRange(f.view, b.start + b.duration);
                drawn.push_back(d);
                const bool selected = IsSelected(app, b.event);
                const float w = part.x1 - part.x0;
                if (w < 2) {
                    MarkColumns(selected && !renderRunning ? gArea.selectedColumns : gArea.columns, part.x0, part.x1);
                    continue;
                }

                uint32_t color;
                if (renderRunning)
                    color = WithAlpha(gTheme.textDim, 120);
                else if (b.muted)
                    color = gTheme.mutedEvent;
                else
                    color = app.colorByWeight ? LevelColor(b.weight) : GroupColor(b.group);

                // The peak cache is asked only between renders, for blocks that show.
                if (!renderRunning && !b.peaks && b.result >= 0 && size_t(b.result) < project.results.size())
                    b.peaks = FindWaveformPeaks(project.results[size_t(b.result)].filepath);
                // Blocks too narrow for outlines and fade marks are drawn compact:
                // zoomed out, the outlines of thousands of slivers cost the frame.
                const bool blockCompact = compact || w < kCompactBelowPoints;
                const float fullWidth = b.duration * pps;
                if (!BlockColumns(b, fullWidth, f.view.width, blockCompact)) {
                    b.columns.clear();
                    b.columnsKey = 0;
                }
                DrawWideBlock(f.draw, b, d.left, fullWidth, part.x0, part.x1, d.top, d.bottom - d.top, color,
                              b.muted || renderRunning, blockCompact, selected);
                if (selected)
                    f.draw->AddRect(ImVec2(part.x0, d.top), ImVec2(part.x1, d.bottom), Col(gTheme.text, 150));

                // The seams of an assembled fill: short ticks at the top and bottom.
                if (!renderRunning) {
                    auto seams = gArea.splices.byResult.find(b.id);
                    if (seams != gArea.splices.byResult.end()) {
                        for (float st : seams->second) {
                            const float sx = MapRange(f.view, st);
                            if (sx <= part.x0 + 1 || sx >= part.x1 - 1) continue;
                            f.draw->AddLine(ImVec2(sx, d.top), ImVec2(sx, d.top + 4), Col(gTheme.text, 150));
                            f.draw->AddLine(ImVec2(sx, d.bottom - 4), ImVec2(sx, d.bottom), Col(gTheme.text, 150));
                        }
                    }
                }
                // The layer's sound, when there is room for it, on a backing of
                // its own: over the waveform's light fill the bare text was
                // unreadable. A name wider than the block ends in "…".
                if (!compact && w > 48 && b.result >= 0 && !renderRunning && size_t(b.result) < project.results.size()) {
                    const std::string& name = project.results[size_t(b.result)].name;
                    const float size = f.smallSize * 0.9f;
                    const ImVec2 at(part.x0 + 4, d.top + 1);
                    const float maxX = part.x1 - 3;
                    const float textW = f.smallFont->CalcTextSizeA(size, FLT_MAX, 0, name.c_str()).x;
                    f.draw->AddRectFilled(ImVec2(at.x - 2, at.y), ImVec2(std::min(at.x + textW, maxX) + 2, at.y + size + 1),
                                          Col(gTheme.windowBg, 185), 2);
                    DrawTextClipped(f.draw, f.smallFont, size, at, maxX, Col(gTheme.text, 220), name.c_str());
                }
                // Fade handles of a Clip: small squares at the fades' ends.
                if (!renderRunning && b.shape == kShapeClip && d.right - d.left > kTrimMinWidth && !compact) {
                    for (float hx : {d.left + b.fadeIn * pps, d.right - b.fadeOut * pps})
                        if (hx >= part.x0 - 3 && hx <= part.x1 + 3)
                            f.draw->AddRectFilled(ImVec2(hx - 3, d.top), ImVec2(hx + 3, d.top + 6),
                                                  Col(gTheme.text, 170));
                }
            }
            DrawRowColumns(f, g, t, rowTop + 1, rowTop + rowHeight - 1, renderRunning);
        }
    }
}

// The blocks, their rows and each row's time index, again when the results
// changed.
void IndexBlocks(const Project& project, uint64_t signature) {
    if (gArea.indexed && signature == gArea.signature) return;
    BuildLayerBlocks(project, gArea.blocks);
    gArea.signature = signature;
    gArea.indexed = true;
    std::vector<int> members[3];
    std::vector<std::vector<int>> byRow[3];
    std::vector<float> starts(gArea.blocks.size()), ends(gArea.blocks.size());
    for (int g = 0; g < 3; ++g) gArea.tracks[g] = 0;
    for (size_t i = 0; i < gArea.blocks.size(); ++i) {
        const LayerBlock& b = gArea.blocks[i];
        starts[i] = b.start;
        ends[i] = b.start + b.duration;
        if (size_t(b.track) >= byRow[b.group].size()) byRow[b.group].resize(size_t(b.track) + 1);
        byRow[b.group][size_t(b.track)].push_back(int(i));
    }
    for (int g = 0; g < 3; ++g) {
        gArea.tracks[g] = int(byRow[g].size());
        gArea.rows[g].resize(byRow[g].size());
        for (size_t t = 0; t < byRow[g].size(); ++t)
            BuildTimeIndex(gArea.rows[g][t], std::move(byRow[g][t]), starts, ends);
    }
}

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

const DrawnBlock* BlockAt(const std::vector<DrawnBlock>& drawn, float x, float y) {
    // The last drawn is on top.
    for (auto it = drawn.rbegin(); it != drawn.rend(); ++it)
        if (x >= it->x0 - 1 && x <= it->x1 + 1 && y >= it->top && y <= it->bottom) return &*it;
    return nullptr;
}

// 1 or 2 when the press is on a Clip's fade handle (the top band of the
// block near the fade's end), else 0.
int PickFadeHandle(const TimelineFrame& f, const DrawnBlock& d, const LayerBlock& b, float x, float y) {
    if (b.shape != kShapeClip || d.right - d.left <= kTrimMinWidth || y > d.top + 8) return 0;
    const float pps = f.view.width / f.view.viewDuration;
    const float in = d.left + b.fadeIn * pps, out = d.right - b.fadeOut * pps;
    if (std::fabs(x - in) <= kFadeHandlePoints) return 1;
    if (std::fabs(x - out) <= kFadeHandlePoints) return 2;
    return 0;
}

void PressBlock(TimelineFrame& f, const DrawnBlock& d, float x, float y) {
    const DocumentContext& ctx = *f.ctx;
    AppState& app = *f.app;
    Project& project = *f.project;
    const LayerBlock& b = gArea.blocks[d.block];
    const ImGuiIO& io = ImGui::GetIO();
    const bool clip = b.shape == kShapeClip;
    const int fade = clip ? PickFadeHandle(f, d, b, x, y) : 0;
    const int edge = clip && !fade ? PickTrimEdge(x, d.left, d.right) : 0;
    if (fade && DocumentMayChange(app) && BeginClipFadeDrag(ctx, gArea.gesture, b.result, fade)) return;
    if (edge && DocumentMayChange(app) && BeginClipTrim(ctx, gArea.gesture, b.result, edge)) return;
    if (io.KeyShift)
        SelectEventRange(app, b.event, EventDisplayOrder(project.events));
    else
        ClickSelectEvent(app, b.event, project.events, io.KeyAlt);
}

void HoldGesture(TimelineFrame& f, float x) {
    AppState& app = *f.app;
    const float t = UnmapRange(f.view, x);
    if (app.trimmingResult >= 0) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        const float viewEnd = f.view.viewStart + f.view.viewDuration;
        ClipTrimStep(*f.ctx, gArea.gesture, t, std::max(f.view.viewStart, 0.0f), viewEnd);
    } else if (app.fadeDragResult >= 0) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        ClipFadeStep(*f.ctx, gArea.gesture, t);
    }
}

void HandleAreaInput(TimelineFrame& f, const std::vector<DrawnBlock>& drawn) {
    AppState& app = *f.app;
    const ImGuiIO& io = ImGui::GetIO();
    const float x = io.MousePos.x, y = io.MousePos.y;
    const bool hovered = ImGui::IsItemHovered();
    const DrawnBlock* under = hovered ? BlockAt(drawn, x, y) : nullptr;
    const bool gesture = app.trimmingResult >= 0 || app.fadeDragResult >= 0;

    if (under && !gesture) {
        const LayerBlock& b = gArea.blocks[under->block];
        if (b.shape == kShapeClip &&
            (PickFadeHandle(f, *under, b, x, y) || PickTrimEdge(x, under->left, under->right)))
            ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
    }
    if (ImGui::IsItemActivated() && ImGui::IsMouseClicked(0) && under) {
        if (ImGui::IsMouseDoubleClicked(0)) {
            const LayerBlock& b = gArea.blocks[under->block];
            SelectEvent(app, b.event);
            ToggleLayerSolo(*f.ctx->engine, app, b.id);
        } else {
            PressBlock(f, *under, x, y);
        }
    }
    if (ImGui::IsItemActive() && ImGui::IsMouseDown(0)) HoldGesture(f, x);
    if (ImGui::IsItemDeactivated() || (!ImGui::IsItemActive() && (app.trimmingResult >= 0 || app.fadeDragResult >= 0)))
        EndClipGesture(*f.ctx, gArea.gesture);

    if (hovered && ImGui::IsMouseClicked(1) && under) {
        const LayerBlock& b = gArea.blocks[under->block];
        if (!IsSelected(app, b.event)) SelectEvent(app, b.event);
        ImGui::OpenPopup(kLayerPopup);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// DrawLayerLanes
// ---------------------------------------------------------------------------

const std::vector<LayerColumnRun>& LayerColumnRunsDrawn() { return gArea.drawnRuns; }

float DrawLayerLanes(TimelineFrame& f, float top) {
    AppState& app = *f.app;
    Project& project = *f.project;
    if (f.traceView || !project.rendered) return 0;
    // A full render rewrites the results on its own thread: keep the list.
    const bool renderRunning = app.busyTask.busy.load();
    // A quiet frame keeps the index the frames before it checked.
    if (!renderRunning && !(app.documentQuiet && gArea.indexed))
        IndexBlocks(project, LayerResultsSignature(project, app.undoHistory.generation));
    KeepLayerSoloValid(*f.ctx->engine, app);
    if (!renderRunning) RefreshLayerSpliceMarks(*f.ctx->app, *f.ctx->engine, gArea.splices);
    if (gArea.blocks.empty()) return 0;

    const LayerAreaLayout layout = LayoutLayerRows(gArea.tracks, app.shownGroups, top, kHeaderHeight,
                                                   RowHeightForMode(app.laneMode));
    if (layout.groups.empty()) return 0;
    const float bottom = top + layout.height;
    f.draw->AddLine(ImVec2(f.left + 8, top), ImVec2(f.left + f.width, top), Col(gTheme.border));

    DrawGroupHeaders(f, layout);
    // The area's button is submitted after the headers: the first item
    // submitted under the mouse takes the press.
    ImGui::SetCursorScreenPos(ImVec2(f.view.x0, top));
    ImGui::InvisibleButton("##layerArea", ImVec2(f.view.width, std::max(layout.height, 1.0f)));

    f.draw->PushClipRect(ImVec2(f.view.x0, top), ImVec2(f.view.x0 + f.view.width, bottom), true);
    // The blocks drawn last stay under the mouse while their picture is kept.
    static std::vector<DrawnBlock> drawn;
    if (!f.keepPicture) {
        if (!renderRunning) DrawHeatMap(f, top, layout.height);
        DrawBlocks(f, layout, renderRunning, drawn);
    }
    f.draw->PopClipRect();

    if (!renderRunning && !f.traceView) HandleAreaInput(f, drawn);
    if (EventContextMenu(*f.ctx, kLayerPopup)) gArea.indexed = false;
    return layout.height;
}
