// band_icons.h — the glyphs of the merged icon font (Font Awesome 5 solid)
// that the title bar, the video area and the transport band draw, in one
// place. Each is UTF-8 text. The tabs' icons are listed with the tabs
// (tab_row.cpp).
#pragma once

inline constexpr const char* kIconLogo = "\uE400";         // the logo glyph of the logo font
inline constexpr const char* kIconPlay = "\uF04B";         // play
inline constexpr const char* kIconPause = "\uF04C";        // pause
inline constexpr const char* kIconStop = "\uF04D";         // stop
inline constexpr const char* kIconFrameBack = "\uF048";    // step-backward
inline constexpr const char* kIconFrameForward = "\uF051"; // step-forward
inline constexpr const char* kIconMaterial = "\uF1C7";     // file-audio: the designer's own audio
inline constexpr const char* kIconPresets = "\uF02E";      // bookmark: recipes and chains
inline constexpr const char* kIconLocked = "\uF023";       // lock
inline constexpr const char* kIconUnlocked = "\uF09C";     // unlock
inline constexpr const char* kIconLoadVideo = "\uF03D";    // video
inline constexpr const char* kIconClip = "\uF1C7";         // file-audio
inline constexpr const char* kIconBed = "\uF5FD";          // layer-group
inline constexpr const char* kIconTrash = "\uF1F8";        // trash: a recipe's preview file

// The four shapes the transport places: Spot, Bloom, Contour, Fill.
inline const char* BandShapeIcon(int shape) {
    static const char* const kIcons[4] = {"\uF192", "\uF185", "\uF83E", "\uF773"};
    return shape >= 0 && shape < 4 ? kIcons[shape] : "\uF111";
}
