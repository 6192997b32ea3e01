// visual_text.cpp — right-to-left reordering and Arabic joining through FriBidi.
//
// Index
//   HasRightToLeft
//   VisualLine        one paragraph: levels, joining, shaping, reordering
//   VisualText
//   GlyphCutPoints / IsolatedText
#include "document/visual_text.h"

#include <fribidi.h>

#include <cstdint>
#include <vector>

namespace {

bool RightToLeftCodePoint(uint32_t c) {
    return (c >= 0x0590 && c <= 0x08FF) ||   // Hebrew, Arabic, Syriac, Thaana, NKo, Samaritan, Mandaic
           (c >= 0xFB1D && c <= 0xFDFF) ||   // Hebrew and Arabic presentation forms A
           (c >= 0xFE70 && c <= 0xFEFE) ||   // Arabic presentation forms B
           c == 0x200F || c == 0x202B || c == 0x202E || c == 0x2067 ||  // RLM, RLE, RLO, RLI
           (c >= 0x10800 && c <= 0x10FFF) || (c >= 0x1E800 && c <= 0x1EFFF);
}

// Characters the GUI would draw as a box: the filler FriBidi leaves where a
// ligature took two letters, and the explicit direction marks and controls,
// which have done their work once the text is in display order.
bool Invisible(FriBidiChar c) {
    return c == 0xFEFF || c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// ---------------------------------------------------------------------------
// VisualLine
// ---------------------------------------------------------------------------

void VisualLine(std::string_view line, std::string& out) {
    if (!HasRightToLeft(line)) {
        out.append(line);
        return;
    }
    // UTF-8 never yields more characters than bytes.
    std::vector<FriBidiChar> text(line.size() + 1);
    const FriBidiStrIndex n =
        fribidi_charset_to_unicode(FRIBIDI_CHAR_SET_UTF8, line.data(), FriBidiStrIndex(line.size()), text.data());
    if (n <= 0) {
        out.append(line);
        return;
    }
    const size_t count = size_t(n);
    std::vector<FriBidiCharType> types(count);
    std::vector<FriBidiBracketType> brackets(count);
    std::vector<FriBidiLevel> levels(count);
    std::vector<FriBidiArabicProp> joining(count);
    fribidi_get_bidi_types(text.data(), n, types.data());
    fribidi_get_bracket_types(text.data(), n, types.data(), brackets.data());
    // The first strong character sets the paragraph's direction: a Hebrew
    // name reads from the right, "Impact" followed by Arabic from the left.
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), n, &base, levels.data())) {
        out.append(line);
        return;
    }
    fribidi_get_joining_types(text.data(), n, joining.data());
    fribidi_join_arabic(types.data(), n, levels.data(), joining.data());
    const FriBidiFlags flags = FRIBIDI_FLAGS_DEFAULT | FRIBIDI_FLAGS_ARABIC;
    fribidi_shape(flags, levels.data(), n, joining.data(), text.data());
    if (!fribidi_reorder_line(flags, types.data(), n, 0, base, levels.data(), text.data(), nullptr)) {
        out.append(line);
        return;
    }
    for (FriBidiStrIndex i = 0; i < n; ++i)
        if (!Invisible(text[size_t(i)])) AppendUtf8(out, text[size_t(i)]);
}

}  // namespace

// ---------------------------------------------------------------------------
// HasRightToLeft / VisualText
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

std::string VisualText(std::string_view utf8) {
    if (!HasRightToLeft(utf8)) return std::string(utf8);
    std::string out;
    out.reserve(utf8.size() + 8);
    size_t start = 0;
    while (true) {
        const size_t end = utf8.find('\n', start);
        VisualLine(utf8.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start), out);
        if (end == std::string_view::npos) break;
        out += '\n';
        start = end + 1;
    }
    return out;
}

// ---------------------------------------------------------------------------
// GlyphCutPoints / IsolatedText
// ---------------------------------------------------------------------------

std::vector<size_t> GlyphCutPoints(std::string_view utf8) {
    std::vector<size_t> cuts;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        // One code point; a malformed byte counts as a character of its own.
        const unsigned char b = s[i];
        uint32_t c = b;
        size_t len = 1;
        if (b >= 0xC0 && b < 0xF8) {
            len = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
            c = b & (b < 0xE0 ? 0x1F : b < 0xF0 ? 0x0F : 0x07);
            bool ok = i + len <= n;
            for (size_t k = 1; ok && k < len; ++k) {
                ok = (s[i + k] & 0xC0) == 0x80;
                c = (c << 6) | (s[i + k] & 0x3F);
            }
            if (!ok) len = 1, c = b;
        }
        const bool mark = c == 0x200D || c == 0x200C || (c >= 0x0300 && fribidi_get_bidi_type(c) == FRIBIDI_TYPE_NSM);
        if (i > 0 && !mark) cuts.push_back(i);
        i += len;
    }
    if (n > 0) cuts.push_back(n);
    return cuts;
}

std::string IsolatedText(std::string_view name) {
    if (!HasRightToLeft(name)) return std::string(name);
    std::string out = "\xE2\x81\xA8";  // U+2068 FIRST STRONG ISOLATE
    out.append(name);
    out += "\xE2\x81\xA9";  // U+2069 POP DIRECTIONAL ISOLATE
    return out;
}
