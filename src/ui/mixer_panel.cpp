// mixer_panel.cpp — drawing the Mixer tab and turning its input into engine
// values.
//
// Index
//   Drawing helpers      colours, centred text, invisible buttons that need room
//   Strips               background, name, scale, meter, handle, fader, readout,
//                        mute and solo, reverb send
//   Reverb section       power button, room picture, space control, six knobs
//   MixerPanel           the child window and the order of the parts
//   DumpMixerFields
//
// Geometry follows the layout of mixer_panel_logic.h in screen points; every
// colour is a palette entry (or one of the handle's own packed colours).
#include "ui/mixer_panel.h"

#include <imgui.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/level_edits.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "ui/tab_panel.h"
#include "ui/ui_colors.h"
#include "ui/widgets.h"

FaderDragState gFaderDragState;
// The meters' ballistics, kept between frames.
MixerMeters gMixerMeters;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// The handle's own colours (the theme has no entries for them).
constexpr uint32_t kHandleUpper = 0xE66E6969;
constexpr uint32_t kHandleLower = 0xE63A3737;
constexpr uint32_t kHandleGrips = 0xC8C8C8C8;
constexpr uint32_t kHandleOutline = 0x78555050;
constexpr float kKnobStartAngle = 2.356f;  // 135°
constexpr float kKnobSweep = 4.712f;       // 270°

// ---------------------------------------------------------------------------
// Drawing helpers
// ---------------------------------------------------------------------------

ImU32 Col(uint32_t packed) { return static_cast<ImU32>(packed); }
ImU32 Col(uint32_t packed, float alpha) { return Col(WithAlpha(packed, int(std::lround(alpha)))); }

void TextCentredAt(ImDrawList* draw, float centreX, float y, ImU32 color, const char* text) {
    const float w = ImGui::CalcTextSize(text).x;
    draw->AddText(ImVec2(std::round(centreX - w / 2), std::round(y)), color, text);
}

// The font size at which `text` is at most `room` wide: the panel's own,
// or smaller (down to 60 % of it) where a narrow strip would cut the text.
float FittedSize(const char* text, float room) {
    const float size = ImGui::GetFontSize();
    const float w = ImGui::CalcTextSize(text).x;
    if (!(w > room) || !(room > 0)) return size;
    return std::max(0.6f * size, std::floor(size * room / w * 10) / 10);
}

// Centred on `centreX` within `room` points, smaller where it must be.
void FittedTextCentredAt(ImDrawList* draw, float centreX, float y, float room, ImU32 color, const char* text) {
    ImFont* font = ImGui::GetFont();
    const float size = FittedSize(text, room);
    const float w = font->CalcTextSizeA(size, FLT_MAX, 0, text).x;
    const float lift = (ImGui::GetFontSize() - size) / 2;  // on the line's middle
    draw->AddText(font, size, ImVec2(std::round(centreX - w / 2), std::round(y + lift)), color, text);
}

// Dear ImGui asserts on an empty button; a panel squeezed that small has no control.
bool InvisibleButtonAt(const char* id, float x, float y, float w, float h) {
    if (!(w >= 1) || !(h >= 1)) return false;
    ImGui::SetCursorScreenPos(ImVec2(x, y));
    ImGui::InvisibleButton(id, ImVec2(w, h));
    return true;
}

bool HoveringRect(float x0, float y0, float x1, float y1) {
    return ImGui::IsWindowHovered() && ImGui::IsMouseHoveringRect(ImVec2(x0, y0), ImVec2(x1, y1));
}

struct PanelContext {
    AppState& app;
    AudioEngine& engine;
    ImDrawList* draw;
    const MixerLayout& l;
    float fontSize;
    bool smallFont;  // the preset's small font is loaded (tick labels)
    bool videoLoaded;
    bool reverbOn;
};

// ---------------------------------------------------------------------------
// Strips
// ---------------------------------------------------------------------------

