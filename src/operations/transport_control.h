// transport_control.h — the transport's moves: play, stop, seek and the
// playhead's place after an edit, each carried to the application state,
// the engine and the reference picture together.
//
// Index
//   StartPlayback     from the application's playhead; the picture plays inside its span
//   StopPlayback      the flags cleared and the picture paused, where it is
//   StopAtStart       stopped, and the playhead with the picture back at 0
//   SeekTransport     the playhead to a time: application, engine, picture
//   FollowPlayback    each frame: the playhead from the engine, the picture in
//                     step, the stop at the project's end, the gap watch
//   SettleTransport   the engine's playhead after an edit, a sync or a rebuild
//
// The interface calls these and never the engine's transport itself, so a
// stop is one thing wherever it is asked for (a ruler press, a nudge, the
// stop button, the project's end). `video` may be null, or a player with no
// file loaded: the picture then has no part. Interface thread; the engine's
// flag and playhead are single atomic stores the audio thread reads.
#pragma once

struct AppState;
struct AudioEngine;
struct AudioOutput;
struct DocumentContext;
struct VideoPlayer;

// Playback runs from app.currentTime: the engine is sought there and started
// (also before the voices are ready: the mixer then keeps the clock, and the
// picture's sound, running in silence), and the picture plays when the
// playhead is inside its span, pausing otherwise.
void StartPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video);

// Playback stops where it is: the application's and the engine's flags are
// cleared and the picture pauses. The playhead does not move.
void StopPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video);

// StopPlayback, then the playhead and the picture go to 0 (the stop button,
// and playback reaching the project's end).
void StopAtStart(AppState& app, AudioEngine& engine, VideoPlayer* video);

// The playhead goes to `seconds`: app.currentTime, the engine (which asks
// for the reverb's memory to be cleared) and the picture. Playback goes on
// if it ran.
void SeekTransport(AppState& app, AudioEngine& engine, VideoPlayer* video, float seconds);

// Each frame: while playing, app.currentTime takes the engine's time and the
// picture plays only inside its span (it starts where the playhead enters
// it and waits outside it); reaching `duration` stops playback at 0. Then,
// whatever stopped the transport, the gap watch logs what the stretch could
// not play (WatchPlaybackGaps).
void FollowPlayback(AppState& app, AudioEngine& engine, VideoPlayer* video, const AudioOutput& output,
                    float duration);

// After an edit, a sync or a rebuild: while playback runs the engine's
// playhead stays where the audio thread has it, otherwise it goes to the
// application's (SettlePlayhead).
void SettleTransport(const DocumentContext& ctx);
