// project_file.cpp — the project file's text and its durable write.
//
// Index
//   StoredVideoPath        relative to the project folder when the video lies inside it
//   WriteTrackLayout       budget mode and the three groups
//   CollectFileIds / WriteFileRefs   one sorted reference per file id in use
//   WriteUserShapes / WriteScenes / WriteReverb
//   WriteOptical           the picture trace: frames as rows, suggestions as objects
//   BuildProjectJson       the 36 top-level keys in file order
//   WriteProjectFile       collect, build, write "<path>.tmp", commit, move, log
#include "persistence/project_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "document/project.h"
#include "document/text_util.h"
#include "document/version.h"
#include "library/file_registry.h"
#include "persistence/collect_audio.h"
#include "persistence/event_json.h"
#include "persistence/json_writer.h"
#include "picture/trace_records.h"
#include "platform/file_util.h"

namespace fs = std::filesystem;

namespace {

std::string StoredVideoPath(const std::string& videoPath, const std::string& projectFolder) {
    if (videoPath.empty()) return videoPath;
    std::error_code ec;
    const fs::path video = fs::weakly_canonical(fs::path(videoPath), ec);
    if (ec) return videoPath;
    const fs::path folder = fs::weakly_canonical(fs::path(projectFolder.empty() ? "." : projectFolder), ec);
    if (ec) return videoPath;
    std::string prefix = folder.string();
    if (prefix.empty() || prefix.back() != '/') prefix.push_back('/');
    const std::string full = video.string();
    if (full.size() > prefix.size() && full.compare(0, prefix.size(), prefix) == 0)
        return full.substr(prefix.size());
    return videoPath;
}

void WriteTrackLayout(JsonWriter& w, const Project& p) {
    JsonWriteKey(w, "trackLayout");
    JsonBeginObject(w);
    JsonWriteBool(w, "budgetMode", p.budgetMode);
    static const char* const kGroupKeys[3] = {"group0", "group1", "group2"};
    for (int g = 0; g < 3; ++g) {
        const MixGroup& group = p.groups[g];
        JsonWriteKey(w, kGroupKeys[g]);
        JsonBeginObject(w);
        JsonWriteStringMember(w, "name", TextFieldView(group.name));
        JsonWriteInt(w, "trackCount", group.trackCount);
        JsonWriteBool(w, "stereo", group.stereo);
        JsonWriteNumber(w, "targetLUFS", group.targetLUFS);
        JsonEndObject(w);
    }
    JsonEndObject(w);
}

// Every file id the document refers to at its top level (bounce sources are
// not visited), ordered by bytes and once each.
std::set<std::string> CollectFileIds(const Project& p) {
    std::set<std::string> ids;
    auto add = [&ids](const std::string& id) {
        if (!id.empty()) ids.insert(id);
    };
    for (const RenderResult& r : p.results) {
        add(r.fileId);
        add(r.alloyMid.fileId);
        add(r.alloyHigh.fileId);
        add(r.alloyEnv.fileId);
    }
    for (const Event& e : p.events) {
        add(e.pinnedFileId);
        for (const std::string& id : e.pinnedFileIds) add(id);
    }
    for (const std::string& id : p.bannedFileIds) add(id);
    return ids;
}

void WriteFileRefs(JsonWriter& w, const std::set<std::string>& ids, const CollectedAudioMap& collected) {
    FileRegistry& registry = FileRegistry::Instance();
    JsonWriteObjectList(w, "fileRefs", ids, [&](const std::string& id) {
        FileRef ref;
        registry.GetFileRef(id, ref);  // an unknown id keeps an empty path
        // The id as the document uses it: the registry may know it as an alias
        // of another id, and every reference must still find its own entry.
        JsonWriteStringMember(w, "id", id);
        if (ref.hash != 0) JsonWriteStringMember(w, "hash", U64ToHex(ref.hash));
        if (ref.size != 0) JsonWriteStringMember(w, "size", std::to_string(ref.size));
        JsonWriteStringMember(w, "path", LookupCollectedPath(collected, ref.path));
    });
}

void WriteUserShapes(JsonWriter& w, const std::vector<UserShape>& shapes) {
    JsonWriteObjectList(w, "userShapes", shapes, [&](const UserShape& s) {
        JsonWriteStringMember(w, "name", TextFieldView(s.name));
        JsonWriteStringMember(w, "keywords", TextFieldView(s.keywords));
        JsonWriteNumber(w, "defaultDuration", s.defaultDuration);
        JsonWriteNumber(w, "spread", s.spread);
        JsonWriteNumber(w, "weightCenter", s.weightCenter);
        JsonWriteNumber(w, "intensityScale", s.intensityScale);
        JsonWriteNumber(w, "weightOffset", s.weightOffset);
        JsonWriteNumber(w, "syncOffset", s.syncOffset);
        JsonWriteCurve(w, "weight", s.weight);
        JsonWriteCurve(w, "intensity", s.intensity);
    });
}

void WriteScenes(JsonWriter& w, const std::vector<Scene>& scenes) {
    JsonWriteObjectList(w, "scenes", scenes, [&](const Scene& s) {
        JsonWriteStringMember(w, "name", TextFieldView(s.name));
        JsonWriteNumber(w, "inTime", s.inTime);
        JsonWriteNumber(w, "outTime", s.outTime);
        JsonWriteStringMember(w, "keywords", TextFieldView(s.keywords));
    });
}

void WriteReverb(JsonWriter& w, const ReverbParams& r) {
    JsonWriteKey(w, "reverb");
    JsonBeginObject(w);
    JsonWriteBool(w, "enabled", r.enabled != 0);
    JsonWriteNumber(w, "size", r.size);
    JsonWriteNumber(w, "decay", r.decay);
    JsonWriteNumber(w, "damping", r.damping);
    JsonWriteNumber(w, "preDelay", r.preDelay);
    JsonWriteNumber(w, "diffusion", r.diffusion);
    JsonWriteNumber(w, "modulation", r.modulation);
    const float sends[3] = {r.groupSends[0].load(), r.groupSends[1].load(), r.groupSends[2].load()};
    JsonWriteNumberList(w, "groupSends", sends, 3);
    JsonEndObject(w);
}

void WriteSuggestion(JsonWriter& w, const SuggestedEvent& s) {
    JsonBeginObject(w);
    JsonWriteNumber(w, "time", s.time);
    JsonWriteInt(w, "type", s.type);
    JsonWriteNumber(w, "confidence", s.confidence);
    JsonWriteInt(w, "tier", s.tier);
    JsonWriteNumber(w, "suggestedDuration", s.suggestedDuration);
    JsonWriteInt(w, "suggestedShape", s.suggestedShape);
    JsonWriteNumber(w, "intensity", s.intensity);
    JsonWriteNumber(w, "suggestedGain", s.suggestedGain);
    JsonWriteNumber(w, "suggestedSyncOffset", s.suggestedSyncOffset);
    JsonWriteNumber(w, "suggestedWeightCenter", s.suggestedWeightCenter);
    JsonWriteNumber(w, "suggestedSpread", s.suggestedSpread);
    if (s.hasIntensityCurve)
        JsonWriteNumberList(w, "intensityCurve", s.intensityCurve.data(), s.intensityCurve.size());
    if (s.keywords[0] != '\0') JsonWriteStringMember(w, "keywords", TextFieldView(s.keywords));
    if (s.presetName[0] != '\0') JsonWriteStringMember(w, "presetName", TextFieldView(s.presetName));
    JsonWriteBool(w, "accepted", s.accepted);
    JsonWriteInt(w, "peelLayer", s.peelLayer);
    JsonEndObject(w);
}

constexpr int32_t kTraceFrameStride = 11;

void WriteOptical(JsonWriter& w, const OpticalTrace& t, float opticalDetail) {
    JsonWriteKey(w, "optical");
    JsonBeginObject(w);
    JsonWriteNumber(w, "duration", t.duration);
    JsonWriteNumber(w, "fps", t.fps);
    JsonWriteInt(w, "numFrames", t.numFrames);
    JsonWriteNumber(w, "maxCompositeEnergy", t.maxCompositeEnergy);
    JsonWriteNumber(w, "opticalDetail", opticalDetail);
    JsonWriteInt(w, "frameStride", kTraceFrameStride);
    std::vector<std::string> rows;
    rows.reserve(t.frames.size());
    for (const TraceFrame& f : t.frames) {
        const float values[kTraceFrameStride] = {f.time,        f.luma,       f.lumaDelta,
                                                 f.motion,      f.histDelta,  f.warmth,
                                                 f.saturation,  f.onsetStrength, f.motionSmooth,
                                                 f.composite,   f.threshold};
        std::string row;
        for (int i = 0; i < kTraceFrameStride; ++i) {
            if (i) row.push_back(',');
            AppendJsonCurveNumber(row, values[i]);
        }
        rows.push_back(std::move(row));
    }
    JsonWriteRowList(w, "frames", rows);
    JsonWriteKey(w, "events");
    JsonBeginArray(w);
    for (const SuggestedEvent& s : t.suggestions) WriteSuggestion(w, s);
    JsonEndArray(w);
    JsonEndObject(w);
}

}  // namespace

