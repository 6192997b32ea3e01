// Events and rendered layers in a project file: the round trip of every
// stored field, the conditions under which members are written, and the
// reader's defaults, clamps and pinned-file rules.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "persistence/event_json.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

// Curve values with at most four significant digits survive the curve form.
void FillTestCurve(Curve256& curve, int seed) {
    for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>((i * 7 + seed) % 100) / 100.0f;
}

// Every stored field away from its default; `depth` more levels of bounce sources.
Event MakeFullEvent(int depth, int seed) {
    Event e;
    e.time = 12.25f + seed;
    e.duration = 3.5f;
    e.spread = 0.45f;
    e.weightCenter = 0.7f;
    e.intensityScale = 0.8f;
    e.weightOffset = -0.1f;
    e.syncOffset = 0.6f;
    e.shape = kShapeClip;
    e.intensityMode = 2;
    e.userShapeIdx = 1;
    e.locked = true;
    e.muted = true;
    e.hero = true;
    e.stereo = true;
    e.gain = 0.75f;
    e.alloy = true;
    e.alloyMorph = 0.4f;
    e.pitchVariation = 0.3f;
    e.scaleTuneOverride = 2;
    e.fillLayers = 5;
    e.reverbSend = 0.35f;
    e.groupOverride = 2;
    e.sceneLink = 3;
    e.sceneCrossfade = 12;
    e.sceneFill = true;
    CopyTextField(e.keywords, "door, -creak, +slam \xC3\xA9");
    CopyTextField(e.pinnedFile, "/sounds/clip source " + std::to_string(seed) + ".wav");
    e.pinnedFileId = "00000000000a11c" + std::to_string(seed % 10);
    e.hasPinnedFiles = true;
    e.pinnedFiles = {"/sounds/bed a.wav", "/sounds/bed \"b\".wav", "/sounds/bed c.wav"};
    e.pinnedFileIds = {"00000000000bed01", "00000000000bed02", "00000000000bed03"};
    e.bedLayerLoop = {1, 0, 1};
    e.bedLayerWeight = {0.25f, 1.0f, -1.0f};
    e.clipSourceOffset = 1.25f;
    e.clipSourceDuration = 2.75f;
    e.clipFadeIn = 0.02f;
    e.clipFadeOut = 0.3f;
    e.clipPitchRate = 0.5f;
    e.clipReverse = true;
    e.clipWeight = 0.9f;
    CopyTextField(e.folder, "Doors");
    CopyTextField(e.libFilter, "Foley,~none~");
    CopyTextField(e.presetName, "Heavy door");
    FillTestCurve(e.weight, seed);
    FillTestCurve(e.intensity, seed + 1);
    FillTestCurve(e.traceGain, seed + 2);
    e.hasTraceGain = true;
    if (depth > 0) {
        e.bounceSource.push_back(MakeFullEvent(depth - 1, seed + 10));
        e.bounceSource.push_back(MakeFullEvent(0, seed + 20));
    }
    return e;
}

