// ui_scale.h — the UI scale: pixels per point, fixed for the run.
//
// Index
//   ParseXftDpi       the Xft.dpi value of an X resource database text
//   UiScaleFromDpi    dpi / 96, 1 when that is not a positive number
//   DetectUiScale     TL_UI_SCALE, else Xft.dpi, else the display's DPI, else 96
//
// TL_UI_SCALE (a positive decimal number, "1.5") overrides the desktop's
// setting; tests use it to open the window at a known scale.
#pragma once

struct SDL_Window;

// 0 when the text holds no usable "Xft.dpi:" line.
float ParseXftDpi(const char* resources);
float UiScaleFromDpi(float dpi);
float DetectUiScale(SDL_Window* window);
