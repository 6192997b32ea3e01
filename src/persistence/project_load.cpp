// project_load.cpp — the project file read back into a document.
//
// Index
//   ReadProjectRoot        read the file, parse, refuse what is damaged or no project
//   ReadProjectSettings    the settings table, with defaults, clamps and mended ranges
//   ReadTrackLayout        budget mode and the three groups, only where the file has them
//   RegisterFileRefs       every stored reference reaches the registry before any layer
//   ReadBannedFiles        paths and ids kept parallel; missing ids from content
//   ReadUserShapes
//   ReadResults            the event rule, linking through the registry, mute reasons
//   ReadOptical            the picture trace and its suggestions
//   SettingsFromRoot       export, mixer, work-area, scene and reverb settings of a parsed file
//   LoadProjectText / LoadProjectFile   the twenty steps in order (and the settings when asked)
//   ReadProjectSettingsJson
#include "persistence/project_load.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "document/text_util.h"
#include "library/file_registry.h"
#include "persistence/curve_json.h"
#include "persistence/event_json.h"
#include "persistence/json_members.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "platform/file_util.h"

namespace {

// ---------------------------------------------------------------------------
// ReadProjectRoot
// ---------------------------------------------------------------------------

const char kDamagedFile[] = "Damaged file (incomplete JSON)";

std::string ReadFailureMessage(FileReadStatus status, const std::string& path) {
    switch (status) {
        case kReadTooLarge: return "File too large";
        case kReadOutOfMemory: return "Out of memory";
        case kReadFailed: return "Could not read file: " + path;
        default: return "Could not open file: " + path;
    }
}

std::string ProjectFolderOf(const std::string& path) {
    std::string folder = std::filesystem::path(path).parent_path().string();
    return folder.empty() ? std::string(".") : folder;
}

// The parsed file when it is an intact JSON object of the right format;
// otherwise `error` is set and the root is meaningless.
JsonValue ParseProjectRoot(const std::string& text, const std::string& path, std::string& error) {
    if (text.empty()) {
        error = "Empty file";
        return {};
    }
    JsonDamage damage;
    JsonValue root = ParseJsonText(text.c_str(), &damage);
    if (root.type != kJsonObject) {
        error = "Invalid JSON";
        return {};
    }
    // The reader stops at a NUL byte, so everything after it would be lost
    // without a trace; a failing disk leaves such runs of zeros.
    const bool hasNul = std::memchr(text.data(), '\0', text.size()) != nullptr;
    if (hasNul || !JsonIntact(damage)) {
        std::printf("[Project] Refused %s: %s\n", path.c_str(),
                    hasNul ? "NUL byte in the text" : DescribeJsonDamage(damage).c_str());
        error = kDamagedFile;
        return {};
    }
    if (MemberText(root, "format") != "Tessaloom") {
        error = "Not a Tessaloom project file";
        return {};
    }
    return root;
}

// ---------------------------------------------------------------------------
// ReadProjectSettings
// ---------------------------------------------------------------------------

// A float that must be above zero; anything else counts as missing.
float PositiveFloat(const JsonValue& root, const char* key, float fallback) {
    const float value = MemberFloat(root, key, fallback);
    return value > 0 ? value : fallback;
}

bool IsProjectSampleRate(int rate) {
    return rate == 44100 || rate == 48000 || rate == 88200 || rate == 96000 || rate == 192000;
}

void ReadProjectSettings(const JsonValue& root, const std::string& folder, Project& p,
                         ProjectLoadResult& result) {
    // Zero or negative lengths and rates would divide the timeline by zero.
    p.totalDuration = PositiveFloat(root, "totalDuration", 30);
    p.fps = UsableFrameRate(MemberFloat(root, "fps", kDefaultFrameRate));
    const int rate = MemberInt(root, "projectSampleRate", 48000);
    result.projectSampleRate = IsProjectSampleRate(rate) ? rate : 48000;
    p.startTC = MemberFloat(root, "startTC", 0);
    p.maxEventDuration = MemberFloat(root, "maxEventDuration", 30);
    p.scaleType = std::clamp(MemberInt(root, "scaleType", 0), 0, 16);
    p.scaleRoot = std::clamp(MemberInt(root, "scaleRoot", 0), 0, 11);
    p.pitchShiftProb = std::clamp(MemberInt(root, "pitchShiftProb", 0), 0, 100);
    p.freqShiftIntensity = std::clamp(MemberInt(root, "freqShiftIntensity", 0), 0, 100);
    p.reverseProb = std::clamp(MemberInt(root, "reverseProb", 0), 0, 100);
    p.normalizeLUFS = MemberBool(root, "normalizeLUFS", true);
    p.alloyAlgorithm = std::clamp(MemberInt(root, "alloyAlgorithm", 2), 0, 3);
    p.alloyTransferDepth = std::clamp(MemberFloat(root, "alloyTransferDepth", 0.2f), 0.0f, 1.0f);
    p.alloyAttackGraft = std::clamp(MemberFloat(root, "alloyAttackGraft", 0.03f), 0.0f, 0.2f);
    p.alloyMicroPitch = std::clamp(MemberFloat(root, "alloyMicroPitch", 0.03f), 0.0f, 0.15f);
    p.alloyFilterBands = std::clamp(MemberInt(root, "alloyFilterBands", 10), 4, 24);
    result.videoPath = ResolveAgainstProjectFolder(MemberText(root, "videoPath"), folder);
    result.videoStartTime = MemberFloat(root, "videoStartTime", 0);
    result.projectDescription = MemberText(root, "projectDescription");
    const JsonValue& libraries = JsonGetMember(root, "libraryPaths");
    const int libraryCount = JsonArraySize(libraries);
    for (int i = 0; i < libraryCount; ++i) result.libraryPaths.push_back(JsonText(JsonGetElement(libraries, i)));
}

// ---------------------------------------------------------------------------
// ReadTrackLayout
// ---------------------------------------------------------------------------

// The settings panel offers up to 48 tracks per group.
constexpr int kMaxGroupTracks = 48;

void ReadTrackLayout(const JsonValue& root, Project& p) {
    const JsonValue& layout = JsonGetMember(root, "trackLayout");
    if (layout.type != kJsonObject) return;
    if (JsonHasMember(layout, "budgetMode")) p.budgetMode = MemberBool(layout, "budgetMode", false);
    static const char* const kGroupKeys[3] = {"group0", "group1", "group2"};
    for (int d = 0; d < 3; ++d) {
        const JsonValue& g = JsonGetMember(layout, kGroupKeys[d]);
        if (g.type != kJsonObject) continue;
        MixGroup& group = p.groups[d];
        // A name that keeps nothing once cut to the field (bytes that start
        // no character) counts as no name: the group keeps its own, as it
        // does when the file is read again.
        char name[sizeof group.name];
        CopyTextField(name, MemberText(g, "name"));
        if (name[0] != '\0') std::memcpy(group.name, name, sizeof name);
        if (JsonHasMember(g, "trackCount"))
            group.trackCount = std::clamp(MemberInt(g, "trackCount", 4), 1, kMaxGroupTracks);
        if (JsonHasMember(g, "stereo")) group.stereo = MemberBool(g, "stereo", false);
        if (JsonHasMember(g, "targetLUFS"))
            group.targetLUFS = std::clamp(MemberFloat(g, "targetLUFS", -24), -60.0f, -6.0f);
    }
}

// ---------------------------------------------------------------------------
// RegisterFileRefs
// ---------------------------------------------------------------------------

// The whole text must be an unsigned decimal that fits 64 bits; else 0.
uint64_t ParseStoredSize(const std::string& text) {
    uint64_t size = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, size, 10);
    return ec == std::errc() && ptr == end ? size : 0;
}

