// The program under X ended by a signal, as a logout, a shutdown or a closed
// terminal ends it: with unsaved changes it neither asks nor loses them. It
// ends with 0, leaving a recovery backup (and a saved project's crash lock),
// and the next start brings the changes back as after a crash.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <string>

#include "support/lifecycle_rig.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

class TerminationWindow : public ProgramScriptTest {
protected:
    // The program's own data folders live in the test's folder, so that the
    // second start finds what the first one left there.
    std::vector<std::pair<std::string, std::string>> Home() const {
        return {{"HOME", dir.File("home")}, {"XDG_DATA_HOME", dir.File("home/data")}};
    }

    ProgramLaunch Launch(const std::string& scriptName, const std::string& script,
                         const std::vector<std::string>& arguments) {
        WriteWholeFile(dir.File(scriptName), script);
        ProgramLaunch launch;
        launch.scriptPath = dir.File(scriptName);
        launch.arguments = arguments;
        launch.environment = Home();
        return launch;
    }

    // Starts the program on a script that adds a Spot and then waits (for a
    // file nobody makes), sends it `signal` once the edit is in, and waits
    // for it to end: the test's timeout is the only bound.
    ProgramRun EditAndSignal(int signal, const std::vector<std::string>& arguments) {
        ProgramLaunch launch = Launch("edit.txt",
                                      "frames 3\nkey 1\nframes 3\ndump edited.txt\nexitdump end.txt\n"
                                      "waitfile " + dir.File("never") + " 600\n",
                                      arguments);
        std::atomic<int> pid{0};
        launch.started = [&pid](int p) { pid.store(p); };
        BackgroundProgram program(launch);
        if (!WaitForFile(dir.File("edited.txt"), 170) || pid.load() <= 0) {
            ADD_FAILURE() << "the program did not come up";
            return program.Wait();
        }
        edited = ReadStateDump(dir.File("edited.txt"));
        ::kill(pid.load(), signal);
        return program.Wait();
    }

    // What the end left and what its log said.
    void ExpectEndedWithoutAsking(const ProgramRun& run, const char* signalName) {
        EXPECT_EQ(run.exitCode, 0) << run.log;
        EXPECT_EQ(edited["project.modified"], "1") << "the edit is unsaved when the signal comes";
        EXPECT_NE(run.log.find(std::string("[UI] ") + signalName + ": the program ends without asking"),
                  std::string::npos)
            << run.log;
        EXPECT_NE(run.log.find("recovery backup written"), std::string::npos) << run.log;
        EXPECT_EQ(run.log.find("unsaved changes:"), std::string::npos) << "no question was raised\n" << run.log;
        EXPECT_NE(run.log.find("[UI] shutdown: done"), std::string::npos) << run.log;
        Dump end = ReadStateDump(dir.File("end.txt"));
        EXPECT_EQ(end["confirmAction"], "0");
        EXPECT_EQ(end["prompt.shown"], "0");
        EXPECT_EQ(end["quitAfterConfirm"], "0");
    }

    // A saved project opened again after the signal: it comes back from the
    // backup with the edit, still unsaved, while its own file is as it was.
    void ExpectRecovered(const std::string& project, int events) {
        ProgramRun next = RunProgram(Launch("reopen.txt", "frames 5\ndump recovered.txt\ndiscard\n", {project}));
        EXPECT_EQ(next.exitCode, 0) << next.log;
        EXPECT_EQ(EventCountIn(project), events) << "the project file itself is as it was saved";
        EXPECT_EQ(edited["timeline.events"], std::to_string(events + 1));
        Dump recovered = ReadStateDump(dir.File("recovered.txt"));
        EXPECT_EQ(recovered["timeline.events"], std::to_string(events + 1)) << next.log;
        EXPECT_EQ(recovered["toast"].rfind("Recovered from backup", 0), 0u) << recovered["toast"];
        EXPECT_EQ(recovered["project.modified"], "1");
        EXPECT_EQ(recovered["project.path"], project);
    }

    Dump edited;
};

}  // namespace

