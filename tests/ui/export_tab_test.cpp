// The Export tab: which controls and the button take input and what their
// tooltips say, the button's label, and a click from the dialog's answer to
// the files on disk and the toast.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "export/export_rig.h"
#include "export/export_settings.h"
#include "ui/export_tab_logic.h"

namespace {

// ---------------------------------------------------------------------------
// Enablement, tints and tooltips
// ---------------------------------------------------------------------------

TEST(ExportTabRules, TheButtonsEnablementAndTooltipFirstMatchWins) {
    ExportSettings s;  // AAF and WAV on, Mix on
    ExportReadiness ready;
    ready.hasResults = ready.dialogInstalled = ready.cacheReady = true;
    auto state = [&](const ExportReadiness& r) { return ExportButtonStateFor(s, r); };
    EXPECT_TRUE(state(ready).enabled);
    EXPECT_EQ(state(ready).tooltip, nullptr);

    ExportReadiness r = ready;
    r.running = true;
    r.hasResults = false;
    EXPECT_STREQ(state(r).tooltip, "Export in progress...");
    r.running = false;
    EXPECT_FALSE(state(r).enabled);
    EXPECT_STREQ(state(r).tooltip, "Render the timeline first");
    r = ready;
    r.dialogInstalled = false;
    EXPECT_STREQ(state(r).tooltip, "Render the timeline first");

    // WAV on with no output type: disabled even with AAF on.
    s.exportWavMixdown = false;
    EXPECT_FALSE(state(ready).enabled);
    EXPECT_STREQ(state(ready).tooltip, "Select at least one WAV output type");
    s.exportWavClips = true;
    r = ready;
    r.cacheReady = false;
    EXPECT_STREQ(state(r).tooltip, "Waiting for audio cache...");
    s.exportFormatWAV = false;
    EXPECT_TRUE(state(r).enabled) << "AAF alone does not wait for the voices";
    s.exportFormatAAF = false;
    EXPECT_FALSE(state(ready).enabled);
    EXPECT_STREQ(state(ready).tooltip, "Select at least one format");
}

TEST(ExportTabRules, ControlsFollowTheirSectionAndKeepTheirValues) {
    ExportSettings s;
    s.exportFormatAAF = false;
    s.handleDuration = 2.5f;
    s.exportAAFMarkers = true;
    const ExportSettings before = s;
    ExportControls c = ExportControlsFor(s, true);
    EXPECT_FALSE(c.handleLength || c.fullSource || c.clipGain || c.markers || c.sourceChannels)
        << "AAF off greys its five controls";
    EXPECT_TRUE(c.mix && c.stems && c.tracks && c.clips);
    EXPECT_EQ(s.handleDuration, before.handleDuration);
    EXPECT_EQ(s.exportAAFMarkers, before.exportAAFMarkers);
    EXPECT_EQ(OptionCheckboxTint(false, true), CheckboxTint::Dim);
    EXPECT_EQ(OptionCheckboxTint(true, false), CheckboxTint::Faded);
    EXPECT_EQ(OptionCheckboxTint(true, true), CheckboxTint::Normal);
    EXPECT_EQ(SectionCheckboxTint(false), CheckboxTint::Faded);

    s.exportFormatAAF = true;
    s.handleFullSource = true;
    c = ExportControlsFor(s, true);
    EXPECT_FALSE(c.handleLength) << "full source: the length is not used";
    EXPECT_TRUE(c.fullSource);

    // The wet stem needs the mixer's reverb, whatever the formats.
    EXPECT_FALSE(ExportControlsFor(s, false).wetStem);
    EXPECT_STREQ(WetStemTooltip(s, false), "Enable reverb in the Mixer tab first");
    EXPECT_TRUE(ExportControlsFor(s, true).wetStem);
    EXPECT_NE(std::string(WetStemTooltip(s, true)).find("WAV: <name> - Reverb.wav"), std::string::npos);
    s.exportFormatAAF = s.exportFormatWAV = false;
    EXPECT_FALSE(ExportControlsFor(s, true).wetStem);
    EXPECT_STREQ(WetStemTooltip(s, true), "Select a format above first");
}

TEST(ExportTabRules, TheButtonsLabel) {
    ExportSettings s;
    EXPECT_EQ(ExportButtonLabel(false, s), "\xEE\x82\x9A Export AAF + WAV");
    EXPECT_EQ(ExportButtonLabel(true, s), "\xEE\x82\x9A Exporting...");
    s.exportFormatWAV = false;
    EXPECT_EQ(ExportButtonLabel(false, s, kExportFallbackGlyph), "\xEF\x95\xAE Export AAF");
    s.exportFormatAAF = false;
    EXPECT_EQ(ExportButtonLabel(false, s), "\xEE\x82\x9A Export");
    s.exportFormatWAV = true;
    EXPECT_EQ(ExportButtonLabel(false, s), "\xEE\x82\x9A Export WAV");
}

// ---------------------------------------------------------------------------
// The click
// ---------------------------------------------------------------------------

std::string gDialogAnswer;
int gDialogCalls = 0;
std::string AnswerDialog() {
    ++gDialogCalls;
    return gDialogAnswer;
}

class ExportClick : public testing::Test {
protected:
    void SetUp() override {
        gDialogCalls = 0;
        rig.Add(ConstantVoice(0.5, 1.0, 0.25), "Rain");
        rig.AssignTracks();
        rig.app->exportSettings.exportFormatAAF = false;
        rig.app->exportSettings.exportWavMixdown = true;
        rig.app->exportSaveDialog = AnswerDialog;
        std::filesystem::create_directories(rig.Out());
    }

