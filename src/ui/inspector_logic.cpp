// inspector_logic.cpp — the inspector's rules as plain functions.
//
// Index
//   Maps and levels
//   Single-event controls
//   Keyword sessions and batch text
//   Recipes
//   Clips
//   Bed layers
//   Card texts and the header cache
#include "ui/inspector_logic.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/sound_analysis.h"
#include "library/sound_file_open.h"
#include "platform/file_names.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/event_voices.h"
#include "operations/recipe_lists.h"
#include "operations/recipe_preview.h"
#include "operations/transport_control.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_sync.h"
#include "picture/trace_records.h"
#include "picture/trace_sampling.h"
#include "playback/audio_engine.h"
#include "recipes/event_preset.h"
#include "recipes/recipe_file.h"
#include "render/clip_bed_events.h"
#include "render/track_assignment.h"
#include "ui/events_list_logic.h"

namespace {

bool ValidEvent(const Project& project, int event) { return event >= 0 && size_t(event) < project.events.size(); }

std::vector<int> ValidOnly(const Project& project, const std::vector<int>& events) {
    std::vector<int> out;
    for (int e : events)
        if (ValidEvent(project, e)) out.push_back(e);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Maps and levels
// ---------------------------------------------------------------------------

float GainToDb(float gain) {
    if (!(gain > 0.001f)) return kMinEventDb;
    return std::clamp(20.0f * std::log10(gain), kMinEventDb, 0.0f);
}

float DbToGain(float db) { return std::clamp(std::pow(10.0f, db / 20.0f), 0.0f, 1.0f); }

float PitchToSemitones(float pitchVariation) { return pitchVariation * 24.0f; }

float SemitonesToPitch(float semitones) { return std::clamp(semitones / 24.0f, 0.0f, 1.0f); }

void SetEventVolume(const DocumentContext& ctx, int event, float db) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return;
    const float gain = DbToGain(std::clamp(db, kMinEventDb, 0.0f));
    project.events[size_t(event)].gain = gain;
    std::vector<float> gains(project.events.size(), -1.0f);
    gains[size_t(event)] = gain;
    StoreEventGains(*ctx.app, *ctx.engine, gains);
}

float BatchMeanDb(const Project& project, const std::vector<int>& selected) {
    double sum = 0;
    int n = 0;
    for (int e : selected)
        if (ValidEvent(project, e)) {
            sum += project.events[size_t(e)].gain;
            ++n;
        }
    return n ? GainToDb(float(sum / n)) : kMinEventDb;
}

void MoveBatchVolume(const DocumentContext& ctx, const std::vector<int>& selected, float deltaDb) {
    if (deltaDb == 0) return;
    Project& project = *ctx.project;
    std::vector<float> gains(project.events.size(), -1.0f);
    for (int e : selected) {
        if (!ValidEvent(project, e)) continue;
        Event& ev = project.events[size_t(e)];
        ev.gain = DbToGain(std::clamp(GainToDb(ev.gain) + deltaDb, kMinEventDb, 0.0f));
        gains[size_t(e)] = ev.gain;
    }
    StoreEventGains(*ctx.app, *ctx.engine, gains);  // one pass over the voices for the whole selection
}

void SetBatchPitch(Project& project, const std::vector<int>& selected, float semitones) {
    for (int e : selected)
        if (ValidEvent(project, e)) {
            project.events[size_t(e)].pitchVariation = SemitonesToPitch(semitones);
            project.events[size_t(e)].locked = false;
        }
}

void SetEventMuted(const DocumentContext& ctx, int event, bool muted) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return;
    project.events[size_t(event)].muted = muted;
    ctx.app->modified = true;
    StoreEventMute(*ctx.app, project, *ctx.engine, event, muted);
}

// ---------------------------------------------------------------------------
// Single-event controls
// ---------------------------------------------------------------------------

int NextScaleTune(int current) { return current == 2 ? 0 : 2; }

bool BatchScaleTuneShowsForceOff(const Project& project, const std::vector<int>& selected) {
    int atZero = 0, atTwo = 0;
    for (int e : selected) {
        if (!ValidEvent(project, e)) continue;
        const int v = project.events[size_t(e)].scaleTuneOverride;
        atZero += v == 0;
        atTwo += v == 2;
    }
    return atTwo >= atZero;
}

