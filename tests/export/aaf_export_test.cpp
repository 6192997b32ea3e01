// AAF export: which results become clips, the lanes they land on, the
// essence files of each case with their names and time references, fill
// chunks, markers, reverb returns, and what is left on disk after success and
// failure. A fake session writer captures the clip list.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <filesystem>

#include "document/event.h"
#include "document/text_util.h"
#include "export/aaf_export_rig.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRate = kRigRate;

// Channel `channel` of `path` as floats, all frames.
std::vector<float> FileChannel(const std::string& path, int channel, int* rate = nullptr) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return {};
    std::vector<float> all(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(f, all.data(), info.frames);
    sf_close(f);
    if (rate) *rate = info.samplerate;
    return ChannelOf(all, info.channels, channel);
}

// Every essence file is mono 24-bit at the export rate as ffprobe sees it;
// outside fill sources its time reference is where its first sample lies on
// the timeline: the clip's position minus its offset in the file.
void ExpectEssenceStamps(const AafRig& rig) {
    const AafClipList& l = rig.session.list;
    for (size_t i = 0; i < l.essencePaths.size(); ++i) {
        const ProbeReadBack probe = ProbeWav(l.essencePaths[i]);
        ASSERT_TRUE(probe.ok) << l.essenceNames[i] << ": " << probe.message;
        EXPECT_EQ(probe.channels, 1) << l.essenceNames[i];
        EXPECT_EQ(probe.bits, 24) << l.essenceNames[i];
        EXPECT_EQ(probe.sampleRate, kRate) << l.essenceNames[i];
        if (l.essenceNames[i].find("_src_") == std::string::npos) {
            EXPECT_EQ(probe.timeReference, std::max<int64_t>(0, l.positions[i] - l.sourceOffsets[i]))
                << l.essenceNames[i];
        }
    }
}

void ExpectSameSamples(const std::string& a, const std::string& b) {
    const BwfReadBack ra = ReadBwfFile(a), rb = ReadBwfFile(b);
    ASSERT_TRUE(ra.ok && rb.ok);
    EXPECT_EQ(ra.codes, rb.codes);
}

}  // namespace

TEST(AafExport, NothingToExportLeavesNothingBehind) {
    AafRig rig;
    const std::string src = rig.Source("a.wav", 2.0);
    rig.project->results[size_t(rig.AddSourced(src, 0, 1, 1, "Muted"))].muted = true;
    rig.AddSourced(src, 0, 1, 12, "Outside");
    rig.AddSourced("", 0, 1, 3, "No file");
    const int ofMutedEvent = rig.AddSourced(src, 0, 1, 4, "Of a muted event");
    AddEvent(*rig.project, 4.0f, kShapeSpot, 0.5f);
    rig.project->events[0].muted = true;
    rig.project->results[size_t(ofMutedEvent)].eventIdx = 0;
    rig.app->workAreaIn = 0;
    rig.app->workAreaOut = 10;

    EXPECT_FALSE(rig.Export());
    EXPECT_EQ(rig.session.calls, 0);
    EXPECT_FALSE(fs::exists(rig.Out())) << "the folders made for the session are removed again";

    // A result that would export, but no ready voices: nothing either.
    rig.AddSourced(src, 0, 1, 5, "Plain");
    rig.engine->cacheReady = 0;
    EXPECT_FALSE(rig.Export());
    EXPECT_FALSE(fs::exists(rig.Out()));

    // A folder that cannot be made ends the step with false, not an exception.
    rig.engine->cacheReady = 1;
    ASSERT_TRUE(WriteWholeFile(rig.Out(), "a file where the folder should be"));
    EXPECT_FALSE(rig.Export());
    EXPECT_EQ(rig.session.calls, 0);
    EXPECT_EQ(ReadWholeFile(rig.Out()), "a file where the folder should be");
}

