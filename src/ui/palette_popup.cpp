// palette_popup.cpp — the library filter's button and list.
//
// Index
//   Button     glyph, tooltip, right-click to clear
//   List       "Palettes", All / None, one checkbox per listed library
//   PalettePopup
//   DumpPalettePopup   "palette.*" fields of the window tests' state dump
#include "ui/palette_popup.h"

#include <imgui.h>

#include <algorithm>
#include <string>

#include "app/style_scopes.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "ui/palette_filter_logic.h"
#include "ui/widgets.h"

namespace {

// Where the open list and its "None" button were drawn, and in which frame.
struct PalettePopupReport {
    int frame = -1;
    ImVec2 windowMin, windowMax, noneMin, noneMax;
};
PalettePopupReport gPaletteReport;

constexpr const char* kPaletteGlyph = "\uF53F";  // palette

bool WriteFilter(char* filter, size_t size, const std::string& text) {
    if (std::string_view(filter) == text) return false;
    CopyTextField(filter, size, text);
    return true;
}

// ---------------------------------------------------------------------------
// Button
// ---------------------------------------------------------------------------

bool DrawButton(const char* id, char* filter, size_t size, float buttonWidth) {
    bool changed = false;
    const bool empty = filter[0] == '\0';
    const std::string label = std::string(kPaletteGlyph) + id;
    {
        InspectorIconButtonScope look;
        ImGui::PushStyleColor(ImGuiCol_Text, ImGui::ColorConvertU32ToFloat4(empty ? gTheme.textMuted
                                                                                  : gTheme.primaryButtonText));
        const bool clicked = buttonWidth > 0 ? ImGui::Button(label.c_str(), ImVec2(buttonWidth, buttonWidth))
                                             : ImGui::SmallButton(label.c_str());
        ImGui::PopStyleColor();
        if (clicked) ImGui::OpenPopup(id);
    }
    if (ImGui::IsItemHovered()) {
        if (empty)
            ShowStyledTooltip("Assign palettes");
        else
            ShowStyledTooltip("Palette filter: %s\nRight-click to clear", filter);
        if (ImGui::IsMouseClicked(ImGuiMouseButton_Right)) changed = WriteFilter(filter, size, "");
    }
    return changed;
}

// ---------------------------------------------------------------------------
// List
// ---------------------------------------------------------------------------

bool DrawList(char* filter, size_t size, const SoundLibrary& library, int idBase) {
    bool changed = false;
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textMuted), "Palettes");
    {
        LinkButtonScope link;
        const ImGuiStyle& style = ImGui::GetStyle();
        // Each small button is its text and the frame padding on both sides.
        const float buttons = ImGui::CalcTextSize("All").x + ImGui::CalcTextSize("None").x + 4 * style.FramePadding.x +
                              style.ItemSpacing.x;
        ImGui::SameLine(std::max(0.0f, ImGui::GetWindowContentRegionMax().x - buttons));
        if (ImGui::SmallButton("All")) changed |= WriteFilter(filter, size, "");
        ImGui::SameLine();
        if (ImGui::SmallButton("None")) changed |= WriteFilter(filter, size, kNoPalettesFilter);
        gPaletteReport.frame = ImGui::GetFrameCount();
        gPaletteReport.noneMin = ImGui::GetItemRectMin();
        gPaletteReport.noneMax = ImGui::GetItemRectMax();
        gPaletteReport.windowMin = ImGui::GetWindowPos();
        gPaletteReport.windowMax = ImVec2(gPaletteReport.windowMin.x + ImGui::GetWindowWidth(),
                                          gPaletteReport.windowMin.y + ImGui::GetWindowHeight());
    }
    ImGui::Dummy(ImVec2(1, 2));
    ImGui::Separator();
    ImGui::Dummy(ImVec2(1, 2));

    const std::vector<int> listed = ListedPalettes(library);
    if (listed.empty()) {
        ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "No palettes loaded");
        return changed;
    }
    for (int i : listed) {
        const LibraryIndex& l = library.libraries[size_t(i)];
        bool ticked = PaletteTicked(filter, l.name);
        ImGui::PushID(idBase + i);
        const std::string label = PaletteCheckboxLabel(l.name, static_cast<int>(l.entries.size()));
        if (ImGui::Checkbox(label.c_str(), &ticked))
            changed |= WriteFilter(filter, size, RewritePaletteFilter(filter, library, listed, i, ticked, size));
        ImGui::PopID();
    }
    return changed;
}

}  // namespace

// ---------------------------------------------------------------------------
// PalettePopup
// ---------------------------------------------------------------------------

bool PalettePopup(const char* id, char* filter, size_t filterSize, const SoundLibrary& library, float buttonWidth,
                  int idBase) {
    if (!filter || filterSize == 0) return false;
    bool changed = DrawButton(id, filter, filterSize, buttonWidth);

    PopupMenuScope look;
    const float width = std::max(16 * ImGui::GetFontSize(), 200.0f);
    ImGui::SetNextWindowSizeConstraints(ImVec2(width, 0), ImVec2(width, 0.45f * ImGui::GetIO().DisplaySize.y));
    if (ImGui::BeginPopup(id)) {
        changed |= DrawList(filter, filterSize, library, idBase);
        ImGui::EndPopup();
    }
    return changed;
}

// ---------------------------------------------------------------------------
// DumpPalettePopup
// ---------------------------------------------------------------------------

void DumpPalettePopup(StateDump& dump) {
    const PalettePopupReport& r = gPaletteReport;
    const bool open = r.frame >= 0 && r.frame == ImGui::GetFrameCount();
    dump.Field("palette.open", open);
    if (!open) return;
    auto rect = [&](const std::string& key, const ImVec2& min, const ImVec2& max) {
        dump.Field(key + ".x", double(min.x));
        dump.Field(key + ".y", double(min.y));
        dump.Field(key + ".w", double(max.x - min.x));
        dump.Field(key + ".h", double(max.y - min.y));
    };
    rect("palette.window", r.windowMin, r.windowMax);
    rect("palette.none", r.noneMin, r.noneMax);
}
