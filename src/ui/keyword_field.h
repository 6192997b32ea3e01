// keyword_field.h — a text field for keyword queries that offers the sound
// library's keywords while a word is typed.
//
//     KeywordAutocompleteField("##evkeywords", "keywords...", event.keywords,
//                              sizeof event.keywords, 0, gSoundLibrary.keywords);
//
// While the word under the cursor has at least two characters, a list under
// the field offers up to 8 keywords beginning with it, most used first, and
// the rest of the highlighted one shows greyed after the cursor. Up and Down
// move the highlight (they stop at the ends), Tab or Enter or a click puts
// the keyword in place of the whole word (its "+" or "-" stays) followed by
// a blank, Escape closes the list and keeps the text. While the list shows,
// those keys belong to it: Tab does not move the focus, Enter does not end
// the edit, Escape does not undo it.
//
// Index
//   KeywordAutocompleteField   the field and its list; true when the text was edited
//   KeywordFieldState          what one field remembers between frames (by its id)
//   FindKeywordFieldState      that record, for tests
//
// UI thread, inside a window of the current frame. Dear ImGui 1.86 has no key
// ownership: the field claims Up, Down and Tab by asking for history and
// completion callbacks while its list shows, hides Enter and Escape presses
// from the text field by their key-down durations, and takes a click in the
// list away from the field (io.MouseClicked) so that the field stays active.
#pragma once

#include <imgui.h>

#include <string>
#include <vector>

struct KeywordRecord;

// `label` is the field's id ("##evkeywords"); `hint` shows while it is
// empty; `width` > 0 sets the item width, else the current one is kept.
// `flags` are added to the field's own (the batch field passes its own).
bool KeywordAutocompleteField(const char* label, const char* hint, char* buffer, int bufferSize, float width,
                              const std::vector<KeywordRecord>& keywords, ImGuiInputTextFlags flags = 0);

struct KeywordFieldState {
    int highlighted = -1;
    int matchCount = 0;
    std::string pendingCompletion;  // put in place by the field's callback
    std::vector<std::string> matches;
    int cursor = 0;                 // byte position, recorded by the callback
    bool keyNavigated = false;
    bool listShown = false;         // on the previous frame, with matches
    bool focusRequest = false;
    float listRect[4] = {0, 0, 0, 0};  // min x, min y, max x, max y of last frame's list
    // Escape closes the list until the text or the cursor moves on.
    bool dismissed = false;
    std::string dismissedText;
    int dismissedCursor = 0;
};

// Null until the field with this id has been drawn.
const KeywordFieldState* FindKeywordFieldState(ImGuiID id);