bool SetScaleTune(const DocumentContext& ctx, const std::vector<int>& events, int value) {
    Project& project = *ctx.project;
    const std::vector<int> valid = ValidOnly(project, events);
    if (valid.empty() || EditRefused(ctx, "Scale tune") || !PushUndoSnapshot(ctx)) return false;
    for (int e : valid) project.events[size_t(e)].scaleTuneOverride = value;
    if (!project.results.empty()) {
        if (ctx.app->busyTask.busy.load())
            ctx.app->deferredRebuild.store(true);
        else
            RebuildCacheAsync(ctx, "Updating scale tuning...", false);
    }
    return true;
}

float DragWeightOffset(float offset, float dragPoints, float curveHeight) {
    if (!(curveHeight > 0)) return offset;
    return std::clamp(offset - dragPoints / curveHeight, -1.0f, 1.0f);
}

float DragIntensityScale(float scale, float dragPoints, float curveHeight) {
    if (!(curveHeight > 0)) return scale;
    return std::clamp(scale - 2.0f * dragPoints / curveHeight, 0.0f, 2.0f);
}

int FillLayersShown(int fillLayers) { return fillLayers == 0 ? 3 : fillLayers; }

float SyncOffsetAt(float mouseX, float left, float width, float duration) {
    if (!(width > 0)) return 0;
    return std::clamp((mouseX - left) / width, 0.0f, 1.0f) * duration;
}

namespace {

void TakeGroup(Project& project, int e, int group) {
    Event& ev = project.events[size_t(e)];
    const bool own = group == ShapeMixGroup(ev.shape);
    ev.groupOverride = own ? -1 : group;
    ev.stereo = project.groups[group].stereo;
    for (RenderResult& r : project.results)
        if (r.eventIdx == e) {
            r.group = group;
            r.stereo = ev.stereo;
        }
}

}  // namespace

std::vector<int> BusEvents(const Project& project, const std::vector<int>& selected) {
    std::vector<int> out;
    for (int e : ValidOnly(project, selected))
        if (ShapeGroupCanChange(project.events[size_t(e)].shape)) out.push_back(e);
    return out;
}

bool ToggleEventBus(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !ShapeGroupCanChange(project.events[size_t(event)].shape) ||
        EditRefused(ctx, "Bus") || !PushUndoSnapshot(ctx))
        return false;
    const int group = EventMixGroup(project.events[size_t(event)]) == 2 ? 1 : 2;
    TakeGroup(project, event, group);
    AssignTracks(project);
    return true;
}

bool ToggleBatchBus(const DocumentContext& ctx, const std::vector<int>& selected) {
    Project& project = *ctx.project;
    const std::vector<int> valid = BusEvents(project, selected);
    if (valid.empty() || EditRefused(ctx, "Bus") || !PushUndoSnapshot(ctx)) return false;
    const bool allOnB =
        std::all_of(valid.begin(), valid.end(), [&](int e) { return EventMixGroup(project.events[size_t(e)]) == 2; });
    const int group = allOnB ? 1 : 2;
    // −1 is "no override" everywhere else (a 0 would read as group 0).
    for (int e : valid) {
        TakeGroup(project, e, group);
        project.events[size_t(e)].locked = false;
    }
    AssignTracks(project);
    return true;
}

bool LinkEventToScene(const DocumentContext& ctx, int event, int scene) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    if (scene >= int(project.scenes.size())) return false;
    Event& ev = project.events[size_t(event)];
    const int target = scene < 0 ? -1 : scene;
    if (ev.sceneLink == target || EditRefused(ctx, "Scene link") || !PushUndoSnapshot(ctx)) return false;
    ev.sceneLink = target;
    if (target >= 0) ev.locked = ev.shape == kShapeBed;
    return true;
}

bool UnpinAllFiles(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || EditRefused(ctx, "Unpin") || !PushUndoSnapshot(ctx)) return false;
    Event& ev = project.events[size_t(event)];
    ev.pinnedFiles.clear();
    ev.pinnedFileIds.clear();
    ev.hasPinnedFiles = false;
    return true;
}

