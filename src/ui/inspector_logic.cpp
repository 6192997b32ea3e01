// inspector_logic.cpp — the inspector's rules as plain functions.
//
// Index
//   Maps and levels
//   Single-event controls
//   Recipes               saving and deleting recipe files
//   Clips
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


}  // namespace

// ---------------------------------------------------------------------------
// Maps and levels
// ---------------------------------------------------------------------------

float PitchToSemitones(float pitchVariation) { return pitchVariation * 24.0f; }

float SemitonesToPitch(float semitones) { return std::clamp(semitones / 24.0f, 0.0f, 1.0f); }

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

// ---------------------------------------------------------------------------
// Recipes
// ---------------------------------------------------------------------------

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

bool TimecodeCharAllowed(unsigned int c) { return (c >= '0' && c <= '9') || c == ':'; }

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
