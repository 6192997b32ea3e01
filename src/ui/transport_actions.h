// transport_actions.h — what the transport's own buttons and the playback
// sync of every frame do to the playhead, the engine and the reference
// video. Play and pause and the shape buttons are commands (command_executor.h).
//
// Index
//   TransportContext        the document context plus the reference video
//   StopTransport           "##stop": stopped, playhead, engine and video at 0
//   StepTransport           "##fback" / "##ffwd": whole frames, kept in 0 .. duration
//   SyncPlaybackAndPicture  every frame: playhead from the engine, the video in
//                           step, the stop at the project's end, voices near the playhead
//
// No GUI here. UI thread only; the moves themselves are the transport's
// operations (operations/transport_control.h).
#pragma once

#include "operations/document_context.h"

struct VideoPlayer;

struct TransportContext {
    DocumentContext doc;
    VideoPlayer* video = nullptr;  // may be null (tests without a picture)
};

// The program's: ProgramDocumentContext() and gVideoPlayer.
TransportContext ProgramTransportContext();

// Playback stops, the playhead goes to 0, the picture pauses there and the
// engine is sought to it.
void StopTransport(const TransportContext& ctx);
// `frames` whole frames at the project's rate, kept in 0 .. its duration;
// the engine and the picture follow.
void StepTransport(const TransportContext& ctx, int frames);

// While playing the playhead takes the engine's time; the picture plays
// only inside its span; reaching the project's end stops playback at 0.
// Then the voices near the playhead are prepared.
void SyncPlaybackAndPicture(const TransportContext& ctx);

