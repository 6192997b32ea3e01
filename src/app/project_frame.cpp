// project_frame.cpp — autosave and toast per frame, the project's video, the thumbnail.
//
// Index
//   RunProjectFrame / TakePendingVideoReload / CaptureThumbnail / DumpProjectFields
#include "app/project_frame.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "app/frame_driver.h"
#include "app/test_driver.h"
#include "operations/app_state.h"
#include "operations/project_lifecycle.h"
#include "persistence/project_thumbnail.h"
#include "picture/reference_audio.h"
#include "picture/video_player.h"
#include "platform/file_util.h"
#include "platform/path_refusal.h"
#include "platform/image_file.h"
#include "playback/audio_engine.h"

void RunProjectFrame(const LifecycleContext& ctx, float frameSeconds) {
    AutoSaveTick(ctx, frameSeconds);
    TickToast(*ctx.app, frameSeconds);
}

void TakePendingVideoReload(AppState& app, VideoPlayer& player, const AudioEngine& engine) {
    if (app.pendingVideoReloadPath.empty()) return;
    std::string path;
    path.swap(app.pendingVideoReloadPath);
    app.offlineVideoPath.clear();
    // A missing video stays offline quietly (the open offered the chooser);
    // anything else that is no file is refused with the sentence naming it.
    // The file is opened once, here: the player, its decoder and the audio
    // extraction read that descriptor and never the path again.
    const RegularFile file = OpenRegularFile(path);
    if (file.fd < 0) {
        app.offlineVideoPath = path;
        std::printf("[Video] project video not opened: %s (%s)\n", file.problem.c_str(), path.c_str());
        if (file.error != ENOENT && file.error != ENOTDIR) ShowToast(app, file.problem, kRefusalToastSeconds);
        return;
    }
    std::string refusal;
    if (!LoadReferenceVideo(player, path, file.fd, &refusal)) {
        app.offlineVideoPath = path;
        if (!refusal.empty()) {
            // A video that names other files (a playlist) says so.
            ShowToast(app, refusal, kRefusalToastSeconds);
            return;
        }
        ShowToast(app,
                  "Error: couldn't decode the project's video (codec not supported on this system) \xE2\x80\x94 "
                  "use an H.264 .mp4 proxy",
                  8);
        return;
    }
    player.startOffset.store(app.pendingVideoStartTime);
    SetReferenceAudioGain(engine.refGain.load());
}

void CaptureThumbnail(AppState& app, const FrameImage& image) {
    std::string path;
    path.swap(app.pendingThumbnailPath);
    if (path.empty()) return;
    const size_t pixels = static_cast<size_t>(image.width > 0 ? image.width : 0) *
                          static_cast<size_t>(image.height > 0 ? image.height : 0);
    if (pixels == 0 || image.rgba.size() < pixels * 4) {
        std::printf("[Project] Thumbnail not written (no picture): %s\n", path.c_str());
        return;
    }
    const ThumbnailImage thumb = ScaleThumbnail(image.rgba.data(), image.width, image.height, image.width * 4);
    if (!WritePngFile(path, thumb.rgba.data(), static_cast<unsigned>(thumb.width),
                      static_cast<unsigned>(thumb.height)))
        std::printf("[Project] Thumbnail not written: %s\n", path.c_str());
}

void DumpProjectFields(StateDump& dump) {
    const AppState& app = gAppState;
    dump.Field("project.path", app.projectPath);
    dump.Field("project.name", app.projectName);
    dump.Field("project.modified", app.modified);
    dump.Field("project.lock", app.crashLockPath);
    dump.Field("toast", app.toastTimer > 0 ? app.toastText : std::string());
}
