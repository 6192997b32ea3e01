// script_edits.cpp — the edits a test script names, as the interface makes them.
//
// Index
//   Targets          PlayedEvent, PlayedLayer (behind the playhead)
//   MakeScriptEdit   one edit by kind
#include "playback/transport.h"
#include "ui/script_edits.h"

#include <cstdio>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "operations/event_drags.h"
#include "operations/app_state.h"
#include "operations/audition.h"
#include "operations/document_context.h"
#include "operations/event_edits.h"
#include "operations/level_edits.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "playback/audio_engine.h"
#include "ui/event_commands.h"
#include "ui/event_menu_logic.h"
#include "ui/inspector_logic.h"

namespace {

constexpr double kBehind = 3.0;   // seconds between a target's end and the playhead
constexpr double kReach = 40.0;   // how far back a target may start

// The playhead's sample when the edit began goes with it: what the audio
// thread mixed before that sample the edit cannot have changed.
bool Say(const std::string& kind, int64_t at, const char* what) {
    std::printf("[Test] edit %s at sample %lld: %s\n", kind.c_str(), (long long)at, what);
    std::fflush(stdout);
    return true;
}

// ---------------------------------------------------------------------------
// Targets
// ---------------------------------------------------------------------------

// The seconds the event and its layers cover.
bool EventSpan(const Project& project, int e, double& first, double& last) {
    const Event& ev = project.events[size_t(e)];
    first = ev.time - ev.syncOffset;
    last = ev.time + ev.duration;
    bool layers = false;
    for (const RenderResult& r : project.results) {
        if (r.eventIdx != e) continue;
        layers = true;
        const double start = std::min(r.startTime, r.startTime + r.deconOffset);
        first = std::min(first, start);
        last = std::max(last, double(std::max(r.startTime, r.startTime + r.deconOffset)) + r.duration);
    }
    return layers;
}

// The played event of the shape group asked for (a Bed, or any other but a
// Clip) that ended last; -1 when none did. `muted`: -1 either, 0 only
// unmuted, 1 only muted.
int PlayedEvent(const Project& project, double t, bool bed, int muted) {
    int best = -1;
    double bestEnd = -1;
    for (size_t e = 0; e < project.events.size(); ++e) {
        const Event& ev = project.events[e];
        if ((ev.shape == kShapeBed) != bed || ev.shape == kShapeClip) continue;
        if (muted >= 0 && ev.muted != (muted != 0)) continue;
        double first = 0, last = 0;
        if (!EventSpan(project, int(e), first, last)) continue;
        if (last > t - kBehind || first < t - kReach || first < 0.5) continue;
        if (last > bestEnd) {
            bestEnd = last;
            best = int(e);
        }
    }
    return best;
}

}  // namespace

// ---------------------------------------------------------------------------
// MakeScriptEdit
// ---------------------------------------------------------------------------

bool MakeScriptEdit(const std::string& kind) {
    const DocumentContext ctx = ProgramDocumentContext();
    Project& project = *ctx.project;
    AppState& app = *ctx.app;
    AudioEngine& engine = *ctx.engine;
    const int64_t at = engine.position.load();
    const double t = GetPlaybackTime(engine);
    auto none = [&] {
        std::printf("[Test] edit %s: nothing the playhead has left behind qualifies\n", kind.c_str());
        std::fflush(stdout);
        return false;
    };

    if (kind == "undo" || kind == "redo") {
        if (!RunUndoCommand(ctx, kind == "redo")) return none();
        return Say(kind, at, "done");
    }
    if (kind == "solo" || kind == "unsolo") {
        if (kind == "unsolo") {
            if (app.soloResultId < 0) return none();
            ToggleLayerSolo(engine, app, app.soloResultId);
            return Say(kind, at, "done");
        }
        const int e = PlayedEvent(project, t, false, -1);
        for (const RenderResult& r : project.results)
            if (e >= 0 && r.eventIdx == e) {
                ToggleLayerSolo(engine, app, r.id);
                return Say(kind, at, "done");
            }
        return none();
    }

    const bool bed = kind == "bedmove" || kind == "bedlength";
    const int e = PlayedEvent(project, t, bed, kind == "mute" ? 0 : kind == "unmute" ? 1 : -1);
    if (e < 0) return none();
    if (kind == "move" || kind == "bedmove") {
        // A timeline drag: one undo step, the event (with its layers and
        // voices) moved frame by frame, then the voices in line at its end.
        SelectEvent(app, e);
        if (!BeginEventMove(ctx, e)) return false;
        bool moved = false;
        for (int step = 0; step < 5; ++step)
            moved = MoveSelectionStep(ctx, project.events[size_t(e)].time - 0.05f).delta != 0 || moved;
        EndEventDrag(ctx, moved);
        return Say(kind, at, "done");
    }
    if (kind == "bedlength") {
        // The end's drag, a quarter second shorter: the Bed's layers follow
        // when the frame notices.
        if (!BeginEventResize(ctx, e)) return false;
        const bool resized = ResizeEventStep(ctx, e, SpanOfEvent(project.events[size_t(e)]).end - 0.25f).done;
        EndEventDrag(ctx, false);
        if (!resized) return none();
        return Say(kind, at, "done");
    }
    if (kind == "gain") {
        // The inspector's volume drag, as the control makes it: three frames
        // of one gesture, which takes its own undo step and unsaved flag.
        EditGesture drag;
        bool changed = false;
        for (float db : {-2.0f, -4.0f, -6.0f}) changed = SetEventVolume(ctx, e, db, drag) || changed;
        if (!changed) return none();
        return Say(kind, at, "done");
    }
    if (kind == "mute" || kind == "unmute") {
        SelectEvents(app, {e});
        if (!ToggleSelectionMuted(ctx)) return none();
        return Say(kind, at, "done");
    }
    if (kind == "delete") {
        SelectEvents(app, {e});
        if (!DeleteSelectedEvents(ctx)) return none();
        return Say(kind, at, "done");
    }
    std::printf("[Test] edit %s: no such edit\n", kind.c_str());
    std::fflush(stdout);
    return false;
}
