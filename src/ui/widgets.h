// widgets.h — small widgets every panel shares. The colour functions they
// use are in ui_colors.h, the style scopes in style_scopes.h, the labels
// fitted to a room in app/fitted_labels.h.
//
// Index
//   ShowStyledTooltip   printf-style tooltip in the tooltip look (TooltipScope)
//   SelectableRow       a list row "first  second" with its own id; true when clicked
//   DrawCenteredText    text centred in a width, in a packed colour
//   DrawTextClipped     text cut with an ellipsis where it would pass a right edge
//   TabBarLayout        the main window's tab row, shared by its TabButton calls
//   gTabLabelReveal     the label-reveal factor t (0 icons only .. 1 full labels)
//   TabButton           one tab, laid out leftwards from the row's right edge
//   DrawDotSpinner      eight dots π/4 apart, the brightest turning ten steps a second
//   ItemGesture         the gesture of the control just drawn (one undo step per press)
//
// UI thread, inside a window of the current frame.
#pragma once

#include <cstdint>

#include <imgui.h>

#include "app/fitted_labels.h"
#include "operations/level_edits.h"

void ShowStyledTooltip(const char* format, ...) IM_FMTARGS(1);

// ImGui::Selectable with the label "first  second##r<id>", no flags and
// automatic size. A long text is cut (127 bytes, and PopupLabelRoom as
// drawn) with "…" between whole characters; the id suffix is always kept.
// `room` (points) replaces PopupLabelRoom where the window's width is fixed.
bool SelectableRow(const char* first, const char* second, bool selected, int id, float room = 0);
bool SelectableRow(const char* first, const char* second, int id);

// Sets the cursor x to (width - textWidth) / 2 in the current window, the
// text's width in the current font rounded up to a whole point (null or
// empty: 0), and draws the text in `color` (0xAABBGGRR).
void DrawCenteredText(float width, const char* text, uint32_t color);

// Draws `text` at `pos` (screen) in `font` at `fontSize` (null / 0: the
// current ones); when it would reach past `maxX` it is shortened between
// whole glyphs with "…" where its reading ends (ShortenedText: on the right,
// or on the left of a right-to-left name), flush with the kept part, all of
// it before `maxX`; nothing is drawn when not even "…" fits.
// Returns the end of the part drawn before any "…" (textEnd when the whole
// text fits; null when nothing was drawn).
const char* DrawTextClipped(ImDrawList* drawList, ImFont* font, float fontSize, const ImVec2& pos, float maxX,
                     uint32_t color, const char* text, const char* textEnd = nullptr);

// The tab row's shared state. The caller fills it once per frame; each
// TabButton moves `rightEdge` left by its own width.
struct TabBarLayout {
    bool showLabels = true;    // gTabLabelReveal > 0.55
    float padding = 0;         // horizontal padding either side of a full label
    float iconOnlyWidth = 0;   // a tab's width with its label hidden
    float rightEdge = 0;       // window x where the next tab ends
    float rowY = 0;            // window y of the row
    float height = 0;          // button height
    ImDrawList* drawList = nullptr;  // the window's draw list (the active underline)
};

// Eased every frame by the tab row (tab_row.h); TabButton reads it.
extern float gTabLabelReveal;

// One tab of the main window. Labels read icon, two blanks, name. Width =
// lerp(iconOnlyWidth, 2 × padding + full label width, gTabLabelReveal). With
// labels hidden it shows the icon part (at most 15 bytes) and, hovered, the
// name as tooltip. A click on the active tab returns to Events (0), on
// another tab makes it active; entering Trace (1) from another tab empties
// gAppState.selectedEvents. The active tab has text colour `text` and a
// 2-point underline in `accent`. A disabled tab is drawn dim and takes no
// click. True when clicked.
bool TabButton(TabBarLayout& layout, const char* label, int tab, bool enabled);

// Eight dots on a circle of `radius` around `centre`, each fainter behind
// the one that leads.
void DrawDotSpinner(ImDrawList* draw, ImVec2 centre, float radius, uint32_t color);

// Call right after a control that edits the document, every frame: the
// gesture its edits share, a new one from the frame the control is pressed.
// Only one control is held at a time, so one record serves them all.
EditGesture& ItemGesture();
