// inspector_logic.h — the events tab inspector's plain rules: level and pitch
// maps, the edits its controls make on one event or on the selection, the
// Clip card's texts and header cache, and the Bed layer lists.
//
// Index
//   GainToDb / DbToGain / PitchToSemitones / SemitonesToPitch   the drags' maps
//   SetEventVolume / BatchMeanDb / MoveBatchVolume / SetBatchPitch
//   SetEventMuted / NextScaleTune / BatchScaleTuneShowsForceOff / SetScaleTune
//   DragWeightOffset / DragIntensityScale / FillLayersShown / SyncOffsetAt
//   ToggleEventBus / ToggleBatchBus                groupOverride −1 means "no override"
//   LinkEventToScene / UnpinAllFiles / TraceToCurves / ClearLibFilter
//   KeywordEditSession                             one undo step per editing session
//   SetBatchKeywords / SetBatchLibFilter
//   ApplyRecipeToEvent / ApplyRecipeToSelection / SaveEventRecipe / DeleteRecipe
//   ReplaceClipFile / SetClipOffset
//   EvenBedLists / MoveBedLayer / RemoveBedLayer / ToggleBedLayerLoop / ReplaceBedLayer
//   FormatClipDuration / FormatSampleRate / ClipDetailsText / MiddleEllipsis
//   ClipHeader / ClipHeaderCache                   one header read per file
//   InspectorExportBlocks                          controls that wait while an export runs
//
// Every edit that is undoable pushes its snapshot itself and returns false,
// changing nothing, when the document may not change. Level drags push none.
// UI thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct AppState;
struct AudioEngine;
struct DocumentContext;
struct Event;
struct EventPreset;
struct OpticalTrace;
struct Project;

// ---- Maps -------------------------------------------------------------------

constexpr float kMinEventDb = -24.0f;
// −24 for a gain of 0.001 or less, else 20·log10(gain) clamped to −24..0.
float GainToDb(float gain);
// clamp(10^(dB/20), 0, 1): −24 dB stores ≈ 0.063, never 0.
float DbToGain(float db);
float PitchToSemitones(float pitchVariation);
float SemitonesToPitch(float semitones);

// ---- Levels (no undo, no engine mutex) ----------------------------------------

// Sets the event's gain and stores it into every voice's eventGain.
void SetEventVolume(const DocumentContext& ctx, int event, float db);
// The selection's mean gain in dB (−24 when the mean is 0.001 or less).
float BatchMeanDb(const Project& project, const std::vector<int>& selected);
// Every selected event moves by `deltaDb` (from −24 when at or below 0.001),
// clamped to −24..0; voices follow.
void MoveBatchVolume(const DocumentContext& ctx, const std::vector<int>& selected, float deltaDb);
void SetBatchPitch(Project& project, const std::vector<int>& selected, float semitones);
// Toggles `muted` and the voices' mute (event or result muted); no undo.
void SetEventMuted(const DocumentContext& ctx, int event, bool muted);

// ---- Single-event controls ------------------------------------------------------

// 0 or 1 → 2 ("Force Off"); 2 → 0.
int NextScaleTune(int current);
// True when at least as many selected events are at 2 as at 0.
bool BatchScaleTuneShowsForceOff(const Project& project, const std::vector<int>& selected);
// Undo step, every listed event to `value`, then the scale rebuild: a
// running task defers it, results start RebuildCacheAsync.
bool SetScaleTune(const DocumentContext& ctx, const std::vector<int>& events, int value);

float DragWeightOffset(float offset, float dragPoints, float curveHeight);   // −1..1
float DragIntensityScale(float scale, float dragPoints, float curveHeight);  // 0..2
int FillLayersShown(int fillLayers);                                         // 3 for Auto (0)
// clamp((mouseX − left) / width, 0, 1) × duration.
float SyncOffsetAt(float mouseX, float left, float width, float duration);

// Undo step; FX A ↔ FX B; groupOverride −1 when the new group is the shape's
// own, else the group; stereo from the group; results follow; tracks assigned.
bool ToggleEventBus(const DocumentContext& ctx, int event);
// Undo step; all to FX A when all were on FX B, else all to FX B; unlocks each.
bool ToggleBatchBus(const DocumentContext& ctx, const std::vector<int>& selected);
// The valid selected events whose group a bus button can change (no Fill, no
// Bed); the batch button is drawn only when there is one and acts on these.
std::vector<int> BusEvents(const Project& project, const std::vector<int>& selected);

// Undo step; scene −1 unlinks. A Bed locks, a Fill unlocks.
bool LinkEventToScene(const DocumentContext& ctx, int event, int scene);
// Undo step; the pinned files and their ids go, the single-pin flag clears.
bool UnpinAllFiles(const DocumentContext& ctx, int event);
// Undo step; the filter empties.
bool ClearLibFilter(const DocumentContext& ctx, int event);
// Whether the trace can be sampled (present, more than one frame).
bool TraceSampleable(const OpticalTrace& trace);
// Undo step; 256 samples of the trace over the event's span become its
// intensity and weight curves; unlocks.
bool TraceToCurves(const DocumentContext& ctx, int event, const OpticalTrace& trace);

