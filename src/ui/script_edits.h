// script_edits.h — the edits a window test's script asks for by name ("edit
// KIND"), made through the same functions the interface's gestures call, on
// events the playhead has already left behind.
//
// Index
//   MakeScriptEdit    one edit of the program's document while it plays
//
// The kinds: move (a timeline drag of an event 0.25 s earlier, and its end),
// gain (an inspector volume drag), mute and unmute (the selection's mute),
// solo and unsolo (a layer's solo and its end), undo and redo, delete (the
// selection's), bedmove (a Bed dragged 0.25 s earlier) and bedlength (a Bed's
// end dragged 0.25 s shorter). Each works on an event whose layers all ended
// at least three seconds before the playhead (and started at most forty
// before it), so that the edit itself changes nothing playback is yet to
// play; what follows from it may (the track assignment after a Bed's change
// may move later layers to other tracks, and so pans). A test holds the
// recording of the sink against the export of the project as each edit
// left it: "[Test] edit KIND at sample N: done" names the playhead's sample
// when the edit began (what was mixed before it the edit cannot have
// changed).
#pragma once

#include <string>

// False, with "[Test] edit KIND ..." logged, when no event qualifies or the
// kind is unknown. Interface thread, between frames.
bool MakeScriptEdit(const std::string& kind);