void ExpectSameEvent(const Event& a, const Event& b, const std::string& where) {
    SCOPED_TRACE(where);
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.duration, b.duration);
    EXPECT_EQ(a.spread, b.spread);
    EXPECT_EQ(a.weightCenter, b.weightCenter);
    EXPECT_EQ(a.intensityScale, b.intensityScale);
    EXPECT_EQ(a.weightOffset, b.weightOffset);
    EXPECT_EQ(a.syncOffset, b.syncOffset);
    EXPECT_EQ(a.shape, b.shape);
    EXPECT_EQ(a.intensityMode, b.intensityMode);
    EXPECT_EQ(a.userShapeIdx, b.userShapeIdx);
    EXPECT_EQ(a.locked, b.locked);
    EXPECT_EQ(a.muted, b.muted);
    EXPECT_EQ(a.hero, b.hero);
    EXPECT_EQ(a.stereo, b.stereo);
    EXPECT_EQ(a.gain, b.gain);
    EXPECT_EQ(a.alloy, b.alloy);
    EXPECT_EQ(a.alloyMorph, b.alloyMorph);
    EXPECT_EQ(a.pitchVariation, b.pitchVariation);
    EXPECT_EQ(a.scaleTuneOverride, b.scaleTuneOverride);
    EXPECT_EQ(a.fillLayers, b.fillLayers);
    EXPECT_EQ(a.reverbSend, b.reverbSend);
    EXPECT_EQ(a.groupOverride, b.groupOverride);
    EXPECT_EQ(a.sceneLink, b.sceneLink);
    EXPECT_EQ(a.sceneCrossfade, b.sceneCrossfade);
    EXPECT_EQ(a.sceneFill, b.sceneFill);
    EXPECT_EQ(TextFieldView(a.keywords), TextFieldView(b.keywords));
    EXPECT_EQ(TextFieldView(a.pinnedFile), TextFieldView(b.pinnedFile));
    EXPECT_EQ(a.pinnedFileId, b.pinnedFileId);
    EXPECT_EQ(a.hasPinnedFiles, b.hasPinnedFiles);
    EXPECT_EQ(a.pinnedFiles, b.pinnedFiles);
    EXPECT_EQ(a.pinnedFileIds, b.pinnedFileIds);
    EXPECT_EQ(a.bedLayerLoop, b.bedLayerLoop);
    EXPECT_EQ(a.bedLayerWeight, b.bedLayerWeight);
    EXPECT_EQ(a.clipSourceOffset, b.clipSourceOffset);
    EXPECT_EQ(a.clipSourceDuration, b.clipSourceDuration);
    EXPECT_EQ(a.clipFadeIn, b.clipFadeIn);
    EXPECT_EQ(a.clipFadeOut, b.clipFadeOut);
    EXPECT_EQ(a.clipPitchRate, b.clipPitchRate);
    EXPECT_EQ(a.clipReverse, b.clipReverse);
    EXPECT_EQ(a.clipWeight, b.clipWeight);
    EXPECT_EQ(TextFieldView(a.folder), TextFieldView(b.folder));
    EXPECT_EQ(TextFieldView(a.libFilter), TextFieldView(b.libFilter));
    EXPECT_EQ(TextFieldView(a.presetName), TextFieldView(b.presetName));
    EXPECT_EQ(a.weight, b.weight);
    EXPECT_EQ(a.intensity, b.intensity);
    EXPECT_EQ(a.hasTraceGain, b.hasTraceGain);
    EXPECT_EQ(a.traceGain, b.traceGain);
    ASSERT_EQ(a.bounceSource.size(), b.bounceSource.size());
    for (size_t i = 0; i < a.bounceSource.size(); ++i)
        ExpectSameEvent(a.bounceSource[i], b.bounceSource[i], where + "/bounce " + std::to_string(i));
}

std::string EventObjectText(const Event& e, const CollectedAudioMap& collected = {}) {
    JsonWriter w;
    JsonBeginObject(w);
    WriteEventJson(w, e, collected);
    JsonEndObject(w);
    return w.out;
}

std::string ResultObjectText(const RenderResult& r, const CollectedAudioMap& collected = {}) {
    JsonWriter w;
    JsonBeginObject(w);
    WriteResultJson(w, r, collected);
    JsonEndObject(w);
    return w.out;
}

Event ReadEventText(const std::string& text, const std::string& folder = "/nowhere", bool legacy = false,
                    int userShapes = 4, std::vector<std::string>* refused = nullptr) {
    Event e;
    ReadEventJson(e, ParseJsonText(text.c_str()), folder, legacy, userShapes, refused);
    return e;
}

std::vector<std::string> MemberKeys(const std::string& objectText) {
    std::vector<std::string> keys;
    for (const JsonMember& m : ParseJsonText(objectText.c_str()).members) keys.push_back(m.key);
    return keys;
}

