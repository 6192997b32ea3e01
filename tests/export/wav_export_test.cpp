// WAV passes: names and folders, placement in every file, ranges, mute and
// solo, reverb, the limiter, and rollback of a pass that cannot finish.
#include "export/export_voices.h"
#include "export/wav_export.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "document/text_util.h"
#include "export/aaf_export.h"
#include "export/bwf_readback.h"
#include "export/export_names.h"
#include "export/export_rig.h"
#include "playback/reverb.h"
#include "support/offline_mix.h"
#include "playback/transport.h"
#include "playback/voice_mix.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> FilesBelow(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_regular_file()) out.push_back(fs::relative(it->path(), folder).string());
    std::sort(out.begin(), out.end());
    return out;
}

void ExpectProbe(const std::string& path, int channels, int64_t timeReference) {
    const ProbeReadBack p = ProbeWav(path);
    ASSERT_TRUE(p.ok) << p.message;
    EXPECT_EQ(p.bits, 24) << path;
    EXPECT_EQ(p.sampleRate, kRigRate) << path;
    EXPECT_EQ(p.channels, channels) << path;
    EXPECT_EQ(p.timeReference, timeReference) << path;
}

}  // namespace

TEST(WavExportNames, CleanedDistinctNamesAndBaseNames) {
    ExportNameTable table;
    EXPECT_EQ(table.Claim("Door"), "Door");
    EXPECT_EQ(table.Claim("Door"), "Door_2");
    EXPECT_EQ(table.Claim("Door_2"), "Door_2_2");  // a clip really named Door_2 still gets a file of its own
    EXPECT_EQ(table.Claim("Door"), "Door_3");
    EXPECT_EQ(CleanExportName("a/b:c\\d\x01" "e", "clip"), "a_b_c_d_e");
    EXPECT_EQ(CleanExportName("", "clip"), "clip");

    // Cut to fit: "é" straddling the limit goes whole, the suffix still fits.
    ExportNameTable cut;
    const std::string long1 = std::string(9, 'x') + "\xC3\xA9";
    EXPECT_EQ(cut.Claim(long1, 10), std::string(9, 'x'));
    EXPECT_EQ(cut.Claim(long1, 10), std::string(8, 'x') + "_2");

    Project p;
    CopyTextField(p.groups[0].name, "FX/A");
    CopyTextField(p.groups[1].name, "FX_A");
    CopyTextField(p.groups[2].name, "Reverb");
    EXPECT_EQ(ExportGroupNames(p.groups), (std::array<std::string, 3>{"FX_A", "FX_A_2", "Reverb_2"}));
    CopyTextField(p.groups[0].name, "");
    EXPECT_EQ(ExportGroupNames(p.groups)[0], "Group 1");

    std::string dir, base;
    SplitExportPath("/x/Reel.v2.wav", dir, base);
    EXPECT_EQ(dir, "/x");
    EXPECT_EQ(base, "Reel.v2");
    SplitExportPath("/x/Mix.AAF", dir, base);
    EXPECT_EQ(base, "Mix");
    SplitExportPath("/x/Mix", dir, base);
    EXPECT_EQ(base, "Mix");
    SplitExportPath("/x/", dir, base);
    EXPECT_EQ(base, "Tessaloom");
    SplitExportPath("/Mix.wav", dir, base);
    EXPECT_EQ(dir, "/");
}

