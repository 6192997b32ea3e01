// curve_editor.cpp — the events tab's curve editor.
//
// Index
//   Drawing              background, band grid, columns, band labels, border
//   CurveEditor          the item, painting and the drag report
#include "ui/curve_editor.h"

#include <imgui.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "app/theme.h"
#include "document/curve.h"
#include "document/event.h"
#include "document/project.h"
#include "operations/curve_strokes.h"
#include "operations/document_context.h"
#include "ui/curve_lane_logic.h"
#include "ui/ui_colors.h"

// ---------------------------------------------------------------------------
// Drawing
// ---------------------------------------------------------------------------

namespace {

ImU32 At(uint32_t color, int alpha) { return WithAlpha(color, std::clamp(alpha, 0, 255)); }

// The band grid goes under the curve; its labels go over it, where the
// curve's fill cannot hide them.
void DrawBandGrid(ImDrawList* dl, const ImVec2& p0, const ImVec2& p1, float alpha) {
    const float h = p1.y - p0.y;
    for (float f : {0.8f, 0.6f, 0.4f, 0.2f}) {
        const float y = p0.y + f * h;
        dl->AddLine(ImVec2(p0.x, y), ImVec2(p1.x, y), At(gTheme.textDim, int(alpha * 0x24)), 1.2f);
    }
}

// Five labels share the height, one centred on each band, at a size that
// keeps them apart. They are read against the curve's colours, so they take
// the muted text colour, the names at alpha 0xD0 and the frequencies at 0xB0
// (the dim colour at 0x48 and 0x37 vanished into the fill at a 720p window).
void DrawBandLabels(ImDrawList* dl, const ImVec2& p0, const ImVec2& p1, float size, float alpha) {
    static const char* const kLeft[] = {"Air", "High", "Mid", "Low", "Sub"};
    static const char* const kRight[] = {"6k", "2k", "750", "150", "20"};
    const float centres[] = {0.9f, 0.7f, 0.5f, 0.3f, 0.1f};
    const float h = p1.y - p0.y;
    ImFont* font = ImGui::GetFont();
    const float fh = size > 0 ? std::min(size, h / 5.0f) : std::min(ImGui::GetFontSize() * 0.8f, h / 5.0f);
    if (fh < 6) return;
    for (int i = 0; i < 5; ++i) {
        const float y = p0.y + (1 - centres[i]) * h - fh / 2;
        dl->AddText(font, fh, ImVec2(p0.x + 3, y), At(gTheme.textMuted, int(alpha * 0xD0)), kLeft[i]);
        const float w = font->CalcTextSizeA(fh, FLT_MAX, 0, kRight[i]).x;
        dl->AddText(font, fh, ImVec2(p1.x - 3 - w, y), At(gTheme.textMuted, int(alpha * 0xB0)), kRight[i]);
    }
}

void DrawColumns(ImDrawList* dl, const Curve256& curve, const ImVec2& p0, const ImVec2& p1,
                 const CurveEditorArgs& a) {
    const float w = p1.x - p0.x, h = p1.y - p0.y;
    const float step = std::max(2.0f, std::trunc(w / 120.0f));
    const int count = std::max(1, int(w / step));
    auto valueAt = [&](float x) { return CurveLaneValue(curve, x, p0.x, p1.x, a.scale, a.offset); };
    float x0 = p0.x;
    float v0 = valueAt(x0);
    for (int c = 1; c <= count; ++c) {
        const float x1 = std::min(p0.x + float(c) * step, p1.x);
        const float v1 = valueAt(x1);
        const float y0 = p0.y + (1 - v0) * h, y1 = p0.y + (1 - v1) * h;
        uint32_t base = a.color;
        int fillAlpha = int(a.alpha * 25), lineAlpha = int(a.alpha * 140);
        if (a.bandLabels) {
            base = LevelColor((v0 + v1) / 2);
            fillAlpha = int(a.alpha * 65);
            lineAlpha = int(a.alpha * 220);
        }
        dl->AddQuadFilled(ImVec2(x0, y0), ImVec2(x1, y1), ImVec2(x1, p1.y), ImVec2(x0, p1.y), At(base, fillAlpha));
        dl->AddLine(ImVec2(x0, y0), ImVec2(x1, y1), At(base, lineAlpha), 1.2f);
        x0 = x1;
        v0 = v1;
    }
    // The last boundary reaches the right edge even when the width is not a
    // whole number of steps.
    if (x0 < p1.x) {
        const float v1 = valueAt(p1.x);
        dl->AddLine(ImVec2(x0, p0.y + (1 - v0) * h), ImVec2(p1.x, p0.y + (1 - v1) * h),
                    At(a.bandLabels ? LevelColor(v1) : a.color, int(a.alpha * (a.bandLabels ? 220 : 140))), 1.2f);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// CurveEditor
// ---------------------------------------------------------------------------

CurveEditorResult CurveEditor(const DocumentContext& ctx, ImDrawList* dl, const CurveEditorArgs& a) {
    CurveEditorResult out;
    Project& project = *ctx.project;
    if (a.event < 0 || size_t(a.event) >= project.events.size() || !(a.width > 1) || !(a.height > 1)) return out;
    const ImVec2 p0(a.x, a.y), p1(a.x + a.width, a.y + a.height);

    dl->AddRectFilled(p0, p1, gTheme.curveBg, 2);
    if (a.bandLabels) DrawBandGrid(dl, p0, p1, a.alpha);
    DrawColumns(dl, LaneCurve(project.events[size_t(a.event)], a.lane), p0, p1, a);
    if (a.bandLabels) DrawBandLabels(dl, p0, p1, a.bandLabelSize, a.alpha);
    const float inset = (dl->Flags & ImDrawListFlags_AntiAliasedLines) ? 0.5f : 0.49f;
    dl->AddRect(ImVec2(p0.x + inset, p0.y + inset), ImVec2(p1.x - inset, p1.y - inset), 0x64000000, 2, 0, 1);
    dl->AddLine(ImVec2(p0.x, (p0.y + p1.y) / 2), ImVec2(p1.x, (p0.y + p1.y) / 2), At(gTheme.textDim, 0x12), 1);

    ImGui::SetCursorScreenPos(p0);
    ImGui::InvisibleButton(a.id, ImVec2(a.width, a.height));
    const ImGuiIO& io = ImGui::GetIO();
    out.hovered = ImGui::IsItemHovered();
    const bool active = ImGui::IsItemActive();
    const bool alt = io.KeyAlt;
    out.doubleClicked = out.hovered && !alt && ImGui::IsMouseDoubleClicked(0);

    if (!a.noPaint) {
        if (out.hovered && alt && !active)
            dl->AddText(ImVec2(p1.x - 70, p1.y - 14 - ImGui::GetFontSize() / 2), At(gTheme.textDim, 0x32),
                        "Alt+draw");
        if (active && alt) {
            const float x = (io.MousePos.x - p0.x) / a.width;
            const float v = 1 - (io.MousePos.y - p0.y) / a.height;
            out.painted = PaintInspectorCurveStroke(ctx, a.event, a.lane, x, v);
        } else {
            EndInspectorCurveStroke(ctx, a.event, a.lane);
        }
    }
    if (a.wantDrag && !alt) {
        if (out.hovered) ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeNS);
        if (ImGui::IsItemActivated()) out.dragStarted = true;
        if (active) out.dragDelta = io.MouseDelta.y;
    }
    return out;
}
