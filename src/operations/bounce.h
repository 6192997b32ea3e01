// bounce.h — "Bounce Selection to Clip": the selected events' playback mixed
// into one broadcast WAV file that replaces them as a Clip event, which keeps
// them for "Revert to Source" (RevertBounce, event_placement.h).
//
// Index
//   BounceNameStem          an event's name made safe as a file name stem
//   UniqueBounceFileName    a stem no file in the folder has yet
//   RenderBounceWav         the offline mix of some events' voices, written as a file
//   BounceSelectionToClip   the whole command, one undo step
//
// Interface thread, between busy tasks: the bounce reads the voices without
// the engine lock while the voices are pinned, and changes the document
// through the edit operations. The bounce file stays on disk when the bounce
// is undone or reverted.
#pragma once

#include <set>
#include <string>
#include <string_view>

#include "operations/document_context.h"

struct AudioEngine;

// Slashes, backslashes, colons, asterisks, question marks, double quotes,
// angle brackets, vertical bars and control characters removed, trailing
// blanks and leading dots stripped, ".." shrunk to ".", cut to maxBytes at a
// character boundary; "Bounce" when nothing is left (or FileNameProblem
// would refuse what is).
std::string BounceNameStem(std::string_view name, size_t maxBytes = 251);

// `stem` when no file folder/stem.wav exists, else the first free "stem 2",
// "stem 3", ... however far it must count. Names are kept short enough that
// the file name fits 255 bytes and the whole path fits a Clip's file field
// (the stem is cut at a character boundary, never the number). Empty when
// no name fits beside the folder or the folder cannot be looked into.
std::string UniqueBounceFileName(const std::string& folder, const std::string& stem);

// Mixes every voice of the listed events (the group fader applied, muted
// voices left out) from the earliest voice start to the latest voice end,
// limits it and writes folder/name.wav as stereo 24-bit broadcast WAV (the
// name as its description, the start as its time reference). Reports the
// start and the length in seconds. Returns the path, or "" when nothing was
// written: no audible voice, more than an hour, or a failed write. The voices
// must hold their samples (see BounceSelectionToClip).
std::string RenderBounceWav(AudioEngine& engine, const std::set<int>& events, const std::string& folder,
                            const std::string& name, float& start, float& duration);

// Nothing (-1) when no valid event is selected, the project has not been
// rendered, the document may not change, the folder is empty or unwritable,
// or nothing is audible; the document is then untouched. Otherwise the file
// is written, then one undo step: the selected events are deleted (their
// copies, timed from the bounce start, go into the new Clip's bounceSource),
// a locked Clip of the file is appended at the bounce start, gets its layer,
// voice and tracks, playback seeks to the current time, the Clip is selected
// alone and scrolled to, and a voice rebuild is deferred. Returns the Clip's
// index.
int BounceSelectionToClip(const DocumentContext& ctx, const std::string& folder);
// The program's own document into BouncesDir().
int BounceSelectionToClip();
