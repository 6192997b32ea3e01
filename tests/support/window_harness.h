// window_harness.h — running the program itself under X with a test script.
//
// Index
//   EnsureDisplay      the X display to use: $DISPLAY, else an Xvfb of our own
//   PrivateDisplay     an Xvfb of a given screen size, for a test that needs one
//   ProgramPath        the tessaloom executable beside the test executable
//   RunProgram         start it with a script and extra environment, wait, collect its log
//                      (ProgramLaunch adds arguments, a working folder and its process id)
//   BackgroundProgram  RunProgram on a thread, for a copy other copies talk to
//   WaitForFile        until another process has made a file
//   ReadStateDump      "key=value" lines → map; DumpNumber / DumpFigure / DumpNumbers read its values
//   DrawnTexts         the texts the widgets drew, with their clip rectangles
//   DumpedEvents       the events of a dump ("event.N=shape,time,...")
//   PointRect / ParseRect   a rectangle field of a dump ("x,y,width,height")
//   ScriptPoint        a point as a script step writes it
//   PngImage / ReadPng the screenshot's pixels, packed 0xAABBGGRR like the palette
//   ProgramScriptTest  a fixture: a folder of its own, a display, Run(script)
//   IsolatedHomeTest   the same with a home and a data folder of its own, the demo marked installed
//   DemoStartTest      the same as a new user's first start: the demo installed, its project opened
//
// Window tests need an X server: scripts/test starts an Xvfb and sets
// DISPLAY; without one, EnsureDisplay starts an Xvfb for this test process
// and stops it at exit. The program runs with leak detection off (the GPU
// driver leaks at exit under AddressSanitizer) and with HOME and
// XDG_DATA_HOME in a temporary folder of its own, so that no test reads or
// writes the user's libraries and preferences, with the update check's
// address empty (off) unless the test's environment names one, and with
// XDG_RUNTIME_DIR there too, so that copies of the program started by
// parallel tests never hand projects to each other (a test that wants that
// passes one folder to both). Their preferences turn the start-up launcher
// off; a test that wants it brings preferences of its own (the harness never
// replaces a preferences file that is there).
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

// "" when no display could be found or started.
std::string EnsureDisplay();

// An X server whose one screen is `width` × `height` pixels, for a test
// whose window depends on the screen's size (pass DISPLAY=name() in the
// program's environment); stopped when it goes out of scope.
class PrivateDisplay {
public:
    PrivateDisplay(int width, int height);
    ~PrivateDisplay();
    PrivateDisplay(const PrivateDisplay&) = delete;
    PrivateDisplay& operator=(const PrivateDisplay&) = delete;
    const std::string& name() const { return name_; }  // ":N"; "" when it could not start

private:
    pid_t pid_ = -1;
    std::string name_;
};

std::string ProgramPath();

struct ProgramRun {
    int exitCode = -1;  // -1: did not start or was killed at the timeout
    std::string log;    // standard output and error
    double seconds = 0; // from the start to the exit
};

struct ProgramLaunch {
    std::string scriptPath;  // TL_TEST_SCRIPT; none when empty
    std::vector<std::pair<std::string, std::string>> environment;
    std::vector<std::string> arguments;
    std::string workingDir;  // the test's own when empty
    // A hang guard, not a measure: a sanitizer build beside a parallel build
    // takes several times its idle time, and the scripts' own waits (settle,
    // waittask) allow up to two minutes.
    int timeoutSeconds = 180;
    // Told the program's process id once it runs (on the thread that runs
    // it), so that a test can send it a signal.
    std::function<void(int pid)> started;
};

ProgramRun RunProgram(const ProgramLaunch& launch);
ProgramRun RunProgram(const std::string& scriptPath,
                      const std::vector<std::pair<std::string, std::string>>& environment,
                      int timeoutSeconds = 180);

class BackgroundProgram {
public:
    explicit BackgroundProgram(ProgramLaunch launch);
    ~BackgroundProgram();
    BackgroundProgram(const BackgroundProgram&) = delete;
    BackgroundProgram& operator=(const BackgroundProgram&) = delete;
    // Waits for the program to end (its script must end it).
    const ProgramRun& Wait();

private:
    ProgramRun run_;
    std::thread thread_;
};

