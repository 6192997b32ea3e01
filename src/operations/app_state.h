// app_state.h — everything the program knows outside the document, the sound
// library and the audio engine.
//
// Index
//   GuiFont, TextureHandle     opaque handles of the GUI layer (no GUI header here)
//   AppState                   the record, grouped by role:
//   EventClipboard             what Copy and Cut took
//   WeightColors               the three weight colours beside the theme palette
//     transport, view, selection · fonts · theme values · timeline/inspector state ·
//     engine and render preferences · export settings · picture trace ·
//     work area · busy task and worker slot · render request · export job ·
//     platform hooks · about box · document status, undo and preferences ·
//     update check · title bar · pending command and paths · drops · toast
//   gAppState                  the one instance
//   DocumentMayChange          false while a busy task or an export runs
//   ShowToast / TickToast      the toast line: set it, count it down each frame
//   StopBackgroundWorkers      stop and join every worker on the way out
//
// The UI thread owns every field; the fields workers touch are atomics (busy
// task, trace, update check). Panel-owned groups grow with their panels.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "document/busy_task.h"
#include "document/undo_snapshot.h"
#include "document/worker_stops.h"
#include "export/export_settings.h"
#include "operations/bed_watch.h"
#include "playback/playback_gaps.h"
#include "operations/update_worker.h"
#include "picture/marker_records.h"
#include "picture/trace_records.h"
#include "picture/trace_review.h"

struct ImFont;
struct JobObserver;
struct ProjectSaveJob;
struct VoiceStreamer;
using GuiFont = ImFont*;
using TextureHandle = void*;

// Platform hooks: plain function pointers installed at start-up; null means
// the facility is absent and callers skip it.
using LoadImageTextureFn = TextureHandle (*)(const char* path, float* width, float* height);
using ReleaseImageTextureFn = void (*)(TextureHandle texture);
// The dialogs return the chosen path, "" on cancel or failure; `extension`
// is without its dot (platform/dialogs.h).
using PickFolderDialogFn = std::string (*)();
using ExportSaveDialogFn = std::string (*)();
using OpenFileDialogFn = std::string (*)(const char* title, const char* extension);
using SaveFileDialogFn = std::string (*)(const char* title, const char* extension);
// A yes/no question; true for yes.
using QuestionDialogFn = bool (*)(const char* title, const char* text);

// The events Copy and Cut took, with their layers (whose eventIdx counts
// within `events`) and the earliest copied time, which lands on the
// playhead when pasted.
struct EventClipboard {
    std::vector<Event> events;
    std::vector<RenderResult> results;
    float earliestTime = 0;
};

// Packed 0xAABBGGRR (red in the low byte), opaque; kept in the preferences.
struct WeightColors {
    uint32_t weightColorLow = 0xFF540144;
    uint32_t weightColorMid = 0xFF8C9121;
    uint32_t weightColorHigh = 0xFF25E7FD;
};

struct AppState {
    AppState();
    ~AppState();
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;

    // --- Transport, view and selection ---------------------------------
    float currentTime = 0;
    bool playing = false;
    float viewStart = 0;
    float viewDuration = 30;
    int selectedEvent = -1;
    std::set<int> selectedEvents;
    int hoveredEvent = -1;
    int draggedEvent = -1;
    int inspectorLayer = -1;
    int expandedEvent = -1;
    std::set<std::string> linkedGroups;
    bool selectionChanged = false;
    bool scrollToSelection = false;
    int reviewMode = 0;

    // --- Fonts -----------------------------------------------------------
    GuiFont fontBody = nullptr;
    GuiFont fontMedium = nullptr;
    GuiFont fontSmall = nullptr;
    GuiFont fontLarge = nullptr;
    int fontSizePreset = 1;
    bool fontSizeAuto = true;
    int autoFontPreset = 1;
    bool boldFonts = true;
    GuiFont regularFonts[3][4] = {};
    GuiFont boldFontTable[3][4] = {};

    // --- Theme values ------------------------------------------------------
    // The preferences read and write these; the shell's theme and fonts act
    // on them through the slots, which stay empty until the shell fills them
    // (the preferences then only store the values). A slot that changes the
    // theme or preset also stores it here, so the next save writes it.
    int themeIndex = 0;
    WeightColors weightColors;
    std::function<void(AppState&, int preset)> applyFontSizePreset;
    std::function<void(int index)> setTheme;
    std::function<void()> applyThemeStyle;

