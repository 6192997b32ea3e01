// The Trace tab in the program's own window: session markers imported
// through the menu command (the script answers its dialog), imported as
// events into their folder by the panel's button, and undone with Ctrl+Z;
// a video's trace reviewed with the keys, which import what the panel counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

#include "support/clip_fixtures.h"
#include "support/window_harness.h"

namespace {

using Dump = std::map<std::string, std::string>;

class TraceWindow : public ProgramScriptTest {};

}  // namespace

TEST_F(TraceWindow, MarkersImportedThroughTheMenuBecomeEventsAndUndoRemovesThem) {
    const std::string markers = std::string(TL_SHARED_DIR) + "/fixtures/session-text/markers-rulers-and-tracks.txt";
    const std::string import = "frames 3\nanswer " + markers + "\nmenu 44\nframes 3\n";
    // The first run finds the import button; the second clicks it.
    ProgramRun run = Run(import + "dump shown.txt\nscreenshot markers.png\ndiscard\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump shown = ReadStateDump(dir.File("shown.txt"));
    EXPECT_EQ(shown["activeTab"], "1");
    EXPECT_EQ(shown["trace.view"], "data");
    EXPECT_EQ(shown["trace.countLine"], "7  markers imported");
    EXPECT_EQ(shown["trace.accepted"], "7");
    const double x = std::strtod(shown["trace.importX"].c_str(), nullptr);
    const double y = std::strtod(shown["trace.importY"].c_str(), nullptr);
    ASSERT_GT(x, 0);
    ASSERT_GT(y, 0);

    char click[64];
    std::snprintf(click, sizeof click, "click %.0f %.0f\n", std::round(x), std::round(y));
    run = Run(import + click + "frames 2\ndump added.txt\nkey ctrl+Z\nframes 2\ndump undone.txt\ndiscard\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump added = ReadStateDump(dir.File("added.txt"));
    EXPECT_EQ(added["trace.folder.Markers: markers-rulers-and-tracks"], "7");
    Dump undone = ReadStateDump(dir.File("undone.txt"));
    EXPECT_EQ(undone.count("trace.folder.Markers: markers-rulers-and-tracks"), 0u);
    EXPECT_EQ(std::atoi(undone["events"].c_str()) + 7, std::atoi(added["events"].c_str()));
}

// Flashes of every strength and a moving stretch give suggestions on both
// sides of the threshold line (and a scene bed, never shown); Ctrl+A and ";"
// import exactly the events the panel counts and offers.
TEST_F(TraceWindow, ReviewKeysImportTheEventsThePanelCounts) {
    const std::string video = dir.File("flashes.mp4");
    std::string lum = "40";
    const int flashes[][2] = {{20, 200}, {45, 120}, {70, 70}, {95, 55}, {120, 48}, {145, 44}, {170, 160}};
    for (const auto& [frame, level] : flashes)
        lum = "if(between(N," + std::to_string(frame) + "," + std::to_string(frame + 1) + ")," + std::to_string(level) +
              "," + lum + ")";
    lum = "if(between(N,190,240),40+30*sin(N*1.7)," + lum + ")";
    ASSERT_TRUE(RunTool({"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                         "color=c=black:s=96x54:r=25:d=10,format=yuv420p,geq=lum='" + lum + "':cb=128:cr=128",
                         "-c:v", "libx264", "-preset", "veryfast", video}));
    const ProgramRun run = Run("frames 2\ndrop " + video + "\nframes 2\nmenu 46\nframes 2\nsettle 120\n"
                               "dump read.txt\nkey ctrl+A\nkey ;\nframes 2\ndump imported.txt\ndiscard\nquit\n");
    ASSERT_EQ(run.exitCode, 0) << run.log;
    Dump read = ReadStateDump(dir.File("read.txt"));
    ASSERT_EQ(read["settle.timeouts"], "0");
    ASSERT_EQ(read["trace.view"], "data") << run.log;
    const int offered = std::atoi(read["trace.accepted"].c_str());
    ASSERT_GT(offered, 0);
    EXPECT_EQ(read["trace.countLine"], std::to_string(offered) + "  events");
    EXPECT_GT(std::atoi(read["trace.suggestions"].c_str()), offered) << "some are under the line";

    Dump imported = ReadStateDump(dir.File("imported.txt"));
    EXPECT_EQ(std::atoi(imported["events"].c_str()) - std::atoi(read["events"].c_str()), offered);
    EXPECT_EQ(imported["trace.folder.Picture: Import 1"], std::to_string(offered));
}
