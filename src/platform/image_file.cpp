// image_file.cpp — stb_image behind LoadImagePixels.
#include "platform/image_file.h"

#include <stb_image.h>

#include <cstdio>

bool LoadImagePixels(const std::string& path, std::vector<uint8_t>& pixels, int& width, int& height) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    int w = 0, h = 0, channels = 0;
    // The header alone says how large the image is: a huge one is refused
    // before its pixels are allocated.
    bool ok = stbi_info_from_file(file, &w, &h, &channels) != 0 && w > 0 && h > 0 && w <= kMaxImageSide &&
              h <= kMaxImageSide &&
              static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 4 <= kMaxImageBytes;
    unsigned char* data = nullptr;
    if (ok) {
        std::fseek(file, 0, SEEK_SET);
        data = stbi_load_from_file(file, &w, &h, &channels, 4);
    }
    std::fclose(file);
    if (!data) return false;
    pixels.assign(data, data + static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
    stbi_image_free(data);
    width = w;
    height = h;
    return true;
}
