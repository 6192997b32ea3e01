// What the GUI draws: labels with right-to-left names in display order (and
// measured so), the text being edited left as stored, wrapped lines ordered
// one by one, and the record of each widget's text with its clip rectangle.
#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <string>
#include <vector>

#include "app/drawn_text.h"
#include "app/test_driver.h"
#include "app/visual_text.h"
#include "support/imgui_headless.h"

namespace {

const char* const kHebrew = "\u05E9\u05DC\u05D5\u05DD";          // shalom
const char* const kArabic = "\u0633\u0644\u0627\u0645";          // salam, with lam-alef
const char* const kWords = "\u05D0\u05D1\u05D2 \u05D3\u05D4\u05D5 \u05D6\u05D7\u05D8";  // three words

class DrawnTextRig : public testing::Test {
protected:
    void SetUp() override { RecordDrawnText(&record); }
    void TearDown() override { RecordDrawnText(nullptr); }

    void Frame(const std::function<void()>& draw) {
        gui.Frame();
        ImGui::SetNextWindowPos(ImVec2(0, 0));
        ImGui::SetNextWindowSize(ImVec2(600, 400));
        ImGui::Begin("Probe", nullptr, ImGuiWindowFlags_NoDecoration);
        draw();
        ImGui::End();
        gui.EndFrame();
    }
    // The texts of the last frame drawn by `widget`.
    std::vector<DrawnText> By(const std::string& widget) {
        std::vector<DrawnText> found;
        for (const DrawnText& t : record.texts)
            if (t.widget == widget) found.push_back(t);
        return found;
    }

    HeadlessGui gui{800, 600};
    DrawnTextRecord record;
};

}  // namespace

TEST_F(DrawnTextRig, LabelsAreDrawnAndMeasuredInDisplayOrderWhileEditedTextStaysStored) {
    char field[64];
    std::snprintf(field, sizeof field, "%s", kArabic);
    ImVec2 fieldAt;
    auto draw = [&] {
        ImGui::TextUnformatted(kHebrew);
        ImGui::Button((std::string(kHebrew) + "##greet").c_str());
        ImGui::InputText("##field", field, sizeof field);
        fieldAt = ImGui::GetItemRectMin();
    };
    Frame(draw);
    ASSERT_EQ(By("Probe").size(), 1u);
    EXPECT_EQ(By("Probe")[0].text, VisualText(kHebrew));
    ASSERT_EQ(By("##greet").size(), 1u);
    EXPECT_EQ(By("##greet")[0].text, VisualText(kHebrew));
    ASSERT_EQ(By("##field").size(), 1u);
    EXPECT_EQ(By("##field")[0].text, VisualText(kArabic)) << "a field not being edited shows its text as a label";
    // Layouts measure what is drawn: lam and alef are one glyph.
    Frame([&] {
        EXPECT_FLOAT_EQ(ImGui::CalcTextSize(kArabic).x, ImGui::CalcTextSize(VisualText(kArabic).c_str()).x);
        EXPECT_FLOAT_EQ(ImGui::CalcTextSize(kArabic).x, 3 * ImGui::CalcTextSize("\uFEE1").x);
    });

    // Clicked into, the field edits the stored order under its cursor.
    gui.Click(fieldAt.x + 4, fieldAt.y + 4, [&] { Frame(draw); });
    Frame(draw);
    ASSERT_EQ(By("##field").size(), 1u);
    EXPECT_EQ(By("##field")[0].text, kArabic);
    EXPECT_STREQ(field, kArabic) << "the stored text never changes";
}

