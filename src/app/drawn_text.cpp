// drawn_text.cpp — labels in display order, and the record of what each
// widget drew.
//
// Index
//   State
//   Display order     the cached VisualText, text being edited
//   Record            widget names, one record per text
//   Wrappers          ImDrawList::AddText (both), ImFont::CalcTextSizeA,
//                     ImGuiWindow::GetID and ImGui::GetID (names only)
//   RecordDrawnText / DumpDrawnText
#include "app/drawn_text.h"

#include <imgui.h>
#include <imgui_internal.h>

#include <cfloat>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>

#include "app/test_driver.h"
#include "app/visual_text.h"

// The GUI's own routines under their --wrap names (mangled C++ names of the
// installed library; CMakeLists lists the same ones).
extern "C" {
void __real__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4(ImDrawList* self, const ImFont* font,
                                                                        float size, const ImVec2& pos, ImU32 col,
                                                                        const char* begin, const char* end,
                                                                        float wrap, const ImVec4* fineClip);
void __real__ZN10ImDrawList7AddTextERK6ImVec2jPKcS4_(ImDrawList* self, const ImVec2& pos, ImU32 col,
                                                     const char* begin, const char* end);
ImVec2 __real__ZNK6ImFont13CalcTextSizeAEfffPKcS1_PS1_(const ImFont* self, float size, float maxWidth, float wrap,
                                                      const char* begin, const char* end, const char** remaining);
ImGuiID __real__ZN11ImGuiWindow5GetIDEPKcS1_(ImGuiWindow* self, const char* str, const char* end);
ImGuiID __real__ZN5ImGui5GetIDEPKc(const char* str);
}

