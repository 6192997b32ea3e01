// text_direction.cpp — right-to-left texts, isolated names, quoted names.
//
// Index
//   HasRightToLeft
//   IsolatedText / QuotedName
#include "platform/text_direction.h"

#include <cstdint>

namespace {

bool RightToLeftCodePoint(uint32_t c) {
    return (c >= 0x0590 && c <= 0x08FF) ||   // Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic
           (c >= 0xFB1D && c <= 0xFDFF) ||   // Hebrew and Arabic presentation forms A
           (c >= 0xFE70 && c <= 0xFEFE) ||   // Arabic presentation forms B
           c == 0x200F || c == 0x202B || c == 0x202E ||  // RLM, RLE, RLO
           (c >= 0x2066 && c <= 0x2069) ||  // the isolates: LRI, RLI, FSI, PDI
           (c >= 0x10800 && c <= 0x10FFF) || (c >= 0x1E800 && c <= 0x1EFFF);
}

constexpr std::string_view kOpenQuote = "\xE2\x80\x9C";   // “
constexpr std::string_view kCloseQuote = "\xE2\x80\x9D";  // ”

std::string Isolated(std::string_view name) {
    std::string out = "\xE2\x81\xA8";  // U+2068 FIRST STRONG ISOLATE
    out.append(name);
    out += "\xE2\x81\xA9";  // U+2069 POP DIRECTIONAL ISOLATE
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// HasRightToLeft
// ---------------------------------------------------------------------------

bool HasRightToLeft(std::string_view utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    for (size_t i = 0; i < n;) {
        const unsigned char b = s[i];
        // Everything below U+0590 is left to right: ASCII and two-byte leads
        // up to 0xD5 are skipped without decoding.
        if (b < 0xD6) {
            ++i;
            continue;
        }
        uint32_t c = 0;
        size_t len = 1;
        if (b < 0xE0) {
            c = b & 0x1F, len = 2;
        } else if (b < 0xF0) {
            c = b & 0x0F, len = 3;
        } else if (b < 0xF8) {
            c = b & 0x07, len = 4;
        } else {
            ++i;
            continue;
        }
        if (i + len > n) break;
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
            ok = ok && (s[i + k] & 0xC0) == 0x80;
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (ok && RightToLeftCodePoint(c)) return true;
        i += ok ? len : 1;
    }
    return false;
}

// ---------------------------------------------------------------------------
// IsolatedText / QuotedName
// ---------------------------------------------------------------------------

std::string IsolatedText(std::string_view name) {
    return HasRightToLeft(name) ? Isolated(name) : std::string(name);
}

std::string QuotedName(std::string_view name) {
    const bool isolate = HasRightToLeft(name) || name.find(kCloseQuote) != std::string_view::npos;
    std::string out(kOpenQuote);
    out += isolate ? Isolated(name) : std::string(name);
    out.append(kCloseQuote);
    return out;
}
