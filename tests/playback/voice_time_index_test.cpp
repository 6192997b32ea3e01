// The mixer's index by time: the voices a span gathers are exactly those
// that can sound in it, whatever moved, was replaced or appended since the
// index was made, and a mix through the index is the mix of every voice.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "playback/mixer_rig.h"
#include "playback/voice_time_index.h"

namespace {

std::vector<uint32_t> Overlapping(const std::vector<VoiceSpan>& spans, double t0, double t1) {
    std::vector<uint32_t> out;
    for (size_t v = 0; v < spans.size(); ++v)
        if (spans[v].start < t1 && t0 < spans[v].end) out.push_back(uint32_t(v));
    return out;
}

std::vector<uint32_t> Gathered(const VoiceTimeIndex& index, const std::vector<VoiceSpan>& spans, double t0,
                               double t1) {
    std::vector<uint32_t> out(spans.size() + 1);
    const int n = GatherVoicesAt(index, spans, spans.size(), t0, t1, out.data(), out.size());
    EXPECT_GE(n, 0);
    out.resize(size_t(std::max(n, 0)));
    return out;
}

// A voice of `seconds` at `start`, without samples: only its span matters here.
PlaybackVoice SpanVoice(double start, double seconds, uint32_t id) {
    PlaybackVoice v = ConstantVoice(start, 0.0, 0.0f);
    v.length = float(seconds);
    v.resultId = id;
    return v;
}

// The engine's index gathers what a new index over its voices would.
void ExpectGathersAsANewIndex(const AudioEngine& e, const char* what) {
    std::vector<VoiceSpan> fresh;
    for (size_t v = 0; v < e.voices.size(); ++v) fresh.push_back(VoiceSpanOf(e.voices[v], e.sampleRate.load()));
    const VoiceTimeIndex made = BuildVoiceTimeIndex(fresh);
    for (double t0 = -1.0; t0 < 70.0; t0 += 0.61)
        ASSERT_EQ(Gathered(e.voiceIndex, e.voiceSpans, t0, t0 + 0.0853), Gathered(made, fresh, t0, t0 + 0.0853))
            << what << ", block at " << t0;
}

}  // namespace

TEST(VoiceTimeIndex, ASpanGathersExactlyTheVoicesThatMeetItInListOrder) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> start(-2.0, 300.0), length(0.01, 6.0);
    std::vector<VoiceSpan> spans;
    for (int v = 0; v < 2000; ++v) {
        const double s = start(rng);
        spans.push_back({s, s + (v % 97 == 0 ? 120.0 : length(rng)), 0});
    }
    spans[5].end = std::numeric_limits<double>::infinity();  // not finite: looked at on its own
    VoiceTimeIndex index = BuildVoiceTimeIndex(spans);
    EXPECT_EQ(index.covered, spans.size());
    EXPECT_EQ(spans[5].loose, 1);
    EXPECT_EQ(spans[6].loose, 0);
    // Found with no voice moved since, as with some moved.
    EXPECT_EQ(Gathered(index, spans, 250.0, 250.01), Overlapping(spans, 250.0, 250.01));

    // Some voices move after the index was made (loose), some are appended
    // (the tail past the index).
    for (size_t v : {size_t(10), size_t(400), size_t(1999)}) {
        spans[v].start += 150.0;
        spans[v].end += 150.0;
        MarkVoiceLoose(index, spans, v);
    }
    for (int v = 0; v < 50; ++v) spans.push_back({double(v) * 6.0, double(v) * 6.0 + 0.5, 0});

    std::uniform_real_distribution<double> at(-5.0, 460.0);
    size_t most = 0;
    for (int k = 0; k < 3000; ++k) {
        const double t0 = at(rng), t1 = t0 + (k % 3 == 0 ? 0.0107 : 0.0853);  // blocks of 512 and 4096 frames
        const std::vector<uint32_t> got = Gathered(index, spans, t0, t1);
        ASSERT_EQ(got, Overlapping(spans, t0, t1)) << "span at " << t0;
        most = std::max(most, got.size());
    }
    EXPECT_LT(most, spans.size() / 10) << "a block looked at a large part of the list";

    // A list too short for what a span gathers says so: the mixer then looks at every voice.
    std::vector<uint32_t> tiny(1);
    EXPECT_EQ(GatherVoicesAt(index, spans, spans.size(), 0.0, 460.0, tiny.data(), tiny.size()), -1);
    // So does a voice without a span.
    EXPECT_EQ(GatherVoicesAt(index, spans, spans.size() + 1, 0.0, 1.0, tiny.data(), tiny.size()), -1);
}

