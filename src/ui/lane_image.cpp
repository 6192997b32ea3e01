// lane_image.cpp — the lanes' picture: the list they draw into, the
// comparison with what the picture was drawn from, and showing it.
//
// Index
//   SameDrawing / CopyDrawing / AppendDrawing
//   BeginLaneImage / EndLaneImage
#include "ui/lane_image.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------
// SameDrawing / CopyDrawing / AppendDrawing
// ---------------------------------------------------------------------------

namespace {

KeptCommand KeptOf(const ImDrawCmd& cmd) {
    KeptCommand kept;
    kept.clipRect = cmd.ClipRect;
    kept.texture = cmd.TextureId;
    kept.vtxOffset = cmd.VtxOffset;
    kept.idxOffset = cmd.IdxOffset;
    kept.elemCount = cmd.ElemCount;
    kept.callback = cmd.UserCallback != nullptr;
    return kept;
}

bool SameCommand(const KeptCommand& a, const KeptCommand& b) {
    return std::memcmp(&a.clipRect, &b.clipRect, sizeof a.clipRect) == 0 && a.texture == b.texture &&
           a.vtxOffset == b.vtxOffset && a.idxOffset == b.idxOffset && a.elemCount == b.elemCount &&
           a.callback == b.callback;
}

}  // namespace

bool SameDrawing(const ImDrawList& list, const LaneDrawingCopy& copy) {
    if (size_t(list.VtxBuffer.Size) != copy.vertices.size() || size_t(list.IdxBuffer.Size) != copy.indices.size() ||
        size_t(list.CmdBuffer.Size) != copy.commands.size())
        return false;
    for (int i = 0; i < list.CmdBuffer.Size; ++i)
        if (!SameCommand(KeptOf(list.CmdBuffer[i]), copy.commands[size_t(i)])) return false;
    // Bytes, not floats: a NaN coordinate equals itself here, as it draws the same.
    return std::memcmp(list.VtxBuffer.Data, copy.vertices.data(), copy.vertices.size() * sizeof(ImDrawVert)) == 0 &&
           std::memcmp(list.IdxBuffer.Data, copy.indices.data(), copy.indices.size() * sizeof(ImDrawIdx)) == 0;
}

void CopyDrawing(const ImDrawList& list, LaneDrawingCopy& copy) {
    copy.vertices.assign(list.VtxBuffer.Data, list.VtxBuffer.Data + list.VtxBuffer.Size);
    copy.indices.assign(list.IdxBuffer.Data, list.IdxBuffer.Data + list.IdxBuffer.Size);
    copy.commands.clear();
    for (const ImDrawCmd& cmd : list.CmdBuffer) copy.commands.push_back(KeptOf(cmd));
}

void AppendDrawing(ImDrawList& window, const LaneDrawingCopy& copy) {
    // Commands sharing a vertex offset index the same stretch of vertices
    // (at most 65,536 of them): the stretch is copied once, at the window's
    // current vertex index, and each command's indices are moved by it.
    const size_t count = copy.commands.size();
    size_t c = 0;
    while (c < count) {
        const unsigned offset = copy.commands[c].vtxOffset;
        size_t end = c;
        while (end < count && copy.commands[end].vtxOffset == offset) ++end;
        const size_t stretchEnd = end < count ? copy.commands[end].vtxOffset : copy.vertices.size();
        const int vertices = int(std::min(stretchEnd, copy.vertices.size()) - std::min<size_t>(offset, stretchEnd));
        unsigned base = 0;
        bool placed = false;
        for (size_t k = c; k < end; ++k) {
            const KeptCommand& cmd = copy.commands[k];
            if (cmd.callback || cmd.elemCount == 0) continue;
            window.PushClipRect(ImVec2(cmd.clipRect.x, cmd.clipRect.y), ImVec2(cmd.clipRect.z, cmd.clipRect.w));
            window.PushTextureID(cmd.texture);
            window.PrimReserve(int(cmd.elemCount), placed ? 0 : vertices);
            if (!placed) {
                base = window._VtxCurrentIdx;
                std::memcpy(window._VtxWritePtr, copy.vertices.data() + offset, size_t(vertices) * sizeof(ImDrawVert));
                window._VtxWritePtr += vertices;
                window._VtxCurrentIdx += unsigned(vertices);
                placed = true;
            }
            const ImDrawIdx* from = copy.indices.data() + cmd.idxOffset;
            for (unsigned i = 0; i < cmd.elemCount; ++i) window._IdxWritePtr[i] = ImDrawIdx(from[i] + base);
            window._IdxWritePtr += cmd.elemCount;
            window.PopTextureID();
            window.PopClipRect();
        }
        c = end;
    }
}

