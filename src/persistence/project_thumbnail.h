// project_thumbnail.h — the small picture of the window left beside a saved
// project.
//
// Index
//   kThumbnailWidth / ThumbnailHeightFor   the thumbnail's size for a back buffer
//   ThumbnailImage                         RGBA pixels, rows top first
//   ScaleThumbnail                         bilinear scaling to 400 wide, every alpha 255
//
// The frame driver reads the back buffer once after the frame that follows a
// save; the shell's capture scales it here and writes the PNG
// (platform/image_file.h). Nothing reads a thumbnail back.
#pragma once

#include <cstdint>
#include <vector>

constexpr int kThumbnailWidth = 400;

// max(1, height × 400 / width) in integer arithmetic; 0 when either side is
// below 1 (nothing to capture).
int ThumbnailHeightFor(int width, int height);

struct ThumbnailImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width × height × 4
};

// `rgba` holds width × height pixels of 4 bytes, rows top first, `rowPitch`
// bytes apart. Each output channel is the bilinear mix of the four nearest
// source pixels (single-precision, centres aligned, edges clamped), plus 0.5
// and truncated; every alpha is 255. Empty when the source has no pixels.
ThumbnailImage ScaleThumbnail(const uint8_t* rgba, int width, int height, int rowPitch);
