// lane_strip.cpp — FillStrip.
#include "ui/lane_strip.h"

#include <initializer_list>

void FillStrip(ImDrawList* draw, const ImVec2* upper, const ImVec2* lower, int count, ImU32 color,
               const ImU32* colors) {
    if (!draw || count < 2) return;
    const ImVec2 uv = ImGui::GetFontTexUvWhitePixel();
    draw->PrimReserve((count - 1) * 6, count * 2);
    // Read after the reserve: a list near 65,536 vertices starts a new
    // vertex offset there, and the indices count from it.
    const auto base = static_cast<unsigned>(draw->_VtxCurrentIdx);
    for (int k = 0; k < count; ++k) {
        const ImU32 c = colors ? colors[k] : color;
        draw->PrimWriteVtx(upper[k], uv, c);
        draw->PrimWriteVtx(lower[k], uv, c);
    }
    for (int k = 0; k + 1 < count; ++k) {
        const unsigned i = base + 2 * static_cast<unsigned>(k);
        for (unsigned index : {i, i + 2, i + 3, i, i + 3, i + 1}) draw->PrimWriteIdx(static_cast<ImDrawIdx>(index));
    }
}
