// caption_logic.cpp — hit test, button rectangles, minimum size, clicks.
//
// Index
//   CaptionHitTest / CaptionButtonAt
//   CaptionButtonRect / MinimumWindowSize / PlaceWindow
//   CaptionRelease / DragZonePress
#include "app/caption_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

CaptionState gCaption;

// ---------------------------------------------------------------------------
// Hit test
// ---------------------------------------------------------------------------

int CaptionButtonAt(const CaptionRect (&buttons)[3], int x, int y) {
    for (int k = 0; k < 3; ++k)
        if (buttons[k].Contains(x, y)) return k + 1;
    return 0;
}

CaptionHit CaptionHitTest(const CaptionGeometry& g, int x, int y) {
    const float s = g.uiScale > 0 ? g.uiScale : 1.0f;
    if (!g.maximized) {
        const int band = static_cast<int>(kResizeBandPoints * s + 0.5f);
        const bool top = y < band;
        const bool bottom = y >= g.windowHeight - band;
        const bool left = x < band;
        const bool right = x >= g.windowWidth - band;
        if (top && left) return CaptionHit::ResizeTopLeft;
        if (top && right) return CaptionHit::ResizeTopRight;
        if (bottom && left) return CaptionHit::ResizeBottomLeft;
        if (bottom && right) return CaptionHit::ResizeBottomRight;
        if (top) return CaptionHit::ResizeTop;
        if (bottom) return CaptionHit::ResizeBottom;
        if (left) return CaptionHit::ResizeLeft;
        if (right) return CaptionHit::ResizeRight;
    }
    switch (CaptionButtonAt(g.buttons, x, y)) {
        case 1: return CaptionHit::Minimize;
        case 2: return CaptionHit::Maximize;
        case 3: return CaptionHit::Close;
        default: break;
    }
    const float h = g.titleBarHeight * s;
    if (h > 0 && static_cast<float>(y) < h && static_cast<float>(x) >= g.dragMinX * s &&
        static_cast<float>(x) < g.dragMaxX * s)
        return CaptionHit::Drag;
    return CaptionHit::Client;
}

// ---------------------------------------------------------------------------
// Sizes
// ---------------------------------------------------------------------------

CaptionRect CaptionButtonRect(int k, float windowWidth, float height, float uiScale) {
    const float x0 = windowWidth - static_cast<float>(3 - k) * kCaptionButtonPoints;
    CaptionRect r;
    r.left = static_cast<int>(std::lround(uiScale * x0));
    r.top = 0;
    r.right = static_cast<int>(std::lround(uiScale * (x0 + kCaptionButtonPoints)));
    r.bottom = static_cast<int>(std::lround(uiScale * height));
    return r;
}

WindowSize MinimumWindowSize(float uiScale, const ScreenArea& screen) {
    const float s = uiScale > 0 ? uiScale : 1.0f;
    WindowSize size{static_cast<int>(float(kMinimumWindowPoints[0]) * s),
                    static_cast<int>(float(kMinimumWindowPoints[1]) * s)};
    if (screen.width > 0 && screen.height > 0) {
        size.width = std::min(size.width, screen.width);
        size.height = std::min(size.height, screen.height);
    }
    return size;
}

float ScaleForScreen(float asked, const ScreenArea& screen) {
    const float s = std::isfinite(asked) && asked > 0 ? asked : 1.0f;
    if (screen.width <= 0 || screen.height <= 0) return s;
    const float fits = std::min(float(screen.width) / float(kMinimumWindowPoints[0]),
                                float(screen.height) / float(kMinimumWindowPoints[1]));
    if (s <= fits) return s;
    // Hundredths, rounded down: the window must still fit in whole pixels.
    return std::max(0.5f, std::floor(fits * 100.0f) / 100.0f);
}

WindowPlacement PlaceWindow(int width, int height, const ScreenArea& screen) {
    WindowPlacement p;
    p.width = std::max(width, 1);
    p.height = std::max(height, 1);
    if (screen.width <= 0 || screen.height <= 0) return p;
    p.width = std::min(p.width, screen.width);
    p.height = std::min(p.height, screen.height);
    p.x = screen.x + (screen.width - p.width) / 2;
    p.y = screen.y + (screen.height - p.height) / 2;
    p.centred = true;
    return p;
}

// ---------------------------------------------------------------------------
// Clicks
// ---------------------------------------------------------------------------

CaptionAction CaptionRelease(int& captionPressed, int buttonUnderPointer) {
    const int pressed = captionPressed;
    captionPressed = 0;
    if (pressed == 0 || pressed != buttonUnderPointer) return CaptionAction::Nothing;
    switch (pressed) {
        case 1: return CaptionAction::Minimize;
        case 2: return CaptionAction::MaximizeOrRestore;
        case 3: return CaptionAction::Close;
        default: return CaptionAction::Nothing;
    }
}

bool DragZonePress(DragZoneClicks& clicks, uint32_t ms, int x, int y) {
    const bool doubled = clicks.havePress && ms - clicks.lastMs <= kDoubleClickMs &&
                         std::abs(x - clicks.lastX) <= kDoubleClickSlop &&
                         std::abs(y - clicks.lastY) <= kDoubleClickSlop;
    if (doubled) {
        clicks.havePress = false;
        return true;
    }
    clicks.havePress = true;
    clicks.lastMs = ms;
    clicks.lastX = x;
    clicks.lastY = y;
    return false;
}
