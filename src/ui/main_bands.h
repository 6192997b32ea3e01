// main_bands.h — the fixed bands of the main window that DrawUI draws itself:
// the title bar's title, about button, project name and drag zone; the video
// area; the transport and toolbar band; the footer.
//
// Index
//   BandRect / MainBandsState / gBands   what the bands keep between frames and
//                                        what the last frame drew (the test dump reads it)
//   ProductTitleSize / DrawProductTitle   the logo and "  Tessaloom" (title bar, launcher)
//   SetTitlePrompt           the slot for the unsaved-changes prompt beside the name
//   DrawTitleBand            inside "##title", before the tab row
//   DrawProjectName          inside "##title", after the tab row
//   SyncVideoTexture / LayoutVideoFor    the picture's texture and the layout's video
//   DrawVideoArea            inside "##video_area"
//   DrawTransportBand        inside "##transport"
//   DrawFooterBand           inside "##footer"
//   DrawExportLine           the export's spinner, line and bar (the transport band, else the footer)
//   DumpMainBands            "band.*" fields of the window test driver's dump
//
// Each draws into the current child window (the caller opens it) in points.
// Hover highlights ease and keep `uiAnimating` raised while they move. UI
// thread only, inside a GUI frame.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "ui/ui_layout.h"

struct AppState;
struct ImDrawList;
struct ImFont;
struct ImVec2;
struct FrameDriver;
struct StateDump;
struct VideoPicture;
struct VideoPlayer;
using TextureHandle = void*;

struct BandRect {
    float x = 0, y = 0, width = 0, height = 0;  // main-window points
};

struct VideoTextureState {
    TextureHandle texture = nullptr;
    int width = 0;
    int height = 0;
    uint64_t counter = 0;  // the picture the texture holds
    int uploads = 0;       // since start-up
};

struct MainBandsState {
    float titleHover = 0;   // eased 0..1
    float renderGlow = 0;   // eased 0..1
    float trimDragX = 0;    // pointer x at the last frame of a trim drag
    bool presetsManaging = false;  // the presets popup shows Edit's managing mode
    VideoTextureState video;
    // What the last frame drew: item rectangles by widget id, and texts.
    std::map<std::string, BandRect> rects;
    std::string timecode;
    std::string projectName;
    std::string projectNameShown;  // as drawn: cut with "…" when the room is short
    bool titleLogoGlyph = false;   // the title began with the logo font's glyph (else the drawn stand-in)
    std::string videoCaption;
    std::string footerLeft;
    std::string footerRight;
    std::string exportLine;  // the running export's line as drawn (empty: none)
    bool exportInFooter = false;  // the band had no room for it whole: the footer shows it
    std::string renderLabel;
    bool renderEnabled = false;
    std::string renderTooltip;
};
extern MainBandsState gBands;

// The logo glyph and "  Tessaloom" in `font`; the size in points, and drawn
// with its top-left at `pos` (screen points) over `background`. A font
// without the logo glyph (the about box's title face carries none) shows
// `picture`, the logo's image, at the text's height in its place, and with
// no picture either a drawn mark.
struct LogoPicture {
    void* texture = nullptr;
    float width = 0, height = 0;  // pixels of the image
};
ImVec2 ProductTitleSize(ImFont* font, const LogoPicture& picture = {});
void DrawProductTitle(ImDrawList* draw, ImFont* font, ImVec2 pos, uint32_t background,
                      const LogoPicture& picture = {});

// Draws the prompt at x in the title bar of `height` and returns its right
// end. Installed by the unsaved-changes prompt; while none is installed the
// title bar leaves the room empty.
using TitlePromptFn = float (*)(AppState& app, float x, float height);
void SetTitlePrompt(TitlePromptFn fn);

// The menu button, the title "##aboutbtn", the caption buttons, the prompt
// slot (while `confirmAction` is 1) and the drag zone's left end and height.
void DrawTitleBand(AppState& app, const UILayout& layout);
// The project's file name in the middle of the bar, between the title (or
// prompt) and the tabs (whose left edge `titleBarDragMaxX` holds by then).
void DrawProjectName(AppState& app, const UILayout& layout);

// Uploads the player's shown picture when its counter changed (a new
// texture when its size changed) and asks for the frame to be presented;
// releases the texture when the player is closed.
void SyncVideoTexture(VideoTextureState& state, FrameDriver& frames, const VideoPlayer& player);
// What the layout needs of the video: open with a texture, and its size.
LayoutVideo LayoutVideoFor(const VideoTextureState& state, const VideoPlayer& player);

void DrawVideoArea(AppState& app, const UILayout& layout);
void DrawTransportBand(AppState& app, const UILayout& layout);
void DrawFooterBand(AppState& app, const UILayout& layout);

// The running export's spinner, line and bar (when the share is known and it
// fits), drawn from `at` (screen points: the left end, the line's middle)
// within `room`: the first of its lines that fits (ExportProgressTexts),
// else, with `cutIfMust`, the last cut by the one rule. Returns the right
// end of what it drew; -1, drawing nothing, when no line fits whole and
// `cutIfMust` is false. Sets gBands.exportLine.
float DrawExportLine(AppState& app, ImVec2 at, float room, float radius, float gap, bool cutIfMust);

void DumpMainBands(StateDump& dump);
