// widget_logic.cpp — tab label parts, selectable-row labels, shortened names,
// label reveal.
#include "ui/widget_logic.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "document/text_util.h"
#include "document/visual_text.h"

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

std::string SelectableRowLabel(const char* first, const char* second, int id) {
    std::string text = IsolatedText(first ? first : "");
    text += "  ";
    text += IsolatedText(second ? second : "");
    text.resize(Utf8SafeCutLength(text, kSelectableRowTextMaxBytes));
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, "##r%d", id);
    return text + suffix;
}

std::string ShortenedText(std::string_view text, const std::function<bool(const std::string&)>& fits) {
    std::string whole(text);
    if (fits(whole)) return whole;
    static const std::string kEllipsis = "\xE2\x80\xA6";
    const std::vector<size_t> cuts = GlyphCutPoints(text);
    // A start and its "…": the blanks before the cut would open a gap.
    auto candidate = [&](size_t cut) {
        std::string_view kept = text.substr(0, cut);
        while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
        return std::string(kept) + kEllipsis;
    };
    // The widths grow with the kept part (shaping may nudge a letter, never
    // much): the last cut that fits, by halving, over every cut but the end.
    size_t lo = 0, hi = cuts.empty() ? 0 : cuts.size() - 1;  // cuts[0, lo) fit; [hi, ...) do not
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (fits(candidate(cuts[mid])))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo > 0) return candidate(cuts[lo - 1]);
    return fits(kEllipsis) ? kEllipsis : std::string();
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