TEST(AafExport, StereoAndMonoResultsOnTheirTracksLanes) {
    AafRig rig;
    const std::string door = rig.Source("door.wav", 4.0);
    const std::string rain = rig.Source("rain.wav", 4.0, 2);
    rig.AddSourced(door, 1.5f, 1.0f, 2.0f, "Door", true);   // stereo result, mono source
    rig.AddSourced(door, 0.5f, 0.5f, 5.0f, "Knock");        // mono, same track
    rig.AddSourced(rain, 1.0f, 1.0f, 3.0f, "Rain", false, 2);
    ASSERT_TRUE(rig.Export());

    const AafClipList& l = rig.session.list;
    EXPECT_TRUE(rig.session.extended);
    EXPECT_EQ(rig.session.path, rig.SessionFolder() + "/Reel.aaf");
    EXPECT_EQ(l.trackNames, (std::vector<std::string>{"FX A 1.L", "FX A 1.R", "FX B 1"}));
    ASSERT_EQ(l.essenceNames,
              (std::vector<std::string>{"FX A1_000_Door.L.wav", "FX A1_000_Door.R.wav", "FX A1_001_Knock.wav",
                                        "FX B1_002_Rain.wav"}));
    EXPECT_EQ(l.tracks, (std::vector<int32_t>{0, 1, 0, 2}));
    // A mono source under a stereo result: both files hold its one channel.
    ExpectSameSamples(l.essencePaths[0], l.essencePaths[1]);
    // Handles of a second where the file has them; a shorter lead-in where it does not.
    EXPECT_EQ(l.sourceOffsets, (std::vector<int64_t>{48000, 48000, 24000, 48000}));
    EXPECT_EQ(l.fileLengths, (std::vector<int64_t>{144000, 144000, 96000, 144000}));
    EXPECT_EQ(l.lengths, (std::vector<int64_t>{48000, 48000, 24000, 48000}));
    EXPECT_EQ(l.positions, (std::vector<int64_t>{96000, 96000, 240000, 144000}));
    EXPECT_EQ(l.fadeIns, (std::vector<int32_t>{480, 480, 480, 480}));
    EXPECT_EQ(l.fadeOuts, (std::vector<int32_t>{2400, 2400, 2400, 2400}));
    ExpectListMatchesFolder(rig);
    ExpectEssenceStamps(rig);
}

