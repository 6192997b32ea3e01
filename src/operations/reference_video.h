// reference_video.h — the reference video: chosen through the application
// state's open-file dialog hook and opened as the project's picture (the
// player itself is picture/video_player.h).
//
// Index
//   ChooseReferenceVideoFile   the open-file dialog
//   OpenReferenceVideo         the chosen or dropped file becomes the picture
#pragma once

#include <string>

struct AppState;
struct AudioEngine;
struct Project;
struct VideoPlayer;

// The chosen file's path, or "" when cancelled or no dialog hook is installed.
std::string ChooseReferenceVideoFile(const AppState& app);

// A path that is no readable file shows its refusal sentence and changes
// nothing; otherwise cancels a running picture trace, closes the open video
// and opens this one. On success the project takes its length and frame
// rate, the view and playhead go to its start and the project is marked
// unsaved (the video is saved with it); on failure the toast "Error:
// couldn't decode this video ...". True when it opened.
bool OpenReferenceVideo(AppState& app, Project& doc, AudioEngine& engine, VideoPlayer& player,
                        const std::string& path);
