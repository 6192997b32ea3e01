// system_fonts.h — the system's installed faces, as a desktop program finds
// them: fontconfig's list for a sans-serif text, best first.
//
// Index
//   SystemFontFace        a file and the face's index within it (collections)
//   SystemFacesFor        the installed scalable faces that hold a character
//
// Thread-safe. The sorted list is asked of fontconfig once and kept: faces
// installed while the program runs are seen at its next start.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SystemFontFace {
    std::string path;
    int index = 0;  // the face within a collection (.ttc)
    bool operator==(const SystemFontFace&) const = default;
};

// Up to `limit` outline faces that hold `codePoint`, in the order fontconfig
// prefers them for "sans-serif" text; empty when none does (or fontconfig is
// not available).
std::vector<SystemFontFace> SystemFacesFor(uint32_t codePoint, size_t limit = 4);
