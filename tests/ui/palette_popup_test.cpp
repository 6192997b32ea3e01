// The palette popup in a windowless GUI: its button opens the list, a
// right-click empties the filter, and a box in the list rewrites it.
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstdio>
#include <memory>

#include "library/sound_library.h"
#include "support/imgui_headless.h"
#include "ui/palette_popup.h"

namespace {

class PalettePopupRig : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"Rain", "Off", "Wind"}) {
            LibraryIndex l;
            l.name = name;
            l.entries.resize(name[0] == 'W' ? 12345 : 3);
            library->libraries.push_back(std::move(l));
        }
        library->libraries[1].enabled = 0;
    }
    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##rig", nullptr, ImGuiWindowFlags_NoDecoration);
        ImGui::SetCursorScreenPos(ImVec2(40, 40));
        popupId = ImGui::GetID("##libfilterpanel");
        changed = PalettePopup("##libfilterpanel", filter, sizeof filter, *library, 30, 100) || changed;
        ImGui::End();
        gui.EndFrame();
    }
    void Click(float x, float y, int button = 0) { gui.Click(x, y, [this] { Frame(); }, button); }
    ImGuiWindow* PopupWindow() const {
        char name[32];
        std::snprintf(name, sizeof name, "##Popup_%08x", popupId);
        return ImGui::FindWindowByName(name);
    }

    HeadlessGui gui;
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    char filter[512] = "Rain";
    ImGuiID popupId = 0;
    bool changed = false;
};

}  // namespace

TEST_F(PalettePopupRig, ARightClickOnTheButtonEmptiesTheFilter) {
    Frame();
    Click(55, 55, 1);
    EXPECT_STREQ(filter, "");
    EXPECT_TRUE(changed);
    EXPECT_FALSE(ImGui::IsPopupOpen(popupId, ImGuiPopupFlags_AnyPopupLevel));
}

TEST_F(PalettePopupRig, ABoxInTheListRewritesTheFilter) {
    Frame();
    Click(55, 55);
    Frame();
    ASSERT_TRUE(ImGui::IsPopupOpen(popupId, ImGuiPopupFlags_AnyPopupLevel));
    const ImGuiWindow* popup = PopupWindow();
    ASSERT_NE(popup, nullptr);
    EXPECT_GE(popup->Size.x, 200.0f) << "the list is at least 200 points wide";
    EXPECT_FALSE(changed) << "opening changes nothing";

    // The last box (Wind; Off is disabled and not listed) is the list's last line.
    const float boxY = popup->ContentRegionRect.Max.y - ImGui::GetFrameHeight() / 2;
    Click(popup->ContentRegionRect.Min.x + 8, boxY);
    EXPECT_STREQ(filter, "") << "ticking Wind ticks every listed library: the empty filter";
    EXPECT_TRUE(changed);
    changed = false;
    Frame();
    Click(popup->ContentRegionRect.Min.x + 8, boxY);
    EXPECT_STREQ(filter, "Rain") << "clearing it names the others";
    EXPECT_TRUE(changed);
}