void RegisterFileRefs(const JsonValue& root, const std::string& folder) {
    FileRegistry& registry = FileRegistry::Instance();
    const JsonValue& refs = JsonGetMember(root, "fileRefs");
    const int count = JsonArraySize(refs);
    for (int i = 0; i < count; ++i) {
        const JsonValue& element = JsonGetElement(refs, i);
        FileRef ref;
        ref.id = MemberText(element, "id");
        if (ref.id.empty()) continue;
        ref.hash = HexToU64(MemberText(element, "hash"));
        ref.size = ParseStoredSize(MemberText(element, "size"));
        ref.path = ResolveAgainstProjectFolder(MemberText(element, "path"), folder);
        registry.RegisterFileRef(ref);
    }
}

// ---------------------------------------------------------------------------
// ReadBannedFiles
// ---------------------------------------------------------------------------

void ReadBannedFiles(const JsonValue& root, Project& p) {
    const JsonValue& paths = JsonGetMember(root, "bannedFiles");
    const int pathCount = JsonArraySize(paths);
    for (int i = 0; i < pathCount; ++i) {
        const std::string& path = JsonText(JsonGetElement(paths, i));
        if (!path.empty()) p.bannedFiles.push_back(path);
    }
    const JsonValue& ids = JsonGetMember(root, "bannedFileIds");
    const int idCount = JsonArraySize(ids);
    for (int i = 0; i < idCount && p.bannedFileIds.size() < p.bannedFiles.size(); ++i)
        p.bannedFileIds.push_back(JsonText(JsonGetElement(ids, i)));
    // Files saved before ids existed: the id of their content, when readable.
    FileRegistry& registry = FileRegistry::Instance();
    while (p.bannedFileIds.size() < p.bannedFiles.size()) {
        const std::string& path = p.bannedFiles[p.bannedFileIds.size()];
        uint64_t hash = 0, size = 0;
        if (FingerprintFile(path, hash, size))
            p.bannedFileIds.push_back(registry.GetOrCreateFileId(path, hash, size).id);
        else
            p.bannedFileIds.emplace_back();
    }
}

