// Recipe files: the exact text, what reads back, lenient reading of older,
// newer and damaged files, file names, and saves that must not go through.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "library/file_registry.h"
#include "persistence/json_writer.h"
#include "recipes/preset_json.h"
#include "recipes/preset_text.h"
#include "recipes/recipe_file.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

EventPreset ReadText(const TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(WriteWholeFile(path, text));
    return ReadRecipeFile(path);
}

void ExpectDefaults(const EventPreset& p) {
    EventPreset d;
    EXPECT_STREQ(p.name, "");
    EXPECT_EQ(p.shape, d.shape);
    EXPECT_FLOAT_EQ(p.duration, d.duration);
    EXPECT_FLOAT_EQ(p.alloyMorph, d.alloyMorph);  // the constructor's 1.0, not the reader's 0.35
    EXPECT_FLOAT_EQ(p.spread, d.spread);
    EXPECT_TRUE(p.pinnedFiles.empty());
}

}  // namespace

TEST(RecipeFile, BedRecipeTextIsExactlyTheLayout) {
    FileRegistry::Instance().RegisterFileRef({"a1b2c3d4e5f60718", "/sfx/rain \"roof\".wav", 0xdeadbeef01ull, 123456});
    EventPreset p;
    std::strcpy(p.name, "Night Rain");
    std::strcpy(p.keywords, "rain, roof");
    p.shape = kShapeBed;
    p.intensityMode = 1;
    p.duration = 8;
    p.syncOffset = 2.5f;
    p.spread = 0.25f;
    p.weightCenter = 0.5f;
    p.intensityScale = 1.5f;
    p.weightOffset = -0.125f;
    p.alloyMorph = 0.75f;
    p.pitchVariation = 0.5f;
    p.reverbSend = -1;
    p.gain = 0.5f;                            // not written
    p.fillLayers = 3;
    p.groupOverride = 2;
    p.stereo = true;
    std::strcpy(p.pinnedFile, "/sfx/x.wav");  // not a Clip: not written
    std::strcpy(p.libFilter, "Ambience,Rain");
    p.pinnedFiles = {"/sfx/rain \"roof\".wav", "/sfx/gutter.wav"};
    p.pinnedFileIds = {"a1b2c3d4e5f60718", ""};
    p.bedLayerLoop = {1, 0};
    p.bedLayerWeight = {0.25f, -1.0f};
    p.weight.fill(0.5f);
    p.intensity.fill(1.0f);
    p.sourcePath = "/somewhere/Night Rain.tlrecipe";  // not written

    const std::string expected = std::string() +
        "{\n"
        "  \"format\": \"TessaloomRecipe\",\n"
        "  \"formatVersion\": 1,\n"
        "  \"createdBy\": \"2026.8\",\n"
        "  \"name\": \"Night Rain\",\n"
        "  \"keywords\": \"rain, roof\",\n"
        "  \"shape\": 6,\n"
        "  \"intensityMode\": 1,\n"
        "  \"duration\": 8,\n"
        "  \"syncOffset\": 2.5,\n"
        "  \"spread\": 0.25,\n"
        "  \"weightCenter\": 0.5,\n"
        "  \"intensityScale\": 1.5,\n"
        "  \"weightOffset\": -0.125,\n"
        "  \"alloyMorph\": 0.75,\n"
        "  \"pitchVariation\": 0.5,\n"
        "  \"reverbSend\": -1,\n"
        "  \"fillLayers\": 3,\n"
        "  \"groupOverride\": 2,\n"
        "  \"stereo\": true,\n"
        "  \"libFilter\": \"Ambience,Rain\",\n"
        "  \"pinnedFiles\": \n"
        "  [\n"
        "    \"/sfx/rain \\\"roof\\\".wav\",\n"
        "    \"/sfx/gutter.wav\"\n"
        "  ],\n"
        "  \"pinnedFileIds\": \n"
        "  [\n"
        "    \"a1b2c3d4e5f60718\",\n"
        "    \"\"\n"
        "  ],\n"
        "  \"pinnedFileHashes\": \n"
        "  [\n"
        "    \"000000deadbeef01\",\n"
        "    \"0000000000000000\"\n"
        "  ],\n"
        "  \"pinnedFileSizes\": \n"
        "  [\n"
        "    \"123456\",\n"
        "    \"0\"\n"
        "  ],\n"
        "  \"bedLayerLoop\": \n"
        "  [\n"
        "    1,\n"
        "    0\n"
        "  ],\n"
        "  \"bedLayerWeight\": \n"
        "  [\n"
        "    0.25,\n"
        "    -1\n"
        "  ],\n" +
        CurveLine(2, "weight", "0.5") + ",\n" +
        CurveLine(2, "intensity", "1") + "\n"
        "}";
    EXPECT_EQ(RecipeFileText(p), expected);
}

