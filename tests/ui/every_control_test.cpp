// Every control of the window that changes the document, in one table: each
// row makes its change on a small project with layers and voices, as the
// control does (the entry point it calls, with the gesture's first step
// where it is a drag), and then checks what a designer relies on:
//   - the unsaved flag is set;
//   - one Undo brings back the saved document exactly, and Redo the change;
//   - the voices are, field by field, those a fresh open of the same
//     document builds (the sync every open runs);
//   - the export equals, file for file and byte for byte, the export of
//     the project written and opened again.
// A control added to the window joins the table. The mixer's settings, the
// export options and the project's settings are saved but kept out of the
// undo history (kOutsideUndo): undo leaves them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/clip_edits.h"
#include "operations/curve_strokes.h"
#include "operations/edit_steps.h"
#include "operations/event_drags.h"
#include "operations/event_edits.h"
#include "operations/event_placement.h"
#include "operations/export_job.h"
#include "operations/export_options.h"
#include "operations/job_requests.h"
#include "operations/library_edits.h"
#include "operations/mixer_controls.h"
#include "operations/project_lifecycle.h"
#include "operations/project_settings.h"
#include "operations/recipe_placement.h"
#include "operations/render_requests.h"
#include "operations/scene_edits.h"
#include "operations/undo.h"
#include "operations/voice_sync.h"
#include "persistence/collect_audio.h"
#include "picture/marker_records.h"
#include "persistence/project_file.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"
#include "recipes/event_preset.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"
#include "ui/event_commands.h"
#include "ui/event_menu_logic.h"
#include "ui/events_list_logic.h"
#include "ui/inspector_logic.h"
#include "ui/mixer_panel_logic.h"
#include "ui/result_layers_logic.h"
#include "ui/trace_panel_logic.h"
#include "ui/transport_logic.h"

namespace fs = std::filesystem;

namespace {

// ---------------------------------------------------------------------------
// The document every row starts from
// ---------------------------------------------------------------------------

struct ControlsProject {
    std::string path;                 // the project file
    std::vector<std::string> sounds;  // library sounds a row may drop, pin or swap in
};

// One scene of every shape (a Bed, Spots, a Bloom, a Contour, a Fill, a
// Scatter, a Clip) twice over, with layers and two scenes, on a timeline of
// 16 s (every row exports it twice with every pass, each pass as long as the
// timeline); written once per process into a folder removed at exit.
const ControlsProject& ProjectForRun() {
    static TempDir dir;
    static const ControlsProject made = [] {
        ControlsProject out;
        LargeProjectSpec spec{.eventCount = 16,
                              .seconds = 16,
                              .layers = LargeProjectLayers::Made,
                              .layersPerEvent = 2,
                              .soundCount = 10,
                              .soundSeconds = 0.6f,
                              .seed = 7};
        LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        FixProbedWeights(large.project);
        Scene opening, street;
        CopyTextField(opening.name, "Opening");
        opening.inTime = 0;
        opening.outTime = 6;
        CopyTextField(street.name, "Street");
        street.inTime = 6;
        street.outTime = 12;
        large.project.scenes = {opening, street};
        for (int e : {0, 1}) CopyTextField(large.project.events[size_t(e)].folder, "Doors");
        out.sounds = large.library.paths;
        out.path = WriteLargeProject(large, dir.path(), "Controls");
        return out;
    }();
    return made;
}

// ---------------------------------------------------------------------------
// One open document and what the checks read from it
// ---------------------------------------------------------------------------

struct OpenDocument : LifecycleRig {
    DocumentContext Ctx() { return Context(); }

    // `everyPass`: the export settings become every pass before anything is
    // compared; a project written by a row carries them (they are saved), so
    // its reopening keeps what the file says.
    bool Open(const std::string& path, bool everyPass = true) {
        QuietStdout(true);
        const bool opened = OpenProject(ctx, path);
        QuietStdout(false);
        if (!opened) return false;
        if (everyPass) app->exportSettings = EveryExportPass();
        Settle();
        return true;
    }

    // What the frame loop does between frames until nothing is left to do:
    // the requests edits leave (Bed rebuilds, deferred voice rebuilds,
    // renders, deletions) and the busy task that carries them out.
    void Settle() {
        QuietStdout(true);
        for (int round = 0; round < 30; ++round) {
            if (app->busyTask.busy.load()) {
                SettleBusyTask(*app);
                continue;
            }
            const bool asked = app->deferredRebuild.load() || app->bedRebuild.load() || app->renderRequestKind > 0 ||
                               app->pendingBedLoadEvent >= 0 || app->pendingDeleteEvent >= 0;
            TakeJobRequests(Ctx(), {});
            if (!asked && !app->busyTask.busy.load()) break;
        }
        QuietStdout(false);
    }

