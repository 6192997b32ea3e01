// End to end: a session over essence files that exist (mono 24-bit
// broadcast WAV with their time references, written here with libsndfile),
// read by the stored-format reader and by pyaaf2, every clip resolved through
// master mob, file source mob, WAVE descriptor and locator to its WAV, whose
// ffprobe facts must agree with the clip and the descriptor's summary.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
#include "persistence/json_value.h"
#include "support/run_command.h"
#include "support/temp_dir.h"

namespace {

constexpr int kRate = 48000;
constexpr int64_t kHour = int64_t(kRate) * 3600;  // the project starts at one hour

// A mono 24-bit broadcast WAV of `frames` frames whose time reference is
// `timeReference` samples.
bool WriteEssence(const std::string& path, int64_t frames, int64_t timeReference) {
    SF_INFO info{};
    info.samplerate = kRate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_24;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file) return false;
    SF_BROADCAST_INFO bext{};
    std::strncpy(bext.description, "essence", sizeof bext.description);
    bext.time_reference_low = static_cast<uint32_t>(timeReference & 0xFFFFFFFF);
    bext.time_reference_high = static_cast<uint32_t>(timeReference >> 32);
    bool ok = sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE;
    std::vector<float> samples(static_cast<size_t>(frames));
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = 0.25f * std::sin(0.01f * float(i));
    ok = ok && sf_writef_float(file, samples.data(), frames) == frames;
    return sf_close(file) == 0 && ok;
}

struct Probe {
    bool ok = false;
    int sampleRate = 0, channels = 0, bits = 0;
    int64_t frames = -1, timeReference = -1;
};

