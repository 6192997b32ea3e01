// mixer_panel.h — the Mixer tab: five channel strips and the reverb.
//
// Index
//   MixerPanel          draws the tab at the layout's panel rectangle (UI thread)
//   gFaderDragState     the faders' grab offsets and double-click reset, kept while the program runs
//   DumpMixerFields     "mixer.*" fields of the window test driver's dump
//
// Every control writes straight into the global AudioEngine (single relaxed
// atomic stores the audio thread picks up on its next block); nothing here
// takes the engine mutex, pushes undo or starts a job. The arithmetic lives
// in mixer_panel_logic.h.
#pragma once

#include "ui/mixer_panel_logic.h"

struct ImDrawList;
struct StateDump;
struct UILayout;

extern FaderDragState gFaderDragState;

void MixerPanel(ImDrawList* drawList, const UILayout& layout);

void DumpMixerFields(StateDump& dump);
