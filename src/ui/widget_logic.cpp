// widget_logic.cpp — tab label parts, selectable-row labels, label reveal.
#include "ui/widget_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "document/text_util.h"
#include "app/visual_text.h"

std::string TabIconPart(std::string_view label) {
    const size_t gap = label.find("  ");
    std::string_view part = gap == std::string_view::npos ? label : label.substr(0, gap);
    return std::string(part.substr(0, Utf8SafeCutLength(part, kTabIconPartMaxBytes)));
}

const char* TabNamePart(const char* label) {
    if (!label) return "";
    const char* gap = std::strstr(label, "  ");
    return gap ? gap + 2 : label;
}

std::string SelectableRowLabel(const char* first, const char* second, int id,
                               const std::function<bool(const std::string&)>& fits) {
    std::string text = IsolatedText(first ? first : "");
    text += "  ";
    text += IsolatedText(second ? second : "");
    text = ShortenedText(text, [&](const std::string& t) {
        return t.size() <= kSelectableRowTextMaxBytes && (!fits || fits(t));
    });
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "##r%d", id);
    return text + suffix;
}

float TabRevealTarget(float fullRowWidth, float room) { return fullRowWidth <= room ? 1.0f : 0.0f; }

float EaseTabReveal(float t, float target, float deltaSeconds, bool* moving) {
    if (!std::isfinite(t)) t = target;
    const float dt = std::isfinite(deltaSeconds) ? std::clamp(deltaSeconds, 0.0f, 0.25f) : 0.0f;
    t += (target - t) * (1.0f - std::exp(-12.0f * dt));
    const bool still = std::fabs(target - t) <= 0.004f;
    if (still) t = target;
    if (moving) *moving = !still;
    return t;
}
