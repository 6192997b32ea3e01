// shortened_text.cpp — where a text may be cut (ICU's character breaks) and
// the one rule that shortens a name to its room.
//
// Index
//   AppendCodePoint
//   GlyphCutPoints    grapheme clusters through ICU's character breaks
//   CodePointCount / ShortenedText
#include "document/shortened_text.h"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>

#include <cstdint>
#include <vector>

namespace {


}  // namespace

// ---------------------------------------------------------------------------
// AppendCodePoint
// ---------------------------------------------------------------------------

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
// GlyphCutPoints / CodePointCount / ShortenedText
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

// A letter of a strong direction (the others take their direction from
// their neighbours).
bool StrongLetter(UCharDirection type) {
    return type == U_LEFT_TO_RIGHT || type == U_RIGHT_TO_LEFT || type == U_RIGHT_TO_LEFT_ARABIC;
}

bool RightToLeftLetter(UCharDirection type) { return type == U_RIGHT_TO_LEFT || type == U_RIGHT_TO_LEFT_ARABIC; }

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
        UCharDirection last = U_OTHER_NEUTRAL;
        int open = 0;
        for (size_t i = 0, len = 0; i < kept.size(); i += len) {
            const uint32_t c = DecodeAt(s, kept.size(), i, len);
            if (c >= kFirstIsolate && c <= kLastIsolateStart)
                ++open;
            else if (c == kPopIsolate && open > 0)
                --open;
            const UCharDirection type = u_charDirection(UChar32(c));
            if (StrongLetter(type)) last = type;
        }
        // A left-to-right text needs no mark (nor could the GUI draw one).
        if (rightToLeft && HasRightToLeft(kept))
            AppendCodePoint(out, RightToLeftLetter(last) ? 0x200F : 0x200E);  // RLM / LRM
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