// A clip 50 minutes into a project that starts at 00:59:59:12: positions and
// time references are exact sample counts, and the essence holds the source
// region from the clip's offset on (converted from 44.1 kHz where needed).
TEST(AafExport, SourceRegionsStampTheirTimelinePlace) {
    for (bool perChannel : {false, true}) {
        SCOPED_TRACE(perChannel ? "one file per source channel" : "source with handles");
        AafRig rig;
        rig.app->exportSettings.exportAAFSourceChannels = perChannel;
        rig.project->startTC = 3599.5f;  // 00:59:59:12 at 24 fps
        rig.project->totalDuration = 3010.0f;
        const std::string hit = rig.Source("hit.wav", 6.0);
        const std::string cd = rig.Source("cd.wav", 4.0, 2, 44100, 3);
        const int late = rig.AddSourced(hit, 2.0f, 1.0f, 3000.0f, "Late Hit");
        rig.project->results[size_t(late)].deconOffset = 0.25f;
        rig.AddSourced(cd, 1.0f, 1.5f, 10.0f, "CD", true, 2);
        rig.AddSourced(hit, 0.0f, 1.0f, 20.0f, "Alloy", false, 0, 0, 3);  // rendered
        ASSERT_TRUE(rig.Export());
        const AafClipList& l = rig.session.list;
        ExpectListMatchesFolder(rig);
        ExpectEssenceStamps(rig);

        // (3599.5 + 3000.25) s at 48 kHz, one second of handle.
        const std::vector<size_t> lateEntries = rig.EntriesOf("FX A1_000_Late Hit.wav");
        ASSERT_EQ(lateEntries.size(), 1u);
        const size_t e = lateEntries[0];
        EXPECT_EQ(l.positions[e], 316788000);
        EXPECT_EQ(l.sourceOffsets[e], 48000);
        EXPECT_EQ(ProbeWav(l.essencePaths[e]).timeReference, 316740000);
        const std::vector<float> source = FileChannel(hit, 0);
        const BwfReadBack late24 = ReadBwfFile(l.essencePaths[e]);
        ASSERT_EQ(late24.samples.size(), size_t(l.fileLengths[e]));
        for (int64_t j = 0; j < l.lengths[e]; ++j)
            ASSERT_NEAR(late24.samples[size_t(l.sourceOffsets[e] + j)], source[size_t(96000 + j)], 1.5 / 8388608.0)
                << j;

        // The 44.1 kHz stereo source, channel by channel, as linear
        // interpolation at 44100 / 48000 steps gives it.
        for (int c = 0; c < 2; ++c) {
            const std::string name = std::string("FX B1_001_CD") + (c ? ".R" : ".L") + ".wav";
            const std::vector<size_t> entries = rig.EntriesOf(name);
            ASSERT_EQ(entries.size(), 1u) << name;
            const size_t k = entries[0];
            EXPECT_EQ(l.tracks[k], 1 + c);
            EXPECT_EQ(l.sourceOffsets[k], 48000);
            EXPECT_EQ(l.positions[k], 172776000 + 480000);
            const std::vector<float> in = FileChannel(cd, c);  // the region starts at the file's start
            const BwfReadBack out = ReadBwfFile(l.essencePaths[k]);
            EXPECT_EQ(out.samples.size(), size_t(std::trunc(154350.0 * (48000.0 / 44100.0))));  // 3.5 s read
            for (size_t j = size_t(l.sourceOffsets[k]); j < out.samples.size(); j += 97) {
                const double p = double(j) * (44100.0 / 48000.0);
                const size_t i0 = std::min(size_t(p), in.size() - 1), i1 = std::min(i0 + 1, in.size() - 1);
                const float f = float(p - double(i0));
                ASSERT_NEAR(out.samples[j], (1 - f) * in[i0] + f * in[i1], 1.5 / 8388608.0) << name << " " << j;
            }
        }

        // An alloy result is written from its rendered voice, named after itself.
        const std::vector<size_t> alloy = rig.EntriesOf("BG1_002_Alloy.wav");
        ASSERT_EQ(alloy.size(), 1u);
        EXPECT_EQ(l.sourceOffsets[alloy[0]], 0);
        const BwfReadBack rendered = ReadBwfFile(l.essencePaths[alloy[0]]);
        EXPECT_EQ(rendered.description, "Alloy");
        EXPECT_NEAR(rendered.samples[100], 0.25f, 1e-6);
        EXPECT_EQ(ReadBwfFile(l.essencePaths[e]).description, "Tessaloom export");
    }
}

TEST(AafExport, FullSourceHandlesWriteTheWholeFile) {
    AafRig rig;
    rig.app->exportSettings.handleFullSource = true;
    const std::string src = rig.Source("long.wav", 4.0);
    rig.AddSourced(src, 2.0f, 1.0f, 0.5f, "Early");
    rig.AddSourced(src, 1.0f, 1.0f, 10.0f, "Later", false, 1, 1);
    ASSERT_TRUE(rig.Export());
    const AafClipList& l = rig.session.list;
    ASSERT_EQ(l.essenceNames.size(), 2u);
    // A file that would begin before 00:00 (1.5 s of handle) begins there:
    // stamped at 0, its clip half a second in.
    EXPECT_EQ(l.fileLengths, (std::vector<int64_t>{120000, 192000}));
    EXPECT_EQ(l.sourceOffsets, (std::vector<int64_t>{24000, 48000}));
    EXPECT_EQ(ProbeWav(l.essencePaths[0]).timeReference, 0);
    EXPECT_EQ(ProbeWav(l.essencePaths[1]).timeReference, 480000 - 48000);
    ExpectListMatchesFolder(rig);
}

