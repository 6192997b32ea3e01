// A layer that starts before 00:00 (0.207 s, with the session starting at 0):
// its clip file and its essence begin at 00:00, time reference 0, with the
// sample that plays there; both AAF readers place the layer's samples where
// the session always played them, whichever essence case wrote the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "export/aaf_export_rig.h"
#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"

namespace {

constexpr int64_t kPreRoll = 9936;  // trunc(48000 x 0.207)
constexpr float kLayerStart = -0.207f;

struct PreRollRig : AafRig {
    std::string source;
    std::vector<int32_t> sourceCodes;  // the source as stored

    PreRollRig() {
        source = Source("early.wav", 2.0);
        const BwfReadBack read = ReadBwfFile(source);
        EXPECT_TRUE(read.ok);
        sourceCodes = read.codes;
        // One second of the source from its start, played from -0.207 s; the
        // voice holds the source's own samples, so that the rendered cases
        // and the clip file carry them too.
        const int r = AddSourced(source, 0.0f, 1.0f, kLayerStart, "Early");
        PlaybackVoice& v = VoiceOfResult(r);
        for (size_t i = 0; i < v.left.size(); ++i) v.left[i] = read.samples[i];
    }
};

// `codes` from `first` on are the source's from `sourceFirst` on (24-bit
// rounding may move a sample by one step), over `count` samples.
void ExpectSourceSamples(const std::vector<int32_t>& codes, int64_t first, const std::vector<int32_t>& source,
                         int64_t sourceFirst, int64_t count) {
    ASSERT_GE(first, 0);
    ASSERT_LE(size_t(first + count), codes.size());
    ASSERT_LE(size_t(sourceFirst + count), source.size());
    int64_t off = 0;
    for (int64_t k = 0; k < count; ++k)
        if (std::abs(codes[size_t(first + k)] - source[size_t(sourceFirst + k)]) > 1) ++off;
    EXPECT_EQ(off, 0) << "samples from " << first << " differ from the source's from " << sourceFirst;
}

std::map<std::string, std::vector<int32_t>> EssenceCodes(const AafRig& rig) {
    std::map<std::string, std::vector<int32_t>> codes;
    for (const std::string& name : rig.AudioFiles()) codes[name] = ReadBwfFile(rig.AudioFolder() + "/" + name).codes;
    return codes;
}

}  // namespace

TEST(LayerBeforeStart, ClipFileBeginsAtZeroWithTheSampleThatPlaysThere) {
    PreRollRig rig;
    const ExportJob job = rig.Job();
    ASSERT_EQ(rig.Pass(job, kWavClips), 1);
    const BwfReadBack clip = ReadBwfFile(rig.OutFile("Clips/Reel - Early.wav"));
    ASSERT_TRUE(clip.ok);
    EXPECT_EQ(clip.TimeReference(), 0u);
    EXPECT_EQ(clip.frames, kRigRate - kPreRoll);
    // The left channel, at unit gain, away from the fade-out.
    std::vector<int32_t> left;
    for (size_t i = 0; i < clip.codes.size(); i += 2) left.push_back(clip.codes[i]);
    ExpectSourceSamples(left, 0, rig.sourceCodes, kPreRoll, 20000);

    // Wholly before 00:00: no file at all.
    PreRollRig gone;
    gone.VoiceOfResult(0).startTime = -1.5f;
    EXPECT_EQ(gone.Pass(gone.Job(), kWavClips), 0);
    EXPECT_FALSE(std::filesystem::exists(gone.OutFile("Clips/Reel - Early.wav")));
}

TEST(LayerBeforeStart, EssenceBeginsAtZeroAndBothReadersPlayTheSameSamples) {
    struct Case {
        const char* name;
        bool sourceChannels, handles;
    };
    for (const Case& c : {Case{"source per channel", true, true}, Case{"source with handles", false, true},
                          Case{"rendered", false, false}}) {
        SCOPED_TRACE(c.name);
        PreRollRig rig;
        ExportJob job = rig.Job();
        job.sourceChannels = c.sourceChannels;
        job.handles = c.handles;
        ASSERT_TRUE(WriteAafExport(job, *rig.project, *rig.engine));
        const std::string aafPath = rig.SessionFolder() + "/Reel.aaf";
        const std::map<std::string, std::vector<int32_t>> essence = EssenceCodes(rig);
        ASSERT_EQ(essence.size(), 1u);
        const std::string essenceName = essence.begin()->first;
        const std::vector<int32_t>& codes = essence.begin()->second;
        EXPECT_EQ(ProbeWav(rig.AudioFolder() + "/" + essenceName).timeReference, 0);
        ExpectSourceSamples(codes, 0, rig.sourceCodes, kPreRoll, 20000);
        const int64_t length = kRigRate - kPreRoll;

        std::string why;
        const std::vector<ReadSession> read = ReadSessions({aafPath}, &why);
        ASSERT_EQ(read.size(), 1u) << why;
        std::vector<const ReadComponent*> clips;
        for (const ReadSlot* slot : FindSoundSlots(read[0]))
            for (const ReadComponent& component : slot->components)
                if (component.kind == "Clip") clips.push_back(&component);
        ASSERT_EQ(clips.size(), 1u);
        EXPECT_EQ(clips[0]->position, 0);
        EXPECT_EQ(clips[0]->length, length);
        EXPECT_EQ(clips[0]->essence.masterName, essenceName);
        // Timeline sample t plays source sample 9,936 + t.
        ExpectSourceSamples(codes, clips[0]->start, rig.sourceCodes, kPreRoll, length - 2400);

        const AaftoolReadBack tool = ReadWithAaftool(aafPath);
        ASSERT_TRUE(tool.ok) << tool.message;
        EXPECT_EQ(tool.errors, std::vector<std::string>{});
        ASSERT_EQ(tool.clips.size(), 1u);
        EXPECT_EQ(tool.clips[0].start, 0);
        EXPECT_EQ(tool.clips[0].length, length);
        EXPECT_EQ(tool.clips[0].file, essenceName);
        ExpectSourceSamples(codes, tool.clips[0].sourceOffset, rig.sourceCodes, kPreRoll, length - 2400);
    }
}

