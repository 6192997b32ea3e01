// window_caption.cpp — hit test, caption buttons and accelerators on SDL.
//
// Index
//   Hit test             the callback and InstallWindowCaption
//   Window actions       minimise, maximise or restore, close
//   HandleCaptionEvent
//   Accelerators         KeyChordFromSdl, HandleAcceleratorEvent
#include "app/window_caption.h"

#include <cctype>
#include <cstdio>

#include "operations/app_state.h"

namespace {

void Log(const char* text) {
    std::printf("[UI] caption: %s\n", text);
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------
// Hit test
// ---------------------------------------------------------------------------

SDL_HitTestResult ToSdl(CaptionHit hit) {
    switch (hit) {
        case CaptionHit::Drag: return SDL_HITTEST_DRAGGABLE;
        case CaptionHit::ResizeTop: return SDL_HITTEST_RESIZE_TOP;
        case CaptionHit::ResizeBottom: return SDL_HITTEST_RESIZE_BOTTOM;
        case CaptionHit::ResizeLeft: return SDL_HITTEST_RESIZE_LEFT;
        case CaptionHit::ResizeRight: return SDL_HITTEST_RESIZE_RIGHT;
        case CaptionHit::ResizeTopLeft: return SDL_HITTEST_RESIZE_TOPLEFT;
        case CaptionHit::ResizeTopRight: return SDL_HITTEST_RESIZE_TOPRIGHT;
        case CaptionHit::ResizeBottomLeft: return SDL_HITTEST_RESIZE_BOTTOMLEFT;
        case CaptionHit::ResizeBottomRight: return SDL_HITTEST_RESIZE_BOTTOMRIGHT;
        // The caption buttons are client area: their clicks come as mouse events.
        default: return SDL_HITTEST_NORMAL;
    }
}

SDL_HitTestResult HitTestCallback(SDL_Window* window, const SDL_Point* point, void* data) {
    auto* caption = static_cast<CaptionState*>(data);
    caption->lastHit = CaptionHitTest(CurrentCaptionGeometry(window, *caption, gAppState), point->x, point->y);
    caption->lastHitX = point->x;
    caption->lastHitY = point->y;
    return ToSdl(caption->lastHit);
}

// ---------------------------------------------------------------------------
// Window actions
// ---------------------------------------------------------------------------

void ToggleMaximized(SDL_Window* window, CaptionState& caption) {
    ++caption.maximizeToggles;
    if (SDL_GetWindowFlags(window) & SDL_WINDOW_MAXIMIZED) {
        Log("restore");
        SDL_RestoreWindow(window);
    } else {
        Log("maximise");
        SDL_MaximizeWindow(window);
    }
}

void RunCaptionAction(SDL_Window* window, CaptionState& caption, AppState& app, CaptionAction action) {
    switch (action) {
        case CaptionAction::Minimize:
            Log("minimise");
            SDL_MinimizeWindow(window);
            break;
        case CaptionAction::MaximizeOrRestore: ToggleMaximized(window, caption); break;
        case CaptionAction::Close:
            // As the window system's close: DrawUI decides (unsaved changes, an export).
            Log("close");
            app.quitRequested = true;
            break;
        case CaptionAction::Nothing: break;
    }
}

int ButtonUnder(SDL_Window* window, const CaptionState& caption, const AppState& app, int x, int y) {
    switch (CaptionHitTest(CurrentCaptionGeometry(window, caption, app), x, y)) {
        case CaptionHit::Minimize: return 1;
        case CaptionHit::Maximize: return 2;
        case CaptionHit::Close: return 3;
        default: return 0;
    }
}

}  // namespace

void InstallWindowCaption(SDL_Window* window, float uiScale) {
    gCaption.uiScale = uiScale > 0 ? uiScale : 1.0f;
    const WindowSize minimum = MinimumWindowSize(gCaption.uiScale, UsableScreenArea(window));
    SDL_SetWindowMinimumSize(window, minimum.width, minimum.height);
    if (SDL_SetWindowHitTest(window, HitTestCallback, &gCaption) != 0)
        std::printf("[UI] caption: no hit test on this system (%s); the window keeps still\n", SDL_GetError());
    std::fflush(stdout);
}

ScreenArea UsableScreenArea(SDL_Window* window) {
    ScreenArea area;
    const int display = SDL_GetWindowDisplayIndex(window);
    SDL_Rect r{};
    if (display < 0 || SDL_GetDisplayUsableBounds(display, &r) != 0 || r.w <= 0 || r.h <= 0) return area;
    area.x = r.x, area.y = r.y, area.width = r.w, area.height = r.h;
    return area;
}

CaptionGeometry CurrentCaptionGeometry(SDL_Window* window, const CaptionState& caption, const AppState& app) {
    CaptionGeometry g;
    SDL_GetWindowSize(window, &g.windowWidth, &g.windowHeight);
    g.uiScale = caption.uiScale;
    g.maximized = (SDL_GetWindowFlags(window) & SDL_WINDOW_MAXIMIZED) != 0;
    g.titleBarHeight = app.titleBarHeight;
    g.dragMinX = app.titleBarDragMinX;
    g.dragMaxX = app.titleBarDragMaxX;
    for (int k = 0; k < 3; ++k) g.buttons[k] = caption.buttons[k];
    return g;
}

// ---------------------------------------------------------------------------
// HandleCaptionEvent
// ---------------------------------------------------------------------------

bool HandleCaptionEvent(SDL_Window* window, CaptionState& caption, AppState& app, const SDL_Event& e) {
    const uint32_t id = SDL_GetWindowID(window);
    switch (e.type) {
        case SDL_MOUSEMOTION:
            if (e.motion.windowID == id) caption.captionHover = ButtonUnder(window, caption, app, e.motion.x, e.motion.y);
            return false;
        case SDL_MOUSEBUTTONDOWN: {
            if (e.button.windowID != id || e.button.button != SDL_BUTTON_LEFT) return false;
            const int button = ButtonUnder(window, caption, app, e.button.x, e.button.y);
            if (button == 0) return false;
            caption.captionPressed = button;
            return true;
        }
        case SDL_MOUSEBUTTONUP: {
            if (e.button.button != SDL_BUTTON_LEFT || caption.captionPressed == 0) return false;
            const int under = e.button.windowID == id ? ButtonUnder(window, caption, app, e.button.x, e.button.y) : 0;
            caption.captionHover = under;
            RunCaptionAction(window, caption, app, CaptionRelease(caption.captionPressed, under));
            return true;
        }
        case SDL_WINDOWEVENT:
            if (e.window.windowID != id) return false;
            if (e.window.event == SDL_WINDOWEVENT_LEAVE) {
                caption.captionHover = 0;
            } else if (e.window.event == SDL_WINDOWEVENT_HIT_TEST && caption.lastHit == CaptionHit::Drag) {
                if (DragZonePress(caption.dragClicks, e.window.timestamp, caption.lastHitX, caption.lastHitY))
                    ToggleMaximized(window, caption);
            }
            return false;
        default: return false;
    }
}

// ---------------------------------------------------------------------------
// Accelerators
// ---------------------------------------------------------------------------

KeyChord KeyChordFromSdl(const SDL_Keysym& key) {
    KeyChord chord;
    chord.ctrl = (key.mod & KMOD_CTRL) != 0;
    chord.shift = (key.mod & KMOD_SHIFT) != 0;
    chord.alt = (key.mod & KMOD_ALT) != 0;
    // Digits are the top row's keys on every layout; letters and punctuation
    // follow the layout, and keys without a Latin face take their US place.
    if (key.sym == SDLK_F1) {
        chord.key = kKeyF1;
    } else if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9) {
        chord.key = '1' + (key.scancode - SDL_SCANCODE_1);
    } else if (key.scancode == SDL_SCANCODE_0) {
        chord.key = '0';
    } else if (key.sym > 32 && key.sym < 127) {
        chord.key = std::tolower(key.sym);
    } else if (key.scancode >= SDL_SCANCODE_A && key.scancode <= SDL_SCANCODE_Z) {
        chord.key = 'a' + (key.scancode - SDL_SCANCODE_A);
    } else {
        switch (key.scancode) {
            case SDL_SCANCODE_COMMA: chord.key = ','; break;
            case SDL_SCANCODE_EQUALS: chord.key = '='; break;
            case SDL_SCANCODE_MINUS: chord.key = '-'; break;
            default: break;
        }
    }
    return chord;
}

bool HandleAcceleratorEvent(AppState& app, const SDL_Event& e) {
    if (e.type != SDL_KEYDOWN) return false;
    const int command = MatchAccelerator(KeyChordFromSdl(e.key.keysym));
    if (command == 0) return false;
    HandleMenuCommand(app, command);
    return true;
}