    // --- Timeline and inspector interaction ------------------------------
    bool curveDrawMode = false;
    int lastIntensityMode = 0;
    EventClipboard eventClipboard;
    double lastNudgeTime = -10;  // GUI time of the last nudge: a burst is one undo step
    int activeTab = 0;  // 0 = Events

    // --- Timeline: view mode, ruler, curve draw mode (timeline_logic.h) ----
    int laneMode = 0;       // 0 "Tracks", 1 "Curves", 2 "Curves+"
    int rulerDragMode = 0;  // 0 none, 1 the in point, 2 the out point
    int activeScene = -1;   // the scene the work area is linked to
    bool drawViewSaved = false;
    float drawSavedViewStart = 0;
    float drawSavedViewDuration = 30;
    int drawSavedLaneMode = 0;
    float drawFocusStart = 0;
    float drawFocusEnd = 0;

    // --- Timeline: the event lane's gesture (event_lane_logic.h) ----------
    float pressTime = 0;   // seconds under the mouse at the press
    float pressX = 0;      // points: where the press was, for the move's dead zone
    int resizingEvent = -1;
    bool movingSelection = false;
    bool moveStarted = false;
    float moveGrabOffset = 0;
    bool boxSelecting = false;
    float boxStartX = 0;
    float boxEndX = 0;
    float boxStartY = 0;
    float boxEndY = 0;

    // --- Timeline: a curve stroke (curve_strokes.h) -----------------------
    // The stroke names its event and lane by index, never by pointer: the
    // event list may be replaced under it (undo, a new event, a deletion),
    // and then the stroke ends without writing (paintGeneration).
    bool curvePainting = false;
    float paintLastU = -1;
    float paintLastV = 0;
    int paintMinIndex = 256;
    int paintMaxIndex = -1;
    int paintEvent = -1;  // -1 until the stroke has painted
    int paintLane = -1;   // 0 weight, 1 intensity
    bool paintAbandoned = false;  // the document changed: nothing more until release
    uint64_t paintGeneration = 0;   // undoHistory.generation when it began painting
    size_t paintEventCount = 0;     // events then
    bool paintFromInspector = false;  // the stroke is the events tab's curve editor's

    // --- Timeline: rendered layers (layer_lanes_logic.h) ------------------
    bool shownGroups[3] = {true, true, true};  // by group index: false folds its tracks
    int trimmingResult = -1;  // the Clip layer whose edge is dragged
    int trimEdge = 0;         // 1 left, 2 right
    int fadeDragResult = -1;  // the Clip layer whose fade is dragged
    int fadeDragKind = 0;     // 1 fade-in, 2 fade-out
    int soloResultId = -1;    // the layer a double click plays alone
    int soloVoiceIndex = -1;  // its voice, the engine's soloVoice when it was set

    // --- Timeline: the trace view (trace_view_logic.h) --------------------
    bool thresholdDragging = false;
    TraceMarkerSelection traceMarkerSelection;  // box or command selection of both lists
    TraceItemRef selectedTraceItem;             // the focused marker
    TraceItemRef hoveredTraceItem;
    // The queued review import ("  Import", key ";"): the trace panel carries
    // it out on its next frame and clears the flag first.
    TraceMarkerSelection traceReviewImport;
    bool traceImportRequest = false;
    int traceSourceFilter = -1;  // -1 both lists shown, 0 picture only, 1 markers only

    // --- Timeline: scenes row (scene_edits.h) ------------------------------
    int renamingScene = -1;
    char sceneNameEdit[64] = {};
    bool sceneRenameFocus = false;
    bool sceneRenameIsNew = false;
    int sceneBackgroundScene = -1;  // the scene whose background popup is open
    float sceneZoomSavedStart = -1;
    float sceneZoomSavedDuration = -1;
    char keywordBuffer[256] = {};  // the keyword text shared by the events tab and new scenes

    // --- Events list (events_list_logic.h) --------------------------------
    // Rebuilt by SortEventsList every frame; the summaries only when the
    // event count, result count or results revision moved (listCacheKey).
    std::vector<int> eventsListOrder;            // event indices in display order
    std::vector<int> eventResultCounts;          // per event, its layers (muted ones too)
    std::vector<std::array<float, 5>> eventLayerWeightSummary;  // unmuted layers' weights
    std::vector<uint8_t> eventLayerWeightCount;  // 0..5 values used
    int listCacheKey[3] = {-1, -1, -1};          // events, results, generation
    std::set<std::string> collapsedFolders;
    std::string editingFolder;         // the folder whose name is being edited
    char folderEditBuffer[64] = {};
    bool folderEditing = false;
    bool folderEditFocus = false;
    bool sceneListRenaming = false;    // the list's "##scnren" stands in for its scene combo
    bool sceneListRenameIsNew = false; // the scene was just made: its name belongs to its creation
    int auditionResult = -1;           // the layer the list auditions (its voice is soloVoice)
    int lastAuditionResult = -1;
    int32_t auditionResultId = -1;     // that layer's id and voice: the audition ends when
    int auditionVoice = -1;            // the voice no longer carries the id

