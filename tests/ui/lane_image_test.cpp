// The lanes' copy: any change to what a list draws tells it apart from the
// copy, and the copy appended to another list draws the same triangles, also
// past 65,536 vertices (several vertex offsets) and after what that list
// already holds. A strip fills exactly the band between its outlines, past
// a vertex offset too.
#include <gtest/gtest.h>
#include <imgui.h>

#include <cmath>
#include <functional>
#include <vector>

#include "support/imgui_headless.h"
#include "ui/lane_image.h"
#include "ui/lane_strip.h"

namespace {

struct Corner {
    ImVec2 pos;
    ImVec2 uv;
    ImU32 col;
    ImVec4 clip;
    ImTextureID texture;
    bool operator==(const Corner& o) const {
        return pos.x == o.pos.x && pos.y == o.pos.y && uv.x == o.uv.x && uv.y == o.uv.y && col == o.col &&
               clip.x == o.clip.x && clip.y == o.clip.y && clip.z == o.clip.z && clip.w == o.clip.w &&
               texture == o.texture;
    }
};

// Every drawn triangle corner in order, with the clip rectangle and texture
// it is drawn with: what a renderer makes of the list.
std::vector<Corner> Triangles(const ImDrawList& list, size_t firstCommand = 0) {
    std::vector<Corner> out;
    for (int c = int(firstCommand); c < list.CmdBuffer.Size; ++c) {
        const ImDrawCmd& cmd = list.CmdBuffer[c];
        for (unsigned i = 0; i < cmd.ElemCount; ++i) {
            const ImDrawVert& v = list.VtxBuffer[int(cmd.VtxOffset + list.IdxBuffer[int(cmd.IdxOffset + i)])];
            out.push_back({v.pos, v.uv, v.col, cmd.ClipRect, cmd.TextureId});
        }
    }
    return out;
}

// About 24,000 rectangles under two clip rectangles and two textures: more
// vertices than 16-bit indices reach from one offset.
void DrawMany(ImDrawList& list) {
    list._ResetForNewFrame();
    list.PushTextureID(ImGui::GetIO().Fonts->TexID);
    list.PushClipRect(ImVec2(0, 0), ImVec2(1280, 720));
    for (int i = 0; i < 24000; ++i) {
        const float x = float(i % 1200), y = float(i / 1200) * 30;
        if (i == 9000) list.PushClipRect(ImVec2(100, 0), ImVec2(900, 700));
        if (i == 15000) list.PushTextureID(ImTextureID(intptr_t(7)));
        list.AddRectFilled(ImVec2(x, y), ImVec2(x + 0.5f, y + 20), IM_COL32(i % 255, 80, 200, 230));
        if (i == 20000) {
            list.PopTextureID();
            list.PopClipRect();
        }
    }
    list._PopUnusedDrawCmd();
}

}  // namespace

TEST(LaneImage, TheCopyKnowsEveryChangeAndAppendsAsTheSameTriangles) {
    HeadlessGui gui;
    // As the OpenGL back-end allows: lists past 65,536 vertices.
    ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    gui.Frame();
    ImDrawList lanes(ImGui::GetDrawListSharedData());
    DrawMany(lanes);
    ASSERT_GT(lanes.VtxBuffer.Size, 65536);
    LaneDrawingCopy copy;
    CopyDrawing(lanes, copy);
    EXPECT_TRUE(SameDrawing(lanes, copy));

    // A colour, a position, a clip rectangle or one more shape each differ.
    ImDrawList other(ImGui::GetDrawListSharedData());
    auto differs = [&](const std::function<void(ImDrawList&)>& change) {
        DrawMany(other);
        change(other);
        return !SameDrawing(other, copy);
    };
    EXPECT_FALSE(differs([](ImDrawList&) {}));
    EXPECT_TRUE(differs([](ImDrawList& l) { l.VtxBuffer[70000].col ^= 1; }));
    EXPECT_TRUE(differs([](ImDrawList& l) { l.VtxBuffer[5].pos.x += 0.25f; }));
    EXPECT_TRUE(differs([](ImDrawList& l) { l.CmdBuffer[1].ClipRect.z -= 1; }));
    EXPECT_TRUE(differs([](ImDrawList& l) { l.AddLine(ImVec2(0, 0), ImVec2(5, 5), IM_COL32_WHITE); }));

    // Appended after a window's own shapes, the copy draws what the lanes
    // drew, and the window's shapes stay first.
    ImDrawList window(ImGui::GetDrawListSharedData());
    window._ResetForNewFrame();
    window.PushTextureID(ImGui::GetIO().Fonts->TexID);
    window.PushClipRect(ImVec2(0, 0), ImVec2(1280, 720));
    for (int i = 0; i < 5000; ++i) window.AddRectFilled(ImVec2(float(i), 0), ImVec2(float(i) + 1, 5), IM_COL32_WHITE);
    const std::vector<Corner> before = Triangles(window);
    const int commandsBefore = window.CmdBuffer.Size;
    AppendDrawing(window, copy);
    window._PopUnusedDrawCmd();
    std::vector<Corner> drawn = Triangles(window);
    ASSERT_GE(drawn.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), drawn.begin()));
    drawn.erase(drawn.begin(), drawn.begin() + long(before.size()));
    EXPECT_TRUE(drawn == Triangles(lanes));
    EXPECT_GT(window.CmdBuffer.Size, commandsBefore);
    gui.EndFrame();
}

