// Chain files: the exact text of a mixed group, what reads back, lenient
// reading, and saves that must not go through.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "library/file_registry.h"
#include "recipes/chain_file.h"
#include "recipes/preset_text.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

// A Clip at 12 s, a Bed at 10.5 s, a Spot at 11 s and one event left out.
std::vector<Event> DoorEvents() {
    std::vector<Event> events(4);
    Event& clip = events[0];
    clip.time = 12.0f;
    clip.syncOffset = 0.25f;
    std::strcpy(clip.keywords, "door slam");
    clip.shape = kShapeClip;
    clip.duration = 1.25f;
    clip.reverbSend = 0.5f;
    clip.gain = 0.75f;
    clip.hero = true;
    std::strcpy(clip.pinnedFile, "/sfx/door.wav");
    clip.pinnedFileId = "c0ffee0000000001";
    clip.clipSourceOffset = 0.5f;
    clip.clipSourceDuration = 1.0f;
    clip.clipFadeOut = 0.125f;
    clip.clipPitchRate = 0.5f;
    clip.clipReverse = true;
    clip.clipWeight = 0.3f;  // chains carry no clip weight
    clip.weight.fill(0.5f);
    clip.intensity.fill(0.25f);

    Event& bed = events[1];
    bed.time = 10.5f;
    std::strcpy(bed.keywords, "room");
    bed.shape = kShapeBed;
    bed.intensityMode = 1;
    bed.duration = 20.0f;
    bed.stereo = true;
    bed.pinnedFiles = {"/sfx/room.wav", "/sfx/hum.wav"};
    bed.bedLayerLoop = {1, 1};
    std::strcpy(bed.libFilter, "Rooms");
    bed.weight.fill(1.0f);
    bed.intensity.fill(1.0f);

    Event& spot = events[2];
    spot.time = 11.0f;
    std::strcpy(spot.keywords, "tick");
    spot.duration = 0.5f;
    spot.pitchVariation = 0.25f;
    spot.alloy = true;
    spot.pinnedFiles = {"/sfx/not-written.wav"};
    std::strcpy(spot.pinnedFile, "/sfx/not-written-either.wav");

    events[3].time = 1.0f;  // earlier, but not listed: the base stays 10.5
    return events;
}

const char* const kCommon[] = {
    "      \"weightCenter\": 0.5,\n",
    "      \"intensityScale\": 1,\n",
    "      \"weightOffset\": 0,\n",
    "      \"alloyMorph\": 1,\n",
};
std::string Common() {
    std::string s;
    for (const char* line : kCommon) s += line;
    return s;
}

}  // namespace