    ProjectSaveContext SaveContext() {
        ProjectSaveContext save = FillProjectSaveContext(ctx);
        save.collectAudio = false;  // the sounds stay where they are: the texts compare
        return save;
    }

    // The project file's text for the document as it stands.
    std::string Text() { return BuildProjectJson(SaveContext(), CollectedAudioMap{}, dir.path()); }

    bool WriteTo(const std::string& path) { return WriteProjectFile(path, SaveContext()); }

    std::map<std::string, std::string> Export(const std::string& folder) {
        QuietStdout(true);
        const ExportReport report =
            RunExportJob(MakeExportJob(*app, *project, *engine, folder + "/Reel"), ExportContextOf(ProgramAafStep()));
        QuietStdout(false);
        EXPECT_TRUE(report.Succeeded()) << report.finalText;
        return ExportedFiles(folder);
    }

    int EventOfShape(int shape, int nth = 0) const {
        for (size_t e = 0; e < project->events.size(); ++e)
            if (project->events[e].shape == shape && nth-- == 0) return int(e);
        return -1;
    }
    int LayerOf(int event) const {
        for (size_t r = 0; r < project->results.size(); ++r)
            if (project->results[r].eventIdx == event && !project->results[r].filepath.empty()) return int(r);
        return -1;
    }
    void Select(std::vector<int> events) {
        app->selectedEvents = std::set<int>(events.begin(), events.end());
        app->selectedEvent = events.empty() ? -1 : events.front();
    }
};

// The voices an open builds, against the voices the edit left: the same
// layers in the same order, with the same samples, place, gains and mutes.
void ExpectSameVoices(const AudioEngine& got, const AudioEngine& want) {
    ASSERT_EQ(got.voices.size(), want.voices.size()) << "voice count";
    for (size_t v = 0; v < got.voices.size(); ++v) {
        const PlaybackVoice& a = got.voices[v];
        const PlaybackVoice& b = want.voices[v];
        const std::string at = "voice " + std::to_string(v) + " (layer " + std::to_string(b.resultIndex) + ")";
        ASSERT_EQ(a.resultIndex, b.resultIndex) << at;
        EXPECT_EQ(a.eventIndex, b.eventIndex) << at;
        EXPECT_EQ(a.sampleKey, b.sampleKey) << at;
        EXPECT_EQ(a.sampleCount, b.sampleCount) << at;
        EXPECT_TRUE(a.left == b.left && a.right == b.right) << at << ": samples differ";
        EXPECT_EQ(a.startTime, b.startTime) << at;
        EXPECT_EQ(a.plainStartTime, b.plainStartTime) << at;
        EXPECT_EQ(a.gain.load(), b.gain.load()) << at;
        EXPECT_EQ(a.eventGain.load(), b.eventGain.load()) << at;
        EXPECT_EQ(a.levelScale, b.levelScale) << at;
        EXPECT_EQ(a.normGain, b.normGain) << at;
        EXPECT_EQ(a.pan, b.pan) << at;
        EXPECT_EQ(a.group, b.group) << at;
        EXPECT_EQ(a.muted.load(), b.muted.load()) << at;
        EXPECT_EQ(a.reverbSend, b.reverbSend) << at;
        EXPECT_EQ(a.intensityScale, b.intensityScale) << at;
        EXPECT_EQ(a.pitchShift, b.pitchShift) << at;
        EXPECT_TRUE(a.fillGain == b.fillGain && a.intGain == b.intGain && a.deconGain == b.deconGain)
            << at << ": gain curves differ";
        if (::testing::Test::HasFailure()) return;
    }
}

// ---------------------------------------------------------------------------
// The table
// ---------------------------------------------------------------------------

using Step = std::function<bool(OpenDocument&)>;

struct Control {
    Control(const char* n, Step a, Step p = nullptr) : name(n), apply(std::move(a)), prepare(std::move(p)) {}
    const char* name;  // the control as the window shows it
    Step apply;        // what the control does, as it calls the program
    Step prepare;      // the state the control needs, when it needs one (not part of the check)
};

// A drag: the gesture's start (its one undo step), then steps.
bool Gesture(OpenDocument& d, const char* what, const std::function<bool()>& steps) {
    return BeginEdit(d.Ctx(), what) && steps();
}

const std::vector<Control>& Controls() {
    static const std::vector<Control> table = {
        // ---- Inspector, one event ----
        {"inspector mute button", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeSpot);
             return SetEventMuted(d.Ctx(), e, true);
         }},
        {"inspector volume drag", [](OpenDocument& d) {
             EditGesture gesture;
             return SetEventVolume(d.Ctx(), d.EventOfShape(kShapeSpot), -9, gesture);
         }},
        {"inspector lock", [](OpenDocument& d) { return ToggleEventLock(d.Ctx(), d.EventOfShape(kShapeSpot)); }},
        {"inspector re-render", [](OpenDocument& d) { return RequestEventRerender(d.Ctx(), d.EventOfShape(kShapeBloom)); }},
        {"inspector keywords field", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeSpot);
             KeywordEditSession session;
             BeginKeywordEdit(session, *d.project, e);
             CopyTextField(d.project->events[size_t(e)].keywords, "glass shatter");  // the field writes in place
             return NoteKeywordEdit(session, d.Ctx(), e) && session.pushed;
         }},
        {"inspector palette filter", [](OpenDocument& d) {
             return SetEventLibFilter(d.Ctx(), d.EventOfShape(kShapeSpot), "Library");
         }},
        {"inspector palette filter cleared", [](OpenDocument& d) { return ClearLibFilter(d.Ctx(), d.EventOfShape(kShapeSpot)); },
         [](OpenDocument& d) {
             CopyTextField(d.project->events[size_t(d.EventOfShape(kShapeSpot))].libFilter, "Library");
             return true;
         }},
        {"inspector scale tune", [](OpenDocument& d) { return SetScaleTune(d.Ctx(), {d.EventOfShape(kShapeSpot)}, 2); }},
        {"inspector spectral layers drag", [](OpenDocument& d) {
             return Gesture(d, "Spectral layers", [&] { return SetFillLayers(d.Ctx(), d.EventOfShape(kShapeFill), 5); });
         }},
        {"inspector scene link", [](OpenDocument& d) { return LinkEventToScene(d.Ctx(), d.EventOfShape(kShapeFill), 1); }},
        {"inspector bus button", [](OpenDocument& d) { return ToggleEventBus(d.Ctx(), d.EventOfShape(kShapeSpot)); }},
        {"inspector clip offset drag", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeClip);
             return Gesture(d, "Clip offset", [&] {
                 return SetClipOffset(d.Ctx(), e, 0.04f) && SetClipOffset(d.Ctx(), e, 0.12f);
             });
         }},
        {"inspector pitch drag", [](OpenDocument& d) {
             return Gesture(d, "Pitch", [&] { return SetEventPitch(d.Ctx(), d.EventOfShape(kShapeSpot), 7); });
         }},
        {"inspector scene crossfade drag", [](OpenDocument& d) {
             const int fill = int(d.project->events.size()) - 1;  // the background the preparation added
             return Gesture(d, "Crossfade", [&] { return SetSceneCrossfade(d.Ctx(), fill, 12); });
         },
         [](OpenDocument& d) { return AddEmptySceneBackground(d.Ctx(), 0, false) >= 0; }},
        {"inspector weight curve drag", [](OpenDocument& d) {
             return Gesture(d, "Weight", [&] { return SetWeightOffset(d.Ctx(), d.EventOfShape(kShapeFill), 0.3f); });
         }},
        {"inspector intensity curve drag", [](OpenDocument& d) {
             return Gesture(d, "Intensity", [&] { return SetIntensityScale(d.Ctx(), d.EventOfShape(kShapeBed), 1.5f); });
         }},
        {"inspector sync marker drag", [](OpenDocument& d) {
             return Gesture(d, "Sync point", [&] { return SetSyncMarker(d.Ctx(), d.EventOfShape(kShapeBloom), 0.2f); });
         }},
        {"inspector curve paint", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeContour);
             bool wrote = false;
             for (float x : {0.2f, 0.3f, 0.4f})
                 wrote = PaintInspectorCurveStroke(d.Ctx(), e, kCurveLaneIntensity, x, 0.8f) || wrote;
             EndInspectorCurveStroke(d.Ctx(), e, kCurveLaneIntensity);
             return wrote;
         }},
        {"inspector recipe", [](OpenDocument& d) {
             EventPreset recipe = PresetFromEvent(d.project->events[size_t(d.EventOfShape(kShapeBloom))]);
             return ApplyRecipeToEvent(d.Ctx(), d.EventOfShape(kShapeSpot), recipe);
         }},
        {"inspector replace clip file", [](OpenDocument& d) {
             return ReplaceClipFile(d.Ctx(), d.EventOfShape(kShapeClip), ProjectForRun().sounds.back());
         }},
        {"inspector unpin all", [](OpenDocument& d) { return UnpinAllFiles(d.Ctx(), d.EventOfShape(kShapeSpot)); },
         [](OpenDocument& d) {
             PinFileToEvent(d.project->events[size_t(d.EventOfShape(kShapeSpot))], ProjectForRun().sounds[0], "");
             return true;
         }},
        {"bed layer moved", [](OpenDocument& d) { return MoveBedLayer(d.Ctx(), d.EventOfShape(kShapeBed), 0, 1); },
         [](OpenDocument& d) { return AddBedLayers(d.Ctx(), d.EventOfShape(kShapeBed), {ProjectForRun().sounds[3]}); }},
        {"bed layer removed", [](OpenDocument& d) { return RemoveBedLayer(d.Ctx(), d.EventOfShape(kShapeBed), 0); },
         [](OpenDocument& d) { return AddBedLayers(d.Ctx(), d.EventOfShape(kShapeBed), {ProjectForRun().sounds[3]}); }},
        {"bed layer loop", [](OpenDocument& d) { return ToggleBedLayerLoop(d.Ctx(), d.EventOfShape(kShapeBed), 0); }},
        {"bed layer replaced", [](OpenDocument& d) {
             return ReplaceBedLayer(d.Ctx(), d.EventOfShape(kShapeBed), 0, ProjectForRun().sounds[4]);
         }},
        {"bed layer added", [](OpenDocument& d) {
             return AddBedLayers(d.Ctx(), d.EventOfShape(kShapeBed), {ProjectForRun().sounds[5]});
         }},
        // ---- Inspector, several events ----
        {"batch keywords", [](OpenDocument& d) {
             return SetBatchKeywords(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)}, "rain");
         }},
        {"batch palette filter", [](OpenDocument& d) {
             return SetBatchLibFilter(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)}, "Library");
         }},
        {"batch pitch drag", [](OpenDocument& d) {
             const std::vector<int> two = {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)};
             return Gesture(d, "Pitch", [&] { return SetBatchPitch(d.Ctx(), two, 9); });
         }},
        {"batch bus", [](OpenDocument& d) {
             return ToggleBatchBus(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeSpot, 1)});
         }},
        {"batch scale tune", [](OpenDocument& d) {
             return SetScaleTune(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)}, 2);
         }},
        {"batch recipe", [](OpenDocument& d) {
             EventPreset recipe = PresetFromEvent(d.project->events[size_t(d.EventOfShape(kShapeContour))]);
             return ApplyRecipeToSelection(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeClip)}, recipe);
         }},
        {"batch volume drag", [](OpenDocument& d) {
             EditGesture gesture;
             return MoveBatchVolume(d.Ctx(), {d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)}, -6, gesture);
         }},
        // ---- Commands and the events' menu ----
        {"paste", [](OpenDocument& d) {
             EventClipboard clipboard;
             d.Select({d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeClip)});
             CopySelectedEvents(*d.project, *d.app, clipboard);
             d.app->currentTime = 13;
             return !PasteEventClipboard(d.Ctx(), clipboard).empty();
         }},
        {"nudge", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeClip)});
             return NudgeSelection(d.Ctx(), 1, 100.0) && NudgeSelection(d.Ctx(), 1, 100.1);
         }},
        {"lock selection", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBloom)});
             return ToggleSelectionLocked(d.Ctx());
         }},
        {"mute selection", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBed)});
             return ToggleSelectionMuted(d.Ctx());
         }},
        {"hero", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeSpot)});
             return ToggleSelectionHero(d.Ctx());
         }},
        {"re-render selection", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeClip), d.EventOfShape(kShapeSpot)});
             RerenderSelection(d.Ctx());
             return d.app->modified;
         }},
        {"group", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeBloom), d.EventOfShape(kShapeContour)});
             return GroupSelection(d.Ctx());
         }},
        {"ungroup", [](OpenDocument& d) {
             d.Select({0});
             return UngroupSelection(d.Ctx());
         }},
        {"new event", [](OpenDocument& d) {
             d.app->currentTime = 2.5;
             return CreateEventAtPlayhead(d.Ctx(), kShapeBloom) >= 0;
         }},
        {"delete", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeSpot), d.EventOfShape(kShapeBed, 1)});
             return DeleteSelectedEvents(d.Ctx());
         }},
        {"render button", [](OpenDocument& d) { return RequestRenderEdit(d.Ctx(), 1); },
         [](OpenDocument& d) {
             d.project->events[size_t(d.EventOfShape(kShapeSpot))].locked = false;
             return true;
         }},
        {"unlock all", [](OpenDocument& d) { return UnlockAllEvents(d.Ctx()); },
         [](OpenDocument& d) {
             d.project->events[size_t(d.EventOfShape(kShapeSpot))].locked = true;
             return true;
         }},
        // ---- Events list ----
        {"folder renamed", [](OpenDocument& d) { return RenameFolder(d.Ctx(), "Doors", "Entrances"); }},
        {"folder ungrouped", [](OpenDocument& d) { return UngroupFolder(d.Ctx(), "Doors"); }},
        {"folder deleted", [](OpenDocument& d) { return DeleteFolder(d.Ctx(), "Doors"); }},
        {"folder link", [](OpenDocument& d) { return SetFolderLinked(d.Ctx(), "Doors", true); }},
        {"drop on a folder", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeFill)});
             return MoveSelectionToFolder(d.Ctx(), "Doors");
         }},
        {"drop below the folders", [](OpenDocument& d) {
             d.Select({0, 1});
             return RemoveSelectionFromFolders(d.Ctx());
         }},
        // ---- Scenes ----
        {"new scene from the work area", [](OpenDocument& d) { return AddSceneFromSpan(d.Ctx(), 12.5, 14) >= 0; }},
        {"split scene", [](OpenDocument& d) {
             d.app->activeScene = 0;
             d.app->currentTime = 3;
             return SplitSceneAtPlayhead(d.Ctx());
         }},
        {"delete scene", [](OpenDocument& d) { return DeleteScene(d.Ctx(), 0); },
         [](OpenDocument& d) { return AddEmptySceneBackground(d.Ctx(), 0, true) >= 0; }},
        {"rename scene", [](OpenDocument& d) {
             CopyTextField(d.app->sceneNameEdit, "Alley");
             return ApplySceneName(d.Ctx(), 1, false);
         }},
        {"scene edge drag", [](OpenDocument& d) {
             return Gesture(d, "Scene edge", [&] {
                 return DragSceneEdge(d.Ctx(), 1, 2, 11, TimelineFps(*d.project), d.project->totalDuration);
             });
         }},
        {"work area drag with its scene", [](OpenDocument& d) {
             return Gesture(d, "Scene edge", [&] { return SetSceneSpan(d.Ctx(), 0, 0.5, 5.5); });
         }},
        {"scene background added", [](OpenDocument& d) { return AddEmptySceneBackground(d.Ctx(), 1, true) >= 0; }},
        {"scene background removed", [](OpenDocument& d) {
             return RemoveSceneBackground(d.Ctx(), int(d.project->events.size()) - 1);
         },
         [](OpenDocument& d) { return AddEmptySceneBackground(d.Ctx(), 1, false) >= 0; }},
        {"scene background from a recipe", [](OpenDocument& d) {
             EventPreset recipe = PresetFromEvent(d.project->events[size_t(d.EventOfShape(kShapeFill))]);
             PlaceRecipeAsSceneBackground(d.Ctx(), 1, recipe);
             return d.app->modified;
         }},
        // ---- Timeline ----
        {"timeline event drag", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeSpot);
             d.Select({e});
             if (!BeginEventMove(d.Ctx(), e)) return false;
             const float t = d.project->events[size_t(e)].time;
             const bool moved = MoveSelectionStep(d.Ctx(), t + 0.1f).delta != 0 &&
                                MoveSelectionStep(d.Ctx(), t + 0.2f).delta != 0;
             // The release: the voices take the tracks the drag gave their layers.
             EndEventDrag(d.Ctx(), moved);
             return moved;
         }},
        {"timeline event end drag", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeBloom);
             d.Select({e});
             if (!BeginEventResize(d.Ctx(), e)) return false;
             const float end = SpanOfEvent(d.project->events[size_t(e)]).end;
             const bool resized =
                 ResizeEventStep(d.Ctx(), e, end + 0.5f).done && ResizeEventStep(d.Ctx(), e, end + 0.75f).done;
             EndEventDrag(d.Ctx(), false);
             return resized;
         }},
        {"clip trim left edge", [](OpenDocument& d) {
             const int layer = d.LayerOf(d.EventOfShape(kShapeClip));
             ClipGesture gesture;
             if (!BeginClipTrim(d.Ctx(), gesture, layer, 1)) return false;
             const float start = d.project->results[size_t(layer)].startTime;
             const bool trimmed = ClipTrimStep(d.Ctx(), gesture, start + 0.05f, 0, d.project->totalDuration) &&
                                  ClipTrimStep(d.Ctx(), gesture, start + 0.1f, 0, d.project->totalDuration);
             return EndClipGesture(d.Ctx(), gesture) && trimmed;
         }},
        {"clip trim right edge", [](OpenDocument& d) {
             const int layer = d.LayerOf(d.EventOfShape(kShapeClip));
             ClipGesture gesture;
             if (!BeginClipTrim(d.Ctx(), gesture, layer, 2)) return false;
             const RenderResult& r = d.project->results[size_t(layer)];
             const float end = r.startTime + r.duration;
             const bool trimmed = ClipTrimStep(d.Ctx(), gesture, end - 0.1f, 0, d.project->totalDuration) &&
                                  ClipTrimStep(d.Ctx(), gesture, end - 0.2f, 0, d.project->totalDuration);
             return EndClipGesture(d.Ctx(), gesture) && trimmed;
         }},
        {"clip fade drag", [](OpenDocument& d) {
             const int layer = d.LayerOf(d.EventOfShape(kShapeClip));
             ClipGesture gesture;
             if (!BeginClipFadeDrag(d.Ctx(), gesture, layer, 2)) return false;
             const RenderResult& r = d.project->results[size_t(layer)];
             const float end = r.startTime + r.duration;
             const bool faded = ClipFadeStep(d.Ctx(), gesture, end - 0.1f) && ClipFadeStep(d.Ctx(), gesture, end - 0.15f);
             return EndClipGesture(d.Ctx(), gesture) && faded;
         }},
        {"timeline drop of sounds as Clips", [](OpenDocument& d) {
             d.app->currentTime = 13.5;
             return !PlaceAudioFilesAsClips(d.Ctx(), {ProjectForRun().sounds[1]}).empty();
         }},
        {"timeline drop of sounds as a Bed", [](OpenDocument& d) {
             d.app->currentTime = 13.5;
             return PlaceAudioFilesAsBed(d.Ctx(), {ProjectForRun().sounds[1], ProjectForRun().sounds[2]}) >= 0;
         }},
        {"recipe at the playhead", [](OpenDocument& d) {
             const std::vector<EventPreset> recipes = {
                 PresetFromEvent(d.project->events[size_t(d.EventOfShape(kShapeBloom))])};
             d.app->currentTime = 10;
             return PlaceRecipeAtPlayhead(d.Ctx(), recipes, 0) >= 0;
         }},
        // ---- Curve strokes, drops and the trace import ----
        {"timeline curve lane stroke", [](OpenDocument& d) {
             const int e = d.EventOfShape(kShapeBloom);
             const EventSpan span = SpanOfEvent(d.project->events[size_t(e)]);
             d.Select({e});
             BeginCurveStroke(*d.app, kCurveLaneWeight);
             bool wrote = true;
             for (float f : {0.2f, 0.4f, 0.6f})
                 wrote = PaintCurveStroke(d.Ctx(), span.start + f * (span.end - span.start), 0.9f, 40) && wrote;
             EndCurveStroke(d.Ctx());
             return wrote;
         }},
        {"drop on a scene", [](OpenDocument& d) {
             return DropFilesOnSceneBed(d.Ctx(), 1, {ProjectForRun().sounds[1], ProjectForRun().sounds[2]}) >= 0;
         }},
        {"drop on the selected Bed", [](OpenDocument& d) {
             d.Select({d.EventOfShape(kShapeBed)});
             return DropFilesOnBed(d.Ctx(), d.app->selectedEvent, {ProjectForRun().sounds[6]});
         }},
        {"trace import", [](OpenDocument& d) {
             MarkerEvent marker;
             marker.time = 13;
             marker.duration = 1;
             d.app->importedMarkers = {marker};
             MarkerScene scene;
             scene.time = 12.5;
             CopyTextField(scene.name, "Harbour");
             d.app->importedMarkerScenes = {scene};
             d.app->traceSourceFilter = -1;
             TracePanelState panel;
             return ImportAcceptedTraceItems(d.Ctx(), panel, {}, 0) == 1;
         }},
        // ---- Layers ----
        {"layer mute", [](OpenDocument& d) { return ToggleLayerMute(d.Ctx(), d.LayerOf(d.EventOfShape(kShapeSpot))); }},
        {"layer volume drag", [](OpenDocument& d) {
             EditGesture gesture;
             return SetLayerVolume(d.Ctx(), d.LayerOf(d.EventOfShape(kShapeSpot)), 4, gesture);
         }},
        {"layer like", [](OpenDocument& d) { return LikeLayer(d.Ctx(), d.LayerOf(d.EventOfShape(kShapeSpot))); }},
        {"layer dislike", [](OpenDocument& d) { return DislikeLayer(d.Ctx(), d.LayerOf(d.EventOfShape(kShapeSpot))); }},
        // ---- Mixer and master ----
        {"mixer master fader", [](OpenDocument& d) {
             SetStripGain(d.Ctx(), kStripIdMaster, 0.5f, false);
             return true;
         }},
        {"mixer group fader", [](OpenDocument& d) {
             SetStripGain(d.Ctx(), 1, 0.7f, false);
             return true;
         }},
        {"mixer reverb send", [](OpenDocument& d) {
             SetGroupReverbSend(*d.engine, *d.app, 1, 0.6f);
             return true;
         }},
        {"mixer reverb knob", [](OpenDocument& d) {
             SetReverbSetting(*d.engine, *d.app, 1, 0.8f);
             return true;
         }},
        {"master trim", [](OpenDocument& d) {
             return SetMasterTrim(d.Ctx(), TrimGainAfterDrag(d.engine->masterGain.load(), -30));
         }},
        // ---- Export tab ----
        {"export options", [](OpenDocument& d) {
             ExportSettings edited = d.app->exportSettings;
             edited.handleDuration = 2.5f;
             edited.exportAAFMarkers = !edited.exportAAFMarkers;
             return SetExportSettings(d.Ctx(), edited);
         }},
        // ---- Settings, the trace threshold and the library's name ----
        {"settings frame rate", [](OpenDocument& d) { return SetFrameRate(d.Ctx(), d.project->fps == 30 ? 25 : 30); }},
        {"settings start timecode", [](OpenDocument& d) { return SetStartTimecode(d.Ctx(), "01:00:00:12"); }},
        {"settings timeline duration", [](OpenDocument& d) { return SetTimelineDuration(d.Ctx(), "00:00:41:00"); }},
        {"settings sample rate", [](OpenDocument& d) {
             AudioOutput headless;  // no stream: the engine's rate changes alone
             const int rate = d.app->projectSampleRate == 44100 ? 48000 : 44100;
             return ChangeProjectSampleRate(d.Ctx(), headless, rate) == RebuildRequest::Queued;
         }},
        {"settings loudness normalize", [](OpenDocument& d) {
             return SetNormalizeLoudness(d.Ctx(), !d.project->normalizeLUFS) == RebuildRequest::Queued;
         }},
        {"settings loudness target", [](OpenDocument& d) {
             // A drag of FX A's target: its steps, then the release.
             return SetLoudnessTarget(d.Ctx(), 1, -20) && SetLoudnessTarget(d.Ctx(), 1, -27) &&
                    CommitLoudnessTarget(d.Ctx()) == RebuildRequest::Queued;
         },
         [](OpenDocument& d) { return SetNormalizeLoudness(d.Ctx(), true) != RebuildRequest::Deferred; }},
        {"settings track budget", [](OpenDocument& d) {
             // The box, its rebuild, then a drag of FX A's count down to one track.
             if (SetTrackBudget(d.Ctx(), true) != RebuildRequest::Queued) return false;
             d.Settle();
             return SetGroupTrackCount(d.Ctx(), 1, 1) && ApplyTrackBudget(d.Ctx()) == RebuildRequest::Queued;
         },
         [](OpenDocument& d) { return SetTrackBudget(d.Ctx(), false) != RebuildRequest::Deferred; }},
        {"settings scale type", [](OpenDocument& d) {
             return SetScaleType(d.Ctx(), d.project->scaleType == 2 ? 12 : 2) == RebuildRequest::Queued;
         }},
        {"settings scale root", [](OpenDocument& d) { return SetScaleRoot(d.Ctx(), 7) == RebuildRequest::Queued; },
         [](OpenDocument& d) { return SetScaleType(d.Ctx(), 1) != RebuildRequest::Deferred && SetScaleRoot(d.Ctx(), 0) != RebuildRequest::Deferred; }},
        {"settings description", [](OpenDocument& d) { return SetProjectDescription(*d.app, "Reel 2, temp mix"); }},
        {"trace threshold", [](OpenDocument& d) { return SetTraceThreshold(*d.app, 0.6f); },
         [](OpenDocument& d) {
             // A trace of the picture: the threshold is saved with it.
             OpticalTrace& trace = d.app->opticalTrace;
             trace.frames.assign(20, TraceFrame{});
             trace.numFrames = 20;
             trace.duration = 2;
             trace.present.store(true);
             return true;
         }},
        {"library rename", [](OpenDocument& d) {
             static std::vector<EventPreset> recipes;
             return RenameLibrary(d.Ctx(), *d.library, recipes, 0, "Foley").renamed;
         },
         [](OpenDocument& d) {
             LibraryIndex named;
             named.name = "Field";
             d.library->libraries.insert(d.library->libraries.begin(), named);
             CopyTextField(d.project->events[size_t(d.EventOfShape(kShapeSpot))].libFilter, "Field");
             return true;
         }},
    };
    return table;
}

