// aaf_test_tools.cpp — runs the independent AAF readers and parses their JSON.
#include "export/aaf_test_tools.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/run_command.h"

namespace {

AafReadBack Parse(const CommandResult& run) {
    AafReadBack back;
    if (run.exitCode != 0) {
        back.message = run.err.empty() ? "reader exited with " + std::to_string(run.exitCode) : run.err;
        return back;
    }
    back.tree = ParseJsonText(run.out.c_str());
    back.ok = back.tree.type == kJsonObject;
    if (!back.ok) back.message = "reader printed no JSON object";
    return back;
}

}  // namespace

AafReadBack ReadStoredObjects(const std::string& path) {
    std::string script = std::string(TL_SOURCE_DIR) + "/tests/export/aaf_stored_reader.py";
    return Parse(RunCommand({TL_TEST_PYTHON, script, path}));
}

AafReadBack ReadWithOracle(const std::string& path, bool withMobs) {
    std::string why;
    std::string oracle = SharedMaterialDir("oracles/pyaaf2/src", &why);
    if (oracle.empty()) {
        AafReadBack missing;
        missing.message = why;
        return missing;
    }
    std::string script = std::string(TL_SOURCE_DIR) + "/tests/export/aaf_oracle_dump.py";
    std::vector<std::string> args = {TL_TEST_PYTHON, script, path};
    if (withMobs) args.push_back("--mobs");
    return Parse(RunCommand(args, {"PYTHONPATH=" + oracle}));
}

namespace {

// The number after "<key>: " in `line`, or `fallback`.
int64_t NumberAfter(const std::string& line, const std::string& key, int64_t fallback = 0) {
    const size_t at = line.find(key + ": ");
    if (at == std::string::npos) return fallback;
    return std::stoll(line.substr(at + key.size() + 2));
}

// The text between the quotes after "<key>: ".
std::string QuotedAfter(const std::string& line, const std::string& key) {
    const size_t at = line.find(key + ": \"");
    if (at == std::string::npos) return "";
    const size_t begin = at + key.size() + 3, end = line.rfind('"');
    return end > begin ? line.substr(begin, end - begin) : "";
}

// A fade's length: "FadeIn: CURV_LIN (480)".
int64_t FadeAfter(const std::string& line, const std::string& key) {
    const size_t at = line.find(key + ": ");
    if (at == std::string::npos) return 0;
    const size_t open = line.find('(', at);
    return open == std::string::npos ? 0 : std::stoll(line.substr(open + 1));
}

}  // namespace

AaftoolReadBack ReadWithAaftool(const std::string& path) {
    AaftoolReadBack back;
    const std::string tool = TL_AAFTOOL;
    if (tool.empty() || !std::ifstream(tool)) {
        back.message = "aaftool was not built: the test build builds it from <shared>/oracles/libaaf (" + tool + ")";
        return back;
    }
    const CommandResult run = RunCommand(
        {tool, "--aaf-clips", "--pos-format", "samples", "--show-automation", "--no-color", "--verb", "2", path});
    std::istringstream lines(run.out + "\n" + run.err);
    bool inMarkers = false, opened = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.find("[ error ]") != std::string::npos) back.errors.push_back(line);
        if (line.find("Tracks & Clips") != std::string::npos) opened = true;
        if (line.rfind("Markers :", 0) == 0) inMarkers = true;
        if (line.find("AudioTrack[") != std::string::npos) {
            back.trackNames.push_back(QuotedAfter(line, "Name"));
        } else if (line.find("Clip (") != std::string::npos && line.find("Start: ") != std::string::npos) {
            AaftoolClip c;
            c.track = int(back.trackNames.size());
            c.start = NumberAfter(line, "Start");
            c.length = NumberAfter(line, "Len");
            c.sourceOffset = NumberAfter(line, "SourceOffset");
            c.fadeIn = FadeAfter(line, "FadeIn");
            c.fadeOut = FadeAfter(line, "FadeOut");
            const size_t gain = line.find("Gain: ");
            c.hasGain = gain != std::string::npos;
            if (c.hasGain) c.gainDb = std::stod(line.substr(gain + 6));
            c.automation = line.find("VolumeAutomation: YES") != std::string::npos;
            back.clips.push_back(c);
        } else if (line.find("X-FADE") != std::string::npos) {
            back.crossfades.push_back({int(back.trackNames.size()), NumberAfter(line, "Length"),
                                       NumberAfter(line, "CutPoint")});
        } else if (line.find("SourceFile [") != std::string::npos && !back.clips.empty()) {
            back.clips.back().file = QuotedAfter(line, "]");
        } else if (line.find("_time: ") != std::string::npos && !back.clips.empty()) {
            const size_t t = line.find("_time: "), v = line.find("_value: ");
            back.clips.back().points.emplace_back(std::stod(line.substr(t + 7)), std::stod(line.substr(v + 8)));
        } else if (inMarkers && line.find("Marker[") != std::string::npos) {
            back.markers.push_back({NumberAfter(line, "Start"), NumberAfter(line, "Length"), QuotedAfter(line, "Comment")});
        }
    }
    back.ok = run.exitCode == 0 && opened;
    if (!back.ok) back.message = "aaftool exited with " + std::to_string(run.exitCode) + ": " + run.err + run.out;
    return back;
}