bool ClearLibFilter(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || project.events[size_t(event)].libFilter[0] == '\0') return false;
    if (EditRefused(ctx, "Palette filter") || !PushUndoSnapshot(ctx)) return false;
    project.events[size_t(event)].libFilter[0] = '\0';
    return true;
}

bool TraceSampleable(const OpticalTrace& trace) { return trace.present.load() && trace.frames.size() > 1; }

bool TraceToCurves(const DocumentContext& ctx, int event, const OpticalTrace& trace) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || !TraceSampleable(trace)) return false;
    if (EditRefused(ctx, "Trace to curves") || !PushUndoSnapshot(ctx)) return false;
    Event& ev = project.events[size_t(event)];
    for (int i = 0; i < 256; ++i) {
        const float t = ev.time + float(i) * ev.duration / 255.0f;
        ev.intensity[size_t(i)] = std::clamp(2.0f * SampleTraceComposite(trace, t), 0.05f, 0.95f);
        ev.weight[size_t(i)] = std::clamp(0.3f + 0.5f * SampleTraceFeature(trace, t), 0.05f, 0.95f);
    }
    ev.locked = false;
    return true;
}

// ---------------------------------------------------------------------------
// Keyword sessions and batch text
// ---------------------------------------------------------------------------

void BeginKeywordEdit(KeywordEditSession& session, const Project& project, int event) {
    session = KeywordEditSession{};
    if (!ValidEvent(project, event)) return;
    session.event = event;
    session.before.assign(TextFieldView(project.events[size_t(event)].keywords));
}

bool NoteKeywordEdit(KeywordEditSession& session, const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    if (session.pushed || session.event != event || !ValidEvent(project, event)) return true;
    Event& ev = project.events[size_t(event)];
    const std::string now(TextFieldView(ev.keywords));
    if (now == session.before) return true;
    // The field wrote in place: the snapshot must hold the text as it was,
    // so put it back for the moment of the push.
    CopyTextField(ev.keywords, session.before);
    if (EditRefused(ctx, "Keywords") || !PushUndoSnapshot(ctx)) return false;
    CopyTextField(ev.keywords, now);
    ev.locked = false;
    session.pushed = true;
    return true;
}

bool SetBatchKeywords(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view text) {
    Project& project = *ctx.project;
    const std::vector<int> valid = ValidOnly(project, selected);
    if (valid.empty() || EditRefused(ctx, "Keywords") || !PushUndoSnapshot(ctx)) return false;
    for (int e : valid) {
        CopyTextField(project.events[size_t(e)].keywords, text);
        project.events[size_t(e)].locked = false;
    }
    return true;
}

bool SetBatchLibFilter(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view filter) {
    Project& project = *ctx.project;
    std::vector<int> valid;
    for (int e : ValidOnly(project, selected))
        if (project.events[size_t(e)].shape != kShapeClip) valid.push_back(e);
    if (valid.empty() || EditRefused(ctx, "Palette filter") || !PushUndoSnapshot(ctx)) return false;
    for (int e : valid) CopyTextField(project.events[size_t(e)].libFilter, filter);
    return true;
}

// ---------------------------------------------------------------------------
// Recipes
// ---------------------------------------------------------------------------

namespace {

void RefreshClip(const DocumentContext& ctx, int event) {
    Project& project = *ctx.project;
    const std::string path(TextFieldView(project.events[size_t(event)].pinnedFile));
    RebuildClipEvent(project, event);
    EraseWaveformPeaks(path);
    // The rebuild ran the track assignment: every voice follows, not only the Clip's.
    SyncVoicesWithResults(ctx, false);
    SettleTransport(ctx);
}

}  // namespace

bool ApplyRecipeToEvent(const DocumentContext& ctx, int event, const EventPreset& recipe) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event) || EditRefused(ctx, "Recipe") || !PushUndoSnapshot(ctx)) return false;
    Event& ev = project.events[size_t(event)];
    ApplyPresetToEvent(ev, recipe);
    if (ev.shape == kShapeClip && ev.pinnedFile[0] != '\0') {
        RefreshClip(ctx, event);
    } else if (ev.shape == kShapeBed) {
        ev.locked = true;
        RebuildBedEvent(project, event);
        ctx.app->deferredRebuild.store(true);
    }
    return true;
}