namespace {

// ---------------------------------------------------------------------------
// State
// ---------------------------------------------------------------------------

// The record the current GUI context draws into, or null.
DrawnTextRecord* CurrentRecord() {
    return GImGui ? static_cast<DrawnTextRecord*>(ImGui::GetIO().UserData) : nullptr;
}

// Display forms of the texts met lately; names repeat every frame, so each
// is ordered once. Emptied when it grows past a few thousand texts.
std::unordered_map<std::string, std::string>& VisualCache() {
    static std::unordered_map<std::string, std::string> cache;
    return cache;
}

const char* TextEnd(const char* begin, const char* end) { return end ? end : begin + std::strlen(begin); }

// ---------------------------------------------------------------------------
// Display order
// ---------------------------------------------------------------------------

// The active text field draws its own buffer; its cursor and selection are
// measured in stored order, so that text stays as it is.
bool BeingEdited(const char* begin) {
    const ImGuiContext* g = GImGui;
    if (!g || g->ActiveId == 0) return false;
    const ImGuiInputTextState& state = g->InputTextState;
    return state.ID == g->ActiveId && state.TextA.Data && begin >= state.TextA.Data &&
           begin < state.TextA.Data + state.TextA.Size;
}

// The display form of [begin, end), or null when it is the text itself.
const std::string* DisplayForm(const char* begin, const char* end) {
    const std::string_view text(begin, size_t(end - begin));
    if (!HasRightToLeft(text) || BeingEdited(begin)) return nullptr;
    auto& cache = VisualCache();
    auto it = cache.find(std::string(text));
    if (it != cache.end()) return &it->second;
    if (cache.size() > 4096) cache.clear();
    return &cache.emplace(std::string(text), VisualText(text)).first->second;
}

// ---------------------------------------------------------------------------
// Record
// ---------------------------------------------------------------------------

// A new frame starts both lists afresh.
void Touch(DrawnTextRecord& r) {
    const int frame = ImGui::GetCurrentContext() ? ImGui::GetFrameCount() : -1;
    if (frame == r.frame) return;
    r.frame = frame;
    r.texts.clear();
    r.names.clear();
}

void NoteName(ImGuiID id, const char* str, const char* end) {
    DrawnTextRecord* record = CurrentRecord();
    if (!record || !str) return;
    DrawnTextRecord& r = *record;
    Touch(r);
    const std::string_view label(str, size_t(TextEnd(str, end) - str));
    // "text###name" keeps its id whatever it shows: its name is "##name" too.
    size_t hash = label.find("##");
    if (hash != std::string_view::npos && label.substr(hash).starts_with("###")) ++hash;
    r.names[id] = std::string(hash == std::string_view::npos ? label : label.substr(hash));
}

// A child window is named "parent/name_0123ABCD": its own part, without the id.
std::string WindowName(const ImGuiWindow* window) {
    if (!window) return "";
    std::string_view name(window->Name);
    const size_t slash = name.rfind('/');
    if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
    const size_t underscore = name.rfind('_');
    if (underscore != std::string_view::npos && name.size() - underscore == 9) name = name.substr(0, underscore);
    return std::string(name);
}

void NoteText(ImDrawList* list, const ImFont* font, float size, const ImVec2& pos, ImU32 col, const char* begin,
              const char* end, float wrap, const ImVec4* fineClip) {
    DrawnTextRecord* record = CurrentRecord();
    if (!record || (col & IM_COL32_A_MASK) == 0 || begin == end) return;
    DrawnTextRecord& r = *record;
    Touch(r);
    const ImGuiContext* g = GImGui;
    if (!font && list->_Data) font = list->_Data->Font;
    if (size == 0 && list->_Data) size = list->_Data->FontSize;
    if (!font) return;
    DrawnText t;
    // The GUI's implicit fallback window ("Debug") draws its title every
    // frame but is hidden at the frame's end: nothing of the program's is in it.
    if (g && g->CurrentWindow && g->CurrentWindow->IsFallbackWindow) return;
    if (g) {
        auto it = r.names.find(g->LastItemData.ID);
        t.window = WindowName(g->CurrentWindow);
        t.widget = it != r.names.end() ? it->second : t.window;
        if (const ImGuiWindow* w = g->CurrentWindow) {
            t.scrollUp = w->Scroll.y;
            t.scrollDown = ImMax(0.0f, w->ScrollMax.y - w->Scroll.y);
        }
    }
    t.text.assign(begin, end);
    const ImVec2 extent = __real__ZNK6ImFont13CalcTextSizeAEfffPKcS1_PS1_(font, size, FLT_MAX, wrap, begin, end, nullptr);
    t.x = pos.x, t.y = pos.y, t.width = extent.x, t.height = extent.y;
    ImVec4 clip = list->_CmdHeader.ClipRect;
    if (fineClip) {
        clip.x = ImMax(clip.x, fineClip->x), clip.y = ImMax(clip.y, fineClip->y);
        clip.z = ImMin(clip.z, fineClip->z), clip.w = ImMin(clip.w, fineClip->w);
    }
    t.clipX = clip.x, t.clipY = clip.y, t.clipWidth = clip.z - clip.x, t.clipHeight = clip.w - clip.y;
    t.color = col;
    t.fontSize = size;
    r.texts.push_back(std::move(t));
}

// One line of a wrapped text.
void DrawText(ImDrawList* list, const ImFont* font, float size, const ImVec2& pos, ImU32 col, const char* begin,
              const char* end, const ImVec4* fineClip) {
    NoteText(list, font, size, pos, col, begin, end, 0.0f, fineClip);
    __real__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4(list, font, size, pos, col, begin, end, 0.0f,
                                                                       fineClip);
}

// A wrapped text with right-to-left characters: lines as the GUI would break
// them (at '\n', then at the wrap width, blanks after a break skipped), each
// drawn in display order.
void DrawWrapped(ImDrawList* list, const ImFont* font, float size, ImVec2 pos, ImU32 col, const char* begin,
                 const char* end, float wrap, const ImVec4* fineClip) {
    if (!font && list->_Data) font = list->_Data->Font;
    if (size == 0 && list->_Data) size = list->_Data->FontSize;
    if (!font) return;
    const float scale = size / font->FontSize;
    for (const char* s = begin; s <= end;) {
        const char* newline = static_cast<const char*>(std::memchr(s, '\n', size_t(end - s)));
        const char* lineEnd = newline ? newline : end;
        if (s == lineEnd) pos.y += size;  // an empty line
        while (s < lineEnd) {
            const char* cut = font->CalcWordWrapPositionA(scale, s, lineEnd, wrap);
            if (cut == s) {
                // Too narrow for one word: one character per line, as the GUI does.
                ++cut;
                while (cut < lineEnd && (static_cast<unsigned char>(*cut) & 0xC0) == 0x80) ++cut;
            }
            if (const std::string* shown = DisplayForm(s, cut))
                DrawText(list, font, size, pos, col, shown->data(), shown->data() + shown->size(), fineClip);
            else
                DrawText(list, font, size, pos, col, s, cut, fineClip);
            pos.y += size;
            s = cut;
            while (s < lineEnd && (*s == ' ' || *s == '\t')) ++s;
        }
        if (!newline) break;
        s = newline + 1;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Wrappers
// ---------------------------------------------------------------------------

extern "C" void __wrap__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4(
    ImDrawList* self, const ImFont* font, float size, const ImVec2& pos, ImU32 col, const char* begin,
    const char* end, float wrap, const ImVec4* fineClip) {
    if (!begin) return;
    end = TextEnd(begin, end);
    if (begin == end || (col & IM_COL32_A_MASK) == 0) return;
    if (wrap > 0 && HasRightToLeft(std::string_view(begin, size_t(end - begin))) && !BeingEdited(begin)) {
        DrawWrapped(self, font, size, pos, col, begin, end, wrap, fineClip);
        return;
    }
    const std::string* shown = DisplayForm(begin, end);
    if (shown) begin = shown->data(), end = shown->data() + shown->size();
    NoteText(self, font, size, pos, col, begin, end, wrap, fineClip);
    __real__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4(self, font, size, pos, col, begin, end, wrap,
                                                                       fineClip);
}

extern "C" void __wrap__ZN10ImDrawList7AddTextERK6ImVec2jPKcS4_(ImDrawList* self, const ImVec2& pos, ImU32 col,
                                                               const char* begin, const char* end) {
    __wrap__ZN10ImDrawList7AddTextEPK6ImFontfRK6ImVec2jPKcS7_fPK6ImVec4(self, nullptr, 0.0f, pos, col, begin, end,
                                                                       0.0f, nullptr);
}

extern "C" ImVec2 __wrap__ZNK6ImFont13CalcTextSizeAEfffPKcS1_PS1_(const ImFont* self, float size, float maxWidth,
                                                                 float wrap, const char* begin, const char* end,
                                                                 const char** remaining) {
    // A cut (remaining asked for) and a wrapped measure stay in stored order.
    if (begin && !remaining && wrap <= 0) {
        if (const std::string* shown = DisplayForm(begin, TextEnd(begin, end)))
            return __real__ZNK6ImFont13CalcTextSizeAEfffPKcS1_PS1_(self, size, maxWidth, wrap, shown->data(),
                                                                  shown->data() + shown->size(), nullptr);
    }
    return __real__ZNK6ImFont13CalcTextSizeAEfffPKcS1_PS1_(self, size, maxWidth, wrap, begin, end, remaining);
}

extern "C" ImGuiID __wrap__ZN11ImGuiWindow5GetIDEPKcS1_(ImGuiWindow* self, const char* str, const char* end) {
    const ImGuiID id = __real__ZN11ImGuiWindow5GetIDEPKcS1_(self, str, end);
    NoteName(id, str, end);
    return id;
}

extern "C" ImGuiID __wrap__ZN5ImGui5GetIDEPKc(const char* str) {
    const ImGuiID id = __real__ZN5ImGui5GetIDEPKc(str);
    NoteName(id, str, nullptr);
    return id;
}

// ---------------------------------------------------------------------------
// RecordDrawnText / DumpDrawnText
// ---------------------------------------------------------------------------

bool DrawnText::Whole() const {
    constexpr float slack = 0.5f;
    return x >= clipX - slack && y >= clipY - slack && x + width <= clipX + clipWidth + slack &&
           y + height <= clipY + clipHeight + slack;
}

void RecordDrawnText(DrawnTextRecord* record) {
    if (!GImGui) return;
    if (record) *record = DrawnTextRecord{};
    ImGui::GetIO().UserData = record;
}

void DumpDrawnText(StateDump& dump) {
    static const std::vector<DrawnText> none;
    const DrawnTextRecord* record = CurrentRecord();
    const std::vector<DrawnText>& texts = record ? record->texts : none;
    dump.Field("drawn.count", int(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        const DrawnText& t = texts[i];
        const std::string key = "drawn." + std::to_string(i);
        std::string text;
        for (char c : t.text) text += c == '\n' ? std::string("\\n") : std::string(1, c);
        dump.Field(key + ".widget", t.widget);
        dump.Field(key + ".text", text);
        dump.RectField(key + ".rect", t.x, t.y, t.width, t.height);
        dump.RectField(key + ".clip", t.clipX, t.clipY, t.clipWidth, t.clipHeight);
        char color[16];
        std::snprintf(color, sizeof color, "%08X", unsigned(t.color));
        dump.Field(key + ".color", std::string(color));
        dump.Field(key + ".size", double(t.fontSize));
        dump.Field(key + ".window", t.window);
        char scroll[48];
        std::snprintf(scroll, sizeof scroll, "%.1f,%.1f", double(t.scrollUp), double(t.scrollDown));
        dump.Field(key + ".scroll", std::string(scroll));
    }
}