Probe ProbeWav(const std::string& path) {
    Probe p;
    CommandResult run = RunCommand({"ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path});
    if (run.exitCode != 0) return p;
    JsonValue tree = ParseJsonText(run.out.c_str());
    const JsonValue& stream = JsonGetElement(JsonGetMember(tree, "streams"), 0);
    p.sampleRate = std::atoi(JsonGetMember(stream, "sample_rate").text.c_str());
    p.channels = JsonGetInt(JsonGetMember(stream, "channels"), 0);
    p.bits = JsonGetInt(JsonGetMember(stream, "bits_per_sample"), 0);
    p.frames = static_cast<int64_t>(JsonGetMember(stream, "duration_ts").number);
    const JsonValue& reference = JsonGetMember(JsonGetMember(JsonGetMember(tree, "format"), "tags"), "time_reference");
    p.timeReference = reference.text.empty() ? -1 : std::stoll(reference.text);
    p.ok = true;
    return p;
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t Le16(const std::vector<uint8_t>& b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

std::vector<uint8_t> FromHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace

TEST(AafSessionEssence, EveryClipResolvesToItsWav) {
    TempDir dir;
    const std::string session = dir.File("Reel 1");
    const std::string audio = session + "/Audio Files";
    std::filesystem::create_directories(audio);

    AafGainCurve swell;
    swell.present = true;
    for (int k = 0; k < kAafGainCurvePoints; ++k) swell.points[size_t(k)] = 0.2f + 0.8f * float(k) / 63.0f;
    // A clip with handles, one crossfading into it and fading out, a stereo
    // pair on two lanes with a gain curve, and two fill chunks in one file.
    std::vector<ClipSpec> specs = {
        {.position = kHour + 48000, .length = 48000, .track = 0, .sourceOffset = 24000, .fadeIn = 480, .gain = 0.5f,
         .essence = "FX A1_000_Door.wav", .fileLength = 96000},
        {.position = kHour + 90000, .length = 30000, .track = 0, .fadeOut = 960, .essence = "FX A1_001_Slam.wav",
         .fileLength = 30000},
        {.position = kHour, .length = 144000, .track = 1, .essence = "BG1_002_Rain.L.wav", .fileLength = 144000,
         .curve = swell},
        {.position = kHour, .length = 144000, .track = 2, .essence = "BG1_002_Rain.R.wav", .fileLength = 144000,
         .curve = swell},
        {.position = kHour + 200000, .length = 20000, .track = 3, .sourceOffset = 1000, .fadeIn = 2000,
         .gain = 1.7f, .essence = "FX B1_003_src_Wind.wav", .fileLength = 72000},
        {.position = kHour + 219000, .length = 25000, .track = 3, .sourceOffset = 40000, .fadeOut = 3000,
         .gain = 1.7f, .essence = "FX B1_003_src_Wind.wav", .fileLength = 72000},
    };
    AafClipList list = MakeClipList(session, specs);
    list.trackNames = {"FX A 1", "BG 1.L", "BG 1.R", "FX B 1"};
    list.markers = {{kHour + 48000, "Spot,1.0,door"}, {kHour, "Bed,3.0"}, {kHour + 200000, "Fill,1.0"}};

    // The essence files: a clip's file begins at its position minus its
    // offset; the fill source begins at the fill's start.
    std::map<std::string, int64_t> timeReferences = {
        {"FX A1_000_Door.wav", kHour + 24000},  {"FX A1_001_Slam.wav", kHour + 90000},
        {"BG1_002_Rain.L.wav", kHour},          {"BG1_002_Rain.R.wav", kHour},
        {"FX B1_003_src_Wind.wav", kHour + 199000}};
    for (size_t i = 0; i < specs.size(); ++i)
        ASSERT_TRUE(WriteEssence(list.essencePaths[i], specs[i].fileLength, timeReferences[specs[i].essence]));

    const std::string path = session + "/Reel 1.aaf";
    ASSERT_TRUE(WriteExtended(path, list));

    // Both independent readers read every object and property.
    AafReadBack stored = ReadStoredObjects(path);
    ASSERT_TRUE(stored.ok) << stored.message;
    AafReadBack oracle = ReadWithOracle(path);
    ASSERT_TRUE(oracle.ok) << oracle.message;
    EXPECT_GT(JsonGetInt(JsonGetMember(oracle.tree, "objects"), 0), 200);

    std::string why;
    std::vector<ReadSession> read = ReadSessions({path}, &why);
    ASSERT_EQ(read.size(), 1u) << why;
    const ReadSession& s = read[0];
    EXPECT_EQ(s.topLevel, std::vector<std::string>{"Tessaloom Timeline"});
    EXPECT_EQ(s.mobCounts, (std::map<std::string, int>{{"CompositionMob", 1}, {"MasterMob", 5}, {"SourceMob", 5}}));
    ASSERT_EQ(s.slots.size(), 6u);
    EXPECT_EQ(s.slots[0].timecodeLength, kHour + 244000);

    std::vector<const ReadSlot*> tracks = FindSoundSlots(s);
    ASSERT_EQ(tracks.size(), 4u);
    std::set<std::pair<std::string, int64_t>> matched;
    for (size_t t = 0; t < tracks.size(); ++t) {
        EXPECT_EQ(tracks[t]->name, list.trackNames[t]);
        for (const ReadComponent& c : tracks[t]->components) {
            if (c.kind != "Clip") continue;
            const ReadEssence& e = c.essence;
            // The entry this clip stands for: its file and its offset in it.
            size_t i = 0;
            while (i < specs.size() && !(specs[i].essence == e.masterName && specs[i].sourceOffset == c.start)) ++i;
            ASSERT_LT(i, specs.size()) << e.masterName << " at " << c.start;
            matched.insert({e.masterName, c.start});
            EXPECT_EQ(list.tracks[i], int32_t(t));
            EXPECT_EQ(c.position, list.positions[i]) << e.masterName;
            EXPECT_EQ(c.length, list.lengths[i]) << e.masterName;

            // The chain down to the file.
            EXPECT_EQ(e.sourceName, e.masterName);
            EXPECT_EQ(e.descriptor, "WAVEDescriptor");
            EXPECT_EQ(e.sampleRate, "48000/1");
            EXPECT_EQ(e.editRate, "48000/1");
            EXPECT_EQ(e.masterClipStart, 0);
            EXPECT_EQ(e.masterPhysicalTrack, 1);
            EXPECT_EQ(e.length, list.fileLengths[i]);
            EXPECT_EQ(e.masterSlotLength, e.length);
            EXPECT_EQ(e.sourceSlotLength, e.length);
            EXPECT_EQ(s.masterSources.at(e.masterId), e.sourceId);
            ASSERT_TRUE(e.exists) << e.path;
            EXPECT_EQ(e.path, list.essencePaths[i]);

            std::vector<uint8_t> summary = FromHex(e.summary);
            ASSERT_EQ(summary.size(), 44u);
            EXPECT_EQ(std::string(summary.begin(), summary.begin() + 4), "RIFF");
            EXPECT_EQ(std::string(summary.begin() + 8, summary.begin() + 16), "WAVEfmt ");
            EXPECT_EQ(Le16(summary, 20), 1);  // PCM
            EXPECT_EQ(Le32(summary, 40), uint32_t(e.length * 3));
            EXPECT_EQ(Le32(summary, 4), uint32_t(e.length * 3 + 36));

            Probe probe = ProbeWav(e.path);
            ASSERT_TRUE(probe.ok) << e.path;
            EXPECT_EQ(probe.sampleRate, kRate);
            EXPECT_EQ(probe.sampleRate, int(Le32(summary, 24)));
            EXPECT_EQ(probe.channels, 1);
            EXPECT_EQ(probe.channels, Le16(summary, 22));
            EXPECT_EQ(probe.bits, 24);
            EXPECT_EQ(probe.bits, Le16(summary, 34));
            EXPECT_EQ(probe.frames, e.length);
            EXPECT_EQ(probe.timeReference, timeReferences[e.masterName]);
            // Outside a fill, the file's first sample lies where the clip's
            // timeline position says its source start lies.
            if (e.masterName.find("_src_") == std::string::npos) {
                EXPECT_EQ(probe.timeReference, c.position - c.start) << e.masterName;
            }
        }
    }
    EXPECT_EQ(matched.size(), specs.size());

    // Fades, crossfades and gains as the list says.
    EXPECT_EQ(SequenceText(*tracks[0]), "Filler(" + std::to_string(kHour + 48480) +
                                            ") Transition(480,cut 0) Clip(" + std::to_string(kHour + 48000) +
                                            ",48000) Transition(6000,cut 3000) Clip(" +
                                            std::to_string(kHour + 90000) + ",30000) Transition(960,cut 960) Filler(960)");
    EXPECT_EQ(tracks[0]->components[2].gains.size(), 1u);
    EXPECT_EQ(tracks[0]->components[2].gains[0].value, "42949673/85899345");
    EXPECT_TRUE(tracks[0]->components[4].gains.empty());
    for (size_t lane : {1u, 2u}) {
        const ReadComponent& rain = tracks[lane]->components.back();
        ASSERT_EQ(rain.gains.size(), 1u);
        ASSERT_EQ(rain.gains[0].points.size(), 64u);
        for (int k = 0; k < kAafGainCurvePoints; ++k)
            EXPECT_EQ(rain.gains[0].points[size_t(k)].second,
                      std::to_string(int(std::trunc(double(swell.points[size_t(k)]) * 1000 + 0.5))) + "/1000");
    }
    EXPECT_EQ(SequenceText(*tracks[3]), "Filler(" + std::to_string(kHour + 202000) + ") Transition(2000,cut 0) Clip(" +
                                            std::to_string(kHour + 200000) + ",20000) Transition(1000,cut 500) Clip(" +
                                            std::to_string(kHour + 219000) +
                                            ",25000) Transition(3000,cut 3000) Filler(3000)");

    const ReadSlot& markers = s.slots.back();
    ASSERT_EQ(markers.markers.size(), 3u);
    EXPECT_EQ(markers.markers[0].position, kHour);
    EXPECT_EQ(markers.markers[0].comment, "Bed,3.0");
    EXPECT_EQ(markers.markers[1].comment, "Spot,1.0,door");
    EXPECT_EQ(markers.markers[2].position, kHour + 200000);
}
