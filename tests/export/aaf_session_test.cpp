// Tests of the AAF session writer on hand-built clip lists, read back by
// pyaaf2 as an editing system walks a session: the sequences of fillers,
// transitions and clips, gains, mobs, slot ids and names, markers, locators,
// and the sessions that must fail without leaving a file.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "export/aaf_runtime.h"
#include "export/aaf_session.h"
#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
#include "support/temp_dir.h"

namespace {

constexpr int64_t kRate = 48000;

// Writes each list with the extended writer and reads them all back.
std::vector<ReadSession> WriteAndRead(const TempDir& dir, const std::vector<AafClipList>& lists) {
    std::vector<std::string> paths;
    for (size_t i = 0; i < lists.size(); ++i) {
        paths.push_back(dir.File("session" + std::to_string(i) + ".aaf"));
        EXPECT_TRUE(WriteExtended(paths.back(), lists[i])) << "list " << i;
    }
    std::string why;
    std::vector<ReadSession> sessions = ReadSessions(paths, &why);
    EXPECT_EQ(sessions.size(), lists.size()) << why;
    return sessions;
}

const ReadSlot& OnlyTrack(const ReadSession& s) {
    static const ReadSlot none;
    std::vector<const ReadSlot*> tracks = FindSoundSlots(s);
    EXPECT_EQ(tracks.size(), 1u);
    return tracks.empty() ? none : *tracks[0];
}

std::vector<const ReadComponent*> Clips(const ReadSlot& slot) {
    std::vector<const ReadComponent*> clips;
    for (const ReadComponent& c : slot.components)
        if (c.kind == "Clip") clips.push_back(&c);
    return clips;
}

}  // namespace

TEST(AafSession, SequencesOfThePartsEdgeCases) {
    TempDir dir;
    const std::string f = dir.path();
    std::vector<AafClipList> lists = {
        MakeClipList(f, {}),
        MakeClipList(f, {{0, 48000}, {96000, 48000}}),
        MakeClipList(f, {{.position = 1000, .length = 48000, .fadeIn = 200}}),
        MakeClipList(f, {{0, 1000}, {800, 1000}}),
        MakeClipList(f, {{.position = 0, .length = 1000, .fadeOut = 300}}),
        MakeClipList(f, {{.position = -500, .length = 2000, .sourceOffset = 100}}),
        // Fades are limited to half the clip.
        MakeClipList(f, {{.position = 0, .length = 1001, .fadeIn = 900, .fadeOut = 900}}),
    };
    std::vector<ReadSession> s = WriteAndRead(dir, lists);
    ASSERT_EQ(s.size(), lists.size());

    // An empty list: only the composition and its minute of timecode.
    EXPECT_EQ(s[0].mobCounts, (std::map<std::string, int>{{"CompositionMob", 1}}));
    EXPECT_EQ(s[0].topLevel, std::vector<std::string>{"Tessaloom Timeline"});
    ASSERT_EQ(s[0].slots.size(), 1u);
    const ReadSlot& tc = s[0].slots[0];
    EXPECT_TRUE(tc.isTimecode);
    EXPECT_EQ(tc.id, 100);
    EXPECT_EQ(tc.name, "TC");
    EXPECT_EQ(tc.physicalTrack, 1);
    EXPECT_EQ(tc.timecodeLength, kRate * 60);
    EXPECT_EQ(tc.timecodeStart, 0);
    EXPECT_EQ(tc.fps, 25);
    EXPECT_FALSE(tc.drop);
    EXPECT_EQ(tc.editRate, "48000/1");

    EXPECT_EQ(SequenceText(OnlyTrack(s[1])), "Clip(0,48000) Filler(48000) Clip(96000,48000)");
    EXPECT_EQ(s[1].slots[0].timecodeLength, 144000);  // the session ends with its last clip

    const ReadSlot& fadeIn = OnlyTrack(s[2]);
    EXPECT_EQ(SequenceText(fadeIn), "Filler(1200) Transition(200,cut 0) Clip(1000,48000)");
    EXPECT_EQ(fadeIn.components[1].operation, "Mono Audio Dissolve");
    // The level rises from 0 to 1 over the transition: a fade, not a cut.
    EXPECT_EQ(fadeIn.components[1].level, "LinearInterp 0/1@0/1 1/1@1/1");
    EXPECT_EQ(fadeIn.components[1].groupLength, 200);

    // Overlapping clips without fades crossfade; the dissolve is defined for it.
    const ReadSlot& overlap = OnlyTrack(s[3]);
    EXPECT_EQ(SequenceText(overlap), "Clip(0,1000) Transition(200,cut 100) Clip(800,1000)");
    EXPECT_EQ(overlap.components[1].operation, "Mono Audio Dissolve");
    EXPECT_EQ(overlap.length, 1800);

    // A fade-out ends on a filler that brings the track back to the clip's end.
    const ReadSlot& fadeOut = OnlyTrack(s[4]);
    EXPECT_EQ(SequenceText(fadeOut), "Clip(0,1000) Transition(300,cut 300) Filler(300)");
    EXPECT_EQ(fadeOut.length, 1000);

    // Before the timeline's start: cut off, the source offset follows.
    const ReadSlot& early = OnlyTrack(s[5]);
    EXPECT_EQ(SequenceText(early), "Clip(0,1500)");
    EXPECT_EQ(early.components[0].start, 600);

    EXPECT_EQ(SequenceText(OnlyTrack(s[6])),
              "Filler(500) Transition(500,cut 0) Clip(0,1001) Transition(500,cut 500) Filler(500)");

    // Every track in these files has its stored length where its walk ends.
    for (const ReadSession& session : s)
        for (const ReadSlot* track : FindSoundSlots(session)) EXPECT_EQ(track->length, track->end);
}