// Every pass on one project: the Part's names and folders, what ffprobe
// reads of each file, and a click that lands at the same project time in the
// mixdown, stem and track, and at its own offset in its clip file.
TEST(WavExport, PassesWriteTheirFilesWithTheClickInPlace) {
    ExportRig rig;
    rig.project->groups[1].stereo = false;  // a mono group: its tracks are mono files
    rig.project->startTC = 3599.5f;         // 00:59:59:12 at 24 fps: the fraction is kept
    rig.Add(ClickVoice(2.0, 1.0, 0.5), "Door");
    rig.Add(ClickVoice(1.0, 0.5, 0.25, 0.5f, 1), "Whoosh/Long", 2);
    ExportJob job = rig.Job(true, true, true, true);
    ASSERT_DOUBLE_EQ(job.startSeconds, 3599.5);

    EXPECT_EQ(rig.Pass(job, kWavMixdown), 1);
    EXPECT_EQ(rig.Pass(job, kWavStems), 2);  // FX B has no voices
    EXPECT_EQ(rig.Pass(job, kWavTracks), 2);
    EXPECT_EQ(rig.Pass(job, kWavClips), 2);
    EXPECT_EQ(FilesBelow(rig.Out()),
              (std::vector<std::string>{"Clips/Mix - Door.wav", "Clips/Mix - Whoosh_Long.wav", "Mix - BG.wav",
                                        "Mix - FX A.wav", "Mix.wav", "Tracks/Mix - BG 01.wav",
                                        "Tracks/Mix - FX A 03.wav"}));

    const int64_t start = int64_t(3599.5 * kRigRate);
    for (const char* name : {"Mix.wav", "Mix - BG.wav", "Mix - FX A.wav", "Tracks/Mix - BG 01.wav"})
        ExpectProbe(rig.OutFile(name), 2, start);
    ExpectProbe(rig.OutFile("Tracks/Mix - FX A 03.wav"), 1, start);
    ExpectProbe(rig.OutFile("Clips/Mix - Door.wav"), 2, start + 2 * kRigRate);
    ExpectProbe(rig.OutFile("Clips/Mix - Whoosh_Long.wav"), 2, start + kRigRate);

    const long at = long(2.5 * kRigRate);
    for (const char* name : {"Mix - BG.wav", "Tracks/Mix - BG 01.wav"}) {
        const BwfReadBack r = ReadBwfFile(rig.OutFile(name));
        ASSERT_TRUE(r.ok) << name;
        EXPECT_EQ(r.frames, 4 * kRigRate) << name;
        EXPECT_EQ(PeakIndex(ChannelOf(r.samples, 2, 0)), at) << name;
        EXPECT_NEAR(ChannelOf(r.samples, 2, 0)[size_t(at)], 0.5f * CentreGain(), 1e-4) << name;
    }
    const BwfReadBack mix = ReadBwfFile(rig.OutFile("Mix.wav"));
    const std::vector<float> mixLeft = ChannelOf(mix.samples, 2, 0);
    EXPECT_NEAR(mixLeft[size_t(at)], 0.5f * CentreGain(), 1e-4);
    EXPECT_NEAR(mixLeft[size_t(1.25 * kRigRate)], 0.5f * CentreGain(), 1e-4);  // the FX A click
    EXPECT_EQ(mixLeft[size_t(at) + 1], 0.0f);

    const BwfReadBack clip = ReadBwfFile(rig.OutFile("Clips/Mix - Door.wav"));
    EXPECT_EQ(clip.frames, kRigRate);
    EXPECT_EQ(clip.description, "Door");
    const std::vector<float> clipLeft = ChannelOf(clip.samples, 2, 0), clipRight = ChannelOf(clip.samples, 2, 1);
    EXPECT_EQ(PeakIndex(clipLeft), long(0.5 * kRigRate));
    EXPECT_NEAR(clipLeft[size_t(0.5 * kRigRate)], 0.5f, 1e-4);
    EXPECT_EQ(PeakIndex(clipRight), -1) << "a left-only click stays left";

    EXPECT_EQ(ReadBwfFile(rig.OutFile("Tracks/Mix - FX A 03.wav")).description, "FX A 03");
    EXPECT_EQ(ReadBwfFile(rig.OutFile("Mix - FX A.wav")).description, "Mix - FX A");
    EXPECT_EQ(mix.description, "Mix");
}

