// The lanes' copy: any change to what a list draws tells it apart from the
// copy, and the copy appended to another list draws the same triangles, also
// past 65,536 vertices (several vertex offsets) and after what that list
// already holds.
#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <vector>

#include "support/imgui_headless.h"
#include "ui/lane_image.h"

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
