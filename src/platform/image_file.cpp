// image_file.cpp — stb_image behind LoadImagePixels, stb_image_write behind WritePngFile.
#include "platform/image_file.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <climits>
#include <cstdio>

#include "platform/file_util.h"

bool LoadImagePixels(const std::string& path, std::vector<uint8_t>& pixels, int& width, int& height) {
    FILE* file = OpenRegularFileStream(path);
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

bool WritePngFile(const std::string& path, const uint8_t* pixels, unsigned width, unsigned height) {
    if (!pixels || width == 0 || height == 0 || width > INT_MAX / 4 || height > INT_MAX) return false;
    std::vector<uint8_t> png;
    auto append = [](void* context, void* data, int size) {
        auto* out = static_cast<std::vector<uint8_t>*>(context);
        const auto* bytes = static_cast<const uint8_t*>(data);
        out->insert(out->end(), bytes, bytes + size);
    };
    const int w = static_cast<int>(width);
    if (!stbi_write_png_to_func(append, &png, w, static_cast<int>(height), 4, pixels, w * 4) || png.empty())
        return false;
    return WriteBytesFileAtomic(path, png.data(), png.size());
}