// The mixer's settings, the export options and the project's settings are
// saved with the project but kept out of the undo history (undo is for the
// design; the mix is set by ear, the options are how it leaves): their rows
// check that undo leaves them as they are.
const std::set<std::string> kOutsideUndo = {
    "mixer master fader", "mixer group fader", "mixer reverb send", "mixer reverb knob", "master trim",
    "export options",
    // The project's settings, like the mix, are not design edits; a library's
    // name lives outside the document (its former names still match).
    "settings frame rate", "settings start timecode", "settings timeline duration", "settings sample rate",
    "settings loudness normalize", "settings loudness target", "settings track budget", "settings scale type",
    "settings scale root", "settings description", "trace threshold", "library rename",
};

// Where two project texts part: the line of each, for the failure message.
std::string FirstDifference(const std::string& a, const std::string& b) {
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    auto lineAround = [at](const std::string& t) {
        const size_t from = t.rfind('\n', at < t.size() ? at : t.size()) + 1;
        const size_t to = t.find('\n', at);
        return t.substr(from, (to == std::string::npos ? t.size() : to) - from).substr(0, 160);
    };
    return "\n  got:  " + lineAround(a) + "\n  want: " + lineAround(b);
}

class EveryControl : public ::testing::TestWithParam<size_t> {};

