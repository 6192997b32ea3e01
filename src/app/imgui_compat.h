// imgui_compat.h — the calls of later Dear ImGui releases that this program
// uses, written once on top of the 1.86 the system ships. Panels include this
// header instead of carrying their own copy of a missing call.
//
// Index
//   Names             ImCompatCol_NavCursor, ImGuiChildFlags_*, ImGuiMod_*
//   Input             AddMousePosEvent, AddMouseButtonEvent, AddKeyEvent,
//                     IsScancodeDown/Pressed, IsNamedKeyPressed, IsModDown
//   Widgets           SetItemTooltip, BeginItemTooltip, SeparatorText, TextLink
//   Fonts             FontConfigForDensity, AddFontWithDensity,
//                     AddFontFromMemoryWithDensity, AddFontSharingData,
//                     AddDefaultFontWithDensity
//   Error recovery    RecoverFrameStacks
//
// What 1.86 lacks and how this header answers it:
// - No input queue: the Add*Event calls write the io fields at once. A press
//   and its release must therefore reach the GUI in different frames; within
//   one frame the press is lost.
// - Keys are raw indices into io.KeysDown, which the SDL back-end fills by
//   SDL scancode. `ImGui::IsKeyPressed(ImGuiKey_A)` compiles but tests
//   another key: letters, digits and function keys are read by scancode
//   (IsScancodePressed(SDL_SCANCODE_A)); the named keys of ImGuiKey_ (Escape,
//   Space, arrows, ...) through IsNamedKeyPressed, which maps them.
// - No rasterizer density for fonts: AddFontWithDensity rasterises at
//   size × density pixels and scales the font back to its size in points.
// - No ConfigInputTrickleEventQueue (there is no queue to trickle) and no
//   ScaleAllSizes call is needed: sizes stay in points.
// - PushItemFlag / PopItemFlag exist in imgui_internal.h, included here.
#pragma once

#include <imgui.h>
#include <imgui_internal.h>

#include <cfloat>
#include <cstdarg>
#include <cstring>

#if IMGUI_VERSION_NUM >= 18700
#error "imgui_compat.h is written for Dear ImGui 1.86; review it for this release"
#endif

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

// The keyboard-navigation cursor colour (1.86: NavHighlight).
constexpr ImGuiCol ImCompatCol_NavCursor = ImGuiCol_NavHighlight;

// BeginChild's flags argument of later releases. 1.86 takes a border bool in
// that place, so only None and Border can be expressed; they convert to it.
using ImGuiChildFlags = int;
constexpr ImGuiChildFlags ImGuiChildFlags_None = 0;
constexpr ImGuiChildFlags ImGuiChildFlags_Border = 1;

// Modifier bits for IsModDown (later releases fold them into ImGuiKey).
constexpr int ImGuiMod_Ctrl = 1 << 12;
constexpr int ImGuiMod_Shift = 1 << 13;
constexpr int ImGuiMod_Alt = 1 << 14;
constexpr int ImGuiMod_Super = 1 << 15;