TEST(WavExport, ClipNamesNeverCollideAndGroupNamesAreSafe) {
    ExportRig rig;
    CopyTextField(rig.project->groups[0].name, "FX/A");
    CopyTextField(rig.project->groups[1].name, "Reverb");
    rig.Add(ClickVoice(0.0, 0.2, 0.1), "Door");
    rig.Add(ClickVoice(0.5, 0.2, 0.1), "Door");
    rig.Add(ClickVoice(1.0, 0.2, 0.1, 0.5f, 1), "Door_2");
    rig.Add(ClickVoice(1.5, 0.2, 0.1), "");
    rig.Add(ClickVoice(2.0, 0.2, 0.1), std::string(300, 'n'));  // cut so that its temporary file fits too
    rig.engine->reverb.enabled = 1;
    ExportJob job = rig.Job(false, true, false, true);
    job.reverbStem = true;

    EXPECT_EQ(rig.Pass(job, kWavStems, true), 3);  // two stems and the reverb stem
    EXPECT_EQ(rig.Pass(job, kWavClips), 5);
    const std::string longName = "Clips/Mix - " + std::string(251 - 10, 'n') + ".wav";
    EXPECT_EQ(FilesBelow(rig.Out()),
              (std::vector<std::string>{"Clips/Mix - Door.wav", "Clips/Mix - Door_2.wav", "Clips/Mix - Door_2_2.wav",
                                        "Clips/Mix - clip.wav", longName, "Mix - FX_A.wav", "Mix - Reverb.wav",
                                        "Mix - Reverb_2.wav"}));
    EXPECT_EQ(ReadBwfFile(rig.OutFile("Mix - Reverb.wav")).description, "Mix - Reverb");
}

TEST(WavExport, WorkAreaBoundsTheFilesAndClipsStayWhole) {
    ExportRig rig;
    rig.project->totalDuration = 30.0f;
    rig.app->workAreaIn = 10.0f;
    rig.app->workAreaOut = 20.0f;
    rig.Add(ClickVoice(8.0, 4.0, 3.0), "Across");   // 8 .. 12 s: overlaps the range
    rig.Add(ClickVoice(2.0, 1.0, 0.5), "Before");   // wholly outside
    rig.Add(ClickVoice(20.0, 1.0, 0.5), "AtTheEnd");  // starts at the out point: outside
    const ExportJob job = rig.Job(true, false, false, true);
    ASSERT_FLOAT_EQ(job.rangeIn, 10.0f);

    EXPECT_EQ(rig.Pass(job, kWavMixdown), 1);
    EXPECT_EQ(rig.Pass(job, kWavClips), 1);
    const BwfReadBack mix = ReadBwfFile(rig.OutFile("Mix.wav"));
    EXPECT_EQ(mix.frames, 480000);
    EXPECT_EQ(mix.TimeReference(), uint64_t(10 * kRigRate));
    EXPECT_EQ(PeakIndex(ChannelOf(mix.samples, 2, 0)), long(1.0 * kRigRate));  // the click at 11 s

    const BwfReadBack clip = ReadBwfFile(rig.OutFile("Clips/Mix - Across.wav"));
    EXPECT_EQ(clip.frames, 4 * kRigRate);
    EXPECT_EQ(clip.TimeReference(), uint64_t(8 * kRigRate));
    EXPECT_EQ(FilesBelow(rig.Out() + "/Clips"), std::vector<std::string>{"Mix - Across.wav"});

    // No work area when its out point is not after its in point.
    rig.app->workAreaOut = 10.0f;
    EXPECT_FLOAT_EQ(rig.Job(true).rangeIn, -1.0f);
}