bool ApplyRecipeToSelection(const DocumentContext& ctx, const std::vector<int>& selected,
                            const EventPreset& recipe) {
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    const std::vector<int> valid = ValidOnly(project, selected);
    if (valid.empty() || EditRefused(ctx, "Recipe") || !PushUndoSnapshot(ctx)) return false;
    app.renderRequestList.clear();
    bool clips = false;
    for (int e : valid) {
        ApplyPresetToEvent(project.events[size_t(e)], recipe);
        if (project.events[size_t(e)].shape == kShapeClip) {
            RebuildClipEvent(project, e);
            clips = true;
        } else {
            app.renderRequestList.push_back(e);
        }
    }
    if (!app.renderRequestList.empty()) app.renderRequestKind = 4;
    if (clips)
        SyncVoicesWithResults(ctx, false);
    else
        CheckPlaybackCacheIntegrity(ctx);
    SettleTransport(ctx);
    return true;
}

RecipeSaveOutcome SaveEventRecipe(AppState& app, const Project& project, int event, std::string_view name,
                                  const std::string& folder,
                                  const std::function<bool(const char*, const char*)>& confirm) {
    if (!ValidEvent(project, event)) return RecipeSaveOutcome::Failed;
    std::string_view trimmed = name;
    while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
    while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
    if (trimmed.empty()) return RecipeSaveOutcome::NoName;
    EventPreset recipe = PresetFromEvent(project.events[size_t(event)]);
    CopyTextField(recipe.name, trimmed);
    // A recipe file already there, of this name or of another that leaves
    // the same file name, is replaced only when the user says so.
    const bool exists = PresetFileExists(folder, RecipeFileName(recipe));
    PresetSaveResult result = exists ? kPresetNameTaken : SaveRecipeFile(folder, recipe);
    if (result == kPresetNameTaken) {
        char question[200];
        std::snprintf(question, sizeof question, "A recipe named \"%.*s\" already exists. Replace it?",
                      int(std::min<size_t>(trimmed.size(), 120)), trimmed.data());
        if (!confirm || !confirm("Save Recipe", question)) return RecipeSaveOutcome::Declined;
        result = SaveRecipeFile(folder, recipe, true);
    }
    if (result == kPresetNameRefused) {
        ShowToast(app, "Recipe not saved: " + FileNameProblem(trimmed), 4);
        return RecipeSaveOutcome::Failed;
    }
    if (result != kPresetSaved) {
        app.toastText = "Recipe save failed";
        app.toastTimer = 3;
        return RecipeSaveOutcome::Failed;
    }
    LoadRecipesFolder(folder, gRecipes, app);
    return RecipeSaveOutcome::Saved;
}

bool DeleteRecipe(AppState& app, const EventPreset& recipe, const std::string& folder,
                  const std::function<bool(const char*, const char*)>& confirm) {
    // Nothing brings a deleted recipe back: the user confirms first.
    char question[200];
    std::snprintf(question, sizeof question, "Delete the recipe \"%s\" and its preview? This cannot be undone.",
                  recipe.name);
    if (!confirm || !confirm("Delete Recipe", question)) return false;
    DeletePreviewWav(recipe);
    bool removed = false;
    if (!recipe.sourcePath.empty()) removed = std::remove(recipe.sourcePath.c_str()) == 0;
    LoadRecipesFolder(folder, gRecipes, app);
    return removed;
}

// ---------------------------------------------------------------------------
// Clips
// ---------------------------------------------------------------------------

bool ReplaceClipFile(const DocumentContext& ctx, int event, const std::string& path) {
    Project& project = *ctx.project;
    if (path.empty() || !ValidEvent(project, event) || EditRefused(ctx, "Replace file") || !PushUndoSnapshot(ctx))
        return false;
    Event& ev = project.events[size_t(event)];
    const std::string old(TextFieldView(ev.pinnedFile));
    const FileRef ref = FileRegistry::Instance().FileRefForPath(path);
    CopyTextField(ev.pinnedFile, path);
    ev.pinnedFileId = ref.id;
    ev.hasPinnedFiles = true;  // the single pin is saved only with the flag
    // The old file's peaks would be drawn for the new one.
    EraseWaveformPeaks(old);
    ForgetClipHeader(gClipHeaderCache, old);
    ForgetClipHeader(gClipHeaderCache, path);
    RefreshClip(ctx, event);
    return true;
}