TEST(ChainFile, MixedGroupTextIsExactlyTheLayout) {
    std::vector<Event> events = DoorEvents();
    Chain chain = ChainFromEvents("Door / Slam", events, {0, 1, -1, 2, 99});
    const std::string expected = std::string() +
        "{\n"
        "  \"format\": \"TessaloomChain\",\n"
        "  \"formatVersion\": 1,\n"
        "  \"createdBy\": \"2026.8\",\n"
        "  \"name\": \"Door / Slam\",\n"
        "  \"events\": [\n"
        "    {\n"
        "      \"relTime\": 1.5,\n"
        "      \"syncOffset\": 0.25,\n"
        "      \"keywords\": \"door slam\",\n"
        "      \"shape\": 5,\n"
        "      \"intensityMode\": 0,\n"
        "      \"duration\": 1.25,\n"
        "      \"spread\": 0,\n" + Common() +
        "      \"reverbSend\": 0.5,\n"
        "      \"gain\": 0.75,\n"
        "      \"fillLayers\": 0,\n"
        "      \"groupOverride\": -1,\n"
        "      \"stereo\": false,\n"
        "      \"hero\": true,\n"
        "      \"alloy\": false,\n"
        "      \"pinnedFile\": \"/sfx/door.wav\",\n"
        "      \"pinnedFileId\": \"c0ffee0000000001\",\n"
        "      \"clipSourceOffset\": 0.5,\n"
        "      \"clipSourceDuration\": 1,\n"
        "      \"clipFadeIn\": -1,\n"
        "      \"clipFadeOut\": 0.125,\n"
        "      \"clipPitchRate\": 0.5,\n"
        "      \"clipReverse\": true,\n" +
        CurveLine(6, "weight", "0.5") + ",\n" +
        CurveLine(6, "intensity", "0.25") + "\n"
        "    },\n"
        "    {\n"
        "      \"relTime\": 0,\n"
        "      \"syncOffset\": 0,\n"
        "      \"keywords\": \"room\",\n"
        "      \"shape\": 6,\n"
        "      \"intensityMode\": 1,\n"
        "      \"duration\": 20,\n"
        "      \"spread\": 0,\n" + Common() +
        "      \"reverbSend\": -1,\n"
        "      \"gain\": 1,\n"
        "      \"fillLayers\": 0,\n"
        "      \"groupOverride\": -1,\n"
        "      \"stereo\": true,\n"
        "      \"hero\": false,\n"
        "      \"alloy\": false,\n"
        "      \"pinnedFiles\": \n"
        "      [\n"
        "        \"/sfx/room.wav\",\n"
        "        \"/sfx/hum.wav\"\n"
        "      ],\n"
        "      \"pinnedFileIds\": \n"
        "      [\n"
        "      ],\n"
        "      \"pinnedFileHashes\": \n"
        "      [\n"
        "      ],\n"
        "      \"pinnedFileSizes\": \n"
        "      [\n"
        "      ],\n"
        "      \"bedLayerLoop\": \n"
        "      [\n"
        "        1,\n"
        "        1\n"
        "      ],\n"
        "      \"libFilter\": \"Rooms\",\n" +
        CurveLine(6, "weight", "1") + ",\n" +
        CurveLine(6, "intensity", "1") + "\n"
        "    },\n"
        "    {\n"
        "      \"relTime\": 0.5,\n"
        "      \"syncOffset\": 0,\n"
        "      \"keywords\": \"tick\",\n"
        "      \"shape\": 0,\n"
        "      \"intensityMode\": 0,\n"
        "      \"duration\": 0.5,\n"
        "      \"spread\": 0,\n" + Common() +
        "      \"pitchVariation\": 0.25,\n"
        "      \"reverbSend\": -1,\n"
        "      \"gain\": 1,\n"
        "      \"fillLayers\": 0,\n"
        "      \"groupOverride\": -1,\n"
        "      \"stereo\": false,\n"
        "      \"hero\": false,\n"
        "      \"alloy\": true,\n" +
        CurveLine(6, "weight", "0") + ",\n" +
        CurveLine(6, "intensity", "0") + "\n"
        "    }\n"
        "  ]\n"
        "}";
    EXPECT_EQ(ChainFileText(chain), expected);
}

TEST(ChainFile, SavedGroupReadsBack) {
    TempDir dir;
    std::vector<Event> events = DoorEvents();
    ASSERT_EQ(SaveChainFile(dir.path(), "Door & Slam", events, {0, 1, 2}), kPresetSaved);
    const std::string path = dir.File("Door  Slam.tlchain");
    Chain chain = ReadChainFile(path);
    EXPECT_STREQ(chain.name, "Door & Slam");
    EXPECT_EQ(chain.sourcePath, path);
    ASSERT_EQ(chain.events.size(), 3u);

    const ChainEvent& clip = chain.events[0];
    EXPECT_FLOAT_EQ(clip.relTime, 1.5f);
    EXPECT_FLOAT_EQ(clip.syncOffset, 0.25f);
    EXPECT_FLOAT_EQ(clip.preset.syncOffset, 0.0f);
    EXPECT_TRUE(clip.hero);
    EXPECT_FLOAT_EQ(clip.preset.gain, 0.75f);
    EXPECT_STREQ(clip.preset.pinnedFile, "/sfx/door.wav");
    EXPECT_EQ(clip.preset.pinnedFileId, "c0ffee0000000001");
    EXPECT_FLOAT_EQ(clip.preset.clipPitchRate, 0.5f);
    EXPECT_TRUE(clip.preset.clipReverse);
    EXPECT_FLOAT_EQ(clip.preset.clipWeight, -1.0f);
    EXPECT_FLOAT_EQ(clip.preset.alloyMorph, 1.0f);

    const ChainEvent& bed = chain.events[1];
    EXPECT_EQ(bed.preset.pinnedFiles, events[1].pinnedFiles);
    EXPECT_EQ(bed.preset.pinnedFileIds, (std::vector<std::string>{"", ""}));
    EXPECT_EQ(bed.preset.bedLayerLoop, (std::vector<uint8_t>{1, 1}));
    EXPECT_STREQ(bed.preset.libFilter, "Rooms");
    EXPECT_TRUE(bed.preset.stereo);

    const ChainEvent& spot = chain.events[2];
    EXPECT_TRUE(spot.alloy);
    EXPECT_FLOAT_EQ(spot.preset.pitchVariation, 0.25f);
    EXPECT_TRUE(spot.preset.pinnedFiles.empty());
    EXPECT_STREQ(spot.preset.pinnedFile, "");
}