bool HasKey(const std::string& objectText, const char* key) {
    return JsonHasMember(ParseJsonText(objectText.c_str()), key);
}

}  // namespace

TEST(EventJson, EveryStoredFieldSurvivesWritingParsingAndReading) {
    const Event original = MakeFullEvent(3, 1);
    ASSERT_EQ(original.bounceSource[0].bounceSource[0].bounceSource.size(), 2u);  // three deep
    const std::string text = EventObjectText(original);
    Event back = ReadEventText(text);
    ExpectSameEvent(original, back, "event");

    // Writing what was read gives the same text again.
    EXPECT_EQ(EventObjectText(back), text);
}

TEST(EventJson, MembersFollowTheirOrderAndConditions) {
    Event plain;
    plain.shape = kShapeSpot;
    // Lists beside an empty pinned list are not written.
    plain.pinnedFileIds = {"00000000000000aa"};
    plain.bedLayerLoop = {1};
    plain.bedLayerWeight = {0.3f};
    // A pinned file without the pinned flag is not written.
    CopyTextField(plain.pinnedFile, "/sounds/x.wav");
    plain.pinnedFileId = "00000000000000bb";
    // Clip members belong to Clip events only.
    plain.clipWeight = 0.5f;
    EXPECT_EQ(MemberKeys(EventObjectText(plain)),
              (std::vector<std::string>{"time", "duration", "spread", "weightCenter", "intensityScale",
                                        "weightOffset", "syncOffset", "shape", "intensityMode",
                                        "userShapeIdx", "locked", "hero", "stereo", "gain", "alloy",
                                        "alloyMorph", "groupOverride", "keywords", "weight",
                                        "intensity"}));

    EXPECT_EQ(MemberKeys(EventObjectText(MakeFullEvent(1, 0))),
              (std::vector<std::string>{
                  "time", "duration", "spread", "weightCenter", "intensityScale", "weightOffset",
                  "syncOffset", "shape", "intensityMode", "userShapeIdx", "locked", "muted", "hero",
                  "stereo", "gain", "alloy", "alloyMorph", "pitchVariation", "scaleTuneOverride",
                  "fillLayers", "reverbSend", "groupOverride", "sceneLink", "sceneCrossfade",
                  "sceneFill", "keywords", "pinnedFile", "pinnedFileId", "pinnedFiles", "pinnedFileIds",
                  "bedLayerLoop", "bedLayerWeight", "clipWeight", "clipSourceOffset",
                  "clipSourceDuration", "clipFadeIn", "clipFadeOut", "clipPitchRate", "clipReverse",
                  "folder", "libFilter", "presetName", "weight", "intensity", "hasTraceGain",
                  "traceGain", "bounceSource"}));

    // Value forms: muted and hasTraceGain as the word true, sceneFill as 1,
    // loop flags as 1 and 0, one list element per line.
    Event e = MakeFullEvent(0, 0);
    const std::string text = EventObjectText(e);
    EXPECT_NE(text.find("\n  \"muted\": true,"), std::string::npos);
    EXPECT_NE(text.find("\n  \"sceneFill\": 1,"), std::string::npos);
    EXPECT_NE(text.find("\n  \"hasTraceGain\": true,"), std::string::npos);
    EXPECT_NE(text.find("\"bedLayerLoop\": \n  [\n    1,\n    0,\n    1\n  ],"), std::string::npos);
    // Thresholds: just inside the defaults writes nothing.
    e.pitchVariation = 0.001f;
    e.reverbSend = -0.5f;
    e.sceneLink = -1;
    e.fillLayers = 0;
    e.clipWeight = -1;
    e.clipPitchRate = 1.0005f;
    e.clipReverse = false;
    const std::string quiet = EventObjectText(e);
    for (const char* key : {"pitchVariation", "reverbSend", "sceneLink", "sceneCrossfade", "fillLayers",
                            "clipWeight", "clipPitchRate", "clipReverse"})
        EXPECT_FALSE(HasKey(quiet, key)) << key;
}

