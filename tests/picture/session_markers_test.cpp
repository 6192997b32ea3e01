// Session-text marker import: the real export, the rules of marker rows and
// names, and files that are not what they claim to be.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "picture/session_markers.h"
#include "support/peak_memory.h"
#include "support/temp_dir.h"

namespace {

// A copy of the shared session-text export lives with the tests.
std::string FixturePath(const char* name) { return std::string(TL_SOURCE_DIR) + "/tests/picture/fixtures/" + name; }

const std::string kSection =
    "M A R K E R S  L I S T I N G\n"
    "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME       \tTRACK NAME  \tTRACK TYPE \tCOMMENTS\n";
const std::string kHeader = "SESSION NAME:\tEdge\nSAMPLE RATE:\t48000.000000\n\n" + kSection;

// One row of eight fields.
std::string Row(const std::string& location, const std::string& reference, const std::string& name,
                const std::string& comments = "") {
    return "1   \t" + location + "  \t" + reference + "   \tSamples  \t" + name + "   \tMarkers \tRuler \t" +
           comments + "\n";
}

struct Imported {
    bool ok = false;
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
};

Imported ImportText(const TempDir& dir, const std::string& text, float fps = 25,
                    const std::vector<std::string>& recipes = {}) {
    const std::string path = dir.File("session.txt");
    EXPECT_TRUE(WriteWholeFile(path, text));
    Imported r;
    r.ok = ImportSessionMarkers(path, fps, r.markers, &r.scenes, recipes);
    return r;
}

// Independent of the code under test: a strict reading of RFC 3629.
bool IsValidUtf8(const char* s, size_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        size_t len = b < 0x80 ? 1 : (b >= 0xC2 && b <= 0xDF) ? 2 : (b >= 0xE0 && b <= 0xEF) ? 3 : (b >= 0xF0 && b <= 0xF4) ? 4 : 0;
        if (len == 0 || i + len > n) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        if (len == 3) {
            const unsigned cp = ((b & 0x0F) << 12) | ((p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3F);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        }
        if (len == 4) {
            const unsigned cp = ((b & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12);
            if (cp < 0x10000 || cp > 0x10FFFF) return false;
        }
        i += len;
    }
    return true;
}

template <size_t N>
void ExpectCleanField(const char (&field)[N], const char* what) {
    const void* nul = std::memchr(field, '\0', N);
    ASSERT_NE(nul, nullptr) << what << " is not terminated inside its field";
    const size_t len = static_cast<const char*>(nul) - field;
    EXPECT_TRUE(IsValidUtf8(field, len)) << what << ": " << field;
}

void ExpectCleanRecords(const Imported& r) {
    for (const MarkerEvent& m : r.markers) {
        ExpectCleanField(m.name, "name");
        ExpectCleanField(m.keywords, "keywords");
        ExpectCleanField(m.presetName, "presetName");
    }
    for (const MarkerScene& s : r.scenes) {
        ExpectCleanField(s.name, "scene name");
        ExpectCleanField(s.keywords, "scene keywords");
    }
}

}  // namespace

TEST(SessionMarkers, RealExportUsesTheTimeReferenceAndTheComments) {
    TempDir dir;
    const std::string lf = ReadWholeFile(FixturePath("markers-rulers-and-tracks.txt"));
    ASSERT_FALSE(lf.empty()) << "fixture missing: " << FixturePath("markers-rulers-and-tracks.txt");
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }

