// Exports of a project of a working designer's size stopped in the
// program's own window: a signal in the middle of the AAF step or of any WAV
// pass ends the program within seconds with the unsaved edit in a recovery
// backup and the earlier export back whole; a close during an export says in
// the footer that the program closes when the export ends, with how far it
// is, and the program ends once it has.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "export/export_settings.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/lifecycle_rig.h"
#include "support/temp_dir.h"
#include "support/tree_state.h"
#include "support/wait_until.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

const char* const kPassNames[] = {"aaf", "mix", "stems", "tracks", "clips"};
const char* const kPassTexts[] = {"Exporting AAF...", "Exporting mix...", "Exporting stems...",
                                  "Exporting tracks...", "Exporting clips..."};

class ExportStopWindow : public ProgramScriptTest {
protected:
    ProgramLaunch Launch(const std::string& scriptName, const std::string& script, const std::string& project) {
        ProgramLaunch launch = LaunchOn(project, script, 900, scriptName);
        launch.environment = {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}};
        return launch;
    }

    // 2,000 events (short sounds over a quarter of a minute, so that every
    // pass is quick) exported once with every pass; then, for each of `passes`
    // (indices of kPassNames), the project edited (a Spot added, not saved)
    // and exported again over that export, held half-way through the pass,
    // and SIGTERM sent: the program ends within 5 s, the recovery backup holds
    // the edit, and the folder holds the earlier export as it was (every
    // file's mode, size and a digest of its bytes), nothing hidden and no
    // note left. The re-exports held in the AAF step or the mixdown export
    // every pass, so the mixdown's stop undoes a whole AAF step too; the later
    // ones export the WAV passes only (the thousands of essence files of the
    // AAF step would only repeat that), so theirs undo the WAV passes before
    // them. Each stop leaves the folder as the next one needs it.
    void StopDuring(const std::vector<int>& passes) {
        LargeProjectSpec spec{.eventCount = 2000, .seconds = 15, .layers = LargeProjectLayers::Made,
                              .layersPerEvent = 1, .soundCount = 16, .soundSeconds = 0.25f};
        const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
        ExportSettings everything = EveryExportPass();
        everything.exportReverbStem = false;
        ExportSettings wavOnly = everything;
        wavOnly.exportFormatAAF = false;
        const std::string base = WriteLargeProject(large, dir.path(), "Base", &everything);
        ASSERT_FALSE(base.empty());

        const std::string out = dir.File("out");
        ProgramRun first = RunProgram(
            Launch("first.txt", "settle 300\nexport " + out + "/Reel\nsettle 600\ndump exported.txt\ndiscard\nquit\n",
                   base));
        ASSERT_EQ(first.exitCode, 0) << first.log;
        Dump exported = ReadStateDump(dir.File("exported.txt"));
        ASSERT_EQ(exported["export.toastText"], "Export complete") << first.log;
        const std::map<std::string, std::string> earlier = TreeDigest(out);
        ASSERT_GT(earlier.size(), 4000u) << "essences and clips of every layer, stems and tracks";

        for (int pass : passes) {
            SCOPED_TRACE(kPassTexts[pass]);
            const std::string name = std::string("Stop") + kPassNames[pass];
            const std::string project =
                WriteLargeProject(large, dir.path(), name, pass <= 1 ? &everything : &wavOnly);
            const std::string held = dir.File(name + "-held.txt");
            ProgramLaunch launch = Launch(name + ".txt",
                                          "settle 300\nkey 1\nframes 3\nwaittask 120\nexporthold " +
                                              std::string(kPassNames[pass]) + " 0.5\nexportreplace " + out +
                                              "/Reel\nwaitheld 600\ndump " + held + "\nwaitfile " +
                                              dir.File("never") + " 600\n",
                                          project);
            std::atomic<int> pid{0};
            launch.started = [&pid](int p) { pid.store(p); };
            BackgroundProgram program(launch);
            ASSERT_TRUE(WaitForFile(held, 900)) << "the export never reached the middle of the pass";
            Dump d = ReadStateDump(held);
            EXPECT_EQ(d["export.held"], "1");
            EXPECT_EQ(d["export.status"], kPassTexts[pass]);
            EXPECT_EQ(d["project.modified"], "1") << "the edit is unsaved when the signal comes";

            const auto signalled = std::chrono::steady_clock::now();
            ASSERT_GT(pid.load(), 0);
            ::kill(pid.load(), SIGTERM);
            const ProgramRun& run = program.Wait();
            const double seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - signalled).count();
            std::printf("[Test] %s: the program ended %.2f s after SIGTERM\n", kPassNames[pass], seconds);
            EXPECT_EQ(run.exitCode, 0) << run.log;
            // The end waits for no removal: a process of their own removes
            // the new files, rather than the program before it ends (how long
            // the end takes: bench/export_stop_bench.cpp).
            const size_t told = run.log.find("[Export] The stopped export's ");
            ASSERT_NE(told, std::string::npos) << run.log;
            const std::string removal = run.log.substr(told, run.log.find('\n', told) - told);
            EXPECT_NE(removal.find("are being removed by a process of their own"), std::string::npos) << removal;
            EXPECT_NE(run.log.find("recovery backup written"), std::string::npos) << run.log;
            EXPECT_LT(run.log.find("recovery backup written"), run.log.find("[Export] Stopping"))
                << "the backup is on disk before the staged files go";
            EXPECT_NE(run.log.find("[Export] Stopped: nothing of the export was put in place"), std::string::npos);
            const std::string backup = dir.File(name + "/Backups/" + name + ".backup1.tlproj");
            EXPECT_EQ(EventCountIn(backup), 2001) << "the backup holds the edit";

            // Nothing of the new export was put in place; a process of their
            // own removes its staged files while the program ends.
            EXPECT_TRUE(WaitUntil([&] { return HiddenExportEntries(out).empty(); }, std::chrono::minutes(2)));
            EXPECT_EQ(FirstDifference(TreeDigest(out), earlier), "") << "the earlier export is back whole";
            // No note is left; the stopped export's status waits for the next start.
            std::vector<std::string> kept;
            std::error_code ec;
            for (fs::directory_iterator it(dir.File("home/data/Tessaloom/Exports"), ec), end; !ec && it != end;
                 it.increment(ec))
                kept.push_back(it->path().filename().string());
            EXPECT_EQ(kept, std::vector<std::string>{"stopped export.txt"});
        }
    }
};

}  // namespace