// Whatever the list held before (here all but a few of the vertices one
// offset reaches), the strip's triangles are its own points in its colours
// and cover the band between the outlines once: their areas add up to it.
TEST(LaneImage, AStripFillsTheBandBetweenItsOutlinesPastAVertexOffset) {
    HeadlessGui gui;
    ImGui::GetIO().BackendFlags |= ImGuiBackendFlags_RendererHasVtxOffset;
    gui.Frame();
    for (int before : {0, 65530}) {
        SCOPED_TRACE(before);
        ImDrawList list(ImGui::GetDrawListSharedData());
        list._ResetForNewFrame();
        list.PushTextureID(ImGui::GetIO().Fonts->TexID);
        list.PushClipRect(ImVec2(0, 0), ImVec2(1280, 720));
        for (int i = 0; i < before / 4; ++i) list.AddRectFilled(ImVec2(0, 0), ImVec2(1, 1), IM_COL32(1, 2, 3, 4));
        const int firstCommand = list.CmdBuffer.Size - 1;
        const size_t firstIndex = list.CmdBuffer.back().ElemCount;
        std::vector<ImVec2> upper, lower;
        std::vector<ImU32> colors;
        float band = 0;
        for (int k = 0; k < 40; ++k) {
            const float x = 10 + 3.5f * float(k), half = 2 + float((k * 7) % 11);
            upper.emplace_back(x, 50 - half);
            lower.emplace_back(x, 50 + half * 0.5f);
            colors.push_back(IM_COL32(k, 200, 100, 255));
            if (k > 0)
                band += 0.5f * (x - upper[size_t(k - 1)].x) *
                        ((lower[size_t(k)].y - upper[size_t(k)].y) + (lower[size_t(k - 1)].y - upper[size_t(k - 1)].y));
        }
        FillStrip(&list, upper.data(), lower.data(), int(upper.size()), 0, colors.data());
        list._PopUnusedDrawCmd();
        std::vector<Corner> corners = Triangles(list, size_t(firstCommand));
        corners.erase(corners.begin(), corners.begin() + long(firstIndex));
        ASSERT_EQ(corners.size(), size_t(39 * 6));
        float area = 0;
        for (size_t t = 0; t < corners.size(); t += 3) {
            const ImVec2 a = corners[t].pos, b = corners[t + 1].pos, c = corners[t + 2].pos;
            area += 0.5f * std::fabs((b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y));
            for (size_t i = t; i < t + 3; ++i) {
                const int k = int(std::lround((corners[i].pos.x - 10) / 3.5f));
                ASSERT_TRUE(k >= 0 && k < 40);
                EXPECT_TRUE(corners[i].pos.y == upper[size_t(k)].y || corners[i].pos.y == lower[size_t(k)].y);
                EXPECT_EQ(corners[i].col, colors[size_t(k)]);
            }
        }
        EXPECT_NEAR(area, band, 0.01f * band);
    }
}