    for (const std::string* text : {&lf, static_cast<const std::string*>(&crlf)}) {
        SCOPED_TRACE(text == &lf ? "LF" : "CR LF");
        Imported r = ImportText(dir, *text, 25, {"Door"});
        ASSERT_TRUE(r.ok);
        EXPECT_TRUE(r.scenes.empty());
        ASSERT_EQ(r.markers.size(), 7u);
        for (int i = 0; i < 7; ++i) {
            const MarkerEvent& m = r.markers[i];
            const std::string name = "Marker " + std::to_string(i + 1);
            // The location column says 01:00:0i:00; the samples say 10 + i s.
            EXPECT_FLOAT_EQ(m.time, 10.0f + i);
            EXPECT_EQ(std::string(m.name), name);
            const std::string expected = i == 1 ? name + " Some comments" : i == 5 ? name + " More comments" : name;
            EXPECT_EQ(std::string(m.keywords), expected);
            EXPECT_EQ(m.shape, 0);
            EXPECT_FLOAT_EQ(m.weightCenter, 0.3f);
            EXPECT_FLOAT_EQ(m.duration, 3.0f);
            EXPECT_TRUE(m.accepted);
            EXPECT_FALSE(m.otherShapeWord);
            EXPECT_STREQ(m.presetName, "");
            EXPECT_LT(m.spread, 0);
            EXPECT_LT(m.gain, 0);
            EXPECT_LT(m.syncRatio, 0);
        }
    }
}

TEST(SessionMarkers, TimesFromSamplesOrTimecode) {
    TempDir dir;
    std::string text = kHeader;
    text += Row("01:00:00:00", "240576000", "samples win");        // 5012 s whatever the timecode says
    text += Row("00:00:10:12", "n/a", "timecode");                 // 10 s + 12 frames at 25
    text += Row("00:10", "", "two numbers");                        // too few numbers: 0 s
    text += Row("00:00:20:00", "01:00:00:00", "colons");           // not a sample count: timecode
    text += Row("00:00:30:00", "123456789012345678901234567890", "huge");  // past 64 bits: timecode
    text += Row("99999999999:00:40:00", "x", "long hours");         // hours missing: 0 s
    text += Row("00:00:00:00", "4147248000", "past a day");         // 86401 s: skipped
    text += Row("-1:00:00:00", "x", "before zero");                 // skipped
    Imported r = ImportText(dir, text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.markers.size(), 6u);
    EXPECT_FLOAT_EQ(r.markers[0].time, 5012.0f);
    EXPECT_FLOAT_EQ(r.markers[1].time, 10.48f);
    EXPECT_FLOAT_EQ(r.markers[2].time, 0.0f);
    EXPECT_FLOAT_EQ(r.markers[3].time, 20.0f);
    EXPECT_FLOAT_EQ(r.markers[4].time, 30.0f);
    EXPECT_FLOAT_EQ(r.markers[5].time, 0.0f);

    // The file's own rates replace the defaults; unusable ones are ignored.
    std::string rates = "SAMPLE RATE:\t96000\nTIMECODE FORMAT:\t29.97 Drop Frame\n";
    rates += kHeader;  // its 48000 line comes after and wins
    rates += Row("00:00:01:15", "x", "drop frame");
    rates += "SAMPLE RATE: inf\n";
    rates += Row("", "96000", "still 48k");
    rates += "SAMPLE RATE: 2e7\n";
    rates += Row("", "96000", "still 48k again");
    rates += "SAMPLE RATE: 96000\n";
    rates += Row("", "96000", "now 96k");
    r = ImportText(dir, rates);
    ASSERT_EQ(r.markers.size(), 4u);
    EXPECT_NEAR(r.markers[0].time, 1.0f + 15.0f / 29.97f, 1e-5);
    EXPECT_FLOAT_EQ(r.markers[1].time, 2.0f);
    EXPECT_FLOAT_EQ(r.markers[2].time, 2.0f);
    EXPECT_FLOAT_EQ(r.markers[3].time, 1.0f);

    // Without a timecode format line the caller's rate counts; 0 means 25.
    r = ImportText(dir, std::string(kHeader) + Row("00:00:00:12", "x", "f"), 24);
    EXPECT_FLOAT_EQ(r.markers.at(0).time, 0.5f);
    r = ImportText(dir, std::string(kHeader) + Row("00:00:00:12", "x", "f"), 0);
    EXPECT_FLOAT_EQ(r.markers.at(0).time, 0.48f);
}

