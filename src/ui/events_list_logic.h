// events_list_logic.h — the rules of the events tab's list: its order and
// weight summaries, the rows it shows, what clicks on rows and folder
// headers select, and the folder edits (rename, ungroup, delete, drops).
//
// Index
//   SortEventsList / SummarizeLayerWeights   display order, layer counts, weight summaries
//   ListRow / BuildListRows / FirstRowAt     folder headers, event rows and layer lines with their y
//   FolderMembers                            the events of a folder, in list order
//   ListClick / ApplyRowClick / ApplyFolderHeaderClick   the selection rules of a click
//   DeleteFolder                             a folder's events deleted (the other folder edits: folder_edits.h)
//   FolderSaveOutcome / SaveFolderAsChain     "Save as Chain" of a folder header
//   ChooseListScene / AddSceneFromList / SceneAddBlockedText   the scene selector
//   BeginListSceneRename / FinishListSceneRename / DeleteActiveScene / SceneSpanTooltip
//   MoveEventsTooltip / FolderHeaderTooltip / LinkToggleTooltip / EventRowTimecode   texts
//
// No GUI here. Folder names are byte-exact texts of the events' `folder`
// field; empty means no folder. Every edit refuses (false, nothing changed)
// while the document may not change, and takes its own undo snapshot.
// Interface thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "operations/document_context.h"
#include "operations/folder_edits.h"
#include "operations/pinned_sound_edits.h"  // MoveListItem

struct AppState;
struct Event;
struct Project;
struct RenderResult;

// ---------------------------------------------------------------------------
// Order and summaries
// ---------------------------------------------------------------------------

// eventsListOrder := the event indices by time (equal times by index, so
// rows never swap between frames and a Shift range holds). When the event
// count, the result count or `generation` (the results revision) differ from
// the cached key: each event's layer count and the summary of its unmuted
// layers' weights.
void SortEventsList(AppState& app, const std::vector<Event>& events, const std::vector<RenderResult>& results,
                    int generation);

// Sorts `weights` and writes its summary: k = 0 gives 0; k ≤ 5 all of them;
// otherwise the values at 0, k/4, k/2, 3k/4 and k − 1. Returns how many of
// `out` are used.
int SummarizeLayerWeights(std::vector<float>& weights, std::array<float, 5>& out);

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

enum class ListRowKind : uint8_t { Folder, Event, Layer };

struct ListRow {
    ListRowKind kind = ListRowKind::Event;
    int index = -1;  // Folder: position in eventsListOrder of its first event; Event: event; Layer: result
    int count = 0;   // Folder: its events in this run
    float y = 0;     // from the top of the list
    float height = 0;
};

struct ListRowHeights {
    float folder = 22;
    float event = 18;
    float layer = 26;
};

// The rows in display order: consecutive events of one non-empty folder get
// a header, and their rows only while the folder is not collapsed; the
// expanded event's layers (in result order) follow its row. Reads
// eventsListOrder, collapsedFolders and expandedEvent.
void BuildListRows(const AppState& app, const std::vector<Event>& events, const std::vector<RenderResult>& results,
                   const ListRowHeights& heights, std::vector<ListRow>& rows);
// The first row whose bottom is below y (rows.size() when none).
size_t FirstRowAt(const std::vector<ListRow>& rows, float y);
// Where the list shows the event's row (-1 when it is hidden).
float EventRowY(const std::vector<ListRow>& rows, int eventIndex);
// The scroll that shows a row at `rowY` (list units) of `rowHeight` in a view
// `viewHeight` tall scrolled to `scroll`, the rows starting `top` below the
// view's scroll origin: `scroll` itself while the whole row is in sight,
// else the row in the middle of the view (never above 0).
float ScrollShowingRow(float rowY, float rowHeight, float top, float scroll, float viewHeight);

// The events whose folder is `folder`, in eventsListOrder.
std::vector<int> FolderMembers(const AppState& app, const std::vector<Event>& events, std::string_view folder);

// ---------------------------------------------------------------------------
// Clicks
// ---------------------------------------------------------------------------

struct ListClick {
    bool shift = false;
    bool ctrl = false;
    bool alt = false;
};

// A click on an event row: Shift selects the range from the anchor in list
// order, Ctrl toggles the event, a click on the only selected event toggles
// its expansion, any other click selects it (with its linked folder unless
// Alt). Then, in draw mode with a saved view, the zoom follows the new
// selection (FocusDrawModeOnSelection), and a running audition stops.
void ApplyRowClick(const DocumentContext& ctx, int eventIndex, const ListClick& click);

// A click on a folder header. Ctrl adds the folder's events to the
// selection, or removes them when all are selected; a linked folder's
// events replace the selection (the first in the list primary); an unlinked
// folder collapses or expands.
void ApplyFolderHeaderClick(AppState& app, const std::vector<Event>& events, std::string_view folder,
                            const ListClick& click);

// ---------------------------------------------------------------------------
// Folder edits
// ---------------------------------------------------------------------------

// The folder's events go, highest index first, with their layers and voices.
bool DeleteFolder(const DocumentContext& ctx, std::string_view folder);
enum class FolderSaveOutcome { Saved, Declined, Failed };
// Writes the folder's events as the chain `name` into `chainsFolder`, then
// lists the chains again. A name whose file holds another chain is replaced
// only when `confirmReplace` (may be null: then never) says yes. Failures
// are told by a toast.
FolderSaveOutcome SaveFolderAsChain(AppState& app, const Project& project, std::string_view folder,
                                    std::string_view name, const std::string& chainsFolder,
                                    bool (*confirmReplace)(const char* title, const char* text));

// ---------------------------------------------------------------------------
// Scene selector
// ---------------------------------------------------------------------------

// -1 ("All"): no active scene or work area, the whole project in view.
// Otherwise the scene becomes active (work area, playhead, keywords) and the
// timeline shows its span.
void ChooseListScene(AppState& app, const Project& project, int scene);
// "##scadd": the work area becomes a new scene (one undo step, which covers
// its first name), active, its name open for editing. Its index or -1.
int AddSceneFromList(const DocumentContext& ctx);
// Why "##scadd" is disabled, or null when it is not.
const char* SceneAddBlockedText(const AppState& app);
// The list's rename field opens on the active scene's name (the timeline's
// own rename of a scene ends: both edit the one buffer).
void BeginListSceneRename(AppState& app, const Project& project, bool isNew);
// Enter, or a click elsewhere: the name applies to the active scene (one
// undo step unless the scene is new) and the field closes.
bool FinishListSceneRename(const DocumentContext& ctx);
// "##scdel": the active scene and its background events go (one undo step),
// the rename ends and playback is sought to the current time.
bool DeleteActiveScene(const DocumentContext& ctx);
// "%d:%02d – %d:%02d": minutes and seconds of the scene's in and out.
std::string SceneSpanTooltip(float inTime, float outTime);

// ---------------------------------------------------------------------------
// Texts
// ---------------------------------------------------------------------------

// "Move %d event%s".
std::string MoveEventsTooltip(int count);
// "Click to collapse|expand  |  Double-click to rename", or for a linked
// folder "Click to select  |  Double-click to rename".
std::string FolderHeaderTooltip(bool linked, bool collapsed);
const char* LinkToggleTooltip(bool linked);
// The event's time after the project's start timecode, "HH:MM:SS:FF".
std::string EventRowTimecode(const Project& project, const Event& event);
