// library_frame.h — the library work the interface runs every frame.
//
// Index
//   ProbeUnknownSoundValues   the program's probe on the open document
#pragma once

// Runs the sound probe on gProject with gSoundLibrary and the interface
// clock. Delivered or found weights are applied to the results, and when
// that changed results of a rendered project the voices are synced with them
// (SyncVoicesWithResults, the playhead left where it is). They do not
// mark the document modified: they are measured, not made by the designer,
// and a project closed without them measures them again when it is next
// opened; counting them made a freshly opened project ask about unsaved
// changes nobody made when its window was closed. Nothing happens while a
// busy task or an export runs (both read the results), nor while the
// designer leaves the document (a quit, a signal, a parked New, Open or
// Close): the voices of a document that goes are not rebuilt. The first call
// registers the probe's stop with the shell, so quitting joins its worker.
void ProbeUnknownSoundValues();
