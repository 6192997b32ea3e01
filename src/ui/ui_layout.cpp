// ui_layout.cpp — the layout formulas of the main window.
//
// Index
//   ComputeUILayout / SpacingForFontSize
//   Region rectangles
#include "ui/ui_layout.h"

#include <algorithm>
#include <cmath>

UILayout ComputeUILayout(float displayWidth, float displayHeight, float fontSize, bool titleBarCallback,
                         const LayoutVideo& video) {
    UILayout l;
    const float W = displayWidth;
    const float H = displayHeight;
    const float F = fontSize;
    l.displayWidth = W;
    l.displayHeight = H;
    l.fontSize = F;
    l.titleBarHeight = std::max(1.8f * F, 32.0f) + (titleBarCallback ? 8.0f : 0.0f);
    l.videoHeight = 0.38f * H;
    l.transportHeight = std::max(2.3f * F, 40.0f);
    l.footerHeight = std::max(1.4f * F, 24.0f);
    l.timelineHeight =
        std::max(0.0f, H - l.titleBarHeight - l.videoHeight - l.transportHeight - l.footerHeight);

    l.videoWidth = std::min(2.4f * l.videoHeight + 16.0f, 0.6f * W);
    l.hasVideo = video.hasVideo;
    if (video.hasVideo && video.pixelWidth > 0 && video.pixelHeight > 0 && l.videoHeight > 0) {
        // A picture wider than 16:9 narrows the box to its own shape; a
        // narrower one keeps the box and is letterboxed inside it.
        float aspect = video.pixelWidth / video.pixelHeight;
        if (aspect >= 16.0f / 9.0f && l.videoWidth / l.videoHeight >= aspect) l.videoWidth = aspect * l.videoHeight;
    }
    l.panelWidth = W - l.videoWidth;
    l.panelSplitLeft = 0.5f * l.panelWidth;
    l.panelSplitRight = l.panelWidth - l.panelSplitLeft;
    return l;
}

LayoutSpacing SpacingForFontSize(float fontSize) {
    return {std::round(8.0f * fontSize / 18.0f), std::round(4.0f * fontSize / 18.0f)};
}

// ---------------------------------------------------------------------------
// Region rectangles: title bar, then the top band (video area and tab panel),
// transport, timeline and footer, top to bottom.
// ---------------------------------------------------------------------------

LayoutRect TitleBarRect(const UILayout& l) { return {0, 0, l.displayWidth, l.titleBarHeight}; }

LayoutRect VideoAreaRect(const UILayout& l) { return {0, l.titleBarHeight, l.videoWidth, l.videoHeight}; }

LayoutRect TabPanelRect(const UILayout& l) {
    return {l.videoWidth, l.titleBarHeight, l.panelWidth, l.videoHeight};
}

LayoutRect TransportRect(const UILayout& l) {
    return {0, l.titleBarHeight + l.videoHeight, l.displayWidth, l.transportHeight};
}

LayoutRect TimelineRect(const UILayout& l) {
    return {0, l.titleBarHeight + l.videoHeight + l.transportHeight, l.displayWidth, l.timelineHeight};
}

LayoutRect FooterRect(const UILayout& l) {
    return {0, l.displayHeight - l.footerHeight, l.displayWidth, l.footerHeight};
}
