// transport_actions.cpp — the transport's actions and the frame's playback
// sync.
//
// Index
//   Helpers                 the video's span, seeking the engine and the picture
//   Transport buttons       StopTransport, StepTransport
//   SyncPlaybackAndPicture
#include "playback/transport.h"
#include "ui/transport_actions.h"

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/voice_streaming.h"
#include "picture/video_player.h"
#include "playback/audio_engine.h"
#include "playback/audio_output.h"

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
    // Whatever stopped the transport, the stop's log line sums what the
    // stretch could not play.
    WatchPlaybackGaps(app.playbackGaps, engine, gAudioOutput);
    PrepareVoicesAtPlayhead(ctx.doc);
}

