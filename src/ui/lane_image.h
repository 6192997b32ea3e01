// lane_image.h — the timeline's lanes kept as one picture between frames.
//
// Index
//   LaneImageKey      where the lanes are drawn and what they show of the timeline
//   LaneImage         the list the lanes draw into, a copy of what the picture was drawn from, the picture
//   BeginLaneImage    the list this frame's lanes draw into; whether the picture is shown again unchecked
//   EndLaneImage      draws the picture again when the lanes drew something else; shows it
//   SameDrawing       a list's buffers and commands against the copy
//
// A large project's lanes are tens of thousands of triangles, and a software
// renderer spends most of a frame rasterising them. Drawn into a texture of
// their own (frame_driver.h's LayerImage) they cost one quad on every frame
// that draws the same lanes: while the playhead runs, while other panels
// change, while a script measures a still window.
//
// The picture can never show something other than what the lanes would draw
// straight into the window: every frame that is not quiet draws the lanes
// into the list and compares it, byte for byte, with the copy the picture was
// drawn from. Only a quiet frame (nothing stirred for three frames: no input,
// no worker, no playback) with the same key shows the picture without
// drawing the lanes, since nothing they draw can have changed. The list
// starts with what lies under the lanes in the window (its background and
// the time area's shade), so the picture is opaque and is copied to the
// frame pixel for pixel.
//
// Without a back-end that draws layer images (the tests' null back-end) or
// with `layerImagesOff`, the copy itself is the picture: it is appended to
// the window's list, so a quiet frame still draws nothing of the lanes and
// the tests see the same rules at work. UI thread.
#pragma once

#include <imgui.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "app/frame_driver.h"

struct LaneImageKey {
    float clipMin[2] = {0, 0};  // the region's clip rectangle, points
    float clipMax[2] = {0, 0};
    float display[2] = {0, 0};  // the window, points (the image is its size)
    float scrollY = 0;
    float viewX0 = 0;
    float viewWidth = 0;
    float viewStart = 0;
    float viewDuration = 0;
    float laneHeight = 0;
    float scale = 1;
    bool traceView = false;
    int64_t atlasBuilds = 0;  // glyphs joined the atlas: text draws differently
    bool operator==(const LaneImageKey&) const = default;
};

// One command of the copy: what it draws with and which part of the buffers.
struct KeptCommand {
    ImVec4 clipRect;
    ImTextureID texture = nullptr;
    unsigned vtxOffset = 0;
    unsigned idxOffset = 0;
    unsigned elemCount = 0;
    bool callback = false;
};

struct LaneDrawingCopy {
    std::vector<ImDrawVert> vertices;
    std::vector<ImDrawIdx> indices;
    std::vector<KeptCommand> commands;
};

struct LaneImage {
    std::unique_ptr<ImDrawList> list;  // made with the GUI context's shared data
    LayerImage image;
    LaneDrawingCopy copy;      // what `image` was drawn from
    LaneImageKey key;          // and where
    bool valid = false;        // `image` shows `copy` at `key`
    bool images = false;       // the picture is `image`, else `copy` itself
    // This frame: the lanes draw into the window itself, or the picture is
    // shown again without drawing them.
    bool direct = true;
    bool keep = false;
    // The key changed on the frame before this one too: the view is moving
    // (a drag, a wheel, a pan), so the lanes draw straight into the window
    // and the picture waits for a frame that draws what the last one did.
    bool moving = false;
    bool movedLast = false;
    ImDrawList* window = nullptr;
    float pixelX = 0;  // the picture's rectangle: whole pixels around the clip rectangle
    float pixelY = 0;
    int width = 0;
    int height = 0;
    // Frames that drew the picture again, compared and kept it, or showed it unchecked.
    int64_t redrawn = 0;
    int64_t compared = 0;
    int64_t kept = 0;
    int64_t straight = 0;  // frames of a moving view, drawn into the window
};

// The list the lanes draw into this frame. Sets `keep` (the lanes draw only
// what input needs, nothing of the picture) when `quiet` and the picture
// was drawn with the same key. While the key changes from frame to frame
// (`moving`) the list is the window's own. `under` is what the window shows under the
// lanes: its background, and the time area's shade over [shadeX0, shadeX1).
ImDrawList* BeginLaneImage(LaneImage& lanes, FrameDriver& driver, ImDrawList* window, const LaneImageKey& key,
                           bool quiet, uint32_t background, uint32_t shade, float shadeX0, float shadeX1);
// Compares the list with the copy, draws the picture again when they differ
// (or the key changed) and puts it in the window. Where no picture can be
// drawn the copy goes into the window instead.
void EndLaneImage(LaneImage& lanes, FrameDriver& driver);

bool SameDrawing(const ImDrawList& list, const LaneDrawingCopy& copy);
void CopyDrawing(const ImDrawList& list, LaneDrawingCopy& copy);
// Appends the copy to `window` (same coordinates), command by command.
void AppendDrawing(ImDrawList& window, const LaneDrawingCopy& copy);
