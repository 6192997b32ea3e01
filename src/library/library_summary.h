// library_summary.h — words from sound names: library summaries, the keyword
// list for autocompletion, and grouping of used sounds by recipe.
//
// Index
//   TokenCounts / WrittenForms      token -> count, token -> (written form -> count)
//   ForEachNameToken                the shared word splitter
//   SplitNameTokens                 tokens for the keyword index
//   SplitNameKeywords               tokens of the summary vocabulary only
//   IsSummaryVocabularyWord         membership in the fixed summary vocabulary
//   FormatFileCount                 "1 files", "1,234 files", "2,000,005 files"
//   BuildLibrarySummary             the one-line description of a library
//   BuildKeywordIndex               the sorted keyword list of all enabled libraries
//   UsageGroups / AddFileToUsageGroup   project sounds grouped by recipe
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct LibraryIndex;
struct KeywordRecord;
struct Project;

using TokenCounts = std::unordered_map<std::string, int32_t>;
using WrittenForms = std::unordered_map<std::string, std::map<std::string, int32_t>>;

// Calls `visit(lowerCaseToken, writtenForm)` for every token of the text:
// runs of 2..30 bytes between separators or camel-case boundaries that are
// not made of digits alone.
void ForEachNameToken(std::string_view text,
                      const std::function<void(const std::string& token, std::string_view written)>& visit);

void SplitNameTokens(TokenCounts& counts, WrittenForms& writtenForms, std::string_view text);
void SplitNameKeywords(TokenCounts& counts, std::string_view text);
bool IsSummaryVocabularyWord(std::string_view word);

std::string FormatFileCount(int count);
void BuildLibrarySummary(LibraryIndex& index);
// Rebuilds `keywords` from every enabled library; clears *keywordsDirty when given.
void BuildKeywordIndex(std::vector<KeywordRecord>& keywords, const std::vector<LibraryIndex>& libraries,
                       uint8_t* keywordsDirty = nullptr);

// The library panel's project-sounds list: groups named after the recipe of
// the first event that used a file ("Unassigned" without one).
struct UsageGroups {
    std::vector<std::string> usageGroupNames;
    std::vector<std::vector<std::string>> usageGroupFiles;
    std::vector<int32_t> usageGroupCounts;
    std::vector<bool> usageGroupChecked;
    std::set<std::string> placedPaths;
    std::map<std::string, int32_t> groupIndexByName;
};
void AddFileToUsageGroup(UsageGroups& groups, const Project& project, const std::string& path,
                         int32_t eventIndex);