TEST_P(EveryControl, MarksUnsavedUndoesInOneStepAndPlaysAndExportsAsTheReopenedProject) {
    const Control& control = Controls()[GetParam()];
    const std::string row = control.name;
    const ControlsProject& file = ProjectForRun();
    ASSERT_FALSE(file.path.empty());
    OpenDocument doc;
    ASSERT_TRUE(doc.Open(file.path));
    ASSERT_FALSE(doc.project->results.empty());
    if (control.prepare) {
        ASSERT_TRUE(control.prepare(doc)) << row << ": the preparation failed";
        doc.Settle();
    }
    doc.app->modified = false;
    const std::string before = doc.Text();

    ASSERT_TRUE(control.apply(doc)) << row << ": the control did nothing";
    doc.Settle();
    const std::string after = doc.Text();
    ASSERT_TRUE(after != before) << row << ": the document is the same";
    EXPECT_TRUE(doc.app->modified) << row << ": the unsaved flag is not set";

    // The document written and opened again: its voices and its export.
    const std::string copy = doc.File("Reopened.tlproj");
    ASSERT_TRUE(doc.WriteTo(copy));
    OpenDocument reopened;
    ASSERT_TRUE(reopened.Open(copy, false));
    {
        SCOPED_TRACE(row + ": the voices against those a fresh open builds");
        ExpectSameVoices(*doc.engine, *reopened.engine);
    }
    const auto exported = doc.Export(doc.File("edited"));
    const auto reexported = reopened.Export(doc.File("reopened"));
    {
        SCOPED_TRACE(row + ": the export against the reopened project's");
        ExpectSameExportFiles(exported, reexported);
    }

    // One undo step brings the document back; redo brings the change.
    if (kOutsideUndo.count(row)) {
        RunUndoCommand(doc.Ctx(), false);
        doc.Settle();
        const std::string undone = doc.Text();
        EXPECT_EQ(undone, after) << row << ": undo took back a setting" << FirstDifference(undone, after);
        return;
    }
    ASSERT_TRUE(RunUndoCommand(doc.Ctx(), false)) << row << ": nothing to undo";
    doc.Settle();
    const std::string undone = doc.Text();
    ASSERT_EQ(undone, before) << row << ": one undo does not bring back the document" << FirstDifference(undone, before);
    ASSERT_TRUE(RunUndoCommand(doc.Ctx(), true)) << row << ": nothing to redo";
    doc.Settle();
    const std::string redone = doc.Text();
    EXPECT_EQ(redone, after) << row << ": redo does not bring back the change" << FirstDifference(redone, after);
}

std::string RowName(const ::testing::TestParamInfo<size_t>& info) {
    std::string name;
    for (const char* c = Controls()[info.param].name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, EveryControl, ::testing::Range<size_t>(0, Controls().size()), RowName);

// Every name kept outside undo is a row of the table, so a renamed row does
// not silently leave it.
TEST(EveryControlTable, TheRowsOutsideUndoAreRowsOfTheTable) {
    std::set<std::string> names;
    for (const Control& c : Controls()) EXPECT_TRUE(names.insert(c.name).second) << "two rows named " << c.name;
    for (const std::string& n : kOutsideUndo) EXPECT_TRUE(names.count(n)) << n << " is no row";
}

}  // namespace
