// icons.h — glyphs of the merged icon font (Font Awesome 5 solid) that the
// timeline, the title bar, the video area, the transport band and other
// panels draw, in one place. Each is UTF-8 text. The tabs' icons are listed
// with the tabs (tab_row.cpp).
//
// Index
//   kIcon...    named glyphs
//   ShapeIcon   the glyph of an event shape (Spot .. Bed; others a circle)
#pragma once

inline constexpr const char* kIconLock = "\uF023";        // lock
inline constexpr const char* kIconUnlock = "\uF09C";      // unlock
inline constexpr const char* kIconScenes = "\uF008";      // film: the scenes row's arm button
inline constexpr const char* kIconWorkIn = "\uF2F6";      // sign-in-alt: the in point
inline constexpr const char* kIconWorkOut = "\uF2F5";     // sign-out-alt: the out point
inline constexpr const char* kIconDrawMode = "\uF303";    // pencil-alt
inline constexpr const char* kIconZoomIn = "\uF00E";      // search-plus
inline constexpr const char* kIconZoomOut = "\uF010";     // search-minus
inline constexpr const char* kIconZoomFit = "\uF337";     // arrows-alt-h

// The title bar, the video area and the transport band.
inline constexpr const char* kIconLogo = "\uE400";         // the logo glyph of the logo font
inline constexpr const char* kIconPlay = "\uF04B";         // play
inline constexpr const char* kIconPause = "\uF04C";        // pause
inline constexpr const char* kIconStop = "\uF04D";         // stop
inline constexpr const char* kIconFrameBack = "\uF048";    // step-backward
inline constexpr const char* kIconFrameForward = "\uF051"; // step-forward
inline constexpr const char* kIconMaterial = "\uF1C7";     // file-audio: the designer's own audio
inline constexpr const char* kIconPresets = "\uF02E";      // bookmark: recipes and chains
inline constexpr const char* kIconLoadVideo = "\uF03D";    // video
inline constexpr const char* kIconTrash = "\uF1F8";        // trash: a recipe's preview file

// The glyphs above, the tabs' and the shapes', and the group arrows: the
// atlas rasterises them before the first frame (the rest of the icons join
// when a panel first draws them).
inline constexpr const char* kInterfaceGlyphs =
    "\uF023\uF09C\uF008\uF2F6\uF2F5\uF303\uF00E\uF010\uF337\uE400\uF04B\uF04C\uF04D\uF048\uF051\uF1C7"
    "\uF02E\uF03D\uF1F8\uF013\uF56E\uF07C\uF1DE\uF06E\uF550\uF192\uF185\uF83E\uF773\uF2A1\uF5FD\uF111"
    "\uF0D7\uF0DA";

// The group headers' fold arrows (caret-down, caret-right).
inline constexpr const char* kIconGroupShown = "\uF0D7";
inline constexpr const char* kIconGroupFolded = "\uF0DA";

inline const char* ShapeIcon(int shape) {
    static const char* const kShapeIcons[7] = {
        "\uF192",  // Spot: dot-circle
        "\uF185",  // Bloom: sun
        "\uF83E",  // Contour: wave-square
        "\uF773",  // Fill: water
        "\uF2A1",  // Scatter: braille
        "\uF1C7",  // Clip: file-audio
        "\uF5FD",  // Bed: layer-group
    };
    return shape >= 0 && shape < 7 ? kShapeIcons[shape] : "\uF111";
}
