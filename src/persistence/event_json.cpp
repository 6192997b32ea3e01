// event_json.cpp — writing and reading events and rendered layers.
//
// Index
//   Writing helpers        mapped path lists, fixed text fields
//   WriteEventJson         members in file order, conditions of each
//   WriteResultJson        members in file order, alloy sources
//   Reading helpers        integer flags
//   ReadPinnedFiles        the pinned list and its parallel lists, kept aligned
//   ReadEventJson          the member-by-member reading of one event
//   ResolveAgainstProjectFolder
//   Result reading helpers  gain arrays, the stretched intensity gain, fill chunks
//   ReadAlloySourceJson / ReadResultJson
#include "persistence/event_json.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/fingerprint_worker.h"
#include "persistence/collect_audio.h"
#include "persistence/curve_json.h"
#include "persistence/json_members.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"
#include "playback/audio_engine.h"

// ---------------------------------------------------------------------------
// Writing helpers
// ---------------------------------------------------------------------------

namespace {

void WriteMappedPathList(JsonWriter& w, const char* key, const std::vector<std::string>& paths,
                         const CollectedAudioMap& collected) {
    JsonWriteKey(w, key);
    JsonBeginArray(w);
    for (size_t i = 0; i < paths.size(); ++i) {
        JsonBeginListElement(w, i == 0);
        JsonWriteString(w, LookupCollectedPath(collected, paths[i]));
    }
    JsonEndArray(w);
}

void WriteLoopFlags(JsonWriter& w, const std::vector<uint8_t>& flags) {
    JsonWriteKey(w, "bedLayerLoop");
    JsonBeginArray(w);
    for (size_t i = 0; i < flags.size(); ++i) {
        JsonBeginListElement(w, i == 0);
        w.out.push_back(flags[i] ? '1' : '0');
    }
    JsonEndArray(w);
}

void WriteAlloySource(JsonWriter& w, const char* key, const AlloySource& source,
                      const CollectedAudioMap& collected) {
    JsonWriteKey(w, key);
    JsonBeginObject(w);
    JsonWriteStringMember(w, "filepath", LookupCollectedPath(collected, source.filepath));
    if (!source.fileId.empty()) JsonWriteStringMember(w, "fileId", source.fileId);
    JsonWriteNumber(w, "offset", source.offset);
    JsonWriteNumber(w, "duration", source.duration);
    JsonWriteStringMember(w, "name", source.name);
    JsonEndObject(w);
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteEventJson
// ---------------------------------------------------------------------------

void WriteEventJson(JsonWriter& w, const Event& e, const CollectedAudioMap& collected) {
    JsonWriteNumber(w, "time", e.time);
    JsonWriteNumber(w, "duration", e.duration);
    JsonWriteNumber(w, "spread", e.spread);
    JsonWriteNumber(w, "weightCenter", e.weightCenter);
    JsonWriteNumber(w, "intensityScale", e.intensityScale);
    JsonWriteNumber(w, "weightOffset", e.weightOffset);
    JsonWriteNumber(w, "syncOffset", e.syncOffset);
    JsonWriteInt(w, "shape", e.shape);
    JsonWriteInt(w, "intensityMode", e.intensityMode);
    JsonWriteInt(w, "userShapeIdx", e.userShapeIdx);
    JsonWriteBool(w, "locked", e.locked);
    if (e.muted) JsonWriteBool(w, "muted", true);
    JsonWriteBool(w, "hero", e.hero);
    JsonWriteBool(w, "stereo", e.stereo);
    JsonWriteNumber(w, "gain", e.gain);
    JsonWriteBool(w, "alloy", e.alloy);
    JsonWriteNumber(w, "alloyMorph", e.alloyMorph);
    if (e.pitchVariation > 0.001f) JsonWriteNumber(w, "pitchVariation", e.pitchVariation);
    if (e.scaleTuneOverride != 0) JsonWriteInt(w, "scaleTuneOverride", e.scaleTuneOverride);
    if (e.fillLayers > 0) JsonWriteInt(w, "fillLayers", e.fillLayers);
    if (e.reverbSend >= 0) JsonWriteNumber(w, "reverbSend", e.reverbSend);
    JsonWriteInt(w, "groupOverride", e.groupOverride);
    if (e.sceneLink >= 0) {
        JsonWriteInt(w, "sceneLink", e.sceneLink);
        JsonWriteInt(w, "sceneCrossfade", e.sceneCrossfade);
    }
    if (e.sceneFill) JsonWriteInt(w, "sceneFill", 1);
    JsonWriteStringMember(w, "keywords", TextFieldView(e.keywords));

    const std::string_view pinned = TextFieldView(e.pinnedFile);
    if (e.hasPinnedFiles && !pinned.empty()) {
        JsonWriteStringMember(w, "pinnedFile", LookupCollectedPath(collected, std::string(pinned)));
        if (!e.pinnedFileId.empty()) JsonWriteStringMember(w, "pinnedFileId", e.pinnedFileId);
    }
    if (!e.pinnedFiles.empty()) {
        WriteMappedPathList(w, "pinnedFiles", e.pinnedFiles, collected);
        if (!e.pinnedFileIds.empty()) JsonWriteStringList(w, "pinnedFileIds", e.pinnedFileIds);
        if (!e.bedLayerLoop.empty()) WriteLoopFlags(w, e.bedLayerLoop);
        if (!e.bedLayerWeight.empty()) JsonWriteNumberList(w, "bedLayerWeight", e.bedLayerWeight);
    }
    if (e.shape == kShapeClip) {
        if (e.clipWeight >= 0) JsonWriteNumber(w, "clipWeight", e.clipWeight);
        JsonWriteNumber(w, "clipSourceOffset", e.clipSourceOffset);
        JsonWriteNumber(w, "clipSourceDuration", e.clipSourceDuration);
        JsonWriteNumber(w, "clipFadeIn", e.clipFadeIn);
        JsonWriteNumber(w, "clipFadeOut", e.clipFadeOut);
        // Kept like recipes keep them, so a reopened Clip plays as it did.
        if (std::fabs(e.clipPitchRate - 1.0f) > 0.001f) JsonWriteNumber(w, "clipPitchRate", e.clipPitchRate);
        if (e.clipReverse) JsonWriteBool(w, "clipReverse", true);
    }
    if (e.folder[0] != '\0') JsonWriteStringMember(w, "folder", TextFieldView(e.folder));
    if (e.libFilter[0] != '\0') JsonWriteStringMember(w, "libFilter", TextFieldView(e.libFilter));
    if (e.presetName[0] != '\0') JsonWriteStringMember(w, "presetName", TextFieldView(e.presetName));
    JsonWriteCurve(w, "weight", e.weight);
    JsonWriteCurve(w, "intensity", e.intensity);
    if (e.hasTraceGain) {
        JsonWriteBool(w, "hasTraceGain", true);
        JsonWriteCurve(w, "traceGain", e.traceGain);
    }
    if (!e.bounceSource.empty()) {
        JsonWriteObjectList(w, "bounceSource", e.bounceSource,
                            [&](const Event& source) { WriteEventJson(w, source, collected); });
    }
}

// ---------------------------------------------------------------------------
// WriteResultJson
// ---------------------------------------------------------------------------

void WriteResultJson(JsonWriter& w, const RenderResult& r, const CollectedAudioMap& collected) {
    JsonWriteStringMember(w, "name", r.name);
    JsonWriteStringMember(w, "filepath", LookupCollectedPath(collected, r.filepath));
    if (!r.fileId.empty()) JsonWriteStringMember(w, "fileId", r.fileId);
    JsonWriteNumber(w, "sourceOffset", r.sourceOffset);
    JsonWriteNumber(w, "sourceDuration", r.sourceDuration);
    JsonWriteNumber(w, "startTime", r.startTime);
    JsonWriteNumber(w, "duration", r.duration);
    JsonWriteNumber(w, "weight", r.weight);
    JsonWriteInt(w, "eventIdx", r.eventIdx);
    JsonWriteInt(w, "track", r.track);
    JsonWriteInt(w, "group", r.group);
    JsonWriteInt(w, "groupTrack", r.groupTrack);
    JsonWriteInt(w, "procMode", r.procMode);
    JsonWriteNumber(w, "fadeIn", r.fadeIn);
    JsonWriteNumber(w, "fadeOut", r.fadeOut);
    JsonWriteNumber(w, "audioSyncOffset", r.audioSyncOffset);
    JsonWriteBool(w, "stereo", r.stereo);
    JsonWriteBool(w, "muted", r.muted);
    if (r.fillLoop) JsonWriteBool(w, "fillLoop", true);
    JsonWriteNumber(w, "layerGain", r.layerGain);
    // Left out only at their defaults: a value near one is still what the
    // session played (a decon offset of 90 µs moves a layer four samples).
    if (r.userVolume != 1.0f) JsonWriteNumber(w, "userVolume", r.userVolume);
    if (r.normGain != 1.0f) JsonWriteNumber(w, "normGain", r.normGain);
    // What the layer's sound measured: a reopen without the sound levels it
    // as the session did.
    if (r.measuredPeak > 0) JsonWriteNumber(w, "measuredPeak", r.measuredPeak);
    if (r.measuredLufs > kLoudnessNotMeasured) JsonWriteNumber(w, "measuredLufs", r.measuredLufs);
    if (r.pitchShift != 0.0f) JsonWriteNumber(w, "pitchShift", r.pitchShift);
    if (r.pitchVarShift != 0.0f) JsonWriteNumber(w, "pitchVarShift", r.pitchVarShift);
    if (r.deconOffset != 0.0f) JsonWriteNumber(w, "deconOffset", r.deconOffset);
    // A layer without a file plays as silence when it is a placeholder (it
    // matched no sound) and has no voice otherwise; the silent voice takes
    // its share of the event's level, so the flag is kept.
    if (r.filepath.empty()) JsonWriteBool(w, "placeholder", r.placeholder);
    if (r.hasIntGain) JsonWriteNumberList(w, "intGain", r.intGain.data(), r.intGain.size());
    if (r.hasFillGain) JsonWriteNumberList(w, "fillGain", r.fillGain.data(), r.fillGain.size());
    if (r.hasDeconGain) JsonWriteNumberList(w, "deconGain", r.deconGain.data(), r.deconGain.size());
    if (r.hasEqGains) JsonWriteNumberList(w, "eqGains", r.eqGains.data(), r.eqGains.size());
    if (r.procMode == 1 && !r.fillChunks.empty()) {
        JsonWriteObjectList(w, "fillChunks", r.fillChunks, [&](const FillChunk& c) {
            JsonWriteInt(w, "s", c.s);
            JsonWriteInt(w, "l", c.l);
            JsonWriteInt(w, "x", c.x);
        });
    }
    if (r.procMode == 3) {
        JsonWriteNumber(w, "alloyMorph", r.alloyMorph);
        JsonWriteInt(w, "alloyAlgo", r.alloyAlgo);
        WriteAlloySource(w, "alloyMid", r.alloyMid, collected);
        WriteAlloySource(w, "alloyHigh", r.alloyHigh, collected);
        WriteAlloySource(w, "alloyEnv", r.alloyEnv, collected);
        // The morph's own settings and curves, as the render gave them: the
        // project's settings may have changed since.
        JsonWriteNumber(w, "alloyTransferDepth", r.alloyTransferDepth);
        JsonWriteNumber(w, "alloyAttackGraft", r.alloyAttackGraft);
        JsonWriteNumber(w, "alloyMicroPitch", r.alloyMicroPitch);
        JsonWriteInt(w, "alloyFilterBands", r.alloyFilterBands);
        if (r.hasAlloyCurves) {
            JsonWriteNumberList(w, "alloyWeightCurve", r.alloyWeightCurve.data(), r.alloyWeightCurve.size());
            JsonWriteNumberList(w, "alloyIntensityCurve", r.alloyIntensityCurve.data(), r.alloyIntensityCurve.size());
        }
    }
}

// ---------------------------------------------------------------------------
// Reading helpers
// ---------------------------------------------------------------------------

namespace {

// A number whose integer part is not 0; anything else (true included) is not.
bool NonZeroInteger(const JsonValue& value) {
    return value.type == kJsonNumber && std::trunc(value.number) != 0;
}

// ---------------------------------------------------------------------------
// ReadPinnedFiles
// ---------------------------------------------------------------------------

// A path that resolves to nothing is dropped together with the id, loop flag
// and weight at its position, so every later layer keeps its own.
void ReadPinnedFiles(Event& e, const JsonValue& object, const std::string& folder) {
    const JsonValue& files = JsonGetMember(object, "pinnedFiles");
    const JsonValue& ids = JsonGetMember(object, "pinnedFileIds");
    const JsonValue& loops = JsonGetMember(object, "bedLayerLoop");
    const JsonValue& weights = JsonGetMember(object, "bedLayerWeight");
    const int count = JsonArraySize(files);
    const int idCount = JsonArraySize(ids);
    const int loopCount = JsonArraySize(loops);
    const int weightCount = JsonArraySize(weights);
    for (int i = 0; i < count; ++i) {
        std::string path = ResolveAgainstProjectFolder(JsonText(JsonGetElement(files, i)), folder);
        if (path.empty()) continue;
        e.pinnedFiles.push_back(std::move(path));
        // Each parallel list stays a prefix of the pinned list: a shorter list
        // in the file ends its entries, the rest take their defaults later.
        if (i < idCount && e.pinnedFileIds.size() + 1 == e.pinnedFiles.size())
            e.pinnedFileIds.push_back(JsonText(JsonGetElement(ids, i)));
        if (i < loopCount && e.bedLayerLoop.size() + 1 == e.pinnedFiles.size())
            e.bedLayerLoop.push_back(NonZeroInteger(JsonGetElement(loops, i)) ? 1 : 0);
        if (i < weightCount && e.bedLayerWeight.size() + 1 == e.pinnedFiles.size()) {
            const JsonValue& v = JsonGetElement(weights, i);
            float weight = -1;  // automatic
            if (v.type == kJsonNumber) {
                float f = static_cast<float>(v.number);
                // 0.5 is how older files wrote "automatic".
                if (std::isfinite(f) && f >= 0 && f != 0.5f) weight = std::min(f, 1.0f);
            }
            e.bedLayerWeight.push_back(weight);
        }
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// ReadEventJson
// ---------------------------------------------------------------------------

void ReadEventJson(Event& e, const JsonValue& o, const std::string& projectFolder, bool legacy,
                   int userShapeCount, std::vector<std::string>* refusedPaths) {
    // 1. Placement, no clamps.
    e.time = MemberFloat(o, "time", 0);
    e.duration = MemberFloat(o, "duration", 1);
    e.spread = MemberFloat(o, "spread", 0.3f);
    e.weightCenter = MemberFloat(o, "weightCenter", 0.3f);
    e.intensityScale = MemberFloat(o, "intensityScale", 1);
    e.weightOffset = MemberFloat(o, "weightOffset", 0);
    e.syncOffset = MemberFloat(o, "syncOffset", 0);

    // 2. Shape; files before version 2 stored an alloyed Bloom as shape 2.
    int shape = MemberInt(o, "shape", 0);
    if (legacy && shape == kShapeContour) {
        shape = kShapeBloom;
        e.alloy = true;
    } else {
        shape = std::clamp(shape, 0, kShapeCount - 1);
    }
    e.shape = shape;

    // 3.
    e.intensityMode = std::clamp(MemberInt(o, "intensityMode", 0), 0, 2);
    e.userShapeIdx = MemberInt(o, "userShapeIdx", -1);

    // 4.
    e.locked = MemberBool(o, "locked", false);
    e.muted = MemberBool(o, "muted", false);
    e.hero = MemberBool(o, "hero", false);
    e.stereo = MemberBool(o, "stereo", false);

    // 5.
    e.gain = std::clamp(MemberFloat(o, "gain", 1), 0.0f, 1.0f);
    e.alloy = MemberBool(o, "alloy", e.alloy);
    e.alloyMorph = MemberFloat(o, "alloyMorph", 1);

    // 6.
    e.pitchVariation = std::clamp(MemberFloat(o, "pitchVariation", 0), 0.0f, 1.0f);
    e.scaleTuneOverride = std::clamp(MemberInt(o, "scaleTuneOverride", 0), 0, 2);
    e.fillLayers = std::clamp(MemberInt(o, "fillLayers", 0), 0, 24);

    // 7.
    e.reverbSend = MemberFloat(o, "reverbSend", -1);
    e.groupOverride = MemberInt(o, "groupOverride", -1);
    e.sceneLink = MemberInt(o, "sceneLink", -1);
    e.sceneCrossfade = std::clamp(MemberInt(o, "sceneCrossfade", 1), 0, 120);
    e.sceneFill = NonZeroInteger(JsonGetMember(o, "sceneFill"));

    // 8.
    CopyTextField(e.keywords, MemberText(o, "keywords"));

    // 9. The single pinned file. A path is never stored cut: one that does
    // not fit its field is handed back to be reported as missing.
    std::string pinned = ResolveAgainstProjectFolder(MemberText(o, "pinnedFile"), projectFolder);
    if (!pinned.empty()) {
        if (pinned.size() < sizeof e.pinnedFile) {
            e.hasPinnedFiles = true;
            CopyTextField(e.pinnedFile, pinned);
            e.pinnedFileId = MemberText(o, "pinnedFileId");
        } else if (refusedPaths) {
            refusedPaths->push_back(pinned);
        }
    }

    // 10.-12.
    ReadPinnedFiles(e, o, projectFolder);

    // 13.
    if (!e.pinnedFiles.empty()) {
        e.hasPinnedFiles = true;
    } else if (e.hasPinnedFiles && e.pinnedFile[0] != '\0' && e.shape != kShapeClip) {
        e.pinnedFiles.push_back(e.pinnedFile);
        e.pinnedFileIds.push_back(e.pinnedFileId);  // the id known for that same path
    }
    FingerprintPinnedFiles(e);

    // 14.
    CopyTextField(e.folder, MemberText(o, "folder"));
    CopyTextField(e.libFilter, MemberText(o, "libFilter"));
    CopyTextField(e.presetName, MemberText(o, "presetName"));

    // 15. Clip fields, under their older names too.
    e.clipSourceOffset = MemberFloatOr(o, "clipSourceOffset", "placeSourceOffset", 0);
    e.clipSourceDuration = MemberFloatOr(o, "clipSourceDuration", "placeSourceDuration", 0);
    e.clipFadeIn = MemberFloatOr(o, "clipFadeIn", "placeFadeIn", -1);
    e.clipFadeOut = MemberFloatOr(o, "clipFadeOut", "placeFadeOut", -1);
    e.clipWeight = MemberFloat(o, "clipWeight", -1);
    e.clipPitchRate = MemberFloat(o, "clipPitchRate", 1);
    e.clipReverse = MemberBool(o, "clipReverse", false);

    // 16. Curves.
    ReadCurveJson(JsonGetMember(o, "weight"), e.weight);
    ReadCurveJson(JsonGetMember(o, "intensity"), e.intensity);
    const JsonValue& hasTrace = JsonGetMember(o, "hasTraceGain");
    e.hasTraceGain = hasTrace.type == kJsonBool && hasTrace.flag;
    if (e.hasTraceGain) ReadCurveJson(JsonGetMember(o, "traceGain"), e.traceGain);

    // 17. The events a bounced Clip was made from.
    const JsonValue& sources = JsonGetMember(o, "bounceSource");
    const int sourceCount = JsonArraySize(sources);
    // Each source is filled in place, not on the stack: a file may nest
    // bounces as deep as the JSON reader follows, and an event is kilobytes.
    e.bounceSource.reserve(static_cast<size_t>(sourceCount));
    for (int i = 0; i < sourceCount; ++i) {
        e.bounceSource.emplace_back();
        ReadEventJson(e.bounceSource.back(), JsonGetElement(sources, i), projectFolder, legacy,
                      userShapeCount, refusedPaths);
    }

    // 18. A user shape that the file does not hold is none.
    if (e.userShapeIdx < 0 || e.userShapeIdx >= userShapeCount) e.userShapeIdx = -1;
}

// ---------------------------------------------------------------------------
// ResolveAgainstProjectFolder
// ---------------------------------------------------------------------------

namespace {

// The memo of the load running on this thread (null outside one).
thread_local std::unordered_map<std::string, std::string>* tLoadPathMemo = nullptr;

}  // namespace

ProjectPathMemo::ProjectPathMemo() : outer_(tLoadPathMemo) { tLoadPathMemo = &resolved_; }

ProjectPathMemo::~ProjectPathMemo() { tLoadPathMemo = outer_; }

std::string ResolveAgainstProjectFolder(const std::string& path, const std::string& projectFolder) {
    if (!tLoadPathMemo || path.empty()) return ResolveProjectPath(path, projectFolder);
    std::string key = projectFolder;
    key += '\0';
    key += path;
    const auto found = tLoadPathMemo->find(key);
    if (found != tLoadPathMemo->end()) return found->second;
    std::string resolved = ResolveProjectPath(path, projectFolder);
    tLoadPathMemo->emplace(std::move(key), resolved);
    return resolved;
}

// ---------------------------------------------------------------------------
// Result reading helpers
// ---------------------------------------------------------------------------

namespace {

// std::clamp passes NaN through; a stored value never reaches the engine as one.
float ClampFinite(double value, float lo, float hi) {
    if (!(value >= lo)) return lo;  // NaN and below
    if (value > hi) return hi;
    return static_cast<float>(value);
}

// An element that is not a (finite 32-bit) number counts as 1.
float GainElement(const JsonValue& array, int i) { return JsonGetFloat(JsonGetElement(array, i), 1.0f); }

// Taken only from an array of at least `count` elements: the first `count`,
// each clamped. Returns whether it was taken.
template <size_t N>
bool ReadGainArray(const JsonValue& value, std::array<float, N>& out, float lo, float hi) {
    const int n = JsonArraySize(value);
    if (n < static_cast<int>(N)) return false;
    for (size_t i = 0; i < N; ++i) out[i] = ClampFinite(GainElement(value, static_cast<int>(i)), lo, hi);
    return true;
}

// Any non-empty array; a short one is stretched over the 256 points by
// linear interpolation, so one element fills the whole curve.
bool ReadIntensityGain(const JsonValue& value, std::array<float, 256>& out) {
    const int n = JsonArraySize(value);
    if (n < 1) return false;
    if (n >= 256) return ReadGainArray(value, out, 0.0f, 1.0f);
    const int lastK = std::max(n - 2, 0);
    for (int i = 0; i < 256; ++i) {
        const double x = static_cast<double>(i) / 255.0 * (n - 1);
        const int k = std::clamp(static_cast<int>(x), 0, lastK);
        const double a = GainElement(value, k);
        const double b = k + 1 < n ? GainElement(value, k + 1) : 1.0;
        out[static_cast<size_t>(i)] = ClampFinite(a + (x - k) * (b - a), 0.0f, 1.0f);
    }
    return true;
}

// A plan that the engine could not hold, or with a negative field, is not
// kept: the fill is made again when the voice is built.
void ReadFillChunks(const JsonValue& value, std::vector<FillChunk>& out) {
    const int n = JsonArraySize(value);
    if (n > kMaxFillChunks) return;
    out.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const JsonValue& c = JsonGetElement(value, i);
        FillChunk chunk{MemberInt(c, "s", 0), MemberInt(c, "l", 0), MemberInt(c, "x", 0)};
        if (chunk.s < 0 || chunk.l < 0 || chunk.x < 0) {
            out.clear();
            return;
        }
        out.push_back(chunk);
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// ReadAlloySourceJson
// ---------------------------------------------------------------------------

void ReadAlloySourceJson(const std::string& projectFolder, const JsonValue& value, AlloySource& source) {
    if (value.type != kJsonObject) return;
    source.filepath = ResolveAgainstProjectFolder(MemberText(value, "filepath"), projectFolder);
    source.fileId = MemberText(value, "fileId");
    source.offset = MemberFloat(value, "offset", 0);
    source.duration = MemberFloat(value, "duration", 0);
    source.name = MemberText(value, "name");
    if (source.fileId.empty() && !source.filepath.empty())
        source.fileId = FileRegistry::Instance().FileRefForPath(source.filepath).id;
}

// ---------------------------------------------------------------------------
// ReadResultJson
// ---------------------------------------------------------------------------

void ReadResultJson(RenderResult& r, const JsonValue& o, const std::string& projectFolder) {
    r.name = MemberText(o, "name");
    r.filepath = ResolveAgainstProjectFolder(MemberText(o, "filepath"), projectFolder);
    r.fileId = MemberText(o, "fileId");
    r.sourceOffset = MemberFloat(o, "sourceOffset", 0);
    r.sourceDuration = MemberFloat(o, "sourceDuration", 0);
    r.startTime = MemberFloat(o, "startTime", 0);
    r.duration = MemberFloat(o, "duration", 0);
    r.weight = MemberFloat(o, "weight", 0);
    r.eventIdx = MemberInt(o, "eventIdx", 0);
    r.track = MemberInt(o, "track", 0);
    // The mixer has three groups; a layer outside them would play nowhere.
    r.group = MemberInt(o, "group", 0);
    if (r.group < 0 || r.group > 2) r.group = 0;
    // -1 is a layer the budget left without a track.
    r.groupTrack = std::clamp(MemberInt(o, "groupTrack", 0), -1, kMaxGroupTrack);
    r.procMode = std::clamp(MemberInt(o, "procMode", 0), 0, 3);
    r.fadeIn = MemberFloat(o, "fadeIn", 0.01f);
    r.fadeOut = MemberFloat(o, "fadeOut", 0.05f);
    r.audioSyncOffset = MemberFloat(o, "audioSyncOffset", 0);
    r.stereo = MemberBool(o, "stereo", false);
    r.muted = MemberBool(o, "muted", false);
    r.fillLoop = MemberBool(o, "fillLoop", false);
    r.layerGain = MemberFloat(o, "layerGain", 1);
    r.userVolume = std::clamp(MemberFloat(o, "userVolume", 1), 0.0f, 2.0f);
    r.normGain = std::clamp(MemberFloat(o, "normGain", 1), 0.001f, 8.0f);
    // Files from before the measures were kept leave them unknown.
    r.measuredPeak = std::clamp(MemberFloat(o, "measuredPeak", 0), 0.0f, 64.0f);
    r.measuredLufs = std::clamp(MemberFloat(o, "measuredLufs", kLoudnessNotMeasured), kLoudnessNotMeasured, 60.0f);
    r.pitchShift = std::clamp(MemberFloat(o, "pitchShift", 0), -24.0f, 24.0f);
    r.pitchVarShift = std::clamp(MemberFloat(o, "pitchVarShift", 0), -24.0f, 24.0f);
    r.deconOffset = MemberFloat(o, "deconOffset", 0);
    // Files from before the flag was kept: a layer without a file is a sketch.
    r.placeholder = MemberBool(o, "placeholder", r.filepath.empty());

    r.hasIntGain = ReadIntensityGain(JsonGetMember(o, "intGain"), r.intGain);
    r.hasFillGain = ReadGainArray(JsonGetMember(o, "fillGain"), r.fillGain, 0.0f, 2.8f);
    r.hasDeconGain = ReadGainArray(JsonGetMember(o, "deconGain"), r.deconGain, 0.0f, 1.0f);
    r.hasEqGains = ReadGainArray(JsonGetMember(o, "eqGains"), r.eqGains, 0.1f, 1.0f);

    if (r.procMode == 1) ReadFillChunks(JsonGetMember(o, "fillChunks"), r.fillChunks);
    if (r.procMode == 3) {
        r.alloyMorph = MemberFloat(o, "alloyMorph", 1);
        // Alloy layers saved before the algorithm was stored used the fourth one.
        r.alloyAlgo = std::clamp(MemberInt(o, "alloyAlgo", 3), 0, 3);
        ReadAlloySourceJson(projectFolder, JsonGetMember(o, "alloyMid"), r.alloyMid);
        ReadAlloySourceJson(projectFolder, JsonGetMember(o, "alloyHigh"), r.alloyHigh);
        ReadAlloySourceJson(projectFolder, JsonGetMember(o, "alloyEnv"), r.alloyEnv);
        r.alloyTransferDepth = std::clamp(MemberFloat(o, "alloyTransferDepth", r.alloyTransferDepth), 0.0f, 1.0f);
        r.alloyAttackGraft = std::clamp(MemberFloat(o, "alloyAttackGraft", r.alloyAttackGraft), 0.0f, 0.2f);
        r.alloyMicroPitch = std::clamp(MemberFloat(o, "alloyMicroPitch", r.alloyMicroPitch), 0.0f, 0.15f);
        r.alloyFilterBands = std::clamp(MemberInt(o, "alloyFilterBands", r.alloyFilterBands), 4, 24);
        r.hasAlloyCurves = ReadGainArray(JsonGetMember(o, "alloyWeightCurve"), r.alloyWeightCurve, 0.0f, 1.0f) &&
                           ReadGainArray(JsonGetMember(o, "alloyIntensityCurve"), r.alloyIntensityCurve, 0.0f, 1.0f);
    }
}