TEST(AafExport, FillChunksShareOneWholeSourceFile) {
    for (bool stereo : {false, true}) {
        SCOPED_TRACE(stereo ? "stereo fill" : "mono fill");
        AafRig rig;
        const std::string bed = rig.Source("bed.wav", 3.0, stereo ? 2 : 1);
        const int fill = rig.AddSourced(bed, 0.0f, 2.0f, 4.0f, "Bed", stereo, 1, 0, 1);
        RenderResult& r = rig.project->results[size_t(fill)];
        r.deconOffset = 0.1f;  // not part of a fill's chunk positions
        r.hasIntGain = true;
        for (size_t i = 0; i < r.intGain.size(); ++i) r.intGain[i] = float(i) / 255.0f;
        PlaybackVoice& v = rig.VoiceOfResult(fill);
        // The voice carries its layer's curves, as its settings give them:
        // the session's automation is what the voice plays.
        v.hasIntGain = 1;
        v.intGain = r.intGain;
        v.chunks[0] = {1000, 40000, 0};
        v.chunks[1] = {50000, 0, 0};  // lays nothing
        v.chunks[2] = {20000, 40000, 2000};
        v.chunks[3] = {60000, 30000, 3000};
        v.chunkCount = 4;
        ASSERT_TRUE(rig.Export());
        const AafClipList& l = rig.session.list;
        ExpectListMatchesFolder(rig);
        ExpectEssenceStamps(rig);

        const std::vector<std::string> files =
            stereo ? std::vector<std::string>{"FX A1_000_src_Bed.L.wav", "FX A1_000_src_Bed.R.wav"}
                   : std::vector<std::string>{"FX A1_000_src_Bed.wav"};
        EXPECT_EQ(rig.AudioFiles(), files);
        for (size_t lane = 0; lane < files.size(); ++lane) {
            const std::vector<size_t> e = rig.EntriesOf(files[lane]);
            ASSERT_EQ(e.size(), 3u);
            // From 4 s for the voice's 96000 samples; each chunk overlaps the
            // one before by its crossfade, the last ends with the voice.
            const int64_t positions[] = {192000, 230000, 267000};
            const int64_t lengths[] = {40000, 40000, 21000};
            const int64_t offsets[] = {1000, 20000, 60000};
            for (size_t k = 0; k < 3; ++k) {
                EXPECT_EQ(l.positions[e[k]], positions[k]) << k;
                EXPECT_EQ(l.lengths[e[k]], lengths[k]) << k;
                EXPECT_EQ(l.sourceOffsets[e[k]], offsets[k]) << k;
                EXPECT_EQ(l.fileLengths[e[k]], 144000);
                EXPECT_EQ(l.tracks[e[k]], int32_t(lane));
                EXPECT_EQ(l.fadeIns[e[k]], k == 0 ? 480 : 0) << k;
                EXPECT_EQ(l.fadeOuts[e[k]], k == 2 ? 2400 : 0) << k;
                ASSERT_TRUE(l.gainCurves[e[k]].present);
            }
            EXPECT_EQ(l.positions[e[2]] + l.lengths[e[2]], 192000 + 96000);
            // The linear intensity curve, re-sampled over each chunk's part of the voice.
            EXPECT_NEAR(l.gainCurves[e[0]].points[0], 0.0f, 1e-6);
            EXPECT_NEAR(l.gainCurves[e[1]].points[0], 38000.0f / 96000.0f, 1e-4);
            EXPECT_NEAR(l.gainCurves[e[1]].points[63], 78000.0f / 96000.0f, 1e-4);
            EXPECT_NEAR(l.gainCurves[e[2]].points[63], 1.0f, 1e-6);
            EXPECT_EQ(ProbeWav(l.essencePaths[e[0]]).timeReference, 192000);
        }
        if (stereo) {
            // Each file holds its own channel of the source.
            const BwfReadBack right = ReadBwfFile(rig.AudioFolder() + "/" + files[1]);
            const std::vector<float> source = FileChannel(bed, 1);
            ASSERT_EQ(right.samples.size(), source.size());
            EXPECT_NEAR(right.samples[5000], source[5000], 1.5 / 8388608.0);
        }
    }
}