TEST(SessionMarkers, ScenesNamesAndWords) {
    TempDir dir;
    std::string text = kHeader;
    text += Row("", "48000", "SCENE, Harbour, night rain");
    text += Row("", "96000", "scene, Dock,, wind", "cold");
    text += Row("", "144000", "bloom high wind");
    text += Row("", "192000", "Rain, low heavy");
    text += Row("", "240000", "spot bloom low HIGH crash");
    text += Row("", "288000", "fill scatter mid");
    text += Row("", "336000", "RAIN, bloom high air");
    Imported r = ImportText(dir, text, 25, {"Thunder", "rain"});
    ASSERT_EQ(r.scenes.size(), 2u);
    EXPECT_FLOAT_EQ(r.scenes[0].time, 1.0f);
    EXPECT_STREQ(r.scenes[0].name, "Harbour");
    EXPECT_STREQ(r.scenes[0].keywords, "night rain");
    EXPECT_STREQ(r.scenes[1].name, "Dock");
    EXPECT_STREQ(r.scenes[1].keywords, "wind cold");

    ASSERT_EQ(r.markers.size(), 5u);
    const MarkerEvent& bloom = r.markers[0];
    EXPECT_EQ(bloom.shape, 1);
    EXPECT_FLOAT_EQ(bloom.weightCenter, 0.7f);
    EXPECT_STREQ(bloom.keywords, "wind");
    EXPECT_STREQ(bloom.presetName, "");
    EXPECT_STREQ(bloom.name, "bloom high wind");

    const MarkerEvent& rain = r.markers[1];
    EXPECT_STREQ(rain.presetName, "rain");  // as the recipe list writes it
    EXPECT_FLOAT_EQ(rain.weightCenter, 0.3f);
    EXPECT_STREQ(rain.keywords, "heavy");

    const MarkerEvent& twice = r.markers[2];  // only the first of each kind counts
    EXPECT_EQ(twice.shape, 0);
    EXPECT_FLOAT_EQ(twice.weightCenter, 0.3f);
    EXPECT_STREQ(twice.keywords, "bloom HIGH crash");

    const MarkerEvent& other = r.markers[3];
    EXPECT_TRUE(other.otherShapeWord);
    EXPECT_EQ(other.shape, 0);
    EXPECT_FLOAT_EQ(other.weightCenter, 0.5f);
    EXPECT_STREQ(other.keywords, "scatter");

    // After a recipe name, shape words are plain keywords.
    const MarkerEvent& recipeShape = r.markers[4];
    EXPECT_STREQ(recipeShape.presetName, "rain");
    EXPECT_EQ(recipeShape.shape, 0);
    EXPECT_FLOAT_EQ(recipeShape.weightCenter, 0.7f);
    EXPECT_STREQ(recipeShape.keywords, "bloom air");

    // Without a scene vector a scene marker is an ordinary one.
    std::vector<MarkerEvent> markers;
    ASSERT_TRUE(ImportSessionMarkers(dir.File("session.txt"), 25, markers, nullptr, {}));
    ASSERT_EQ(markers.size(), 7u);
    EXPECT_STREQ(markers[0].name, "SCENE, Harbour, night rain");
    EXPECT_STREQ(markers[0].keywords, "SCENE Harbour night rain");

    // Matching resets what an earlier match set.
    MarkerEvent reused = bloom;
    MatchMarkerName("   ", {}, reused);
    EXPECT_EQ(reused.shape, 0);
    EXPECT_FLOAT_EQ(reused.weightCenter, 0.3f);
    EXPECT_STREQ(reused.keywords, "");
}