// ---------------------------------------------------------------------------
// ReadUserShapes
// ---------------------------------------------------------------------------

void ReadUserShapes(const JsonValue& root, Project& p) {
    const JsonValue& shapes = JsonGetMember(root, "userShapes");
    const int count = JsonArraySize(shapes);
    for (int i = 0; i < count; ++i) {
        const JsonValue& o = JsonGetElement(shapes, i);
        UserShape s;
        CopyTextField(s.name, MemberText(o, "name"));
        CopyTextField(s.keywords, MemberText(o, "keywords"));
        s.defaultDuration = MemberFloat(o, "defaultDuration", 2.0f);
        s.spread = MemberFloat(o, "spread", 0.3f);
        s.weightCenter = MemberFloat(o, "weightCenter", 0.3f);
        s.intensityScale = MemberFloat(o, "intensityScale", 1.0f);
        s.weightOffset = MemberFloat(o, "weightOffset", 0);
        s.syncOffset = MemberFloat(o, "syncOffset", 0);
        // Points past a shorter array are the neutral 0.5, as for no array.
        s.weight.fill(0.5f);
        s.intensity.fill(0.5f);
        ReadCurveJson(JsonGetMember(o, "weight"), s.weight);
        ReadCurveJson(JsonGetMember(o, "intensity"), s.intensity);
        p.userShapes.push_back(s);
    }
}

// ---------------------------------------------------------------------------
// ReadResults
// ---------------------------------------------------------------------------

// A stored file id meets the reference registered from "fileRefs"; a layer
// whose file is at its stored path keeps it, whatever the file holds now (a
// sound replaced in the project's "Audio" folder stays the project's, as the
// session that saved it played it: FileRegistry::FindStoredFile), and one
// whose file is not there is followed to wherever the registry finds its id.
// A layer without an id gets the id of its content. Files not found are
// listed, and the layer keeps its path. `filePresent` asks about each stored
// path once.
void LinkResultFile(RenderResult& r, ProjectLoadResult& result,
                    std::unordered_map<std::string, bool>& filePresent) {
    FileRegistry& registry = FileRegistry::Instance();
    if (r.fileId.empty()) {
        if (r.filepath.empty()) return;
        if (!FileIsReadable(r.filepath)) {
            result.missingFiles.push_back(r.filepath);
            return;
        }
        uint64_t hash = 0, size = 0;
        if (FingerprintFile(r.filepath, hash, size))
            r.fileId = registry.GetOrCreateFileId(r.filepath, hash, size).id;
        return;
    }
    registry.RegisterFileRef(FileRef{r.fileId, r.filepath, 0, 0});
    // Asked either way: the registry follows a file that moved.
    std::string found = registry.FindPath(r.fileId);
    auto [there, fresh] = filePresent.try_emplace(r.filepath, false);
    if (fresh) there->second = FileExistsWithSize(r.filepath, 0);
    if (there->second) return;
    if (found.empty()) {
        result.missingFiles.push_back(r.filepath);
        return;
    }
    r.filepath = std::move(found);
}

struct BannedLookup {
    std::unordered_set<std::string> paths;
    std::unordered_set<std::string> ids;
};

