// toast_logic.cpp — the toast's colour and fall-off.
#include "ui/toast_logic.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "document/text_util.h"

namespace {

bool HasAnyWord(std::string_view lowerText, std::initializer_list<std::string_view> words) {
    for (std::string_view w : words)
        if (lowerText.find(w) != std::string_view::npos) return true;
    return false;
}

}  // namespace

uint32_t ToastColor(std::string_view text) {
    const std::string lower = ToLowerCopy(text);
    if (HasAnyWord(lower, {"error", "failed"})) return kToastRed;
    if (HasAnyWord(lower, {"missing", "unreadable", "sketch"})) return kToastAmber;
    return kToastGreen;
}

int ToastAlpha(float secondsLeft) {
    if (!(secondsLeft > 0)) return 0;
    const float fall = std::min(secondsLeft / kToastFadeSeconds, 1.0f);
    return std::clamp(int(std::lround(kToastMaxAlpha * fall)), 0, kToastMaxAlpha);
}

uint32_t ToastPackedColor(std::string_view text, float secondsLeft) {
    return ToastColor(text) | (uint32_t(ToastAlpha(secondsLeft)) << 24);
}