TEST(EventJson, ResultMembersFollowProcessingMode) {
    RenderResult r;
    r.name = "DOOR_Slam";
    r.filepath = "/sounds/door.wav";
    r.alloyMid.filepath = "/sounds/mid.wav";
    r.alloyHigh.filepath = "/sounds/high.wav";
    r.fillChunks = {{1, 2, 3}};
    r.fillLoop = true;
    r.hasEqGains = true;
    r.normGain = 0.5f;
    r.pitchShift = -2;
    EXPECT_EQ(MemberKeys(ResultObjectText(r)),
              (std::vector<std::string>{"name", "filepath", "sourceOffset", "sourceDuration", "startTime",
                                        "duration", "weight", "eventIdx", "track", "group", "groupTrack",
                                        "procMode", "fadeIn", "fadeOut", "audioSyncOffset", "stereo",
                                        "muted", "fillLoop", "layerGain", "normGain", "pitchShift",
                                        "eqGains"}));

    r.procMode = 1;
    const std::string fill = ResultObjectText(r);
    EXPECT_NE(fill.find("\"fillChunks\": \n  [\n    {\n      \"s\": 1,\n      \"l\": 2,\n      \"x\": 3\n    }\n  ]"),
              std::string::npos);
    EXPECT_FALSE(HasKey(fill, "alloyMid"));

    r.procMode = 3;
    r.fileId = "00000000000000c1";
    r.alloyMid.fileId = "00000000000000c2";
    r.hasIntGain = r.hasFillGain = r.hasDeconGain = true;
    CollectedAudioMap collected;
    collected.storedPaths["/sounds/mid.wav"] = "Audio/mid.wav";
    const JsonValue alloy = ParseJsonText(ResultObjectText(r, collected).c_str());
    EXPECT_FALSE(JsonHasMember(alloy, "fillChunks"));
    EXPECT_EQ(JsonArraySize(JsonGetMember(alloy, "intGain")), 256);
    EXPECT_EQ(JsonArraySize(JsonGetMember(alloy, "fillGain")), 128);
    EXPECT_EQ(JsonArraySize(JsonGetMember(alloy, "deconGain")), 32);
    EXPECT_EQ(JsonGetInt(JsonGetMember(alloy, "alloyAlgo"), 0), 2);
    const JsonValue& mid = JsonGetMember(alloy, "alloyMid");
    EXPECT_EQ(JsonGetMember(mid, "filepath").text, "Audio/mid.wav");
    EXPECT_EQ(JsonGetMember(mid, "fileId").text, "00000000000000c2");
    const JsonValue& env = JsonGetMember(alloy, "alloyEnv");
    EXPECT_EQ(JsonGetMember(env, "filepath").text, "");
    EXPECT_FALSE(JsonHasMember(env, "fileId"));
    EXPECT_EQ(JsonGetMember(alloy, "fileId").text, "00000000000000c1");
}

