// project_frame.h — the project's share of each frame: the autosave timer and
// the toast's countdown, the project's reference video loaded on the frame
// after opening, and the thumbnail of the frame drawn after a save.
//
// Index
//   RunProjectFrame         autosave timer and toast countdown (DrawUI, with the regions)
//   TakePendingVideoReload  the opened project's video (DrawUI step 6)
//   CaptureThumbnail        the frame driver's thumbnail slot
//   DumpProjectFields       "project.*" fields of the window tests' state dump
//
// UI thread only.
#pragma once

struct AppState;
struct AudioEngine;
struct FrameImage;
struct LifecycleContext;
struct StateDump;
struct VideoPlayer;

void RunProjectFrame(const LifecycleContext& ctx, float frameSeconds);

// Takes `pendingVideoReloadPath`. A readable file that decodes becomes the
// reference video, at the project's start offset, with the reference gain of
// the mixer's fader; one that does not decode shows the error toast (8 s).
// One that is there but no regular file (a named pipe, a folder, a device)
// shows its refusal sentence ("“Reel.mov” is a named pipe, not a file") and
// is never opened. A missing, refused or undecodable video is kept as
// `offlineVideoPath`, so a save keeps it in the project.
void TakePendingVideoReload(AppState& app, VideoPlayer& player, const AudioEngine& engine);

// Takes `pendingThumbnailPath` and writes the thumbnail of `image` (the back
// buffer, rows top first) there: 400 pixels wide, opaque, PNG, replaced
// whole. A failure is logged; the save has already succeeded.
void CaptureThumbnail(AppState& app, const FrameImage& image);

// project.path, project.name, project.modified, project.lock, toast.
void DumpProjectFields(StateDump& dump);
