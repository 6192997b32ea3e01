// shell.cpp — start-up, the main loop and the shutdown of the program.
//
// Index
//   ParseCommandLine / LoopIsActive / FramePaceDelay
//   ShellWindow          the window, its context, back-end and loop flags
//   Start-up             window, UI scale, OpenGL, GUI context, fonts, audio
//   Events               what the loop does with each SDL event: accelerators
//                        and the caption first, then the GUI
//   Main loop            wait or drain, preferences request, a second copy's
//                        path, frame, pacing, the program menu, a termination signal
//   Shutdown             the shell's half of the order in shell_quit.h
//   RunShell
//
// The steps keep the order of the program's start-up and shutdown; the ones
// that other parts of the program bring are marked where they join.
#include "app/shell.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/document_dump.h"
#include "app/drawn_text.h"
#include "app/drop_target.h"
#include "app/fonts.h"
#include "app/frame_driver.h"
#include "app/imgui_compat.h"
#include "app/platform_hooks.h"
#include "app/project_commands.h"
#include "app/program_menu.h"
#include "app/program_menu_table.h"
#include "app/project_frame.h"
#include "app/sdl_gl_backend.h"
#include "app/second_launch.h"
#include "app/shell_quit.h"
#include "app/shell_services.h"
#include "app/test_driver.h"
#include "app/theme.h"
#include "app/title_bar.h"
#include "app/ui_scale.h"
#include "app/update_check.h"
#include "app/window_caption.h"
#include "document/project.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/voice_streaming.h"
#include "platform/child_process.h"
#include "platform/dialogs.h"
#include "platform/image_file.h"
#include "platform/single_instance.h"
#include "platform/termination_signals.h"
#include "platform/user_folders.h"

std::string ParseCommandLine(int argc, const char* const* argv) {
    static const char kExtension[] = ".tlproj";
    const size_t extLength = sizeof kExtension - 1;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i] ? argv[i] : "";
        if (arg.empty() || arg[0] == '-' || arg.size() < extLength) continue;
        std::string tail = arg.substr(arg.size() - extLength);
        for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (tail == kExtension) return arg;
    }
    return "";
}

bool LoopIsActive(const AppState& app, const SoundLibrary& library, const GuiActivity& gui) {
    // The timeline's own drags keep the loop drawing while the mouse is still;
    // voices being prepared near the playhead are installed by a frame.
    return app.playing || !VoiceStreamerIdle(app) || app.movingSelection || app.resizingEvent >= 0 || app.curvePainting ||
           app.busyTask.busy.load() || app.traceRunning.load() || app.uiAnimating || app.toastTimer > 0 ||
           library.scanRunning.load() != 0 || app.exportRunning.load() || app.dragAccepted || app.dragHasFolder ||
           app.dragHasVideo || app.dragHasAudio || gui.wantTextInput || gui.popupOpen || gui.itemActive;
}

bool NextFrameQuiet(QuietFrames& quiet, bool stirred) {
    quiet.sinceStir = stirred ? 0 : std::min(quiet.sinceStir + 1, kQuietAfterFrames);
    return quiet.sinceStir >= kQuietAfterFrames;
}

bool EventMayChangeDocument(const SDL_Event& e) {
    switch (e.type) {
        case SDL_MOUSEWHEEL:
        case SDL_MOUSEMOTION: return false;
        case SDL_MOUSEBUTTONDOWN:
        case SDL_MOUSEBUTTONUP: return e.button.button != SDL_BUTTON_MIDDLE;
        default: return true;
    }
}

double FramePaceDelay(double elapsed, double minimum) { return elapsed < minimum ? minimum - elapsed : 0; }

