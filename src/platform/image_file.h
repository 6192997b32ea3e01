// image_file.h — decoding an image file into RGBA pixels.
//
// Index
//   kMaxImageSide / kMaxImageBytes   what the program agrees to decode
//   LoadImagePixels                  PNG (and the other formats stb_image reads)
//   WritePngFile                     RGBA pixels into a PNG file, whole or not at all
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Larger images are refused before any pixel is decoded.
constexpr int kMaxImageSide = 16384;
constexpr uint64_t kMaxImageBytes = 256ull << 20;

// 8-bit RGBA, rows top first, row pitch width × 4. False when the file is
// missing, unreadable, not an image or too large; then nothing is written.
bool LoadImagePixels(const std::string& path, std::vector<uint8_t>& pixels, int& width, int& height);

// Encodes width × height RGBA pixels (rows top first, no padding) as PNG and
// writes them to path + ".tmp", forced to disk and then moved over `path`, so
// a reader never sees half a picture. False, with any earlier file at `path`
// left as it was, when a side is 0 or any step fails.
bool WritePngFile(const std::string& path, const uint8_t* pixels, unsigned width, unsigned height);
