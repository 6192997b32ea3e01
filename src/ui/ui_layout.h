// ui_layout.h — the bands of the main window, computed every frame.
//
// Index
//   UILayout              the per-frame layout every panel receives (points)
//   LayoutVideo           what the layout needs of the reference video
//   ComputeUILayout       the formulas, a pure function
//   SpacingForFontSize    frame padding and item spacing that follow the font
//   LayoutRect / ...Rect  the rectangles of the title bar, video area, tab
//                         panel, transport, timeline and footer
//
// All lengths are in points: the GUI's display size is already divided by
// the UI scale, so nothing here is multiplied by it again.
#pragma once

struct UILayout {
    float displayWidth = 0;
    float displayHeight = 0;
    float fontSize = 0;
    float titleBarHeight = 0;
    float videoHeight = 0;
    float transportHeight = 0;
    float footerHeight = 0;
    float timelineHeight = 0;
    float videoWidth = 0;
    float panelWidth = 0;
    float panelSplitLeft = 0;
    float panelSplitRight = 0;
    bool hasVideo = false;
};

struct LayoutVideo {
    bool hasVideo = false;  // a reference video is open with a decoded frame texture
    float pixelWidth = 0;
    float pixelHeight = 0;
};

// `titleBarCallback` tells whether the caption buttons are drawn (they add 8
// points to the title bar). Bands never get a negative height: a window too
// small for the minima gives the timeline 0.
UILayout ComputeUILayout(float displayWidth, float displayHeight, float fontSize, bool titleBarCallback,
                         const LayoutVideo& video);

// Frame padding and item spacing, both (8·F/18, 4·F/18) rounded to whole
// points: paddings follow the font size (18 points is the reference).
struct LayoutSpacing {
    float x = 0;
    float y = 0;
};
LayoutSpacing SpacingForFontSize(float fontSize);

struct LayoutRect {
    float x = 0;
    float y = 0;
    float width = 0;
    float height = 0;
    bool Contains(float px, float py) const { return px >= x && py >= y && px < x + width && py < y + height; }
};

LayoutRect TitleBarRect(const UILayout& layout);
LayoutRect VideoAreaRect(const UILayout& layout);
LayoutRect TabPanelRect(const UILayout& layout);
LayoutRect TransportRect(const UILayout& layout);
LayoutRect TimelineRect(const UILayout& layout);
LayoutRect FooterRect(const UILayout& layout);
