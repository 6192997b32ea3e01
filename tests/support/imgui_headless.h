// imgui_headless.h — a Dear ImGui context with no window, for widget tests
// and for driving RenderFrame through the null back-end.
//
// Index
//   HeadlessGui        creates the context (fixed display size, built font
//                      atlas, no settings file) and destroys it with the test
//     Frame / EndFrame NewFrame and Render with the input set before; fonts
//                      added to the atlas since are built first
//     FrameInMainWindow  one frame with a panel inside "##main", as the program draws it
//     MoveMouse / SetButton / SetKey / TypeText   scripted input
//     Click            move, press, release: one frame each, drawn by the caller's frame
//     MapKeysAsSdl     the named keys (Tab, arrows, Enter, Escape, ...) at the
//                      SDL scancodes, as the SDL back-end maps them
//   DriveProgramHeadless  a frame driver that runs the program's own frames
//                      (DrawUI) over the null back-end
//   HeadlessProgram    the program's own document driven that way: open a
//                      project, draw frames, and back to an empty program after
//
// Input follows Dear ImGui 1.86: there is no queue, so a press and its
// release must be given in different frames. Keys are SDL scancodes, as the
// SDL back-end writes them.
#pragma once

#include <functional>
#include <string>

#include "app/frame_driver.h"
#include "app/null_frame_backend.h"

struct ImGuiContext;

class HeadlessGui {
public:
    explicit HeadlessGui(float width = 1280, float height = 720);
    ~HeadlessGui();
    HeadlessGui(const HeadlessGui&) = delete;
    HeadlessGui& operator=(const HeadlessGui&) = delete;

    // Starts a frame (ImGui::NewFrame) with the display size and the input.
    void Frame();
    void EndFrame();
    // Frame, then `draw` inside "##main" (the whole display, no padding, no
    // decoration, never in front), then EndFrame.
    void FrameInMainWindow(const std::function<void()>& draw);

    void MoveMouse(float x, float y);
    void SetButton(int button, bool down);
    void SetKey(int scancode, bool down);
    void TypeText(const std::string& utf8);
    void MapKeysAsSdl();
    // `frame` draws one whole frame (Frame ... EndFrame) with the input set.
    void Click(float x, float y, const std::function<void()>& frame, int button = 0);

    ImGuiContext* context = nullptr;
    float width;
    float height;
};

// `driver` draws the program's frames (DrawUI, running) into `backend`, as
// the shell sets it up, and the first frame counts as done so that no
// library folder of this machine is scanned. A HeadlessGui must be alive.
void DriveProgramHeadless(FrameDriver& driver, NullFrameBackend& backend);

// The program itself (gProject, its library, engine and app state) drawn
// headless: a GUI context, a null back-end of 1280 × 720 pixels and a frame
// driver running DrawUI, with voices streamed as the program's audio start
// sets it. On the way out it stops every worker and leaves an empty program
// for the tests after it.
struct HeadlessProgram {
    HeadlessGui gui;
    NullFrameBackend backend{1280, 720};
    FrameDriver driver;

    HeadlessProgram();
    ~HeadlessProgram();
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    // One frame of the program (RenderFrame).
    void Frame();
    // Asks for `path` to be opened and draws the frame that opens it.
    void Open(const std::string& path);
};
