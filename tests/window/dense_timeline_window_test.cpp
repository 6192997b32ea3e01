// Large and foreign projects in the program's own window: an hour-long
// project zoomed out shows every layer as whole pixel columns, the event
// lane's labels and lock badges never overlap in a dense project, and names
// in scripts the shipped faces lack are drawn from the system's faces.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "document/text_util.h"
#include "persistence/project_load.h"
#include "support/audio_fixtures.h"
#include "support/large_project.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"
#include "window/timeline_fixture.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, separator))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

struct Span {
    int owner = 0;  // an event, or a row's key
    float x0 = 0;
    float x1 = 0;
};

// "owner:x0-x1;..." as the dump writes lane items.
std::vector<Span> Spans(const std::string& text) {
    std::vector<Span> spans;
    for (const std::string& item : Split(text, ';')) {
        Span s;
        EXPECT_EQ(std::sscanf(item.c_str(), "%d:%f-%f", &s.owner, &s.x0, &s.x1), 3) << item;
        spans.push_back(s);
    }
    return spans;
}

bool Overlap(float a0, float a1, float b0, float b1) { return a0 < b1 && b0 < a1; }

// The code points of UTF-8 text (valid input only: the test writes it).
std::vector<uint32_t> CodePoints(const std::string& text) {
    std::vector<uint32_t> out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        uint32_t cp = length == 1 ? c : c & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + size_t(k)]) & 0x3F);
        if (cp > 0x7F && cp != ' ') out.push_back(cp);
        i += size_t(length);
    }
    return out;
}

std::set<uint32_t> HexSet(const std::string& text) {
    std::set<uint32_t> out;
    for (const std::string& item : Split(text, ',')) out.insert(uint32_t(std::strtoul(item.c_str(), nullptr, 16)));
    return out;
}

// Whether the two screenshots differ anywhere inside the rectangle (points
// at scale 1: pixels).
bool DiffersWithin(const PngImage& a, const PngImage& b, float x0, float y0, float x1, float y1) {
    for (int y = std::max(0, int(y0)); y < std::min({a.height, b.height, int(std::ceil(y1))}); ++y)
        for (int x = std::max(0, int(x0)); x < std::min({a.width, b.width, int(std::ceil(x1))}); ++x)
            if (a.PackedAt(x, y) != b.PackedAt(x, y)) return true;
    return false;
}

class DenseTimelineWindow : public IsolatedHomeTest {};

}  // namespace

