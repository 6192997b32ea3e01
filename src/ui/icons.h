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