TEST(VoiceTimeIndex, VeryLongVoicesOnAVeryLongTimelineWidenTheBuckets) {
    std::vector<VoiceSpan> spans;
    for (int v = 0; v < 200; ++v) spans.push_back({double(v) * 1000.0, double(v) * 1000.0 + 90000.0, 0});
    const VoiceTimeIndex index = BuildVoiceTimeIndex(spans);
    EXPECT_GT(index.bucketSeconds, 1.0);
    EXPECT_LE(index.entries.size(), 16 * spans.size() + size_t(4e6));
    for (double t : {0.0, 55555.5, 150000.0, 289000.0})
        EXPECT_EQ(Gathered(index, spans, t, t + 0.01), Overlapping(spans, t, t + 0.01)) << t;
}

// The mixer gathers only where that leaves most voices out: a block among
// indexed voices that all sound at once looks at every voice, one among
// voices spread over the timeline gathers, and so does a block whose voices
// were appended since the index was made (the gather reads only their
// spans; a walk would read every voice).
TEST(VoiceTimeIndex, AGatherIsMadeOnlyWhereItLeavesMostVoicesOut) {
    std::vector<VoiceSpan> together, spread;
    for (int v = 0; v < 1024; ++v) together.push_back({0.001 * v, 10.0 + 0.001 * v, 0});
    for (int v = 0; v < 2000; ++v) spread.push_back({0.02 * v, 0.02 * v + 1.0, 0});
    const VoiceTimeIndex all = BuildVoiceTimeIndex(together), few = BuildVoiceTimeIndex(spread);
    for (double t : {1.0, 5.3, 9.99}) EXPECT_FALSE(GatherPays(all, together.size(), t, t + 0.0107)) << t;
    for (double t : {1.0, 17.7, 39.99}) EXPECT_TRUE(GatherPays(few, spread.size(), t, t + 0.0853)) << t;
    // Outside every voice: nothing to look at.
    EXPECT_TRUE(GatherPays(all, together.size(), 500.0, 500.01));
    // A tail of as many voices as were indexed, or no index at all.
    for (int v = 0; v < 2000; ++v) spread.push_back({0.02 * v, 0.02 * v + 1.0, 0});
    EXPECT_TRUE(GatherPays(few, spread.size(), 17.7, 17.8));
    EXPECT_TRUE(GatherPays(VoiceTimeIndex(), together.size(), 1.0, 1.01));
}

// Two engines with the same voices, one mixing through its index and one
// looking at every voice (no room to gather into), give the same samples
// bit for bit while voices move, are replaced where they stand, are added
// and are removed.
TEST(VoiceTimeIndex, TheIndexedMixIsTheMixOfEveryVoice) {
    auto indexed = MakePlayingEngine();
    auto everyVoice = MakePlayingEngine();
    for (AudioEngine* e : {indexed.get(), everyVoice.get()}) {
        e->reverb.enabled = 1;
        for (int v = 0; v < 300; ++v) {
            PlaybackVoice voice = CurvedNoiseVoice(0.013 * v, 0.05 + 0.002 * (v % 40), v % 3 == 0, unsigned(v));
            voice.resultId = uint32_t(v + 1);
            voice.group = v % 3;
            InstallPlaybackVoice(*e, std::move(voice), 0.004f, 0.006f);
        }
        ReindexEngineVoices(*e);
    }
    everyVoice->mixScratch.clear();
    auto mix = [&](AudioEngine& e, std::vector<float>& l, std::vector<float>& r) { MixFrames(e, 48000, l, r, 480); };
    auto compare = [&](const char* what) {
        for (AudioEngine* e : {indexed.get(), everyVoice.get()}) e->position = 0;
        std::vector<float> l1, r1, l2, r2;
        mix(*indexed, l1, r1);
        mix(*everyVoice, l2, r2);
        ASSERT_EQ(l1, l2) << what;
        ASSERT_EQ(r1, r2) << what;
        float peak = 0;
        for (float x : l1) peak = std::max(peak, std::fabs(x));
        EXPECT_GT(peak, 0.01f) << what;
    };
    compare("as built");

    for (AudioEngine* e : {indexed.get(), everyVoice.get()}) {
        // Moves, far and near, without a new index: the moved voices are loose.
        SetVoicePlacements(*e, {{3, 0.9f, 0.9f}, {150, 0.1f, 0.1f}, {299, 0.5f, 0.45f}});
    }
    EXPECT_FALSE(indexed->voiceIndex.loose.empty());
    compare("after moves");

    for (AudioEngine* e : {indexed.get(), everyVoice.get()}) {
        // A voice rebuilt longer, in its old place; a new one at the end.
        PlaybackVoice longer = CurvedNoiseVoice(0.2, 0.6, true, 99);
        longer.resultId = 21;
        InstallPlaybackVoice(*e, std::move(longer), 0.01f, 0.01f, 20);
        PlaybackVoice added = ConstantVoice(0.3, 0.2, 0.2f);
        added.resultId = 1000;
        InstallPlaybackVoice(*e, std::move(added), 0.01f, 0.01f);
    }
    EXPECT_EQ(indexed->voices.size(), 301u);
    compare("after a replacement and an append");
    ReindexEngineVoices(*indexed);
    EXPECT_TRUE(indexed->voiceIndex.loose.empty());
    compare("after a new index");

    for (AudioEngine* e : {indexed.get(), everyVoice.get()}) {
        std::vector<uint8_t> drop(e->voices.size(), 0);
        for (size_t v = 0; v < drop.size(); v += 7) drop[v] = 1;
        RemoveEngineVoices(*e, drop);
    }
    everyVoice->mixScratch.clear();
    EXPECT_TRUE(indexed->voiceIndex.loose.empty()) << "a relist indexes the list it makes";
    compare("after a removal");
}

