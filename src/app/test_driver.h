// test_driver.h — the window test driver: a script of frames, input events,
// screenshots and state dumps that the program plays through its own main
// loop, so that window tests see exactly what a designer sees.
//
// Index
//   Script language      (below)
//   ScriptOp / ScriptStep   one primitive step
//   ParseTestScript         text → steps, compound commands expanded
//   StateDump / RegisterStateDump   the line-based state dump and its fields
//   TestDriver           the running script: StartTestDriver, TestDriverWantsFrames,
//                        TestDriverBeforeEvents, TestDriverShouldEndLoop, TestDriverExitCode,
//                        TestDriverAtLoopEnd
//
// The driver starts when the environment variable TL_TEST_SCRIPT names a
// script file. It runs only on the UI thread, between the loop's passes: it
// pushes SDL events as the window system would (they go through the same
// event handling as real ones), counts the frames the loop draws, and asks
// the frame driver for the back buffer's pixels. Log lines carry "[Test]".
//
// Script language
// ---------------
// One command per line; blank lines and lines starting with "#" are skipped.
// Coordinates are in points (the GUI's units); the driver turns them into
// window pixels with the UI scale. Paths are relative to the script's folder
// unless absolute.
//
//   frames N            draw N frames
//   move X Y            move the pointer to (X, Y)
//   press [BUTTON]      press a mouse button (left, right or middle; left by default)
//   release [BUTTON]    release it
//   click X Y [BUTTON]  move, press, 1 frame, release, 1 frame
//   wheel DY            scroll by DY notches (positive up)
//   keydown KEY         press a key; KEY is an SDL scancode name ("A", "Space",
//                       "Escape", "F5", "Left") with optional modifiers
//                       before it: ctrl+, shift+, alt+ ("ctrl+shift+Z")
//   keyup KEY           release it
//   key KEY             keydown, 1 frame, keyup, 1 frame
//   text STRING         type the rest of the line (UTF-8)
//   drop PATH           drop a file on the window (begin, file, complete)
//   dropbegin           start a drop of several files ...
//   dropfile PATH       ... add one file to it ...
//   dropcomplete [alt]  ... and let it go at the pointer, Alt held or not
//   focus | blur        the window gains or loses the keyboard focus
//   enter | leave       the pointer enters or leaves the window
//   resize W H          resize the window to W × H pixels
//   close               the window's close button (the normal quit path)
//   screenshot PATH     write the next frame as PNG (takes 1 frame)
//   dump PATH           write the state dump of the last frame
//   exitdump PATH       write the state dump once more when the main loop
//                       ends, however it ends (a quit, a signal)
//   save PATH           save the project there, as Save As does after its dialog
//                       (the next frame writes its thumbnail)
//   export PATH         export to PATH as the Export tab does after its dialog
//                       (the settings of the program; the job protocol finishes it)
//   exportreplace PATH  the same, answering yes when it asks to replace the
//                       files of an earlier export
//   exporthold PASS F   the next export waits once it has done the share F
//                       (0 to 1) of PASS (aaf, mix, stems, tracks or clips),
//                       until "exporthold off" or a stop; the dump's
//                       "export.held" says it waits there
//   waitheld SECONDS    draw frames until an export waits at its hold (at
//                       most SECONDS of wall time)
//   exportspan BEFORE AFTER PATH   the same for the stretch from BEFORE seconds
//                       before the playhead (where the audio thread has it,
//                       never before 0) to AFTER seconds after it, as a work
//                       area would give it; the log names the stretch's first
//                       sample and the playhead's ("[Test] export PATH from
//                       sample N, the playhead at P: started")
//   settle SECONDS      draw frames until nothing works in the background: no
//                       busy task, picture trace, render request, export,
//                       save, library scan (until the frame has taken its
//                       library), queued library folder, sound probe
//                       with values still to learn (SoundProbeHasWork)
//                       or update check not yet taken (at most SECONDS; "settle"
//                       fields of the dump say whether it timed out)
//   idle SECONDS        stop driving frames; measure frames and CPU while the
//                       program idles on its own
//   waitfile PATH SECONDS   stop driving frames until PATH exists (another
//                       process of the test made it), at most SECONDS
//   clock STEP          from now on the interface clock (AppState::clock) moves
//                       STEP seconds with every frame drawn, whatever the
//                       frames cost: fades, lingering and test jobs then play
//                       the same on a loaded machine (at a test job's end the
//                       clock waits for the job's thread to see it)
//   wait SECONDS        draw frames for SECONDS (of the interface clock after
//                       "clock", else of wall time)
//   waittask SECONDS    draw frames (2 at least, so a task an edit asked for
//                       is queued) until no busy task is queued or up, its
//                       lingering bar included, and no voice rebuild is
//                       deferred to a later frame; at most SECONDS of wall time
//   waitplay SECONDS GUARD   draw frames until the playhead has run SECONDS
//                       further than where this step found it (playback runs
//                       on its own clock, which a loaded machine may starve);
//                       at most GUARD seconds of wall time
//   streamwindow SECONDS  the streaming window's half-width from now on (the
//                       engine's streamWindow; 30 s in the program): voices
//                       farther from the playhead give up their samples, and
//                       are prepared again as it nears them
//   job SECONDS [full]  queue a cancellable busy task with a progress bar whose
//                       job ends SECONDS after it was queued ("full": as a full
//                       render, started at once under the live block)
//   project PATH        read a project file into the document as the fixture of
//                       the test (no voices are built; the undo history and the
//                       selection are emptied; the view shows the whole project)
//   play                start playback (the transport's and the engine's flags)
//   layerimages on|off  parts of the window kept as images (frame_driver.h) or
//                       drawn straight into each frame, to compare the two
//   answer PATH         the next open-file dialog returns PATH at once instead of
//                       opening (one answer each; later dialogs are cancelled)
//   discard             forget the document's unsaved changes, so that the quit
//                       does not stop at the unsaved-changes question
//   measure N           draw N frames and log their rate and CPU ("measure.*"
//                       fields of the dump)
//   measure N pan P     the same while the view moves every frame: the middle
//                       button held at the pointer, which moves P points a
//                       frame, turning back every 30 frames
//   measure N zoom      the same with one wheel notch at the pointer a frame,
//                       8 in then 8 out
//   menu ID             the program menu's item ID chosen (its command parked)
//   edit KIND           an edit as the interface makes it (the function the
//                       interface registered): move, gain, mute, unmute,
//                       solo, unsolo, undo, redo, delete, bedmove, bedlength,
//                       each on what the playhead has left behind (see
//                       ui/script_edits.h); a failed edit ends the script
//                       with exit code 5
//   renderpace N        N > 0: a full render starts each of its events only
//                       when let, one every N frames drawn, so the script
//                       knows it still runs while it looks ("busy.events*"
//                       fields tell how far it is); 0: it runs freely again
//   buildpace N         the same for the voice build of an open or a full
//                       rebuild ("Loading audio..."): each voice is built only
//                       when let, one every N frames drawn ("engine.voicesBuilt")
//   quit                end the script: close the window the normal way
//
// A press and its release must reach the GUI in different frames (Dear ImGui
// 1.86 has no input queue): give them a "frames 1" between them, as click
// and key do. When the script ends without "quit", the driver quits. When
// the program has not ended 30 s after the quit (an unsaved-changes prompt, a
// running export), the driver ends the loop itself and the exit code is 3.
// A script that cannot be read ends the program with exit code 2; a fixture
// project that cannot be read makes the exit code 4.
//
// State dump
// ----------
// One "key=value" line per field, written by "dump": the window title, UI
// scale, window size in pixels, display size in points, frames drawn, every
// UILayout field ("layout.videoWidth=..."), activeTab, the regions drawn in
// the last frame, the quit flags, the GUI's pointer, and after "idle" or
// "measure" the measured figures. Later parts of the window add their own fields by
// registering a function (RegisterStateDump) at start-up.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum class ScriptOp {
    Frames,
    Move,
    Press,
    Release,
    Wheel,
    KeyDown,
    KeyUp,
    Text,
    Drop,
    DropBegin,
    DropFile,
    DropComplete,
    Focus,
    Blur,
    Enter,
    Leave,
    Resize,
    Close,
    Screenshot,
    Dump,
    ExitDump,
    Save,
    Export,
    ExportSpan,
    Settle,
    Idle,
    WaitFile,
    Clock,
    Wait,
    WaitTask,
    WaitPlay,
    StreamWindow,
    Job,
    Project,
    Play,
    Discard,
    Answer,
    Measure,
    LayerImages,
    Menu,
    RenderPace,
    Edit,
    ExportHold,
    WaitHeld,
    BuildPace,
    Quit,
};