TEST(RecipeFile, OptionalMembersFollowTheirConditions) {
    struct Case {
        const char* what;
        void (*setUp)(EventPreset& p);
        const char* present;  // a member that must be written (nullptr: none)
        const char* absent;   // a member that must not be written
    };
    const Case cases[] = {
        {"a Spot writes no clip members, even with a file",
         [](EventPreset& p) { p.shape = kShapeSpot; std::strcpy(p.pinnedFile, "/a.wav"); p.clipReverse = true; },
         nullptr, "\"pinnedFile\""},
        {"a Spot writes no clip timing",
         [](EventPreset& p) { p.shape = kShapeSpot; std::strcpy(p.pinnedFile, "/a.wav"); },
         nullptr, "\"clipSourceOffset\""},
        {"a Clip without a file writes no clip block",
         [](EventPreset& p) { p.shape = kShapeClip; }, nullptr, "\"clipFadeIn\""},
        {"a pitch rate within 0.001 of 1 is not written",
         [](EventPreset& p) { p.shape = kShapeClip; std::strcpy(p.pinnedFile, "/a.wav"); p.clipPitchRate = 1.0005f; },
         "\"clipFadeOut\"", "\"clipPitchRate\""},
        {"a pitch rate of 0.5 is written",
         [](EventPreset& p) { p.shape = kShapeClip; std::strcpy(p.pinnedFile, "/a.wav"); p.clipPitchRate = 0.5f; },
         "\"clipPitchRate\": 0.5", nullptr},
        {"no id, no id member; an unset clip weight stays out",
         [](EventPreset& p) { p.shape = kShapeClip; std::strcpy(p.pinnedFile, "/a.wav"); },
         "\"pinnedFile\": \"/a.wav\"", "\"pinnedFileId\""},
        {"an unset clip weight stays out",
         [](EventPreset& p) { p.shape = kShapeClip; std::strcpy(p.pinnedFile, "/a.wav"); },
         nullptr, "\"clipWeight\""},
        {"a clip weight of 0 is written",
         [](EventPreset& p) { p.shape = kShapeClip; std::strcpy(p.pinnedFile, "/a.wav"); p.clipWeight = 0; },
         "\"clipWeight\": 0", nullptr},
        {"without pinned files no ids are written",
         [](EventPreset& p) { p.pinnedFileIds = {"1"}; p.bedLayerLoop = {1}; p.bedLayerWeight = {0.3f}; },
         nullptr, "\"pinnedFileIds\""},
        {"without pinned files no loops are written",
         [](EventPreset& p) { p.bedLayerLoop = {1}; }, nullptr, "\"bedLayerLoop\""},
        {"without pinned files no weights are written",
         [](EventPreset& p) { p.bedLayerWeight = {0.3f}; }, nullptr, "\"bedLayerWeight\""},
        {"pinned files without ids write no hashes",
         [](EventPreset& p) { p.pinnedFiles = {"/a.wav"}; }, "\"pinnedFiles\"", "\"pinnedFileHashes\""},
        {"a small pitch variation is not written",
         [](EventPreset& p) { p.pitchVariation = 0.001f; }, nullptr, "\"pitchVariation\""},
        {"an empty library filter is not written", [](EventPreset&) {}, nullptr, "\"libFilter\""},
        {"a value that is not finite is written as null",
         [](EventPreset& p) { p.spread = NAN; }, "\"spread\": null", "nan"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EventPreset p;
        c.setUp(p);
        const std::string text = RecipeFileText(p);
        if (c.present) {
            EXPECT_NE(text.find(c.present), std::string::npos);
        }
        if (c.absent) {
            EXPECT_EQ(text.find(c.absent), std::string::npos);
        }
    }
}

TEST(RecipeFile, ClipAndBedRecipesReadBack) {
    TempDir dir;
    const std::string clipSource = dir.File("door.wav");
    const std::string bedA = dir.File("room a.wav");
    const std::string bedB = dir.File("room b.wav");
    ASSERT_TRUE(WriteWholeFile(clipSource, WavHolding("round trip clip " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(bedA, WavHolding("round trip bed a " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(bedB, WavHolding("round trip bed b " + dir.path())));
    FileRegistry& registry = FileRegistry::Instance();

    EventPreset clip;
    std::strcpy(clip.name, "Door \"Heavy\" ünd Slam");
    std::strcpy(clip.keywords, "door, slam\twood");
    clip.shape = kShapeClip;
    clip.intensityMode = 2;
    clip.duration = 1.75f;
    clip.syncOffset = 0.3f;
    clip.spread = 0.1f;
    clip.weightCenter = 0.7f;
    clip.intensityScale = 0.9f;
    clip.weightOffset = 0.05f;
    clip.alloyMorph = 0.6f;
    clip.pitchVariation = 0.25f;
    clip.reverbSend = 0.4f;
    clip.gain = 0.3f;
    clip.fillLayers = 5;
    clip.groupOverride = 1;
    clip.stereo = true;
    std::strcpy(clip.pinnedFile, clipSource.c_str());
    clip.pinnedFileId = registry.FileRefForPath(clipSource).id;
    std::strcpy(clip.libFilter, "~none~");
    clip.clipSourceOffset = 0.125f;
    clip.clipSourceDuration = 1.5f;
    clip.clipFadeIn = 0.01f;
    clip.clipFadeOut = 0.2f;
    clip.clipPitchRate = 1.5f;
    clip.clipReverse = true;
    clip.clipWeight = 0.42f;
    for (int i = 0; i < 256; ++i) {
        clip.weight[i] = static_cast<float>(i) / 255.0f * 0.9f;
        clip.intensity[i] = 1.0f - static_cast<float>(i) / 300.0f;
    }

    EventPreset bed;
    std::strcpy(bed.name, "Room Tone");
    bed.shape = kShapeBed;
    bed.duration = 30;
    bed.syncOffset = 0;
    bed.pinnedFiles = {bedA, bedB};
    bed.pinnedFileIds = {registry.FileRefForPath(bedA).id, registry.FileRefForPath(bedB).id};
    bed.bedLayerLoop = {1, 0};
    bed.bedLayerWeight = {0.5f, 0.8f};
    bed.weight.fill(0.25f);
    bed.intensity.fill(0.75f);

    for (const EventPreset* original : {&clip, &bed}) {
        SCOPED_TRACE(original->name);
        ASSERT_EQ(SaveRecipeFile(dir.path(), *original), kPresetSaved);
        const std::string path = dir.File(PresetFileStem(original->name) + ".tlrecipe");
        EventPreset back = ReadRecipeFile(path);
        const EventPreset& o = *original;
        EXPECT_STREQ(back.name, o.name);
        EXPECT_STREQ(back.keywords, o.keywords);
        EXPECT_EQ(back.shape, o.shape);
        EXPECT_EQ(back.intensityMode, o.intensityMode);
        EXPECT_EQ(back.duration, o.duration);
        EXPECT_EQ(back.syncOffset, o.syncOffset);
        EXPECT_EQ(back.spread, o.spread);
        EXPECT_EQ(back.weightCenter, o.weightCenter);
        EXPECT_EQ(back.intensityScale, o.intensityScale);
        EXPECT_EQ(back.weightOffset, o.weightOffset);
        EXPECT_EQ(back.alloyMorph, o.alloyMorph);
        EXPECT_EQ(back.pitchVariation, o.pitchVariation);
        EXPECT_EQ(back.reverbSend, o.reverbSend);
        EXPECT_EQ(back.gain, 1.0f);  // never written
        EXPECT_EQ(back.fillLayers, o.fillLayers);
        EXPECT_EQ(back.groupOverride, o.groupOverride);
        EXPECT_EQ(back.stereo, o.stereo);
        EXPECT_STREQ(back.pinnedFile, o.pinnedFile);
        EXPECT_EQ(back.pinnedFileId, o.pinnedFileId);
        EXPECT_STREQ(back.libFilter, o.libFilter);
        EXPECT_EQ(back.pinnedFiles, o.pinnedFiles);
        EXPECT_EQ(back.pinnedFileIds, o.pinnedFileIds);
        EXPECT_EQ(back.bedLayerLoop, o.bedLayerLoop);
        std::vector<float> weights = o.bedLayerWeight;
        for (float& w : weights)
            if (w == 0.5f) w = -1.0f;  // 0.5 reads as automatic
        EXPECT_EQ(back.bedLayerWeight, weights);
        EXPECT_EQ(back.clipSourceOffset, o.clipSourceOffset);
        EXPECT_EQ(back.clipSourceDuration, o.clipSourceDuration);
        EXPECT_EQ(back.clipFadeIn, o.clipFadeIn);
        EXPECT_EQ(back.clipFadeOut, o.clipFadeOut);
        EXPECT_EQ(back.clipPitchRate, o.clipPitchRate);
        EXPECT_EQ(back.clipReverse, o.clipReverse);
        EXPECT_EQ(back.clipWeight, o.clipWeight);
        for (int i = 0; i < 256; ++i) {
            // Curve points come back as they were, not to four digits.
            EXPECT_EQ(back.weight[i], o.weight[i]) << i;
            EXPECT_EQ(back.intensity[i], o.intensity[i]) << i;
        }
        EXPECT_EQ(back.sourcePath, path);
    }
}

TEST(RecipeFile, LenientReadsOfOlderNewerAndOddFiles) {
    TempDir dir;
    struct Case {
        const char* what;
        std::string text;
        void (*check)(const EventPreset& p);
    };
    const Case cases[] = {
        {"sync offset defaults to half the duration; alloy morph to 0.35; shape to Bloom",
         R"({"duration": 3})",
         [](const EventPreset& p) {
             EXPECT_FLOAT_EQ(p.syncOffset, 1.5f);
             EXPECT_FLOAT_EQ(p.alloyMorph, 0.35f);
             EXPECT_EQ(p.shape, kShapeBloom);
         }},
        {"enumerations and ranges are clamped",
         R"({"shape": 9, "fillLayers": 40, "pitchVariation": 1.7, "intensityMode": -4})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.shape, kShapeBed);
             EXPECT_EQ(p.fillLayers, 24);
             EXPECT_FLOAT_EQ(p.pitchVariation, 1.0f);
             EXPECT_EQ(p.intensityMode, 0);
         }},
        {"a negative shape reads as Spot; integer parts are truncated",
         R"({"shape": -2, "groupOverride": 2.9, "fillLayers": 3.99})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.shape, kShapeSpot);
             EXPECT_EQ(p.groupOverride, 2);
             EXPECT_EQ(p.fillLayers, 3);
         }},
        {"a huge shape is clamped, not wrapped",
         R"({"shape": 1e12})", [](const EventPreset& p) { EXPECT_EQ(p.shape, kShapeBed); }},
        {"mistyped members keep their defaults",
         R"({"name": 5, "duration": "long", "stereo": 1, "keywords": ["a"]})",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.name, "");
             EXPECT_FLOAT_EQ(p.duration, 2.0f);
             EXPECT_FALSE(p.stereo);
             EXPECT_STREQ(p.keywords, "");
         }},
        {"layer weights: 0.5, negatives and non-numbers are automatic, above 1 is capped",
         R"({"pinnedFiles": ["/w1", "/w2", "/w3", "/w4", "/w5"], "pinnedFileIds": ["00000000000ee001","00000000000ee002","00000000000ee003","00000000000ee004","00000000000ee005"],
             "bedLayerWeight": [0.5, 0.25, -3, 2, "x"], "bedLayerLoop": [1, 0, 2.5, 0.5]})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.bedLayerWeight, (std::vector<float>{-1, 0.25f, -1, 1, -1}));
             EXPECT_EQ(p.bedLayerLoop, (std::vector<uint8_t>{1, 0, 1, 0}));
         }},
        {"empty and non-string pinned files are skipped; lists are cut to the files",
         R"({"pinnedFiles": ["/e1", "", 7, "/e2"], "pinnedFileIds": ["00000000000ee011", "00000000000ee012", "00000000000ee013"],
             "bedLayerLoop": [1, 1, 1], "bedLayerWeight": [0.1, 0.2, 0.3]})",
         [](const EventPreset& p) {
             EXPECT_EQ(p.pinnedFiles, (std::vector<std::string>{"/e1", "/e2"}));
             EXPECT_EQ(p.pinnedFileIds, (std::vector<std::string>{"00000000000ee011", "00000000000ee012"}));
             EXPECT_EQ(p.bedLayerLoop.size(), 2u);
             EXPECT_EQ(p.bedLayerWeight.size(), 2u);
         }},
        {"stored hashes and sizes reach the registry; a size that is no number is 0",
         R"({"pinnedFiles": ["/reg/one.wav", "/reg/two.wav"], "pinnedFileIds": ["00000000000ee021", "00000000000ee022"],
             "pinnedFileHashes": ["00000000000000ab", "cd"], "pinnedFileSizes": ["abc", "4096"]})",
         [](const EventPreset&) {
             FileRef one, two;
             ASSERT_TRUE(FileRegistry::Instance().GetFileRef("00000000000ee021", one));
             ASSERT_TRUE(FileRegistry::Instance().GetFileRef("00000000000ee022", two));
             EXPECT_EQ(one.path, "/reg/one.wav");
             EXPECT_EQ(one.hash, 0xabu);
             EXPECT_EQ(one.size, 0u);
             EXPECT_EQ(two.hash, 0xcdu);
             EXPECT_EQ(two.size, 4096u);
         }},
        {"the older clip keys are read; the newer one wins when both are there",
         R"({"shape": 5, "pinnedFile": "/clip/old.wav", "pinnedFileId": "00000000000ee031",
             "placeFadeIn": 0.2, "placeSourceOffset": 3, "clipSourceOffset": 4, "placeFadeOut": 0.3, "clipFadeOut": "x",
             "placeSourceDuration": 1.5})",
         [](const EventPreset& p) {
             EXPECT_FLOAT_EQ(p.clipFadeIn, 0.2f);
             EXPECT_FLOAT_EQ(p.clipSourceOffset, 4.0f);
             EXPECT_FLOAT_EQ(p.clipFadeOut, 0.3f);
             EXPECT_FLOAT_EQ(p.clipSourceDuration, 1.5f);
             EXPECT_FLOAT_EQ(p.clipWeight, -1.0f);
             EXPECT_FLOAT_EQ(p.clipPitchRate, 1.0f);
         }},
        {"clip members of a recipe that is not a Clip are not read",
         R"({"shape": 3, "pinnedFile": "/clip/x.wav", "clipFadeIn": 0.5})",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.pinnedFile, "");
             EXPECT_FLOAT_EQ(p.clipFadeIn, -1.0f);
         }},
        {"a pinned file path longer than its field is left out, not cut",
         std::string(R"({"shape": 5, "pinnedFile": ")") + std::string(600, 'p') + R"("})",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.pinnedFile, "");
             EXPECT_TRUE(p.pinnedFileId.empty());
         }},
        {"a name longer than its field is cut at a character boundary, with an ellipsis",
         std::string(R"({"name": ")") + std::string(62, 'n') + "\xC3\xA9" + R"("})",
         [](const EventPreset& p) { EXPECT_EQ(std::string(p.name), std::string(60, 'n') + "\u2026"); }},
        {"unknown members are ignored",
         R"({"name": "Odd", "mystery": {"deep": [1, 2]}, "shape": 2})",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.name, "Odd");
             EXPECT_EQ(p.shape, 2);
             EXPECT_EQ(RecipeFileText(p).find("mystery"), std::string::npos);
         }},
        {"a file cut short keeps what came before the cut",
         R"({"name": "Cut", "shape": 4, "duration": 6, "spre)",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.name, "Cut");
             EXPECT_EQ(p.shape, 4);
             EXPECT_FLOAT_EQ(p.spread, 0.3f);
         }},
        {"Windows line ends are white space",
         "{\r\n  \"name\": \"CRLF\",\r\n  \"shape\": 0\r\n}",
         [](const EventPreset& p) {
             EXPECT_STREQ(p.name, "CRLF");
             EXPECT_EQ(p.shape, 0);
         }},
        {"curves: a short array keeps 0.5 beyond it, a missing curve is 0.5",
         R"({"weight": [0.1, "x", 0.3]})",
         [](const EventPreset& p) {
             EXPECT_FLOAT_EQ(p.weight[0], 0.1f);
             EXPECT_FLOAT_EQ(p.weight[1], 0.5f);
             EXPECT_FLOAT_EQ(p.weight[2], 0.3f);
             EXPECT_FLOAT_EQ(p.intensity[200], 0.5f);
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.check(ReadText(dir, "case" + std::to_string(n++) + ".tlrecipe", c.text));
    }
}