// Voices moved (once more than the loose list has room for), rebuilt in
// place (longer, shorter, with a span that is not finite), appended and
// removed, with a new index when the bound asks: the gather through the
// loose list always gives what a new index would.
TEST(VoiceTimeIndex, TheLooseListGathersWhatANewIndexWould) {
    auto e = MakePlayingEngine();
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> at(0.0, 60.0), length(0.02, 3.0);
    uint32_t nextId = 1;
    for (int v = 0; v < 700; ++v) InstallPlaybackVoice(*e, SpanVoice(at(rng), length(rng), nextId++), 0.01f, 0.01f);
    ReindexEngineVoices(*e);
    for (int round = 0; round < 40 && !HasFatalFailure(); ++round) {
        const size_t n = e->voices.size();
        std::vector<VoicePlacement> moves;
        for (int k = 0; k < (round == 20 ? 400 : 12); ++k)
            moves.push_back({rng() % n, float(at(rng)), float(at(rng))});
        SetVoicePlacements(*e, moves);
        EXPECT_EQ(e->voiceIndex.looseOverflow, round == 20 ? 1 : 0);
        for (int k = 0; k < 4; ++k) {
            const size_t slot = rng() % n;
            PlaybackVoice again = SpanVoice(e->voices[slot].startTime, length(rng), e->voices[slot].resultId);
            if (k == 0 && round % 5 == 1) again.startTime = std::numeric_limits<float>::quiet_NaN();
            InstallPlaybackVoice(*e, std::move(again), 0.01f, 0.01f, int(slot));
        }
        if (round % 3 == 0) InstallPlaybackVoice(*e, SpanVoice(at(rng), length(rng), nextId++), 0.01f, 0.01f);
        ExpectGathersAsANewIndex(*e, "after edits");
        if (round % 7 == 3) {
            std::vector<uint8_t> drop(e->voices.size(), 0);
            for (int k = 0; k < 9; ++k) drop[rng() % drop.size()] = 1;
            RemoveEngineVoices(*e, drop);
            ExpectGathersAsANewIndex(*e, "after a removal");
        }
        if (ReindexWhenLoose(*e)) ExpectGathersAsANewIndex(*e, "after a new index");
    }
}

// A new index waits until more voices than the bound (which grows with the
// voices) left it; a voice marked twice, or one whose span is not finite,
// does not count.
TEST(VoiceTimeIndex, ANewIndexWaitsForMoreLooseVoicesThanTheBound) {
    EXPECT_GT(LooseVoiceBound(9000), LooseVoiceBound(900));
    for (const size_t count : {size_t(900), size_t(9000)}) {
        std::vector<VoiceSpan> spans;
        for (size_t v = 0; v < count; ++v) spans.push_back({0.007 * double(v), 0.007 * double(v) + 0.5, 0});
        spans[count / 2].end = std::numeric_limits<double>::infinity();
        VoiceTimeIndex index = BuildVoiceTimeIndex(spans);
        for (size_t k = 0; k <= LooseVoiceBound(count); ++k) {
            ASSERT_FALSE(IndexWantsRebuild(index, count)) << count << " voices, " << k << " loose";
            spans[k].start += 40.0;
            MarkVoiceLoose(index, spans, k);
            MarkVoiceLoose(index, spans, k);
        }
        EXPECT_TRUE(IndexWantsRebuild(index, count)) << count << " voices";
    }
}
