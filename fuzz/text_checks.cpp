// text_checks.cpp — properties of the shared text routines.
//
// Index
//   Timecode      parse/format inverse at the project rate, within 0..99 h
//   Utf           UTF-8 <-> UTF-16 conversions give valid text and invert
//   Text fields   CopyTextField keeps a whole-character prefix
//   Queries       search terms and wildcard monotonicity
//   CheckTextRoutines
//   CheckTimecodeAnyRate   formatting and parsing at any frame rate a file may hold
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "document/project.h"
#include "document/text_util.h"
#include "fuzz_checks.h"
#include "library/search_query.h"

namespace {

constexpr float kRates[] = {23.976f, 24.0f, 25.0f, 29.97f, 30.0f, 50.0f, 59.94f, 60.0f, 0.0f, 1.0f};

// ---- Timecode ---------------------------------------------------------------

std::string CheckTimecode(float fps, const std::string& text, uint32_t frameSeed) {
    Project project;
    project.fps = fps;
    const int base = fps >= 1.0f ? static_cast<int>(std::lround(fps)) : 25;
    const float limit = 100.0f * 3600.0f;
    // Seconds are 32-bit floats: up to 32 frames per second they tell every
    // frame of 99 h apart; at 50 and 60 only those below 2^18 s (72.8 h).
    const float exact = base <= 32 ? limit : 262144.0f;
    char written[64];

    const float seconds = ParseTimecode(project, text.c_str());
    if (seconds != -1.0f) {
        if (!(seconds >= 0.0f && seconds < limit)) return "a parsed timecode lies outside 0..99 h";
        FormatTimecode(project, seconds, written, sizeof written);
        if (seconds < exact && ParseTimecode(project, written) != seconds)
            return std::string("parse/format/parse moved ") + written;
    }

    // A frame anywhere in that range written, read and written again.
    const uint32_t frames = frameSeed % static_cast<uint32_t>(exact * static_cast<float>(base));
    const float at = static_cast<float>(frames / base) + static_cast<float>(frames % base) / base;
    FormatTimecode(project, at, written, sizeof written);
    const float back = ParseTimecode(project, written);
    if (!(std::fabs(back - at) < 0.5f / base)) return std::string("frame read back elsewhere: ") + written;
    char again[64];
    FormatTimecode(project, back, again, sizeof again);
    if (std::strcmp(written, again) != 0) return std::string("format/parse/format changed ") + written;
    return "";
}

// ---- Utf --------------------------------------------------------------------

std::string CheckUtf(const std::string& bytes) {
    const std::u16string wide = Utf8ToWide(bytes);
    const std::string narrow = WideToUtf8(wide);
    if (!IsValidUtf8(narrow)) return "UTF-16 to UTF-8 gave invalid UTF-8";
    if (Utf8ToWide(narrow) != wide) return "UTF-8 to UTF-16 and back does not invert";
    if (IsValidUtf8(bytes) && narrow != bytes) return "valid UTF-8 changed through UTF-16";

    // The same bytes as UTF-16 code units, lone surrogates included.
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    const std::string fromUnits = WideToUtf8(units);
    if (!IsValidUtf8(fromUnits)) return "UTF-16 units gave invalid UTF-8";
    if (WideToUtf8(Utf8ToWide(fromUnits)) != fromUnits) return "converted UTF-16 does not round-trip";
    return "";
}

// ---- Text fields ------------------------------------------------------------

std::string CheckTextField(const std::string& bytes, size_t fieldSize) {
    std::vector<char> field(fieldSize + 8, '\x7F');
    const bool whole = CopyTextField(field.data(), fieldSize, bytes);
    if (fieldSize == 0) return whole == bytes.empty() ? "" : "an empty field claims to hold text";
    for (size_t i = fieldSize; i < field.size(); ++i)
        if (field[i] != '\x7F') return "CopyTextField wrote past the field";
    const size_t n = strnlen(field.data(), fieldSize);
    if (n == fieldSize) return "the field is not terminated";
    if (std::memcmp(field.data(), bytes.data(), std::min(n, bytes.size())) != 0 || n > bytes.size())
        return "the field is not a prefix of the text";
    const bool embeddedNul = std::memchr(bytes.data(), '\0', bytes.size()) != nullptr;
    if (!embeddedNul && whole != (n == bytes.size())) return "CopyTextField misreports whether the text fit";
    if (IsValidUtf8(bytes) && !IsValidUtf8(std::string_view(field.data(), n)))
        return "CopyTextField cut a character";
    return "";
}

// ---- Queries ----------------------------------------------------------------

std::string CheckQueries(const std::string& text) {
    for (const SearchTerm& term : ParseSearchQuery(text.c_str())) {
        if (term.text.empty()) return "an empty search term";
        if (term.text.find_first_of(" \t,;") != std::string::npos) return "a search term holds a separator";
        if (term.mode < kSearchPlain || term.mode > kSearchExcluded) return "a search term of no known mode";
    }
    if (GuessUcsCategory(ParseSearchQuery(text.c_str())).empty()) return "no category guessed";

    const size_t half = text.size() / 2;
    const std::string name = text.substr(0, half);
    // A plain item is found in a list of itself and in a list around it.
    const bool plainItem = !name.empty() && name.front() != ' ' && name.back() != ' ' &&
                           name.find_first_of(std::string(",\0", 2)) == std::string::npos;
    if (plainItem && !(MatchesKeywordList(name, name.c_str()) &&
                       MatchesKeywordList(name, ("x, " + name + " ,y").c_str())))
        return "a keyword list misses its own item";

    // A name matched by a word pattern is matched by the looser patterns too,
    // and "*x*" is plain case-insensitive containment.
    std::string core = text.substr(half);
    std::erase(core, '*');
    if (core.size() < 2) return "";
    const bool word = MatchesWildcard(name, core);
    const bool prefix = MatchesWildcard(name, core + "*");
    const bool suffix = MatchesWildcard(name, "*" + core);
    const bool inside = MatchesWildcard(name, "*" + core + "*");
    if ((word && !(prefix && suffix)) || ((prefix || suffix) && !inside))
        return "a looser wildcard matches less than a stricter one";
    std::string lowerName = name, lowerCore = core;
    for (std::string* s : {&lowerName, &lowerCore})
        for (char& c : *s)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (inside != (lowerName.find(lowerCore) != std::string::npos)) return "\"*x*\" is not containment";
    return "";
}

}  // namespace