void DrawScale(const PanelContext& p, float left, float cx, const FaderValueMap& law) {
    const MixerLayout& l = p.l;
    const float size = 0.9f * p.fontSize;
    ImFont* font = ImGui::GetFont();
    std::array<FaderScaleMark, 8> marks;
    const int count = FaderScaleMarks(law, l.faderTop, l.faderHeight, p.smallFont ? size : 0, marks);
    for (int i = 0; i < count; ++i) {
        const FaderScaleMark& m = marks[size_t(i)];
        const bool unity = m.tick->db == 0;
        p.draw->AddLine(ImVec2(cx - 12, m.y), ImVec2(cx - 9, m.y), Col(gTheme.textDim, unity ? 0xB4 : 0x8C), 1.0f);
        if (!p.smallFont || !m.labelled) continue;
        const ImVec2 ts = font->CalcTextSizeA(size, FLT_MAX, 0, m.tick->label);
        const float x = cx - 13 - ts.x;
        if (x < left) continue;
        p.draw->AddText(font, size, ImVec2(x, std::round(m.y - ts.y / 2)), Col(gTheme.textDim, unity ? 0xA0 : 0x78),
                        m.tick->label);
    }
}

void DrawMeter(const PanelContext& p, const MixerStrip& s, float cx) {
    const float top = p.l.faderTop + 14;
    const float bottom = p.l.faderBottom - 14;
    const float span = bottom - top;
    const float level = std::max(s.meters[0], s.meters[1]);
    const float v = MeterLevel(level);
    if (v * span > 0.5f) {
        const uint32_t color = level > 0.9f ? gTheme.meterHigh : level > 0.7f ? gTheme.meterMid : gTheme.meterLow;
        p.draw->AddRectFilled(ImVec2(cx - 3, bottom - v * span), ImVec2(cx + 3, bottom), Col(color), 2.0f);
    }
    const float held = MeterLevel(std::max(s.meters[2], s.meters[3]));
    if (held > 0.01f) {
        const float y = bottom - held * span;
        const ImU32 color = held > 0.94f ? Col(gTheme.meterHigh, 0xF0) : Col(gTheme.whiteOverlay, 0xB4);
        p.draw->AddLine(ImVec2(cx - 3, y), ImVec2(cx + 3, y), color, 1.5f);
    }
}

void DrawHandle(const PanelContext& p, const MixerStrip& s, float cx, float y) {
    ImU32 upper = Col(kHandleUpper), lower = Col(kHandleLower), grips = Col(kHandleGrips);
    if (s.muted) {
        upper = Col(gTheme.muteOn);
        lower = Col(gTheme.muteOn, 0xDC);
        grips = Col(gTheme.muteOnText, 0xB4);
    }
    ImDrawList* d = p.draw;
    d->AddRectFilled(ImVec2(cx - 8, y - 14), ImVec2(cx + 8, y), upper, 4.0f, ImDrawFlags_RoundCornersTop);
    d->AddRectFilled(ImVec2(cx - 8, y), ImVec2(cx + 8, y + 14), lower, 4.0f, ImDrawFlags_RoundCornersBottom);
    d->AddRect(ImVec2(cx - 8, y - 14), ImVec2(cx + 8, y + 14), Col(kHandleOutline), 4.0f, 0, 1.0f);
    for (float dy : {-3.0f, 0.0f, 3.0f}) d->AddLine(ImVec2(cx - 4, y + dy), ImVec2(cx + 4, y + dy), grips, 1.0f);
}

void HandleFader(const PanelContext& p, const MixerStrip& s, int i, const FaderValueMap& law) {
    const MixerLayout& l = p.l;
    char id[24];
    std::snprintf(id, sizeof id, "##fader%d", i);
    if (!InvisibleButtonAt(id, l.stripLeft[size_t(i)], l.faderTop, l.stripWidth, l.faderHeight)) return;
    FaderInput in;
    in.hovered = ImGui::IsItemHovered();
    in.doubleClicked = ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left);
    in.activated = ImGui::IsItemActivated();
    in.active = ImGui::IsItemActive();
    in.mouseY = ImGui::GetIO().MousePos.y;
    const std::optional<float> gain = StepFader(gFaderDragState, i, in, s.gain, law, l.faderTop, l.faderHeight);
    if (gain) SetStripGain(ProgramDocumentContext(), s.id, *gain, p.videoLoaded);
}

