// The Mixer and Export tabs in the program's own window: a fader dragged to
// the bottom reads "-inf", and an export whose destination the dialog (a
// stand-in for zenity) answers writes its WAV file and shows the toast.
#include <gtest/gtest.h>

#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <vector>
#include <algorithm>
#include <string>

#include "app/fonts.h"
#include "document/event.h"
#include "document/project.h"
#include "persistence/project_file.h"
#include "support/audio_fixtures.h"
#include "support/window_harness.h"
#include "ui/mixer_panel_logic.h"

namespace {

float Number(std::map<std::string, std::string>& dump, const std::string& key) {
    EXPECT_TRUE(dump.count(key)) << key;
    return std::strtof(dump[key].c_str(), nullptr);
}

std::string Click(float x, float y) {
    char line[64];
    std::snprintf(line, sizeof line, "click %.1f %.1f\nframes 2\n", x, y);
    return line;
}

// Press at `from`, move to `to` in steps of one frame each, release there.
std::string Drag(float x, float fromY, float toY) {
    std::string s;
    char line[64];
    std::snprintf(line, sizeof line, "move %.1f %.1f\nframes 1\npress\nframes 1\n", x, fromY);
    s += line;
    for (int i = 1; i <= 8; ++i) {
        std::snprintf(line, sizeof line, "move %.1f %.1f\nframes 1\n", x, fromY + (toY - fromY) * float(i) / 8);
        s += line;
    }
    return s + "release\nframes 2\n";
}

double Luminance(uint32_t c) { return 0.299 * (c & 0xFF) + 0.587 * ((c >> 8) & 0xFF) + 0.114 * ((c >> 16) & 0xFF); }

// The readout under strip i as ink per pixel column: what is brighter than
// the strip's own background, summed over the text's line.
std::vector<double> ReadoutInk(const PngImage& shot, const MixerLayout& l, int strip, float scale, float fontSize) {
    const int x0 = int((l.stripLeft[size_t(strip)] + 3) * scale);
    const int x1 = int((l.stripLeft[size_t(strip)] + l.stripWidth - 3) * scale);
    const int y0 = int((l.faderBottom + 2) * scale);
    const int y1 = int((l.faderBottom + 2 + fontSize) * scale);
    const double background = Luminance(shot.PackedAt(x0, int((l.faderTop + 4) * scale)));
    std::vector<double> columns;
    for (int x = x0; x < x1; ++x) {
        double ink = 0;
        for (int y = y0; y < y1; ++y) ink += std::max(0.0, Luminance(shot.PackedAt(x, y)) - background - 8);
        columns.push_back(ink);
    }
    return columns;
}

// 0 for the same text, towards 1 for different texts: the two profiles
// compared from their first inked column.
double TextDistance(const std::vector<double>& a, const std::vector<double>& b) {
    auto first = [](const std::vector<double>& v) {
        const double top = *std::max_element(v.begin(), v.end());
        size_t i = 0;
        while (i < v.size() && v[i] < 0.1 * top) ++i;
        return i;
    };
    const size_t fa = first(a), fb = first(b);
    double diff = 0, sum = 0;
    for (size_t i = 0; fa + i < a.size() || fb + i < b.size(); ++i) {
        const double va = fa + i < a.size() ? a[fa + i] : 0, vb = fb + i < b.size() ? b[fb + i] : 0;
        diff += std::fabs(va - vb);
        sum += va + vb;
    }
    return sum > 0 ? diff / sum : 0;
}

class MixerExportWindow : public ProgramScriptTest {
protected:
    // Where the tabs, the Normalize checkbox and the Export button stand (points).
    std::map<std::string, std::string> Look(const std::string& extra = "") {
        std::string script = "frames 3\ndump look.txt\n" + extra + "quit\n";
        ProgramRun run = Run(script);
        EXPECT_EQ(run.exitCode, 0) << run.log;
        return ReadStateDump(dir.File("look.txt"));
    }
};

class MixerWindowAtScale : public MixerExportWindow, public testing::WithParamInterface<float> {};

TEST_P(MixerWindowAtScale, AGroupFaderDraggedToTheBottomReadsMinusInf) {
    const float scale = GetParam();
    auto look = Look();
    const PointRect mixerTab = ParseRect(look["tab.3.rect"]);
    const MixerLayout l = ComputeMixerLayout(Number(look, "layout.videoWidth"), Number(look, "layout.titleBarHeight"),
                                             Number(look, "layout.panelWidth"), Number(look, "layout.videoHeight"), kFontSizeTable[1][0]);
    ASSERT_GT(l.faderHeight, 60);
    const float unityY = l.HandleY(0.8f);
    std::string script = "frames 3\n" + Click(mixerTab.cx(), mixerTab.cy()) + "screenshot before.png\n";
    script += Drag(l.StripCentre(0), unityY, l.faderBottom + 30);  // FX A
    script += Drag(l.StripCentre(2), unityY, l.faderBottom + 30);  // BG
    script += "frames 2\nscreenshot after.png\ndump after.txt\nquit\n";
    char value[16];
    std::snprintf(value, sizeof value, "%.1f", double(scale));
    ProgramRun run = Run(script, {{"TL_UI_SCALE", value}});
    ASSERT_EQ(run.exitCode, 0) << run.log;

    auto dump = ReadStateDump(dir.File("after.txt"));
    EXPECT_EQ(dump["activeTab"], "3");
    EXPECT_EQ(dump["mixer.groupGain1"], "0.0000") << "FX A";
    EXPECT_EQ(dump["mixer.groupGain0"], "0.0000") << "BG";
    EXPECT_EQ(dump["mixer.groupGain2"], "1.0000") << "FX B untouched";
    EXPECT_NE(dump["regions"].find("##mixer_panel"), std::string::npos);

    PngImage before, after;
    ASSERT_TRUE(ReadPng(dir.File("before.png"), before));
    ASSERT_TRUE(ReadPng(dir.File("after.png"), after));
    const float font = kFontSizeTable[1][0];  // the small font of the Medium preset
    // Before: FX A and FX B read "0.0". After: FX A and BG read the same
    // text ("-inf"), which is not FX B's "0.0".
    const auto a0 = ReadoutInk(before, l, 0, scale, font), b0 = ReadoutInk(before, l, 1, scale, font);
    const auto a1 = ReadoutInk(after, l, 0, scale, font), b1 = ReadoutInk(after, l, 1, scale, font);
    const auto bg1 = ReadoutInk(after, l, 2, scale, font);
    EXPECT_LT(TextDistance(a0, b0), 0.05) << "both read 0.0";
    EXPECT_LT(TextDistance(a1, bg1), 0.05) << "both read -inf";
    EXPECT_GT(TextDistance(a1, b1), 0.15) << "-inf is not 0.0";
    EXPECT_LT(TextDistance(b1, b0), 0.05);
    // The handle left the unity mark for the bottom of the travel.
    const int cx = int(l.StripCentre(0) * scale);
    const double strip = Luminance(after.PackedAt(cx, int((l.faderTop + 4) * scale)));
    EXPECT_GT(Luminance(before.PackedAt(cx, int((unityY - 8) * scale))), strip + 20);
    EXPECT_LT(Luminance(after.PackedAt(cx, int((unityY - 8) * scale))), strip + 20);
    EXPECT_GT(Luminance(after.PackedAt(cx, int((l.HandleY(0) - 8) * scale))), strip + 20);
}

INSTANTIATE_TEST_SUITE_P(Scales, MixerWindowAtScale, testing::Values(1.0f, 1.5f));

TEST_F(MixerExportWindow, AnExportAnsweredByTheDialogWritesItsWavAndShowsTheToast) {
    // A project of one layer on a sound of its own.
    AudioSpec tone;
    tone.seconds = 1.0;
    ASSERT_TRUE(WriteTestAudio(dir.File("tone.wav"), tone));
    Project project;
    project.totalDuration = 4;
    project.fps = 25;
    Event e = MakeEvent(project, 1.0f, kShapeSpot, 0.5f);
    e.duration = 1.0f;
    project.events.push_back(e);
    RenderResult r;
    r.eventIdx = 0;
    r.filepath = dir.File("tone.wav");
    r.startTime = 1.0f;
    r.duration = 1.0f;
    r.sourceDuration = 1.0f;
    r.group = 1;
    project.results.push_back(r);
    project.rendered = true;
    ProjectSaveContext save;
    save.project = &project;
    ASSERT_TRUE(WriteProjectFile(dir.File("Scene.tlproj"), save));

    // zenity answers the export dialog with <dir>/out/Mix.wav.
    const std::string bin = dir.File("bin");
    mkdir(bin.c_str(), 0755);
    mkdir(dir.File("out").c_str(), 0755);
    const std::string zenity = bin + "/zenity";
    ASSERT_TRUE(WriteWholeFile(zenity, "#!/bin/sh\necho '" + dir.File("out/Mix.wav") + "'\n"));
    chmod(zenity.c_str(), 0755);
    const std::string path = bin + ":" + (std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin");
    // The preferences export the WAV mixdown only, which keeps the run short,
    // and keep the start-up launcher away (its close would take the first click).
    const std::string data = dir.File("data");
    std::filesystem::create_directories(data + "/Tessaloom");
    ASSERT_TRUE(
        WriteWholeFile(data + "/Tessaloom/com.tessaloom.prefs", "exportFormatAAF=0\nshowLauncherOnStartup=0\n"));

    auto look = Look();
    const PointRect settingsTab = ParseRect(look["tab.5.rect"]);
    const PointRect exportTab = ParseRect(look["tab.4.rect"]);
    Look(Click(settingsTab.cx(), settingsTab.cy()) + "dump settings.txt\n" + Click(exportTab.cx(), exportTab.cy()) +
         "dump look.txt\n");
    const PointRect normalize = ParseRect(ReadStateDump(dir.File("settings.txt"))["settings.normalize.rect"]);
    look = ReadStateDump(dir.File("look.txt"));
    const PointRect button = ParseRect(look["export.button.rect"]);
    ASSERT_GT(normalize.w, 0);
    ASSERT_GT(button.w, 0);
    EXPECT_EQ(look["export.toastText"], "");

    // Turning normalisation off rebuilds the voices (the fixture has none),
    // then the Export tab's button asks for the destination and exports.
    std::string script = "project " + dir.File("Scene.tlproj") + "\nframes 3\n";
    script += Click(settingsTab.cx(), settingsTab.cy());
    script += Click(normalize.x + normalize.h / 2, normalize.cy());
    script += "waittask 60\n";
    script += Click(exportTab.cx(), exportTab.cy());
    script += "dump ready.txt\nscreenshot ready.png\n";
    script += Click(button.cx(), button.cy());
    // Until the export has ended and shown its toast.
    // The normalisation changed the project: the close discards it.
    script += "settle 60\nscreenshot exported.png\ndump after.txt\ndiscard\nquit\n";
    ProgramRun run = Run(script, {{"PATH", path}, {"XDG_DATA_HOME", data}});
    ASSERT_EQ(run.exitCode, 0) << run.log;

    auto ready = ReadStateDump(dir.File("ready.txt"));
    EXPECT_EQ(ready["settings.normalizeLUFS"], "0");
    EXPECT_EQ(ready["export.results"], "1");
    EXPECT_EQ(ready["export.cacheReady"], "1") << "the voices were built";
    auto after = ReadStateDump(dir.File("after.txt"));
    EXPECT_EQ(after["export.toastText"], "Export complete");
    EXPECT_EQ(after["export.status"], "Export complete \xE2\x80\x94 1 file");
    EXPECT_EQ(after["export.running"], "0");
    // The footer shows the toast, in the green of good news, where it showed nothing before.
    EXPECT_EQ(after["band.footerLeft"], "Export complete");
    PngImage readyShot, exportedShot;
    ASSERT_TRUE(ReadPng(dir.File("ready.png"), readyShot));
    ASSERT_TRUE(ReadPng(dir.File("exported.png"), exportedShot));
    const float footerTop = Number(after, "layout.displayHeight") - Number(after, "layout.footerHeight");
    auto greenInk = [&](const PngImage& shot) {
        int count = 0;
        for (int y = int(footerTop); y < int(Number(after, "layout.displayHeight")); ++y)
            for (int x = 0; x < 200; ++x) {
                const uint32_t c = shot.PackedAt(x, y);
                const int r = int(c & 0xFF), g = int((c >> 8) & 0xFF), b = int((c >> 16) & 0xFF);
                if (g > 100 && g - r > 15 && g - b > 15) ++count;
            }
        return count;
    };
    EXPECT_EQ(greenInk(readyShot), 0);
    EXPECT_GT(greenInk(exportedShot), 30);

    // The mixdown holds the tone from 1 s on, silence before it.
    SF_INFO info{};
    SNDFILE* f = sf_open(dir.File("out/Mix.wav").c_str(), SFM_READ, &info);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format & SF_FORMAT_SUBMASK, SF_FORMAT_PCM_24);
    std::vector<float> samples(size_t(info.frames * info.channels));
    sf_readf_float(f, samples.data(), info.frames);
    sf_close(f);
    float early = 0, tone1 = 0;
    for (sf_count_t i = 0; i < info.frames; ++i) {
        const float v = std::fabs(samples[size_t(i * 2)]);
        if (i < info.samplerate * 9 / 10) early = std::max(early, v);
        if (i > info.samplerate * 11 / 10 && i < info.samplerate * 19 / 10) tone1 = std::max(tone1, v);
    }
    EXPECT_LT(early, 1e-4f);
    EXPECT_GT(tone1, 0.01f);
    EXPECT_FALSE(std::filesystem::exists(dir.File("out/Mix.wav.wav")));
}

}  // namespace
