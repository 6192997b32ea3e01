// keyword_field_logic.cpp — keyword matches and the word replacement of the
// keyword autocomplete field.
//
// Index
//   CollectKeywordMatches
//   FindKeywordWord
//   PlanKeywordCompletion / ApplyKeywordCompletion
#include "ui/keyword_field_logic.h"

#include <algorithm>
#include <cstring>

#include "document/text_util.h"
#include "library/sound_library.h"

// ---------------------------------------------------------------------------
// CollectKeywordMatches
// ---------------------------------------------------------------------------

void CollectKeywordMatches(const std::vector<KeywordRecord>& keywords, const char* prefix,
                           std::vector<const char*>& out, int limit) {
    out.clear();
    if (!prefix || !prefix[0] || keywords.empty() || limit <= 0) return;
    const size_t length = std::strlen(prefix);
    if (length >= kKeywordPrefixMaxBytes) return;
    const std::string key = ToLowerCopy(std::string_view(prefix, length));

    // std::string's ordering is byte-wise with the shorter first on a common prefix.
    auto it = std::lower_bound(keywords.begin(), keywords.end(), key,
                               [](const KeywordRecord& r, const std::string& k) { return r.token < k; });
    struct Candidate {
        const KeywordRecord* record;
    };
    std::vector<Candidate> candidates;
    candidates.reserve(kKeywordCandidateLimit);
    for (; it != keywords.end() && candidates.size() < kKeywordCandidateLimit; ++it) {
        if (it->token.compare(0, key.size(), key) != 0) break;
        if (it->token.size() == key.size()) continue;  // the typed word itself
        candidates.push_back({&*it});
    }
    if (candidates.empty()) return;
    const size_t n = std::min(candidates.size(), static_cast<size_t>(limit));
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const Candidate& a, const Candidate& b) { return a.record->count > b.record->count; });
    for (size_t i = 0; i < n; ++i) out.push_back(candidates[i].record->display.c_str());
}

// ---------------------------------------------------------------------------
// FindKeywordWord
// ---------------------------------------------------------------------------

namespace {

bool EndsWord(char c) { return c == ' ' || c == '+' || c == '-'; }

}  // namespace

KeywordWord FindKeywordWord(std::string_view text, int cursor) {
    const int size = static_cast<int>(text.size());
    KeywordWord w;
    w.cursor = std::clamp(cursor, 0, size);
    w.start = w.cursor;
    while (w.start > 0 && !EndsWord(text[size_t(w.start - 1)])) --w.start;
    w.end = w.cursor;
    while (w.end < size && !EndsWord(text[size_t(w.end)])) ++w.end;
    return w;
}

// ---------------------------------------------------------------------------
// PlanKeywordCompletion / ApplyKeywordCompletion
// ---------------------------------------------------------------------------

KeywordCompletion PlanKeywordCompletion(std::string_view text, int cursor, std::string_view keyword, int capacity) {
    const KeywordWord w = FindKeywordWord(text, cursor);
    KeywordCompletion plan;
    plan.deleteStart = w.start;
    plan.deleteCount = w.end - w.start;
    plan.insert = std::string(keyword);
    const bool blankFollows = static_cast<size_t>(w.end) < text.size() && text[size_t(w.end)] == ' ';
    if (!blankFollows) plan.insert += ' ';
    plan.cursorAfter = w.start + static_cast<int>(plan.insert.size());
    const size_t after = text.size() - size_t(plan.deleteCount) + plan.insert.size();
    // Deleting the word and then finding the keyword does not fit would lose
    // what the user typed: the edit is made whole or not at all.
    plan.fits = capacity > 0 && after + 1 <= static_cast<size_t>(capacity);
    return plan;
}

bool ApplyKeywordCompletion(std::string& text, int& cursor, std::string_view keyword, int capacity) {
    const KeywordCompletion plan = PlanKeywordCompletion(text, cursor, keyword, capacity);
    if (!plan.fits) return false;
    text.replace(size_t(plan.deleteStart), size_t(plan.deleteCount), plan.insert);
    cursor = plan.cursorAfter;
    return true;
}