void DrawMuteSolo(const PanelContext& p, const MixerStrip& s, int i, float left) {
    const MixerLayout& l = p.l;
    const float bw = (l.stripWidth - 6) / 2;
    if (!(bw >= 1)) return;
    char id[24];
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(0, 0));
    // The Master strip's background is the off button's own colour: an
    // outline keeps its mute button visible.
    const bool outline = s.id == kStripIdMaster;
    if (outline) {
        ImGui::PushStyleVar(ImGuiStyleVar_FrameBorderSize, 1.0f);
        ImGui::PushStyleColor(ImGuiCol_Border, Col(gTheme.border));
    }
    ImGui::SetCursorScreenPos(ImVec2(left + 2, l.muteY));
    {
        MuteButtonScope scope(s.muted);
        std::snprintf(id, sizeof id, "M##m%d", i);
        if (ImGui::Button(id, ImVec2(bw, l.buttonHeight))) SetStripMute(p.engine, p.app, s.id, !s.muted, p.videoLoaded);
    }
    if (ImGui::IsItemHovered()) ShowStyledTooltip("Mute");
    if (s.hasSolo) {
        ImGui::SetCursorScreenPos(ImVec2(left + 2 + bw + 2, l.muteY));
        SoloButtonScope scope(s.solo);
        std::snprintf(id, sizeof id, "S##s%d", i);
        if (ImGui::Button(id, ImVec2(bw, l.buttonHeight))) SetStripSolo(p.engine, s.id, !s.solo);
    }
    if (s.hasSolo && ImGui::IsItemHovered()) ShowStyledTooltip("Solo");
    if (outline) {
        ImGui::PopStyleColor();
        ImGui::PopStyleVar();
    }
    ImGui::PopStyleVar();
}

void DrawSend(const PanelContext& p, const MixerStrip& s, int i, float left) {
    const MixerLayout& l = p.l;
    // "Reverb" as wide as the strip allows (smaller in a narrow strip).
    {
        ImFont* font = ImGui::GetFont();
        const float size = FittedSize("Reverb", l.stripWidth - 4);
        p.draw->AddText(font, size, ImVec2(left + 2, std::round(l.sendLabelY + (p.fontSize - size) / 2)),
                        Col(p.reverbOn ? gTheme.reverbStrip : gTheme.reverbOffText), "Reverb");
    }
    const float y = l.sendBarY;
    const float barLeft = left + 3;
    const float barWidth = l.stripWidth - 6;
    if (!(barWidth > 0)) return;
    p.draw->AddRectFilled(ImVec2(barLeft, y), ImVec2(barLeft + barWidth, y + 5), Col(gTheme.frameBg), 2.0f);
    const float fill = s.send * barWidth;
    if (p.reverbOn && fill > 0.5f)
        p.draw->AddRectFilled(ImVec2(barLeft, y), ImVec2(barLeft + fill, y + 5), Col(gTheme.reverbStrip, 0xB4), 2.0f);
    if (!p.reverbOn) return;  // inert while the reverb is off
    char id[24];
    std::snprintf(id, sizeof id, "##send%d", i);
    if (!InvisibleButtonAt(id, barLeft, y, barWidth, 5)) return;
    if (ImGui::IsItemActive())
        SetGroupReverbSend(p.engine, p.app, s.id, (ImGui::GetIO().MousePos.x - barLeft) / barWidth);
    if (ImGui::IsItemHovered())
        ShowStyledTooltip("Reverb Send: %.0f%%", double(p.engine.reverb.groupSends[size_t(s.id)].load(kRelaxed) * 100));
}

