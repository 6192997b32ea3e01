// reference_video.cpp — the open-file dialog for the reference video.
#include "operations/reference_video.h"

#include "operations/app_state.h"

std::string ChooseReferenceVideoFile(const AppState& app) {
    if (!app.openFileDialog) return {};
    // The hook builds its one pattern as "*." + this text, which gives the
    // list "*.mp4;*.mov;...".
    return app.openFileDialog("Select a video file for reference",
                              "mp4;*.mov;*.m4v;*.avi;*.mkv;*.wmv;*.webm;*.mxf");
}
