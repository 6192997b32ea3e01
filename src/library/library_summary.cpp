// library_summary.cpp — word splitting, summaries and the keyword index.
//
// Index
//   vocabulary        the fixed word table of summaries
//   splitter          ForEachNameToken and its two users
//   summary           FormatFileCount, BuildLibrarySummary
//   keyword index     BuildKeywordIndex
//   usage groups      AddFileToUsageGroup
#include "library/library_summary.h"

#include <algorithm>
#include <cstdlib>
#include <cstdio>
#include <unordered_set>

#include "document/project.h"
#include "library/sound_library.h"

// ---------------------------------------------------------------------------
// Vocabulary
// ---------------------------------------------------------------------------

namespace {

const char* const kSummaryWords[] = {
    "ambience", "ambient", "atmos", "room", "space", "outdoor", "indoor", "city", "nature", "crash",
    "smash", "shatter", "break", "glass", "ceramic", "collapse", "design", "synth", "processed",
    "morph", "texture", "pad", "drone", "tone", "abstract", "explosion", "explode", "boom", "blast",
    "detonate", "bomb", "fire", "flame", "burn", "torch", "ignite", "ember", "foley", "footstep",
    "cloth", "body", "movement", "rustle", "gun", "shot", "rifle", "pistol", "shotgun", "bullet",
    "muzzle", "firearm", "hit", "impact", "punch", "slam", "thud", "thump", "knock", "strike",
    "stomp", "kick", "mechanical", "machine", "motor", "engine", "gear", "hydraulic", "servo",
    "robot", "metal", "clang", "ring", "scrape", "grind", "chain", "iron", "steel", "whoosh",
    "swoosh", "swish", "flyby", "passby", "rush", "wind", "gust", "sweep", "scifi", "laser", "zap",
    "beam", "plasma", "energy", "electric", "spark", "strain", "creak", "stress", "tension", "bend",
    "warp", "water", "splash", "drip", "rain", "ocean", "wave", "stream", "pour", "bubble", "wood",
    "timber", "branch", "crack", "snap", "plank", "door", "hinge", "latch", "lock", "handle",
    "alarm", "bell", "buzz", "click", "beep", "siren", "rock", "stone", "gravel", "dirt", "sand",
    "debris", "thunder", "lightning", "storm", "hail", "ice", "frost", "freeze", "crystal", "air",
    "hiss", "pressure", "vent", "valve", "steam", "gas", "vehicle", "car", "truck", "train",
    "helicopter", "airplane", "boat", "ship", "animal", "bird", "dog", "cat", "horse", "insect",
    "creature", "voice", "scream", "whisper", "breath", "growl", "roar", "sword", "blade", "knife",
    "weapon", "arrow", "shield", "magic", "spell", "shimmer", "glow", "portal", "heal", "ui",
    "interface", "notification", "alert", "confirm", "cancel", "scroll", "cloth", "leather",
    "fabric", "zipper", "velcro", "paper", "cardboard", "page", "tear", "crumple", "rope", "cable",
    "wire", "spring", "rubber", "transition", "riser", "drop", "swell", "stinger", "sting", "whomp",
    "sub", "dark", "bright", "heavy", "light", "deep", "sharp", "soft", "hard", "wet", "dry",
    "warm", "cold", "thin", "thick", "tight", "loose", "fast", "slow", "long", "short", "big",
    "small", "large", "tiny", nullptr,
};

const std::unordered_set<std::string>& SummaryVocabulary() {
    static const std::unordered_set<std::string> kSet = [] {
        std::unordered_set<std::string> s;
        for (const char* const* w = kSummaryWords; *w; ++w) s.insert(*w);
        return s;
    }();
    return kSet;
}

inline bool IsSeparator(char c) {
    switch (c) {
        case ' ': case '(': case ')': case ',': case '-': case '.': case '/': case ';':
        case '[': case '\\': case ']': case '_': case '\0':
            return true;
        default:
            return false;
    }
}
inline bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
inline bool IsUpper(char c) { return c >= 'A' && c <= 'Z'; }

// Calls emit(begin, end) for every candidate between boundaries.
template <class Emit>
void ForEachCandidate(std::string_view text, Emit&& emit) {
    size_t start = 0;
    const size_t n = text.size();
    for (size_t i = 0; i <= n; ++i) {
        if (i == n || IsSeparator(text[i])) {
            if (i > start) emit(start, i);
            start = i + 1;
            if (i < n && text[i] == '\0') return;  // a NUL ends the text
        } else if (i > start && IsLower(text[i - 1]) && IsUpper(text[i])) {
            emit(start, i);
            start = i;
        }
    }
}

// Lower-cases a candidate into `token`; false when it is no token.
bool MakeToken(std::string_view candidate, std::string& token) {
    if (candidate.size() < 2 || candidate.size() > 30) return false;
    bool allDigits = true;
    token.assign(candidate);
    for (char& c : token) {
        if (c < '0' || c > '9') allDigits = false;
        if (IsUpper(c)) c = static_cast<char>(c - 'A' + 'a');
    }
    return !allDigits;
}

}  // namespace

