// keyword_field.cpp — the keyword autocomplete field.
//
// Index
//   Field states          one record per field id, for the whole run
//   Keys                  the list's keys, taken before the text field sees them
//   Edit callback         records the cursor, puts a chosen keyword in place
//   Ghost text / list     the rest of the highlighted keyword; the list window
//   KeywordAutocompleteField
#include "ui/keyword_field.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <unordered_map>

#include "app/frame_driver.h"
#include "app/imgui_compat.h"
#include "app/theme.h"
#include "library/sound_library.h"
#include "ui/keyword_field_logic.h"
#include "ui/ui_colors.h"

namespace {

// ---------------------------------------------------------------------------
// Field states
// ---------------------------------------------------------------------------

std::unordered_map<ImGuiID, KeywordFieldState>& FieldStates() {
    static std::unordered_map<ImGuiID, KeywordFieldState> states;
    return states;
}

// ---------------------------------------------------------------------------
// Keys
// ---------------------------------------------------------------------------

// Makes this frame's press of a named key, and of the navigation input the
// frame made of it, invisible to the widgets drawn after this call: a press
// is a down duration of exactly 0.
void HidePress(ImGuiKey key, ImGuiNavInput navInput) {
    ImGuiIO& io = ImGui::GetIO();
    const int index = io.KeyMap[key];
    if (index >= 0 && index < IM_ARRAYSIZE(io.KeysDownDuration) && io.KeysDownDuration[index] == 0.0f)
        io.KeysDownDuration[index] = 1e-6f;
    if (io.NavInputsDownDuration[navInput] == 0.0f) io.NavInputsDownDuration[navInput] = 1e-6f;
}

bool Pressed(ImGuiKey key) { return ImCompat::IsNamedKeyPressed(key); }

// 1.86 reads an active item's key claims when the next frame begins (Tab
// focus, arrow navigation) and keeps them for the whole edit: they are set
// while the list shows and given back when it is gone, except those the
// caller's own flags make.
void ClaimListKeys(ImGuiContext& g, bool claim, ImGuiInputTextFlags callerFlags) {
    const ImU64 tab = ImU64(1) << ImGuiKey_Tab;
    const ImU32 arrows = (1u << ImGuiDir_Up) | (1u << ImGuiDir_Down);
    if (claim) {
        g.ActiveIdUsingKeyInputMask |= tab;
        g.ActiveIdUsingNavDirMask |= arrows;
        return;
    }
    if (!(callerFlags & (ImGuiInputTextFlags_CallbackCompletion | ImGuiInputTextFlags_AllowTabInput)))
        g.ActiveIdUsingKeyInputMask &= ~tab;
    if (!(callerFlags & ImGuiInputTextFlags_CallbackHistory)) g.ActiveIdUsingNavDirMask &= ~arrows;
}

// Step of the keys while last frame's list showed matches. Returns whether
// the left click of this frame belongs to the list.
bool TakeListKeys(KeywordFieldState& s, const char* text) {
    if (Pressed(ImGuiKey_DownArrow)) {
        s.highlighted = std::min(s.highlighted + 1, s.matchCount - 1);
        s.keyNavigated = true;
    }
    if (Pressed(ImGuiKey_UpArrow)) {
        s.highlighted = std::max(s.highlighted - 1, 0);
        s.keyNavigated = true;
    }
    const bool enter = Pressed(ImGuiKey_Enter) || Pressed(ImGuiKey_KeyPadEnter);
    if (enter || Pressed(ImGuiKey_Tab)) {
        s.highlighted = std::max(s.highlighted, 0);
        s.pendingCompletion = s.matches[size_t(s.highlighted)];
        s.focusRequest = true;
    }
    if (Pressed(ImGuiKey_Escape)) {
        s.matches.clear();
        s.matchCount = 0;
        s.highlighted = -1;
        s.dismissed = true;
        s.dismissedText = text;
        s.dismissedCursor = s.cursor;
    }
    // The text field would end the edit on Enter and undo it on Escape (as a
    // key, or as keyboard navigation's input and cancel).
    HidePress(ImGuiKey_Enter, ImGuiNavInput_Input);
    HidePress(ImGuiKey_KeyPadEnter, ImGuiNavInput_Input);
    HidePress(ImGuiKey_Escape, ImGuiNavInput_Cancel);

    ImGuiIO& io = ImGui::GetIO();
    if (io.MouseClicked[0] && io.MousePos.x >= s.listRect[0] && io.MousePos.y >= s.listRect[1] &&
        io.MousePos.x < s.listRect[2] && io.MousePos.y < s.listRect[3]) {
        // A click outside an active text field ends its edit; this one is the list's.
        io.MouseClicked[0] = false;
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------
// Edit callback
// ---------------------------------------------------------------------------

int EditCallback(ImGuiInputTextCallbackData* data) {
    auto* s = static_cast<KeywordFieldState*>(data->UserData);
    s->cursor = data->CursorPos;
    if (s->pendingCompletion.empty()) return 0;
    const KeywordCompletion plan = PlanKeywordCompletion(std::string_view(data->Buf, size_t(data->BufTextLen)),
                                                         data->CursorPos, s->pendingCompletion, data->BufSize);
    if (plan.fits) {
        if (plan.deleteCount > 0) data->DeleteChars(plan.deleteStart, plan.deleteCount);
        data->InsertChars(plan.deleteStart, plan.insert.c_str());
        data->CursorPos = data->SelectionStart = data->SelectionEnd = plan.cursorAfter;
        s->cursor = plan.cursorAfter;
    }
    s->pendingCompletion.clear();
    s->highlighted = -1;
    return 0;
}

// ---------------------------------------------------------------------------
// Ghost text / list
// ---------------------------------------------------------------------------

void DrawGhostText(const KeywordFieldState& s, const char* text, const KeywordWord& word, const ImVec2& fieldMin) {
    if (s.highlighted < 0 || s.highlighted >= s.matchCount) return;
    const std::string_view all(text);
    const std::string_view typed = word.Typed(all);
    const std::string& match = s.matches[size_t(s.highlighted)];
    if (word.cursor != word.end || typed.empty() || typed.size() >= match.size()) return;
    const ImGuiStyle& style = ImGui::GetStyle();
    const float before = ImGui::CalcTextSize(text, text + word.cursor).x;
    const ImVec2 at(fieldMin.x + style.FramePadding.x + before, fieldMin.y + style.FramePadding.y);
    ImGui::GetWindowDrawList()->AddText(at, WithAlpha(gTheme.textDim, 100), match.c_str() + typed.size());
}

// The list window under the field; its rectangle goes into the state.
void DrawMatchList(KeywordFieldState& s, const char* label, std::string_view typed, const ImVec2& fieldMin,
                   const ImVec2& fieldMax, bool listClick) {
    const float fontSize = ImGui::GetFontSize();
    const float rowHeight = fontSize + 1;  // one font height plus the list's item spacing
    const float width = std::max(160.0f, fieldMax.x - fieldMin.x);
    const float height = 2 * 4 + rowHeight * float(s.matchCount) - 1;
    ImGui::SetNextWindowPos(ImVec2(fieldMin.x, fieldMax.y + 2));
    ImGui::SetNextWindowSize(ImVec2(width, height));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(6, 4));
    ImGui::PushStyleVar(ImGuiStyleVar_ItemSpacing, ImVec2(4, 1));
    ImGui::PushStyleColor(ImGuiCol_WindowBg, ImGui::ColorConvertU32ToFloat4(gTheme.popupBg));
    ImGui::PushStyleColor(ImGuiCol_Border, ImGui::ColorConvertU32ToFloat4(gTheme.border));
    char name[160];
    std::snprintf(name, sizeof name, "##ac_%s", label);
    const ImGuiWindowFlags flags = ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                                   ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoFocusOnAppearing |
                                   ImGuiWindowFlags_NoNav | ImGuiWindowFlags_NoScrollbar;
    if (ImGui::Begin(name, nullptr, flags)) {
        ImDrawList* draw = ImGui::GetWindowDrawList();
        const float rowWidth = ImGui::GetContentRegionAvail().x;
        for (int i = 0; i < s.matchCount; ++i) {
            const std::string& match = s.matches[size_t(i)];
            const ImVec2 rowMin = ImGui::GetCursorScreenPos();
            const ImVec2 rowMax(rowMin.x + rowWidth, rowMin.y + rowHeight);
            if (ImGui::IsMouseHoveringRect(rowMin, rowMax)) {
                s.highlighted = i;
                if (listClick) s.pendingCompletion = match;
            }
            const bool lit = i == s.highlighted;
            if (lit) draw->AddRectFilled(rowMin, rowMax, WithAlpha(gTheme.accentHover, 80), 3);
            const ImVec2 at(rowMin.x + 4, rowMin.y + 1);
            const uint32_t rest = lit ? gTheme.text : gTheme.textMuted;
            if (typed.empty() || typed.size() > match.size()) {
                draw->AddText(at, rest, match.c_str());
            } else {
                const size_t head = std::min<size_t>(typed.size(), 127);
                draw->AddText(at, gTheme.accent, match.c_str(), match.c_str() + head);
                const float w = ImGui::CalcTextSize(match.c_str(), match.c_str() + head).x;
                draw->AddText(ImVec2(at.x + w, at.y), rest, match.c_str() + head);
            }
            if (lit && s.keyNavigated) {
                ImGui::SetScrollHereY(0.5f);
                s.keyNavigated = false;
            }
            ImGui::Dummy(ImVec2(rowWidth, fontSize));
        }
        const ImVec2 pos = ImGui::GetWindowPos();
        const ImVec2 size = ImGui::GetWindowSize();
        s.listRect[0] = pos.x;
        s.listRect[1] = pos.y;
        s.listRect[2] = pos.x + size.x;
        s.listRect[3] = pos.y + size.y;
    }
    ImGui::End();
    ImGui::PopStyleColor(2);
    ImGui::PopStyleVar(2);
}

}  // namespace

const KeywordFieldState* FindKeywordFieldState(ImGuiID id) {
    const auto it = FieldStates().find(id);
    return it == FieldStates().end() ? nullptr : &it->second;
}

// ---------------------------------------------------------------------------
// KeywordAutocompleteField
// ---------------------------------------------------------------------------

bool KeywordAutocompleteField(const char* label, const char* hint, char* buffer, int bufferSize, float width,
                              const std::vector<KeywordRecord>& keywords, ImGuiInputTextFlags flags) {
    const ImGuiID id = ImGui::GetID(label);
    KeywordFieldState& s = FieldStates()[id];
    ImGuiContext& g = *ImGui::GetCurrentContext();

    const bool listWasShown = s.listShown && s.matchCount > 0;
    bool listClick = false;
    if (listWasShown) listClick = TakeListKeys(s, buffer);
    if (s.focusRequest) {
        ImGui::SetKeyboardFocusHere();
        s.focusRequest = false;
    }
    if (width > 0) ImGui::SetNextItemWidth(width);

    // The history and completion callbacks claim Up, Down and Tab while the
    // list shows.
    ImGuiInputTextFlags fieldFlags = flags | ImGuiInputTextFlags_CallbackAlways;
    if (listWasShown) fieldFlags |= ImGuiInputTextFlags_CallbackHistory | ImGuiInputTextFlags_CallbackCompletion;
    if (g.ActiveId == id) ClaimListKeys(g, listWasShown, flags);
    const bool edited = ImGui::InputTextWithHint(label, hint, buffer, size_t(bufferSize), fieldFlags, EditCallback, &s);
    const bool active = ImGui::IsItemActive();
    const ImVec2 fieldMin = ImGui::GetItemRectMin();
    const ImVec2 fieldMax = ImGui::GetItemRectMax();

    const std::string_view text(buffer);
    const KeywordWord word = FindKeywordWord(text, s.cursor);
    const std::string typed(word.Typed(text));
    if (s.dismissed && (!active || text != s.dismissedText || s.cursor != s.dismissedCursor)) s.dismissed = false;

    s.matches.clear();
    if (active && typed.size() >= 2 && !s.dismissed) {
        std::vector<const char*> found;
        CollectKeywordMatches(keywords, typed.c_str(), found, kKeywordMatchLimit);
        s.matches.assign(found.begin(), found.end());
    }
    s.matchCount = static_cast<int>(s.matches.size());
    s.listShown = active;
    if (s.matchCount == 0) {
        s.highlighted = -1;
        std::fill(std::begin(s.listRect), std::end(s.listRect), 0.0f);
        return edited;
    }
    s.highlighted = std::clamp(s.highlighted, 0, s.matchCount - 1);

    DrawGhostText(s, buffer, word, fieldMin);
    // The keys are read for the next frame before this field is drawn again:
    // the list of this frame claims them now.
    if (active && g.ActiveId == id) ClaimListKeys(g, true, flags);
    if (active) {
        DrawMatchList(s, label, typed, fieldMin, fieldMax, listClick);
        // Keyboard navigation would move on the list's keys next frame.
        gFrameDriver.suppressKeyboardNav = true;
    }
    return edited;
}
