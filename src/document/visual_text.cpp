// visual_text.cpp — right-to-left reordering and Arabic joining through FriBidi.
//
// Index
//   HasRightToLeft
//   VisualLine        one paragraph: levels, joining, shaping, reordering
//   VisualText
//   GlyphCutPoints    grapheme clusters through ICU's character breaks
//   CodePointCount / ShortenedText
//   IsolatedText
#include "document/visual_text.h"

#include <fribidi.h>
#include <unicode/ubrk.h>
#include <unicode/utext.h>

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

void AppendCodePoint(std::string& out, uint32_t c) {
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
        if (!Invisible(text[size_t(i)])) AppendCodePoint(out, text[size_t(i)]);
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

namespace {

// One code point at byte i: its value and length; a malformed byte counts
// as a character of its own (its byte value, length 1).
uint32_t DecodeAt(const unsigned char* s, size_t n, size_t i, size_t& len) {
    const unsigned char b = s[i];
    len = 1;
    if (b < 0xC0 || b >= 0xF8) return b;
    const size_t want = b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    uint32_t c = b & (b < 0xE0 ? 0x1F : b < 0xF0 ? 0x0F : 0x07);
    if (i + want > n) return b;
    for (size_t k = 1; k < want; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return b;
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    len = want;
    return c;
}

// The character break iterator of this thread, opened once: opening one
// builds its rules, setting a text is cheap.
struct CharacterBreaks {
    UBreakIterator* iterator = nullptr;
    CharacterBreaks() {
        UErrorCode status = U_ZERO_ERROR;
        iterator = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) iterator = nullptr;
    }
    ~CharacterBreaks() {
        if (iterator) ubrk_close(iterator);
    }
    CharacterBreaks(const CharacterBreaks&) = delete;
    CharacterBreaks& operator=(const CharacterBreaks&) = delete;
};

// Where each well-formed run of code points starts and ends, as offsets of
// the whole text: ICU reads a malformed byte as U+FFFD, and keeps byte
// offsets as its indices, so the runs need not be split for it.
void ClusterBreaks(std::string_view utf8, std::vector<size_t>& cuts) {
    thread_local CharacterBreaks breaks;
    const size_t n = utf8.size();
    UErrorCode status = U_ZERO_ERROR;
    UText* text = breaks.iterator ? utext_openUTF8(nullptr, utf8.data(), int64_t(n), &status) : nullptr;
    if (text && U_SUCCESS(status)) ubrk_setUText(breaks.iterator, text, &status);
    if (!text || U_FAILURE(status)) {
        // No break rules: every code point is a place to cut.
        const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
        for (size_t i = 0, len = 0; i < n; i += len) {
            DecodeAt(s, n, i, len);
            if (i + len < n) cuts.push_back(i + len);
        }
    } else {
        for (int32_t at = ubrk_following(breaks.iterator, 0); at != UBRK_DONE && size_t(at) < n;
             at = ubrk_next(breaks.iterator))
            cuts.push_back(size_t(at));
    }
    // The iterator keeps a shallow copy, read only after the next text is set.
    if (text) utext_close(text);
}

constexpr uint32_t kFirstIsolate = 0x2066, kLastIsolateStart = 0x2068, kPopIsolate = 0x2069;

}  // namespace

std::vector<size_t> GlyphCutPoints(std::string_view utf8) {
    std::vector<size_t> cuts;
    if (utf8.empty()) return cuts;
    ClusterBreaks(utf8, cuts);
    cuts.push_back(utf8.size());
    return cuts;
}

size_t CodePointCount(std::string_view utf8) {
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t count = 0;
    for (size_t i = 0, len = 0; i < utf8.size(); i += len, ++count) DecodeAt(s, utf8.size(), i, len);
    return count;
}

std::string ShortenedText(std::string_view text, const std::function<bool(const std::string&)>& fits) {
    std::string whole(text);
    if (fits(whole)) return whole;
    static const std::string kEllipsis = "\xE2\x80\xA6";
    const bool rightToLeft = HasRightToLeft(text);
    const std::vector<size_t> cuts = GlyphCutPoints(text);
    // A start and its "…": the blanks before the cut would open a gap.
    auto candidate = [&](size_t cut) {
        std::string_view kept = text.substr(0, cut);
        while (!kept.empty() && (kept.back() == ' ' || kept.back() == '\t')) kept.remove_suffix(1);
        std::string out(kept);
        out += kEllipsis;
        // The direction of the last letter kept, and the isolates left open.
        const auto* s = reinterpret_cast<const unsigned char*>(kept.data());
        FriBidiCharType last = FRIBIDI_TYPE_ON;
        int open = 0;
        for (size_t i = 0, len = 0; i < kept.size(); i += len) {
            const uint32_t c = DecodeAt(s, kept.size(), i, len);
            if (c >= kFirstIsolate && c <= kLastIsolateStart)
                ++open;
            else if (c == kPopIsolate && open > 0)
                --open;
            const FriBidiCharType type = fribidi_get_bidi_type(c);
            if (FRIBIDI_IS_LETTER(type)) last = type;
        }
        // A left-to-right text needs no mark (nor could the GUI draw one).
        if (rightToLeft && HasRightToLeft(kept))
            AppendCodePoint(out, FRIBIDI_IS_RTL(last) ? 0x200F : 0x200E);  // RLM / LRM
        for (; open > 0; --open) AppendCodePoint(out, kPopIsolate);
        return out;
    };
    // The widths grow with the kept part (shaping may nudge a letter, never
    // much): the last cut that fits, by halving, over every cut but the end.
    size_t lo = 0, hi = cuts.empty() ? 0 : cuts.size() - 1;  // cuts[0, lo) fit; [hi, ...) do not
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (fits(candidate(cuts[mid])))
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo > 0) return candidate(cuts[lo - 1]);
    return fits(kEllipsis) ? kEllipsis : std::string();
}

std::string IsolatedText(std::string_view name) {
    if (!HasRightToLeft(name)) return std::string(name);
    std::string out = "\xE2\x81\xA8";  // U+2068 FIRST STRONG ISOLATE
    out.append(name);
    out += "\xE2\x81\xA9";  // U+2069 POP DIRECTIONAL ISOLATE
    return out;
}