// The first byte picks the frame rate, the next four a frame, the fifth a
// field size; the whole input is the text of every check.
std::string CheckTextRoutines(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const float fps = size > 0 ? kRates[data[0] % (sizeof kRates / sizeof kRates[0])] : 25.0f;
    uint32_t frameSeed = 0;
    for (size_t i = 1; i < 5 && i < size; ++i) frameSeed = frameSeed << 8 | data[i];
    const size_t fieldSize = size > 5 ? data[5] % 80 : 8;
    const std::string text = size > 6 ? bytes.substr(6) : bytes;

    std::string failure = CheckTimecode(fps, text, frameSeed);
    if (failure.empty()) failure = CheckUtf(text);
    if (failure.empty()) failure = CheckTextField(text, fieldSize);
    if (failure.empty()) failure = CheckQueries(text);
    return failure;
}

// The first four bytes are the frame rate's bits (NaN, infinities, 2^60 and
// denormals included), the next four the seconds'; the rest is parsed.
std::string CheckTimecodeAnyRate(const uint8_t* data, size_t size) {
    float fps = 25.0f, seconds = 0.0f;
    if (size >= 4) std::memcpy(&fps, data, 4);
    if (size >= 8) std::memcpy(&seconds, data + 4, 4);
    Project project;
    project.fps = fps;
    char written[64];
    FormatTimecode(project, seconds, written, sizeof written);
    unsigned hh = 0, mm = 0, ss = 0, ff = 0;
    char end = 0;
    if (std::sscanf(written, "%2u:%2u:%2u:%3u%c", &hh, &mm, &ss, &ff, &end) != 4 || std::strlen(written) > 12)
        return std::string("not a timecode: ") + written;
    if (mm > 59 || ss > 59 || ff >= 240) return std::string("a field out of range: ") + written;
    const std::string text = size > 8 ? std::string(reinterpret_cast<const char*>(data) + 8, size - 8) : std::string();
    for (const char* parsed : {static_cast<const char*>(written), text.c_str()}) {
        const float back = ParseTimecode(project, parsed);
        // The last frames of hour 99 at high rates round up to 100 h exactly
        // in single precision; anything beyond is wrong.
        if (back != -1.0f && !(back >= 0.0f && back <= 100.0f * 3600.0f)) return "a parsed timecode outside 0..99 h";
    }
    return "";
}