// ---------------------------------------------------------------------------
// BuildProjectJson
// ---------------------------------------------------------------------------

std::string BuildProjectJson(const ProjectSaveContext& ctx, const CollectedAudioMap& collected,
                             const std::string& projectFolder) {
    const Project& p = *ctx.project;
    JsonWriter w;
    // Curves dominate: about 1.5 KB per curve, three per event.
    w.out.reserve(4096 + p.events.size() * 6144 + p.results.size() * 1024);
    w.out.push_back('{');
    w.level = 1;
    w.pending = false;

    JsonWriteStringMember(w, "format", "Tessaloom");
    JsonWriteInt(w, "version", kProjectFileVersion);
    JsonWriteInt(w, "minReaderVersion", kProjectMinReaderVersion);
    JsonWriteStringMember(w, "savedBy", kProgramVersion);
    if (!ctx.backupOf.empty()) JsonWriteStringMember(w, "backupOf", ctx.backupOf);
    JsonWriteStringMember(w, "videoPath", StoredVideoPath(ctx.videoPath, projectFolder));
    JsonWriteNumber(w, "videoStartTime", ctx.videoStartTime);
    JsonWriteNumber(w, "totalDuration", p.totalDuration);
    JsonWriteNumber(w, "fps", p.fps);
    JsonWriteInt(w, "projectSampleRate", ctx.projectSampleRate);
    JsonWriteNumber(w, "startTC", p.startTC);
    JsonWriteNumber(w, "masterGain", ctx.gains[0]);
    JsonWriteNumber(w, "refGain", ctx.gains[1]);
    JsonWriteNumber(w, "groupGain0", ctx.gains[2]);
    JsonWriteNumber(w, "groupGain1", ctx.gains[3]);
    JsonWriteNumber(w, "groupGain2", ctx.gains[4]);
    if (!ctx.projectDescription.empty())
        JsonWriteStringMember(w, "projectDescription", ctx.projectDescription);
    JsonWriteNumber(w, "maxEventDuration", p.maxEventDuration);
    JsonWriteInt(w, "scaleType", p.scaleType);
    JsonWriteInt(w, "scaleRoot", p.scaleRoot);
    JsonWriteInt(w, "pitchShiftProb", p.pitchShiftProb);
    JsonWriteInt(w, "freqShiftIntensity", p.freqShiftIntensity);
    JsonWriteInt(w, "reverseProb", p.reverseProb);
    JsonWriteBool(w, "normalizeLUFS", p.normalizeLUFS);
    JsonWriteInt(w, "alloyAlgorithm", p.alloyAlgorithm);
    JsonWriteNumber(w, "alloyTransferDepth", p.alloyTransferDepth);
    JsonWriteNumber(w, "alloyAttackGraft", p.alloyAttackGraft);
    JsonWriteNumber(w, "alloyMicroPitch", p.alloyMicroPitch);
    JsonWriteInt(w, "alloyFilterBands", p.alloyFilterBands);
    JsonWriteFlatStringList(w, "libraryPaths", ctx.libraryPaths);
    WriteTrackLayout(w, p);
    JsonWriteFlatStringList(w, "bannedFiles", p.bannedFiles);
    if (!p.bannedFileIds.empty()) JsonWriteFlatStringList(w, "bannedFileIds", p.bannedFileIds);
    const std::set<std::string> ids = CollectFileIds(p);
    if (!ids.empty()) WriteFileRefs(w, ids, collected);
    if (!ctx.linkedGroups.empty())
        JsonWriteFlatStringList(w, "linkedGroups",
                                std::vector<std::string>(ctx.linkedGroups.begin(), ctx.linkedGroups.end()));
    WriteUserShapes(w, p.userShapes);

    JsonWriteObjectList(w, "events", p.events, [&](const Event& e) { WriteEventJson(w, e, collected); });
    JsonWriteObjectList(w, "results", p.results, [&](const RenderResult& r) { WriteResultJson(w, r, collected); });

    JsonWriteBool(w, "exportWithHandles", ctx.exportWithHandles);
    JsonWriteNumber(w, "handleDuration", ctx.exportSettings.handleDuration);
    JsonWriteBool(w, "handleFullSource", ctx.exportSettings.handleFullSource);
    JsonWriteNumber(w, "fadeInDuration", ctx.exportSettings.fadeInDuration);
    JsonWriteNumber(w, "fadeOutDuration", ctx.exportSettings.fadeOutDuration);
    JsonWriteBool(w, "snapToFrames", ctx.snapToFrames);
    JsonWriteBool(w, "exportAAFMarkers", ctx.exportSettings.exportAAFMarkers);
    JsonWriteBool(w, "exportAAFVolAuto", ctx.exportSettings.exportAAFVolAuto);
    JsonWriteBool(w, "exportFillVirtual", ctx.exportFillVirtual);
    JsonWriteBool(w, "exportFormatAAF", ctx.exportSettings.exportFormatAAF);
    JsonWriteBool(w, "exportFormatWAV", ctx.exportSettings.exportFormatWAV);
    JsonWriteBool(w, "exportWavMixdown", ctx.exportSettings.exportWavMixdown);
    JsonWriteBool(w, "exportWavStems", ctx.exportSettings.exportWavStems);
    JsonWriteBool(w, "exportWavTracks", ctx.exportSettings.exportWavTracks);
    JsonWriteBool(w, "exportWavClips", ctx.exportSettings.exportWavClips);
    JsonWriteBool(w, "exportReverbStem", ctx.exportSettings.exportReverbStem);
    JsonWriteBool(w, "exportAAFSourceChannels", ctx.exportSettings.exportAAFSourceChannels);
    JsonWriteNumber(w, "workAreaIn", ctx.workAreaIn);
    JsonWriteNumber(w, "workAreaOut", ctx.workAreaOut);
    WriteScenes(w, p.scenes);
    WriteReverb(w, ctx.reverb);
    if (ctx.optical && ctx.optical->present && !ctx.optical->frames.empty())
        WriteOptical(w, *ctx.optical, ctx.opticalDetail);

    w.out.append("\n}");
    return std::move(w.out);
}

