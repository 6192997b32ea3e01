// curve_editor.h — one event curve drawn in a small editor, painted with
// Alt held, dragged vertically without it.
//
// Index
//   CurveEditorArgs / CurveEditorResult   what the caller gives and gets
//   CurveEditor                           draws and paints one curve for a frame
//
// The stroke is the curve editor's painting edit (operations/curve_strokes.h,
// PaintInspectorCurveStroke): one undo step at its first dab, the event
// unlocked, no writing once an undo or a change of the event list comes
// under it; the release smooths the touched stretch only. UI thread.
#pragma once

#include <cstdint>

struct DocumentContext;
struct ImDrawList;

struct CurveEditorArgs {
    const char* id = "##curve";   // "##cW", "##cI"
    int event = -1;
    int lane = 0;                 // kCurveLaneWeight or kCurveLaneIntensity
    float x = 0, y = 0;           // screen points
    float width = 0, height = 0;
    uint32_t color = 0;           // packed; alpha replaced
    float offset = 0;             // display only: clamp(v × scale + offset, 0, 1)
    float scale = 1;
    bool noPaint = false;
    bool bandLabels = false;
    float bandLabelSize = 0;      // points; 0: the band height, at most 0.8 × the font size
    bool wantDrag = false;        // report vertical drags (dragDelta)
    float alpha = 1;
};

struct CurveEditorResult {
    bool painted = false;         // values were written this frame
    bool hovered = false;
    bool dragStarted = false;     // a press without Alt: the caller's undo step
    float dragDelta = 0;          // points, positive downwards, while dragged without Alt
    bool doubleClicked = false;
};

CurveEditorResult CurveEditor(const DocumentContext& ctx, ImDrawList* drawList, const CurveEditorArgs& args);