TEST(AafExport, SourceChannelModeGivesEachChannelItsLane) {
    AafRig rig;
    rig.app->exportSettings.exportAAFSourceChannels = true;
    const std::string six = rig.Source("six.wav", 2.0, 6);
    const std::string ten = rig.Source("ten.wav", 2.0, 10);
    const std::string mono = rig.Source("mono.wav", 2.0);
    rig.AddSourced(six, 0.5f, 1.0f, 2.0f, "Amb");
    rig.AddSourced(ten, 0.5f, 1.0f, 2.0f, "Array", false, 1, 1);
    const int fill = rig.AddSourced(six, 0.0f, 1.0f, 5.0f, "Air", false, 2, 0, 1);
    PlaybackVoice& v = rig.VoiceOfResult(fill);
    v.chunks[0] = {0, 30000, 0};
    v.chunks[1] = {40000, 30000, 1000};
    v.chunkCount = 2;
    // A stereo alloy result of a mono source is written rendered as a pair:
    // its track needs two lanes, or its right channel lands on the next track.
    rig.AddSourced(mono, 0.0f, 1.0f, 1.0f, "Morph", true, 0, 0, 3);
    rig.AddSourced(mono, 0.0f, 1.0f, 1.0f, "Tone", false, 0, 1);
    // A stereo result of a mono source keeps its pair of lanes: the one
    // channel goes to both.
    rig.AddSourced(mono, 0.2f, 1.0f, 3.0f, "Wide", true, 0, 2);
    ASSERT_TRUE(rig.Export());
    const AafClipList& l = rig.session.list;
    ExpectListMatchesFolder(rig);
    ExpectEssenceStamps(rig);

    const char* surround[] = {".L", ".R", ".C", ".LFE", ".Ls", ".Rs"};
    ASSERT_EQ(l.trackNames.size(), 27u);
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(l.trackNames[size_t(c)], std::string("FX A 1") + surround[c]);
        const std::vector<size_t> amb = rig.EntriesOf(std::string("FX A1_000_Amb") + surround[c] + ".wav");
        ASSERT_EQ(amb.size(), 1u) << c;
        EXPECT_EQ(l.tracks[amb[0]], c);
        EXPECT_EQ(l.sourceOffsets[amb[0]], 24000);
        const std::vector<size_t> air = rig.EntriesOf(std::string("FX B1_002_src_Air") + surround[c] + ".wav");
        ASSERT_EQ(air.size(), 2u) << c;
        EXPECT_EQ(l.tracks[air[0]], 16 + c);
        EXPECT_EQ(l.tracks[air[1]], 16 + c);
        EXPECT_EQ(l.trackNames[size_t(16 + c)], std::string("FX B 1") + surround[c]);
    }
    // Different channels in different files.
    EXPECT_NE(ReadBwfFile(rig.AudioFolder() + "/FX A1_000_Amb.L.wav").codes,
              ReadBwfFile(rig.AudioFolder() + "/FX A1_000_Amb.C.wav").codes);
    for (int c = 0; c < 10; ++c) {
        const std::string suffix = "." + std::to_string(c + 1);
        EXPECT_EQ(l.trackNames[size_t(6 + c)], "FX A 2" + suffix);
        const std::vector<size_t> array = rig.EntriesOf("FX A2_001_Array" + suffix + ".wav");
        ASSERT_EQ(array.size(), 1u) << c;
        EXPECT_EQ(l.tracks[array[0]], 6 + c);
    }
    EXPECT_EQ(l.trackNames[22], "BG 1.L");
    EXPECT_EQ(l.trackNames[23], "BG 1.R");
    EXPECT_EQ(l.trackNames[24], "BG 2");
    EXPECT_EQ(l.tracks[rig.EntriesOf("BG1_003_Morph.L.wav").at(0)], 22);
    EXPECT_EQ(l.tracks[rig.EntriesOf("BG1_003_Morph.R.wav").at(0)], 23);
    EXPECT_EQ(l.tracks[rig.EntriesOf("BG2_004_Tone.wav").at(0)], 24);
    EXPECT_EQ(l.trackNames[25], "BG 3.L");
    EXPECT_EQ(l.trackNames[26], "BG 3.R");
    EXPECT_EQ(l.tracks[rig.EntriesOf("BG3_005_Wide.L.wav").at(0)], 25);
    EXPECT_EQ(l.tracks[rig.EntriesOf("BG3_005_Wide.R.wav").at(0)], 26);
    EXPECT_TRUE(rig.EntriesOf("BG3_005_Wide.wav").empty());
    EXPECT_EQ(ReadBwfFile(rig.AudioFolder() + "/BG3_005_Wide.L.wav").codes,
              ReadBwfFile(rig.AudioFolder() + "/BG3_005_Wide.R.wav").codes);

    EXPECT_EQ(ChannelFileSuffix(0, 1), "");
    EXPECT_EQ(ChannelFileSuffix(1, 2), ".R");
    EXPECT_EQ(ChannelFileSuffix(7, 8), ".Rrs");
}