// Why a stored layer is muted is not in the file. A layer without a track
// was muted by the budget (and a later track assignment may lift that); a
// banned file's layer by the ban; any other by the designer.
void RestoreMuteReason(RenderResult& r, const std::string& storedPath, const BannedLookup& banned) {
    if (!r.muted) return;
    r.muteReasons = 0;
    MuteReason reason = kMuteUser;
    if (r.groupTrack == -1) {
        reason = kMuteBudget;
    } else if ((!r.fileId.empty() && banned.ids.count(r.fileId)) || banned.paths.count(r.filepath) ||
               banned.paths.count(storedPath)) {
        reason = kMuteBan;
    }
    SetMuteReason(r, reason, true);
}

void ReadResults(const JsonValue& root, const std::string& folder, Project& p, ProjectLoadResult& result) {
    const JsonValue& list = JsonGetMember(root, "results");
    const int count = JsonArraySize(list);
    const int eventCount = static_cast<int>(p.events.size());
    // Layers need an event to belong to; with none they are all dropped,
    // unlinked and unreported.
    if (count == 0 || eventCount == 0) return;
    BannedLookup banned;
    banned.paths.insert(p.bannedFiles.begin(), p.bannedFiles.end());
    for (const std::string& id : p.bannedFileIds)
        if (!id.empty()) banned.ids.insert(id);
    p.results.reserve(static_cast<size_t>(count));
    std::unordered_map<std::string, bool> filePresent;
    for (int i = 0; i < count; ++i) {
        p.results.emplace_back();  // a new id: stored ids are not kept
        RenderResult& r = p.results.back();
        ReadResultJson(r, JsonGetElement(list, i), folder);
        if (r.eventIdx < 0 || r.eventIdx >= eventCount) r.eventIdx = 0;
        const std::string storedPath = r.filepath;
        LinkResultFile(r, result, filePresent);
        RestoreMuteReason(r, storedPath, banned);
    }
}

// ---------------------------------------------------------------------------
// ReadOptical
// ---------------------------------------------------------------------------

constexpr int kTraceFrameValues = 11;

void ReadSuggestion(const JsonValue& o, SuggestedEvent& s) {
    s.time = MemberFloat(o, "time", 0);
    s.type = std::clamp(MemberInt(o, "type", 0), 0, 2);
    s.confidence = MemberFloat(o, "confidence", 0);
    s.tier = std::clamp(MemberInt(o, "tier", 0), 0, 2);
    s.suggestedDuration = MemberFloat(o, "suggestedDuration", 1);
    // Accepting a suggestion makes an event of this shape.
    s.suggestedShape = std::clamp(MemberInt(o, "suggestedShape", 0), 0, kShapeCount - 1);
    s.intensity = MemberFloat(o, "intensity", 1);
    s.suggestedGain = MemberFloat(o, "suggestedGain", 1);
    s.suggestedSyncOffset = MemberFloat(o, "suggestedSyncOffset", 0);
    s.suggestedWeightCenter = MemberFloat(o, "suggestedWeightCenter", 0.3f);
    s.suggestedSpread = MemberFloat(o, "suggestedSpread", 0.3f);
    s.intensityCurve.fill(0);
    s.hasIntensityCurve = false;
    const JsonValue& curve = JsonGetMember(o, "intensityCurve");
    if (JsonArraySize(curve) >= 256) {
        for (int i = 0; i < 256; ++i) s.intensityCurve[static_cast<size_t>(i)] = JsonGetFloat(JsonGetElement(curve, i), 0);
        s.hasIntensityCurve = true;
    }
    CopyTextField(s.keywords, MemberText(o, "keywords"));
    CopyTextField(s.presetName, MemberText(o, "presetName"));
    s.accepted = MemberBool(o, "accepted", true);
    s.peelLayer = MemberInt(o, "peelLayer", 0);
}

void ReadOptical(const JsonValue& root, ProjectLoadResult& result) {
    const JsonValue& o = JsonGetMember(root, "optical");
    if (o.type != kJsonObject) return;
    OpticalTrace& t = result.trace;
    t.duration = MemberFloat(o, "duration", 0);
    t.fps = MemberFloat(o, "fps", 10);
    t.numFrames = MemberInt(o, "numFrames", 0);
    t.maxCompositeEnergy = MemberFloat(o, "maxCompositeEnergy", 0);
    result.opticalDetail = std::clamp(MemberFloat(o, "opticalDetail", 0.35f), 0.0f, 1.0f);
    const size_t stride = static_cast<size_t>(std::max(MemberInt(o, "frameStride", kTraceFrameValues), kTraceFrameValues));
    const JsonValue& values = JsonGetMember(o, "frames");
    const size_t frameCount = static_cast<size_t>(JsonArraySize(values)) / stride;
    t.frames.resize(frameCount);
    for (size_t i = 0; i < frameCount; ++i) {
        float v[kTraceFrameValues];
        for (int k = 0; k < kTraceFrameValues; ++k)
            v[k] = JsonGetFloat(values.elements[i * stride + static_cast<size_t>(k)], 0);
        t.frames[i] = TraceFrame{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
    }
    const JsonValue& events = JsonGetMember(o, "events");
    const int count = JsonArraySize(events);
    t.suggestions.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) ReadSuggestion(JsonGetElement(events, i), t.suggestions[static_cast<size_t>(i)]);
    t.present = !t.frames.empty();
}

