// The Mixer tab: the fader law and its readout, meter ballistics, the strips'
// setters, the reverb space and knobs, and the panel itself driven with a
// scripted mouse in a windowless GUI (beside a stand-in audio thread).
#include <gtest/gtest.h>
#include <imgui.h>
#include <imgui_internal.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "picture/reference_audio.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/reverb.h"
#include "support/document_records.h"
#include "support/imgui_headless.h"
#include "ui/mixer_panel.h"
#include "ui/ui_layout.h"

namespace {

float Db(float gain) { return 20.0f * std::log10(gain); }

std::string Readout(float gain) {
    char text[16];
    FaderReadout(gain, text, sizeof text);
    return text;
}

// ---------------------------------------------------------------------------
// Fader law
// ---------------------------------------------------------------------------

TEST(MixerFaderLaw, TopsUnityAndBottomOfTheThreeFaders) {
    const FaderValueMap group(2.0f), master(1.5f), ref(1.0f);
    EXPECT_NEAR(FaderGainAtPosition(group, 1.0f), 2.0f, 1e-4f);
    EXPECT_NEAR(Db(FaderGainAtPosition(group, 1.0f)), 6.02f, 0.01f);
    EXPECT_NEAR(FaderGainAtPosition(group, 0.8f), 1.0f, 1e-6f) << "0 dB at 80 % of the travel";
    EXPECT_FLOAT_EQ(FaderPositionOfGain(group, 1.0f), 0.8f);
    EXPECT_EQ(FaderGainAtPosition(group, 0.0f), 0.0f);
    EXPECT_EQ(Readout(FaderGainAtPosition(group, 0.0f)), "-inf");

    EXPECT_NEAR(FaderGainAtPosition(master, 1.0f), 1.5f, 1e-4f);
    EXPECT_NEAR(Db(FaderGainAtPosition(master, 1.0f)), 3.52f, 0.01f);
    EXPECT_NEAR(FaderGainAtPosition(ref, 1.0f), 1.0f, 1e-6f) << "Ref tops out at 0 dB";
    EXPECT_FLOAT_EQ(FaderPositionOfGain(ref, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(FaderPositionOfGain(ref, 2.0f), 1.0f) << "above the top stays at the top";

    EXPECT_EQ(FaderPositionOfGain(group, 0.0009f), 0.0f) << "below 0.001 sits at the bottom";
    EXPECT_EQ(FaderPositionOfGain(group, std::nanf("")), 0.0f);
    // -60 dB is the bottom, linear in dB on each side of unity.
    EXPECT_NEAR(FaderPositionOfGain(group, std::pow(10.0f, -30.0f / 20)), 0.4f, 1e-5f);
    EXPECT_NEAR(FaderPositionOfGain(group, std::pow(10.0f, 3.01f / 20)), 0.9f, 1e-3f);
}

TEST(MixerFaderLaw, TheInverseGivesTheGainBackFromMinus59ToTheTop) {
    const struct {
        float maxGain;
        float topDb;
    } faders[] = {{2.0f, 6.0f}, {1.5f, 3.5f}, {1.0f, 0.0f}};
    for (const auto& f : faders) {
        const FaderValueMap law(f.maxGain);
        for (float db = -59.0f; db <= f.topDb + 1e-3f; db += 0.25f) {
            const float g = std::pow(10.0f, db / 20);
            EXPECT_NEAR(FaderGainAtPosition(law, FaderPositionOfGain(law, g)), g, g * 1e-4f)
                << db << " dB on a fader up to " << f.maxGain;
        }
    }
}

TEST(MixerFaderLaw, ReadoutAndTicks) {
    EXPECT_EQ(Readout(1.0f), "0.0");
    EXPECT_EQ(Readout(2.0f), "6.0");
    EXPECT_EQ(Readout(0.001f), "-inf");
    EXPECT_EQ(Readout(std::pow(10.0f, -59.0f / 20)), "-inf");
    EXPECT_EQ(Readout(std::pow(10.0f, -58.9f / 20)), "-58.9");
}

std::vector<std::string> Labels(float maxGain, float faderHeight, float labelHeight) {
    std::array<FaderScaleMark, 8> marks;
    const int n = FaderScaleMarks(FaderValueMap(maxGain), 100, faderHeight, labelHeight, marks);
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(std::string(marks[size_t(i)].tick->label) + (marks[size_t(i)].labelled ? "" : "~"));
    return out;
}

TEST(MixerFaderLaw, TheScaleShowsPlusSixOnlyOnGroupsAndKeepsItsLabelsApart) {
    using V = std::vector<std::string>;
    // A tall fader: every tick of its range labelled, "+6" at the very top
    // of a group's travel and on no other fader.
    EXPECT_EQ(Labels(2.0f, 400, 12), (V{"+6", "0", "-6", "-12", "-18", "-24", "-36", "-48"}));
    EXPECT_EQ(Labels(1.5f, 400, 12), (V{"0", "-6", "-12", "-18", "-24", "-36", "-48"}));
    EXPECT_EQ(Labels(1.0f, 400, 12), (V{"0", "-6", "-12", "-18", "-24", "-36", "-48"})) << "0 dB tops Ref";
    std::array<FaderScaleMark, 8> marks;
    ASSERT_EQ(FaderScaleMarks(FaderValueMap(2.0f), 100, 400, 12, marks), 8);
    EXPECT_NEAR(marks[0].y, 100, 0.5f);
    EXPECT_FLOAT_EQ(marks[1].y, 100 + 0.2f * 400) << "unity at 80 % of the travel";
    // A short one: 0 and -6 dB are 8 points apart, so "-6" loses its label
    // (its tick stays) and unity keeps its own; the rest still fit.
    EXPECT_EQ(Labels(2.0f, 100, 12), (V{"+6", "0", "-6~", "-12", "-18~", "-24", "-36", "-48"}));
}

// ---------------------------------------------------------------------------
// Fader interaction
// ---------------------------------------------------------------------------

constexpr float kTop = 100, kHeight = 200;

FaderInput Press(float y, bool doubleClick = false) {
    FaderInput in;
    in.hovered = true;
    in.doubleClicked = doubleClick;
    in.activated = true;
    in.active = true;
    in.mouseY = y;
    return in;
}

FaderInput Hold(float y) {
    FaderInput in;
    in.hovered = true;
    in.active = true;
    in.mouseY = y;
    return in;
}

TEST(MixerFaderDrag, AResetPressDoesNotDragUntilReleased) {
    const FaderValueMap law(2.0f);
    FaderDragState state;
    float gain = 0.25f;
    auto step = [&](const FaderInput& in) {
        if (auto g = StepFader(state, 0, in, gain, law, kTop, kHeight)) gain = *g;
    };
    step(Press(150, true));
    EXPECT_EQ(gain, 1.0f);
    EXPECT_EQ(state.resetStrip, 0);
    step(Hold(290));
    step(Hold(299));
    EXPECT_EQ(gain, 1.0f) << "the same press does not drag";
    step(FaderInput{});
    EXPECT_EQ(state.resetStrip, -1);
    // The next press drags, from where it took the fader.
    const float unityY = kTop + kHeight * (1 - 0.8f);
    step(Press(unityY + 5));
    EXPECT_EQ(gain, 1.0f) << "a press that does not move keeps the gain";
    step(Hold(kTop + kHeight + 50));
    EXPECT_EQ(gain, 0.0f) << "dragged past the bottom";
    step(Hold(kTop - 80));
    EXPECT_NEAR(gain, 2.0f, 1e-4f) << "dragged past the top";
}

TEST(MixerFaderDrag, PressingAtEitherEndKeepsTheGain) {
    // The drawn handle stops 14 points short of each end, the grab does not.
    const FaderValueMap law(2.0f);
    for (float gain : {0.0f, 0.0005f, 2.0f, 3.0f}) {
        FaderDragState state;
        const float handleY = gain > 1 ? kTop + 14 : kTop + kHeight - 14;
        EXPECT_FALSE(StepFader(state, 2, Press(handleY), gain, law, kTop, kHeight).has_value()) << gain;
        EXPECT_FALSE(StepFader(state, 2, Hold(handleY), gain, law, kTop, kHeight).has_value()) << gain;
        // Moving one point from there follows the pointer.
        auto moved = StepFader(state, 2, Hold(handleY - 1), gain, law, kTop, kHeight);
        ASSERT_TRUE(moved.has_value());
        if (gain < 1) {
            EXPECT_GT(*moved, 0.0009f);
        }
    }
}

// ---------------------------------------------------------------------------
// Meters
// ---------------------------------------------------------------------------

TEST(MixerMeters, APeakHoldsOneAndAHalfSecondsOnEachChannel) {
    const float dt = 1.0f / 60;
    MeterDisplayState m;
    MeterBallistics(m, 0.8f, 0.1f, dt);
    ASSERT_EQ(m.heldPeak[0], 0.8f);
    int framesHeld = 0;
    // The right channel keeps rising all the while: its timer is its own.
    for (int i = 1; i < 300 && m.heldPeak[0] == 0.8f; ++i) {
        MeterBallistics(m, 0.0f, 0.1f + 0.002f * float(i), dt);
        ++framesHeld;
    }
    EXPECT_NEAR(framesHeld * dt, 1.5f, dt * 1.01f);
    // Then it falls by 3 × held per second, never below 0.
    for (int i = 0; i < 600; ++i) MeterBallistics(m, 0.0f, 0.0f, dt);
    EXPECT_GE(m.heldPeak[0], 0.0f);
    EXPECT_LT(m.heldPeak[0], 1e-6f);
}

TEST(MixerMeters, LevelsRiseFastFallSlowlyAndSettleAtZeroWhileStopped) {
    auto engine = std::make_unique<AudioEngine>();
    engine->playing.store(1);
    engine->stats.peakL.store(0.5f);
    engine->stats.groupPeakR[1].store(0.25f);
    const float dt = 1.0f / 60;
    MixerMeters meters;
    for (int i = 0; i < 6; ++i) UpdateMixerMeters(meters, *engine, dt);  // 0.1 s
    EXPECT_NEAR(meters.master.level[0], 0.5f, 0.01f);
    EXPECT_NEAR(meters.groups[1].level[1], 0.25f, 0.005f);
    EXPECT_EQ(meters.groups[0].level[0], 0.0f);
    engine->playing.store(0);  // the peaks stay, the targets are 0
    for (int i = 0; i < 6; ++i) UpdateMixerMeters(meters, *engine, dt);
    EXPECT_GT(meters.master.level[0], 0.3f) << "a slow release";
    EXPECT_EQ(meters.master.heldPeak[0], 0.5f) << "still held";
    for (int i = 0; i < 600; ++i) UpdateMixerMeters(meters, *engine, dt);
    EXPECT_LT(meters.master.level[0], 1e-6f);
    EXPECT_LT(meters.master.heldPeak[0], 1e-6f);
    MeterDisplayState m;
    MeterBallistics(m, std::nanf(""), -1.0f, std::nanf(""));
    EXPECT_EQ(m.level[0], 0.0f);
    EXPECT_EQ(m.heldPeak[1], 0.0f);
}

// ---------------------------------------------------------------------------
// Strips
// ---------------------------------------------------------------------------

class MixerStripRig : public testing::Test, protected DocumentRecords {
protected:
    void TearDown() override { SetReferenceAudioGain(1.0f); }
    DocumentContext Ctx() { return MakeDocumentContext(*project, *library, *engine, *app); }
};

TEST_F(MixerStripRig, TheFiveStripsInTheirOrder) {
    engine->groupGain[1].store(0.5f);
    engine->reverb.groupSends[2].store(0.7f);
    engine->groupSolo[0].store(1);
    engine->masterMute.store(1);
    auto strips = MixerStrips(*engine, MixerMeters{}, *app, false);
    const char* names[] = {"FX A", "FX B", "BG", "Ref", "Master"};
    const int ids[] = {1, 2, 0, kStripIdRef, kStripIdMaster};
    const float tops[] = {2.0f, 2.0f, 2.0f, 1.0f, 1.5f};
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(strips[size_t(i)].name, names[i]);
        EXPECT_EQ(strips[size_t(i)].id, ids[i]);
        EXPECT_EQ(strips[size_t(i)].maxGain, tops[i]);
        EXPECT_EQ(strips[size_t(i)].hasSend, i < 3);
        EXPECT_EQ(strips[size_t(i)].hasSolo, i < 3);
        EXPECT_EQ(strips[size_t(i)].hasMeter, i != 3);
    }
    EXPECT_EQ(strips[0].gain, 0.5f);
    EXPECT_EQ(strips[1].send, 0.7f);
    EXPECT_TRUE(strips[2].solo);
    EXPECT_TRUE(strips[4].muted);
    EXPECT_FALSE(strips[3].present) << "Ref without a video";
    EXPECT_TRUE(MixerStrips(*engine, MixerMeters{}, *app, true)[3].present);
}

TEST_F(MixerStripRig, TheRefGainReachesTheAudioOnlyWithAVideoAndUnmuted) {
    SetReferenceAudioGain(1.0f);
    SetStripGain(Ctx(), kStripIdRef, 0.5f, false);
    EXPECT_EQ(engine->refGain.load(), 0.5f);
    EXPECT_EQ(ReferenceAudioGain(), 1.0f) << "no video: stored only";
    SetStripGain(Ctx(), kStripIdRef, 0.4f, true);
    EXPECT_EQ(ReferenceAudioGain(), 0.4f);
    SetStripMute(*engine, *app, kStripIdRef, true, true);
    EXPECT_TRUE(app->refMute);
    EXPECT_EQ(ReferenceAudioGain(), 0.0f);
    SetStripGain(Ctx(), kStripIdRef, 0.8f, true);
    EXPECT_EQ(ReferenceAudioGain(), 0.0f) << "muted: the new gain waits";
    EXPECT_EQ(engine->refGain.load(), 0.8f);
    SetStripMute(*engine, *app, kStripIdRef, false, true);
    EXPECT_EQ(ReferenceAudioGain(), 0.8f);
    // The master and the groups never touch it.
    SetStripGain(Ctx(), kStripIdMaster, 0.0f, true);
    SetStripMute(*engine, *app, kStripIdMaster, true, true);
    EXPECT_EQ(ReferenceAudioGain(), 0.8f);
    EXPECT_EQ(engine->masterGain.load(), 0.0f);
    SetStripGain(Ctx(), 2, std::nanf(""), true);
    EXPECT_EQ(engine->groupGain[2].load(), 0.0f);
    SetGroupSend(*engine, 0, 1.7f);
    EXPECT_EQ(engine->reverb.groupSends[0].load(), 1.0f);
    SetStripSolo(*engine, 1, true);
    EXPECT_EQ(engine->groupSolo[1].load(), 1);
}

// ---------------------------------------------------------------------------
// Reverb space and knobs
// ---------------------------------------------------------------------------

// The panel's rows one under another, a line of the font apart, all inside
// the panel: from the smallest window's short panel (205 points) to a tall
// one, at the small fonts of the three size presets. Below its least height
// the layout keeps that height (the panel scrolls it).
TEST(MixerLayoutRows, EveryRowHasItsLineAndStaysInsideThePanel) {
    for (float font : {13.0f, 15.0f, 16.0f, 18.0f}) {
        const float least = MixerLeastHeight(font);
        EXPECT_LE(least, 205.0f) << "the smallest window's panel holds the mixer at font " << font;
        for (float height : {least, 205.0f, 260.0f, 400.0f}) {
            if (height < least) continue;
            SCOPED_TRACE(std::to_string(font) + " pt font, " + std::to_string(height) + " pt high");
            const MixerLayout l = ComputeMixerLayout(100, 50, 452, height, font);
            const float bottom = 50 + height;
            // A strip: name, fader, readout, mute and solo, send label, bar.
            EXPECT_GE(l.faderTop, l.y0 + 4 + font + 4) << "the name above the fader";
            EXPECT_GE(l.faderHeight, 30.0f);
            EXPECT_GE(l.readoutY, l.faderBottom);
            EXPECT_GE(l.muteY, l.readoutY + font) << "the readout above the buttons";
            EXPECT_GE(l.buttonHeight, font) << "a button holds its letter";
            EXPECT_GE(l.sendLabelY, l.muteY + l.buttonHeight);
            EXPECT_GE(l.sendBarY, l.sendLabelY + font);
            EXPECT_LE(l.sendBarY + 5, l.stripBottom);
            EXPECT_LE(l.stripBottom, bottom);
            // The reverb: title, room, its label, two rows of knobs with theirs.
            EXPECT_GE(l.roomHeight, 12.0f);
            EXPECT_GE(l.knobRadius, 9.0f);
            EXPECT_LE(l.knobRadius, 15.0f);
            EXPECT_GE(l.spaceLabelY, l.ry + 22 + l.roomHeight);
            EXPECT_GE(l.knobsTop, l.spaceLabelY + font);
            for (int k = 0; k < 6; ++k) {
                EXPECT_GE(l.KnobCentreY(k) - l.knobRadius, l.knobsTop) << "knob " << k;
                // Its label under it, inside the section.
                EXPECT_LE(l.KnobCentreY(k) + l.knobRadius + 4 + font, l.ry + l.rh) << "knob " << k;
            }
            EXPECT_GE(l.KnobCentreY(3) - l.knobRadius, l.KnobCentreY(0) + l.knobRadius + 4 + font)
                << "the second row below the first one's labels";
            EXPECT_LE(l.ry + l.rh, bottom);
        }
        // Taller panels give the room picture what is left.
        EXPECT_GT(ComputeMixerLayout(0, 0, 452, 400, font).roomHeight, ComputeMixerLayout(0, 0, 452, 260, font).roomHeight);
    }
}

TEST(MixerReverb, TheSpaceBlendsThePresets) {
    auto engine = std::make_unique<AudioEngine>();
    ReverbParams& r = engine->reverb;
    auto six = [&r] {
        return std::array<float, 6>{r.size.load(), r.decay.load(), r.damping.load(),
                                    r.preDelay.load(), r.diffusion.load(), r.modulation.load()};
    };
    ApplyReverbSpace(r, 1.0f);
    EXPECT_EQ(six(), kReverbSpacePresets[4].params) << "Sky";
    ApplyReverbSpace(r, 0.5f);
    EXPECT_EQ(six(), kReverbSpacePresets[2].params) << "Warehouse";
    ApplyReverbSpace(r, 0.625f);
    for (size_t k = 0; k < 6; ++k)
        EXPECT_NEAR(six()[k], (kReverbSpacePresets[2].params[k] + kReverbSpacePresets[3].params[k]) / 2, 1e-6f);
    EXPECT_EQ(r.macro.load(), 0.625f);
    EXPECT_STREQ(ReverbSpaceName(0.625f), "Cathedral");
    EXPECT_STREQ(ReverbSpaceName(0.1f), "Booth");
    EXPECT_STREQ(ReverbSpaceName(0.65f), "Cathedral");

    // Half the control's width per preset step, clamped.
    ApplyReverbSpace(r, 0.5f);
    DragReverbSpace(r, 50.0f, 200.0f);
    EXPECT_FLOAT_EQ(r.macro.load(), 0.625f);
    DragReverbSpace(r, 5000.0f, 200.0f);
    EXPECT_EQ(r.macro.load(), 1.0f);
    EXPECT_EQ(six(), kReverbSpacePresets[4].params);
}

TEST(MixerReverb, KnobsFollowTheDragAndShowTheirUnits) {
    const ReverbKnob& size = kReverbKnobs[0];
    const ReverbKnob& pre = kReverbKnobs[3];
    EXPECT_STREQ(pre.label, "Pre-Dly");
    EXPECT_GT(KnobAfterDrag(size, 0.5f, -10.0f), 0.5f) << "dragging up raises";
    EXPECT_NEAR(KnobAfterDrag(size, 0.5f, 25.0f), 0.4f, 1e-6f);
    EXPECT_EQ(KnobAfterDrag(size, 0.5f, -1000.0f), 1.0f);
    EXPECT_NEAR(KnobAfterDrag(pre, 0.1f, -25.0f), 0.12f, 1e-6f) << "0.004 of the 0.2 s range per point";
    char text[16];
    KnobValueText(pre, 0.015f, text, sizeof text);
    EXPECT_STREQ(text, "15");
    KnobValueText(size, 0.304f, text, sizeof text);
    EXPECT_STREQ(text, "30");
}

// ---------------------------------------------------------------------------
// The panel with a scripted mouse
// ---------------------------------------------------------------------------

class MixerPanelRig : public testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    static void Reset() {
        AudioEngine& e = gAudioEngine;
        e.masterGain.store(1.0f);
        e.refGain.store(1.0f);
        e.masterMute.store(0);
        for (int g = 0; g < 3; ++g) {
            e.groupGain[size_t(g)].store(1.0f);
            e.groupMute[size_t(g)].store(0);
            e.groupSolo[size_t(g)].store(0);
            e.reverb.groupSends[size_t(g)].store(0.2f);
        }
        e.reverb.enabled.store(1);
        ApplyReverbSpace(e.reverb, 0.65f);
        e.reverb.size.store(0.5f);
        e.playing.store(0);
        gAppState.refMute = false;
        gFaderDragState = FaderDragState{};
    }

    void Frame(float x, float y, bool down) {
        gui.MoveMouse(x, y);
        gui.SetButton(0, down);
        gui.FrameInMainWindow([this] { MixerPanel(ImGui::GetWindowDrawList(), layout); });
    }

    // Press at `from`, move through `to` over some frames, release there.
    void Drag(ImVec2 from, ImVec2 to, int steps = 6) {
        Frame(from.x, from.y, false);
        Frame(from.x, from.y, true);
        for (int i = 1; i <= steps; ++i) {
            const float t = float(i) / float(steps);
            Frame(from.x + (to.x - from.x) * t, from.y + (to.y - from.y) * t, true);
        }
        Frame(to.x, to.y, false);
    }

    MixerLayout Layout() const {
        const LayoutRect r = TabPanelRect(layout);
        return ComputeMixerLayout(r.x, r.y, r.width, r.height, ImGui::GetFontSize());
    }

    ImVec2 HandleOf(int strip, float gain, float maxGain) const {
        const MixerLayout l = Layout();
        return ImVec2(l.StripCentre(strip), l.HandleY(FaderPositionOfGain(FaderValueMap(maxGain), gain)));
    }

    bool TooltipShown() {
        ImGuiWindow* tooltip = ImGui::FindWindowByName("##Tooltip_00");
        return tooltip && tooltip->Active;
    }

    HeadlessGui gui;
    UILayout layout = ComputeUILayout(1280, 720, 13, false, LayoutVideo{});
};

TEST_F(MixerPanelRig, DraggingAGroupFaderToTheBottomSilencesIt) {
    Frame(0, 0, false);
    const MixerLayout l = Layout();
    ASSERT_GT(l.faderHeight, 100);
    Drag(HandleOf(0, 1.0f, 2.0f), ImVec2(l.StripCentre(0), l.faderBottom + 40));
    EXPECT_EQ(gAudioEngine.groupGain[1].load(), 0.0f) << "FX A is group 1";
    EXPECT_EQ(gAudioEngine.groupGain[2].load(), 1.0f);
    // The master fader dragged to its top.
    Drag(HandleOf(4, 1.0f, 1.5f), ImVec2(l.StripCentre(4), l.faderTop - 40));
    EXPECT_NEAR(gAudioEngine.masterGain.load(), 1.5f, 1e-4f);
    // A click on the strip's mute button, then its solo.
    const float bw = (l.stripWidth - 6) / 2;
    const ImVec2 mute(l.stripLeft[1] + 2 + bw / 2, l.muteY + l.buttonHeight / 2);
    Frame(mute.x, mute.y, false);
    Frame(mute.x, mute.y, true);
    Frame(mute.x, mute.y, false);
    EXPECT_EQ(gAudioEngine.groupMute[2].load(), 1) << "FX B is group 2";
    EXPECT_TRUE(TooltipShown());
    const ImVec2 solo(mute.x + bw + 2, mute.y);
    Frame(solo.x, solo.y, false);
    Frame(solo.x, solo.y, true);
    Frame(solo.x, solo.y, false);
    EXPECT_EQ(gAudioEngine.groupSolo[2].load(), 1);
}

// A panel shorter than the mixer's least height (a large font in a short
// window) keeps the whole layout and scrolls it under its title.
TEST_F(MixerPanelRig, APanelShorterThanItsLayoutScrollsAndItsControlsStillAct) {
    layout = ComputeUILayout(960, 400, 13, false, LayoutVideo{});
    const LayoutRect r = TabPanelRect(layout);
    Frame(0, 0, false);
    const float font = ImGui::GetFontSize();
    const float least = MixerLeastHeight(font);
    ASSERT_LT(r.height, least);
    const MixerLayout l = ComputeMixerLayout(r.x, r.y, r.width, least, font);
    // FX B's mute button, in sight at the top of the scroll.
    const float bw = (l.stripWidth - 6) / 2;
    const ImVec2 mute(l.stripLeft[1] + 2 + bw / 2, l.muteY + l.buttonHeight / 2);
    ASSERT_LT(mute.y, r.y + r.height);
    Frame(mute.x, mute.y, false);
    Frame(mute.x, mute.y, true);
    Frame(mute.x, mute.y, false);
    EXPECT_EQ(gAudioEngine.groupMute[2].load(), 1);
    // The wheel over the panel brings up what lies below it.
    ImGuiWindow* scroll = nullptr;
    for (ImGuiWindow* w : ImGui::GetCurrentContext()->Windows)
        if (std::strstr(w->Name, "##mixer_scroll")) scroll = w;
    ASSERT_NE(scroll, nullptr) << "no scrolling part";
    EXPECT_NEAR(scroll->ScrollMax.y, least - r.height, 1.0f);
    for (int i = 0; i < 3; ++i) {
        ImGui::GetIO().MouseWheel = -5;
        Frame(r.x + r.width / 2, r.y + r.height / 2, false);
    }
    Frame(r.x + r.width / 2, r.y + r.height / 2, false);
    EXPECT_NEAR(scroll->Scroll.y, scroll->ScrollMax.y, 0.5f) << "scrolled to the end";
}

TEST_F(MixerPanelRig, ADoubleClickResetsAndTheSamePressDoesNotDrag) {
    gAudioEngine.groupGain[0].store(0.1f);  // BG, strip 2
    Frame(0, 0, false);
    const MixerLayout l = Layout();
    const ImVec2 at(l.StripCentre(2), l.faderBottom - 30);
    Frame(at.x, at.y, false);
    Frame(at.x, at.y, true);
    Frame(at.x, at.y, false);
    Frame(at.x, at.y, true);  // the second press
    EXPECT_EQ(gAudioEngine.groupGain[0].load(), 1.0f);
    for (int i = 1; i <= 5; ++i) Frame(at.x, at.y + 10.0f * float(i), true);
    EXPECT_EQ(gAudioEngine.groupGain[0].load(), 1.0f) << "held after the reset: no drag";
    Frame(at.x, at.y + 50, false);
    EXPECT_EQ(gFaderDragState.resetStrip, -1);
}

TEST_F(MixerPanelRig, WithTheReverbOffSendsKnobsAndSpaceAreInert) {
    Frame(0, 0, false);
    const MixerLayout l = Layout();
    const float sendY = l.sendBarY + 2.5f;
    const ImVec2 knob(l.KnobCentreX(0), l.KnobCentreY(0));
    const ImVec2 space(l.rx + 6 + l.innerWidth / 2, l.ry + 22 + l.roomHeight / 2);

    gAudioEngine.reverb.enabled.store(0);
    Drag(ImVec2(l.stripLeft[0] + 4, sendY), ImVec2(l.stripLeft[0] + l.stripWidth - 4, sendY));
    Drag(knob, ImVec2(knob.x, knob.y - 60));
    Drag(space, ImVec2(space.x + 100, space.y));
    EXPECT_EQ(gAudioEngine.reverb.groupSends[1].load(), 0.2f);
    EXPECT_EQ(gAudioEngine.reverb.size.load(), 0.5f);
    EXPECT_EQ(gAudioEngine.reverb.macro.load(), 0.65f);
    // The knob's tooltip still shows.
    for (int i = 0; i < 3; ++i) Frame(knob.x, knob.y, false);
    EXPECT_TRUE(TooltipShown());

    gAudioEngine.reverb.enabled.store(1);
    Drag(ImVec2(l.stripLeft[0] + 4, sendY), ImVec2(l.stripLeft[0] + l.stripWidth - 4, sendY));
    EXPECT_GT(gAudioEngine.reverb.groupSends[1].load(), 0.9f);
    Drag(knob, ImVec2(knob.x, knob.y - 60));
    EXPECT_GT(gAudioEngine.reverb.size.load(), 0.7f);
    EXPECT_EQ(gAudioEngine.reverb.macro.load(), 0.65f) << "a knob leaves the space alone";
    Drag(space, ImVec2(space.x + 2 * l.innerWidth, space.y), 20);
    EXPECT_EQ(gAudioEngine.reverb.macro.load(), 1.0f);
    EXPECT_EQ(gAudioEngine.reverb.size.load(), 1.0f) << "the space overwrites the knobs (Sky)";

    // The power button switches it off again.
    const ImVec2 power(l.rx + l.rw - 13, l.ry + 11);
    Frame(power.x, power.y, false);
    Frame(power.x, power.y, true);
    Frame(power.x, power.y, false);
    EXPECT_EQ(gAudioEngine.reverb.enabled.load(), 0);
}

TEST_F(MixerPanelRig, DragsBesideTheAudioThreadAreClean) {
    AudioEngine& e = gAudioEngine;
    InitReverb(e.reverbState, e.sampleRate.load());
    e.cacheReady.store(1);
    e.playing.store(1);
    std::atomic<bool> stop{false};
    std::atomic<int> blocks{0};
    std::thread audio([&] {
        std::vector<float> left(512), right(512);
        while (!stop.load()) {
            MixAudioBlock(e, left.data(), right.data(), 512);
            blocks.fetch_add(1);
        }
    });
    // On a loaded machine the thread may start late: the drags must overlap
    // its blocks to mean anything.
    while (blocks.load() == 0) std::this_thread::yield();
    Frame(0, 0, false);
    const MixerLayout l = Layout();
    const float sendY = l.sendBarY + 2.5f;
    for (int round = 0; round < 3; ++round) {
        Drag(HandleOf(0, e.groupGain[1].load(), 2.0f), ImVec2(l.StripCentre(0), l.faderTop + 20.0f * float(round)));
        Drag(HandleOf(4, e.masterGain.load(), 1.5f), ImVec2(l.StripCentre(4), l.faderBottom - 10));
        Drag(ImVec2(l.stripLeft[2] + 4, sendY), ImVec2(l.stripLeft[2] + 30, sendY));
        Drag(ImVec2(l.KnobCentreX(1), l.KnobCentreY(1)), ImVec2(l.KnobCentreX(1), l.KnobCentreY(1) - 30));
        Drag(ImVec2(l.rx + 20, l.ry + 40), ImVec2(l.rx + 120, l.ry + 40));
    }
    stop = true;
    audio.join();
    e.playing.store(0);
    e.cacheReady.store(0);
    EXPECT_LT(e.masterGain.load(), 1.0f);
}

}  // namespace