// ---------------------------------------------------------------------------
// WriteProjectFile
// ---------------------------------------------------------------------------

bool WriteProjectFile(const std::string& path, const ProjectSaveContext& ctx, ProjectWriteReport* report) {
    ProjectWriteReport local;
    ProjectWriteReport& out = report ? *report : local;
    out = ProjectWriteReport{};
    if (path.empty() || !ctx.project) {
        out.error = EINVAL;
        return false;
    }
    const std::string parent = fs::path(path).parent_path().string();
    const std::string folder = parent.empty() ? "." : parent;
    const CollectedAudioMap collected =
        ctx.collectAudio ? CollectProjectAudio(*ctx.project, folder, ctx.progress, ctx.fileFault) : CollectedAudioMap{};
    if (collected.cancelled) {
        out.cancelled = true;
        std::printf("[Project] Not saved (stopped while collecting): %s\n", path.c_str());
        return false;
    }
    out.soundsNotCopied = static_cast<int>(collected.failures.size());
    out.notSound = static_cast<int>(collected.leftOut.size());
    if (!collected.failures.empty()) out.copyError = collected.failures.front().error;
    const std::string text = BuildProjectJson(ctx, collected, folder);
    out.textHash = Fnv1a64(text);

    FileReplaceFailure failure;
    if (!WriteTextFileAtomic(path, text, &failure, ctx.fileFault)) {
        out.error = failure.error;
        // A failed write says nothing here: the caller shows "Save failed".
        if (failure.step == kReplaceMove)
            std::printf("[Project] Rename failed: %s\n", std::strerror(failure.error));
        else if (failure.step == kReplaceCommit)
            std::printf("[Project] Could not commit %s to disk: %s\n", path.c_str(), std::strerror(failure.error));
        return false;
    }
    std::printf("[Project] Saved %s — %d audio files collected\n", path.c_str(), collected.inFolder);
    return true;
}