namespace ImCompat {

// ---------------------------------------------------------------------------
// Input
// ---------------------------------------------------------------------------

inline void AddMousePosEvent(ImGuiIO& io, float x, float y) { io.MousePos = ImVec2(x, y); }

inline void AddMouseButtonEvent(ImGuiIO& io, int button, bool down) {
    if (button >= 0 && button < IM_ARRAYSIZE(io.MouseDown)) io.MouseDown[button] = down;
}

// `scancode` is an SDL scancode (the index the SDL back-end writes).
inline void AddKeyEvent(ImGuiIO& io, int scancode, bool down) {
    if (scancode >= 0 && scancode < IM_ARRAYSIZE(io.KeysDown)) io.KeysDown[scancode] = down;
}

inline bool IsScancodeDown(int scancode) { return ImGui::IsKeyDown(scancode); }
inline bool IsScancodePressed(int scancode, bool repeat = true) { return ImGui::IsKeyPressed(scancode, repeat); }

// A key of ImGuiKey_ (Escape, Space, Enter, arrows, Delete, Backspace, ...).
inline bool IsNamedKeyPressed(ImGuiKey key, bool repeat = true) {
    return ImGui::IsKeyPressed(ImGui::GetKeyIndex(key), repeat);
}

// True when every modifier in `mods` (ImGuiMod_* bits) is held.
inline bool IsModDown(int mods) {
    const ImGuiIO& io = ImGui::GetIO();
    if ((mods & ImGuiMod_Ctrl) && !io.KeyCtrl) return false;
    if ((mods & ImGuiMod_Shift) && !io.KeyShift) return false;
    if ((mods & ImGuiMod_Alt) && !io.KeyAlt) return false;
    if ((mods & ImGuiMod_Super) && !io.KeySuper) return false;
    return true;
}

// ---------------------------------------------------------------------------
// Widgets
// ---------------------------------------------------------------------------

// Colour of TextLink; ApplyThemeStyle keeps it at the theme's accent.
inline ImVec4& TextLinkColor() {
    static ImVec4 color(0.26f, 0.59f, 0.98f, 1.0f);
    return color;
}

inline void SetItemTooltip(const char* fmt, ...) IM_FMTARGS(1);
inline void SetItemTooltip(const char* fmt, ...) {
    if (!ImGui::IsItemHovered()) return;
    va_list args;
    va_start(args, fmt);
    ImGui::SetTooltipV(fmt, args);
    va_end(args);
}

// Opens a tooltip when the last item is hovered; call EndTooltip when true.
inline bool BeginItemTooltip() {
    if (!ImGui::IsItemHovered()) return false;
    ImGui::BeginTooltip();
    return true;
}

// A label followed by a horizontal rule to the end of the content region.
inline void SeparatorText(const char* label) {
    ImGui::TextUnformatted(label);
    ImGui::SameLine();
    ImVec2 pos = ImGui::GetCursorScreenPos();
    float right = ImGui::GetWindowPos().x + ImGui::GetWindowContentRegionMax().x;
    float y = pos.y + ImGui::GetTextLineHeight() * 0.5f;
    if (right > pos.x)
        ImGui::GetWindowDrawList()->AddLine(ImVec2(pos.x, y), ImVec2(right, y), ImGui::GetColorU32(ImGuiCol_Separator));
    ImGui::NewLine();
}

// Text in the link colour, underlined while hovered; true when clicked.
inline bool TextLink(const char* label) {
    const char* end = ImGui::FindRenderedTextEnd(label);
    ImVec2 size = ImGui::CalcTextSize(label, end);
    ImVec2 pos = ImGui::GetCursorScreenPos();
    bool clicked = ImGui::InvisibleButton(label, ImVec2(size.x > 0 ? size.x : 1, size.y > 0 ? size.y : 1));
    bool hovered = ImGui::IsItemHovered();
    ImU32 color = ImGui::GetColorU32(TextLinkColor());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddText(pos, color, label, end);
    if (hovered) {
        draw->AddLine(ImVec2(pos.x, pos.y + size.y), ImVec2(pos.x + size.x, pos.y + size.y), color);
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    return clicked;
}

// ---------------------------------------------------------------------------
// Fonts
// ---------------------------------------------------------------------------

// A font configuration for `sizePoints` whose glyphs are rasterised for
// `density` pixels per point (the UI scale): size, offsets and advances
// (given in points) become pixels.
inline ImFontConfig FontConfigForDensity(ImFontConfig config, float sizePoints, float density) {
    if (!(density > 0)) density = 1;
    config.SizePixels = sizePoints * density;
    config.GlyphOffset = ImVec2(config.GlyphOffset.x * density, config.GlyphOffset.y * density);
    config.GlyphMinAdvanceX *= density;
    if (config.GlyphMaxAdvanceX < FLT_MAX) config.GlyphMaxAdvanceX *= density;
    return config;
}

// Scales a font added at density back to its size in points. In merge mode
// the destination font keeps the scale of its first face.
inline ImFont* ScaledToPoints(ImFont* font, const ImFontConfig& config, float density) {
    if (font && !config.MergeMode) font->Scale = 1.0f / (density > 0 ? density : 1.0f);
    return font;
}

// Adds a TTF at `sizePoints`, its glyphs rasterised for `density` pixels per
// point (the UI scale). Offsets and advances in `config` are given in points.
inline ImFont* AddFontWithDensity(ImFontAtlas* atlas, const char* path, float sizePoints, ImFontConfig config,
                                  const ImWchar* ranges, float density) {
    config = FontConfigForDensity(config, sizePoints, density);
    return ScaledToPoints(atlas->AddFontFromFileTTF(path, config.SizePixels, &config, ranges), config, density);
}

// The same from a TTF in memory; the atlas takes a copy of the bytes.
inline ImFont* AddFontFromMemoryWithDensity(ImFontAtlas* atlas, const void* data, int size, float sizePoints,
                                            ImFontConfig config, const ImWchar* ranges, float density) {
    if (!data || size <= 0) return nullptr;
    void* copy = IM_ALLOC(static_cast<size_t>(size));
    memcpy(copy, data, static_cast<size_t>(size));
    config = FontConfigForDensity(config, sizePoints, density);
    config.FontDataOwnedByAtlas = true;
    return ScaledToPoints(atlas->AddFontFromMemoryTTF(copy, size, config.SizePixels, &config, ranges), config,
                          density);
}

// Adds a face whose bytes the caller keeps alive for as long as the atlas
// may build (the program's whole run): the atlas neither copies nor frees
// them. AddFont itself would copy the bytes for every font that merges the
// face, which for a large fallback face (tens of megabytes) merged into
// twenty fonts is far too much. These are AddFont's own steps, less the copy.
inline ImFont* AddFontSharingData(ImFontAtlas* atlas, const void* data, int size, float sizePoints,
                                  ImFontConfig config, const ImWchar* ranges, float density) {
    if (!data || size <= 0 || (config.MergeMode && atlas->Fonts.empty())) return nullptr;
    config = FontConfigForDensity(config, sizePoints, density);
    config.FontData = const_cast<void*>(data);
    config.FontDataSize = size;
    config.FontDataOwnedByAtlas = false;
    config.GlyphRanges = ranges ? ranges : atlas->GetGlyphRangesDefault();
    if (!config.MergeMode) atlas->Fonts.push_back(IM_NEW(ImFont));
    atlas->ConfigData.push_back(config);
    ImFontConfig& added = atlas->ConfigData.back();
    if (!added.DstFont) added.DstFont = atlas->Fonts.back();
    if (added.DstFont->EllipsisChar == (ImWchar)-1) added.DstFont->EllipsisChar = config.EllipsisChar;
    atlas->ClearTexData();
    return ScaledToPoints(added.DstFont, config, density);
}

// The built-in font at its own size of 13 points, rasterised for `density`.
inline ImFont* AddDefaultFontWithDensity(ImFontAtlas* atlas, float density) {
    if (!(density > 0)) density = 1;
    ImFontConfig config;
    config.SizePixels = 13.0f * density;
    ImFont* font = atlas->AddFontDefault(&config);
    if (font) font->Scale = 1.0f / density;
    return font;
}

// ---------------------------------------------------------------------------
// Error recovery
// ---------------------------------------------------------------------------

// Closes every window, child, style, font, ID and group left open by code
// that stopped halfway (an exception), so that the frame can still end and
// the next one starts clean. Without it 1.86 asserts at the next NewFrame.
// `log` (may be null) receives one line per repaired stack.
inline void RecoverFrameStacks(ImGuiErrorLogCallback log = nullptr, void* userData = nullptr) {
    ImGui::ErrorCheckEndFrameRecover(log, userData);
}

}  // namespace ImCompat