// Split in two so that each half stays well inside a test's time on a busy
// machine.
TEST_F(ExportStopWindow, SigtermDuringTheAafStepOrTheMixdownKeepsTheEditAndTheEarlierExport) {
    StopDuring({0, 1});
}

TEST_F(ExportStopWindow, SigtermDuringTheStemsTracksOrClipsKeepsTheEditAndTheEarlierExport) {
    StopDuring({2, 3, 4});
}

// The window closed while an export runs: the footer says the program closes
// when the export ends and how far it is; the export goes on to its end, and
// then the program ends by itself, the export whole.
TEST_F(ExportStopWindow, AWindowCloseDuringAnExportSaysSoAndEndsWhenTheExportDoes) {
    LargeProjectSpec spec{.eventCount = 200, .seconds = 120, .layers = LargeProjectLayers::Made,
                          .layersPerEvent = 1, .soundCount = 8};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    const ExportSettings everything = EveryExportPass();
    const std::string project = WriteLargeProject(large, dir.path(), "Close", &everything);
    const std::string out = dir.File("out");
    ProgramRun run = RunProgram(Launch("close.txt",
                                       "settle 300\nexporthold mix 0.3\nexport " + out +
                                           "/Reel\nwaitheld 600\nclose\nframes 5\ndump closing.txt\n"
                                           "screenshot closing.png\nexporthold off\nwaitfile " +
                                           dir.File("never") + " 600\n",
                                       project));
    EXPECT_EQ(run.exitCode, 0) << run.log;
    Dump closing = ReadStateDump(dir.File("closing.txt"));
    EXPECT_EQ(closing["quitAfterExport"], "1");
    const std::string full = closing["export.line"];
    EXPECT_EQ(full.rfind("Tessaloom closes when the export ends \xE2\x80\x94 Exporting mix... ", 0), 0u) << full;
    // As drawn: the whole line, or, where the footer is too narrow for it
    // beside the bar, its short form.
    const std::string line = closing["band.exportLine"];
    EXPECT_TRUE(line == full || line.rfind("Closes when the export ends \xE2\x80\x94 ", 0) == 0) << line;
    const int percent = std::atoi(line.substr(line.find_last_of(' ') + 1).c_str());
    EXPECT_GE(percent, 20) << line;  // the AAF step's fifth is done
    EXPECT_LT(percent, 40) << line;
    EXPECT_EQ(line.empty() ? ' ' : line.back(), '%');
    EXPECT_NE(run.log.find("[UI] quit waits for the export to finish"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[Export] Export complete"), std::string::npos) << run.log;
    EXPECT_TRUE(fs::is_regular_file(out + "/Reel.wav"));
    EXPECT_TRUE(fs::is_regular_file(out + "/Reel/Reel.aaf"));
}
