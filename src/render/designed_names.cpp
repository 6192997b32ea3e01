// designed_names.cpp — catalogue-style names for designed layers.
//
// Index
//   FirstNameToken       first word of a name
//   UniqueDesignedName   category + title + layer number
#include "render/designed_names.h"

#include <cstdio>

#include "library/search_query.h"

namespace {

bool IsNameSeparator(char c) { return c == '_' || c == '-' || c == '.' || c == ' '; }

}  // namespace

std::string FirstNameToken(const std::string& name) {
    std::string word;
    for (char c : name) {
        if (IsNameSeparator(c)) {
            if (!word.empty()) break;  // leading separators are skipped
            continue;
        }
        word.push_back(c);
    }
    if (word.empty()) word = "Sound";
    return word;
}

std::string UniqueDesignedName(const std::vector<SearchTerm>& terms, const std::string& firstName,
                               const std::string& secondName, int index) {
    std::string category = GuessUcsCategory(terms);

    // Title from the query, in the designer's own words and case; only the
    // first letter of each word is raised, so "sciFi" reads "SciFi".
    std::string title;
    for (const SearchTerm& term : terms) {
        if (term.mode == kSearchExcluded) continue;
        if (!title.empty()) title.push_back(' ');
        std::string word = term.text;
        if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 'a' + 'A');
        title += word;
    }

    // Without a usable query the sources name the layer.
    if (title.empty()) {
        title = FirstNameToken(firstName);
        if (!secondName.empty()) {
            std::string second = FirstNameToken(secondName);
            if (second != title) {
                title.push_back(' ');
                title += second;
            }
        }
        title += " Designed";
    }

    char number[32];
    std::snprintf(number, sizeof number, "_%02lld", static_cast<long long>(index) + 1);
    return category + "_" + title + number;
}