TEST_F(TerminationWindow, SigtermKeepsASavedProjectsEditForTheNextStart) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(project, SpotDocument(2)));
    ProgramRun run = EditAndSignal(SIGTERM, {project});
    ExpectEndedWithoutAsking(run, "SIGTERM");
    EXPECT_NE(run.log.find("[UI] shutdown: keep the crash lock"), std::string::npos) << run.log;
    EXPECT_TRUE(fs::exists(project + ".lock"));
    const std::string backup = dir.File("Reel/Backups/Reel.backup1.tlproj");
    ASSERT_TRUE(fs::exists(backup));
    EXPECT_EQ(EventCountIn(backup), 3);

    ExpectRecovered(project, 2);
}

TEST_F(TerminationWindow, SighupKeepsASavedProjectsEditForTheNextStart) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(project, SpotDocument(4)));
    ProgramRun run = EditAndSignal(SIGHUP, {project});
    ExpectEndedWithoutAsking(run, "SIGHUP");
    EXPECT_TRUE(fs::exists(project + ".lock"));

    ExpectRecovered(project, 4);
}

// Ctrl+C in the terminal that started the program: the window system would
// turn it into a quit that stops at the unsaved-changes question and stays
// there; it ends the program as the other signals do.
TEST_F(TerminationWindow, SigintKeepsASavedProjectsEditWithoutAsking) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(project, SpotDocument(3)));
    ProgramRun run = EditAndSignal(SIGINT, {project});
    ExpectEndedWithoutAsking(run, "SIGINT");
    EXPECT_TRUE(fs::exists(project + ".lock"));
    const std::string backup = dir.File("Reel/Backups/Reel.backup1.tlproj");
    EXPECT_EQ(EventCountIn(backup), 4) << "the backup holds the edit";
}

// A project that was never saved has no file of its own: its backup goes
// into the program's data folder, and the next start takes it back first.
TEST_F(TerminationWindow, SigtermKeepsANeverSavedProjectForTheNextStart) {
    ProgramRun run = EditAndSignal(SIGTERM, {});
    ExpectEndedWithoutAsking(run, "SIGTERM");
    EXPECT_EQ(edited["project.path"], "");
    const fs::path recovery = dir.File("home/data/Tessaloom/Recovery");
    int backups = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(recovery, ec)) backups += entry.path().extension() == ".tlproj";
    EXPECT_EQ(backups, 1) << run.log;

    ProgramRun next = RunProgram(Launch("reopen.txt", "frames 5\ndump recovered.txt\ndiscard\n", {}));
    EXPECT_EQ(next.exitCode, 0) << next.log;
    Dump recovered = ReadStateDump(dir.File("recovered.txt"));
    EXPECT_EQ(recovered["toast"], "Recovered an unsaved project (1 event)") << next.log;
    EXPECT_EQ(recovered["timeline.events"], "1");
    EXPECT_EQ(recovered["project.modified"], "1");
}

// Without unsaved changes a signal ends the program as a quit does: no
// backup is written and the lock goes.
TEST_F(TerminationWindow, SigtermWithNothingUnsavedEndsAsAQuit) {
    const std::string project = dir.File("Reel/Reel.tlproj");
    ASSERT_TRUE(WriteProjectAt(project, SpotDocument(2)));
    ProgramLaunch launch = Launch("idle.txt",
                                  "frames 3\ndump opened.txt\nwaitfile " + dir.File("never") + " 600\n", {project});
    std::atomic<int> pid{0};
    launch.started = [&pid](int p) { pid.store(p); };
    BackgroundProgram program(launch);
    ASSERT_TRUE(WaitForFile(dir.File("opened.txt"), 170));
    ::kill(pid.load(), SIGTERM);
    const ProgramRun& run = program.Wait();
    EXPECT_EQ(run.exitCode, 0) << run.log;
    EXPECT_EQ(run.log.find("recovery backup written"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("[UI] shutdown: remove crash lock"), std::string::npos) << run.log;
    EXPECT_FALSE(fs::exists(project + ".lock"));
    EXPECT_FALSE(fs::exists(dir.File("Reel/Backups/Reel.backup1.tlproj")));
}