// What a layer played with comes back as it was: values a hair from their
// defaults (a decon offset of 50 µs is two samples), a Fill's intensity
// points that four digits do not hold, the placeholder flag of a layer that
// matched no sound (silent, but it takes its share of its event's level), and
// an alloy layer's own settings and curves. Files without the flag read a
// layer without a file as a placeholder.
TEST(EventJson, ALayerComesBackAsItPlayed) {
    RenderResult r;
    r.filepath = "/sounds/bow.wav";
    r.userVolume = 1.0005f;
    r.normGain = 1.0003f;
    r.pitchShift = 0.0004f;
    r.pitchVarShift = -0.0007f;
    r.deconOffset = 0.00005f;
    r.procMode = 3;
    r.alloyTransferDepth = 0.37f;
    r.alloyAttackGraft = 0.11f;
    r.alloyMicroPitch = 0.07f;
    r.alloyFilterBands = 13;
    r.hasAlloyCurves = true;
    for (int i = 0; i < 32; ++i) {
        r.alloyWeightCurve[size_t(i)] = float(i) / 31.0f;
        r.alloyIntensityCurve[size_t(i)] = 1.0f / float(i + 3);
    }
    const std::string text = ResultObjectText(r);
    EXPECT_FALSE(HasKey(text, "placeholder")) << "a layer with a file is tried again when opened";
    RenderResult back;
    ReadResultJson(back, ParseJsonText(text.c_str()), "/nowhere");
    EXPECT_EQ(back.userVolume, r.userVolume);
    EXPECT_EQ(back.normGain, r.normGain);
    EXPECT_EQ(back.pitchShift, r.pitchShift);
    EXPECT_EQ(back.pitchVarShift, r.pitchVarShift);
    EXPECT_EQ(back.deconOffset, r.deconOffset);
    EXPECT_EQ(back.alloyTransferDepth, r.alloyTransferDepth);
    EXPECT_EQ(back.alloyAttackGraft, r.alloyAttackGraft);
    EXPECT_EQ(back.alloyMicroPitch, r.alloyMicroPitch);
    EXPECT_EQ(back.alloyFilterBands, r.alloyFilterBands);
    EXPECT_TRUE(back.hasAlloyCurves);
    EXPECT_EQ(back.alloyWeightCurve, r.alloyWeightCurve);
    EXPECT_EQ(back.alloyIntensityCurve, r.alloyIntensityCurve);
    EXPECT_FALSE(back.placeholder);

    for (const bool placeholder : {true, false}) {
        RenderResult sketch;
        sketch.name = "(no match)";
        sketch.placeholder = placeholder;
        RenderResult read;
        ReadResultJson(read, ParseJsonText(ResultObjectText(sketch).c_str()), "/nowhere");
        EXPECT_EQ(read.placeholder, placeholder);
    }
    RenderResult older;
    ReadResultJson(older, ParseJsonText("{\"name\": \"(no match)\", \"filepath\": \"\"}"), "/nowhere");
    EXPECT_TRUE(older.placeholder);

    Event fill;
    fill.shape = kShapeFill;
    for (int i = 0; i < 256; ++i) fill.intensity[size_t(i)] = 0.5f + 0.4f * std::sin(float(i) * 0.0731f);
    fill.intensity[7] = 0.25f;
    const std::string eventText = EventObjectText(fill);
    EXPECT_NE(eventText.find(",0.25,"), std::string::npos) << "points four digits hold stay short";
    EXPECT_EQ(ReadEventText(eventText).intensity, fill.intensity);
}