// The mixer's mute and solo switches are for listening: the export ignores
// them. A voice's own mute takes it out of every file.
TEST(WavExport, MixerMuteAndSoloChangeNothingAndAMutedVoiceIsInNoFile) {
    auto exportAll = [](bool switches) {
        auto rig = std::make_unique<ExportRig>();
        rig->Add(CurvedNoiseVoice(0.5, 1.0, true, 3), "Rain");
        rig->Add(CurvedNoiseVoice(1.0, 1.5, false, 4, 0.3f), "Wind", 0);
        PlaybackVoice muted = ClickVoice(3.0, 0.5, 0.25, 0.8f, 2);
        muted.muted = 1;
        rig->Add(std::move(muted), "Hidden");
        if (switches) {
            rig->engine->groupMute[0] = 1;
            rig->engine->groupSolo[1] = 1;
            rig->engine->soloVoice = 1;
            rig->engine->masterMute = 1;
        }
        const ExportJob job = rig->Job(true, true, true, true);
        for (int mode : {kWavMixdown, kWavStems, kWavTracks, kWavClips}) rig->Pass(job, mode);
        return rig;
    };
    const auto plain = exportAll(false);
    const auto switched = exportAll(true);
    const std::vector<std::string> files = FilesBelow(plain->Out());
    EXPECT_EQ(files, (std::vector<std::string>{"Clips/Mix - Rain.wav", "Clips/Mix - Wind.wav", "Mix - BG.wav",
                                               "Mix.wav", "Tracks/Mix - BG 01.wav"}));
    ASSERT_EQ(FilesBelow(switched->Out()), files);
    for (const std::string& f : files)
        EXPECT_EQ(ReadBwfFile(plain->OutFile(f)).samples, ReadBwfFile(switched->OutFile(f)).samples) << f;

    const std::vector<float> left = ChannelOf(ReadBwfFile(plain->OutFile("Mix.wav")).samples, 2, 0);
    for (size_t i = size_t(3.0 * kRigRate); i < size_t(3.5 * kRigRate); ++i) ASSERT_EQ(left[i], 0.0f) << i;
}

TEST(WavExport, TheMixdownIsLimitedBelowFullScale) {
    ExportRig rig;
    for (int i = 0; i < 8; ++i) rig.Add(ConstantVoice(0.2 + 0.1 * i, 2.0, 0.9f), "Loud " + std::to_string(i));
    const ExportJob job = rig.Job(true);
    ASSERT_EQ(rig.Pass(job, kWavMixdown), 1);
    const BwfReadBack mix = ReadBwfFile(rig.OutFile("Mix.wav"));
    float peak = 0;
    for (float s : mix.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.8f);
    EXPECT_LE(peak, 0.891f + 2.0f / 8388608.0f);
}

TEST(WavExport, ReverbIsInTheMixAndItsStemOnlyWhenSwitchedOn) {
    auto run = [](bool reverbOn) {
        auto rig = std::make_unique<ExportRig>();
        rig->Add(ClickVoice(0.5, 1.0, 0.5), "Hit");
        rig->engine->reverb.enabled = reverbOn ? 1 : 0;
        rig->engine->reverb.groupSends[0] = 0.8f;
        ExportJob job = rig->Job(true, true);
        job.reverbStem = true;
        rig->Pass(job, kWavMixdown);
        rig->Pass(job, kWavStems, true);
        return rig;
    };
    const auto off = run(false), on = run(true);
    EXPECT_EQ(FilesBelow(off->Out()), (std::vector<std::string>{"Mix - BG.wav", "Mix.wav"}));
    EXPECT_EQ(FilesBelow(on->Out()), (std::vector<std::string>{"Mix - BG.wav", "Mix - Reverb.wav", "Mix.wav"}));

    // Off: after the click the mix is silent. On: a tail follows, and the
    // stem stays dry either way.
    const auto tail = [](const ExportRig& rig, const char* name) {
        const std::vector<float> left = ChannelOf(ReadBwfFile(rig.OutFile(name)).samples, 2, 0);
        double energy = 0;
        for (size_t i = size_t(1.1 * kRigRate); i < size_t(1.5 * kRigRate); ++i) energy += double(left[i]) * left[i];
        return energy;
    };
    EXPECT_EQ(tail(*off, "Mix.wav"), 0.0);
    EXPECT_GT(tail(*on, "Mix.wav"), 1e-6);
    EXPECT_EQ(tail(*on, "Mix - BG.wav"), 0.0);
    EXPECT_GT(tail(*on, "Mix - Reverb.wav"), 1e-6);
}