TEST(ChainFile, LenientReads) {
    TempDir dir;
    const std::string clipFile = dir.File("clip.wav");
    const std::string bedFile = dir.File("bed.wav");
    ASSERT_TRUE(WriteWholeFile(clipFile, WavHolding("chain clip fingerprint " + dir.path())));
    ASSERT_TRUE(WriteWholeFile(bedFile, WavHolding("chain bed no fingerprint " + dir.path())));
    struct Case {
        const char* what;
        std::string text;
        std::function<void(const Chain&)> check;
    };
    const Case cases[] = {
        {"events that are an object give no events", R"({"name": "Obj", "events": {"relTime": 1}})",
         [](const Chain& c) {
             EXPECT_STREQ(c.name, "Obj");
             EXPECT_TRUE(c.events.empty());
         }},
        {"an element that is not an object gives one event of defaults", R"({"events": [3, {"shape": 0}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.events.size(), 2u);
             const EventPreset& p = c.events[0].preset;
             EXPECT_EQ(p.shape, kShapeBloom);
             EXPECT_FLOAT_EQ(p.alloyMorph, 0.35f);
             EXPECT_FLOAT_EQ(p.duration, 2.0f);
             EXPECT_FLOAT_EQ(p.gain, 1.0f);
             EXPECT_FLOAT_EQ(p.weight[17], 0.5f);
             EXPECT_FLOAT_EQ(c.events[0].relTime, 0.0f);
             EXPECT_EQ(c.events[1].preset.shape, kShapeSpot);
         }},
        {"clamps as in recipes", R"({"events": [{"shape": 12, "fillLayers": -3, "pitchVariation": 4, "intensityMode": 7}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.events.size(), 1u);
             EXPECT_EQ(c.events[0].preset.shape, kShapeBed);
             EXPECT_EQ(c.events[0].preset.fillLayers, 0);
             EXPECT_FLOAT_EQ(c.events[0].preset.pitchVariation, 1.0f);
             EXPECT_EQ(c.events[0].preset.intensityMode, 2);
         }},
        {"chains do not read the older clip keys, nor a clip weight",
         R"({"events": [{"shape": 5, "pinnedFile": "/c/x.wav", "pinnedFileId": "00000000000cc001",
                         "placeFadeIn": 0.2, "placeSourceOffset": 3, "clipWeight": 0.5}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.events.size(), 1u);
             EXPECT_FLOAT_EQ(c.events[0].preset.clipFadeIn, -1.0f);
             EXPECT_FLOAT_EQ(c.events[0].preset.clipSourceOffset, 0.0f);
             EXPECT_FLOAT_EQ(c.events[0].preset.clipWeight, -1.0f);
         }},
        {"pinned lists are read only for a Bed",
         R"({"events": [{"shape": 2, "pinnedFiles": ["/a.wav"], "bedLayerLoop": [1]}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.events.size(), 1u);
             EXPECT_TRUE(c.events[0].preset.pinnedFiles.empty());
             EXPECT_TRUE(c.events[0].preset.bedLayerLoop.empty());
         }},
        {"a Bed registers stored ids and creates none",
         R"({"events": [{"shape": 6, "pinnedFiles": ["/chain/a.wav", ")" + bedFile + R"("],
                         "pinnedFileIds": ["00000000000cc011"], "pinnedFileHashes": ["ff"], "pinnedFileSizes": ["77"],
                         "bedLayerWeight": [0.5, 0.6]}]})",
         [](const Chain& c) {
             ASSERT_EQ(c.events.size(), 1u);
             const EventPreset& p = c.events[0].preset;
             EXPECT_EQ(p.pinnedFileIds, (std::vector<std::string>{"00000000000cc011", ""}));
             EXPECT_EQ(p.bedLayerWeight, (std::vector<float>{-1.0f, 0.6f}));
             FileRef ref;
             ASSERT_TRUE(FileRegistry::Instance().GetFileRef("00000000000cc011", ref));
             EXPECT_EQ(ref.path, "/chain/a.wav");
             EXPECT_EQ(ref.hash, 0xffu);
             EXPECT_EQ(ref.size, 77u);
         }},
        {"a Clip without an id is fingerprinted",
         R"({"events": [{"shape": 5, "pinnedFile": ")" + clipFile + R"("}]})",
         [&](const Chain& c) {
             ASSERT_EQ(c.events.size(), 1u);
             FileRef ref;
             ASSERT_TRUE(FileRegistry::Instance().GetFileRef(c.events[0].preset.pinnedFileId, ref));
             EXPECT_EQ(ref.path, clipFile);
         }},
        {"a file cut short keeps the events it had begun",
         R"({"name": "Cut", "events": [{"relTime": 2, "shape": 3}, {"relTime": 4, "sha)",
         [](const Chain& c) {
             EXPECT_STREQ(c.name, "Cut");
             ASSERT_GE(c.events.size(), 1u);
             EXPECT_FLOAT_EQ(c.events[0].relTime, 2.0f);
             EXPECT_EQ(c.events[0].preset.shape, kShapeFill);
         }},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = dir.File("case" + std::to_string(n++) + ".tlchain");
        ASSERT_TRUE(WriteWholeFile(path, c.text));
        c.check(ReadChainFile(path));
    }

    for (const char* name : {"missing.tlchain", "empty.tlchain"}) {
        if (std::strcmp(name, "empty.tlchain") == 0) {
            ASSERT_TRUE(WriteWholeFile(dir.File(name), ""));
        }
        Chain chain = ReadChainFile(dir.File(name));
        EXPECT_STREQ(chain.name, "");
        EXPECT_TRUE(chain.events.empty());
        EXPECT_EQ(chain.sourcePath, dir.File(name));
    }

    const std::string newer = dir.File("newer.tlchain");
    ASSERT_TRUE(WriteWholeFile(newer, R"({"formatVersion": 2, "name": "Next", "events": [{}]})"));
    testing::internal::CaptureStderr();
    Chain chain = ReadChainFile(newer);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Chain '" + newer + "' was saved by a newer version (format 2, this build supports 1). Loading what we can.\n");
    EXPECT_EQ(chain.events.size(), 1u);
}

