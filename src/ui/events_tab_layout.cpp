// events_tab_layout.cpp — the events tab's split and the inspector's curve sizes.
#include "ui/events_tab_layout.h"

#include <algorithm>

EventsTabSplit SplitEventsTab(float height, float fontSize, float gap) {
    EventsTabSplit split;
    if (!(height > 0)) return split;
    const float f = std::max(fontSize, 1.0f);
    // The list's least: its heading, the scene row (a frame) and three event
    // rows, each max(18, 1.1 × font) as the list draws them.
    const float frame = f * (1 + 8.0f / 18.0f);
    const float row = std::max(18.0f, 1.1f * f);
    const float listLeast = f + gap + frame + gap + 3 * row;
    // One event's rows with curves of a readable height take about eight
    // lines; a taller tab gives the inspector a little over half.
    const float wanted = std::max(8 * f, 0.55f * height);
    float inspector = std::min(wanted, height - gap - listLeast);
    // A window too small for both keeps half for each.
    inspector = std::max(inspector, 0.5f * (height - gap));
    split.inspector = std::clamp(inspector, 0.0f, height);
    split.list = std::max(0.0f, height - split.inspector - gap);
    return split;
}

InspectorCurves InspectorCurveLayout(float width, float room, float labelHeight, float gap, int count) {
    InspectorCurves c;
    count = std::clamp(count, 1, 2);
    c.sideBySide = count == 2 && (width - gap) / 2 >= kMinSideBySideWidth;
    const int rows = c.sideBySide ? 1 : count;
    c.width = std::max(0.0f, c.sideBySide ? (width - gap) / 2 : width);
    const float h = (room - float(rows) * labelHeight - float(rows - 1) * gap) / float(rows);
    c.height = std::clamp(h, kMinCurveHeight, kMaxCurveHeight);
    return c;
}

float BandLabelSize(float curveHeight, float smallFontSize) {
    return std::max(0.0f, std::min(smallFontSize, curveHeight / 5));
}

LevelRow LayOutLevelRow(float room, float width, float gap, float volumeLeast, float secondLeast) {
    LevelRow row;
    const bool pair = secondLeast > 0;
    const float need = volumeLeast + (pair ? gap + secondLeast : 0);
    row.sameLine = room >= need;
    const float avail = row.sameLine ? room : width;
    const float extra = std::max(0.0f, avail - need);
    if (!pair) {
        row.volume = std::min(std::max(volumeLeast, avail), std::max(volumeLeast, kMaxLevelWidth));
        return row;
    }
    row.volume = std::min(volumeLeast + extra / 2, std::max(volumeLeast, kMaxLevelWidth));
    row.second = std::min(secondLeast + extra / 2, std::max(secondLeast, kMaxLevelWidth));
    return row;
}