namespace {

constexpr int kBaseWidth = 1280;
constexpr int kBaseHeight = 720;
constexpr int kIdleWaitMs = 50;
constexpr double kMinFrameSeconds = 1.0 / 60.0;

void Log(const char* text) {
    std::printf("[UI] %s\n", text);
    std::fflush(stdout);
}

struct ShellWindow {
    SDL_Window* window = nullptr;
    GlDevice device;
    SdlGlBackend* backend = nullptr;
    bool guiStarted = false;
    bool quitPosted = false;  // the quit callback ran: the loop ends after this pass
    DropIntake drop;
    TestDriver* driver = nullptr;  // a running test script, else null
};

// ---------------------------------------------------------------------------
// Start-up
// ---------------------------------------------------------------------------

// The logo picture beside the program is the window's icon (task bars and
// window lists show it); without the picture the window keeps the system's.
bool gWindowIconSet = false;

void SetWindowIconFromLogo(SDL_Window* window, const std::string& folder) {
    std::vector<uint8_t> pixels;
    int w = 0, h = 0;
    if (!LoadImagePixels(folder + "/tessaloom_logo_2026_6.png", pixels, w, h)) return;
    // RGBA bytes in memory order, whatever the machine's byte order.
    SDL_Surface* icon = SDL_CreateRGBSurfaceWithFormatFrom(pixels.data(), w, h, 32, w * 4, SDL_PIXELFORMAT_RGBA32);
    if (!icon) return;
    SDL_SetWindowIcon(window, icon);
    SDL_FreeSurface(icon);
    gWindowIconSet = true;
}

void DumpWindowIcon(StateDump& dump) { dump.Field("window.icon", gWindowIconSet); }

bool CreateMainWindow(ShellWindow& shell) {
    if (SDL_Init(SDL_INIT_VIDEO | SDL_INIT_TIMER) != 0) {
        std::printf("[UI] SDL could not start: %s\n", SDL_GetError());
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_FLAGS, SDL_GL_CONTEXT_FORWARD_COMPATIBLE_FLAG);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    // Shown once the context exists, so that no empty frame flashes. No
    // decoration: the program draws its own caption.
    shell.window = SDL_CreateWindow("Tessaloom", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, kBaseWidth,
                                    kBaseHeight,
                                    SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (!shell.window) {
        std::printf("[UI] window could not be created: %s\n", SDL_GetError());
        return false;
    }
    return true;
}

// 1280 × 720 points at the UI scale, but never larger than the screen's
// usable area nor off it: at 1.5 on a 1280 × 800 screen the window would
// otherwise open 1920 × 1080 at (−320, −140), its caption, menu and tabs
// out of reach. A screen that cannot hold the smallest window (960 × 540
// points) at the asked scale lowers the scale until it does: a window of
// fewer points than that would cut the panels.
void ApplyUiScale(ShellWindow& shell, FrameDriver& frames) {
    const float asked = DetectUiScale(shell.window);
    const ScreenArea screen = UsableScreenArea(shell.window);
    frames.uiScale = ScaleForScreen(asked, screen);
    if (frames.uiScale != asked)
        std::printf("[UI] uiScale %.2f lowered to %.2f: a %d×%d screen cannot hold the %d×%d-point window at %.2f\n",
                    double(asked), double(frames.uiScale), screen.width, screen.height, kMinimumWindowPoints[0],
                    kMinimumWindowPoints[1], double(asked));
    const WindowPlacement place =
        PlaceWindow(static_cast<int>(kBaseWidth * frames.uiScale), static_cast<int>(kBaseHeight * frames.uiScale),
                    screen);
    SDL_SetWindowSize(shell.window, place.width, place.height);
    if (place.centred)
        SDL_SetWindowPosition(shell.window, place.x, place.y);
    else
        SDL_SetWindowPosition(shell.window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
}

// While a dialog is open the frame waits; the window still answers the
// window manager, and clicks and keys meant for the dialog's owner are dropped.
void PumpWindowWhileBlocked() {
    SDL_PumpEvents();
    SDL_FlushEvents(SDL_KEYDOWN, SDL_MOUSEWHEEL);
}

DialogHost DialogHostFor(SDL_Window* window) {
    DialogHost host;
    host.pump = PumpWindowWhileBlocked;
    // A dialog open when the program is told to end goes away as cancelled,
    // so that the frame, and the end, can go on.
    host.abandon = [] { return PendingTerminationSignal() != 0; };
#if defined(SDL_VIDEO_DRIVER_X11)
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11)
        host.parentWindow = static_cast<unsigned long>(info.info.x11.window);
#else
    (void)window;
#endif
    return host;
}

void StartGui(ShellWindow& shell, AppState& app, float uiScale, const char* interfaceGlyphs) {
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
    io.IniFilename = nullptr;
    shell.guiStarted = true;

    // Both font tables, the title font, the Medium preset (or the built-in
    // font), with the characters of the program's texts and the interface's
    // icons; the rest joins when it is first drawn.
    LoadFonts(app, io.Fonts, app.exeDir, uiScale, shell.backend->MaxTextureSize(), interfaceGlyphs);
    InstallFontPresetSlot(app);
}

// ---------------------------------------------------------------------------
// Events
// ---------------------------------------------------------------------------

void HandleEvent(ShellWindow& shell, FrameDriver& frames, AppState& app, const SDL_Event& e) {
    if (shell.backend->Ignores(e)) return;
    // The accelerators reach their commands before the GUI sees the key, even
    // while a text field has the keyboard; a click on a caption button is the
    // caption's.
    if (HandleAcceleratorEvent(app, e)) return;
    if (HandleCaptionEvent(shell.window, gCaption, app, e)) return;
    shell.backend->ProcessEvent(e);
    const uint32_t mainId = SDL_GetWindowID(shell.window);
    switch (e.type) {
        case SDL_QUIT: app.quitRequested = true; break;
        case SDL_WINDOWEVENT:
            if (e.window.windowID != mainId) break;
            if (e.window.event == SDL_WINDOWEVENT_CLOSE) {
                // The close button asks; DrawUI decides (unsaved changes, an export).
                app.quitRequested = true;
            } else if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SHOWN ||
                       e.window.event == SDL_WINDOWEVENT_RESTORED || e.window.event == SDL_WINDOWEVENT_MAXIMIZED) {
                RequestPresent(frames);
            } else if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                if (SDL_GetWindowFlags(shell.window) & SDL_WINDOW_MINIMIZED) break;
                frames.pendingResizeWidth = static_cast<unsigned>(std::max(0, e.window.data1));
                frames.pendingResizeHeight = static_cast<unsigned>(std::max(0, e.window.data2));
                RenderFrame(frames, app);
            }
            break;
        case SDL_DROPBEGIN:
        case SDL_DROPFILE:
        case SDL_DROPTEXT:
        case SDL_DROPCOMPLETE:
            HandleDropEvent(shell.drop, app, e, frames.uiScale, [&shell] {
                DropPointer p;
                if (shell.driver)
                    TestDriverPointer(*shell.driver, p.x, p.y, p.alt);
                else
                    p = QueryDropPointer(shell.window);
                return p;
            });
            SDL_free(e.drop.file);
            break;
        default: break;
    }
}