TEST(AafSession, ClipGainsAndGainCurves) {
    TempDir dir;
    const std::string f = dir.path();
    AafGainCurve curve;
    curve.present = true;
    for (int k = 0; k < kAafGainCurvePoints; ++k) curve.points[size_t(k)] = float(k) / 63.0f;
    curve.points[1] = -0.5f;                                     // below 0: silence
    curve.points[2] = std::numeric_limits<float>::quiet_NaN();   // not a number: unity
    curve.points[3] = std::numeric_limits<float>::infinity();
    curve.points[4] = 0.2504f;
    curve.points[5] = 5e6f;  // more thousandths than 32 bits hold
    const float nan = std::numeric_limits<float>::quiet_NaN();
    AafClipList list = MakeClipList(f, {{.position = 0, .gain = 30.0f},
                                        {.position = 48000, .gain = 1.0005f},
                                        {.position = 96000, .gain = nan},
                                        {.position = 144000, .gain = -2.0f},
                                        {.position = 192000, .gain = 0.5f},
                                        {.position = 240000, .gain = 2.0f, .curve = curve},
                                        {.position = 288000, .curve = curve}});
    std::vector<ReadSession> s = WriteAndRead(dir, {list});
    ASSERT_EQ(s.size(), 1u);
    std::vector<const ReadComponent*> clips = Clips(OnlyTrack(s[0]));
    ASSERT_EQ(clips.size(), 7u);

    // 30 is limited to 25: 25 x 85899345 over 85899345.
    ASSERT_EQ(clips[0]->gains.size(), 1u);
    EXPECT_EQ(clips[0]->gains[0].operation, "Mono Audio Gain");
    EXPECT_EQ(clips[0]->gains[0].value, "2147483625/85899345");
    // Within 0.001 of unity, NaN and negative gains: no effect.
    EXPECT_TRUE(clips[1]->gains.empty());
    EXPECT_TRUE(clips[2]->gains.empty());
    EXPECT_TRUE(clips[3]->gains.empty());
    ASSERT_EQ(clips[4]->gains.size(), 1u);
    EXPECT_EQ(clips[4]->gains[0].value, "42949673/85899345");

    // A curve wraps the constant gain; 64 points over the clip, in thousandths.
    ASSERT_EQ(clips[5]->gains.size(), 2u);
    EXPECT_EQ(clips[5]->gains[1].value, "171798690/85899345");
    const ReadGain& outer = clips[5]->gains[0];
    ASSERT_EQ(outer.points.size(), 64u);
    EXPECT_EQ(outer.points[0], (std::pair<std::string, std::string>{"0/63", "0/1000"}));
    EXPECT_EQ(outer.points[1].second, "0/1000");
    EXPECT_EQ(outer.points[2].second, "1000/1000");
    EXPECT_EQ(outer.points[3].second, "1000/1000");
    EXPECT_EQ(outer.points[4].second, "250/1000");
    EXPECT_EQ(outer.points[5].second, "2147483647/1000");
    EXPECT_EQ(outer.points[63], (std::pair<std::string, std::string>{"63/63", "1000/1000"}));
    ASSERT_EQ(clips[6]->gains.size(), 1u);
    EXPECT_EQ(clips[6]->gains[0].points.size(), 64u);
}

