// caption_logic.h — the rules of the program's own window caption, as plain
// functions over plain values (no window system, no GUI).
//
// Index
//   CaptionRect / CaptionHit     a button rectangle in window pixels; what a point hits
//   CaptionGeometry              what the hit test needs to know of the window
//   CaptionHitTest               resize bands, caption buttons, drag zone, client
//   CaptionButtonAt              which caption button a point lies on (1..3, 0 none)
//   CaptionButtonRect            a button's hit rectangle from its place in points
//   MinimumWindowSize            the smallest window, in pixels
//   ScaleForScreen               the UI scale lowered until the screen holds the smallest window
//   ScreenArea / PlaceWindow     the opening size and place, within the screen's usable area
//   CaptionRelease               what a left-button release on the caption does
//   DragZoneClicks               two presses in the drag zone that make a double-click
//   CaptionState / gCaption      what the window's events and the title bar's drawing share
//
// Pixels are window-relative (the window's top-left corner is 0, 0). The GUI
// works in points; points × UI scale = pixels.
//
// The window has no decoration of the window system: besides the band at the
// top that the caption has always carried (6 points, not while maximised),
// the sides, the bottom and the corners carry resize bands of the same width,
// since there are no native borders outside the client area to grab. The
// bands come before everything else, the caption buttons included; a
// maximised window has none.
#pragma once

#include <cstdint>

struct CaptionRect {
    int left = 0, top = 0, right = 0, bottom = 0;
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

enum class CaptionHit {
    Client,
    Drag,
    ResizeTop,
    ResizeBottom,
    ResizeLeft,
    ResizeRight,
    ResizeTopLeft,
    ResizeTopRight,
    ResizeBottomLeft,
    ResizeBottomRight,
    Minimize,
    Maximize,  // maximise, or restore when maximised
    Close,
};

// Width of the resize bands in points.
constexpr float kResizeBandPoints = 6.0f;
// Width of one caption button in points; three of them end at the right edge.
constexpr float kCaptionButtonPoints = 46.0f;

struct CaptionGeometry {
    int windowWidth = 0;   // pixels
    int windowHeight = 0;
    float uiScale = 1;
    bool maximized = false;
    float titleBarHeight = 0;  // points; 0: no drag zone
    float dragMinX = 0;        // points
    float dragMaxX = 0;
    CaptionRect buttons[3];    // minimise, maximise, close (pixels)
};

CaptionHit CaptionHitTest(const CaptionGeometry& g, int x, int y);

// 1 minimise, 2 maximise or restore, 3 close, 0 none.
int CaptionButtonAt(const CaptionRect (&buttons)[3], int x, int y);

// Button k (0 minimise, 1 maximise, 2 close) of a title bar `windowWidth`
// points wide and `height` points high: it spans windowWidth − (3 − k) · 46
// to 46 points further, the full height. Edges are rounded to the nearest
// pixel, so the close button ends exactly at the window's right edge.
CaptionRect CaptionButtonRect(int k, float windowWidth, float height, float uiScale);

struct WindowSize {
    int width = 0;
    int height = 0;
};
// (int)(960 · scale) × (int)(540 · scale), but never more than `screen`
// (a screen smaller than that at a large scale would otherwise force the
// window past its edges).
struct ScreenArea {
    int x = 0, y = 0, width = 0, height = 0;  // pixels of the desktop; width 0: unknown
};
WindowSize MinimumWindowSize(float uiScale, const ScreenArea& screen = {});

// The smallest window in points; every panel is laid out to be whole in it.
constexpr int kMinimumWindowPoints[2] = {960, 540};
// The largest scale, no larger than `asked`, at which `screen` holds the
// smallest window (960 × 540 points), in steps of 1/100: a panel drawn in a
// window smaller than that in points would be cut. An unknown screen (width
// 0) keeps `asked`; a bad `asked` counts as 1; the result is never below 0.5.
float ScaleForScreen(float asked, const ScreenArea& screen);

// The window at `width` × `height` pixels (1280 × 720 points at the UI scale)
// on a screen whose usable area (without the desktop's panels) is `screen`:
// no larger than that area and centred in it, so its caption, menu and tabs
// are on the screen. An unknown area (width 0) centres nothing and keeps the size.
struct WindowPlacement {
    int x = 0, y = 0, width = 0, height = 0;
    bool centred = false;  // x and y are meant (else the window system places it)
};
WindowPlacement PlaceWindow(int width, int height, const ScreenArea& screen);

enum class CaptionAction { Nothing, Minimize, MaximizeOrRestore, Close };

// A left-button release at a point over button `buttonUnderPointer` (0 none).
// `captionPressed` is the button the press landed on (0 none) and is cleared.
// A release elsewhere than the pressed button does nothing.
CaptionAction CaptionRelease(int& captionPressed, int buttonUnderPointer);

// Presses in the drag zone, for the double-click that maximises or restores:
// the second press within `kDoubleClickMs` and `kDoubleClickSlop` pixels of
// the first. A double-click's second press does not start another pair.
struct DragZoneClicks {
    bool havePress = false;
    uint32_t lastMs = 0;
    int lastX = 0;
    int lastY = 0;
};
constexpr uint32_t kDoubleClickMs = 500;
constexpr int kDoubleClickSlop = 4;
// True when this press completes a double-click.
bool DragZonePress(DragZoneClicks& clicks, uint32_t ms, int x, int y);

// Shared by the window's event handling (window_caption.h) and the title
// bar's drawing (title_bar.h), UI thread only.
struct CaptionState {
    float uiScale = 1;
    int captionHover = 0;    // button under the pointer: 0 none, 1 minimise, 2 maximise, 3 close
    int captionPressed = 0;  // button the left button went down on, 0 none
    CaptionRect buttons[3];  // written by the title bar every frame it is drawn
    bool maximized = false;
    DragZoneClicks dragClicks;
    CaptionHit lastHit = CaptionHit::Client;  // the window system's last hit test, and where
    int lastHitX = 0;
    int lastHitY = 0;
    int maximizeToggles = 0;  // double-clicks and maximise clicks taken (for the test dump)
};
extern CaptionState gCaption;
