// bounce.cpp — the selected events mixed into one file that replaces them as a Clip.
//
// Index
//   Names                BounceNameStem, UniqueBounceFileName
//   RenderBounceWav      span, offline mix, limiter, file
//   BounceSelectionToClip
#include "operations/bounce.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <vector>

#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "document/text_util.h"
#include "export/bwf_writer.h"
#include "library/file_caches.h"
#include "library/file_identity.h"
#include "library/file_registry.h"
#include "operations/app_state.h"
#include "operations/document_indices.h"
#include "operations/event_edits.h"
#include "operations/event_placement.h"
#include "operations/recipe_lists.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "platform/file_names.h"
#include "platform/user_folders.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/engine_voices.h"
#include "playback/playing_gain.h"
#include "playback/transport.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_naming.h"
#include "render/clip_bed_events.h"
#include "render/clip_processing.h"
#include "render/track_assignment.h"

namespace {

constexpr const char* kBounceFallbackName = "Bounce";
constexpr size_t kFileNameMax = 255;   // bytes of one file name on the file systems we write to
constexpr size_t kWavSuffixBytes = 4;  // ".wav"

void BounceLog(const char* text, const std::string& detail) {
    std::printf("[Bounce] %s%s\n", text, detail.c_str());
    std::fflush(stdout);
}

}  // namespace

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

std::string BounceNameStem(std::string_view name, size_t maxBytes) {
    static constexpr std::string_view kRemoved = "/\\:*?\"<>|";
    std::string stem;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || kRemoved.find(c) != std::string_view::npos) continue;
        stem.push_back(c);
    }
    // A leading dot would hide the file (and "." or ".." name no file at all).
    const size_t firstKept = stem.find_first_not_of('.');
    stem.erase(0, firstKept == std::string::npos ? stem.size() : firstKept);
    // The name is made from the event's words, not typed for the file: ".."
    // inside it shrinks to "." rather than refusing the bounce.
    for (size_t at; (at = stem.find("..")) != std::string::npos;) stem.erase(at, 1);
    stem.resize(Utf8SafeCutLength(stem, maxBytes));
    while (!stem.empty() && (stem.back() == ' ' || stem.back() == '\t')) stem.pop_back();
    return FileNameProblem(stem).empty() ? stem : std::string(kBounceFallbackName);
}

namespace {

enum class PathState { Free, Taken, Unknown };

// Anything at the path, a dangling link included, takes the name.
PathState BouncePathState(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0) return PathState::Taken;
    return errno == ENOENT ? PathState::Free : PathState::Unknown;
}

// The longest stem (number included) whose file name fits and whose path
// fits a Clip's file field.
size_t BounceNameBudget(const std::string& folder) {
    const size_t field = sizeof(Event::pinnedFile) - 1;
    const size_t used = folder.size() + 1 + kWavSuffixBytes;
    const size_t byPath = used < field ? field - used : 0;
    return std::min(kFileNameMax - kWavSuffixBytes, byPath);
}

}  // namespace

std::string UniqueBounceFileName(const std::string& folder, const std::string& stem) {
    const size_t budget = BounceNameBudget(folder);
    const std::string base = stem.empty() ? std::string(kBounceFallbackName) : stem;
    for (int n = 1; n < INT_MAX; ++n) {
        std::string suffix;
        if (n > 1) {
            suffix.assign(1, ' ');
            suffix += std::to_string(n);
        }
        const size_t room = suffix.size() < budget ? Utf8SafeCutLength(base, budget - suffix.size()) : 0;
        if (room == 0) return std::string();  // not even one character of the stem fits
        const std::string name = base.substr(0, room) + suffix;
        switch (BouncePathState(folder + "/" + name + ".wav")) {
            case PathState::Free:
                return name;
            case PathState::Unknown:
                return std::string();
            case PathState::Taken:
                break;
        }
    }
    return std::string();
}

// ---------------------------------------------------------------------------
// RenderBounceWav
// ---------------------------------------------------------------------------

namespace {

bool Bounced(const std::set<int>& events, const PlaybackVoice& voice) {
    return events.count(voice.eventIndex) != 0;
}

int64_t PlayableFrames(const PlaybackVoice& voice) {
    return std::min<int64_t>(voice.sampleCount, int64_t(voice.left.size()));
}

// The span of the audible voices of `events`, and their mix over it.
bool MixBouncedVoices(const AudioEngine& engine, const std::set<int>& events, int rate, std::vector<float>& left,
                      std::vector<float>& right, double& first, int64_t& frames) {
    first = 0;
    double last = 0;
    bool any = false;
    for (const PlaybackVoice& v : engine.voices) {
        if (!Bounced(events, v) || v.muted.load() || PlayableFrames(v) < 1) continue;
        const double s = v.startTime, e = double(v.startTime) + v.length;
        if (!std::isfinite(s) || !std::isfinite(e)) continue;
        first = any ? std::min(first, s) : s;
        last = any ? std::max(last, e) : e;
        any = true;
    }
    if (!any || !(first < last)) return false;
    const double exact = std::ceil((last - first) * rate) + 1;
    if (!(exact >= 1) || exact > double(rate) * 3600.0) return false;
    frames = int64_t(exact);

    try {
        left.assign(size_t(frames), 0.0f);
        right.assign(size_t(frames), 0.0f);
    } catch (const std::bad_alloc&) {
        BounceLog("Not enough memory for the mix", std::string());
        return false;
    }
    for (size_t i = 0; i < engine.voices.size(); ++i) {
        const PlaybackVoice& v = engine.voices[i];
        if (!Bounced(events, v)) continue;
        const size_t group = size_t(PlayingGroup(v.group));
        MixClipWithFades(v, int(i), engine, left.data(), right.data(), frames, rate,
                         engine.groupGain[group].load(), first);
    }
    return true;
}

}  // namespace

