// ui_colors.h — the colours of events, mix groups, weights and meters: pure
// functions of their arguments, callable from any thread.
//
// Index
//   (WithAlpha, a packed colour with another alpha, is the theme's: app/theme.h)
//   ShapeColor    an event shape's colour (0 Spot .. 6 Bed; others grey)
//   GroupColor    a mix group's colour ("BG", "FX A", "FX B"; others grey), alpha 200
//   LevelColor    a weight level 0..1 between the three weight colours, alpha 200
//   MeterLevel    a linear amplitude as a meter fill 0..1 on a 48 dB scale
//
// Colours are packed 0xAABBGGRR (red in the low byte), the GUI's own layout;
// alpha arguments are 0..255 (others are clamped). A level or amplitude that
// is not a finite number counts as 0.
#pragma once

#include <cstdint>

#include "app/theme.h"

struct WeightColors;

uint32_t ShapeColor(int shape, int alpha);
uint32_t GroupColor(int group);

// The one-argument form reads the weight colours of the preferences
// (gAppState.weightColors; UI thread).
uint32_t LevelColor(float level);
uint32_t LevelColor(float level, const WeightColors& colors);

float MeterLevel(float amplitude);