    // --- Engine and render preferences -----------------------------------
    int projectSampleRate = 48000;
    bool protectSilence = true;
    bool destructiveEQ = false;
    bool showSpectralHeatmap = false;
    bool heatmapRawTiming = false;
    bool colorByWeight = true;
    bool showAdvancedInspector = false;
    // The mixer's Ref strip mute: the reference audio then plays at 0 while
    // the strip's gain (the engine's refGain) is kept.
    bool refMute = false;

    // --- Export settings --------------------------------------------------
    ExportSettings exportSettings;

    // --- Picture trace ------------------------------------------------------
    // Raised by the trace's start, cleared by its worker as its last step.
    // The worker's cancel flag is busyTask.cancelRequested.
    std::atomic<bool> traceRunning{false};
    std::atomic<float> traceProgress{0};  // 0..1, written by the trace worker
    OpticalTrace opticalTrace;
    float opticalDetail = 0.35f;  // saved with the project's trace
    TraceDeriveSettings traceDeriveSettings;
    std::vector<MarkerEvent> importedMarkers;        // from a session text
    std::vector<MarkerScene> importedMarkerScenes;   // waiting to become scenes
    std::string markerFilePath;                      // the last session text read
    bool traceFitRequest = false;                    // fit the timeline to the trace items next frame

    // --- Work area and saved view -----------------------------------------
    float workAreaIn = -1;
    float workAreaOut = -1;
    float savedViewStart = -1;
    float savedViewDuration = -1;
    float savedProjectDuration = -1;

    // --- Confirmation, busy task and worker slot --------------------------
    int confirmAction = 0;
    bool quitAfterConfirm = false;
    bool openDialogAfterConfirm = false;  // the confirmation guards the Open dialog
    bool quitRequested = false;
    bool quitAfterExport = false;         // a quit waits for the running export to end
    bool shuttingDown = false;            // quitting has stopped the workers: none starts again
    // SIGTERM, SIGHUP or SIGINT being served (0: none): the program ends once
    // a Save, an export (stopped) and a task (cancelled) are over, asking
    // nothing.
    int terminationSignal = 0;
    // The signal's recovery backup has been written (or was not needed): it is
    // written as soon as nothing changes the document, before any wait.
    bool terminationBackupDecided = false;
    // The end leaves the crash lock and the backups, as a crash would: the
    // next start offers the recovery backup written for the signal.
    bool keepRecoveryOnExit = false;
    // The clock of the interface's timers (toasts, the busy overlay, bursts,
    // the save's progress text); the busy task reads it too. A test holds it
    // by hand (interface_clock.h).
    InterfaceClock clock;
    BusyTask busyTask;                    // its `worker` is the one worker-thread slot
    TextureHandle frozenFrameTexture = nullptr;  // the busy overlay's backdrop (frame driver)
    float frozenFrameUv[4] = {0, 0, 1, 1};       // u0, v0, u1, v1 that draw it upright
    std::atomic<int32_t> renderEventsDone{0};
    std::atomic<int32_t> renderEventsTotal{0};
    // Rebuild every voice on the next frame that may change the document.
    // Raised by panels and by workers (the voice integrity check).
    std::atomic<bool> deferredRebuild{false};
    int pendingBedLoadEvent = -1;
    // The workers that prepare the voices the playhead nears
    // (operations/voice_streaming.h); made on first use, stopped at quit.
    std::unique_ptr<VoiceStreamer> voiceStreamer;
    // The transport as the frame last saw it, and the playback gaps counted
    // when it started (the log line at each stop sums the stretch).
    PlaybackGapWatch playbackGaps;
    // The Bed events as the last rebuild of their layers left them: the
    // frame step compares, the rebuild job makes the layers.
    BedWatch bedWatch;
    // Raised by the frame step when only Beds changed: their job rebuilds
    // the Beds' layers and only the voices those reach (RebuildBedsAsync).
    std::atomic<bool> bedRebuild{false};
    // What the last Bed job read: Beds it compared with their layer lists,
    // layers the tracks' repack visited, voices whose keys it compared,
    // voices whose settings it checked; `whole` when it fell back to every
    // track and every voice. `resultsScanned` when it read every result for
    // the Beds or the Clips' weights.
    struct BedSyncCounts {
        std::atomic<int64_t> bedsRead{0};
        std::atomic<bool> resultsScanned{false};
        std::atomic<int64_t> layersPacked{0};
        std::atomic<int64_t> voicesCompared{0};
        std::atomic<int64_t> voicesSettled{0};
        std::atomic<int64_t> voicesLevelled{0};  // every voice when the levels took a whole pass
        std::atomic<bool> whole{false};
    } bedSync;