bool SetClipOffset(const DocumentContext& ctx, int event, float offset) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    Event& ev = project.events[size_t(event)];
    const float next = std::clamp(offset, 0.0f, std::max(ev.duration, 0.0f));
    const float diff = next - ev.syncOffset;
    if (std::fabs(diff) <= 0.0001f) return false;
    // The sync point stays; what sounds slides under it.
    EventMoves moves;
    moves.seconds.assign(project.events.size(), 0.0f);
    moves.seconds[size_t(event)] = -diff;
    moves.eventTimes = false;
    moves.what = "Clip offset";
    if (!MoveEventsWithVoices(ctx, moves)) return false;
    ev.syncOffset = next;
    return true;
}

bool TimecodeCharAllowed(unsigned int c) { return (c >= '0' && c <= '9') || c == ':'; }

// ---------------------------------------------------------------------------
// Bed layers
// ---------------------------------------------------------------------------

void EvenBedLists(Event& event) {
    const size_t n = event.pinnedFiles.size();
    event.pinnedFileIds.resize(n);
    event.bedLayerLoop.resize(n, 0);
    event.bedLayerWeight.resize(n, -1.0f);
}

namespace {

bool BeginBedEdit(const DocumentContext& ctx, int event, int layer, const char* what) {
    Project& project = *ctx.project;
    if (!ValidEvent(project, event)) return false;
    const Event& ev = project.events[size_t(event)];
    if (layer < 0 || size_t(layer) >= ev.pinnedFiles.size()) return false;
    if (EditRefused(ctx, what) || !PushUndoSnapshot(ctx)) return false;
    EvenBedLists(project.events[size_t(event)]);
    return true;
}

void FinishBedEdit(const DocumentContext& ctx, int event) {
    RebuildBedEvent(*ctx.project, event);
    ctx.app->deferredRebuild.store(true);
    ctx.app->modified = true;
}

}  // namespace