bool IsSummaryVocabularyWord(std::string_view word) {
    return SummaryVocabulary().count(std::string(word)) != 0;
}

// ---------------------------------------------------------------------------
// Splitter
// ---------------------------------------------------------------------------

void ForEachNameToken(std::string_view text,
                      const std::function<void(const std::string&, std::string_view)>& visit) {
    std::string token;
    ForEachCandidate(text, [&](size_t b, size_t e) {
        std::string_view candidate = text.substr(b, e - b);
        if (MakeToken(candidate, token)) visit(token, candidate);
    });
}

void SplitNameTokens(TokenCounts& counts, WrittenForms& writtenForms, std::string_view text) {
    std::string token;
    ForEachCandidate(text, [&](size_t b, size_t e) {
        std::string_view candidate = text.substr(b, e - b);
        if (!MakeToken(candidate, token)) return;
        ++counts[token];
        ++writtenForms[token][std::string(candidate)];
    });
}

void SplitNameKeywords(TokenCounts& counts, std::string_view text) {
    const auto& vocabulary = SummaryVocabulary();
    std::string token;
    ForEachCandidate(text, [&](size_t b, size_t e) {
        if (MakeToken(text.substr(b, e - b), token) && vocabulary.count(token)) ++counts[token];
    });
}

// ---------------------------------------------------------------------------
// Summary
// ---------------------------------------------------------------------------

std::string FormatFileCount(int n) {
    char buf[48];
    if (n < 1000) std::snprintf(buf, sizeof buf, "%d", n);
    else if (n < 1000000) std::snprintf(buf, sizeof buf, "%d,%03d", n / 1000, n % 1000);
    else std::snprintf(buf, sizeof buf, "%d,%03d,%03d", n / 1000000, (n / 1000) % 1000, n % 1000);
    return std::string(buf) + " files";
}