// Clips that start before the end of what their track holds never push the
// clips after them: they are crossfaded, cut at the head or left out.
TEST(AafSession, OverlapsKeepEveryLaterClipInPlace) {
    TempDir dir;
    const std::string f = dir.path();
    std::vector<AafClipList> lists = {
        // Equal positions: the second is cut to start where the first ends.
        MakeClipList(f, {{0, 1000}, {0, 3000}, {5000, 1000}}),
        // A clip inside another is left out.
        MakeClipList(f, {{0, 10000}, {2000, 1000}, {12000, 1000}}),
        // The crossfade cannot reach into the first clip's fade-in: the second is cut by 200.
        MakeClipList(f, {{.position = 0, .length = 1000, .fadeIn = 400}, {.position = 200, .length = 2000}}),
        // Three clips over one another: no transition overlaps another.
        MakeClipList(f, {{0, 1000}, {500, 1000}, {700, 2300}, {4000, 100}}),
        // A crossfade takes the place of the first clip's fade-out and the second's fade-in.
        MakeClipList(f, {{.position = 0, .length = 1000, .fadeOut = 300},
                         {.position = 900, .length = 1000, .fadeIn = 300, .fadeOut = 300}}),
    };
    lists[0].sourceOffsets[1] = 50;
    std::vector<ReadSession> s = WriteAndRead(dir, lists);
    ASSERT_EQ(s.size(), lists.size());

    const ReadSlot& equal = OnlyTrack(s[0]);
    EXPECT_EQ(SequenceText(equal), "Clip(0,1000) Clip(1000,2000) Filler(2000) Clip(5000,1000)");
    EXPECT_EQ(equal.components[1].start, 1050);
    EXPECT_EQ(equal.length, 6000);

    EXPECT_EQ(SequenceText(OnlyTrack(s[1])), "Clip(0,10000) Filler(2000) Clip(12000,1000)");

    const ReadSlot& room = OnlyTrack(s[2]);
    EXPECT_EQ(SequenceText(room), "Filler(400) Transition(400,cut 0) Clip(0,1000) Transition(600,cut 300) Clip(400,1800)");
    EXPECT_EQ(room.components[4].start, 200);
    EXPECT_EQ(room.length, 2200);

    EXPECT_EQ(SequenceText(OnlyTrack(s[3])), "Clip(0,1000) Transition(500,cut 250) Clip(500,1000) "
                                             "Transition(500,cut 250) Clip(1000,2000) Filler(1000) Clip(4000,100)");

    EXPECT_EQ(SequenceText(OnlyTrack(s[4])), "Clip(0,1000) Transition(100,cut 50) Clip(900,1000) "
                                             "Transition(300,cut 300) Filler(300)");
}