bool MoveBedLayer(const DocumentContext& ctx, int event, int from, int to) {
    if (from == to || !ValidEvent(*ctx.project, event)) return false;
    if (to < 0 || size_t(to) >= ctx.project->events[size_t(event)].pinnedFiles.size()) return false;
    if (!BeginBedEdit(ctx, event, from, "Move layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    MoveListItem(from, to, ev.pinnedFiles);
    MoveListItem(from, to, ev.pinnedFileIds);
    MoveListItem(from, to, ev.bedLayerLoop);
    MoveListItem(from, to, ev.bedLayerWeight);
    FinishBedEdit(ctx, event);
    return true;
}

bool RemoveBedLayer(const DocumentContext& ctx, int event, int layer) {
    if (!BeginBedEdit(ctx, event, layer, "Remove layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    ev.pinnedFiles.erase(ev.pinnedFiles.begin() + layer);
    ev.pinnedFileIds.erase(ev.pinnedFileIds.begin() + layer);
    ev.bedLayerLoop.erase(ev.bedLayerLoop.begin() + layer);
    ev.bedLayerWeight.erase(ev.bedLayerWeight.begin() + layer);
    FinishBedEdit(ctx, event);
    return true;
}

bool ToggleBedLayerLoop(const DocumentContext& ctx, int event, int layer) {
    if (!BeginBedEdit(ctx, event, layer, "Loop layer")) return false;
    uint8_t& loop = ctx.project->events[size_t(event)].bedLayerLoop[size_t(layer)];
    loop = loop ? 0 : 1;
    FinishBedEdit(ctx, event);
    return true;
}

bool ReplaceBedLayer(const DocumentContext& ctx, int event, int layer, const std::string& path) {
    if (path.empty() || !BeginBedEdit(ctx, event, layer, "Replace layer")) return false;
    Event& ev = ctx.project->events[size_t(event)];
    const FileRef ref = FileRegistry::Instance().FileRefForPath(path);
    ev.pinnedFiles[size_t(layer)] = path;
    ev.pinnedFileIds[size_t(layer)] = ref.id;
    GetFileBrightness(path, ref.id, ctx.library ? &ctx.library->libraries : nullptr, true);
    FinishBedEdit(ctx, event);
    return true;
}

bool AddBedLayers(const DocumentContext& ctx, int event, const std::vector<std::string>& paths) {
    Project& project = *ctx.project;
    if (paths.empty() || !ValidEvent(project, event) || EditRefused(ctx, "Add layer") || !PushUndoSnapshot(ctx))
        return false;
    AddFilesToBedEvent(project, event, paths, ctx.library);
    ctx.app->deferredRebuild.store(true);
    ctx.app->modified = true;
    return true;
}

// ---------------------------------------------------------------------------
// Card texts and the header cache
// ---------------------------------------------------------------------------

std::string FormatClipDuration(float seconds) {
    char text[32];
    if (seconds >= 3600) {
        const int s = int(seconds);
        std::snprintf(text, sizeof text, "%d:%02d:%02d", s / 3600, (s / 60) % 60, s % 60);
    } else if (seconds >= 60) {
        const int tenths = int(seconds * 10);
        std::snprintf(text, sizeof text, "%d:%02d.%d", tenths / 600, (tenths / 10) % 60, tenths % 10);
    } else {
        std::snprintf(text, sizeof text, "%.2fs", double(seconds));
    }
    return text;
}

std::string FormatSampleRate(int rate) {
    char text[32];
    if (rate >= 1000) {
        if (rate % 1000 == 0)
            std::snprintf(text, sizeof text, "%dk", rate / 1000);
        else
            std::snprintf(text, sizeof text, "%.1fk", double(rate) / 1000.0);
    } else {
        std::snprintf(text, sizeof text, "%.0f", double(rate));
    }
    return text;
}

std::string ClipDetailsText(float seconds, int rate, int channels, int bits) {
    char text[128];
    std::snprintf(text, sizeof text, "%s  %s  %s  %d-bit", FormatClipDuration(seconds).c_str(),
                  FormatSampleRate(rate).c_str(), ChannelCountName(channels), bits);
    return text;
}

std::string MiddleEllipsis(const std::string& name, const std::function<bool(const std::string&)>& fits) {
    if (fits(name)) return name;
    // Take whole characters away from the middle, alternately from the head
    // and the tail, until "head…tail" fits. bounds[k]: where character k starts.
    std::vector<size_t> bounds = GlyphCutPoints(name);
    bounds.insert(bounds.begin(), 0);
    const size_t last = bounds.size() - 1;
    size_t head = last / 2, tail = head;  // keeps [0, bounds[head]) and [bounds[tail], end)
    bool fromHead = true;
    while (head > 0 || tail < last) {
        if ((fromHead && head > 0) || tail == last)
            --head;
        else
            ++tail;
        fromHead = !fromHead;
        const std::string cut = name.substr(0, bounds[head]) + "\xE2\x80\xA6" + name.substr(bounds[tail]);
        if (fits(cut)) return cut;
    }
    return "\xE2\x80\xA6";
}

ClipHeaderCache gClipHeaderCache;

ClipHeader& ClipHeaderFor(ClipHeaderCache& cache, const std::string& path) {
    auto it = cache.headers.find(path);
    if (it != cache.headers.end()) return it->second;
    ClipHeader header;
    ++cache.opens;
    SF_INFO info{};
    if (SNDFILE* file = OpenSoundFileForReading(path, &info)) {
        header.opened = true;
        header.sampleRate = info.samplerate;
        header.channels = info.channels;
        header.bits = BitsPerSampleFromFormat(info.format);
        header.duration = info.samplerate > 0 ? float(double(info.frames) / info.samplerate) : 0.0f;
        if (const char* comment = sf_get_string(file, SF_STR_COMMENT)) header.description = ToValidUtf8(comment);
        sf_close(file);
    }
    return cache.headers.emplace(path, std::move(header)).first->second;
}

void ForgetClipHeader(ClipHeaderCache& cache, const std::string& path) { cache.headers.erase(path); }

bool InspectorExportBlocks(const AppState& app) { return app.exportRunning.load(); }