TEST(RecipeFile, PinnedFilesWithoutIdsAreFingerprintedOnRead) {
    TempDir dir;
    const std::string bed = dir.File("bed.wav");
    const std::string clip = dir.File("clip.wav");
    ASSERT_TRUE(WriteWholeFile(bed, WavHolding("fingerprint on read bed " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(clip, WavHolding("fingerprint on read clip " + dir.path())));
    EventPreset p = ReadText(dir, "ids.tlrecipe",
                             "{\"shape\": 5, \"pinnedFile\": \"" + clip + "\", \"pinnedFiles\": [\"" + bed +
                                 "\", \"/nowhere/gone.wav\"]}");
    FileRef ref;
    ASSERT_TRUE(FileRegistry::Instance().GetFileRef(p.pinnedFileId, ref));
    EXPECT_EQ(ref.path, clip);
    ASSERT_EQ(p.pinnedFileIds.size(), 2u);
    ASSERT_TRUE(FileRegistry::Instance().GetFileRef(p.pinnedFileIds[0], ref));
    EXPECT_EQ(ref.path, bed);
    EXPECT_TRUE(p.pinnedFileIds[1].empty());
}

TEST(RecipeFile, UnreadableFilesGiveTheDefaults) {
    TempDir dir;
    const std::string binary("\x00\x01\xff\xfe{\"name\": \"hidden\"}", 22);
    ASSERT_TRUE(WriteWholeFile(dir.File("binary.tlrecipe"), binary));
    ASSERT_TRUE(WriteWholeFile(dir.File("empty.tlrecipe"), ""));
    ASSERT_TRUE(WriteWholeFile(dir.File("array.tlrecipe"), R"([{"name": "inside"}])"));
    ASSERT_TRUE(WriteWholeFile(dir.File("number.tlrecipe"), "42"));
    // Larger than a recipe can be: not read at all.
    std::string huge = R"({"name": "Huge", "pad": ")" + std::string((16u << 20) + 8, 'x') + "\"}";
    ASSERT_TRUE(WriteWholeFile(dir.File("huge.tlrecipe"), huge));
    ASSERT_EQ(::mkfifo(dir.File("fifo.tlrecipe").c_str(), 0600), 0);
    fs::create_directory(dir.File("folder.tlrecipe"));

    for (const char* name : {"missing.tlrecipe", "binary.tlrecipe", "empty.tlrecipe", "array.tlrecipe",
                             "number.tlrecipe", "huge.tlrecipe", "fifo.tlrecipe", "folder.tlrecipe"}) {
        SCOPED_TRACE(name);
        EventPreset p = ReadRecipeFile(dir.File(name));
        EXPECT_EQ(p.sourcePath, dir.File(name));
        // A text that parsed but held no object gives the reader's defaults;
        // one that could not be read at all, the constructor's.
        bool parsed = std::strcmp(name, "array.tlrecipe") == 0 || std::strcmp(name, "number.tlrecipe") == 0 ||
                      std::strcmp(name, "empty.tlrecipe") == 0 || std::strcmp(name, "binary.tlrecipe") == 0;
        if (parsed) {
            EXPECT_STREQ(p.name, "");
            EXPECT_EQ(p.shape, kShapeBloom);
            EXPECT_FLOAT_EQ(p.alloyMorph, 0.35f);
            EXPECT_FLOAT_EQ(p.syncOffset, 1.0f);
        } else {
            ExpectDefaults(p);
        }
    }
}

TEST(RecipeFile, NewerFormatWarnsOnceOnStandardError) {
    TempDir dir;
    struct Case {
        const char* text;
        bool warns;
    };
    const Case cases[] = {
        {R"({"formatVersion": 2, "name": "Next"})", true},
        {R"({"version": 3, "formatVersion": 1, "name": "Next"})", false},
        {R"({"version": 2, "name": "Next"})", true},
        {R"({"formatVersion": "9", "name": "Next"})", false},
        {R"({"formatVersion": 1e30, "name": "Next"})", true},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string path = dir.File("v" + std::to_string(n++) + ".tlrecipe");
        ASSERT_TRUE(WriteWholeFile(path, c.text));
        testing::internal::CaptureStderr();
        EventPreset p = ReadRecipeFile(path);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_STREQ(p.name, "Next");
        if (!c.warns) {
            EXPECT_EQ(err, "");
            continue;
        }
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
        EXPECT_EQ(err.rfind("Recipe '" + path + "' was saved by a newer version (format ", 0), 0u) << err;
        EXPECT_NE(err.find(", this build supports 1). Loading what we can.\n"), std::string::npos) << err;
    }
}

TEST(RecipeFile, StemsKeepOnlyPlainCharacters) {
    EXPECT_EQ(PresetFileStem("Rain / Wind #2"), "Rain  Wind 2");
    EXPECT_EQ(PresetFileStem("\xC3\x9C\xC3\xA9\xC3\xB8"), "recipe");
    EXPECT_EQ(PresetFileStem("\xC3\x9C\xC3\xA9\xC3\xB8", "group"), "group");
    EXPECT_EQ(PresetFileStem("../../etc/passwd"), "etcpasswd");
    EXPECT_EQ(PresetFileStem("a-b_c\x01\n9"), "a-b_c9");
    EXPECT_EQ(PresetFileStem(""), "recipe");
}

TEST(RecipeFile, SavesThatMustNotGoThrough) {
    TempDir dir;
    EventPreset rain1;
    std::strcpy(rain1.name, "Rain1");
    rain1.duration = 1;
    EventPreset rain1Slash = rain1;
    std::strcpy(rain1Slash.name, "Rain!1");
    rain1Slash.duration = 9;

    // A file standing where the folder should be.
    ASSERT_TRUE(WriteWholeFile(dir.File("blocked"), "not a folder"));
    EXPECT_EQ(SaveRecipeFile(dir.File("blocked/Recipes"), rain1), kPresetSaveFolderFailed);
    EXPECT_EQ(SaveRecipeFile("", rain1), kPresetSaveFolderFailed);

    // A folder where the file should be.
    const std::string recipes = dir.File("Recipes");
    fs::create_directories(recipes + "/Rain1.tlrecipe");
    EXPECT_EQ(SaveRecipeFile(recipes, rain1), kPresetSaveWriteFailed);
    EXPECT_TRUE(fs::is_directory(recipes + "/Rain1.tlrecipe"));
    EXPECT_FALSE(fs::exists(recipes + "/Rain1.tlrecipe.tmp"));
    fs::remove(recipes + "/Rain1.tlrecipe");

    // Saved; the same name saves again over it.
    ASSERT_EQ(SaveRecipeFile(recipes, rain1), kPresetSaved);
    rain1.duration = 2;
    ASSERT_EQ(SaveRecipeFile(recipes, rain1), kPresetSaved);
    const std::string path = recipes + "/Rain1.tlrecipe";
    EXPECT_FLOAT_EQ(ReadRecipeFile(path).duration, 2.0f);

    // Another name with the same stem is refused and writes nothing...
    const std::string before = ReadWholeFile(path);
    EXPECT_EQ(SaveRecipeFile(recipes, rain1Slash), kPresetNameTaken);
    EXPECT_EQ(ReadWholeFile(path), before);
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    // ...a write that fails leaves the old file whole and no temporary file...
    fs::create_directory(path + ".tmp");
    EXPECT_EQ(SaveRecipeFile(recipes, rain1), kPresetSaveWriteFailed);
    EXPECT_EQ(ReadWholeFile(path), before);
    fs::remove(path + ".tmp");

    // ...and forcing replaces it.
    EXPECT_EQ(SaveRecipeFile(recipes, rain1Slash, true), kPresetSaved);
    EventPreset now = ReadRecipeFile(path);
    EXPECT_STREQ(now.name, "Rain!1");

    // A name with "/" or ".." was once cut to its letters ("../../escaped"
    // saved as "escaped.tlrecipe" while the file kept the raw name): refused.
    for (const char* bad : {"../../escaped", "Rain/2", "..", "bell\x07"}) {
        EventPreset refused = rain1;
        std::strcpy(refused.name, bad);
        EXPECT_EQ(SaveRecipeFile(recipes, refused), kPresetNameRefused) << bad;
    }
    EXPECT_FALSE(fs::exists(recipes + "/escaped.tlrecipe"));
    EXPECT_FALSE(fs::exists(recipes + "/Rain2.tlrecipe"));
    EXPECT_FLOAT_EQ(now.duration, 9.0f);
    int files = 0;
    for (auto& entry : fs::directory_iterator(recipes)) files += entry.is_regular_file() ? 1 : 0;
    EXPECT_EQ(files, 1);
}

// A name longer than the 64-byte field (a file written elsewhere) is kept as
// far as whole characters go and ends in "…", so menus and lists show that
// it goes on: an 86-character Latin name, a 71-character Hebrew one.
TEST(RecipeFile, ALongNameIsCutBetweenWholeCharactersWithAnEllipsis) {
    TempDir dir;
    std::string latin;
    while (latin.size() < 86) latin += "Thunder Roll ";
    latin.resize(86);
    const EventPreset a = ReadText(dir, "a.tlrecipe", "{\"name\": \"" + latin + "\"}");
    const std::string nameA(a.name);
    EXPECT_LE(nameA.size(), 63u);
    EXPECT_EQ(nameA.substr(nameA.size() - 3), "\u2026");
    EXPECT_EQ(latin.rfind(nameA.substr(0, nameA.size() - 3), 0), 0u) << "a start of the name: " << nameA;
    std::string hebrew;
    for (int k = 0; k < 9; ++k) hebrew += "\u05E8\u05E2\u05DD \u05DB\u05D1\u05D3 ";  // 71 characters
    hebrew.resize(hebrew.size() - 1);
    const EventPreset b = ReadText(dir, "b.tlrecipe", "{\"name\": \"" + hebrew + "\"}");
    const std::string nameB(b.name);
    EXPECT_LE(nameB.size(), 63u);
    EXPECT_EQ(nameB.substr(nameB.size() - 6), "\u2026\u200F") << "the \u2026 bound to the Hebrew word";
    EXPECT_EQ(hebrew.rfind(nameB.substr(0, nameB.size() - 6), 0), 0u);
    std::string stored;
    ASSERT_TRUE(ReadStoredName(dir.File("b.tlrecipe"), stored));
    EXPECT_EQ(stored, nameB) << "compared as the field holds it";
    const EventPreset c = ReadText(dir, "c.tlrecipe", R"({"name": "Door Slam"})");
    EXPECT_STREQ(c.name, "Door Slam");
}