// Steps 7 to 20, on a root already known to be an intact project object.
void ReadProjectDocument(const JsonValue& root, const std::string& folder, Project& p,
                         ProjectLoadResult& result) {
    const int version = MemberInt(root, "version", 1);
    const int minReader = MemberInt(root, "minReaderVersion", 1);
    if (minReader > kProjectReaderVersion) {
        result.warning = "Newer version project";
        const std::string& savedBy = MemberText(root, "savedBy");
        if (!savedBy.empty()) result.warning += " (saved by v" + savedBy + ")";
        result.warning += " — some data may be lost if you save";
    }
    const bool legacy = version < 2;

    p.events.clear();
    p.results.clear();
    p.userShapes.clear();
    p.bannedFiles.clear();
    p.bannedFileIds.clear();
    p.rendered = false;
    p.publishedResultCount.store(0, std::memory_order_release);

    ReadProjectSettings(root, folder, p, result);
    ReadTrackLayout(root, p);
    RegisterFileRefs(root, folder);
    ReadBannedFiles(root, p);
    const JsonValue& groups = JsonGetMember(root, "linkedGroups");
    const int groupCount = JsonArraySize(groups);
    for (int i = 0; i < groupCount; ++i) {
        const std::string& name = JsonText(JsonGetElement(groups, i));
        if (!name.empty()) result.linkedGroups.insert(name);
    }
    ReadUserShapes(root, p);

    const JsonValue& events = JsonGetMember(root, "events");
    const int eventCount = JsonArraySize(events);
    const int shapeCount = static_cast<int>(p.userShapes.size());
    p.events.reserve(static_cast<size_t>(eventCount));
    for (int i = 0; i < eventCount; ++i) {
        p.events.emplace_back();
        // A pinned path too long to keep is reported like a file not found.
        ReadEventJson(p.events.back(), JsonGetElement(events, i), folder, legacy, shapeCount,
                      &result.missingFiles);
    }

    ReadResults(root, folder, p, result);
    p.rendered = !p.results.empty();
    p.publishedResultCount.store(static_cast<int32_t>(p.results.size()), std::memory_order_release);
    p.resultsRevision += 1;

    if (!result.videoPath.empty() && !FileIsReadable(result.videoPath))
        result.missingFiles.push_back(result.videoPath);
    ReadOptical(root, result);
    result.ok = true;
}

// ---------------------------------------------------------------------------
// Settings (read from the same parse when the caller asks, or on their own)
// ---------------------------------------------------------------------------

