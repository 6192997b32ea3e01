// The session writer on random clip lists (ties, overlaps, clips inside
// others, fades longer than their clips, clips before the timeline's start,
// empty clips), read back by pyaaf2: every track ends where its last clip
// ends, every clip lies at its position to the sample, transitions never
// overlap, and slot ids stay unique with 120 tracks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <set>

#include "export/aaf_session_fixtures.h"
#include "support/temp_dir.h"

namespace {

AafClipList RandomList(std::mt19937& rng, const std::string& folder, int trackCount, int clipCount) {
    auto uniform = [&](int64_t lo, int64_t hi) { return std::uniform_int_distribution<int64_t>(lo, hi)(rng); };
    std::vector<ClipSpec> clips;
    for (int i = 0; i < clipCount; ++i) {
        ClipSpec c;
        c.track = static_cast<int32_t>(uniform(0, trackCount - 1) * 2);  // track values with gaps
        int64_t kind = uniform(0, 99);
        c.position = kind < 5 ? uniform(-30000, -1) : uniform(0, 400000);
        // Now and then a clip at the position of one before it on its track.
        if (kind >= 90)
            for (auto it = clips.rbegin(); it != clips.rend(); ++it)
                if (it->track == c.track) {
                    c.position = it->position;
                    break;
                }
        int64_t size = uniform(0, 99);
        c.length = size < 4 ? -uniform(0, 100) : size < 8 ? 0 : uniform(1, 60000);
        c.sourceOffset = uniform(0, 100000);
        if (uniform(0, 2) == 0) c.fadeIn = static_cast<int32_t>(uniform(1, 70000));
        if (uniform(0, 2) == 0) c.fadeOut = static_cast<int32_t>(uniform(1, 70000));
        c.gain = static_cast<float>(uniform(0, 4000)) / 1000.0f;
        c.curve.present = uniform(0, 4) == 0;
        for (float& p : c.curve.points) p = c.curve.present ? static_cast<float>(uniform(0, 1500)) / 1000.0f : 0.0f;
        c.fileLength = c.sourceOffset + std::max<int64_t>(c.length, 1) + uniform(0, 1000);
        clips.push_back(c);
    }
    return MakeClipList(folder, clips);
}

int EntryOf(const ReadComponent& clip) {
    const std::string& name = clip.essence.masterName;  // "clip<i>.wav"
    return std::stoi(name.substr(4, name.size() - 8));
}

// What the writer must make of one track: each entry's placeable span (cut
// at the timeline's start) and whether an earlier entry covers its head.
struct Expected {
    int64_t start, length, sourceOffset;
    int64_t coveredUpTo;  // where the entries before it (in position order) end
};

// How often the lists hit each case, so that the test is known to reach them.
struct Cases {
    int isolated = 0, cut = 0, leftOut = 0, crossfades = 0, fades = 0;
};

void CheckTrack(const AafClipList& list, int32_t track, const ReadSlot& slot, const std::string& where,
                Cases& cases) {
    std::vector<size_t> entries;
    for (size_t i = 0; i < list.tracks.size(); ++i)
        if (list.tracks[i] == track) entries.push_back(i);
    std::stable_sort(entries.begin(), entries.end(),
                     [&](size_t a, size_t b) { return list.positions[a] < list.positions[b]; });
    std::map<size_t, Expected> expected;
    int64_t cursor = 0;
    for (size_t e : entries) {
        int64_t start = list.positions[e], length = list.lengths[e], src = list.sourceOffsets[e];
        if (start < 0) {
            length += start;
            src -= start;
            start = 0;
        }
        if (length <= 0) continue;
        expected[e] = {start, length, src, cursor};
        cursor = std::max(cursor, start + length);
    }

    // The track ends where its last clip ends, walked and stored alike.
    EXPECT_EQ(slot.end, cursor) << where;
    EXPECT_EQ(slot.length, cursor) << where;

    std::set<size_t> seen;
    const auto& parts = slot.components;
    for (size_t k = 0; k < parts.size(); ++k) {
        const ReadComponent& c = parts[k];
        if (c.kind == "Transition") {
            EXPECT_GE(c.cutPoint, 0) << where;
            EXPECT_LE(c.cutPoint, c.length) << where;
            (parts[k - 1].kind == "Clip" ? cases.crossfades : cases.fades)++;
            EXPECT_TRUE(k > 0 && k + 1 < parts.size() && parts[k - 1].kind != "Transition" &&
                        parts[k + 1].kind != "Transition")
                << where << ": a transition needs a segment on each side";
            continue;
        }
        // Transitions on both sides of a segment never overlap each other.
        int64_t covered = 0;
        if (k > 0 && parts[k - 1].kind == "Transition") covered += parts[k - 1].length;
        if (k + 1 < parts.size() && parts[k + 1].kind == "Transition") covered += parts[k + 1].length;
        EXPECT_LE(covered, c.length) << where << " component " << k;
        if (c.kind != "Clip") continue;

        size_t e = static_cast<size_t>(EntryOf(c));
        ASSERT_TRUE(expected.count(e)) << where << ": clip of an entry that cannot be placed: " << e;
        EXPECT_TRUE(seen.insert(e).second) << where << ": entry " << e << " placed twice";
        const Expected& x = expected[e];
        // The clip shows the entry's material at the entry's time: where it
        // starts later (its head cut), its source starts later by as much.
        EXPECT_EQ(c.position - c.start, x.start - x.sourceOffset) << where << " entry " << e;
        EXPECT_GE(c.position, x.start) << where << " entry " << e;
        EXPECT_EQ(c.position + c.length, x.start + x.length) << where << " entry " << e;
        (x.start >= x.coveredUpTo ? cases.isolated : cases.cut)++;
        if (x.start >= x.coveredUpTo) {
            EXPECT_EQ(c.position, x.start) << where << " entry " << e;
            EXPECT_EQ(c.length, x.length) << where << " entry " << e;
            const bool crossfadedOut = k + 1 < parts.size() && parts[k + 1].kind == "Transition" &&
                                       k + 2 < parts.size() && parts[k + 2].kind == "Clip";
            // An entry nothing reaches into keeps its fades (at most half the clip).
            int64_t fadeIn = std::min<int64_t>(std::max(list.fadeIns[e], 0), x.length / 2);
            if (fadeIn > 0) {
                ASSERT_GE(k, 1u);
                EXPECT_EQ(parts[k - 1].kind, "Transition");
                EXPECT_EQ(parts[k - 1].length, fadeIn) << where << " entry " << e;
                EXPECT_EQ(parts[k - 1].cutPoint, 0);
            }
            int64_t fadeOut = std::min<int64_t>(std::max(list.fadeOuts[e], 0), x.length / 2);
            if (fadeOut > 0 && !crossfadedOut) {
                ASSERT_LT(k + 2, parts.size());
                EXPECT_EQ(parts[k + 1].length, fadeOut) << where << " entry " << e;
                EXPECT_EQ(parts[k + 1].cutPoint, fadeOut);
                EXPECT_EQ(parts[k + 2].kind, "Filler");
            }
        }
    }
    // Only entries wholly inside what comes before them are left out.
    for (const auto& [e, x] : expected) {
        EXPECT_EQ(seen.count(e) == 1, x.start + x.length > x.coveredUpTo) << where << " entry " << e;
        cases.leftOut += seen.count(e) == 0;
    }
}

}  // namespace