// The keyword field edits the event's text in place; the first change of an
// editing session takes one undo step holding the text as it was before it.
struct KeywordEditSession {
    int event = -1;
    std::string before;  // the text when the field became active
    bool pushed = false;
};
void BeginKeywordEdit(KeywordEditSession& session, const Project& project, int event);
// Call after the field drew: `now` is the event's text. False when the
// session's edit was refused (the old text is put back).
bool NoteKeywordEdit(KeywordEditSession& session, const DocumentContext& ctx, int event);

bool SetBatchKeywords(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view text);
// Clips keep their filter.
bool SetBatchLibFilter(const DocumentContext& ctx, const std::vector<int>& selected, std::string_view filter);

// ---- Recipes ----------------------------------------------------------------

// Undo step, the recipe applied, then a Clip with a file is rebuilt, its
// peaks dropped and re-rendered; a Bed is locked and rebuilt on the next
// frame (deferredRebuild); other shapes wait for the next render.
bool ApplyRecipeToEvent(const DocumentContext& ctx, int event, const EventPreset& recipe);
// Undo step, the recipe on each; Clips rebuilt now, the others queued for
// render kind 4.
bool ApplyRecipeToSelection(const DocumentContext& ctx, const std::vector<int>& selected,
                            const EventPreset& recipe);

enum class RecipeSaveOutcome { Saved, Declined, Failed, NoName };
// The recipe of the event under `name` in `folder`; a recipe file already
// there (of this name, or of another that leaves the same file name) is
// replaced only when `confirm` says yes. A failure shows
// the toast "Recipe save failed". The folder is read again after a save.
RecipeSaveOutcome SaveEventRecipe(AppState& app, const Project& project, int event, std::string_view name,
                                  const std::string& folder,
                                  const std::function<bool(const char*, const char*)>& confirm);
// Once `confirm` says yes: deletes the recipe's preview and its file, then
// reads the folder again. True when the file went.
bool DeleteRecipe(AppState& app, const EventPreset& recipe, const std::string& folder,
                  const std::function<bool(const char*, const char*)>& confirm);

// ---- Clips ------------------------------------------------------------------

// Undo step; the Clip takes the file (and its registry id), is rebuilt and
// re-rendered; the old and new files' peaks are dropped.
bool ReplaceClipFile(const DocumentContext& ctx, int event, const std::string& path);
// syncOffset clamped to 0..duration; when it moves by more than 0.0001 s the
// event's results and voices move by minus the change (MoveEventsWithVoices,
// which refuses while the document may not change), so the clip keeps
// playing in place. True when it moved.
bool SetClipOffset(const DocumentContext& ctx, int event, float offset);
// Digits and ':' only.
bool TimecodeCharAllowed(unsigned int c);

// ---- Bed layers -------------------------------------------------------------

// The three parallel lists take pinnedFiles' length (id "", loop 0, weight −1).
void EvenBedLists(Event& event);
// Each: undo step, the four lists changed together, RebuildBedEvent,
// deferredRebuild, modified. Out-of-range indices change nothing.
bool MoveBedLayer(const DocumentContext& ctx, int event, int from, int to);
bool RemoveBedLayer(const DocumentContext& ctx, int event, int layer);
bool ToggleBedLayerLoop(const DocumentContext& ctx, int event, int layer);
bool ReplaceBedLayer(const DocumentContext& ctx, int event, int layer, const std::string& path);
bool AddBedLayers(const DocumentContext& ctx, int event, const std::vector<std::string>& paths);

// ---- Card texts ----------------------------------------------------------------

std::string FormatClipDuration(float seconds);  // "1:02:03", "2:05.3", "4.20s"
std::string FormatSampleRate(int rate);         // "48k", "44.1k", "800"
std::string ClipDetailsText(float seconds, int rate, int channels, int bits);
// The name cut in the middle ("head…tail") between whole characters until
// `fits` accepts it (a file name keeps its extension). Texts cut at their end
// use ShortenedText (document/shortened_text.h).
std::string MiddleEllipsis(const std::string& name, const std::function<bool(const std::string&)>& fits);

struct ClipHeader {
    bool opened = false;
    int sampleRate = 0;
    int bits = 0;
    int channels = 0;
    float duration = 0;
    std::string description;
    // The cut description for the width it was cut at.
    float cutWidth = -1;
    std::string cutDescription;
};
// Headers by path, read once (a failed read is remembered too). `opens`
// counts the files opened, for tests.
struct ClipHeaderCache {
    std::unordered_map<std::string, ClipHeader> headers;
    int opens = 0;
};
ClipHeader& ClipHeaderFor(ClipHeaderCache& cache, const std::string& path);
void ForgetClipHeader(ClipHeaderCache& cache, const std::string& path);
extern ClipHeaderCache gClipHeaderCache;

// True while an export runs: rebuilds, re-renders, recipes, the bus and the
// scale tune wait (their tooltip says why).
bool InspectorExportBlocks(const AppState& app);
inline constexpr const char kExportBlockTip[] = "Not available while exporting";