TEST_F(DrawnTextRig, AWrappedRightToLeftTextIsOrderedLineByLine) {
    Frame([&] {
        const float word = ImGui::CalcTextSize("\u05D0\u05D1\u05D2").x;
        ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + word * 1.5f);
        ImGui::TextUnformatted(kWords);
        ImGui::PopTextWrapPos();
    });
    const std::vector<DrawnText> lines = By("Probe");
    ASSERT_EQ(lines.size(), 3u);
    // The first word read stays on the first line, each drawn from the right.
    EXPECT_EQ(lines[0].text, "\u05D2\u05D1\u05D0");
    EXPECT_EQ(lines[1].text, "\u05D5\u05D4\u05D3");
    EXPECT_EQ(lines[2].text, "\u05D8\u05D7\u05D6");
    EXPECT_LT(lines[0].y, lines[1].y);
    EXPECT_LT(lines[1].y, lines[2].y);

    // Narrower than one letter: a whole letter a line, never half of one.
    Frame([&] {
        ImGui::PushTextWrapPos(ImGui::GetCursorPosX() + 1);
        ImGui::TextUnformatted("\u05D0\u05D1");
        ImGui::PopTextWrapPos();
    });
    const std::vector<DrawnText> letters = By("Probe");
    ASSERT_EQ(letters.size(), 2u);
    EXPECT_EQ(letters[0].text, "\u05D0");
    EXPECT_EQ(letters[1].text, "\u05D1");
}

TEST_F(DrawnTextRig, EachTextIsRecordedWithItsWidgetAndClipRectangleForOneFrame) {
    bool extra = true;
    auto draw = [&] {
        ImGui::Button("Play##transportPlay");
        ImGui::BeginChild("##narrow", ImVec2(40, 40));
        ImGui::TextUnformatted("a text far wider than its window");
        ImGui::EndChild();
        if (extra) ImGui::TextUnformatted("only once");
    };
    Frame(draw);
    ASSERT_EQ(By("##transportPlay").size(), 1u);
    const DrawnText play = By("##transportPlay")[0];
    EXPECT_EQ(play.text, "Play");
    EXPECT_TRUE(play.Whole());
    EXPECT_GT(play.width, 0);
    EXPECT_GT(play.fontSize, 0);

    ASSERT_EQ(By("##narrow").size(), 1u);
    const DrawnText cut = By("##narrow")[0];
    EXPECT_FALSE(cut.Whole()) << "the child's clip rectangle cuts it";
    EXPECT_LE(cut.clipWidth, 40.5f);
    ASSERT_EQ(By("Probe").size(), 1u);

    extra = false;
    Frame(draw);
    EXPECT_TRUE(By("Probe").empty()) << "the record holds the last frame only";
    EXPECT_EQ(By("##transportPlay").size(), 1u);
}

// The record belongs to the GUI context it was hooked on: once unhooked the
// frames still draw in display order but record nothing, and the dump says
// so; hooked again, recording starts afresh.
TEST_F(DrawnTextRig, OnlyAHookedRecordIsWrittenAndTheDumpReadsIt) {
    Frame([] { ImGui::TextUnformatted("first"); });
    ASSERT_EQ(By("Probe").size(), 1u);
    RecordDrawnText(nullptr);
    Frame([] { ImGui::TextUnformatted("second"); });
    ASSERT_EQ(record.texts.size(), 1u) << "nothing recorded while unhooked";
    EXPECT_EQ(record.texts[0].text, "first");
    StateDump unhooked;
    DumpDrawnText(unhooked);
    EXPECT_NE(unhooked.text.find("drawn.count=0\n"), std::string::npos) << unhooked.text;

    DrawnTextRecord other;
    RecordDrawnText(&other);
    Frame([] { ImGui::TextUnformatted("third"); });
    EXPECT_EQ(record.texts.size(), 1u) << "the earlier record is left alone";
    ASSERT_EQ(other.texts.size(), 1u);
    EXPECT_EQ(other.texts[0].text, "third");
    StateDump hooked;
    DumpDrawnText(hooked);
    EXPECT_NE(hooked.text.find("drawn.0.text=third\n"), std::string::npos) << hooked.text;
    RecordDrawnText(&record);
}