    // --- Render request ---------------------------------------------------
    int renderRequestKind = 0;  // 0 none, 1 all, 2 all after unlocking, 3 one event, 4 a list
    bool lockAfterRender = false;
    int renderRequestIndex = -1;
    std::vector<int> renderRequestList;

    // --- Export job ---------------------------------------------------------
    std::atomic<bool> exportRunning{false};
    std::atomic<bool> exportDone{false};  // raised by the export thread as its last step
    std::atomic<bool> exportCancel{false};  // the running export is asked to stop (StopRunningExport)
    std::atomic<bool> exportEnding{false};  // the program is being ended: a stopped export does not wait on the disk
    std::atomic<float> exportProgress{-1.0f};
    double exportDoneTime = -1;           // interface clock when first seen done; -1 = not yet
    // Written by the export thread, read by the frame: only through
    // SetExportStatus / ExportStatusText (operations/export_job.h). Room for
    // a final text that names a file, says why it failed and counts the
    // layers that did not go out as measured, each whole.
    char exportStatus[256] = {};
    mutable std::mutex exportStatusMutex;
    ThreadHandleHolder exportThread;
    std::function<void()> exportCompletion;  // run once by the frame, 0.8 s after done

    // --- Platform callbacks -----------------------------------------------
    std::function<void(const std::string&)> revealFileCallback;
    std::function<void(const std::string&)> openUrlCallback;
    std::function<void(const std::string&)> openFileCallback;
    // Library panel: the SAVE PALETTE view, the row being renamed, the
    // selection and the row a Shift-click extends it from (vector indices of
    // the sound library). The panel's other state is its own (ui/library_panel.h).
    bool savePaletteOpen = false;
    int renamingLibrary = -1;
    char libraryRenameBuffer[128] = {};
    bool libraryRenameFocus = false;  // the rename field takes the focus next frame and stays open
    std::set<int> librarySelection;
    int librarySelectionAnchor = -1;
    int libraryIndex = -1;

    // --- About box and start-up resources ---------------------------------
    bool showAbout = false;
    TextureHandle aboutBannerTexture = nullptr;
    float aboutBannerWidth = 0;
    float aboutBannerHeight = 0;
    TextureHandle aboutLogoTexture = nullptr;
    float aboutLogoWidth = 0;
    float aboutLogoHeight = 0;
    GuiFont titleFont = nullptr;
    std::string pendingThumbnailPath;

    // --- Platform hooks -----------------------------------------------------
    LoadImageTextureFn loadImageTexture = nullptr;
    ReleaseImageTextureFn releaseImageTexture = nullptr;
    PickFolderDialogFn pickFolderDialog = nullptr;
    ExportSaveDialogFn exportSaveDialog = nullptr;
    OpenFileDialogFn openFileDialog = nullptr;
    SaveFileDialogFn saveFileDialog = nullptr;
    QuestionDialogFn questionDialog = nullptr;
    // What a test script watches and holds the jobs by; every context made
    // over this state carries it (null in the program). Its owner keeps it
    // until every job is over (document_context.h).
    const JobObserver* observer = nullptr;

    // --- Document status and preferences mirror ---------------------------
    bool modified = false;
    // FNV-1a 64 of the project file as last saved or opened (0: none): each
    // backup names it as the save it extends.
    uint64_t savedProjectHash = 0;
    // The project-file writer: one save, autosave or untitled backup at a
    // time, on a thread of its own beside the worker slot and the export
    // (operations/project_save.cpp). Null while none runs.
    std::shared_ptr<ProjectSaveJob> saveJob;
    std::thread saveWorker;
    UndoHistory undoHistory;  // emptied when a project is opened or made
    double autoSaveElapsed = 0;
    float autoSaveInterval = 300;
    int maxBackups = 5;
    bool autoSaveEnabled = true;
    std::string crashLockPath;
    std::vector<std::string> recentProjects;
    bool recipeMenusDirty = true;
    bool recentMenuDirty = false;
    bool showLauncher = false;
    bool showLauncherOnStartup = true;
    bool launcherDismissed = false;
    int launcherIndex = -1;
    std::string exeDir;