GuiActivity CurrentGuiActivity() {
    GuiActivity gui;
    gui.wantTextInput = ImGui::GetIO().WantTextInput;
    gui.popupOpen = ImGui::IsPopupOpen("", ImGuiPopupFlags_AnyPopupId | ImGuiPopupFlags_AnyPopupLevel);
    gui.itemActive = ImGui::IsAnyItemActive();
    return gui;
}

// ---------------------------------------------------------------------------
// Main loop
// ---------------------------------------------------------------------------

void RunMainLoop(ShellWindow& shell, FrameDriver& frames, AppState& app, TestDriver* driver) {
    using Clock = std::chrono::steady_clock;
    frames.appRunning = true;
    Clock::time_point lastFrameStart = Clock::now();
    bool menuOpening = false;
    QuietFrames quiet, documentQuiet;
    while (!shell.quitPosted) {
        const bool moving = LoopIsActive(app, gSoundLibrary, CurrentGuiActivity()) || menuOpening;
        // A script waiting for frames (measuring, settling) changes nothing by
        // itself: only its steps stir the document.
        bool active = moving || (driver && TestDriverWantsFrames(*driver));
        frames.presentOnlyChanges = !active;
        const size_t stepsBefore = driver ? TestDriverStepsRun(*driver) : 0;
        if (driver) TestDriverBeforeEvents(*driver);
        bool stirred = moving || (driver && TestDriverStepsRun(*driver) != stepsBefore);
        bool documentStirred = stirred;
        SDL_Event e;
        auto handle = [&] {
            HandleEvent(shell, frames, app, e);
            stirred = true;
            documentStirred = documentStirred || EventMayChangeDocument(e);
        };
        if (active) {
            while (SDL_PollEvent(&e)) handle();
        } else if (SDL_WaitEventTimeout(&e, kIdleWaitMs)) {
            handle();
            while (SDL_PollEvent(&e)) handle();
        }
        // A finished update check is copied in before the save it asked for.
        const bool saveRequested = app.savePrefsRequest.exchange(false);
        TakeUpdateCheckResult(app);
        if (saveRequested && gShellServices.savePreferences) gShellServices.savePreferences();
        ReapChildProcesses();
        ServeSecondLaunch(app, shell.window);
        gCaption.maximized = (SDL_GetWindowFlags(shell.window) & SDL_WINDOW_MAXIMIZED) != 0;

        // Where the swap does not wait for the display, frames keep ~60/s.
        double sinceLast = std::chrono::duration<double>(Clock::now() - lastFrameStart).count();
        double delay = FramePaceDelay(sinceLast, kMinFrameSeconds);
        if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
        lastFrameStart = Clock::now();
        stirred = stirred || ImGui::IsAnyMouseDown() || !app.pendingOpenPath.empty();
        const bool dragging = ImGui::IsMouseDown(0) || ImGui::IsMouseDown(1) || ImGui::IsMouseDown(3) ||
                              ImGui::IsMouseDown(4);
        documentStirred = documentStirred || dragging || !app.pendingOpenPath.empty();
        app.quietFrame = NextFrameQuiet(quiet, stirred);
        app.documentQuiet = NextFrameQuiet(documentQuiet, documentStirred);
        RenderFrame(frames, app);
        // The menu button asked for the program menu: the next frame opens it.
        menuOpening = TakeMenuPopupRequest(gProgramMenu, app);
        // SIGTERM or SIGHUP: the program ends without asking once nothing
        // owns the document, its unsaved work in a recovery backup.
        ServeTerminationSignal(app, ProgramLifecycleContext(), gShellServices, PendingTerminationSignal());

        if (driver && TestDriverShouldEndLoop(*driver)) break;
    }
    frames.appRunning = false;
}

