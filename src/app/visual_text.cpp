// visual_text.cpp — right-to-left reordering and Arabic joining through FriBidi.
//
// Index
//   VisualLine        one paragraph: levels, joining, shaping, reordering
//   VisualText
#include "app/visual_text.h"

#include <fribidi.h>

#include <cstdint>
#include <vector>

namespace {

// Characters the GUI would draw as a box: the filler FriBidi leaves where a
// ligature took two letters, and the explicit direction marks and controls,
// which have done their work once the text is in display order.
bool Invisible(FriBidiChar c) {
    return c == 0xFEFF || c == 0x200E || c == 0x200F || c == 0x061C || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
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
// VisualText
// ---------------------------------------------------------------------------

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
