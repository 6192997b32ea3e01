// reference_video.h — choosing the reference video through the application
// state's open-file dialog hook (the player itself is picture/video_player.h).
#pragma once

#include <string>

struct AppState;

// The chosen file's path, or "" when cancelled or no dialog hook is installed.
std::string ChooseReferenceVideoFile(const AppState& app);