struct ScriptStep {
    int line = 0;
    ScriptOp op = ScriptOp::Frames;
    int count = 0;        // frames; resize width
    int count2 = 0;       // resize height
    float x = 0;          // points; wheel notches; idle, wait and job seconds; clock step; stream window;
                          // exportspan: the seconds before
    float y = 0;          // waitplay: the guard's seconds; exportspan: the seconds after
    int button = 0;       // 0 left, 1 right, 2 middle (the GUI's numbering);
                          // measure: 0 still, 1 zoom, 2 pan
    int scancode = 0;     // SDL scancode
    int modifiers = 0;    // SDL KMOD_* bits
    bool full = false;    // job: as a full render; layerimages: on; export: replace
    std::string text;     // text, path
};

// False with "line N: ..." in `error` on the first line it cannot read.
// Relative paths are resolved against `baseFolder`.
bool ParseTestScript(const std::string& text, const std::string& baseFolder, std::vector<ScriptStep>& steps,
                     std::string& error);

// ---------------------------------------------------------------------------
// State dump
// ---------------------------------------------------------------------------

struct StateDump {
    std::string text;  // "key=value\n" lines
    void Field(const std::string& key, const std::string& value);
    void Field(const std::string& key, const char* value) { Field(key, std::string(value ? value : "")); }
    void Field(const std::string& key, int value);
    void Field(const std::string& key, int64_t value);
    void Field(const std::string& key, double value);  // "%.2f"
    void Field(const std::string& key, bool value);    // "0" / "1"
    // "x,y,width,height" with one decimal each.
    void RectField(const std::string& key, float x, float y, float width, float height);
};

