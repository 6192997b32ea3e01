// transport_actions.cpp — the transport's actions and the frame's playback
// sync.
//
// Index
//   Helpers                 the video's span, seeking the engine and the picture
//   Transport buttons       TogglePlayback, StopTransport, StepTransport
//   New events              AddShapeAtPlayhead
//   SyncPlaybackAndPicture
//   RunTransportCommand
#include "ui/transport_actions.h"

#include <cstring>

#include "app/app_state.h"
#include "document/curve.h"
#include "document/event.h"
#include "document/event_edits.h"
#include "document/project.h"
#include "document/selection.h"
#include "document/undo.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/block_mixer.h"
#include "playback/voice_maintenance.h"

TransportContext ProgramTransportContext() {
    TransportContext ctx;
    ctx.doc = ProgramDocumentContext();
    ctx.video = &gVideoPlayer;
    return ctx;
}

namespace {

// ---------------------------------------------------------------------------
// Helpers
// ---------------------------------------------------------------------------

VideoPlayer* OpenVideo(const TransportContext& ctx) {
    return ctx.video && ctx.video->loaded ? ctx.video : nullptr;
}

bool InsideVideo(const VideoPlayer& video, float time) {
    const float start = video.startOffset.load();
    return time >= start && time < start + video.duration;
}

// The engine and the picture follow the playhead after it jumped.
void SeekEverything(const TransportContext& ctx) {
    const float t = ctx.doc.app->currentTime;
    if (VideoPlayer* video = OpenVideo(ctx)) SeekReferenceVideo(*video, t);
    SeekPlayback(*ctx.doc.engine, t);
}

}  // namespace

// ---------------------------------------------------------------------------
// Transport buttons
// ---------------------------------------------------------------------------

void TogglePlayback(const TransportContext& ctx) {
    AppState& app = *ctx.doc.app;
    app.playing = !app.playing;
    if (VideoPlayer* video = OpenVideo(ctx)) {
        if (app.playing && InsideVideo(*video, app.currentTime)) {
            SeekReferenceVideo(*video, app.currentTime);
            PlayReferenceVideo(*video);
        } else {
            PauseReferenceVideo(*video);
        }
    }
    SeekPlayback(*ctx.doc.engine, app.currentTime);
    ctx.doc.engine->playing.store(app.playing ? 1 : 0);
}

void StopTransport(const TransportContext& ctx) {
    AppState& app = *ctx.doc.app;
    app.playing = false;
    ctx.doc.engine->playing.store(0);
    app.currentTime = 0;
    if (VideoPlayer* video = OpenVideo(ctx)) PauseReferenceVideo(*video);
    SeekEverything(ctx);
}

void StepTransport(const TransportContext& ctx, int frames) {
    AppState& app = *ctx.doc.app;
    const Project& project = *ctx.doc.project;
    AdvanceTimeByFrames(app.currentTime, project.fps, project.totalDuration, frames);
    SeekEverything(ctx);
}

// ---------------------------------------------------------------------------
// New events
// ---------------------------------------------------------------------------

int AddShapeAtPlayhead(const DocumentContext& ctx, int shape) {
    if (shape < 0 || shape > 3) return -1;
    AppState& app = *ctx.app;
    Project& project = *ctx.project;
    if (!PushUndoSnapshot(ctx)) return -1;
    const int index = AddEvent(ctx, app.currentTime, shape, 0.3f);
    if (index < 0) return -1;
    Event& added = project.events[static_cast<size_t>(index)];
    if (index > 0) {
        const Event& before = project.events[static_cast<size_t>(index - 1)];
        if (before.keywords[0] != '\0') std::memcpy(added.keywords, before.keywords, sizeof added.keywords);
    }
    if (shape == 3) {
        added.intensityMode = app.lastIntensityMode;
        if (app.lastIntensityMode == 1) FillCurve(added.intensity, 0.5f);
    }
    SelectEvent(app, index);
    return index;
}

// ---------------------------------------------------------------------------
// SyncPlaybackAndPicture
// ---------------------------------------------------------------------------

void SyncPlaybackAndPicture(const TransportContext& ctx) {
    AppState& app = *ctx.doc.app;
    AudioEngine& engine = *ctx.doc.engine;
    const Project& project = *ctx.doc.project;
    VideoPlayer* video = OpenVideo(ctx);
    if (video) UpdateReferenceVideo(*video);
    if (app.playing) app.currentTime = static_cast<float>(GetPlaybackTime(engine));

    // The picture plays only inside its span: it starts where the playhead
    // enters it and waits outside it.
    if (video && app.playing) {
        const bool inside = InsideVideo(*video, app.currentTime);
        if (inside && !video->playing) {
            SeekReferenceVideo(*video, app.currentTime);
            PlayReferenceVideo(*video);
        } else if (!inside && video->playing) {
            PauseReferenceVideo(*video);
        }
    }

    if (app.playing && app.currentTime >= project.totalDuration) {
        app.playing = false;
        engine.playing.store(0);
        app.currentTime = 0;
        if (video) PauseReferenceVideo(*video);
        SeekEverything(ctx);
    }
    PrepareVoicesAtPlayhead(ctx.doc);
}

// ---------------------------------------------------------------------------
// RunTransportCommand
// ---------------------------------------------------------------------------

void RunTransportCommand(const TransportContext& ctx, int id) {
    if (id == 1) {
        TogglePlayback(ctx);
    } else if (id >= 25 && id <= 28) {
        AddShapeAtPlayhead(ctx.doc, id - 25);
    } else if (id > 0) {
        ctx.doc.app->pendingCommand.store(id);
    }
}