TEST(AafSessionRandom, TracksKeepTheirTimelineAndSlotIdsStayUnique) {
    TempDir dir;
    std::mt19937 rng(20240531);
    std::vector<AafClipList> lists;
    std::vector<std::string> paths;
    for (int n = 0; n < 10; ++n) {
        lists.push_back(RandomList(rng, dir.path(), 1 + n % 5, 10 + 12 * n));
        paths.push_back(dir.File("random" + std::to_string(n) + ".aaf"));
        ASSERT_TRUE(WriteExtended(paths.back(), lists.back())) << n;
    }
    // 120 tracks, one clip each, and markers after them.
    std::vector<ClipSpec> wide;
    for (int32_t t = 0; t < 120; ++t) wide.push_back({.position = 1000 * t, .length = 500, .track = t});
    AafClipList many = MakeClipList(dir.path(), wide);
    many.markers = {{0, "Spot,1.0"}};
    paths.push_back(dir.File("wide.aaf"));
    ASSERT_TRUE(WriteExtended(paths.back(), many));

    std::string why;
    std::vector<ReadSession> sessions = ReadSessions(paths, &why);
    ASSERT_EQ(sessions.size(), paths.size()) << why;

    Cases cases;
    for (size_t n = 0; n < lists.size(); ++n) {
        const AafClipList& list = lists[n];
        std::set<int32_t> trackValues(list.tracks.begin(), list.tracks.end());
        std::vector<const ReadSlot*> slots = FindSoundSlots(sessions[n]);
        ASSERT_EQ(slots.size(), trackValues.size()) << "list " << n;
        size_t s = 0;
        for (int32_t track : trackValues) {
            EXPECT_EQ(slots[s]->name, "Track " + std::to_string(track + 1));
            CheckTrack(list, track, *slots[s], "list " + std::to_string(n) + " track " + std::to_string(track),
                       cases);
            ++s;
        }
    }

    EXPECT_GT(cases.isolated, 100);
    EXPECT_GT(cases.cut, 10);
    EXPECT_GT(cases.leftOut, 5);
    EXPECT_GT(cases.crossfades, 10);
    EXPECT_GT(cases.fades, 50);
    std::printf("[test] %d clips in place, %d cut at the head, %d left out, %d crossfades, %d fades\n",
                cases.isolated, cases.cut, cases.leftOut, cases.crossfades, cases.fades);

    const ReadSession& w = sessions.back();
    ASSERT_EQ(w.slots.size(), 122u);
    std::set<int> ids;
    for (const ReadSlot& slot : w.slots) EXPECT_TRUE(ids.insert(slot.id).second) << "slot id " << slot.id << " twice";
    EXPECT_EQ(w.slots.front().id, 100);
    EXPECT_EQ(w.slots.front().name, "TC");
    std::vector<const ReadSlot*> tracks = FindSoundSlots(w);
    ASSERT_EQ(tracks.size(), 120u);
    for (size_t t = 0; t < tracks.size(); ++t) {
        EXPECT_NE(tracks[t]->id, 100);
        EXPECT_EQ(tracks[t]->physicalTrack, static_cast<int>(t) + 1);
        EXPECT_EQ(tracks[t]->name, "Track " + std::to_string(t + 1));
        EXPECT_EQ(SequenceText(*tracks[t]), (t ? "Filler(" + std::to_string(1000 * t) + ") " : std::string()) +
                                                "Clip(" + std::to_string(1000 * t) + ",500)");
    }
    EXPECT_EQ(w.slots.back().kind, "EventMobSlot");
    EXPECT_EQ(w.slots.back().id, *ids.rbegin());
    EXPECT_EQ(w.slots.back().id, 122);
}
