// shell.h — the program's start-up, main loop and shutdown.
//
// Index
//   ShellInterface      what the interface gives the shell: its frame and its registrations
//   RunShell            the entry: start-up in order, the loop, the shutdown order
//   ParseCommandLine    the project file named on the command line
//   GuiActivity / LoopIsActive   what keeps the loop drawing without waiting
//   FramePaceDelay      how long to sleep so the loop draws at most ~60 frames/s
//
// Exit codes of RunShell: 0 after a normal run; 1 when no window or OpenGL
// context can be made; the test driver's own code when its script failed.
#pragma once

#include <string>

struct AppState;
struct SoundLibrary;

// The interface sits above the shell: the program's entry hands the shell the
// interface's frame (called once per frame between the GUI's NewFrame and
// Render) and the interface's start-up registrations (state dumps, the
// title-bar prompt), run once the window and the GUI are up.
struct ShellInterface {
    void (*drawUI)() = nullptr;
    void (*install)() = nullptr;
    const char* glyphs = nullptr;  // UTF-8: the icons the interface draws from its first frame
    // A test script's "edit KIND", made as the designer's hand makes it.
    bool (*scriptEdit)(const std::string& kind) = nullptr;
};

int RunShell(int argc, char** argv, const ShellInterface& ui);

// The first argument after the program name that is not empty, does not
// begin with "-" and ends in ".tlproj" (any case); "" when there is none.
// Arguments beginning with "/" are paths on this system, not switches.
std::string ParseCommandLine(int argc, const char* const* argv);

struct GuiActivity {
    bool wantTextInput = false;  // a text field has the keyboard
    bool popupOpen = false;
    bool itemActive = false;     // a widget is being held or edited
};

// True while something moves on its own or the user is in the middle of an
// interaction: then the loop draws continuously instead of waiting for input.
bool LoopIsActive(const AppState& app, const SoundLibrary& library, const GuiActivity& gui);

// Frames since the last one in which the document could have changed (input,
// a worker, playback, a script step). A frame is quiet once three frames have
// passed: an edit made late in a frame is seen by the walks of the next, and a
// worker's result is taken in the frame after the last that saw it running.
struct QuietFrames {
    int sinceStir = 0;
};
constexpr int kQuietAfterFrames = 3;
bool NextFrameQuiet(QuietFrames& quiet, bool stirred);

// Input that only moves the pointer or the view can change no document: the
// wheel (the timeline's zoom, scrolling), pointer motion and the middle button
// (the timeline's pan). Motion with another button held is a drag, which the
// loop counts from the buttons themselves (MouseDownBesidesMiddle). Such
// input stirs the frame (hover, the view) but not the walks over the document.
union SDL_Event;
bool EventMayChangeDocument(const SDL_Event& e);

// Seconds to sleep after a frame that started `elapsed` seconds ago, so that
// frames come at most every `minimum` seconds when the swap does not wait
// (no vertical sync, a minimised window).
double FramePaceDelay(double elapsed, double minimum);