// The offline reverb of an impulse equals what the engine's reverb adds to
// the live mix of the same voice at the same send.
TEST(WavExport, OfflineReverbOfAnImpulseEqualsTheEngines) {
    auto engineWith = [](bool reverbOn) {
        auto e = MakePlayingEngine();
        InitReverb(e->reverbState, kRigRate);
        PlaybackVoice v = ClickVoice(0.25, 1.0, 0.5, 0.3f);
        v.pan = 0.4f;
        v.reverbSend = 0.7f;
        v.resultIndex = 0;  // the export mixes the voices of layers
        InstallPlaybackVoice(*e, std::move(v), 0.02f, 0.02f);
        e->reverb.enabled = reverbOn ? 1 : 0;
        e->reverb.size = 0.3f;
        e->reverb.decay = 0.4f;
        e->groupGain[0] = 0.8f;
        SeekPlayback(*e, 0.0);  // a cleared reverb, as the export's starts
        return e;
    };
    const int frames = kRigRate * 2;
    auto wet = engineWith(true), dry = engineWith(false);
    std::vector<float> wetL, wetR, dryL, dryR;
    MixFrames(*wet, frames, wetL, wetR);
    MixFrames(*dry, frames, dryL, dryR);

    std::vector<float> offL, offR;
    const std::vector<RenderResult> noResults;  // every voice holds its samples
    ExportVoices voices(*dry, noResults);
    ASSERT_TRUE(RenderOfflineMix(voices, wet->reverb, kRigRate, 2.0, 0.0, offL, offR));
    ASSERT_EQ(offL.size(), size_t(frames));
    double energy = 0;
    for (int i = 0; i < frames; ++i) {
        ASSERT_NEAR(offL[size_t(i)], wetL[size_t(i)] - dryL[size_t(i)], 1e-6) << i;
        ASSERT_NEAR(offR[size_t(i)], wetR[size_t(i)] - dryR[size_t(i)], 1e-6) << i;
        energy += double(offL[size_t(i)]) * offL[size_t(i)];
    }
    EXPECT_GT(energy, 1e-4);

    // A start later in the project moves the tail's onset by as much (give or
    // take the few samples the line modulation, started afresh, moves it).
    auto onset = [](const std::vector<float>& s) {
        return std::find_if(s.begin(), s.end(), [](float x) { return x != 0.0f; }) - s.begin();
    };
    std::vector<float> laterL, laterR;
    ASSERT_TRUE(RenderOfflineMix(voices, wet->reverb, kRigRate, 1.0, 0.5, laterL, laterR));
    EXPECT_EQ(laterL.size(), size_t(kRigRate));
    EXPECT_NEAR(double(onset(laterL)), double(onset(offL) - kRigRate / 2), 32.0);
}

// A pass that cannot finish leaves nothing behind: here the third clip
// meets a full disk (a file-size limit) after two clips and the reverb stem.
TEST(WavExport, AFailedClipRemovesTheWholePassAndItsNewFolders) {
    ExportRig rig;
    rig.project->totalDuration = 0.3f;  // the reverb stem stays under the limit
    rig.engine->reverb.enabled = 1;
    rig.Add(ClickVoice(0.0, 0.1, 0.05), "One");
    rig.Add(ClickVoice(0.1, 0.1, 0.05), "Two");
    rig.Add(ClickVoice(0.2, 1.0, 0.05), "Three");  // 288 kB: over the limit
    ExportJob job = rig.Job(false, false, false, true);
    job.outDir = rig.Out() + "/nested";

    int32_t written = -1;
    bool failed = false;
    {
        ScopedFileSizeLimit limit(128 * 1024);
        written = rig.Pass(job, kWavClips, true, &failed);
    }
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(failed);
    EXPECT_FALSE(fs::exists(rig.Out())) << "every folder the pass made is gone";
}