void DrawStripParts(const PanelContext& p, const MixerStrip& s, int i) {
    const MixerLayout& l = p.l;
    const float left = l.stripLeft[size_t(i)];
    const float right = left + l.stripWidth;
    const float cx = l.StripCentre(i);
    ImDrawList* d = p.draw;
    d->AddRectFilled(ImVec2(left, l.y0), ImVec2(right, l.stripBottom),
                     Col(s.id == kStripIdMaster ? gTheme.frameBg : gTheme.windowBg), 4.0f);
    if (!s.present) d->AddRectFilled(ImVec2(left, l.y0), ImVec2(right, l.stripBottom), Col(gTheme.windowBg, 0x64), 4.0f);
    const ImU32 nameColor = s.muted ? Col(gTheme.muteOn, 0xC8) : Col(s.present ? gTheme.text : gTheme.textDim);
    const float room = l.stripWidth - 4;
    FittedTextCentredAt(d, cx, l.y0 + 4, room, nameColor, s.name);

    char readout[16];
    FaderReadout(s.gain, readout, sizeof readout);
    if (!s.present) {
        // Dimmed, without fader, buttons or meter; the stored level still reads.
        FittedTextCentredAt(d, cx, l.readoutY, room, Col(gTheme.textDim, 0x96), readout);
        return;
    }
    const FaderValueMap law(s.maxGain);
    d->AddRectFilled(ImVec2(cx - 3, l.faderTop + 14), ImVec2(cx + 3, l.faderBottom - 14), Col(gTheme.laneBg), 2.0f);
    DrawScale(p, left, cx, law);
    if (s.hasMeter) DrawMeter(p, s, cx);
    HandleFader(p, s, i, law);
    // The handle shows the gain after this frame's drag.
    const float gain = StripGain(p.engine, s.id);
    DrawHandle(p, s, cx, l.HandleY(FaderPositionOfGain(law, gain)));
    FaderReadout(gain, readout, sizeof readout);
    FittedTextCentredAt(d, cx, l.readoutY, room, Col(gTheme.textDim), readout);
    DrawMuteSolo(p, s, i, left);
    if (s.hasSend) DrawSend(p, s, i, left);
}

// Everything of a strip stays on it: a text too wide would be cut at its
// edge rather than run under its neighbour.
void DrawStrip(const PanelContext& p, const MixerStrip& s, int i) {
    const MixerLayout& l = p.l;
    const float left = l.stripLeft[size_t(i)];
    ImGui::PushClipRect(ImVec2(left, l.y0), ImVec2(left + l.stripWidth, l.stripBottom), true);
    DrawStripParts(p, s, i);
    ImGui::PopClipRect();
}

// ---------------------------------------------------------------------------
// Reverb section
// ---------------------------------------------------------------------------

void DrawPowerButton(const PanelContext& p) {
    const MixerLayout& l = p.l;
    ImGui::SetCursorScreenPos(ImVec2(l.rx + l.rw - 22, l.ry + 2));
    // The glyph's line is as tall as the font: the padding gives way so that
    // it stays inside the 18-point button.
    ImGui::PushStyleVar(ImGuiStyleVar_FramePadding, ImVec2(3, std::clamp((18 - p.fontSize) / 2, 0.0f, 3.0f)));
    ImGui::PushStyleColor(ImGuiCol_Button, ImVec4(0, 0, 0, 0));
    ImGui::PushStyleColor(ImGuiCol_ButtonHovered, Col(gTheme.textDim, 0.4f * 255));
    ImGui::PushStyleColor(ImGuiCol_ButtonActive, Col(gTheme.textDim, 0.6f * 255));
    if (p.reverbOn)
        ImGui::PushStyleColor(ImGuiCol_Text, ImVec4(0.7f, 0.75f, 0.85f, 1.0f));
    else
        ImGui::PushStyleColor(ImGuiCol_Text, Col(gTheme.textDim, 96));
    if (ImGui::Button("\xEF\x80\x91##rvPower", ImVec2(18, 18)))  // U+F011, the power glyph
        SetReverbOn(p.engine, p.app, !p.reverbOn);
    ImGui::PopStyleColor(4);
    ImGui::PopStyleVar();
    if (ImGui::IsItemHovered()) ShowStyledTooltip(p.reverbOn ? "Disable reverb" : "Enable reverb");
}

ImU32 RoomColor(uint32_t rgb, float n, float f) {
    return Col((rgb & 0x00FFFFFFu) | (uint32_t(std::min(255.0f, n * f)) << 24));
}

ImVec2 Lerp(const ImVec2& a, const ImVec2& b, float t) { return ImVec2(a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t); }