// The settings of an already parsed file.
ProjectFileSettings SettingsFromRoot(const JsonValue& root) {
    ProjectFileSettings s;
    ExportSettings& x = s.exportSettings;
    s.exportWithHandles = MemberBool(root, "exportWithHandles", true);
    x.handleDuration = MemberFloat(root, "handleDuration", 1.0f);
    x.handleFullSource = MemberBool(root, "handleFullSource", false);
    x.fadeInDuration = MemberFloat(root, "fadeInDuration", 0.01f);
    x.fadeOutDuration = MemberFloat(root, "fadeOutDuration", 0.05f);
    s.snapToFrames = MemberBool(root, "snapToFrames", true);
    x.exportAAFMarkers = MemberBool(root, "exportAAFMarkers", false);
    x.exportAAFVolAuto = MemberBool(root, "exportAAFVolAuto", true);
    s.exportFillVirtual = MemberBool(root, "exportFillVirtual", false);
    x.exportFormatAAF = MemberBool(root, "exportFormatAAF", true);
    x.exportFormatWAV = MemberBool(root, "exportFormatWAV", true);
    x.exportWavMixdown = MemberBool(root, "exportWavMixdown", true);
    x.exportWavStems = MemberBool(root, "exportWavStems", false);
    x.exportWavTracks = MemberBool(root, "exportWavTracks", false);
    x.exportWavClips = MemberBool(root, "exportWavClips", false);
    x.exportReverbStem = MemberBool(root, "exportReverbStem", true);
    x.exportAAFSourceChannels = MemberBool(root, "exportAAFSourceChannels", true);

    s.workAreaIn = MemberFloat(root, "workAreaIn", -1);
    s.workAreaOut = MemberFloat(root, "workAreaOut", -1);
    s.masterGain = std::clamp(MemberFloat(root, "masterGain", 1), 0.0f, 100.0f);
    s.refGain = std::clamp(MemberFloat(root, "refGain", 1), 0.0f, 100.0f);
    static const char* const kGroupGainKeys[3] = {"groupGain0", "groupGain1", "groupGain2"};
    for (int g = 0; g < 3; ++g)
        s.groupGains[static_cast<size_t>(g)] = std::clamp(MemberFloat(root, kGroupGainKeys[g], 1), 0.0f, 100.0f);

    const JsonValue& scenes = JsonGetMember(root, "scenes");
    const int sceneCount = JsonArraySize(scenes);
    for (int i = 0; i < sceneCount; ++i) {
        const JsonValue& o = JsonGetElement(scenes, i);
        Scene scene;
        CopyTextField(scene.name, MemberText(o, "name"));
        scene.inTime = MemberFloat(o, "inTime", 0);
        scene.outTime = MemberFloat(o, "outTime", 0);
        CopyTextField(scene.keywords, MemberText(o, "keywords"));
        if (scene.outTime > scene.inTime) s.scenes.push_back(scene);
    }

    const JsonValue& reverb = JsonGetMember(root, "reverb");
    if (reverb.type == kJsonObject) {
        ReverbParams& r = s.reverb;
        r.enabled = MemberBool(reverb, "enabled", true) ? 1 : 0;
        r.size = MemberFloat(reverb, "size", 0.5f);
        r.decay = MemberFloat(reverb, "decay", 0.5f);
        r.damping = MemberFloat(reverb, "damping", 0.3f);
        r.preDelay = MemberFloat(reverb, "preDelay", 0.015f);
        r.diffusion = MemberFloat(reverb, "diffusion", 0.7f);
        r.modulation = MemberFloat(reverb, "modulation", 0.5f);
        const JsonValue& sends = JsonGetMember(reverb, "groupSends");
        const int sendCount = std::min(JsonArraySize(sends), 3);
        for (int g = 0; g < sendCount; ++g)
            r.groupSends[static_cast<size_t>(g)] = JsonGetFloat(JsonGetElement(sends, g), 0.2f);
    }
    return s;
}

}  // namespace

// ---------------------------------------------------------------------------
// LoadProjectText / LoadProjectFile / ReadProjectSettingsJson
// ---------------------------------------------------------------------------

ProjectLoadResult LoadProjectText(const std::string& text, const std::string& path, Project& project,
                                  ProjectFileSettings* settings) {
    ProjectLoadResult result;
    const ProjectPathMemo paths;
    try {
        JsonValue root = ParseProjectRoot(text, path, result.error);
        if (!result.error.empty()) return result;
        ReadProjectDocument(root, ProjectFolderOf(path), project, result);
        if (settings) *settings = SettingsFromRoot(root);
        const JsonValue& base = JsonGetMember(root, "backupOf");
        if (base.type == kJsonString) result.backupOf = base.text;
        result.textHash = Fnv1a64(text);
    } catch (const std::bad_alloc&) {
        // Only a scratch document can be left half filled: `ok` stays false.
        ProjectLoadResult failed;
        failed.error = "Out of memory";
        return failed;
    }
    return result;
}

ProjectLoadResult LoadProjectFile(const std::string& path, Project& project, ProjectFileSettings* settings) {
    std::string text;
    const FileReadStatus status = ReadFileText(path, kMaxProjectFileBytes, text);
    if (status != kReadOk) {
        ProjectLoadResult result;
        result.error = ReadFailureMessage(status, path);
        return result;
    }
    return LoadProjectText(text, path, project, settings);
}

ProjectFileSettings ReadProjectSettingsJson(const std::string& path) {
    std::string text;
    if (ReadFileText(path, kMaxProjectFileBytes, text) != kReadOk) return ProjectFileSettings{};
    try {
        return SettingsFromRoot(ParseJsonText(text.c_str()));
    } catch (const std::bad_alloc&) {
        return ProjectFileSettings{};
    }
}
