// system_fonts.cpp — fontconfig's sorted list of faces, asked once.
//
// Index
//   SortedFaces      the list: every scalable outline face with its characters
//   SystemFacesFor
#include "platform/system_fonts.h"

#include <fontconfig/fontconfig.h>

#include <mutex>

namespace {

struct Face {
    SystemFontFace file;
    FcCharSet* chars = nullptr;  // owned by the kept font set
};

struct SortedFaces {
    std::once_flag once;
    FcFontSet* set = nullptr;  // kept for the process: the char sets live in it
    std::vector<Face> faces;
};

SortedFaces& Sorted() {
    static SortedFaces sorted;
    std::call_once(sorted.once, [] {
        if (!FcInit()) return;
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif"));
        if (!pattern) return;
        FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        // Untrimmed: a face later in the list may hold what the first ones lack.
        sorted.set = FcFontSort(nullptr, pattern, FcFalse, nullptr, &result);
        FcPatternDestroy(pattern);
        if (!sorted.set) return;
        for (int i = 0; i < sorted.set->nfont; ++i) {
            FcPattern* font = sorted.set->fonts[i];
            FcChar8* file = nullptr;
            FcBool outline = FcFalse;
            FcCharSet* chars = nullptr;
            int index = 0;
            if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch || !file) continue;
            // Bitmap-only faces (a colour emoji font of PNG strikes) have no
            // outlines to rasterise at the interface's sizes.
            if (FcPatternGetBool(font, FC_OUTLINE, 0, &outline) != FcResultMatch || !outline) continue;
            if (FcPatternGetCharSet(font, FC_CHARSET, 0, &chars) != FcResultMatch || !chars) continue;
            FcPatternGetInteger(font, FC_INDEX, 0, &index);
            Face face;
            face.file.path = reinterpret_cast<const char*>(file);
            face.file.index = index;
            face.chars = chars;
            sorted.faces.push_back(face);
        }
    });
    return sorted;
}

}  // namespace

std::vector<SystemFontFace> SystemFacesFor(uint32_t codePoint, size_t limit) {
    std::vector<SystemFontFace> found;
    const SortedFaces& sorted = Sorted();
    for (const Face& face : sorted.faces) {
        if (found.size() >= limit) break;
        if (!FcCharSetHasChar(face.chars, codePoint)) continue;
        bool seen = false;
        for (const SystemFontFace& f : found) seen = seen || f == face.file;
        if (!seen) found.push_back(face.file);
    }
    return found;
}