    // --- Update check -------------------------------------------------------
    bool updateCheckEnabled = true;
    int64_t lastUpdateCheck = 0;
    std::string updateAvailableVersion;
    std::string updateAvailablePageUrl;
    std::string updateAvailableDate;
    std::vector<std::string> updateAvailableNotes;
    bool updateAvailable = false;
    std::atomic<bool> updateCheckStarted{false};
    std::atomic<bool> savePrefsRequest{false};
    std::string dismissedUpdateVersion;
    UpdateCheckWorker updateCheck;  // the check's thread and its hand-over

    // --- Custom title bar ---------------------------------------------------
    float titleBarLeftInset = 12;
    float titleBarRightReserve = 142;
    bool titleBarInsetIsMinimum = false;
    bool uiAnimating = false;
    // Set by the main loop for a frame in which nothing can have changed the
    // document, the playhead or the view for the last few frames (no input,
    // no worker, no playback, no script step). The per-frame checks that walk
    // the whole project (voices at the playhead, the Bed layer lists, the
    // lanes' indexes and narrow columns) then keep their last answer, so an
    // idle window costs nothing proportional to the project. Whatever else
    // draws frames (tests, benchmarks) leaves it false and gets every walk.
    bool quietFrame = false;
    // The same for the document alone: also set while only the pointer or
    // the view moves (the wheel, hover, a middle-button pan), which changes
    // no document. The walks over the project follow this one; what is drawn
    // from hover or the view (the lanes' kept picture) follows quietFrame.
    bool documentQuiet = false;
    bool customTitleBar = false;
    std::function<void(float& x, float height)> hamburgerMenuCallback;
    std::function<void(float height)> titleBarCallback;
    float titleBarDragMinX = 0;
    float titleBarDragMaxX = 0;
    float titleBarHeight = 0;
    std::function<void()> quitCallback;

    // --- Pending command and paths ------------------------------------------
    std::atomic<int> pendingCommand{0};
    std::string pendingOpenPath;   // opened on the next frame (command line, second copy)
    std::string confirmOpenPath;   // waits behind the unsaved-changes prompt
    bool unloadVideoRequest = false;
    std::string pendingVideoReloadPath;  // the opened project's video, loaded on the next frame
    float pendingVideoStartTime = 0;     // its start on the timeline (seconds)
    // The project's video when its file could not be opened: saved with the
    // project until another video is loaded or the video is removed.
    std::string offlineVideoPath;

    // --- Drop hand-over -------------------------------------------------------
    std::string droppedVideoPath;
    std::vector<std::string> droppedFolders;
    std::vector<std::string> droppedAudioFiles;
    bool droppedAltKey = false;
    bool dragAltHeld = false;
    bool dragAccepted = false;
    bool dragHasFolder = false;
    bool dragHasVideo = false;
    bool dragHasAudio = false;
    float dragHoverX = 0;
    float dragHoverY = 0;
    int dragHoverScene = -1;
    int pendingDeleteEvent = -1;

    // --- Paths and toast --------------------------------------------------------
    std::string projectPath;
    std::string projectName;
    std::string projectDescription;
    std::string toastText;
    float toastTimer = 0;
};

extern AppState gAppState;


// False while a busy task or an export runs: then nothing that changes the
// document, its results or the voices may run (it is refused or parked).
bool DocumentMayChange(const AppState& app);

// The toast line shows `text` for `seconds`; each frame counts it down by the
// frame time (a running toast keeps the main loop awake).
void ShowToast(AppState& app, std::string text, float seconds);
void TickToast(AppState& app, float frameSeconds);
// How long the sentence of a refused path stays (a drop, a video, a library
// folder, a relink); an open that is refused keeps the 3 s of "not found".
constexpr float kRefusalToastSeconds = 4.0f;

// Stops and joins every background thread that may touch the document, in
// order: library analysis, library scan and fingerprint, recipe preview, the
// worker slot, the project-file writer (an autosave stops, a save is waited
// for), the voice streamer, the render engine's scoring threads. Called on the UI thread on the way out, never from a worker.
// The two-argument form lets tests pass a private library.
struct SoundLibrary;
void StopBackgroundWorkers(AppState& app);
void StopBackgroundWorkers(AppState& app, SoundLibrary& library);