void BuildLibrarySummary(LibraryIndex& index) {
    index.summary.clear();
    const int n = static_cast<int>(index.entries.size());
    if (n == 0) return;
    std::string summary = FormatFileCount(n);

    // Spectral character from the mean band energies.
    double m[5] = {0, 0, 0, 0, 0};
    for (const LibraryEntry& e : index.entries)
        for (int b = 0; b < 5; ++b) m[b] += e.bandEnergy[b];
    for (double& v : m) v /= n;
    const double largest = *std::max_element(m, m + 5);
    if (largest > 1e-6) {
        static const char* const kBandWords[5] = {"sub-heavy", "low-end", "mid-range", "bright", "airy"};
        for (double& v : m) v /= largest;
        if (*std::min_element(m, m + 5) > 0.7) {
            summary += " \xC2\xB7 balanced";
        } else {
            int d = static_cast<int>(std::max_element(m, m + 5) - m);  // lowest index wins ties
            summary += " \xC2\xB7 ";
            summary += kBandWords[d];
            for (int i = 0; i < 5; ++i) {
                if (i != d && m[i] > 0.6 && std::abs(i - d) > 1) {
                    summary += " and ";
                    summary += kBandWords[i];
                    break;
                }
            }
        }
    }

    // Envelope character.
    std::pair<const char*, int> env[3] = {{"transient", 0}, {"medium", 0}, {"sustained", 0}};
    for (const LibraryEntry& e : index.entries) {
        if (e.duration < 0.5f) ++env[0].second;
        else if (e.duration < 3.0f) ++env[1].second;
        else ++env[2].second;
    }
    const int order[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (const auto& o : order)
        if (env[o[1]].second > env[o[0]].second) std::swap(env[o[0]], env[o[1]]);
    if (env[0].second > 0) {
        summary += " \xC2\xB7 ";
        if (static_cast<double>(env[0].second) / n > 0.65) summary += "mostly ";
        summary += env[0].first;
        if (static_cast<double>(env[1].second) / n > 0.25) {
            summary += ", ";
            summary += env[1].first;
        }
    }

    // Most frequent sound words; equal counts in alphabetical order.
    TokenCounts counts;
    for (const LibraryEntry& e : index.entries) {
        SplitNameKeywords(counts, e.name);
        if (!e.description.empty()) SplitNameKeywords(counts, e.description);
    }
    index.keywordsText.clear();
    if (!counts.empty()) {
        std::vector<std::pair<std::string, int32_t>> pairs(counts.begin(), counts.end());
        const size_t top = std::min<size_t>(4, pairs.size());
        std::partial_sort(pairs.begin(), pairs.begin() + static_cast<long>(top), pairs.end(),
                          [](const auto& a, const auto& b) {
                              return a.second != b.second ? a.second > b.second : a.first < b.first;
                          });
        const int minCount = std::max(n / 20, 2);
        if (pairs[0].second >= minCount) {
            for (size_t i = 0; i < top && pairs[i].second >= minCount; ++i) {
                if (i) index.keywordsText += ", ";
                index.keywordsText += pairs[i].first;
            }
            summary += " \xC2\xB7 ";
            summary += index.keywordsText;
        }
    }
    index.summary = std::move(summary);
}

// ---------------------------------------------------------------------------
// Keyword index
// ---------------------------------------------------------------------------

namespace {

struct TokenStats {
    int32_t count = 0;
    std::vector<std::pair<std::string, int32_t>> forms;  // few per token: a flat list is fastest
};

void AddTokens(std::unordered_map<std::string, TokenStats>& table, std::string_view text, std::string& token) {
    ForEachCandidate(text, [&](size_t b, size_t e) {
        std::string_view candidate = text.substr(b, e - b);
        if (!MakeToken(candidate, token)) return;
        TokenStats& s = table[token];
        ++s.count;
        for (auto& f : s.forms) {
            if (f.first == candidate) {
                ++f.second;
                return;
            }
        }
        s.forms.emplace_back(std::string(candidate), 1);
    });
}

}  // namespace

void BuildKeywordIndex(std::vector<KeywordRecord>& keywords, const std::vector<LibraryIndex>& libraries,
                       uint8_t* keywordsDirty) {
    std::unordered_map<std::string, TokenStats> table;
    table.reserve(32768);
    std::string token;
    for (const LibraryIndex& library : libraries) {
        if (!library.enabled) continue;
        for (const LibraryEntry& entry : library.entries) {
            AddTokens(table, entry.name, token);
            // The file name, its folder and the folder above.
            std::string_view rest = entry.path;
            for (int k = 0; k < 3; ++k) {
                size_t slash = rest.rfind('/');
                if (slash == std::string_view::npos) break;
                if (slash + 1 < rest.size()) AddTokens(table, rest.substr(slash + 1), token);
                rest = rest.substr(0, slash);
            }
            AddTokens(table, entry.description, token);
        }
    }
    keywords.clear();
    keywords.reserve(table.size());
    for (auto& [tok, stats] : table) {
        KeywordRecord r;
        r.token = tok;
        r.count = stats.count;
        const std::pair<std::string, int32_t>* best = nullptr;
        for (const auto& f : stats.forms)
            if (!best || f.second > best->second || (f.second == best->second && f.first < best->first)) best = &f;
        if (best) r.display = best->first;
        keywords.push_back(std::move(r));
    }
    std::sort(keywords.begin(), keywords.end(),
              [](const KeywordRecord& a, const KeywordRecord& b) { return a.token < b.token; });
    if (keywordsDirty) *keywordsDirty = 0;
}

// ---------------------------------------------------------------------------
// Usage groups
// ---------------------------------------------------------------------------

void AddFileToUsageGroup(UsageGroups& groups, const Project& project, const std::string& path,
                         int32_t eventIndex) {
    if (path.empty() || !groups.placedPaths.insert(path).second) return;
    std::string name = "Unassigned";
    if (eventIndex >= 0 && eventIndex < static_cast<int32_t>(project.events.size()) &&
        project.events[static_cast<size_t>(eventIndex)].presetName[0] != '\0') {
        name = project.events[static_cast<size_t>(eventIndex)].presetName;
    }
    auto it = groups.groupIndexByName.find(name);
    int32_t index;
    if (it == groups.groupIndexByName.end()) {
        index = static_cast<int32_t>(groups.usageGroupNames.size());
        groups.usageGroupNames.push_back(name);
        groups.usageGroupFiles.emplace_back();
        groups.usageGroupCounts.push_back(0);
        groups.usageGroupChecked.push_back(true);
        groups.groupIndexByName.emplace(name, index);
    } else {
        index = it->second;
    }
    groups.usageGroupFiles[static_cast<size_t>(index)].push_back(path);
    ++groups.usageGroupCounts[static_cast<size_t>(index)];
}