// Zoomed out on an hour, nearly every layer is narrower than two points;
// the pixel columns each row draws are exactly those its narrow blocks
// touch, so the overview shows where sound is.
TEST_F(DenseTimelineWindow, AnHourZoomedOutDrawsEachRowsBlocksAsTheirPixelColumns) {
    LargeProjectSpec spec{
        .eventCount = 150,
        .seconds = 3600,
        .layers = LargeProjectLayers::Made,
        .layersPerEvent = 3,
        .soundCount = 8,
    };
    const LargeProject large = MakeLargeProject(spec, dir.File("library"));
    const std::string path = WriteLargeProject(large, dir.File("projects"), "hour");
    ASSERT_FALSE(path.empty());

    // The program rebuilds some layers as it opens the project (beds): the
    // layers it drew are those it saves.
    const std::string saved = dir.File("saved/hour.tlproj");
    fs::create_directories(dir.File("saved"));
    // Eight frames after each step: the dumps read what the idle loop's quiet
    // frames drew from the lanes' kept indexes, after the open, a key's edit
    // and its undo.
    ProgramRun run = RunScript("project " + path + "\nframes 3\nwaittask 120\nframes 8\ndump hour.txt\nsave " +
                               saved + "\nframes 2\nkey 1\nframes 8\ndump added.txt\nkey ctrl+Z\nframes 8\n" +
                               "dump undone.txt\ndiscard\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Project drawnProject;
    // Saving makes a project folder of its own.
    ASSERT_TRUE(LoadProjectFile(dir.File("saved/hour/hour.tlproj"), drawnProject).ok) << run.log;
    Dump d = ReadStateDump(dir.File("hour.txt"));
    const float x0 = DumpNumber(d, "timeline.x0"), width = DumpNumber(d, "timeline.width");
    const float viewStart = DumpNumber(d, "timeline.viewStart"), viewDuration = DumpNumber(d, "timeline.viewDuration");
    ASSERT_NEAR(viewDuration, 3600, 1);
    ASSERT_EQ(DumpNumber(d, "timeline.layers"), float(drawnProject.results.size()));

    // Every row's columns from the layers themselves, as whole pixels. The
    // dump gives the time area's place to 0.01 point: a column an edge
    // reaches within that of its border may go either way (`allowed`), all
    // others must be exactly as the blocks say (`required`).
    const float scale = 1;  // TL_UI_SCALE unset
    const float slack = 0.02f;
    std::map<int, std::set<long>> required, allowed, drawn;
    auto mapX = [&](float t) { return (t - viewStart) / viewDuration * width + x0; };
    auto mark = [&](std::set<long>& columns, float xa, float xb) {
        const long first = long(std::floor((xa - x0) * scale));
        const long last = std::max(first + 1, long(std::ceil((xb - x0) * scale)));
        for (long c = first; c < last; ++c) columns.insert(c);
    };
    int narrow = 0;
    for (const RenderResult& r : drawnProject.results) {
        const float a = std::max(r.startTime, viewStart), b = std::min(r.startTime + r.duration, viewStart + viewDuration);
        if (!(b > a)) continue;
        const float xa = mapX(a), xb = mapX(b);
        if (xb - xa >= 2 + slack) continue;  // wide enough for its waveform
        const int row = r.group * 1000 + r.groupTrack;
        mark(allowed[row], xa - slack, xb + slack);
        if (xb - xa >= 2 - slack) continue;
        ++narrow;
        mark(required[row], xa + slack, std::max(xa + slack, xb - slack));
    }
    ASSERT_GT(narrow, int(drawnProject.results.size()) / 2);

    // The Spot the key placed at the playhead is a marker of its own in the
    // quiet frames after it; its undo leaves the markers of the open project.
    Dump added = ReadStateDump(dir.File("added.txt")), undone = ReadStateDump(dir.File("undone.txt"));
    EXPECT_EQ(DumpNumber(added, "timeline.events"), float(drawnProject.events.size() + 1));
    EXPECT_EQ(Split(added["timeline.markers"], ';').size(), Split(d["timeline.markers"], ';').size() + 1);
    EXPECT_EQ(undone["timeline.markers"], d["timeline.markers"]);
    EXPECT_EQ(undone["timeline.layerRuns"], d["timeline.layerRuns"]);

    for (const std::string& item : Split(d["timeline.layerRuns"], ';')) {
        int group = -1, track = -1;
        float a = 0, b = 0;
        ASSERT_EQ(std::sscanf(item.c_str(), "%d:%d:%f-%f", &group, &track, &a, &b), 4) << item;
        const long first = std::lround((a - x0) * scale), last = std::lround((b - x0) * scale);
        EXPECT_GT(last, first) << item;
        for (long c = first; c < last; ++c) drawn[group * 1000 + track].insert(c);
    }
    // Rows below the lanes region's view draw nothing; every row drawn shows
    // its narrow blocks' columns and nothing else.
    EXPECT_GE(drawn.size(), 4u);
    for (const auto& [row, columns] : drawn) {
        std::vector<long> missing, extra;
        std::set_difference(required[row].begin(), required[row].end(), columns.begin(), columns.end(),
                            std::back_inserter(missing));
        std::set_difference(columns.begin(), columns.end(), allowed[row].begin(), allowed[row].end(),
                            std::back_inserter(extra));
        EXPECT_TRUE(missing.empty() && extra.empty())
            << "group " << row / 1000 << " track " << row % 1000 << ": " << missing.size() << " columns missing (first "
            << (missing.empty() ? -1 : missing[0]) << "), " << extra.size() << " extra (first "
            << (extra.empty() ? -1 : extra[0]) << ")";
    }
}

// A dense project zoomed to a couple of minutes, a third of its events
// locked and one selected: no label meets another label (with its gap), a
// lock badge or another event's marker, and no two badges meet, whichever
// pass placed them.
TEST_F(DenseTimelineWindow, LabelsAndLockBadgesNeverOverlapInADenseProject) {
    LargeProjectSpec spec{.eventCount = 120, .seconds = 600, .soundCount = 4};
    LargeProject large = MakeLargeProject(spec, dir.File("library"));
    for (size_t i = 0; i < large.project.events.size(); i += 3) large.project.events[i].locked = true;
    const std::string path = WriteLargeProject(large, dir.File("projects"), "dense");
    ASSERT_FALSE(path.empty());
    // Zoomed in from the start (the playhead) to some 140 s, once the Beds'
    // layers and the weights the probe measures for them are in.
    const std::string open = "project " + path + "\nframes 3\nsettle 60\nkey T\nkey T\nkey T\nkey T\nframes 2\n";

    ProgramRun first = RunScript(open + "dump before.txt\ndiscard\nquit\n");
    ASSERT_EQ(first.exitCode, 0) << first.log;
    Dump before = ReadStateDump(dir.File("before.txt"));
    ASSERT_GT(Split(before["timeline.markers"], ';').size(), 20u);
    const std::vector<Span> placed = Spans(before["timeline.labels"]);
    ASSERT_GE(placed.size(), 2u) << before["timeline.labels"];
    // Selects the event of the second label, at its marker.
    const Span chosen = placed[1];
    const float laneY = DumpNumber(before, "timeline.eventLaneTop") + DumpNumber(before, "timeline.laneHeight") / 2;
    char click[64];
    std::snprintf(click, sizeof click, "click %.1f %.1f\n", double(chosen.x0 - 15), double(laneY));
    ProgramRun second = RunScript(open + click + "frames 2\ndump after.txt\ndiscard\nquit\n");
    ASSERT_EQ(second.exitCode, 0) << second.log;
    Dump after = ReadStateDump(dir.File("after.txt"));
    ASSERT_EQ(after["timeline.primary"], std::to_string(chosen.owner));
    const std::vector<Span> labelsAfter = Spans(after["timeline.labels"]);
    EXPECT_TRUE(std::any_of(labelsAfter.begin(), labelsAfter.end(), [&](const Span& s) { return s.owner == chosen.owner; }))
        << "the selected event keeps the label it had room for";

    for (Dump* dump : {&before, &after}) {
        const std::vector<Span> labels = Spans((*dump)["timeline.labels"]);
        const std::vector<Span> locks = Spans((*dump)["timeline.locks"]);
        EXPECT_GT(locks.size(), 10u);
        for (size_t i = 0; i < labels.size(); ++i) {
            const Span& a = labels[i];
            EXPECT_GT(a.x1, a.x0);
            for (size_t j = i + 1; j < labels.size(); ++j) {
                const Span& b = labels[j];
                EXPECT_FALSE(Overlap(a.x0, a.x1 + 6, b.x0, b.x1 + 6)) << a.owner << " and " << b.owner;
            }
            for (const Span& lock : locks) EXPECT_FALSE(Overlap(a.x0, a.x1, lock.x0, lock.x1)) << a.owner;
            // Its own marker stands left of where it starts; any other lies outside it.
            for (const std::string& m : Split((*dump)["timeline.markers"], ';')) {
                const float x = std::strtof(m.c_str(), nullptr);
                EXPECT_FALSE(Overlap(a.x0, a.x1, x - 5, x + 5)) << a.owner << " over the marker at " << x;
            }
        }
        for (size_t i = 0; i < locks.size(); ++i)
            for (size_t j = i + 1; j < locks.size(); ++j)
                EXPECT_FALSE(Overlap(locks[i].x0, locks[i].x1, locks[j].x0, locks[j].x1));
    }
}

// A library folder and an event named in Japanese, Korean, Russian and with
// an emoji: every character is a glyph of a loaded face, and without the
// system's faces the same names come out as other pixels (the replacement
// boxes), while the Cyrillic of the shipped face stays.
TEST_F(DenseTimelineWindow, NamesInEveryScriptAreDrawnWithRealGlyphs) {
    const std::string eventName = "あめ 비 дождь🔥";
    const std::string folderName = "効果音 소리 Звуки 🎬";
    const std::string folder = dir.File("sfx/" + folderName);
    fs::create_directories(folder);
    AudioSpec audio;
    audio.seconds = 0.2;
    ASSERT_TRUE(WriteTestAudio(folder + "/rain_01.wav", audio));
    Project project = TimelineFixtureProject();
    CopyTextField(project.events[0].keywords, eventName);
    const std::string path = dir.File("names.tlproj");
    ASSERT_TRUE(WriteTimelineFixture(path, project));
    // fontconfig reading a configuration with no font folders: no system face.
    const std::string noFaces = dir.File("fonts.conf");
    WriteWholeFile(noFaces, "<?xml version=\"1.0\"?>\n<fontconfig></fontconfig>\n");

    ASSERT_EQ(RunScript("frames 3\ndump tabs.txt\nquit\n").exitCode, 0);
    float tab[4] = {};
    ASSERT_EQ(std::sscanf(ReadStateDump(dir.File("tabs.txt"))["tab.2.rect"].c_str(), "%f,%f,%f,%f", &tab[0], &tab[1],
                          &tab[2], &tab[3]),
              4);
    char tabClick[64];
    std::snprintf(tabClick, sizeof tabClick, "click %.0f %.0f\n", double(tab[0] + tab[2] / 2),
                  double(tab[1] + tab[3] / 2));
    auto script = [&](const std::string& name) {
        return "project " + path + "\nframes 3\n" + tabClick + "frames 2\nmove 300 300\ndropbegin\ndropfile " +
               folder + "/\ndropcomplete\nframes 2\nsettle 60\nframes 3\nscreenshot " + name + ".png\ndump " + name +
               ".txt\ndiscard\nquit\n";
    };
    ProgramRun real = RunScript(script("real"));
    ASSERT_EQ(real.exitCode, 0) << real.log;
    ProgramRun boxes = RunScript(script("boxes"), {{"FONTCONFIG_FILE", noFaces}});
    ASSERT_EQ(boxes.exitCode, 0) << boxes.log;

    Dump withFaces = ReadStateDump(dir.File("real.txt")), without = ReadStateDump(dir.File("boxes.txt"));
    ASSERT_EQ(withFaces["library.rows"].rfind(folderName + "|", 0), 0u) << withFaces["library.rows"];
    EXPECT_GT(DumpNumber(withFaces, "fonts.systemFaces"), 0);
    EXPECT_EQ(DumpNumber(without, "fonts.systemFaces"), 0);
    const std::set<uint32_t> found = HexSet(withFaces["fonts.bodyGlyphs"]);
    const std::set<uint32_t> foundWithout = HexSet(without["fonts.bodyGlyphs"]);
    for (uint32_t cp : CodePoints(eventName + folderName)) {
        EXPECT_TRUE(found.count(cp)) << std::hex << "U+" << cp;
        const bool cyrillic = cp >= 0x400 && cp < 0x500;
        EXPECT_EQ(foundWithout.count(cp) != 0, cyrillic) << std::hex << "U+" << cp;
    }

    PngImage a, b;
    ASSERT_TRUE(ReadPng(dir.File("real.png"), a));
    ASSERT_TRUE(ReadPng(dir.File("boxes.png"), b));
    float row[4] = {};
    ASSERT_EQ(std::sscanf(withFaces["library.row.0.rect"].c_str(), "%f,%f,%f,%f", &row[0], &row[1], &row[2], &row[3]),
              4);
    EXPECT_TRUE(DiffersWithin(a, b, row[0], row[1], row[0] + row[2], row[1] + row[3]));
    const std::vector<Span> labels = Spans(withFaces["timeline.labels"]);
    const auto label = std::find_if(labels.begin(), labels.end(), [](const Span& s) { return s.owner == 0; });
    ASSERT_NE(label, labels.end()) << withFaces["timeline.labels"];
    const float laneTop = DumpNumber(withFaces, "timeline.eventLaneTop");
    EXPECT_TRUE(DiffersWithin(a, b, label->x0, laneTop, label->x1, laneTop + DumpNumber(withFaces, "timeline.laneHeight")));
}
