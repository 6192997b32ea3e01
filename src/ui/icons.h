// icons.h — glyphs of the merged icon font (Font Awesome 5 solid) that the
// timeline and other panels draw. Each is UTF-8 text.
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
