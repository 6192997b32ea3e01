// drawn_text.h — every text the GUI draws passes through here: labels are put
// into display order (right-to-left names read from the right, Arabic letters
// joined), and while a test script runs, what each widget drew is recorded
// with its clip rectangle.
//
// Index
//   Display order    the draw list's two text calls and the font's measure, wrapped
//   DrawnText        one text of the last frame: the widget, the text, where, its clip
//   DrawnTextRecord / RecordDrawnText / DrawnTextRecording   what a GUI context
//                    drew, for whoever asked
//   DumpDrawnText    "drawn.*" fields of the window test driver's dump
//
// The installed Dear ImGui draws every text through ImDrawList::AddText and
// measures it through ImFont::CalcTextSizeA, and neither knows that some
// scripts run from right to left. Both are wrapped at link time (GNU ld's
// --wrap, as glyph_use.h does for the decoder; CMakeLists names the symbols):
//   - a text with right-to-left characters is drawn and measured as
//     VisualText (app/visual_text.h) makes it, so layouts, alignment and
//     the drawn glyphs agree. Text being edited (the active text field's own
//     buffer) is left in logical order, where the field's cursor expects it;
//     the stored text is never changed;
//   - a measure that asks where a text must be cut (the GUI's ellipsis)
//     measures the stored order, so the cut falls between logical characters
//     and the kept part is then drawn in display order;
//   - a wrapped text is broken into lines first, then each line is ordered.
//
// The record names a text by the widget it belongs to: the "##name" of the
// last item the GUI added (a button's, a selectable's, an invisible button a
// panel draws over), its whole label when it has no "##", or, for plain text
// and drawing outside any named item, the name of the window it is drawn in.
//
// UI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

struct StateDump;

struct DrawnText {
    std::string widget;  // "##row", "Save", or a window's name ("##inspscroll")
    std::string text;    // as drawn: display order, one line or several
    float x = 0, y = 0, width = 0, height = 0;                  // screen points
    float clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;  // what the draw list let through
    uint32_t color = 0;  // packed 0xAABBGGRR
    float fontSize = 0;  // points
    std::string window;  // the window it was drawn in ("##inspscroll", "##main")
    // How far that window can still scroll up and down (points; 0 and 0 for
    // a window that does not scroll): a text its top or bottom edge cuts is
    // only scrolled part-way out of sight when the scroll can bring it in.
    float scrollUp = 0, scrollDown = 0;
    // The whole text lies within its clip rectangle (half a point of slack
    // for the GUI's rounding).
    bool Whole() const;
};

// What the frames of one GUI context drew, kept by whoever records (the
// shell while a test script runs, or a test): the last frame's texts in
// drawing order, and the names of that frame's items.
struct DrawnTextRecord {
    int frame = -1;  // the GUI frame the lists belong to
    std::vector<DrawnText> texts;
    std::unordered_map<uint32_t, std::string> names;
};

// From now on the current GUI context's texts go to `record` (emptied
// first); null stops. The record hangs on that context (its io.UserData), so
// other contexts, and the program without a script, only put texts into
// display order. The record must outlive its use or be unhooked first.
void RecordDrawnText(DrawnTextRecord* record);

// Records for its lifetime: the record is unhooked however the scope ends.
struct DrawnTextRecording {
    DrawnTextRecord record;
    DrawnTextRecording() { RecordDrawnText(&record); }
    ~DrawnTextRecording() { RecordDrawnText(nullptr); }
    DrawnTextRecording(const DrawnTextRecording&) = delete;
    DrawnTextRecording& operator=(const DrawnTextRecording&) = delete;
};

// "drawn.count", then for each text N "drawn.N.widget", "drawn.N.text"
// (line breaks as "\n"), "drawn.N.rect" and "drawn.N.clip" (x,y,width,height),
// "drawn.N.color" (AABBGGRR in hex), "drawn.N.size", "drawn.N.window" and
// "drawn.N.scroll" (up,down).
// The current GUI context's record; "drawn.count" 0 when nothing records.
void DumpDrawnText(StateDump& dump);
