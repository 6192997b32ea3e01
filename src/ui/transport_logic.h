// transport_logic.h — the plain rules of the window's fixed bands: the Render
// and lock buttons, the master trim, the meters, the shape buttons, the video
// caption, the footer's texts and the eased hover highlights.
//
// Index
//   RenderButtonState / RenderButtonFor   label, enable rule and tooltip of "Render"
//   PostRenderClick        a left (request 1) or right (request 2) click, one undo step each
//   CountLockedEvents / LockButtonTooltip   "##tblock" (UnlockAllEvents: render_requests.h)
//   TrimGainAfterDrag / kTrimResetGain / GainDbText          "##masterTr"
//   MeterFillColor         the meter's normal, warning and clip colours
//   ShapeButtonLabel / ShapeButtonTooltip                   the four shape buttons
//   VideoCaptionText       "%dx%d  %.1ffps  %.1fs"
//   FooterCountsText       the footer's counts at its right
//   EaseHighlight          one frame of a hover highlight's easing
//   ExportBarFill          the export bar's filled width
//   ChooseExportLine       the export's line that a room shows, with the bar or not
//
// No GUI here: the bands draw with these and call them on the UI thread.
// Texts are the window's own, byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "operations/document_context.h"
#include "operations/render_requests.h"

struct Project;

// ---------------------------------------------------------------------------
// Render button
// ---------------------------------------------------------------------------

struct RenderButtonState {
    const char* label = "Render";
    bool enabled = false;
    const char* tooltip = "";
};

// "Render" with a library loaded, else "Add Sounds". Enabled with events,
// not all of them locked, a library and no export running. The tooltip says
// why when it is disabled (no library first, then every event locked).
RenderButtonState RenderButtonFor(int eventCount, int lockedCount, bool libraryLoaded, bool exportRunning);

// A click on the Render button: `fullRerender` is the right click. Only when
// the button is enabled and no busy task is queued: one undo snapshot, then
// render request 1 (left) or 2 (right: every event unlocked and rendered
// again). Both kinds replace results, so both are one undo step. False when
// nothing was posted.
bool PostRenderClick(const DocumentContext& ctx, bool libraryLoaded, bool fullRerender);

// ---------------------------------------------------------------------------
// Lock button
// ---------------------------------------------------------------------------

int CountLockedEvents(const Project& project);
// "Unlock all (%d locked)" or "All events unlocked".
std::string LockButtonTooltip(int lockedCount);

// ---------------------------------------------------------------------------
// Master trim and meters
// ---------------------------------------------------------------------------

constexpr float kTrimGainPerPoint = 0.008f;
constexpr float kTrimMaxGain = 1.5f;
constexpr float kTrimResetGain = 1.0f;

// gain + 0.008 per point of horizontal movement, kept in 0 .. 1.5.
float TrimGainAfterDrag(float gain, float deltaPoints);
// "%.1f dB" of 20·log10(gain); "-60.0 dB" below 0.001.
std::string GainDbText(float gain);

// The meter bar's colour for its fill (MeterLevel): above 0.9 `clip`, above
// 0.7 `warning`, else `normal`.
uint32_t MeterFillColor(float fill, uint32_t normal, uint32_t warning, uint32_t clip);

// ---------------------------------------------------------------------------
// Shape buttons, video caption, footer
// ---------------------------------------------------------------------------

// "%s  %s##shp%d": the icon, the shape's name, the shape (0 Spot .. 3 Fill).
std::string ShapeButtonLabel(const char* icon, int shape);
// "Add %s event at playhead [%d]" with the key 1 to 4.
std::string ShapeButtonTooltip(int shape);

std::string VideoCaptionText(int width, int height, float fps, float duration);

// "%d events   %d kHz   %.0f fps".
std::string FooterCountsText(int eventCount, int sampleRate, float fps);
// The footer's render line during a full render is the live block's
// (LiveBlockText, job_protocol_logic.h).

// ---------------------------------------------------------------------------
// Easing and the export bar
// ---------------------------------------------------------------------------

// Hover highlights settle within this distance of their target.
constexpr float kHighlightSettled = 0.004f;
// Moves `value` towards `target` at 12 per second; snaps once within
// kHighlightSettled. True while it still moves (the frame then keeps drawing).
bool EaseHighlight(float& value, float target, float deltaSeconds);

constexpr float kExportBarWidth = 120.0f;
float ExportBarFill(float progress);

// Which of the export's lines (ExportProgressTexts, longest first) a room of
// `room` points shows, `width` measuring a text: the first that fits with
// the bar after it (`barRoom`: the bar and its gap, 0 while the share is not
// known), else the first that fits alone, else the last shortened by the one
// rule (ShortenedMessage; "" when not even "…" fits). `whole`: a line fits uncut.
struct ExportLineChoice {
    std::string text;
    bool withBar = false;
    bool whole = false;
};
ExportLineChoice ChooseExportLine(const std::vector<std::string>& lines, float room, float barRoom,
                                  const std::function<float(const std::string&)>& width);