    // Click, then the frame's finish once the thread is done.
    std::optional<ExportStart> ClickAndFinish() {
        std::optional<ExportStart> start = ExportButtonClicked(rig.Context());
        if (start == ExportStart::Started) {
            for (int i = 0; i < 20000 && !rig.app->exportDone.load(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            FinishExport(*rig.app);
        }
        return start;
    }

    ExportRig rig;
};

TEST_F(ExportClick, ACancelledDialogChangesNothing) {
    gDialogAnswer = "";
    EXPECT_FALSE(ClickAndFinish().has_value());
    EXPECT_EQ(gDialogCalls, 1);
    EXPECT_FALSE(rig.app->exportRunning.load());
    EXPECT_EQ(ExportStatusText(*rig.app), "");
    rig.app->exportSaveDialog = nullptr;
    EXPECT_FALSE(ClickAndFinish().has_value());
}

TEST_F(ExportClick, TheChosenNameBecomesTheBaseAndTheToastFollows) {
    gDialogAnswer = rig.Out() + "/Mix.wav";
    EXPECT_EQ(ClickAndFinish(), ExportStart::Started);
    EXPECT_TRUE(std::filesystem::exists(rig.OutFile("Mix.wav")));
    EXPECT_FALSE(std::filesystem::exists(rig.OutFile("Mix.wav.wav")));
    EXPECT_EQ(rig.app->toastText, "Export complete");
    EXPECT_EQ(ExportStatusText(*rig.app), "Export complete \xE2\x80\x94 1 file");
    EXPECT_FALSE(rig.app->exportRunning.load());

    // A path without a file name exports as "Tessaloom".
    gDialogAnswer = rig.Out() + "/";
    EXPECT_EQ(ClickAndFinish(), ExportStart::Started);
    EXPECT_TRUE(std::filesystem::exists(rig.OutFile("Tessaloom.wav")));
}

TEST_F(ExportClick, AThreadThatCannotStartClearsTheStateAndSaysSo) {
    gDialogAnswer = rig.Out() + "/Mix.wav";
    ExportContext ctx = rig.Context();
    ctx.startThread = [](std::function<void()>) { return false; };
    EXPECT_EQ(ExportButtonClicked(ctx), ExportStart::ThreadFailed);
    EXPECT_FALSE(rig.app->exportRunning.load());
    EXPECT_EQ(rig.app->toastText, "Export failed \xE2\x80\x94 the export could not start");
}

TEST_F(ExportClick, TheJobTakesTheWorkAreaOnlyWhenItRunsForwardAndFullSourceAsMinusOne) {
    AppState& app = *rig.app;
    app.workAreaIn = 8;
    app.workAreaOut = 3;
    ExportJob job = MakeExportJob(app, *rig.project, *rig.engine, "/x/Reel.wav");
    EXPECT_EQ(job.rangeIn, -1);
    EXPECT_EQ(job.rangeOut, -1);
    app.workAreaOut = 12;
    app.exportSettings.handleDuration = 2.0f;
    app.exportSettings.handleFullSource = true;
    job = MakeExportJob(app, *rig.project, *rig.engine, "/x/Reel.wav");
    EXPECT_EQ(job.rangeIn, 8);
    EXPECT_EQ(job.rangeOut, 12);
    EXPECT_EQ(job.handleSeconds, -1.0f);
    EXPECT_EQ(app.exportSettings.handleDuration, 2.0f) << "the field keeps its value";
    EXPECT_EQ(job.baseName, "Reel");
    EXPECT_EQ(job.outDir, "/x");
}

}  // namespace
