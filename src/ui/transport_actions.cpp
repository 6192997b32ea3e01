// transport_actions.cpp — the transport's actions and the frame's playback
// sync.
//
// Index
//   Helpers                 seeking the engine and the picture
//   Transport buttons       StopTransport, StepTransport
//   SyncPlaybackAndPicture
#include "ui/transport_actions.h"

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/transport_control.h"
#include "operations/voice_streaming.h"
#include "picture/video_player.h"
#include "playback/audio_output.h"
#include "playback/transport.h"

TransportContext ProgramTransportContext() {
    TransportContext ctx;
    ctx.doc = ProgramDocumentContext();
    ctx.video = &gVideoPlayer;
    return ctx;
}

namespace {

// The engine and the picture follow the playhead after it jumped.
void SeekEverything(const TransportContext& ctx) {
    SeekTransport(*ctx.doc.app, *ctx.doc.engine, ctx.video, ctx.doc.app->currentTime);
}

}  // namespace

// ---------------------------------------------------------------------------
// Transport buttons
// ---------------------------------------------------------------------------

void StopTransport(const TransportContext& ctx) { StopAtStart(*ctx.doc.app, *ctx.doc.engine, ctx.video); }

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
    if (ctx.video && ctx.video->loaded) UpdateReferenceVideo(*ctx.video);
    FollowPlayback(*ctx.doc.app, *ctx.doc.engine, ctx.video, gAudioOutput, ctx.doc.project->totalDuration);
    PrepareVoicesAtPlayhead(ctx.doc);
}
