// preset_json.cpp — file names, guarded saves, bounded reads and the preset
// members shared by recipe and chain files.
//
// Index
//   PresetFileStem
//   Reading a file        ReadPresetJsonFile, ReadStoredName
//   Saving a file         SavePresetJsonFile
//   Member readers        integer parts, ReadTextMember, paths; ReadPresetSettings,
//                         ReadClipMembers, ReadPinnedFileLists
//   Member writers        WriteShapingMembers, WriteClipMembers, WritePinnedFileLists
#include "recipes/preset_json.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "document/shortened_text.h"
#include "document/text_util.h"
#include "document/version.h"
#include "library/file_registry.h"
#include "persistence/curve_json.h"
#include "persistence/json_writer.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "recipes/event_preset.h"

namespace fs = std::filesystem;

namespace {

// A recipe is a few kilobytes; anything this large is not one of ours, and
// reading it whole on the UI thread would stall the window.
constexpr size_t kMaxPresetFileBytes = 16u << 20;
constexpr int kSupportedFormatVersion = 1;

}  // namespace

// ---------------------------------------------------------------------------
// PresetFileStem
// ---------------------------------------------------------------------------

std::string PresetFileStem(std::string_view name, const char* fallback) {
    std::string stem;
    for (char c : name) {
        bool keep = c == ' ' || c == '-' || c == '_' || (c >= '0' && c <= '9') ||
                    (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (keep) stem.push_back(c);
    }
    return stem.empty() ? std::string(fallback) : stem;
}

bool NameRefusedForFile(std::string_view name, const char* logTag) {
    const std::string problem = FileNameProblem(name);
    if (problem.empty()) return false;
    std::printf("%s not saved: %s\n", logTag, problem.c_str());
    return true;
}

// ---------------------------------------------------------------------------
// Reading a file
// ---------------------------------------------------------------------------

namespace {

// The integer part, saturated to the int range (the shared JsonGetInt maps an
// out-of-range number to INT_MIN, which would turn a huge version into an old one).
int IntegerPart(const JsonValue& value, int fallback) {
    if (value.type != kJsonNumber || std::isnan(value.number)) return fallback;
    double t = std::trunc(value.number);
    if (t >= static_cast<double>(INT_MAX)) return INT_MAX;
    if (t <= static_cast<double>(INT_MIN)) return INT_MIN;
    return static_cast<int>(t);
}

int FormatVersion(const JsonValue& root) {
    const JsonValue& current = JsonGetMember(root, "formatVersion");
    if (current.type == kJsonNumber) return IntegerPart(current, 0);
    const JsonValue& older = JsonGetMember(root, "version");
    if (older.type == kJsonNumber) return IntegerPart(older, 0);
    return 0;
}

}  // namespace

bool ReadPresetJsonFile(const std::string& path, const char* kind, const char* logTag,
                        JsonValue& root) {
    std::string text;
    // Only regular files are read (a FIFO at the path cannot hang the frame).
    const FileReadStatus status = ReadFileText(path, kMaxPresetFileBytes, text);
    if (status == kReadTooLarge) {
        std::printf("%s %s is larger than 16 MB and is not read\n", logTag, path.c_str());
        return false;
    }
    if (status != kReadOk) return false;
    JsonDamage damage;
    root = ParseJsonText(text.c_str(), &damage);
    if (!JsonIntact(damage))
        std::printf("%s %s is damaged (%s); reading what is there\n", logTag, path.c_str(),
                    DescribeJsonDamage(damage).c_str());
    int version = FormatVersion(root);
    if (version > kSupportedFormatVersion) {
        std::fprintf(stderr,
                     "%s '%s' was saved by a newer version (format %d, this build supports %d). "
                     "Loading what we can.\n",
                     kind, path.c_str(), version, kSupportedFormatVersion);
    }
    return true;
}

bool ReadStoredName(const std::string& path, std::string& name) {
    std::string text;
    if (ReadFileText(path, kMaxPresetFileBytes, text) != kReadOk) return false;
    const JsonValue root = ParseJsonText(text.c_str());
    const JsonValue& member = JsonGetMember(root, "name");
    // Compared as it would be read back into the 64-byte name field.
    name = NameForField(member.type == kJsonString ? std::string_view(member.text) : std::string_view(""),
                        sizeof EventPreset::name);
    return true;
}

std::string NameForField(std::string_view name, size_t size) {
    return ShortenedText(name, [&](const std::string& s) { return s.size() < size; });
}

void ReadNameMember(const JsonValue& object, char* field, size_t size) {
    const JsonValue& member = JsonGetMember(object, "name");
    CopyTextField(field, size, NameForField(member.type == kJsonString ? std::string_view(member.text) : "", size));
}

// ---------------------------------------------------------------------------
// Saving a file
// ---------------------------------------------------------------------------

bool PresetFileExists(const std::string& folder, const std::string& fileName) {
    if (folder.empty()) return false;
    std::error_code ec;
    return fs::exists(fs::symlink_status(folder + "/" + fileName, ec));
}

PresetSaveResult SavePresetJsonFile(const std::string& folder, const std::string& fileName,
                                    std::string_view storedName, const std::string& text,
                                    bool replaceOtherName, const char* logTag) {
    if (folder.empty()) {
        std::printf("%s no user folder to save %s in\n", logTag, fileName.c_str());
        return kPresetSaveFolderFailed;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) {
        std::printf("%s cannot create the folder %s\n", logTag, folder.c_str());
        return kPresetSaveFolderFailed;
    }
    const std::string path = folder + "/" + fileName;
    fs::file_status status = fs::status(path, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status)) {
            std::printf("%s %s is not a file; nothing saved\n", logTag, path.c_str());
            return kPresetSaveWriteFailed;
        }
        // Names that differ only in characters a file name drops share a
        // file: never let one of them replace the other unasked.
        std::string existing;
        bool known = ReadStoredName(path, existing);
        if (!replaceOtherName && (!known || existing != storedName)) {
            std::printf("%s %s holds \"%s\"; \"%.*s\" is not saved over it\n", logTag, path.c_str(),
                        existing.c_str(), static_cast<int>(storedName.size()), storedName.data());
            return kPresetNameTaken;
        }
    }
    if (!WriteTextFileAtomic(path, text)) {
        std::printf("%s could not write %s\n", logTag, path.c_str());
        return kPresetSaveWriteFailed;
    }
    return kPresetSaved;
}