TEST(AafExport, MarkersAndReverbReturns) {
    AafRig rig;
    rig.project->startTC = 10.0f;
    CopyTextField(rig.project->userShapes.emplace_back().name, "Whoosh");
    const int spot = AddEvent(*rig.project, 1.0f, kShapeSpot, 0.5f);
    rig.project->events[size_t(spot)].duration = 1.5f;
    const int bloom = AddEvent(*rig.project, 2.5f, kShapeBloom, 0.5f);
    rig.project->events[size_t(bloom)].duration = 4.0f;
    CopyTextField(rig.project->events[size_t(bloom)].keywords, "rain heavy");
    const int user = AddEvent(*rig.project, 40.0f, kShapeSpot, 0.5f);  // outside the range: still a marker
    rig.project->events[size_t(user)].userShapeIdx = 0;
    rig.project->events[size_t(user)].duration = 2.0f;
    rig.project->events[size_t(user)].muted = true;

    const std::string src = rig.Source("a.wav", 3.0);
    rig.AddSourced(src, 0.5f, 1.0f, 2.0f, "Hit");
    rig.app->exportSettings.exportAAFMarkers = true;
    rig.engine->reverb.enabled = 1;
    rig.app->workAreaIn = 1.0f;
    rig.app->workAreaOut = 6.0f;
    ASSERT_TRUE(rig.Export());
    const AafClipList& l = rig.session.list;

    ASSERT_EQ(l.markers.size(), 3u);
    EXPECT_EQ(l.markers[0].label, "Spot,1.5");
    EXPECT_EQ(l.markers[0].position, 480000 + 48000);
    EXPECT_EQ(l.markers[1].label, "Bloom,4.0,rain heavy");
    EXPECT_EQ(l.markers[1].position, 480000 + 120000);
    EXPECT_EQ(l.markers[2].label, "Whoosh,2.0");

    // The returns sit on the two tracks after the highest clip track and cover the range.
    EXPECT_EQ(l.trackNames, (std::vector<std::string>{"FX A 1", "Reverb.L", "Reverb.R"}));
    for (int side = 0; side < 2; ++side) {
        const std::vector<size_t> e = rig.EntriesOf(side ? "Reverb.R.wav" : "Reverb.L.wav");
        ASSERT_EQ(e.size(), 1u);
        EXPECT_EQ(l.tracks[e[0]], 1 + side);
        EXPECT_EQ(l.positions[e[0]], 480000 + 48000);
        EXPECT_EQ(l.lengths[e[0]], 5 * 48000);
        EXPECT_EQ(l.fileLengths[e[0]], 5 * 48000);
        EXPECT_EQ(l.sourceOffsets[e[0]], 0);
        EXPECT_EQ(l.fadeIns[e[0]] + l.fadeOuts[e[0]], 0);
        EXPECT_FALSE(l.gainCurves[e[0]].present);
        EXPECT_EQ(l.gains[e[0]], 1.0f);
        const BwfReadBack wet = ReadBwfFile(l.essencePaths[e[0]]);
        EXPECT_EQ(wet.description, side ? "Reverb R" : "Reverb L");
        float peak = 0;
        for (float s : wet.samples) peak = std::max(peak, std::fabs(s));
        EXPECT_GT(peak, 1e-4f) << "the return carries the voice's send";
    }
    ExpectListMatchesFolder(rig);
    ExpectEssenceStamps(rig);
}