TEST(SessionMarkers, SectionHeaderRowsAndEnd) {
    TempDir dir;
    std::string text = Row("", "48000", "before the section");
    text += "MARKERS LISTING\n";
    text += Row("", "48000", "before the header");
    text += "#\tLOCATION\tTIME REFERENCE\tUNITS\tNAME\tCOMMENTS\n";
    text += "1\t00:00:01:00\t48000\tSamples\n";                 // four fields: ignored
    text += "2\t00:00:02:00\t96000\tSamples\tsix fields\tX\n";  // six: the header's comments
    text += "3\t00:00:03:00\t144000\tSamples\t  \tX\tY\tlonely comment\n";  // no name
    text += "\n";
    text += "T R A C K  L I S T I N G\n";
    text += Row("", "192000", "after the end");
    Imported r = ImportText(dir, text);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.markers.size(), 1u);
    EXPECT_STREQ(r.markers[0].name, "six fields");
    EXPECT_STREQ(r.markers[0].keywords, "six fields X");
    EXPECT_FLOAT_EQ(r.markers[0].time, 2.0f);

    for (const char* end : {"P L U G-I N S  L I S T I N G", "O N L I N E  C L I P S"}) {
        r = ImportText(dir, std::string(kHeader) + Row("", "48000", "a") + end + "\n" + Row("", "96000", "b"));
        EXPECT_EQ(r.markers.size(), 1u) << end;
    }
}

// Most exports write six columns, some eight ("TRACK NAME", "TRACK TYPE"
// before "COMMENTS"): the header row says where the comments are. Columns in
// another order are found by name; a header naming none keeps the
// eight-column places.
TEST(SessionMarkers, CommentsAreReadFromTheColumnTheHeaderNames) {
    TempDir dir;
    const std::string six = "M A R K E R S  L I S T I N G\n#   \tLOCATION \tTIME REFERENCE \tUNITS \tNAME \tCOMMENTS\n"
                            "1\t00:00:01:00\t48000\tSamples\tDoor slam\theavy oak\n"
                            "2\t00:00:02:00\t96000\tSamples\tRain\t\n"
                            "3\t00:00:03:00\t144000\tSamples\tscene, Harbour, night\tgulls\n";
    const std::string eight = kHeader + Row("", "48000", "Door slam", "heavy oak") + Row("", "96000", "Rain");
    const std::string shuffled = "MARKERS LISTING\n#\tNAME\tCOMMENTS\tTIME REFERENCE\tLOCATION\tUNITS\n"
                                 "1\tDoor slam\theavy oak\t48000\t00:00:09:00\tSamples\n"
                                 "2\tRain\t\t\t00:00:02:00\tSamples\n";  // no sample count: the location
    const std::string unnamed = "MARKERS LISTING\n#  LOCATION  TIME REFERENCE  NAME\n" +
                                Row("", "48000", "Door slam", "heavy oak") +
                                "2\t00:00:02:00\t96000\tSamples\tRain\tnot comments\n";
    for (const std::string* text : {&six, &eight, &shuffled, &unnamed}) {
        const Imported r = ImportText(dir, *text);
        ASSERT_EQ(r.markers.size(), 2u) << *text;
        EXPECT_FLOAT_EQ(r.markers[0].time, 1.0f);
        EXPECT_STREQ(r.markers[0].keywords, "Door slam heavy oak") << *text;
        EXPECT_FLOAT_EQ(r.markers[1].time, 2.0f);
        EXPECT_STREQ(r.markers[1].keywords, "Rain") << *text;
    }
    const Imported scenes = ImportText(dir, six);
    ASSERT_EQ(scenes.scenes.size(), 1u);
    EXPECT_STREQ(scenes.scenes[0].keywords, "night gulls");
}

TEST(SessionMarkers, UnreadableAndEmptyFilesDiffer) {
    TempDir dir;
    std::vector<MarkerEvent> markers(3);
    std::vector<MarkerScene> scenes(2);
    EXPECT_FALSE(ImportSessionMarkers(dir.File("missing.txt"), 25, markers, &scenes, {}));
    EXPECT_TRUE(markers.empty());
    EXPECT_TRUE(scenes.empty());
    EXPECT_FALSE(ImportSessionMarkers(dir.path(), 25, markers, &scenes, {}));  // a folder

    Imported r = ImportText(dir, "");
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.markers.empty());
}