TEST(AafSession, MobsSlotsNamesAndMarkers) {
    TempDir dir;
    const std::string f = dir.path();
    // Two entries share an essence file (a fill's chunks); track 3 has no name.
    AafClipList list = MakeClipList(f, {{.position = 0, .track = 0, .essence = "shared.wav", .fileLength = 200000},
                                        {.position = 96000, .track = 0, .sourceOffset = 60000, .essence = "shared.wav",
                                         .fileLength = 200000},
                                        {.position = 0, .track = 3},
                                        {.position = 0, .track = 1}});
    list.trackNames = {"FX A 1", "", "unused"};
    list.markers = {{96000, "Bloom,4.0,rain heavy"}, {-1, "before the start"}, {0, "Spot,1.5"},
                    {48000, "Hit \xC3\xA9\xF0\x9F\x92\xA5"}};
    const std::string extended = dir.File("extended.aaf"), plain = dir.File("plain.aaf");
    ASSERT_TRUE(WriteExtended(extended, list));
    ASSERT_TRUE(WritePlain(plain, list));
    std::string why;
    std::vector<ReadSession> s = ReadSessions({extended, plain}, &why);
    ASSERT_EQ(s.size(), 2u) << why;

    // The extended writer makes one mob pair per essence file, the plain one per entry.
    EXPECT_EQ(s[0].mobCounts, (std::map<std::string, int>{{"CompositionMob", 1}, {"MasterMob", 3}, {"SourceMob", 3}}));
    EXPECT_EQ(s[1].mobCounts, (std::map<std::string, int>{{"CompositionMob", 1}, {"MasterMob", 4}, {"SourceMob", 4}}));

    // Slots: "TC" 100, the tracks 1, 2, 3 in track order, the markers after the highest id.
    for (const ReadSession& session : s) {
        ASSERT_EQ(session.slots.size(), 5u);
        std::vector<std::tuple<int, std::string, int>> slots;
        for (const ReadSlot& slot : session.slots) slots.emplace_back(slot.id, slot.name, slot.physicalTrack);
        EXPECT_EQ(slots, (std::vector<std::tuple<int, std::string, int>>{
                             {100, "TC", 1}, {1, "FX A 1", 1}, {2, "Track 2", 2}, {3, "Track 4", 3}, {101, "", -1}}));
        const ReadSlot& markers = session.slots[4];
        EXPECT_EQ(markers.kind, "EventMobSlot");
        EXPECT_EQ(markers.editRate, "48000/1");
        ASSERT_EQ(markers.markers.size(), 3u);
        EXPECT_EQ(markers.markers[0].comment, "Spot,1.5");
        EXPECT_EQ(markers.markers[1].position, 48000);
        EXPECT_EQ(markers.markers[1].comment, "Hit \xC3\xA9\xF0\x9F\x92\xA5");  // beyond U+FFFF kept
        EXPECT_EQ(markers.markers[2].position, 96000);
        EXPECT_EQ(markers.markers[2].comment, "Bloom,4.0,rain heavy");
        for (const ReadMarker& m : markers.markers) EXPECT_EQ(m.length, 0);
    }

    // Both clips of the shared file reference one master mob, at their offsets.
    std::vector<const ReadComponent*> shared = Clips(*FindSoundSlots(s[0])[0]);
    ASSERT_EQ(shared.size(), 2u);
    EXPECT_EQ(shared[0]->essence.masterId, shared[1]->essence.masterId);
    EXPECT_EQ(shared[0]->start, 0);
    EXPECT_EQ(shared[1]->start, 60000);
    EXPECT_EQ(shared[0]->essence.length, 200000);
    // The plain writer places every clip from the start of its file.
    std::vector<const ReadComponent*> plainClips = Clips(*FindSoundSlots(s[1])[0]);
    ASSERT_EQ(plainClips.size(), 2u);
    EXPECT_NE(plainClips[0]->essence.masterId, plainClips[1]->essence.masterId);
    EXPECT_EQ(plainClips[1]->start, 0);
}