// ---------------------------------------------------------------------------
// Member readers
// ---------------------------------------------------------------------------

namespace {

int ClampedIntegerPart(const JsonValue& value, int fallback, int lo, int hi) {
    return std::clamp(IntegerPart(value, fallback), lo, hi);
}

// A path cut to its field would name another file: one that does not fit is
// left out, and said so.
template <size_t N>
void ReadPathMember(const JsonValue& object, const char* key, char (&field)[N], const char* logTag) {
    const JsonValue& member = JsonGetMember(object, key);
    field[0] = '\0';
    if (member.type != kJsonString) return;
    if (member.text.size() >= N) {
        std::printf("%s a pinned file path of %zu bytes is too long and is left out\n", logTag,
                    member.text.size());
        return;
    }
    CopyTextField(field, member.text);
}

float NumberMember(const JsonValue& object, const char* key, float fallback) {
    return JsonGetFloat(JsonGetMember(object, key), fallback);
}

// The newer key wins when both are numbers.
float NumberMemberOr(const JsonValue& object, const char* key, const char* olderKey, float fallback) {
    const JsonValue& current = JsonGetMember(object, key);
    if (current.type == kJsonNumber) return JsonGetFloat(current, fallback);
    return NumberMember(object, olderKey, fallback);
}

// A size stored as quoted decimal digits (a plain number is taken as well);
// anything else, or a value out of range, is 0.
uint64_t StoredSize(const JsonValue& value) {
    if (value.type == kJsonNumber) {
        double n = value.number;
        return (n >= 0 && n < 18446744073709551616.0) ? static_cast<uint64_t>(n) : 0;
    }
    if (value.type != kJsonString) return 0;
    uint64_t size = 0;
    const char* first = value.text.data();
    auto [end, ec] = std::from_chars(first, first + value.text.size(), size);
    return (ec == std::errc() && end != first) ? size : 0;
}

}  // namespace

void ReadTextMember(const JsonValue& object, const char* key, char* field, size_t size) {
    const JsonValue& member = JsonGetMember(object, key);
    CopyTextField(field, size, member.type == kJsonString ? std::string_view(member.text) : std::string_view(""));
}

