// The keyword autocomplete field in a windowless GUI: typed text, the list's
// keys (which the text field must not see) and a click in the list.
#include <SDL_scancode.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <cstring>
#include <string>

#include "library/sound_library.h"
#include "support/imgui_headless.h"
#include "ui/keyword_field.h"

namespace {

class KeywordField : public testing::Test {
protected:
    void SetUp() override {
        gui.MapKeysAsSdl();
        ImGui::GetIO().ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
        for (const auto& [word, count] : {std::pair<const char*, int>{"bass", 9}, {"bat", 5}, {"bath", 7}, {"rain", 3}}) {
            KeywordRecord r;
            r.token = r.display = word;
            r.count = count;
            keywords.push_back(r);
        }
        Frame();
        Click(kFieldX + 40, kFieldY + 5);
        ASSERT_TRUE(FieldActive());
    }

    // One frame: the field at a fixed place, another text field after it.
    void Frame() {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(gui.width, gui.height));
        ImGui::Begin("##rig", nullptr, ImGuiWindowFlags_NoDecoration);
        ImGui::SetCursorScreenPos(ImVec2(kFieldX, kFieldY));
        fieldId = ImGui::GetID("##kw");
        edited = KeywordAutocompleteField("##kw", "keywords...", text, sizeof text, 200, keywords);
        ImGui::SetCursorScreenPos(ImVec2(kFieldX, kFieldY + 200));
        nextId = ImGui::GetID("##next");
        ImGui::InputText("##next", other, sizeof other);
        ImGui::End();
        gui.EndFrame();
    }
    void Click(float x, float y) { gui.Click(x, y, [this] { Frame(); }); }
    void Key(int scancode) {
        gui.SetKey(scancode, true);
        Frame();
        gui.SetKey(scancode, false);
        Frame();
    }
    void Type(const char* chars) {
        for (const char* c = chars; *c; ++c) {
            gui.TypeText(std::string(1, *c));
            Frame();
        }
    }
    bool FieldActive() const { return ImGui::GetActiveID() == fieldId; }
    const KeywordFieldState& State() const { return *FindKeywordFieldState(fieldId); }
    bool ListWindowShown() const {
        const ImGuiWindow* w = ImGui::FindWindowByName("##ac_##kw");
        return w && w->Active;
    }

    static constexpr float kFieldX = 40;
    static constexpr float kFieldY = 40;
    HeadlessGui gui;
    std::vector<KeywordRecord> keywords;
    char text[256] = {};
    char other[64] = {};
    ImGuiID fieldId = 0;
    ImGuiID nextId = 0;
    bool edited = false;
};

}  // namespace

TEST_F(KeywordField, TheListWaitsForTheSecondCharacter) {
    Type("b");
    EXPECT_EQ(State().matchCount, 0);
    EXPECT_FALSE(ListWindowShown());
    Type("a");
    EXPECT_EQ(State().matchCount, 3);
    EXPECT_EQ(State().matches, (std::vector<std::string>{"bass", "bath", "bat"}));
    EXPECT_TRUE(ListWindowShown());
    EXPECT_EQ(State().highlighted, 0);
}

TEST_F(KeywordField, UpAndDownStopAtTheEnds) {
    Type("ba");
    Key(SDL_SCANCODE_UP);
    EXPECT_EQ(State().highlighted, 0);
    for (int i = 0; i < 5; ++i) Key(SDL_SCANCODE_DOWN);
    EXPECT_EQ(State().highlighted, 2);
    Key(SDL_SCANCODE_UP);
    EXPECT_EQ(State().highlighted, 1);
    EXPECT_TRUE(FieldActive()) << "the arrows did not move the keyboard focus";
    EXPECT_STREQ(text, "ba");
}

TEST_F(KeywordField, TabCompletesWithoutMovingTheFocus) {
    Type("+rain ba");
    Key(SDL_SCANCODE_DOWN);
    Key(SDL_SCANCODE_TAB);
    EXPECT_STREQ(text, "+rain bath ");
    EXPECT_TRUE(FieldActive()) << "Tab stayed with the field";
    EXPECT_EQ(State().cursor, 11);
    EXPECT_FALSE(ListWindowShown()) << "a completed word asks for nothing";
    Type("x");
    EXPECT_STREQ(text, "+rain bath x") << "typing goes on after the blank";

    // With no list, Tab moves the focus on as everywhere else.
    Key(SDL_SCANCODE_TAB);
    Frame();
    EXPECT_FALSE(FieldActive());
}

TEST_F(KeywordField, EnterCompletesWithoutEndingTheEdit) {
    Type("-ba");
    Key(SDL_SCANCODE_RETURN);
    EXPECT_STREQ(text, "-bass ");
    EXPECT_TRUE(FieldActive()) << "Enter did not end the edit";
    Type("ra");
    Key(SDL_SCANCODE_KP_ENTER);
    EXPECT_STREQ(text, "-bass rain ");
    EXPECT_TRUE(FieldActive());
}

TEST_F(KeywordField, EscapeClosesTheListAndKeepsTheText) {
    Type("rain ba");
    ASSERT_TRUE(ListWindowShown());
    Key(SDL_SCANCODE_ESCAPE);
    EXPECT_STREQ(text, "rain ba") << "the text field did not undo the edit";
    EXPECT_TRUE(FieldActive());
    EXPECT_EQ(State().matchCount, 0);
    Frame();
    Frame();
    EXPECT_FALSE(ListWindowShown()) << "the list stays closed while nothing is typed";
    Type("t");
    EXPECT_TRUE(ListWindowShown()) << "typing on opens it again";
    EXPECT_EQ(State().matches, std::vector<std::string>{"bath"}) << "bat itself is typed whole";
}

TEST_F(KeywordField, AClickInTheListTakesItsKeywordAndTheFieldStaysActive) {
    Type("ba");
    ASSERT_TRUE(ListWindowShown());
    const KeywordFieldState& s = State();
    const float rowHeight = ImGui::GetFontSize() + 1;
    // The second row: "bath".
    Click(s.listRect[0] + 20, s.listRect[1] + 4 + rowHeight * 1.5f);
    Frame();
    EXPECT_STREQ(text, "bath ");
    EXPECT_TRUE(FieldActive());
    EXPECT_NE(ImGui::GetActiveID(), nextId);
}

TEST_F(KeywordField, ACompletionThatDoesNotFitLeavesTheText) {
    // Fill the field, while it is not being edited, up to room for one word of two letters.
    Click(kFieldX + 40, kFieldY + 120);
    ASSERT_FALSE(FieldActive());
    std::memset(text, 'x', sizeof text - 4);
    text[sizeof text - 4] = ' ';
    text[sizeof text - 3] = '\0';
    Frame();
    Click(kFieldX + 40, kFieldY + 5);
    gui.SetKey(SDL_SCANCODE_END, true);
    Frame();
    gui.SetKey(SDL_SCANCODE_END, false);
    Frame();
    Type("ba");
    ASSERT_TRUE(ListWindowShown());
    const std::string before = text;
    Key(SDL_SCANCODE_TAB);
    EXPECT_EQ(std::string(text), before);
    EXPECT_TRUE(FieldActive());
}