TEST(ChainFile, SavesThatMustNotGoThrough) {
    TempDir dir;
    std::vector<Event> events = DoorEvents();
    const std::string chains = dir.File("Chains");

    // Nothing valid to save: nothing written, not even the folder's file.
    EXPECT_EQ(SaveChainFile(chains, "Empty", events, {}), kPresetNothingToSave);
    EXPECT_EQ(SaveChainFile(chains, "Empty", events, {-1, 4}), kPresetNothingToSave);
    EXPECT_FALSE(fs::exists(chains + "/Empty.tlchain"));

    // Only punctuation: the stem is "group".
    ASSERT_EQ(SaveChainFile(chains, "?!#", events, {2}), kPresetSaved);
    EXPECT_TRUE(fs::is_regular_file(chains + "/group.tlchain"));

    ASSERT_EQ(SaveChainFile(chains, "Rain1", events, {0}), kPresetSaved);
    const std::string path = chains + "/Rain1.tlchain";
    const std::string before = ReadWholeFile(path);
    EXPECT_EQ(SaveChainFile(chains, "Rain!1", events, {1}), kPresetNameTaken);
    EXPECT_EQ(ReadWholeFile(path), before);
    ASSERT_EQ(SaveChainFile(chains, "Rain1", events, {1, 2}), kPresetSaved);
    EXPECT_EQ(ReadChainFile(path).events.size(), 2u);
    ASSERT_EQ(SaveChainFile(chains, "Rain!1", events, {1}, true), kPresetSaved);
    EXPECT_STREQ(ReadChainFile(path).name, "Rain!1");

    ASSERT_TRUE(WriteWholeFile(dir.File("blocked"), "not a folder"));
    EXPECT_EQ(SaveChainFile(dir.File("blocked/Chains"), "X", events, {0}), kPresetSaveFolderFailed);
    fs::create_directories(chains + "/Dir.tlchain");
    EXPECT_EQ(SaveChainFile(chains, "Dir", events, {0}), kPresetSaveWriteFailed);
    EXPECT_FALSE(fs::exists(chains + "/Dir.tlchain.tmp"));

    // Names that would leave the folder or hide in it are refused whole.
    for (const char* name : {"../../escaped", "a/b", "..", "", "tab\tname"})
        EXPECT_EQ(SaveChainFile(chains, name, events, {0}), kPresetNameRefused) << name;
    EXPECT_FALSE(fs::exists(chains + "/escaped.tlchain"));
    EXPECT_FALSE(fs::exists(dir.File("escaped.tlchain")));
}