// ---------------------------------------------------------------------------
// Shutdown
// ---------------------------------------------------------------------------

void CloseWindowAndGui(ShellWindow& shell, FrameDriver& frames) {
    // The drop target is released with the drop target's code.
    if (shell.guiStarted) {
        Log("shutdown: shut down the GUI");
        if (shell.backend) {
            ImGui_ImplOpenGL3_Shutdown();
            ImGui_ImplSDL2_Shutdown();
        }
        ImGui::DestroyContext();
        shell.guiStarted = false;
    }
    if (shell.backend) {
        Log("shutdown: release the OpenGL objects");
        shell.backend->ReleaseSnapshot(frames.frozen);
        frames.backend = nullptr;
        delete shell.backend;
        shell.backend = nullptr;
    }
    CleanupGlDevice(shell.device);
    if (shell.window) {
        Log("shutdown: destroy the window");
        SDL_DestroyWindow(shell.window);
        shell.window = nullptr;
    }
    SDL_Quit();
}

}  // namespace

// ---------------------------------------------------------------------------
// RunShell
// ---------------------------------------------------------------------------

int RunShell(int argc, char** argv, const ShellInterface& ui) {
    AppState& app = gAppState;
    FrameDriver& frames = gFrameDriver;
    frames.drawUI = ui.drawUI;
    ShellWindow shell;
    DrawnTextRecord drawnText;  // a script's record of what the widgets drew
    Log("Tessaloom starting");
    // Before the window system starts: SDL then leaves SIGTERM to us rather
    // than turning it into a quit that would stop at the unsaved-changes
    // question.
    InstallTerminationHandlers();
    // Resources and demo content lie beside the program; the first frame needs
    // it before the other platform hooks are installed.
    app.exeDir = ExecutableDirUtf8();
    // A project opened while a copy runs goes to that copy, absolute: its
    // working folder is not ours.
    std::string projectPath = AbsoluteProjectPath(ParseCommandLine(argc, argv));
    if (!projectPath.empty() && HandOverCommandLinePath(projectPath)) return 0;

    if (!CreateMainWindow(shell)) {
        CloseWindowAndGui(shell, frames);
        return 1;
    }
    SetWindowIconFromLogo(shell.window, app.exeDir);
    ApplyUiScale(shell, frames);
    BuildMenuBar();
    InstallWindowCaption(shell.window, frames.uiScale);
    if (!CreateGlDevice(shell.window, shell.device)) {
        CloseWindowAndGui(shell, frames);
        return 1;
    }
    shell.backend = new SdlGlBackend(shell.window);
    frames.backend = shell.backend;
    SDL_ShowWindow(shell.window);
    // Drops arrive as SDL events (HandleEvent); there is nothing to register.

    StartGui(shell, app, frames.uiScale, ui.glyphs);
    // The reference-video player's device joins here.
    app.quitCallback = [&shell] {
        shell.quitPosted = true;
        if (shell.window) SDL_HideWindow(shell.window);
    };
    // The title bar's fields, then its menu-button and caption-button
    // callbacks; the reference-audio mix hook joins here.
    InstallTitleBarCallbacks(app);
    InstallPlatformHooks(app);
    SetDialogHost(DialogHostFor(shell.window));
    app.setTheme = [](int index) { SetTheme(index); };
    app.applyThemeStyle = ApplyThemeStyle;
    ApplyThemeStyle();
    ImGui_ImplSDL2_InitForOpenGL(shell.window, shell.device.context);
    ImGui_ImplOpenGL3_Init("#version 330 core");
    LoadAboutImages(app);
    if (gShellServices.openAudioOutput) gShellServices.openAudioOutput(app);
    if (!projectPath.empty()) app.pendingOpenPath = projectPath;

    int w = 0, h = 0;
    SDL_GetWindowSize(shell.window, &w, &h);
    std::printf("[UI] window open (%dx%d)\n", w, h);
    std::fflush(stdout);

    RegisterStateDump(DumpFonts);
    RegisterStateDump(DumpTitleBar);
    RegisterStateDump(DumpWindowIcon);
    RegisterStateDump(DumpSecondLaunch);
    StartSecondLaunchListener();
    TestDriverPtr driver = StartTestDriver(shell.window, frames, ui.scriptEdit);
    shell.backend->scriptedInput = driver != nullptr;
    shell.driver = driver.get();
    // A script checks what the widgets drew (names drawn whole, in display order).
    if (driver) RecordDrawnText(&drawnText);
    RegisterStateDump(DumpDrawnText);
    RegisterStateDump(DumpDropFields);
    RegisterStateDump(DumpUpdateCheckFields);
    RegisterStateDump(DumpProjectFields);
    RegisterDocumentStateDump(DumpDocumentFields);
    RegisterStateDump(DumpEngineFields);
    // The interface's panels: their dumps and the title-bar prompt.
    if (ui.install) ui.install();
    RunMainLoop(shell, frames, app, driver.get());
    if (driver) TestDriverAtLoopEnd(*driver);
    RecordDrawnText(nullptr);
    StopSecondLaunchListener();
    int exitCode = driver ? TestDriverExitCode(*driver) : 0;
    shell.driver = nullptr;
    if (driver) ReleaseTestDriver(*driver);

    StopForShutdown(app, gShellServices);
    driver.reset();  // after the jobs, which carry its observer
    app.quitCallback = nullptr;
    SetDialogHost({});
    ReleaseAboutImages(app);
    CloseWindowAndGui(shell, frames);
    RunExitHandlers(app, gSoundLibrary, gShellServices);
    return exitCode;
}
