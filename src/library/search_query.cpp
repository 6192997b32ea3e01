// search_query.cpp — query parsing, name matching and the category guess.
//
// Index
//   ASCII helpers
//   ParseSearchQuery
//   MatchesKeywordList
//   MatchesWildcard
//   kUcsCategories
//   GuessUcsCategory
#include "library/search_query.h"

#include <cstring>

namespace {

// Case folding is ASCII only: bytes of 0x80 and above (UTF-8) pass unchanged.
inline char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

inline bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

std::string LowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = LowerAscii(c);
    return out;
}

// The first place at or after `from` where `text` holds `core`, both folded
// to lower case, or npos.
size_t FindFolded(std::string_view text, std::string_view core, size_t from) {
    if (core.size() > text.size()) return std::string_view::npos;
    for (size_t at = from; at + core.size() <= text.size(); ++at) {
        size_t i = 0;
        while (i < core.size() && LowerAscii(text[at + i]) == LowerAscii(core[i])) ++i;
        if (i == core.size()) return at;
    }
    return std::string_view::npos;
}

inline bool IsQuerySeparator(char c) { return c == ' ' || c == '\t' || c == ',' || c == ';'; }

void PushToken(std::vector<SearchTerm>& terms, std::string_view token) {
    if (token.empty()) return;
    SearchTerm term;
    if (token.size() >= 2 && token[0] == '+') {
        term.text.assign(token.substr(1));
        term.mode = kSearchRequired;
    } else if (token.size() >= 2 && token[0] == '-') {
        term.text.assign(token.substr(1));
        term.mode = kSearchExcluded;
    } else {
        term.text.assign(token);
        term.mode = kSearchPlain;
    }
    terms.push_back(std::move(term));
}

}  // namespace

// ---------------------------------------------------------------------------
// ParseSearchQuery
// ---------------------------------------------------------------------------

std::vector<SearchTerm> ParseSearchQuery(const char* text) {
    std::vector<SearchTerm> terms;
    if (text == nullptr) return terms;
    std::string_view query(text);
    size_t start = 0;
    for (size_t i = 0; i <= query.size(); ++i) {
        if (i < query.size() && !IsQuerySeparator(query[i])) continue;
        PushToken(terms, query.substr(start, i - start));
        start = i + 1;
    }
    return terms;
}

// ---------------------------------------------------------------------------
// MatchesKeywordList
// ---------------------------------------------------------------------------

bool MatchesKeywordList(std::string_view name, const char* list) {
    if (list == nullptr || list[0] == '\0') return true;
    std::string_view items(list);
    size_t start = 0;
    while (start <= items.size()) {
        size_t comma = items.find(',', start);
        if (comma == std::string_view::npos) comma = items.size();
        std::string_view item = items.substr(start, comma - start);
        while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
        while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
        if (!item.empty() && item == name) return true;
        start = comma + 1;
    }
    return false;
}

// ---------------------------------------------------------------------------
// MatchesWildcard
// ---------------------------------------------------------------------------

bool MatchesWildcard(std::string_view name, std::string_view pattern) {
    if (pattern.empty()) return false;
    const bool leading = pattern.front() == '*';
    const bool trailing = pattern.back() == '*';
    std::string_view core = pattern;
    if (leading) core.remove_prefix(1);
    if (trailing && !core.empty()) core.remove_suffix(1);
    // One-letter cores would match nearly every name: refuse them.
    if (core.size() < 2) return false;

    // Compared letter by letter, folded on the fly: the render matches every
    // library entry against every query once, and copies would cost more
    // than the comparison.
    if (leading && trailing) return FindFolded(name, core, 0) != std::string_view::npos;
    if (core.size() > name.size()) return false;

    size_t from = 0;
    while (true) {
        size_t at = FindFolded(name, core, from);
        if (at == std::string_view::npos) return false;
        const size_t end = at + core.size();
        const bool startsWord = leading || at == 0 || !IsAsciiLetter(name[at - 1]);
        const bool endsWord = trailing || end == name.size() || !IsAsciiLetter(name[end]);
        if (startsWord && endsWord) return true;
        from = at + 1;
    }
}

// ---------------------------------------------------------------------------
// Category table
// ---------------------------------------------------------------------------

const UcsCategory kUcsCategories[kUcsCategoryCount + 1] = {
    {"AMBExt", "Ambience", "ambience|ambient|atmos|room|space|outdoor|indoor|city|nature|bg"},
    {"CRASH", "Crash", "crash|smash|shatter|break|glass|ceramic|collapse"},
    {"DSGN", "Designed", "design|synth|processed|morph|texture|pad|drone|tone|abstract"},
    {"EXPL", "Explosion", "explosion|explode|boom|blast|detonate|bomb"},
    {"FIRE", "Fire", "fire|flame|burn|torch|ignite|ember"},
    {"FOL", "Foley", "foley|footstep|cloth|body|movement|rustle"},
    {"GUN", "Gunshot", "gun|shot|rifle|pistol|shotgun|bullet|muzzle|firearm"},
    {"HIT", "Impact", "hit|impact|punch|slam|thud|thump|knock|strike|stomp|kick"},
    {"MECH", "Mechanical", "mechanical|machine|motor|engine|gear|hydraulic|servo|robot"},
    {"META", "Metal", "metal|clang|ring|scrape|grind|chain|iron|steel"},
    {"MVMT", "Movement", "whoosh|swoosh|swish|flyby|passby|rush|wind|gust|sweep"},
    {"SCI", "SciFi", "scifi|sci-fi|laser|zap|beam|plasma|energy|electric|spark"},
    {"STRN", "Strain", "strain|creak|stress|tension|bend|warp"},
    {"WATR", "Water", "water|splash|drip|rain|ocean|wave|stream|pour|bubble"},
    {"WOOD", "Wood", "wood|timber|branch|crack|snap|plank"},
    {"", "", ""},
};

// ---------------------------------------------------------------------------
// GuessUcsCategory
// ---------------------------------------------------------------------------

std::string GuessUcsCategory(const std::vector<SearchTerm>& terms) {
    if (terms.empty()) return kUcsDefaultCategory;

    // Lower-case the scoring terms once rather than per row.
    struct Scored {
        std::string text;
        int points;
    };
    std::vector<Scored> scored;
    for (const SearchTerm& term : terms) {
        if (term.mode == kSearchExcluded) continue;
        scored.push_back({LowerCopy(term.text), term.mode == kSearchRequired ? 3 : 2});
    }

    const char* best = kUcsDefaultCategory;
    int bestScore = 0;
    for (int row = 0; row < kUcsCategoryCount; ++row) {
        std::string_view keywords(kUcsCategories[row].keywords);
        int score = 0;
        size_t start = 0;
        while (start <= keywords.size()) {
            size_t bar = keywords.find('|', start);
            if (bar == std::string_view::npos) bar = keywords.size();
            std::string_view keyword = keywords.substr(start, bar - start);
            for (const Scored& term : scored) {
                // find() of an empty needle succeeds, so empty texts count as occurring.
                if (keyword.find(term.text) != std::string_view::npos ||
                    std::string_view(term.text).find(keyword) != std::string_view::npos)
                    score += term.points;
            }
            start = bar + 1;
        }
        if (score > bestScore) {
            best = kUcsCategories[row].categoryId;
            bestScore = score;
        }
    }
    return best;
}