void ReadPresetSettings(const JsonValue& object, EventPreset& preset) {
    ReadTextMember(object, "keywords", preset.keywords, sizeof preset.keywords);
    preset.shape = ClampedIntegerPart(JsonGetMember(object, "shape"), kShapeBloom, 0, kShapeCount - 1);
    preset.intensityMode = ClampedIntegerPart(JsonGetMember(object, "intensityMode"), 0, 0, 2);
    preset.duration = NumberMember(object, "duration", 2.0f);
    preset.spread = NumberMember(object, "spread", 0.3f);
    preset.weightCenter = NumberMember(object, "weightCenter", 0.5f);
    preset.intensityScale = NumberMember(object, "intensityScale", 1.0f);
    preset.weightOffset = NumberMember(object, "weightOffset", 0.0f);
    // Files from before the morph amount was stored were made with 0.35.
    preset.alloyMorph = NumberMember(object, "alloyMorph", 0.35f);
    preset.pitchVariation = std::clamp(NumberMember(object, "pitchVariation", 0.0f), 0.0f, 1.0f);
    preset.reverbSend = NumberMember(object, "reverbSend", -1.0f);
    preset.gain = NumberMember(object, "gain", 1.0f);
    preset.fillLayers = ClampedIntegerPart(JsonGetMember(object, "fillLayers"), 0, 0, 24);
    preset.groupOverride = IntegerPart(JsonGetMember(object, "groupOverride"), -1);
    preset.stereo = JsonGetBool(JsonGetMember(object, "stereo"), false);
    ReadTextMember(object, "libFilter", preset.libFilter, sizeof preset.libFilter);
    ReadCurveJson(JsonGetMember(object, "weight"), preset.weight);
    ReadCurveJson(JsonGetMember(object, "intensity"), preset.intensity);
}

void ReadClipMembers(const JsonValue& object, EventPreset& preset, bool recipeKeys,
                     const char* logTag) {
    ReadPathMember(object, "pinnedFile", preset.pinnedFile, logTag);
    const JsonValue& id = JsonGetMember(object, "pinnedFileId");
    preset.pinnedFileId = id.type == kJsonString ? id.text : std::string();
    if (preset.pinnedFileId.empty() && preset.pinnedFile[0] != '\0')
        preset.pinnedFileId = FileRegistry::Instance().FileRefForPath(preset.pinnedFile).id;
    if (recipeKeys) {
        preset.clipSourceOffset = NumberMemberOr(object, "clipSourceOffset", "placeSourceOffset", 0.0f);
        preset.clipSourceDuration = NumberMemberOr(object, "clipSourceDuration", "placeSourceDuration", 0.0f);
        preset.clipFadeIn = NumberMemberOr(object, "clipFadeIn", "placeFadeIn", -1.0f);
        preset.clipFadeOut = NumberMemberOr(object, "clipFadeOut", "placeFadeOut", -1.0f);
        preset.clipWeight = NumberMember(object, "clipWeight", -1.0f);
    } else {
        preset.clipSourceOffset = NumberMember(object, "clipSourceOffset", 0.0f);
        preset.clipSourceDuration = NumberMember(object, "clipSourceDuration", 0.0f);
        preset.clipFadeIn = NumberMember(object, "clipFadeIn", -1.0f);
        preset.clipFadeOut = NumberMember(object, "clipFadeOut", -1.0f);
    }
    preset.clipPitchRate = NumberMember(object, "clipPitchRate", 1.0f);
    preset.clipReverse = JsonGetBool(JsonGetMember(object, "clipReverse"), false);
}

void ReadPinnedFileLists(const JsonValue& object, EventPreset& preset, bool fingerprintMissing) {
    preset.pinnedFiles.clear();
    for (const JsonValue& element : JsonGetMember(object, "pinnedFiles").elements)
        if (element.type == kJsonString && !element.text.empty()) preset.pinnedFiles.push_back(element.text);
    const size_t files = preset.pinnedFiles.size();

    preset.pinnedFileIds.clear();
    const JsonValue& ids = JsonGetMember(object, "pinnedFileIds");
    for (size_t i = 0; i < ids.elements.size() && i < files; ++i)
        preset.pinnedFileIds.push_back(ids.elements[i].type == kJsonString ? ids.elements[i].text : std::string());
    preset.pinnedFileIds.resize(files);

    FileRegistry& registry = FileRegistry::Instance();
    if (fingerprintMissing) {
        for (size_t i = 0; i < files; ++i)
            if (preset.pinnedFileIds[i].empty())
                preset.pinnedFileIds[i] = registry.FileRefForPath(preset.pinnedFiles[i]).id;
    }
    const JsonValue& hashes = JsonGetMember(object, "pinnedFileHashes");
    const JsonValue& sizes = JsonGetMember(object, "pinnedFileSizes");
    for (size_t i = 0; i < files; ++i) {
        if (preset.pinnedFileIds[i].empty()) continue;
        FileRef ref;
        ref.id = preset.pinnedFileIds[i];
        ref.path = preset.pinnedFiles[i];
        const JsonValue& hash = JsonGetElement(hashes, static_cast<int>(i));
        if (hash.type == kJsonString && !hash.text.empty()) ref.hash = HexToU64(hash.text);
        ref.size = StoredSize(JsonGetElement(sizes, static_cast<int>(i)));
        registry.RegisterFileRef(ref);
    }

    preset.bedLayerLoop.clear();
    const JsonValue& loops = JsonGetMember(object, "bedLayerLoop");
    for (size_t i = 0; i < loops.elements.size() && i < files; ++i)
        preset.bedLayerLoop.push_back(IntegerPart(loops.elements[i], 0) != 0 ? 1 : 0);

    preset.bedLayerWeight.clear();
    const JsonValue& weights = JsonGetMember(object, "bedLayerWeight");
    for (size_t i = 0; i < weights.elements.size() && i < files; ++i) {
        const JsonValue& w = weights.elements[i];
        // 0.5 was the stored form of "automatic" before -1 took its place.
        bool automatic = w.type != kJsonNumber || !(w.number >= 0.0) || w.number == 0.5;
        preset.bedLayerWeight.push_back(automatic ? -1.0f : static_cast<float>(std::min(w.number, 1.0)));
    }
}

