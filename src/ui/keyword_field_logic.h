// keyword_field_logic.h — the plain rules of the keyword autocomplete field
// (no GUI calls).
//
// A keyword query is words separated by blanks; a word may carry a leading
// "+" (required) or "-" (excluded). Completion works on the word under the
// cursor and keeps its sign.
//
// Index
//   kKeywordMatchLimit / kKeywordPrefixMaxBytes
//   CollectKeywordMatches    keywords beginning with a prefix, most used first
//   KeywordWord / FindKeywordWord   the word under the cursor: start, typed end, whole end
//   KeywordCompletion / PlanKeywordCompletion   the edit that puts a keyword in its place
//   ApplyKeywordCompletion   the same edit on a std::string (tests, callers without a field)
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct KeywordRecord;

constexpr int kKeywordMatchLimit = 8;
constexpr size_t kKeywordPrefixMaxBytes = 64;  // prefixes this long or longer list nothing
constexpr size_t kKeywordCandidateLimit = 64;  // candidates looked at before the ranking

// `keywords` sorted ascending by `token` (the sound library's list). Fills
// `out` with at most `limit` display texts of keywords whose token begins
// with the lower-cased prefix, not equal to it, by use count, highest first
// (equal counts keep the list's order). Nothing for a null, empty or
// 64-byte prefix. The pointers live as long as the keyword list is unchanged.
void CollectKeywordMatches(const std::vector<KeywordRecord>& keywords, const char* prefix,
                           std::vector<const char*>& out, int limit);

struct KeywordWord {
    int start = 0;   // just after the last ' ', '+' or '-' before the cursor
    int cursor = 0;  // the typed part ends here
    int end = 0;     // the next ' ', '+', '-' or the end of the text
    std::string_view Typed(std::string_view text) const { return text.substr(size_t(start), size_t(cursor - start)); }
    std::string_view Whole(std::string_view text) const { return text.substr(size_t(start), size_t(end - start)); }
};
// The cursor is clamped into the text.
KeywordWord FindKeywordWord(std::string_view text, int cursor);

struct KeywordCompletion {
    bool fits = false;    // false: the text stays as it is
    int deleteStart = 0;  // the word under the cursor ...
    int deleteCount = 0;  // ... whole, its part after the cursor too
    std::string insert;   // the keyword, and a blank unless one follows already
    int cursorAfter = 0;  // just after the inserted text
};
// `capacity` is the text field's size in bytes, terminator included.
KeywordCompletion PlanKeywordCompletion(std::string_view text, int cursor, std::string_view keyword, int capacity);

// True when applied; `cursor` moves after the inserted text.
bool ApplyKeywordCompletion(std::string& text, int& cursor, std::string_view keyword, int capacity);