TEST(AafExport, AnEarlierSessionIsReplacedOrGone) {
    {
        AafRig rig;
        rig.AddSourced(rig.Source("a.wav", 2.0), 0.5f, 1.0f, 1.0f, "Hit");
        const ExportJob job = rig.Job();
        fs::create_directories(rig.SessionFolder());
        ASSERT_TRUE(WriteWholeFile(rig.SessionFolder() + "/Reel.aaf", "an earlier session"));
        ASSERT_TRUE(WriteAafExport(job, *rig.project, *rig.engine));  // the program's session writer
        const std::string written = ReadWholeFile(rig.SessionFolder() + "/Reel.aaf");
        ASSERT_GE(written.size(), 8u);
        EXPECT_EQ(written.substr(0, 4), "\xD0\xCF\x11\xE0");  // a compound file now
    }
    {
        AafRig rig;
        rig.AddSourced(rig.Source("a.wav", 2.0), 0.5f, 1.0f, 1.0f, "Hit");
        fs::create_directories(rig.SessionFolder());
        ASSERT_TRUE(WriteWholeFile(rig.SessionFolder() + "/Reel.aaf", "an earlier session"));
        rig.writerSucceeds = false;
        EXPECT_FALSE(rig.Export());
        EXPECT_EQ(rig.session.calls, 1);
        EXPECT_FALSE(fs::exists(rig.SessionFolder() + "/Reel.aaf"));
        EXPECT_FALSE(fs::exists(rig.AudioFolder())) << "its essence and its new folder are removed";
        EXPECT_TRUE(fs::is_directory(rig.SessionFolder())) << "a folder that was there stays";
    }
}

TEST(AafExport, NamesFitAndNeverBreakAFile) {
    AafRig rig;
    CopyTextField(rig.project->groups[1].name, "FX/A");
    std::string name;
    while (name.size() < 300) name += "Grëat ";  // two-byte characters across every cut
    rig.AddSourced(rig.Source("a.wav", 3.0), 1.0f, 1.0f, 1.0f, name, true);
    ASSERT_TRUE(rig.Export());
    const std::vector<std::string> files = rig.AudioFiles();
    ASSERT_EQ(files.size(), 2u);
    for (const std::string& f : files) {
        EXPECT_LE(f.size(), 255u);
        EXPECT_EQ(f.rfind("FX_A1_000_Grëat", 0), 0u) << f;
        EXPECT_EQ(ToValidUtf8(f), f) << "cut inside a character";
    }
    EXPECT_EQ(files[0].substr(files[0].size() - 6), ".L.wav");
    EXPECT_EQ(files[1].substr(files[1].size() - 6), ".R.wav");
    EXPECT_EQ(files[0].substr(0, files[0].size() - 6), files[1].substr(0, files[1].size() - 6));
    EXPECT_EQ(rig.session.list.trackNames[0], "FX/A 1.L");
    ExpectListMatchesFolder(rig);

    EXPECT_EQ(AafCleanFileName("a/b\\c:d*e?f\"g<h>i|j\x01k"), "a_b_c_d_e_f_g_h_i_j_k");
}

// A case that fails part-way takes back its clips and files before the next
// case runs: here the second channel file of a fill source cannot be written
// (a folder holds its name), so the whole-source mono file is used instead.
TEST(AafExport, AFailedCaseLeavesNoClipsBehind) {
    AafRig rig;
    rig.app->exportSettings.exportAAFSourceChannels = true;
    const int fill = rig.AddSourced(rig.Source("three.wav", 2.0, 3), 0.0f, 1.0f, 1.0f, "Pad", false, 1, 0, 1);
    PlaybackVoice& v = rig.VoiceOfResult(fill);
    v.chunks[0] = {0, 30000, 0};
    v.chunks[1] = {35000, 20000, 500};
    v.chunkCount = 2;
    fs::create_directories(rig.AudioFolder() + "/FX A1_000_src_Pad.R.wav");
    ASSERT_TRUE(rig.Export());
    const AafClipList& l = rig.session.list;
    ASSERT_EQ(l.essenceNames.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(l.essenceNames[i], "FX A1_000_src_Pad.wav");
        EXPECT_EQ(l.tracks[i], 0);
    }
    EXPECT_EQ(rig.AudioFiles(), std::vector<std::string>{"FX A1_000_src_Pad.wav"});
    ExpectListMatchesFolder(rig);
}
