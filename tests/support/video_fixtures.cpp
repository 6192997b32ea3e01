// video_fixtures.cpp — see video_fixtures.h.
#include "support/video_fixtures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "operations/app_state.h"
#include "operations/trace_job.h"
#include "picture/video_player.h"
#include "support/clip_fixtures.h"

namespace {

constexpr int kStripes = 10;

}  // namespace

bool MakeTestVideo(const std::string& path, const TestVideoSpec& spec) {
    // The stripes are drawn small and scaled up without filtering: the
    // per-pixel expression is slow on large pictures.
    const int drawWidth = std::min(spec.width, 160), drawHeight = std::min(spec.height, 96);
    const std::string size = std::to_string(drawWidth) + "x" + std::to_string(drawHeight);
    std::string graph = "color=c=gray:s=" + size + ":r=" + spec.rate +
                        ":d=" + std::to_string(spec.seconds) +
                        ",format=gray,geq=lum='255*mod(floor((N+" + std::to_string(spec.firstIndex) +
                        ")/pow(2,floor(X*" + std::to_string(kStripes) + "/W))),2)'";
    if (drawWidth != spec.width || drawHeight != spec.height)
        graph += ",scale=" + std::to_string(spec.width) + ":" + std::to_string(spec.height) +
                 ":flags=neighbor";
    graph += ",format=" + spec.pixelFormat;
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y",
                                     "-f", "lavfi", "-i", graph};
    if (!spec.audioPath.empty()) argv.insert(argv.end(), {"-i", spec.audioPath});
    argv.insert(argv.end(), {"-c:v", "libx264", "-preset", "veryfast", "-g", std::to_string(spec.gop),
                             "-keyint_min", std::to_string(spec.gop), "-sc_threshold", "0", "-bf",
                             std::to_string(spec.bFrames)});
    if (!spec.audioPath.empty()) argv.insert(argv.end(), {"-c:a", "aac", "-b:a", "192k"});
    argv.insert(argv.end(), spec.outputArgs.begin(), spec.outputArgs.end());
    argv.push_back(path);
    return RunTool(argv);
}

int ReadFrameIndex(const std::vector<uint8_t>& rgba, int width, int height) {
    if (width < kStripes || height < 1 || rgba.size() < size_t(width) * size_t(height) * 4) return -1;
    const int y = height / 2;
    int index = 0;
    for (int bit = 0; bit < kStripes; ++bit) {
        const int x = int((bit + 0.5) * width / kStripes);
        const uint8_t value = rgba[(size_t(y) * size_t(width) + size_t(x)) * 4];
        if (value > 200) index |= 1 << bit;
        else if (value > 55) return -1;
    }
    return index;
}

bool MakeCutsVideo(const std::string& path, const std::string& rate, double seconds, const std::vector<int>& cuts,
                   const std::vector<int>& flashes) {
    // The shot number counts the cuts passed; it sets the light and the tint.
    std::string shot = "0", lit = "0";
    for (int cut : cuts) shot += "+gte(N," + std::to_string(cut) + ")";
    for (int flash : flashes) lit += "+between(N," + std::to_string(flash) + "," + std::to_string(flash + 2) + ")";
    return RunTool({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                    "color=c=black:s=64x36:r=" + rate + ":d=" + std::to_string(seconds) +
                        ",format=yuv420p,geq=lum='if(" + lit + ",235,40+40*mod(" + shot + ",4))':cb='if(" + lit +
                        ",128,90+30*mod(" + shot + ",3))':cr=128",
                    "-c:v", "libx264", "-preset", "veryfast", "-g", "48", path});
}

std::unique_ptr<AppState> TraceVideo(const std::string& path) {
    VideoPlayer player;
    auto app = std::make_unique<AppState>();
    EXPECT_TRUE(LoadReferenceVideo(player, path)) << path;
    EXPECT_TRUE(StartTraceAnalysis(*app, player)) << path;
    while (app->traceRunning.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    JoinTraceWorker(*app);
    EXPECT_TRUE(app->opticalTrace.present.load()) << path;
    return app->opticalTrace.present.load() ? std::move(app) : nullptr;
}
