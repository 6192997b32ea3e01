// reference_video.cpp — the reference video: the open-file dialog and the
// opening of the chosen file as the project's picture.
//
// Index
//   ChooseReferenceVideoFile
//   OpenReferenceVideo
#include "operations/reference_video.h"

#include <algorithm>
#include <cstdio>

#include "document/project.h"
#include "operations/app_state.h"
#include "operations/mixer_controls.h"
#include "operations/trace_job.h"
#include "operations/transport_control.h"
#include "picture/reference_audio.h"
#include "picture/video_player.h"
#include "platform/file_util.h"

std::string ChooseReferenceVideoFile(const AppState& app) {
    if (!app.openFileDialog) return {};
    // The hook builds its one pattern as "*." + this text, which gives the
    // list "*.mp4;*.mov;...".
    return app.openFileDialog("Select a video file for reference",
                              "mp4;*.mov;*.m4v;*.avi;*.mkv;*.wmv;*.webm;*.mxf");
}

bool OpenReferenceVideo(AppState& app, Project& doc, AudioEngine& engine, VideoPlayer& player,
                        const std::string& path) {
    // What is no video file at all is named as what it is, before anything
    // of the open video or trace is given up for it. Opened once: the player
    // reads this descriptor.
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) {
        ShowToast(app, file.problem, kRefusalToastSeconds);
        std::printf("[Video] not opened: %s (%s)\n", file.problem.c_str(), path.c_str());
        std::fflush(stdout);
        return false;
    }
    if (app.traceRunning.load()) CancelTraceAnalysis(app);
    if (player.loaded) CloseReferenceVideo(player);
    std::string refusal;
    if (!LoadReferenceVideo(player, path, file.fd, &refusal)) {
        if (!refusal.empty()) {
            ShowToast(app, refusal, kRefusalToastSeconds);
            return false;
        }
        app.toastText = "Error: couldn't decode this video (codec not supported on this system) \xE2\x80\x94 use an "
                        "H.264 .mp4 proxy";
        app.toastTimer = 8;
        return false;
    }
    // The mixer strip's mute joins here: a muted reference track gets 0.
    SetReferenceAudioGain(ReferenceAudioGain(engine, app));
    doc.totalDuration = std::max(doc.totalDuration, player.duration + player.startOffset.load());
    if (player.fps > 0) doc.fps = player.fps;
    app.viewStart = 0;
    app.viewDuration = doc.totalDuration;
    SeekTransport(app, engine, nullptr, 0.0f);
    app.opticalTrace.suggestions.clear();
    // The video's path, its length and rate are saved with the project.
    app.modified = true;
    std::printf("[Video] opened as the reference: %s\n", path.c_str());
    std::fflush(stdout);
    return true;
}