TEST(WavExport, AFolderThatCannotBeMadeRollsThePassBack) {
    ExportRig rig;
    rig.Add(ClickVoice(0.0, 0.5, 0.1), "One");
    rig.engine->reverb.enabled = 1;
    ExportJob job = rig.Job(false, false, true, true);
    ASSERT_TRUE(fs::create_directories(rig.Out()));
    ASSERT_TRUE(WriteWholeFile(rig.OutFile("Clips"), "not a folder"));

    bool failed = false;
    EXPECT_EQ(rig.Pass(job, kWavClips, true, &failed), 0);
    EXPECT_TRUE(failed);
    EXPECT_EQ(FilesBelow(rig.Out()), std::vector<std::string>{"Clips"}) << "the reverb stem was taken back";

    job.outDir = rig.OutFile("Clips") + "/below";  // under a file
    EXPECT_EQ(rig.Pass(job, kWavTracks, false, &failed), 0);
    EXPECT_TRUE(failed);
}

TEST(WavExport, NothingToWriteIsNotAFailure) {
    ExportRig rig;
    rig.Add(ClickVoice(0.0, 0.5, 0.1), "One");
    rig.engine->cacheReady = 0;  // voices not ready
    const ExportJob job = rig.Job(true, true);
    bool failed = true;
    EXPECT_EQ(rig.Pass(job, kWavMixdown, false, &failed), 0);
    EXPECT_FALSE(failed);
    EXPECT_FALSE(fs::exists(rig.Out())) << "the folder made for it is taken back";

    ExportRig empty;
    EXPECT_EQ(empty.Pass(empty.Job(false, true), kWavStems, false, &failed), 0);  // no voices at all
    EXPECT_FALSE(failed);
}

// A voice whose group is outside 0..2 plays in the nearest group: the
// real-time mixer and every pass that mixes groups hear it at that group's
// fader, as they hear a voice of that group, and its stem is that group's.
TEST(WavExport, AVoiceOutsideTheGroupsPlaysInTheNearestOneEverywhere) {
    struct Heard {
        std::vector<float> mixer;
        std::vector<std::string> files;
        std::map<std::string, std::vector<float>> samples;
    };
    auto hear = [](int group) {
        Heard h;
        ExportRig rig;
        const float faders[3] = {0.8f, 0.6f, 0.5f};
        for (int g = 0; g < 3; ++g) rig.engine->groupGain[g] = faders[g];
        rig.Add(ClickVoice(1.0, 1.0, 0.5, 0.5f, group), "Door");
        rig.engine->playing = 1;
        std::vector<float> right;
        MixFrames(*rig.engine, 2 * kRigRate, h.mixer, right);
        rig.engine->playing = 0;
        const ExportJob job = rig.Job(true, true, false, true);
        for (int mode : {kWavMixdown, kWavStems, kWavClips}) EXPECT_EQ(rig.Pass(job, mode), 1) << group << mode;
        h.files = FilesBelow(rig.Out());
        for (const std::string& f : h.files) h.samples[f] = ReadBwfFile(rig.OutFile(f)).samples;
        return h;
    };
    for (const auto& [outside, nearest] : {std::pair{7, 2}, std::pair{-3, 0}}) {
        const Heard in = hear(nearest), out = hear(outside);
        EXPECT_GT(PeakIndex(in.mixer), 0) << nearest;
        EXPECT_TRUE(out.mixer == in.mixer) << outside;
        ASSERT_EQ(out.files, in.files) << outside;
        for (const std::string& f : in.files)
            EXPECT_TRUE(out.samples.at(f) == in.samples.at(f)) << outside << " " << f;
    }
    // The clip file carries the click at the fader's level (no pan): a
    // fader was applied, not left at 1.
    const Heard top = hear(9);
    const std::vector<float> clip = ChannelOf(top.samples.at("Clips/Mix - Door.wav"), 2, 0);
    EXPECT_NEAR(clip[size_t(PeakIndex(clip))], 0.5f * 0.5f, 1e-4);
}