TEST(AafSession, LocatorsAndTexts) {
    EXPECT_EQ(MakeAafFileLocator("X:\\A B\\\xC3\xA9.wav"), "file://X%3A%5CA%20B%5C%C3%A9.wav");
    EXPECT_EQ(MakeAafFileLocator("/x/A B/\xC3\xA9.wav"), "file:///x/A%20B/%C3%A9.wav");
    EXPECT_EQ(MakeAafFileLocator("/a-b_c.d~e/Z9"), "file:///a-b_c.d~e/Z9");
    EXPECT_EQ(MakeAafFileLocator("/%#?+"), "file:///%25%23%3F%2B");

    std::u16string wide = Utf8ToAafString("A\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(wide, (std::u16string{u'A', 0x00E9, 0xD83D, 0xDE00}));
    EXPECT_EQ(wide.c_str()[wide.size()], 0);

    // In a file: the essence path as an absolute URL that leads back to it,
    // also when the clip list names it relative to the working folder.
    TempDir dir;
    std::filesystem::create_directories(dir.File("Reel \xC3\xA9/Audio Files"));
    AafClipList list = MakeClipList(dir.File("Reel \xC3\xA9"), {{.position = 0, .essence = "Door #1.wav"}});
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    list.essencePaths.push_back("Reel \xC3\xA9/Audio Files/Door #1.wav");
    list.essenceNames.push_back("relative.wav");
    list.positions.push_back(96000);
    list.sourceOffsets.push_back(0);
    list.lengths.push_back(48000);
    list.fileLengths.push_back(48000);
    list.tracks.push_back(0);
    const bool written = WriteExtended(dir.File("urls.aaf"), list);
    std::filesystem::current_path(previous);
    ASSERT_TRUE(written);
    std::string why;
    std::vector<ReadSession> s = ReadSessions({dir.File("urls.aaf")}, &why);
    ASSERT_EQ(s.size(), 1u) << why;
    std::vector<const ReadComponent*> clips = Clips(OnlyTrack(s[0]));
    ASSERT_EQ(clips.size(), 2u);
    const std::string expected = dir.File("Reel \xC3\xA9/Audio Files/Door #1.wav");
    for (const ReadComponent* c : clips) {
        ASSERT_EQ(c->essence.urls.size(), 1u);
        EXPECT_EQ(c->essence.urls[0], MakeAafFileLocator(expected));
        EXPECT_EQ(c->essence.path, expected);
    }
}

TEST(AafSession, FailuresSaveNothing) {
    TempDir dir;
    const std::string f = dir.path();
    auto noFile = [&](const std::string& path) {
        EXPECT_FALSE(std::filesystem::exists(path)) << path;
        EXPECT_FALSE(std::filesystem::exists(path + ".tmp")) << path;
    };

    // A rate no edit rate can have fails the very first track.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(dir.File("rate.aaf"), MakeClipList(f, {{0, 1000}}), 0));
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_NE(log.find("[AAF] CreateSourceMobs FAILED hr=0x"), std::string::npos) << log;
    noFile(dir.File("rate.aaf"));
    EXPECT_FALSE(WriteExtended(dir.File("empty.aaf"), MakeClipList(f, {}), 0));
    noFile(dir.File("empty.aaf"));

    // An essence file of negative length.
    AafClipList broken = MakeClipList(f, {{0, 1000}, {2000, 1000}});
    broken.fileLengths[1] = -5;
    EXPECT_FALSE(WriteExtended(dir.File("length.aaf"), broken));
    noFile(dir.File("length.aaf"));

    // Vectors that do not pair up.
    AafClipList uneven = MakeClipList(f, {{0, 1000}, {2000, 1000}});
    uneven.tracks.pop_back();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(dir.File("uneven.aaf"), uneven));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("[AAF] clip list FAILED"), std::string::npos);
    noFile(dir.File("uneven.aaf"));

    // A path that is not UTF-8 cannot pass the runtime's UTF-16 unchanged.
    testing::internal::CaptureStdout();
    EXPECT_FALSE(WriteExtended(dir.File("bad\xFF.aaf"), MakeClipList(f, {{0, 1000}})));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("[AAF] OpenNewModifyEx FAILED hr=0x"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

    // A session of an earlier export is replaced whole.
    const std::string again = dir.File("again.aaf");
    ASSERT_TRUE(WriteExtended(again, MakeClipList(f, {{0, 1000}, {2000, 1000}})));
    ASSERT_TRUE(WriteExtended(again, MakeClipList(f, {{0, 500}})));
    std::string why;
    std::vector<ReadSession> s = ReadSessions({again}, &why);
    ASSERT_EQ(s.size(), 1u) << why;
    EXPECT_EQ(SequenceText(OnlyTrack(s[0])), "Clip(0,500)");
}
