// search_query.h — event keywords as search terms, name matching, sound categories.
//
// Index
//   SearchTerm          one word of a query: text and mode (plain, +required, -excluded)
//   ParseSearchQuery    keyword text -> terms, in order, duplicates kept
//   MatchesKeywordList  name against a comma-separated list (empty list matches all)
//   MatchesWildcard     name against a word pattern with optional leading/trailing '*'
//   UcsCategory         the fixed sound-category table and its default id
//   GuessUcsCategory    best category id for a query
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum SearchTermMode : int32_t {
    kSearchPlain = 0,
    kSearchRequired = 1,  // written with a leading '+'
    kSearchExcluded = 2,  // written with a leading '-'
};

struct SearchTerm {
    std::string text;  // without its marker, case as typed
    int32_t mode = kSearchPlain;
};

// Words are separated by blanks, tabs, ',' and ';'. A lone "+" or "-" is a
// plain word; only the first character is a marker ("++x" requires "+x").
// Null or empty text gives no terms.
std::vector<SearchTerm> ParseSearchQuery(const char* text);

// True when `name` equals (exactly, case-sensitively) one of the items of the
// comma-separated `list`, items trimmed of blanks. A null or empty list
// matches every name.
bool MatchesKeywordList(std::string_view name, const char* list);

// Case-insensitive (ASCII) word match: "x" matches the word x, "x*" a word
// starting with x, "*x" a word ending with x, "*x*" x anywhere. The core
// without the outer stars must be at least 2 characters long. Word
// boundaries are any byte that is not an ASCII letter.
bool MatchesWildcard(std::string_view name, std::string_view pattern);

struct UcsCategory {
    const char* categoryId;
    const char* categoryName;
    const char* keywords;  // lower-case keywords separated by '|'
};

// The category table in its fixed order, followed by one all-empty row.
constexpr int kUcsCategoryCount = 15;
extern const UcsCategory kUcsCategories[kUcsCategoryCount + 1];
constexpr const char* kUcsDefaultCategory = "DSGNMisc";

// Scores every category against the non-excluded terms (3 per matching
// keyword for a required term, 2 for a plain one; a keyword matches when
// either text contains the other) and returns the first best id, or
// kUcsDefaultCategory when nothing scores.
std::string GuessUcsCategory(const std::vector<SearchTerm>& terms);