// True once `path` exists; false after `timeoutSeconds`.
bool WaitForFile(const std::string& path, int timeoutSeconds);

std::map<std::string, std::string> ReadStateDump(const std::string& path);
// A dump field as a number (a test failure, and 0, when the field is missing).
float DumpNumber(std::map<std::string, std::string>& dump, const std::string& key);
// A dump field as a number for a figure that is reported, not checked
// (benchmarks): -1 when the field is missing.
double DumpFigure(const std::map<std::string, std::string>& dump, const std::string& key);
// A comma-separated list of numbers, as list fields are written.
std::vector<float> DumpNumbers(const std::string& list);

// The texts the last frame drew ("drawn.*" fields): the widget that drew
// each, the text in display order, where it stood and what its clip let through.
struct DumpedText {
    std::string widget;
    std::string text;
    float x = 0, y = 0, width = 0, height = 0;
    float clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
    uint32_t color = 0;  // 0xAABBGGRR
    float fontSize = 0;
    std::string window;    // the window it was drawn in
    float scrollUp = 0, scrollDown = 0;  // how far that window can still scroll up and down
    bool Whole() const;  // all of it inside its clip rectangle (half a point of slack)
};
std::vector<DumpedText> DrawnTexts(std::map<std::string, std::string>& dump);
// The events a dump lists ("event.N=shape,time,locked"), in document order.
struct DumpedEvent {
    int shape = -1;
    double time = 0;
};
std::vector<DumpedEvent> DumpedEvents(std::map<std::string, std::string>& dump);

// A rectangle field of a dump ("x,y,width,height", points).
struct PointRect {
    float x = 0, y = 0, w = 0, h = 0;
    float cx() const { return x + w / 2; }
    float cy() const { return y + h / 2; }
    std::string Centre() const;  // "X Y" for a script's steps, a tenth of a point
};
// A test failure, and an empty rectangle, when `text` is not four numbers.
PointRect ParseRect(const std::string& text);

// "X Y" of a point for a script's move and click steps, in whole points.
std::string ScriptPoint(float x, float y);

struct PngImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;
    uint32_t PackedAt(int x, int y) const;  // 0xAABBGGRR
};
bool ReadPng(const std::string& path, PngImage& image);

// Window tests derive from this: SetUp fails without a display; Run writes
// the script into the test's folder, runs the program on it and prints the
// program's log when it did not exit with 0.
class ProgramScriptTest : public testing::Test {
protected:
    void SetUp() override;
    ProgramRun Run(const std::string& script, std::vector<std::pair<std::string, std::string>> env = {});
    // A launch of the program on `project` (opened as from the desktop) with
    // `script`, written as `scriptName` in the test's folder; `timeoutSeconds`
    // is a hang guard, never a pace. The test adds environment and the like.
    ProgramLaunch LaunchOn(const std::string& project, const std::string& script, int timeoutSeconds = 180,
                           const std::string& scriptName = "script.txt");

    TempDir dir;
};

// A window test whose program has a home and a data folder in the test's
// folder, with the demo content marked as installed, so that no demo library
// or earlier scan joins in. RunScript runs with them (and keeps the
// screenshots in $TL_KEEP_SCREENSHOTS when that is set, to look at by hand).
class IsolatedHomeTest : public ProgramScriptTest {
protected:
    void SetUp() override;
    ProgramRun RunScript(const std::string& script, std::vector<std::pair<std::string, std::string>> env = {});
    // Where the program keeps its library indexes ("<data>/Tessaloom").
    std::string IndexFolder() const { return dir.File("data/Tessaloom"); }
};

// A window test of the program as a new user first starts it: the demo is
// installed into the test's home on that start, and its project is named on
// the command line.
class DemoStartTest : public ProgramScriptTest {
protected:
    // Runs `script` (written as `name` in the test's folder) with the home,
    // data and runtime folders in the test's folder, and `env` besides.
    ProgramRun Start(const std::string& name, const std::string& script,
                     std::vector<std::pair<std::string, std::string>> env = {});
    // The demo project's file, once installed.
    std::string Demo() const;
    std::map<std::string, std::string> Read(const std::string& name) const { return ReadStateDump(dir.File(name)); }
};