// A box seen from the front; the back wall comes nearer as the space grows.
void DrawRoom(const PanelContext& p, float macro) {
    const MixerLayout& l = p.l;
    const bool on = p.reverbOn;
    const float f = on ? 1.0f : 0.25f;
    const float x0 = l.rx + 10, y0 = l.ry + 26;
    const float w = l.innerWidth - 8, h = l.roomHeight - 8;
    if (!(w > 1) || !(h > 1)) return;
    const ImVec2 tl(x0, y0), tr(x0 + w, y0), br(x0 + w, y0 + h), bl(x0, y0 + h);
    const ImVec2 vp(x0 + w / 2, y0 + 0.42f * h);
    const float k = 1.0f - (0.72f * std::clamp(macro, 0.0f, 1.0f) + 0.08f);
    const ImVec2 btl = Lerp(vp, tl, k), btr = Lerp(vp, tr, k), bbr = Lerp(vp, br, k), bbl = Lerp(vp, bl, k);
    ImDrawList* d = p.draw;
    d->AddQuadFilled(bl, br, bbr, bbl, RoomColor(on ? 0x5A323C : 0x373232, 25, f));   // floor
    d->AddQuadFilled(tl, tr, btr, btl, RoomColor(on ? 0x784150 : 0x3C3737, 15, f));   // ceiling
    const ImU32 side = RoomColor(on ? 0x693746 : 0x373232, 18, f);
    d->AddQuadFilled(tl, btl, bbl, bl, side);
    d->AddQuadFilled(tr, br, bbr, btr, side);
    d->AddRectFilled(btl, bbr, RoomColor(on ? 0x824B5A : 0x413C3C, 35, f));           // back wall
    d->AddRect(btl, bbr, on ? RoomColor(0xAA6478, 80, f) : RoomColor(0x555050, 60, f), 0, 0, 1.0f);
    const ImU32 edge = on ? RoomColor(0x8C5064, 40, f) : RoomColor(0x464141, 30, f);
    d->AddLine(tl, btl, edge, 1.0f);
    d->AddLine(tr, btr, edge, 1.0f);
    d->AddLine(br, bbr, edge, 1.0f);
    d->AddLine(bl, bbl, edge, 1.0f);
    const uint32_t lineRgb = on ? 0x965064 : 0x4B4646;
    for (int i = 1; i <= 4; ++i) {
        const float t = float(i) / 5;
        d->AddLine(Lerp(bl, bbl, t), Lerp(br, bbr, t), RoomColor(lineRgb, (1 - 0.5f * t) * 30, f), 1.0f);
    }
    for (int i = 1; i <= 2; ++i) {
        const float u = float(i) / 3;
        d->AddLine(Lerp(bl, br, u), Lerp(bbl, bbr, u), RoomColor(lineRgb, 20, f), 1.0f);
    }
}

void DrawSpaceControl(const PanelContext& p) {
    const MixerLayout& l = p.l;
    ReverbParams& reverb = p.engine.reverb;
    float macro = reverb.macro.load(kRelaxed);
    DrawRoom(p, macro);

    char label[64];
    const float labelY = l.spaceLabelY;
    const float centreX = l.rx + l.rw / 2;
    if (p.reverbOn) {
        std::snprintf(label, sizeof label, "%s  %.0f%%", ReverbSpaceName(macro), double(macro * 100));
        TextCentredAt(p.draw, centreX, labelY, Col(gTheme.textMuted), label);
    } else {
        TextCentredAt(p.draw, centreX, labelY, Col(gTheme.textDim), "Off");
    }

    if (!InvisibleButtonAt("##rvspaceMx", l.rx + 6, l.ry + 22, l.innerWidth, l.roomHeight)) return;
    const float dx = ImGui::GetIO().MouseDelta.x;
    if (ImGui::IsItemActive() && p.reverbOn && std::fabs(dx) > 0.5f)
        DragReverbSpaceControl(p.engine, p.app, dx, l.innerWidth);
    if (ImGui::IsItemHovered() && p.reverbOn) {
        ImGui::SetMouseCursor(ImGuiMouseCursor_ResizeEW);
        macro = reverb.macro.load(kRelaxed);
        ShowStyledTooltip("%s (%.0f%%)  \xE2\x80\x94  drag to adjust", ReverbSpaceName(macro), double(macro * 100));
    }
}