TEST(EventJson, ReaderDefaultsClampsAndOlderForms) {
    TempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.File("layer.wav"), WavHolding("reader layer " + dir.path())));
    const std::string longKeywords = std::string(254, 'k') + "\xC3\xA9" + "tail";

    struct Case {
        const char* name;
        std::string json;
        bool legacy;
        std::function<void(const Event&)> check;
    };
    const std::vector<Case> cases = {
        {"empty object gives the reader defaults", "{}", false,
         [](const Event& e) {
             EXPECT_EQ(e.time, 0);
             EXPECT_EQ(e.duration, 1);
             EXPECT_EQ(e.spread, 0.3f);
             EXPECT_EQ(e.weightCenter, 0.3f);
             EXPECT_FALSE(e.muted);
             EXPECT_EQ(e.gain, 1);
             EXPECT_EQ(e.reverbSend, -1);
             EXPECT_EQ(e.sceneCrossfade, 1);
             EXPECT_EQ(e.clipFadeIn, -1);
             EXPECT_EQ(e.clipWeight, -1);
             EXPECT_EQ(e.userShapeIdx, -1);
             EXPECT_EQ(e.weight[0], 0.5f);
             EXPECT_FALSE(e.hasPinnedFiles);
         }},
        {"mistyped members count as missing", R"({"time":"5","muted":1,"shape":"3","gain":null})", false,
         [](const Event& e) {
             EXPECT_EQ(e.time, 0);
             EXPECT_FALSE(e.muted);
             EXPECT_EQ(e.shape, kShapeSpot);
             EXPECT_EQ(e.gain, 1);
         }},
        {"sceneFill is a number, not a bool", R"({"sceneFill":true})", false,
         [](const Event& e) { EXPECT_FALSE(e.sceneFill); }},
        {"sceneFill by integer part", R"({"sceneFill":2.7})", false,
         [](const Event& e) { EXPECT_TRUE(e.sceneFill); }},
        {"sceneFill below one", R"({"sceneFill":0.4})", false,
         [](const Event& e) { EXPECT_FALSE(e.sceneFill); }},
        {"legacy shape 2 is an alloyed Bloom", R"({"shape":2})", true,
         [](const Event& e) {
             EXPECT_EQ(e.shape, kShapeBloom);
             EXPECT_TRUE(e.alloy);
         }},
        {"legacy shape 2 with alloy false", R"({"shape":2,"alloy":false})", true,
         [](const Event& e) {
             EXPECT_EQ(e.shape, kShapeBloom);
             EXPECT_FALSE(e.alloy);
         }},
        {"current shape 2 is a Contour", R"({"shape":2})", false,
         [](const Event& e) {
             EXPECT_EQ(e.shape, kShapeContour);
             EXPECT_FALSE(e.alloy);
         }},
        {"shapes clamp to 0..6", R"({"shape":9.9,"bounceSource":[{"shape":-3}]})", false,
         [](const Event& e) {
             EXPECT_EQ(e.shape, kShapeBed);
             ASSERT_EQ(e.bounceSource.size(), 1u);
             EXPECT_EQ(e.bounceSource[0].shape, kShapeSpot);
         }},
        {"ranges clamp",
         R"({"gain":3,"intensityMode":7,"scaleTuneOverride":-4,"fillLayers":99,"sceneCrossfade":500,"pitchVariation":2})",
         false,
         [](const Event& e) {
             EXPECT_EQ(e.gain, 1);
             EXPECT_EQ(e.intensityMode, 2);
             EXPECT_EQ(e.scaleTuneOverride, 0);
             EXPECT_EQ(e.fillLayers, 24);
             EXPECT_EQ(e.sceneCrossfade, 120);
             EXPECT_EQ(e.pitchVariation, 1);
         }},
        {"scale override above 2", R"({"scaleTuneOverride":9,"gain":-1,"sceneCrossfade":-5})", false,
         [](const Event& e) {
             EXPECT_EQ(e.scaleTuneOverride, 2);
             EXPECT_EQ(e.gain, 0);
             EXPECT_EQ(e.sceneCrossfade, 0);
         }},
        {"user shape beyond the file's shapes", R"({"userShapeIdx":3})", false,
         [](const Event& e) { EXPECT_EQ(e.userShapeIdx, -1); }},
        {"user shape held by the file", R"({"userShapeIdx":1.9})", false,
         [](const Event& e) { EXPECT_EQ(e.userShapeIdx, 1); }},
        {"bed layer weights", R"({"pinnedFiles":["/a","/b","/c","/d","/e"],"bedLayerWeight":[0.5,1.7,-0.2,0.3,"x"]})",
         false,
         [](const Event& e) {
             EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{-1, 1, -1, 0.3f, -1}));
         }},
        {"loop flags by integer part", R"({"pinnedFiles":["/a","/b","/c"],"bedLayerLoop":[1,0.5,true]})", false,
         [](const Event& e) { EXPECT_EQ(e.bedLayerLoop, (std::vector<uint8_t>{1, 0, 0})); }},
        {"older clip keys; the newer key wins",
         R"({"placeSourceOffset":2.5,"placeSourceDuration":4,"clipSourceDuration":3,"placeFadeIn":0.1,"placeFadeOut":0.2})",
         false,
         [](const Event& e) {
             EXPECT_EQ(e.clipSourceOffset, 2.5f);
             EXPECT_EQ(e.clipSourceDuration, 3);
             EXPECT_EQ(e.clipFadeIn, 0.1f);
             EXPECT_EQ(e.clipFadeOut, 0.2f);
         }},
        {"trace gain without its curve", R"({"hasTraceGain":true})", false,
         [](const Event& e) {
             EXPECT_TRUE(e.hasTraceGain);
             EXPECT_EQ(e.traceGain[0], 0.5f);
             EXPECT_EQ(e.traceGain[255], 0.5f);
         }},
        {"trace gain flag must be a bool", R"({"hasTraceGain":1,"traceGain":[0.1]})", false,
         [](const Event& e) {
             EXPECT_FALSE(e.hasTraceGain);
             EXPECT_EQ(e.traceGain[0], 0);
         }},
        {"short curve keeps the rest of the constructor's values",
         R"({"weight":[0.25,"x"],"intensity":7})", false,
         [](const Event& e) {
             EXPECT_EQ(e.weight[0], 0.25f);
             EXPECT_EQ(e.weight[1], 0.5f);
             EXPECT_EQ(e.weight[2], 0);
             EXPECT_EQ(e.intensity[100], 0.5f);
         }},
        {"keywords cut at a character boundary", "{\"keywords\":\"" + longKeywords + "\"}", false,
         [](const Event& e) { EXPECT_EQ(std::string(e.keywords), std::string(254, 'k')); }},
        {"a non-Clip single pinned file becomes the pinned list",
         R"({"shape":0,"pinnedFile":"/sounds/one.wav","pinnedFileId":"00000000000000d1"})", false,
         [](const Event& e) {
             EXPECT_TRUE(e.hasPinnedFiles);
             EXPECT_EQ(e.pinnedFiles, (std::vector<std::string>{"/sounds/one.wav"}));
             EXPECT_EQ(e.pinnedFileIds, (std::vector<std::string>{"00000000000000d1"}));
         }},
        {"a Clip keeps its single pinned file only",
         R"({"shape":5,"pinnedFile":"/sounds/one.wav","pinnedFileId":"00000000000000d1"})", false,
         [](const Event& e) {
             EXPECT_TRUE(e.hasPinnedFiles);
             EXPECT_EQ(std::string(e.pinnedFile), "/sounds/one.wav");
             EXPECT_TRUE(e.pinnedFiles.empty());
         }},
        {"relative pinned paths resolve against the project folder",
         R"({"pinnedFiles":["layer.wav"],"pinnedFileIds":["00000000000000d2"]})", false,
         [&dir](const Event& e) {
             EXPECT_EQ(e.pinnedFiles, (std::vector<std::string>{dir.File("layer.wav")}));
         }},
        {"three pinned files with two ids: the third id from the file's fingerprint",
         R"({"pinnedFiles":["/nowhere/1.wav","/nowhere/2.wav","layer.wav"],"pinnedFileIds":["00000000000000e1","00000000000000e2"]})",
         false,
         [&dir](const Event& e) {
             ASSERT_EQ(e.pinnedFileIds.size(), 3u);
             EXPECT_EQ(e.pinnedFileIds[1], "00000000000000e2");
             EXPECT_EQ(e.pinnedFileIds[2], FileRegistry::Instance().FileRefForPath(dir.File("layer.wav")).id);
             EXPECT_EQ(e.pinnedFileIds[2].size(), 16u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Event e;
        ReadEventJson(e, ParseJsonText(c.json.c_str()), dir.path(), c.legacy, 2);
        c.check(e);
    }
}

TEST(EventJson, DroppedPinnedPathTakesItsLayerEntriesAlong) {
    const std::string json = R"({
        "pinnedFiles": ["/l/1.wav", "", 7, "/l/4.wav", "/l/5.wav"],
        "pinnedFileIds": ["00000000000000f1", "00000000000000f2", "00000000000000f3", "00000000000000f4", "00000000000000f5"],
        "bedLayerLoop": [1, 1, 1, 0, 1],
        "bedLayerWeight": [0.1, 0.2, 0.3, 0.4, 0.6]
    })";
    Event e = ReadEventText(json);
    EXPECT_EQ(e.pinnedFiles, (std::vector<std::string>{"/l/1.wav", "/l/4.wav", "/l/5.wav"}));
    EXPECT_EQ(e.pinnedFileIds,
              (std::vector<std::string>{"00000000000000f1", "00000000000000f4", "00000000000000f5"}));
    EXPECT_EQ(e.bedLayerLoop, (std::vector<uint8_t>{1, 0, 1}));
    EXPECT_EQ(e.bedLayerWeight, (std::vector<float>{0.1f, 0.4f, 0.6f}));

    // Lists shorter than the pinned list stay aligned prefixes of it.
    Event shorter = ReadEventText(R"({"pinnedFiles":["", "/l/2.wav", "/l/3.wav"],"bedLayerLoop":[0,1]})");
    EXPECT_EQ(shorter.pinnedFiles, (std::vector<std::string>{"/l/2.wav", "/l/3.wav"}));
    EXPECT_EQ(shorter.bedLayerLoop, (std::vector<uint8_t>{1}));
    EXPECT_EQ(shorter.pinnedFileIds.size(), 2u);  // filled (empty: the files are missing)
}