// The interface's edits a script asks for by name ("edit KIND"): the layer
// above hands the driver the function that makes them as the designer's hand
// would (false, with the reason logged, when it cannot).
using ScriptEditFn = bool (*)(const std::string& kind);

using StateDumpFn = void (*)(StateDump& dump);
// Adds a function whose fields follow the driver's own in every dump.
void RegisterStateDump(StateDumpFn fn);
// The same for a function that reads the document: while a worker writes
// the document (WorkerWritesDocument; a render works on its own copy and
// does not) the function is not called and the fields it gave just before
// that worker started are repeated.
void RegisterDocumentStateDump(StateDumpFn fn);
// Has every document reader keep its fields now (the busy task's launch
// hook calls it just before a worker that writes the document starts).
void KeepDocumentDumpFields();
// Every registered function's fields; a document reader's kept ones while
// a worker writes the document.
void DumpRegisteredFields(StateDump& dump, bool workerWritesDocument);

// ---------------------------------------------------------------------------
// The running script
// ---------------------------------------------------------------------------

struct FrameDriver;
struct TestDriver;

// Null when TL_TEST_SCRIPT is not set. A script that cannot be read gives a
// driver that quits at once with exit code 2. The driver sets the app
// state's observer to its own holds (document_context.h); jobs copy it, so
// the driver is destroyed only once every job has ended: the shutdown first
// releases it (its clock and its holds), then stops the jobs.
void ReleaseTestDriver(TestDriver& driver);
void DestroyTestDriver(TestDriver* driver);
struct TestDriverDeleter {
    void operator()(TestDriver* driver) const { DestroyTestDriver(driver); }
};
using TestDriverPtr = std::unique_ptr<TestDriver, TestDriverDeleter>;
TestDriverPtr StartTestDriver(SDL_Window* window, FrameDriver& frames, ScriptEditFn scriptEdit);

// The loop draws without waiting while the script runs (not while idling).
bool TestDriverWantsFrames(const TestDriver& driver);
// Script steps run so far that may change the program (input, edits, jobs);
// steps that only wait or look (frames, measure, idle, settle, the waits,
// screenshot, dump, layerimages) are left out, so that the frames they see
// may be quiet ones, as in a window nobody touches.
size_t TestDriverStepsRun(const TestDriver& driver);
// Runs the script up to its next wait: pushes events, requests captures.
void TestDriverBeforeEvents(TestDriver& driver);
// True once the driver has given up waiting for the program to quit.
bool TestDriverShouldEndLoop(const TestDriver& driver);
// 0, 2 (unreadable script), 3 (the program did not quit) or 4 (a fixture project could not be read).
int TestDriverExitCode(const TestDriver& driver);

// After the main loop: writes the dump an "exitdump" step asked for.
void TestDriverAtLoopEnd(TestDriver& driver);
// The scripted pointer (window pixels) and whether the last drop was let go
// with Alt held: a drop reads these instead of the window system's.
void TestDriverPointer(const TestDriver& driver, float& x, float& y, bool& alt);