// ---------------------------------------------------------------------------
// BeginLaneImage / EndLaneImage
// ---------------------------------------------------------------------------

ImDrawList* BeginLaneImage(LaneImage& lanes, FrameDriver& driver, ImDrawList* window, const LaneImageKey& key,
                           bool quiet, uint32_t background, uint32_t shade, float shadeX0, float shadeX1) {
    lanes.window = window;
    lanes.direct = !window;
    if (lanes.direct) return window;
    ImDrawListSharedData* shared = ImGui::GetDrawListSharedData();
    // A new GUI context (the tests make several) brings new shared data.
    if (!lanes.list || lanes.list->_Data != shared) {
        lanes.list = std::make_unique<ImDrawList>(shared);
        lanes.valid = false;
    }
    const bool images = LayerImagesAvailable(driver);
    if (!images && lanes.image.texture) ReleaseLayerImage(driver, lanes.image);
    const bool moved = !(key == lanes.key);
    if (moved || images != lanes.images) lanes.valid = false;
    lanes.images = images;
    lanes.key = key;
    // A view that moves on every frame would draw the picture, then the
    // picture into the frame, each time, to show it once: its lanes cost a
    // software renderer twice the pixels and a wait for the picture. The
    // first frame of a move still draws one (a single step, such as a wheel
    // notch, is then kept at once); the frame after the move draws it again.
    lanes.moving = moved && lanes.movedLast;
    lanes.movedLast = moved;
    lanes.keep = quiet && lanes.valid;
    if (lanes.moving) {
        ++lanes.straight;
        return window;
    }

    // Whole pixels around the clip rectangle: the picture's pixels then lie
    // on the window's, and the window's clip rectangle cuts it as it would
    // cut the lanes.
    const float scale = key.scale > 0 ? key.scale : 1.0f;
    const float x0 = std::floor(key.clipMin[0] * scale), y0 = std::floor(key.clipMin[1] * scale);
    const float x1 = std::ceil(key.clipMax[0] * scale), y1 = std::ceil(key.clipMax[1] * scale);
    lanes.pixelX = x0;
    lanes.pixelY = y0;
    lanes.width = int(std::max(0.0f, x1 - x0));
    lanes.height = int(std::max(0.0f, y1 - y0));

    ImDrawList& list = *lanes.list;
    list._ResetForNewFrame();
    list.PushTextureID(ImGui::GetIO().Fonts->TexID);
    list.PushClipRect(ImVec2(key.clipMin[0], key.clipMin[1]), ImVec2(key.clipMax[0], key.clipMax[1]));
    const ImVec2 min(x0 / scale, y0 / scale), max(x1 / scale, y1 / scale);
    list.AddRectFilled(min, max, background);
    list.AddRectFilled(ImVec2(shadeX0, min.y), ImVec2(shadeX1, max.y), shade);
    return &list;
}

void EndLaneImage(LaneImage& lanes, FrameDriver& driver) {
    if (lanes.direct || lanes.moving) return;
    ImDrawList& list = *lanes.list;
    ImDrawList& window = *lanes.window;
    list._PopUnusedDrawCmd();
    const bool images = lanes.images;
    if (lanes.keep) {
        ++lanes.kept;
    } else if (lanes.valid && SameDrawing(list, lanes.copy)) {
        ++lanes.compared;
    } else {
        CopyDrawing(list, lanes.copy);
        lanes.valid = !images || RenderLayerImage(driver, lanes.image, list);
        ++lanes.redrawn;
    }
    if (images && lanes.valid && lanes.image.texture) {
        const float s = lanes.key.scale > 0 ? lanes.key.scale : 1.0f;
        const float x1 = lanes.pixelX + float(lanes.width), y1 = lanes.pixelY + float(lanes.height);
        const float w = float(lanes.image.width), h = float(lanes.image.height);
        // The image is the back buffer's size, bottom row first.
        window.AddImage(lanes.image.texture, ImVec2(lanes.pixelX / s, lanes.pixelY / s), ImVec2(x1 / s, y1 / s),
                        ImVec2(lanes.pixelX / w, 1 - lanes.pixelY / h), ImVec2(x1 / w, 1 - y1 / h));
    } else {
        AppendDrawing(window, lanes.copy);
    }
}
