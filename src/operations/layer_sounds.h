// layer_sounds.h — what an open (or a relink) finds of every layer's sound,
// and the toast that says so in the export's words.
//
// Index
//   LookAtLayerSounds     every layer's files where they are now, each looked at once
//   CountLayerSounds      the layers a whole export would count, by what their builds found
//   ShowLayerSoundsToast  the toast after a job
//
// An open looks at the files as an export does (library/layer_sound_look.h),
// so that a sound cut, replaced, unreadable or gone since the save is the
// same state to both: it is counted in the same words, decoded afresh (or
// silent) alike, and levelled with what it measured, so that no other layer's
// level moves. Runs wherever the document's owner runs (the busy task).
#pragma once

#include "document/layer_counts.h"

struct AppState;
struct FileRegistry;
struct Project;

// Finds each layer's files where they are now (ResolveResultFiles), looks
// at every file once and notes each layer's finding in its `sound`; lets go
// of what was decoded or morphed from files changed or gone since
// (ForgetDecodedSounds), so that the voices built next read them as they are.
void LookAtLayerSounds(Project& project, FileRegistry& registry);

// The layers an export of the whole timeline counts (unmuted, with a sound
// or a placeholder), by what their last builds found: placeholders, sounds
// that could not be loaded, changed sounds, alloys short of a source.
LayerSoundCounts CountLayerSounds(const Project& project);

// Shows the counts for 8 s when there are any (LayerSoundsToastText); no
// library loaded gives the "No palette" form.
void ShowLayerSoundsToast(AppState& app, const Project& project, bool noLibrary);