const JsonValue* FindStoredProperty(const JsonValue& object, int pid) {
    for (const JsonValue& p : JsonGetMember(object, "properties").elements)
        if (JsonGetInt(JsonGetMember(p, "pid"), -1) == pid) return &p;
    return nullptr;
}

const JsonValue& StoredChild(const JsonValue& object, int pid) {
    const JsonValue* p = FindStoredProperty(object, pid);
    return p ? JsonGetMember(*p, "object") : JsonNull();
}

const JsonValue& StoredElements(const JsonValue& object, int pid) {
    const JsonValue* p = FindStoredProperty(object, pid);
    return p ? JsonGetMember(*p, "elements") : JsonNull();
}

std::string HexOf(const uint8_t* bytes, size_t size) {
    std::string text;
    char two[3];
    for (size_t i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", bytes[i]);
        text += two;
    }
    return text;
}

std::string HexOf(const std::vector<uint8_t>& bytes) { return HexOf(bytes.data(), bytes.size()); }

std::vector<uint8_t> FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool PatchOnce(const std::string& path, const std::vector<uint8_t>& from, const std::vector<uint8_t>& to) {
    if (from.size() != to.size() || from.empty()) return false;
    std::vector<uint8_t> bytes = FileBytes(path);
    size_t found = std::string::npos;
    for (size_t i = 0; i + from.size() <= bytes.size(); ++i) {
        if (std::equal(from.begin(), from.end(), bytes.begin() + i)) {
            if (found != std::string::npos) return false;
            found = i;
        }
    }
    if (found == std::string::npos) return false;
    std::copy(to.begin(), to.end(), bytes.begin() + found);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<uint8_t> Utf16Bytes(const std::string& ascii) {
    std::vector<uint8_t> out;
    for (char c : ascii) {
        out.push_back(static_cast<uint8_t>(c));
        out.push_back(0);
    }
    return out;
}

WaveSummaryFacts ParseWaveSummary(const std::string& hex) {
    WaveSummaryFacts facts;
    std::vector<uint8_t> b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    if (b.size() != 44) return facts;
    auto le16 = [&b](size_t at) { return int(b[at] | b[at + 1] << 8); };
    auto le32 = [&b](size_t at) {
        return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
    };
    const std::string text(b.begin(), b.end());
    facts.ok = text.compare(0, 4, "RIFF") == 0 && text.compare(8, 8, "WAVEfmt ") == 0 && text.compare(36, 4, "data") == 0;
    facts.riffSize = le32(4);
    facts.format = le16(20);
    facts.channels = le16(22);
    facts.sampleRate = le32(24);
    facts.bits = le16(34);
    facts.dataSize = le32(40);
    return facts;
}