TEST(EventJson, PinnedPathTooLongForItsFieldIsRefusedNotCut) {
    const std::string longPath = "/" + std::string(600, 'p') + ".wav";
    std::vector<std::string> refused;
    Event e = ReadEventText("{\"shape\":0,\"pinnedFile\":\"" + longPath + "\",\"pinnedFileId\":\"00000000000000a9\"}",
                            "/nowhere", false, 4, &refused);
    EXPECT_EQ(refused, (std::vector<std::string>{longPath}));
    EXPECT_FALSE(e.hasPinnedFiles);
    EXPECT_EQ(e.pinnedFile[0], '\0');
    EXPECT_TRUE(e.pinnedFileId.empty());
    EXPECT_TRUE(e.pinnedFiles.empty());

    // A path that just fits is kept whole.
    const std::string fits = "/" + std::string(506, 'q') + ".wav";
    ASSERT_EQ(fits.size(), 511u);
    refused.clear();
    Event kept = ReadEventText("{\"shape\":5,\"pinnedFile\":\"" + fits + "\"}", "/nowhere", false, 4, &refused);
    EXPECT_TRUE(refused.empty());
    EXPECT_EQ(std::string(kept.pinnedFile), fits);
}

TEST(EventJson, CollectedPathsAreWrittenAndReadBackInTheProjectFolder) {
    TempDir dir;
    Event e = MakeFullEvent(1, 3);
    CollectedAudioMap collected;
    collected.storedPaths[e.pinnedFiles[0]] = "Audio/bed a.wav";
    collected.storedPaths[std::string(e.pinnedFile)] = "Audio/clip.wav";
    collected.storedPaths[e.bounceSource[0].pinnedFiles[2]] = "Audio/bed c.wav";
    const std::string text = EventObjectText(e, collected);
    EXPECT_NE(text.find("\"pinnedFile\": \"Audio/clip.wav\""), std::string::npos);
    Event back = ReadEventText(text, dir.path());
    EXPECT_EQ(std::string(back.pinnedFile), dir.path() + "/Audio/clip.wav");
    EXPECT_EQ(back.pinnedFiles[0], dir.path() + "/Audio/bed a.wav");
    EXPECT_EQ(back.pinnedFiles[1], e.pinnedFiles[1]);
    EXPECT_EQ(back.bounceSource[0].pinnedFiles[2], dir.path() + "/Audio/bed c.wav");
}
