// clip_bed_events.cpp — Clip and Bed events: results straight from the designer's files.
//
// Index
//   File helpers          counted opening through libsndfile, file name part
//   Clip intensity gains  the event's intensity (and trace gain) over the clip
//   RebuildClipEvent / RebuildClipResult / MakeClipResult / TakeOverClipLayer
//   RebuildBedEvent / RebuildBedResults   resolve, remove stale, create / update, reorder
//   RebuildBedEvents      every Bed, the results scanned once, tracks assigned once
//   BedsHoldTheirLayers   the same questions asked, nothing changed
//   ApplyProbedWeights / ProbedWeightsApplied
#include "render/clip_bed_events.h"

#include <sndfile.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/file_registry.h"
#include "library/sound_file_open.h"
#include "render/track_assignment.h"

namespace {

// ---- File helpers -----------------------------------------------------------

std::atomic<int64_t> gFileOpens{0};

struct SoundFileFacts {
    bool opened = false;
    int channels = 0;
    double seconds = 0;
};

SoundFileFacts ProbeSoundFile(const std::string& path) {
    SoundFileFacts facts;
    gFileOpens.fetch_add(1, std::memory_order_relaxed);
    SF_INFO info{};
    SNDFILE* file = OpenSoundFileForReading(path, &info);
    if (!file) return facts;
    facts.opened = true;
    facts.channels = info.channels;
    facts.seconds = info.samplerate > 0 ? static_cast<double>(info.frames) / info.samplerate : 0.0;
    sf_close(file);
    return facts;
}

// The part after the last "\" or "/", extension kept.
std::string FileNamePart(const std::string& path) {
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Linear reading of a 256-point curve at u in 0..255.
float CurveAt(const Curve256& curve, float u) {
    int i = std::clamp(static_cast<int>(u), 0, 254);
    float f = u - static_cast<float>(i);
    return curve[i] + (curve[i + 1] - curve[i]) * f;
}

// ---- Clip intensity gains -------------------------------------------------------

void FillClipIntensity(const Event& ev, RenderResult& r) {
    float span = std::max(ev.duration, 0.001f);
    for (int k = 0; k < 256; ++k) {
        float t = (static_cast<float>(k) / 255.0f * r.duration) / span;
        float u = std::clamp(t, 0.0f, 1.0f) * 255.0f;
        if (!(u == u)) u = 0.0f;
        float v = CurveAt(ev.intensity, u) * ev.intensityScale;
        if (ev.hasTraceGain) v *= CurveAt(ev.traceGain, u);
        r.intGain[k] = std::clamp(v, 0.0f, 1.0f);
    }
    r.hasIntGain = true;
}

// The mute reasons a rebuilt record inherits; a bare `muted` without a reason
// is the designer's.
uint8_t InheritedMuteReasons(const RenderResult& old) {
    if (old.muted && old.muteReasons == 0) return kMuteUser;
    return old.muteReasons;
}

bool IsValidEvent(const Project& project, int eventIndex, int shape) {
    return eventIndex >= 0 && eventIndex < static_cast<int>(project.events.size()) &&
           project.events[eventIndex].shape == shape;
}

}  // namespace

// ---- RebuildClipEvent -------------------------------------------------------------

bool RebuildClipEvent(Project& project, int eventIndex) {
    if (!RebuildClipResult(project, eventIndex)) return false;
    AssignTracks(project);
    project.resultsRevision += 1;
    project.rendered = true;
    return true;
}

bool RebuildClipResult(Project& project, int eventIndex) {
    RenderResult r;
    if (!MakeClipResult(project, eventIndex, r)) return false;
    for (RenderResult& old : project.results) {
        if (old.eventIdx != eventIndex) continue;
        TakeOverClipLayer(old, r);
        old = std::move(r);
        return true;
    }
    project.results.push_back(std::move(r));
    return true;
}

bool MakeClipResult(Project& project, int eventIndex, RenderResult& r) {
    if (!IsValidEvent(project, eventIndex, kShapeClip)) return false;
    Event& ev = project.events[eventIndex];
    if (ev.pinnedFile[0] == '\0') return false;

    if (!ev.pinnedFileId.empty()) {
        std::string resolved = FileRegistry::Instance().ResolveOrAdd(ev.pinnedFileId, ev.pinnedFile);
        if (!resolved.empty() && resolved != ev.pinnedFile) {
            if (resolved.size() < sizeof(ev.pinnedFile)) {
                CopyTextField(ev.pinnedFile, resolved);
            } else {
                // A cut path would name another file; keep the stored one.
                std::printf("[Render] Clip path too long to store, keeping the old one: %s\n",
                            resolved.c_str());
            }
        }
    }

    const std::string path = ev.pinnedFile;
    const float startRef = ev.time - ev.syncOffset;
    r = RenderResult();
    r.eventIdx = eventIndex;
    r.track = 0;
    r.group = EventMixGroup(ev);
    r.procMode = 2;
    r.weight = ev.clipWeight >= 0 ? ev.clipWeight : 0.5f;
    r.name = FileNamePart(path);
    r.filepath = path;
    r.fileId = ev.pinnedFileId;

    SoundFileFacts facts = ProbeSoundFile(path);
    r.startTime = startRef;
    if (facts.opened) {
        r.stereo = ev.stereo || facts.channels >= 2;
        r.sourceOffset = ev.clipSourceOffset;
        float len = std::max(static_cast<float>(facts.seconds) - ev.clipSourceOffset, 0.0f);
        if (ev.clipSourceDuration > 0) len = std::min(len, ev.clipSourceDuration);
        len = std::min(len, std::max(project.totalDuration - startRef, 0.01f));
        r.duration = r.sourceDuration = len;
        r.fadeIn = ev.clipFadeIn >= 0 ? ev.clipFadeIn : std::min(0.02f * len, 0.01f);
        r.fadeOut = ev.clipFadeOut >= 0 ? ev.clipFadeOut : std::min(0.05f * len, 0.05f);
    } else {
        r.duration = r.sourceDuration = ev.duration;
        r.sourceOffset = 0;
        r.fadeIn = 0.01f;
        r.fadeOut = 0.05f;
        r.placeholder = true;
        r.name = "[Missing] " + r.name;
    }
    FillClipIntensity(ev, r);
    return true;
}

void TakeOverClipLayer(const RenderResult& old, RenderResult& fresh) {
    fresh.userVolume = old.userVolume;
    fresh.layerGain = old.layerGain;
    fresh.muteReasons = InheritedMuteReasons(old);
    fresh.muted = fresh.muteReasons != 0;
}

// ---- RebuildBedEvent ----------------------------------------------------------------

namespace {

bool MatchesLayer(const RenderResult& r, const Event& ev, size_t layer) {
    const std::string& id = ev.pinnedFileIds[layer];
    if (!r.fileId.empty() && r.fileId == id) return true;
    return r.filepath == ev.pinnedFiles[layer];
}

// Per result of `own`, whether it is some layer's first match: the result
// that plays that layer's file. Every other result is either stale (no layer
// names it) or a second result of a file a first one already plays (two
// layers naming one sound, or a byte copy the registry knows as that sound):
// one result per distinct file, so neither has a place.
std::vector<uint8_t> FirstMatches(const std::vector<RenderResult>& results, const Event& ev,
                                  const std::vector<int>& own) {
    std::vector<uint8_t> first(own.size(), 0);
    for (size_t j = 0; j < ev.pinnedFiles.size(); ++j) {
        for (size_t k = 0; k < own.size(); ++k) {
            if (MatchesLayer(results[static_cast<size_t>(own[k])], ev, j)) {
                first[k] = 1;
                break;
            }
        }
    }
    return first;
}

}  // namespace

namespace {

// The body of RebuildBedEvent, given the event's results (indices in results
// order), so that a caller checking every Bed scans the results only once.
// The track assignment is the caller's: the results change here, tracks and
// mutes only there.
// `own` is left as the event's results afterwards; `moved` is raised when
// results were created or erased (the indices of other events' results may
// have moved then), and left alone otherwise.
bool RebuildBedWithResults(Project& project, int eventIndex, std::vector<int>& own, bool& moved) {
    Event& ev = project.events[eventIndex];
    std::vector<RenderResult>& results = project.results;

    const size_t layers = ev.pinnedFiles.size();
    ev.pinnedFileIds.resize(layers);
    ev.bedLayerLoop.resize(layers, 0);
    ev.bedLayerWeight.resize(layers, -1.0f);
    ev.hasPinnedFiles = layers > 0;

    FileRegistry& registry = FileRegistry::Instance();
    for (size_t j = 0; j < layers; ++j) {
        if (ev.pinnedFileIds[j].empty()) continue;
        std::string resolved = registry.ResolveOrAdd(ev.pinnedFileIds[j], ev.pinnedFiles[j]);
        if (!resolved.empty()) ev.pinnedFiles[j] = std::move(resolved);
    }

    const float frame = project.fps > 0 ? 1.0f / project.fps : 0.04f;
    const float xf = frame * (ev.sceneLink >= 0 ? static_cast<float>(std::max(ev.sceneCrossfade, 0)) : 1.0f);
    const float layerDur = std::max(ev.duration + xf, 0.05f);
    const float startRef = ev.time - ev.syncOffset;
    bool changed = false;

    // Results that are no layer's first match (stale ones, and second
    // results of one file) are erased walking back from the last. What stays
    // is one result per distinct file, which the reorder below relies on:
    // it moves the first matches into the slots of `own`, one for one.
    const std::vector<uint8_t> first = FirstMatches(results, ev, own);
    for (size_t k = own.size(); k-- > 0;) {
        if (first[k]) continue;
        results.erase(results.begin() + own[k]);
        for (size_t later = k + 1; later < own.size(); ++later) own[later] -= 1;
        own.erase(own.begin() + static_cast<std::ptrdiff_t>(k));
        changed = moved = true;
    }

    // One result per distinct file. When two layers name the same file the
    // first one owns the result; the later one must not rewrite its loop flag
    // or weight, or an unchanged Bed would report a change on every call.
    std::vector<int> layerMatch;  // per layer, the index of its result (repeats kept)
    std::vector<int> layerOrder;  // the owned results, in layer order, each once
    for (size_t j = 0; j < layers; ++j) {
        int match = -1;
        for (int i : own) {
            if (MatchesLayer(results[i], ev, j)) {
                match = i;
                break;
            }
        }
        if (match < 0) {
            RenderResult r;
            r.eventIdx = eventIndex;
            r.track = static_cast<int32_t>(j);
            r.group = EventMixGroup(ev);
            r.procMode = 1;
            r.weight = ev.bedLayerWeight[j] >= 0 ? ev.bedLayerWeight[j] : 0.5f;
            r.filepath = ev.pinnedFiles[j];
            r.fileId = ev.pinnedFileIds[j];
            r.name = FileNamePart(r.filepath);
            SoundFileFacts facts = ProbeSoundFile(r.filepath);
            r.stereo = facts.opened && facts.channels >= 2;
            results.push_back(std::move(r));
            match = static_cast<int>(results.size()) - 1;
            own.push_back(match);
            changed = moved = true;
        }
        layerMatch.push_back(match);
        if (std::find(layerOrder.begin(), layerOrder.end(), match) != layerOrder.end()) continue;
        layerOrder.push_back(match);

        RenderResult& r = results[match];
        bool loop = ev.bedLayerLoop[j] != 0;
        if (!(std::fabs(r.duration - layerDur) <= 0.001f) || r.fillLoop != loop) {
            r.fillChunks.clear();  // the next voice build resynthesises
            r.duration = layerDur;
            r.fillLoop = loop;
            changed = true;
        }
        if (!(std::fabs(r.startTime - startRef) <= 0.0001f)) {
            r.startTime = startRef;
            changed = true;
        }
        // The weight sets the layer's gain and pan, the fades its voice's
        // fades: a new value is a change like any other, or nothing would
        // bring the voices up to date when a probed weight arrives.
        const float weight = ev.bedLayerWeight[j] >= 0 ? ev.bedLayerWeight[j] : 0.5f;
        if (r.weight != weight || r.fadeIn != xf || r.fadeOut != xf) {
            r.weight = weight;
            r.fadeIn = r.fadeOut = xf;
            changed = true;
        }
    }

    // Keep the event's results in layer order, in the slots they already use.
    // The comparison is with one entry per layer: when two layers share a
    // file the counts differ and the results keep their order, since there is
    // no one layer order for a result that two layers name.
    if (own.size() == layerMatch.size() && own != layerMatch) {
        std::vector<RenderResult> ordered;
        ordered.reserve(layerOrder.size());
        for (int i : layerOrder) ordered.push_back(results[i]);
        for (size_t k = 0; k < own.size(); ++k) results[own[k]] = std::move(ordered[k]);
        changed = true;
    }

    if (changed) {
        project.resultsRevision += 1;
        project.rendered = !results.empty();
    }
    return changed;
}

std::vector<int> ResultsOfEvent(const Project& project, int eventIndex) {
    std::vector<int> own;
    for (size_t i = 0; i < project.results.size(); ++i) {
        if (project.results[i].eventIdx == eventIndex) own.push_back(static_cast<int>(i));
    }
    return own;
}

}  // namespace

std::vector<std::vector<int>> BedResults(const Project& project) {
    std::vector<std::vector<int>> own(project.events.size());
    for (size_t i = 0; i < project.results.size(); ++i) {
        const int32_t e = project.results[i].eventIdx;
        if (e >= 0 && static_cast<size_t>(e) < own.size() && project.events[static_cast<size_t>(e)].shape == kShapeBed)
            own[static_cast<size_t>(e)].push_back(static_cast<int>(i));
    }
    return own;
}

bool RebuildBedEvent(Project& project, int eventIndex) {
    if (!RebuildBedResults(project, eventIndex)) return false;
    AssignTracks(project);
    return true;
}

bool RebuildBedResults(Project& project, int eventIndex) {
    if (!IsValidEvent(project, eventIndex, kShapeBed)) return false;
    // The event's results in results order: one scan of the project, the only
    // one an unchanged Bed costs.
    std::vector<int> own = ResultsOfEvent(project, eventIndex);
    bool moved = false;
    return RebuildBedWithResults(project, eventIndex, own, moved);
}

namespace {

// RebuildBedEvents over the Beds `listed` (ascending; null: every Bed),
// starting from `own` (BedResults as it stands) and leaving it so.
bool RebuildBeds(Project& project, const std::vector<int>* listed, std::vector<std::vector<int>>& own,
                 const std::atomic<bool>* cancel, BedChanges* changes) {
    bool changed = false;
    const uint32_t revisionBefore = project.resultsRevision;
    const size_t countBefore = project.results.size();
    std::vector<LayerSpan> before;  // the changed Beds' layers as the last assignment saw them
    std::vector<int> changedBeds;
    const size_t visits = listed ? listed->size() : project.events.size();
    for (size_t n = 0; n < visits; ++n) {
        if (cancel && cancel->load()) break;
        const size_t e = listed ? static_cast<size_t>((*listed)[n]) : n;
        if (e >= project.events.size() || project.events[e].shape != kShapeBed) continue;
        const size_t spansBefore = before.size();
        for (int i : own[e]) {
            const RenderResult& r = project.results[static_cast<size_t>(i)];
            before.push_back({i, r.group, r.startTime, r.startTime + r.duration});
        }
        bool moved = false;
        if (!RebuildBedWithResults(project, static_cast<int>(e), own[e], moved)) {
            before.resize(spansBefore);
            continue;
        }
        changed = true;
        changedBeds.push_back(static_cast<int>(e));
        // Results were added or erased: the indices of the other Beds are
        // found again. A Bed that only reordered its results did so in the
        // slots it already had, and every index still holds.
        if (moved) own = BedResults(project);
    }
    // Once for all Beds: the rebuilds read no track or mute, so the last
    // assignment is all that ever counted. Layers that only changed span
    // are repacked from the first of them on; with layers added or removed
    // every index after them moved, and every track is assigned again.
    TrackRepack tracks;
    if (changed && project.results.size() == countBefore) {
        tracks = RepackChangedSpans(project, revisionBefore, before);
    } else if (changed) {
        AssignTracks(project);
        tracks.whole = true;
        tracks.visited = static_cast<int64_t>(project.results.size());
    }
    if (changes) {
        changes->events = changedBeds;
        changes->results.clear();
        for (int e : changedBeds) changes->results.insert(changes->results.end(), own[static_cast<size_t>(e)].begin(),
                                                          own[static_cast<size_t>(e)].end());
        std::sort(changes->results.begin(), changes->results.end());
        changes->tracks = std::move(tracks);
    }
    return changed;
}

}  // namespace

bool RebuildBedEvents(Project& project, const std::atomic<bool>* cancel, BedChanges* changes) {
    std::vector<std::vector<int>> own = BedResults(project);
    return RebuildBeds(project, nullptr, own, cancel, changes);
}

bool RebuildListedBedEvents(Project& project, const std::vector<int>& beds, std::vector<std::vector<int>>& own,
                            const std::atomic<bool>* cancel, BedChanges* changes) {
    return RebuildBeds(project, &beds, own, cancel, changes);
}

// ---- BedsHoldTheirLayers ----------------------------------------------------------------

namespace {

// RebuildBedWithResults's questions, in its order, without its changes.
bool BedHoldsItsLayers(const Project& project, int eventIndex, const std::vector<int>& own) {
    const Event& ev = project.events[size_t(eventIndex)];
    const std::vector<RenderResult>& results = project.results;
    const size_t layers = ev.pinnedFiles.size();
    if (ev.pinnedFileIds.size() != layers || ev.bedLayerLoop.size() != layers ||
        ev.bedLayerWeight.size() != layers || ev.hasPinnedFiles != (layers > 0))
        return false;
    for (uint8_t first : FirstMatches(results, ev, own))
        if (!first) return false;

    const float frame = project.fps > 0 ? 1.0f / project.fps : 0.04f;
    const float xf = frame * (ev.sceneLink >= 0 ? static_cast<float>(std::max(ev.sceneCrossfade, 0)) : 1.0f);
    const float layerDur = std::max(ev.duration + xf, 0.05f);
    const float startRef = ev.time - ev.syncOffset;
    std::vector<int> layerMatch, layerOrder;
    for (size_t j = 0; j < layers; ++j) {
        int match = -1;
        for (int i : own) {
            if (MatchesLayer(results[size_t(i)], ev, j)) {
                match = i;
                break;
            }
        }
        if (match < 0) return false;
        layerMatch.push_back(match);
        if (std::find(layerOrder.begin(), layerOrder.end(), match) != layerOrder.end()) continue;
        layerOrder.push_back(match);
        const RenderResult& r = results[size_t(match)];
        const float weight = ev.bedLayerWeight[j] >= 0 ? ev.bedLayerWeight[j] : 0.5f;
        if (!(std::fabs(r.duration - layerDur) <= 0.001f) || r.fillLoop != (ev.bedLayerLoop[j] != 0) ||
            !(std::fabs(r.startTime - startRef) <= 0.0001f) || r.weight != weight || r.fadeIn != xf || r.fadeOut != xf)
            return false;
    }
    return !(own.size() == layerMatch.size() && own != layerMatch);
}

}  // namespace

bool BedsHoldTheirLayers(const Project& project) {
    const std::vector<std::vector<int>> own = BedResults(project);
    for (size_t e = 0; e < project.events.size(); ++e) {
        if (project.events[e].shape != kShapeBed) continue;
        if (!BedHoldsItsLayers(project, static_cast<int>(e), own[e])) return false;
    }
    return true;
}

bool ListedBedsHoldTheirLayers(const Project& project, const std::vector<int>& beds,
                               const std::vector<std::vector<int>>& own) {
    for (int e : beds) {
        if (e < 0 || static_cast<size_t>(e) >= project.events.size() || static_cast<size_t>(e) >= own.size() ||
            project.events[static_cast<size_t>(e)].shape != kShapeBed)
            return false;
        if (!BedHoldsItsLayers(project, e, own[static_cast<size_t>(e)])) return false;
    }
    return true;
}

// ---- ApplyProbedWeights -----------------------------------------------------------------

bool ApplyProbedWeights(Project& project) {
    const bool beds = RebuildBedEvents(project);
    const bool clips = GiveClipsTheirWeights(project);
    if (beds && !clips) project.resultsRevision += 1;
    return beds || clips;
}

bool GiveClipsTheirWeights(Project& project) {
    bool changed = false;
    // One pass over the results, each looking up its own event.
    for (RenderResult& r : project.results) {
        if (r.eventIdx < 0 || static_cast<size_t>(r.eventIdx) >= project.events.size()) continue;
        const Event& ev = project.events[static_cast<size_t>(r.eventIdx)];
        if (ev.shape != kShapeClip || ev.clipWeight < 0 || r.weight == ev.clipWeight) continue;
        r.weight = ev.clipWeight;
        changed = true;
    }
    if (changed) project.resultsRevision += 1;
    return changed;
}

int64_t ClipBedFileOpenCount() { return gFileOpens.load(std::memory_order_relaxed); }

bool ProbedWeightsApplied(const Project& project) {
    if (!BedsHoldTheirLayers(project)) return false;
    for (const RenderResult& r : project.results) {
        if (r.eventIdx < 0 || size_t(r.eventIdx) >= project.events.size()) continue;
        const Event& ev = project.events[size_t(r.eventIdx)];
        if (ev.shape == kShapeClip && ev.clipWeight >= 0 && r.weight != ev.clipWeight) return false;
    }
    return true;
}