// ---------------------------------------------------------------------------
// Member writers
// ---------------------------------------------------------------------------

void BeginPresetFileText(JsonWriter& w, const char* format, std::string_view name) {
    w.out = "{";
    w.level = 1;
    JsonWriteStringMember(w, "format", format);
    JsonWriteInt(w, "formatVersion", 1);
    JsonWriteStringMember(w, "createdBy", kProgramVersion);
    JsonWriteStringMember(w, "name", name);
}

void WriteSoughtMembers(JsonWriter& w, const EventPreset& preset) {
    JsonWriteStringMember(w, "keywords", preset.keywords);
    JsonWriteInt(w, "shape", preset.shape);
    JsonWriteInt(w, "intensityMode", preset.intensityMode);
    JsonWriteNumber(w, "duration", preset.duration);
}

void WriteShapingMembers(JsonWriter& w, const EventPreset& preset) {
    JsonWriteNumber(w, "spread", preset.spread);
    JsonWriteNumber(w, "weightCenter", preset.weightCenter);
    JsonWriteNumber(w, "intensityScale", preset.intensityScale);
    JsonWriteNumber(w, "weightOffset", preset.weightOffset);
    JsonWriteNumber(w, "alloyMorph", preset.alloyMorph);
    if (preset.pitchVariation > 0.001f) JsonWriteNumber(w, "pitchVariation", preset.pitchVariation);
    JsonWriteNumber(w, "reverbSend", preset.reverbSend);
}

void WriteClipMembers(JsonWriter& w, const EventPreset& preset, bool withWeight) {
    if (preset.shape != kShapeClip || preset.pinnedFile[0] == '\0') return;
    JsonWriteStringMember(w, "pinnedFile", preset.pinnedFile);
    if (!preset.pinnedFileId.empty()) JsonWriteStringMember(w, "pinnedFileId", preset.pinnedFileId);
    JsonWriteNumber(w, "clipSourceOffset", preset.clipSourceOffset);
    JsonWriteNumber(w, "clipSourceDuration", preset.clipSourceDuration);
    JsonWriteNumber(w, "clipFadeIn", preset.clipFadeIn);
    JsonWriteNumber(w, "clipFadeOut", preset.clipFadeOut);
    if (std::fabs(preset.clipPitchRate - 1.0f) > 0.001f) JsonWriteNumber(w, "clipPitchRate", preset.clipPitchRate);
    if (preset.clipReverse) JsonWriteBool(w, "clipReverse", true);
    if (withWeight && preset.clipWeight >= 0.0f) JsonWriteNumber(w, "clipWeight", preset.clipWeight);
}

void WritePinnedFileLists(JsonWriter& w, const EventPreset& preset, bool idsAlways) {
    if (preset.pinnedFiles.empty()) return;
    JsonWriteStringList(w, "pinnedFiles", preset.pinnedFiles);
    if (idsAlways || !preset.pinnedFileIds.empty()) {
        std::vector<std::string> hashes;
        std::vector<std::string> sizes;
        FileRegistry& registry = FileRegistry::Instance();
        for (const std::string& id : preset.pinnedFileIds) {
            FileRef ref;
            registry.GetFileRef(id, ref);  // an unknown id leaves 0 and 0
            hashes.push_back(U64ToHex(ref.hash));
            sizes.push_back(std::to_string(ref.size));
        }
        JsonWriteStringList(w, "pinnedFileIds", preset.pinnedFileIds);
        JsonWriteStringList(w, "pinnedFileHashes", hashes);
        JsonWriteStringList(w, "pinnedFileSizes", sizes);
    }
    if (!preset.bedLayerLoop.empty()) {
        std::vector<float> loops;
        for (uint8_t loop : preset.bedLayerLoop) loops.push_back(loop != 0 ? 1.0f : 0.0f);
        JsonWriteNumberList(w, "bedLayerLoop", loops);
    }
    if (!preset.bedLayerWeight.empty()) JsonWriteNumberList(w, "bedLayerWeight", preset.bedLayerWeight);
}
