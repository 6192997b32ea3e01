// transport_actions.h — what the transport's buttons and the playback sync of
// every frame do to the playhead, the engine and the reference video, and
// the shape buttons' new events.
//
// Index
//   TransportContext        the document context plus the reference video
//   TogglePlayback          play / pause (command 1)
//   StopTransport           "##stop": stopped, playhead, engine and video at 0
//   StepTransport           "##fback" / "##ffwd": whole frames, kept in 0 .. duration
//   AddShapeAtPlayhead      a Spot, Bloom, Contour or Fill at the playhead (commands 25 to 28)
//   SyncPlaybackAndPicture  every frame: playhead from the engine, the video in
//                           step, the stop at the project's end, voices near the playhead
//   RunTransportCommand     the bands' road to a command id
//
// No GUI here. UI thread only; the engine's fields are single atomic stores.
#pragma once

#include "document/document_context.h"

struct VideoPlayer;

struct TransportContext {
    DocumentContext doc;
    VideoPlayer* video = nullptr;  // may be null (tests without a picture)
};

// The program's: ProgramDocumentContext() and gVideoPlayer.
TransportContext ProgramTransportContext();

// Flips `playing`. With a video open, starting inside the video's span
// (start offset <= t < start offset + duration) seeks and plays it, anything
// else pauses it. The engine is seeked to the playhead and takes the flag.
void TogglePlayback(const TransportContext& ctx);
void StopTransport(const TransportContext& ctx);
void StepTransport(const TransportContext& ctx, int frames);

// A new event of shape 0..3 at the playhead with weight centre 0.3, after
// one undo snapshot; it takes the keywords of the event before it when that
// one has any; a Fill takes the last intensity mode (flat: its intensity
// filled with 0.5). The new event is selected. Its index, or -1 when
// refused.
int AddShapeAtPlayhead(const DocumentContext& ctx, int shape);

void SyncPlaybackAndPicture(const TransportContext& ctx);

// Command ids of the keyboard and menu vocabulary the bands use: 1 play or
// pause, 25 to 28 a new shape at the playhead. Other ids are parked in
// `pendingCommand` for the frame's command dispatch.
void RunTransportCommand(const TransportContext& ctx, int id);
