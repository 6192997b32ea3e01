// toast_logic.h — how the toast line looks: its colour from the words of its
// text, and its alpha as its time runs out.
//
// Index
//   kToastRed / kToastAmber / kToastGreen   the three colours (0xBBGGRR)
//   ToastColor        by words, without regard to case
//   ToastAlpha        at most 200, falling off over the last half second
//   ToastPackedColor  the two together, as the GUI draws it
//
// Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string_view>

constexpr uint32_t kToastRed = 0x6478FF;
constexpr uint32_t kToastAmber = 0x64C8FF;
constexpr uint32_t kToastGreen = 0xB4DCB4;
constexpr int kToastMaxAlpha = 200;
constexpr float kToastFadeSeconds = 0.5f;

// "error" or "failed" → red; else "missing", "unreadable" or "sketch" →
// amber; else green. "AAF export FAILED — missing file" is red.
uint32_t ToastColor(std::string_view text);

// 0 once the time is up (or not a number); 200 until the last half second,
// then falling linearly to 0.
int ToastAlpha(float secondsLeft);

// ToastColor with ToastAlpha in the top byte.
uint32_t ToastPackedColor(std::string_view text, float secondsLeft);