std::string RenderBounceWav(AudioEngine& engine, const std::set<int>& events, const std::string& folder,
                            const std::string& name, float& start, float& duration) {
    const int rate = engine.sampleRate.load();
    if (rate < 1 || events.empty()) return std::string();
    std::vector<float> left, right;
    double first = 0;
    int64_t frames = 0;
    {
        // Nothing may move or release the voices while they are read unlocked.
        EngineVoicePin pin(engine);
        if (!MixBouncedVoices(engine, events, rate, left, right, first, frames)) return std::string();
    }
    ApplyPeakLimiter(PeakLimiterOf(engine), left.data(), right.data(), frames);

    const std::string path = folder + "/" + name + ".wav";
    if (!WriteBWFStereo(path, left.data(), right.data(), frames, rate, first, name.c_str())) {
        BounceLog("Could not write ", path);
        return std::string();
    }
    start = float(first);
    duration = float(double(frames) / rate);
    return path;
}

// ---------------------------------------------------------------------------
// BounceSelectionToClip
// ---------------------------------------------------------------------------

namespace {

// The bounced events' evicted voices get their samples back; other voices
// stay as the streaming window left them.
void PrepareBouncedVoices(AudioEngine& engine, const std::set<int>& events, const std::vector<RenderResult>& results) {
    const int rate = engine.sampleRate.load();
    for (size_t v = 0; v < engine.voices.size(); ++v) {
        const PlaybackVoice& voice = engine.voices[v];
        const int32_t r = voice.resultIndex;
        if (voice.evicted && Bounced(events, voice) && r >= 0 && size_t(r) < results.size())
            PrepareVoice(engine, int(v), results[size_t(r)], rate);
    }
}

// The name the bounce file is made from: the event's recipe-based name, or
// its shape's.
std::string BounceNameOf(const Project& project, const Event& event) {
    char autoName[64] = {};
    AutoNameEvent(event, gRecipes, autoName, sizeof(autoName));
    return autoName[0] ? std::string(autoName) : EventShapeName(project, event);
}

}  // namespace

int BounceSelectionToClip(const DocumentContext& ctx, const std::string& folder) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;

    std::set<int> bounced;
    for (int e : app.selectedEvents)
        if (ValidEvent(project, e)) bounced.insert(e);
    if (bounced.empty() || !project.rendered || EditRefused(ctx, "Bounce to Clip")) return -1;
    if (folder.empty()) return -1;

    PrepareBouncedVoices(engine, bounced, project.results);
    const std::string name =
        UniqueBounceFileName(folder, BounceNameStem(BounceNameOf(project, project.events[size_t(*bounced.begin())])));
    if (name.empty()) {
        BounceLog("No free file name in ", folder);
        return -1;
    }
    float start = 0, duration = 0;
    const std::string path = RenderBounceWav(engine, bounced, folder, name, start, duration);
    if (path.empty()) return -1;
    if (!PushUndoSnapshot(ctx)) return -1;

    std::vector<Event> sources;
    sources.reserve(bounced.size());
    for (int e : bounced) {
        sources.push_back(project.events[size_t(e)]);
        sources.back().time -= start;
    }

    const int oldCount = int(project.events.size());
    for (auto it = bounced.rbegin(); it != bounced.rend(); ++it) {
        DeleteEvent(ctx, *it);
        RemoveSelectionIndex(app, *it);
    }
    RefreshEventVoices(ctx, std::vector<int>(bounced.begin(), bounced.end()), oldCount);

    Event clip = OwnMaterialEvent(start, kShapeClip, duration, project.groups[1].stereo);
    clip.hasPinnedFiles = true;
    clip.clipFadeIn = 0;
    clip.clipFadeOut = 0;
    clip.bounceSource = std::move(sources);
    CopyTextField(clip.pinnedFile, path);  // fits: the name was sized for the field
    uint64_t hash = 0, size = 0;
    if (FingerprintFile(path, hash, size)) clip.pinnedFileId = FileRegistry::Instance().GetOrCreateFileId(path, hash, size).id;
    const int index = AppendDocumentEvents(engine, project.events, {clip});

    RebuildClipEvent(project, index);
    const int layer = FirstResultOf(project, index);
    if (layer >= 0) project.events[size_t(index)].duration = project.results[size_t(layer)].duration;
    GetWaveformPeaks(path.c_str());
    AssignTracks(project);
    SyncVoicesWithResults(ctx, false);
    SettlePlayhead(engine, ctx.currentTime);

    SelectEvent(app, index);
    app.scrollToSelection = true;
    app.deferredRebuild.store(true);
    app.modified = true;
    BounceLog("Bounced to ", path);
    return index;
}

int BounceSelectionToClip() { return BounceSelectionToClip(ProgramDocumentContext(), BouncesDir()); }