// A Fill's curve spans its event, and a layer of a Fill may outlast its
// event: the mixer reads the curve over the event and holds its last point
// after it. The clip file carries the curves as the mixer reads them, so it
// is the layer's part of the mix (its stem here, at the centre's pan), and
// the AAF session's automation follows the same span.
TEST(WavExport, AFillLongerThanItsEventGivesAClipEqualToItsPartOfTheMix) {
    ExportRig rig;
    rig.project->totalDuration = 6.0f;
    // Mono, so that the stem holds it at the centre's pan on each side.
    PlaybackVoice fill = CurvedNoiseVoice(0.75, 4.0, false, 9);
    fill.hasIntGain = 0;  // the level is the fill curve's and the deconfliction's alone
    fill.pan = 0.0f;
    for (int i = 0; i < kVoiceFillGainPoints; ++i) fill.fillGain[size_t(i)] = 1.2f - float(i) / 127.0f;
    fill.fillGainSpan = 1.5f;  // the event: the layer runs on 2.5 s past it
    const float held = fill.fillGain[kVoiceFillGainPoints - 1];
    const int v = rig.Add(fill, "Wind fill", 0, 0.05f, 0.05f);
    const ExportJob job = rig.Job(false, true, false, true);
    ASSERT_EQ(rig.Pass(job, kWavStems), 1);
    ASSERT_EQ(rig.Pass(job, kWavClips), 1);

    const BwfReadBack stem = ReadBwfFile(rig.OutFile("Mix - BG.wav"));
    const BwfReadBack clip = ReadBwfFile(rig.OutFile("Clips/Mix - Wind fill.wav"));
    ASSERT_TRUE(stem.ok && clip.ok);
    const size_t first = size_t(0.75 * kRigRate), frames = size_t(4 * kRigRate);
    ASSERT_EQ(clip.frames, int64_t(frames));
    // 24-bit files of float mixes: a step or two of the last bit apart.
    constexpr float kTolerance = 3.0f / 8388608.0f;
    int differ = 0;
    double loudestLate = 0;
    for (int c = 0; c < 2; ++c) {
        const std::vector<float> s = ChannelOf(stem.samples, 2, c), k = ChannelOf(clip.samples, 2, c);
        for (size_t j = 0; j < frames; ++j) {
            differ += std::fabs(s[first + j] - CentreGain() * k[j]) > kTolerance ? 1 : 0;
            if (j > size_t(2.0 * kRigRate)) loudestLate = std::max(loudestLate, double(std::fabs(k[j])));
        }
    }
    EXPECT_EQ(differ, 0) << "samples where the clip is not its part of the mix";
    EXPECT_GT(loudestLate, 0.05) << "the layer sounds after its event, at the curve's last point";

    // The AAF automation: over the event's 1.5 s the curve, after it its last point.
    const PlaybackVoice& voice = rig.engine->voices[size_t(v)];
    const AafGainCurve curve = AafVoiceGainCurve(voice, true);
    ASSERT_TRUE(curve.present);
    for (int k = 0; k < kAafGainCurvePoints; ++k) {
        const double t = double(k) / 63.0 * 4.0;
        const float decon = CurveValueAt(voice.deconGain.data(), kVoiceDeconGainPoints, t / 4.0 * 31.0);
        const float want = (t >= 1.5 ? held : CurveValueAt(voice.fillGain.data(), kVoiceFillGainPoints, t / 1.5 * 127.0)) * decon;
        EXPECT_NEAR(curve.points[size_t(k)], want, 1e-6) << "point " << k;
    }
    EXPECT_FALSE(AafVoiceGainCurve(voice, false).present);
}