namespace {

// "n/d" as a number; NaN for anything else.
double RationalValue(const std::string& text) {
    const size_t slash = text.find('/');
    if (slash == std::string::npos) return std::nan("");
    const double d = std::stod(text.substr(slash + 1));
    return d != 0 ? std::stod(text.substr(0, slash)) / d : std::nan("");
}

}  // namespace

// A layer whose half-second fade-in is under way at 00:00: its clip in the
// session keeps that fade where it is (no fade from silence at 00:00), and
// both readers find the level at 00:00 that the layer's clip file has in its
// first sample, then the rest of the fade up to full level. A Fill laid as
// clips of its grains (the grains picked from the whole source) keeps it on
// its first grain the same way.
TEST(LayerBeforeStart, AFadeUnderWayAtZeroGoesOnFromItsLevelInTheSession) {
    struct Case {
        const char* name;
        bool handles, fill;
    };
    for (const Case& c : {Case{"rendered", false, false}, Case{"source with handles", true, false},
                          Case{"fill grains", false, true}}) {
        SCOPED_TRACE(c.name);
        AafRig rig;
        const std::string source = rig.Source("early.wav", 2.0);
        const int r = rig.AddSourced(source, 0.0f, 1.0f, kLayerStart, "Early", false, 1, 0, c.fill ? 1 : 0);
        rig.project->results[size_t(r)].fadeIn = 0.5f;
        rig.engine->voiceFadeIn[0] = 0.5f;
        if (c.fill) {
            // Two grains: the first from the source's start across 00:00, the
            // second from further on, crossfaded.
            PlaybackVoice& v = rig.VoiceOfResult(r);
            v.chunks[0] = {0, 30011, 0};
            v.chunks[1] = {52000, 20000, 2003};
            v.chunkCount = 2;
        }
        ExportJob job = rig.Job();
        job.handles = c.handles;
        job.fillVirtual = c.fill;
        job.volAuto = false;

        // The clip file: the constant voice of 0.25 at the level of its fade.
        ASSERT_EQ(rig.Pass(job, kWavClips), 1);
        const BwfReadBack clip = ReadBwfFile(rig.OutFile("Clips/Reel - Early.wav"));
        ASSERT_TRUE(clip.ok);
        const double level = double(clip.samples[0]) / 0.25;
        ASSERT_GT(level, 0.05) << "the fade is under way at the cut";
        ASSERT_LT(level, 0.95);

        ASSERT_TRUE(WriteAafExport(job, *rig.project, *rig.engine));
        const std::string aafPath = rig.SessionFolder() + "/Reel.aaf";

        std::string why;
        const std::vector<ReadSession> read = ReadSessions({aafPath}, &why);
        ASSERT_EQ(read.size(), 1u) << why;
        const ReadComponent* found = nullptr;
        for (const ReadSlot* slot : FindSoundSlots(read[0]))
            for (const ReadComponent& component : slot->components) {
                if (component.kind == "Transition") {
                    EXPECT_GT(component.position, 0) << "no fade from silence at 00:00, only the fade-out";
                }
                if (component.kind == "Clip" && (!found || component.position < found->position)) found = &component;
            }
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->position, 0);
        if (c.fill) {
            EXPECT_EQ(found->start, kPreRoll) << "the first grain is read from the sample that plays at 00:00";
        }
        const ReadGain* curve = nullptr;
        for (const ReadGain& g : found->gains)
            if (!g.points.empty()) curve = &g;
        ASSERT_NE(curve, nullptr) << "the rest of the fade is the clip's gain curve";
        EXPECT_NEAR(RationalValue(curve->points.front().second), level, 0.0015);
        EXPECT_NEAR(RationalValue(curve->points.back().second), 1.0, 0.0015);

        const AaftoolReadBack tool = ReadWithAaftool(aafPath);
        ASSERT_TRUE(tool.ok) << tool.message;
        ASSERT_EQ(tool.clips.size(), c.fill ? 2u : 1u);
        EXPECT_EQ(tool.clips[0].start, 0);
        EXPECT_EQ(tool.clips[0].fadeIn, 0);
        ASSERT_TRUE(tool.clips[0].automation);
        ASSERT_FALSE(tool.clips[0].points.empty());
        EXPECT_DOUBLE_EQ(tool.clips[0].points.front().first, 0.0);
        EXPECT_NEAR(tool.clips[0].points.front().second, level, 0.0015);
        EXPECT_NEAR(tool.clips[0].points.back().second, 1.0, 0.0015);
    }
}