void DrawKnob(const PanelContext& p, int k) {
    const MixerLayout& l = p.l;
    const ReverbKnob& knob = kReverbKnobs[size_t(k)];
    ReverbParams& reverb = p.engine.reverb;
    const float r = l.knobRadius;
    if (!(r > 3)) return;
    const ImVec2 c(l.KnobCentreX(k), l.KnobCentreY(k));
    const float g = p.reverbOn ? 1.0f : 0.3f;

    if (p.reverbOn && InvisibleButtonAt(knob.id, c.x - r, c.y - r, 2 * r, 2 * r)) {
        const ImVec2 delta = ImGui::GetIO().MouseDelta;
        if (ImGui::IsItemActive() && (std::fabs(delta.x) > 0.2f || std::fabs(delta.y) > 0.2f))
            SetReverbSetting(p.engine, p.app, knob.param, KnobAfterDrag(knob, ReverbParamValue(reverb, knob.param), delta.y));
        if (ImGui::IsItemHovered() && ImGui::IsMouseDoubleClicked(ImGuiMouseButton_Left))
            SetReverbSetting(p.engine, p.app, knob.param, knob.reset);
    }
    // The tooltip shows with the reverb off too.
    if (HoveringRect(c.x - r, c.y - r, c.x + r, c.y + r)) {
        const float value = ReverbParamValue(reverb, knob.param);
        if (knob.milliseconds)
            ShowStyledTooltip("Pre-Delay: %.0f ms", double(value * 1000));
        else
            ShowStyledTooltip("%s: %.2f", knob.label, double(value));
    }

    const float value = ReverbParamValue(reverb, knob.param);
    const float t = KnobPosition(knob, value);
    ImDrawList* d = p.draw;
    d->PathArcTo(c, r, kKnobStartAngle, kKnobStartAngle + kKnobSweep, 32);
    d->PathStroke(Col(gTheme.controlBg), 0, 2.5f);
    if (t > 0.01f) {
        d->PathArcTo(c, r, kKnobStartAngle, kKnobStartAngle + kKnobSweep * t, 32);
        d->PathStroke(Col(gTheme.reverbStrip, 200 * g), 0, 2.5f);
    }
    d->AddCircleFilled(c, r - 3, Col(gTheme.panelBg), 24);
    const float a = kKnobStartAngle + kKnobSweep * t;
    d->AddCircleFilled(ImVec2(c.x + r * std::cos(a), c.y + r * std::sin(a)), 3, Col(gTheme.reverbAccent, 240 * g), 12);
    char text[16];
    KnobValueText(knob, value, text, sizeof text);
    FittedTextCentredAt(d, c.x, c.y - p.fontSize / 2, 2 * r + 6, Col(gTheme.textMuted, 255 * g), text);
    FittedTextCentredAt(d, c.x, c.y + r + 4, l.columnWidth - 4, Col(gTheme.textDim, 255 * g), knob.label);
}

void DrawReverbSection(const PanelContext& p) {
    const MixerLayout& l = p.l;
    if (!(l.rw > 1) || !(l.rh > 1)) return;
    p.draw->AddRectFilled(ImVec2(l.rx, l.ry), ImVec2(l.rx + l.rw, l.ry + l.rh), Col(gTheme.windowBg), 4.0f);
    ImGui::PushClipRect(ImVec2(l.rx, l.ry), ImVec2(l.rx + l.rw, l.ry + l.rh), true);
    TextCentredAt(p.draw, l.rx + l.rw / 2, l.ry + 4, Col(gTheme.textMuted), "REVERB");
    DrawPowerButton(p);
    // The switch may have changed this frame.
    PanelContext q = p;
    q.reverbOn = p.engine.reverb.enabled.load(kRelaxed) != 0;
    DrawSpaceControl(q);
    for (int k = 0; k < int(kReverbKnobs.size()); ++k) DrawKnob(q, k);
    ImGui::PopClipRect();
}

}  // namespace

