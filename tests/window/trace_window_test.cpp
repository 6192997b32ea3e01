// The Trace tab in the program's own window: session markers imported
// through the menu command (the script answers its dialog), imported as
// events into their folder by the panel's button, and undone with Ctrl+Z.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <string>

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
