// palette_saving.cpp — the SAVE PALETTE view.
//
// Index
//   ServeSavePaletteRequest
//   DrawSavePaletteButtons   Cancel / Save, and the save itself
//   DrawSavePaletteGroups / DrawSavePaletteFooter
#include "ui/palette_saving.h"

#include <imgui.h>

#include <cstdio>

#include "app/style_scopes.h"
#include "app/theme.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "ui/library_panel.h"

void ServeSavePaletteRequest(LibraryPanelState& panel, AppState& app, const Project& project, double now) {
    if (!panel.savePaletteRequest) return;
    panel.savePaletteRequest = false;
    CollectProjectSoundGroups(project, panel.groups);
    if (!panel.groups.Empty()) {  // a group exists only once it holds a file
        app.savePaletteOpen = true;
        return;
    }
    SetPanelMessage(panel.message, "No audio files to save.", now);
}

void DrawSavePaletteButtons(LibraryPanelState& panel, AppState& app, SoundLibrary& library, float contentWidth,
                            double now) {
    const float width = (contentWidth - 6) / 2;
    const int ticked = TickedFileCount(panel.groups);
    bool close = false;
    {
        SecondaryButtonScope look;
        if (ImGui::Button("Cancel", ImVec2(width, 0))) close = true;
    }
    ImGui::SameLine(0, 6);
    char label[64];
    std::snprintf(label, sizeof label, "\uF0C7  Save %d file%s", ticked, PluralSuffix(ticked));
    {
        PrimaryButtonScope look;
        ImGui::BeginDisabled(ticked < 1 || LibraryChangesWait(library));
        if (ImGui::Button(label, ImVec2(width, 0))) {
            const PaletteSaveOutcome outcome = SavePaletteFromGroups(library, panel.groups, app.projectPath);
            SetPanelMessage(panel.message, outcome.message, now);
            if (outcome.added > 0) {
                // The new palette asks for its name at once.
                app.renamingLibrary = outcome.newIndex;
                CopyTextField(app.libraryRenameBuffer, outcome.name);
                app.libraryRenameFocus = true;
            }
            close = true;
        }
        ImGui::EndDisabled();
    }
    if (close) {
        app.savePaletteOpen = false;
        panel.groups.Clear();
    }
}

void DrawSavePaletteGroups(LibraryPanelState& panel) {
    UsageGroups& g = panel.groups.groups;
    for (size_t i = 0; i < g.usageGroupNames.size(); ++i) {
        ImGui::PushID(static_cast<int>(7000 + i));
        bool ticked = g.usageGroupChecked[i];
        const std::string label = GroupCheckboxLabel(g.usageGroupNames[i], g.usageGroupCounts[i]);
        if (ImGui::Checkbox(label.c_str(), &ticked)) g.usageGroupChecked[i] = ticked;
        ImGui::PopID();
    }
}

void DrawSavePaletteFooter(const LibraryPanelState& panel) {
    const int ticked = TickedFileCount(panel.groups);
    ImGui::AlignTextToFramePadding();
    ImGui::TextColored(ImGui::ColorConvertU32ToFloat4(gTheme.textDim), "%d file%s selected", ticked,
                       PluralSuffix(ticked));
}