// ---------------------------------------------------------------------------
// MixerPanel
// ---------------------------------------------------------------------------

void MixerPanel(ImDrawList*, const UILayout& layout) {
    AppState& app = gAppState;
    AudioEngine& engine = gAudioEngine;
    TabPanelFrame frame;
    if (!BeginTabPanel("##mixer_panel", "MIXER", layout, frame)) return;

    // Ballistics before anything reads the meters.
    UpdateMixerMeters(gMixerMeters, engine, ImGui::GetIO().DeltaTime);

    const float fontSize = ImGui::GetFontSize();
    // A panel shorter than the layout needs (a large font in the smallest
    // window) is laid out at that height under its title and scrolls.
    const float least = MixerLeastHeight(fontSize);
    const bool scrolls = frame.height < least;
    constexpr float kTitleRow = 24;
    ImVec2 origin = frame.origin;
    float height = frame.height;
    ImDrawList* draw = frame.draw;
    if (scrolls) {
        ImGui::SetCursorPos(ImVec2(0, kTitleRow));
        ImGui::BeginChild("##mixer_scroll", ImVec2(frame.width, frame.height - kTitleRow), false);
        const ImVec2 top = ImGui::GetCursorScreenPos();
        origin = ImVec2(top.x, top.y - kTitleRow);
        height = least;
        draw = ImGui::GetWindowDrawList();
    }
    const MixerLayout l = ComputeMixerLayout(origin.x, origin.y, frame.width, height, fontSize);
    const bool videoLoaded = gVideoPlayer.loaded;
    const PanelContext p{app, engine, draw, l, fontSize, frame.smallFont, videoLoaded,
                         engine.reverb.enabled.load(kRelaxed) != 0};

    const float masterLeft = l.stripLeft[4];
    draw->AddLine(ImVec2(masterLeft - 4.5f, l.y0 + 4), ImVec2(masterLeft - 4.5f, l.stripBottom - 4), Col(gTheme.border),
                  1.0f);
    if (l.stripWidth >= 1) {
        const std::array<MixerStrip, kMixerStripCount> strips = MixerStrips(engine, gMixerMeters, app, videoLoaded);
        for (int i = 0; i < kMixerStripCount; ++i) DrawStrip(p, strips[size_t(i)], i);
    }
    DrawReverbSection(p);
    if (scrolls) {
        ImGui::SetCursorScreenPos(ImVec2(origin.x, origin.y + kTitleRow));
        ImGui::Dummy(ImVec2(1, least - kTitleRow));
        ImGui::EndChild();
    }
    EndTabPanel(frame);
}

// ---------------------------------------------------------------------------
// DumpMixerFields
// ---------------------------------------------------------------------------

void DumpMixerFields(StateDump& dump) {
    const AudioEngine& e = gAudioEngine;
    auto number = [&dump](const std::string& key, float v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.4f", double(v));
        dump.Field(key, std::string(text));
    };
    for (int g = 0; g < 3; ++g) {
        const std::string n = std::to_string(g);
        number("mixer.groupGain" + n, e.groupGain[size_t(g)].load(kRelaxed));
        dump.Field("mixer.groupMute" + n, e.groupMute[size_t(g)].load(kRelaxed) != 0);
        dump.Field("mixer.groupSolo" + n, e.groupSolo[size_t(g)].load(kRelaxed) != 0);
        number("mixer.send" + n, e.reverb.groupSends[size_t(g)].load(kRelaxed));
    }
    number("mixer.masterGain", e.masterGain.load(kRelaxed));
    dump.Field("mixer.masterMute", e.masterMute.load(kRelaxed) != 0);
    number("mixer.refGain", e.refGain.load(kRelaxed));
    dump.Field("mixer.refMute", gAppState.refMute);
    dump.Field("mixer.reverbEnabled", e.reverb.enabled.load(kRelaxed) != 0);
    number("mixer.reverbMacro", e.reverb.macro.load(kRelaxed));
    for (const ReverbKnob& knob : kReverbKnobs)
        number(std::string("mixer.reverb.") + knob.label, ReverbParamValue(e.reverb, knob.param));
}