TEST(SessionMarkers, HostileFilesStayInBounds) {
    TempDir dir;
    const std::string fixture = ReadWholeFile(FixturePath("markers-rulers-and-tracks.txt"));
    ASSERT_FALSE(fixture.empty());

    // Every byte value, NUL among them, in lines too short to be rows.
    std::string binary = kHeader;
    for (int i = 0; i < 4096; ++i) {
        char c = static_cast<char>((i * 7919 + (i >> 3)) & 0xFF);
        binary += (c == '\t' || c == '\n') ? '\0' : c;
        if (i % 64 == 63) binary += '\n';
    }
    binary += Row("", "48000", std::string("nul\0name", 8), std::string("co\0mment", 8));

    std::string utf16 = "\xFF\xFE";
    for (char c : fixture) {
        utf16 += c;
        utf16 += '\0';
    }

    const std::string longField(10000, 'w');
    std::string multibyte;
    for (int i = 0; i < 5000; ++i) multibyte += "\xC3\xA9";

    std::string manyRows = kHeader;
    for (int i = 0; i < 200000; ++i) manyRows += "1\t\t" + std::to_string(i) + "\tS\tm\n";

    std::string oneLongLine = std::string(kHeader) + std::string(50u << 20, 'x') + "\n" + Row("", "48000", "after");

    struct Case {
        const char* what;
        std::string text;
        size_t markers, scenes;
    };
    const Case cases[] = {
        {"empty", "", 0, 0},
        {"binary with NUL bytes", binary, 1, 0},
        {"UTF-16", utf16, 0, 0},
        {"one 50 MB line", oneLongLine, 1, 0},
        {"200,000 rows", manyRows, kMaxSessionMarkers, 0},
        {"10,000-character fields",
         std::string(kHeader) + Row("", "1", longField, longField) + Row("", "2", "scene, " + longField, longField) +
             Row("", "3", multibyte, multibyte),
         2, 1},
        {"infinite sample rate", "SAMPLE RATE: inf\n" + std::string(kSection) + Row("", "48000", "a"), 1, 0},
        {"30-digit time reference", std::string(kHeader) + Row("", "999999999999999999999999999999", "a"), 1, 0},
        {"Latin-1 names", std::string(kHeader) + Row("", "1", "Caf\xE9 cr\xE8me", "fa\xE7" "ade"), 1, 0},
        {"no markers section", "SESSION NAME:\tx\n" + Row("", "48000", "a"), 0, 0},
        {"header but no rows", kHeader, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Imported r = ImportText(dir, c.text);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.markers.size(), c.markers);
        EXPECT_EQ(r.scenes.size(), c.scenes);
        ExpectCleanRecords(r);
    }

    // Spot checks on what the reading and the cleaning kept.
    Imported r = ImportText(dir, "SAMPLE RATE: inf\n" + std::string(kSection) + Row("", "48000", "a"));
    EXPECT_FLOAT_EQ(r.markers.at(0).time, 1.0f);
    // The 50 MB line streams past: far less than it is ever held at once.
    ASSERT_TRUE(WriteWholeFile(dir.File("long.txt"), oneLongLine));
    {
        PeakMemoryProbe probe;
        std::vector<MarkerEvent> markers;
        ASSERT_TRUE(ImportSessionMarkers(dir.File("long.txt"), 25, markers, nullptr, {}));
        EXPECT_STREQ(markers.at(0).name, "after");
        if (probe.Available()) {
            EXPECT_LT(probe.PeakGrowthBytes(), int64_t(12) << 20);
        }
    }
    r = ImportText(dir, std::string(kHeader) + Row("", "1", "Caf\xE9", "") + Row("", "2", multibyte));
    ASSERT_EQ(r.markers.size(), 2u);
    EXPECT_STREQ(r.markers[0].name, "Caf\xEF\xBF\xBD");
    EXPECT_EQ(std::strlen(r.markers[1].name), 126u);  // 63 whole two-byte characters
    r = ImportText(dir, binary);
    ASSERT_EQ(r.markers.size(), 1u);
    EXPECT_STREQ(r.markers[0].name, "nulname");
    EXPECT_STREQ(r.markers[0].keywords, "nulname comment");
}
