// theme.h — the colour theme: one palette of packed colours every panel reads
// at draw time, seven built-in themes that overwrite it, and the GUI style
// derived from it.
//
// Index
//   ThemePalette        the 67 packed colours (0xAABBGGRR, red in the low byte)
//   gTheme              the palette in force (its theme index is AppState::themeIndex)
//   kThemeCount         built-in themes 0..6 (1 is light, the others dark)
//   ThemeEntry / ThemeEntries   the table: name, field, start-up value, one value per theme
//   StartupPalette      the palette before the preferences name a theme
//   SetTheme            write one theme into the palette (the style is not touched)
//   ApplyThemeStyle     sizes and style colours of the GUI from the palette
//   ThemeColorToFloat4  a packed colour as four floats 0..1
//   WithAlpha           a packed colour with another alpha (0..255, others clamped)
//
// UI thread only. The palette starts with its start-up values; they hold until
// the preferences name a theme. The style is re-applied at the start of every
// frame, so a direct change to the GUI's style lasts one frame at most.
#pragma once

#include <cstdint>

struct ThemePalette {
    uint32_t windowBg = 0;
    uint32_t panelBg = 0;
    uint32_t controlBg = 0;
    uint32_t cardBg = 0;
    uint32_t laneBg = 0;
    uint32_t curveBg = 0;
    uint32_t transportBg = 0;
    uint32_t videoBg = 0;
    uint32_t popupBg = 0;
    uint32_t busyOverlayBg = 0;
    uint32_t timelineShade1 = 0;
    uint32_t timelineShade2 = 0;
    uint32_t timelineShade3 = 0;
    uint32_t timelineShade4 = 0;
    uint32_t border = 0;
    uint32_t borderSubtle = 0;
    uint32_t text = 0;
    uint32_t textMuted = 0;
    uint32_t textDim = 0;
    uint32_t accentText = 0;
    uint32_t accent = 0;
    uint32_t accentHover = 0;
    uint32_t accentBright = 0;
    uint32_t accentDim = 0;
    uint32_t frameBg = 0;
    uint32_t frameBgHover = 0;
    uint32_t frameBgActive = 0;
    uint32_t buttonBg = 0;
    uint32_t buttonBgHover = 0;
    uint32_t checkMark = 0;
    uint32_t scrollbarBg = 0;
    uint32_t primaryButton = 0;
    uint32_t primaryButtonHover = 0;
    uint32_t primaryButtonText = 0;
    uint32_t muteOn = 0;
    uint32_t muteOnHover = 0;
    uint32_t muteOnActive = 0;
    uint32_t muteOffHover = 0;
    uint32_t muteOnText = 0;
    uint32_t soloOn = 0;
    uint32_t soloOnHover = 0;
    uint32_t soloOnActive = 0;
    uint32_t soloOffHover = 0;
    uint32_t soloOnText = 0;
    uint32_t danger = 0;
    uint32_t dangerHoverBg = 0;
    uint32_t warning = 0;
    uint32_t paletteTag = 0;
    uint32_t whiteOverlay = 0;
    uint32_t curveA = 0;
    uint32_t curveB = 0;
    uint32_t curveC = 0;
    uint32_t meterLow = 0;
    uint32_t meterMid = 0;
    uint32_t meterHigh = 0;
    uint32_t missingFile = 0;
    uint32_t timelineMark1 = 0;
    uint32_t timelineMark2 = 0;
    uint32_t timelineMark3 = 0;
    uint32_t pictureEvents = 0;
    uint32_t markerEvents = 0;
    uint32_t timelineMark4 = 0;
    uint32_t timelineMark5 = 0;
    uint32_t mutedEvent = 0;
    uint32_t reverbStrip = 0;
    uint32_t reverbOffText = 0;
    uint32_t reverbAccent = 0;
};

extern ThemePalette gTheme;

constexpr int kThemeCount = 7;
// Marks a theme cell that leaves its entry as it was (themes 3 to 6 keep
// `timelineShade1`). No theme uses this value as a colour.
constexpr uint32_t kThemeKept = 0;
constexpr int kThemeEntryCount = 67;

struct ThemeEntry {
    const char* name;
    uint32_t ThemePalette::*field;
    uint32_t startup;
    uint32_t themes[kThemeCount];
};
// The table in palette order.
const ThemeEntry* ThemeEntries();

ThemePalette StartupPalette();

// Stores the index (in gAppState.themeIndex, which the preferences save);
// 0..6 write that theme into `gTheme`, 7 and above change nothing else
// (negative indices too). Callers call ApplyThemeStyle next.
void SetTheme(int index);
void SetTheme(ThemePalette& palette, int& themeIndex, int index);

// Writes the style sizes and colours into the current GUI style.
void ApplyThemeStyle();

struct ThemeFloat4 {
    float r, g, b, a;
};
ThemeFloat4 ThemeColorToFloat4(uint32_t packed);

uint32_t WithAlpha(uint32_t color, int alpha);
