// recipe_naming.cpp — the descriptive names proposed for a recipe or a bounce.
//
// Index
//   Word helpers        ASCII case, cutting between whole characters with "…", word lists
//   Recipe names        the first name no recipe has
//   Bed name            two words from the layer files' names
//   Tone word and noun  the general name's two halves
//   AutoNameEvent
#include "recipes/recipe_naming.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "document/shortened_text.h"
#include "document/text_util.h"
#include "library/search_query.h"
#include "platform/file_util.h"
#include "recipes/event_preset.h"
#include "recipes/preset_json.h"

namespace {

// ---- Word helpers -----------------------------------------------------------

// Lengths of names and words count characters (code points), as every
// name of the program does, never bytes.
constexpr size_t kAutoNameMax = 63;

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

size_t Length(std::string_view text) { return CodePointCount(text); }

// At most `maxChars` characters, the "…" included: cut by the one rule,
// between whole characters as a reader sees them (a letter keeps its
// accent, a Thai consonant its vowel).
std::string CutText(std::string_view text, size_t maxChars) {
    return ShortenedText(text, [&](const std::string& s) { return Length(s) <= maxChars; });
}

// First letter upper case, the rest lower case (ASCII letters only).
std::string TitleWord(std::string_view word, size_t maxChars) {
    std::string out = CutText(ToLowerCopy(word), maxChars);
    if (!out.empty()) out[0] = UpperAscii(out[0]);
    return out;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return ToLowerCopy(a) == ToLowerCopy(b); }

bool InWordList(std::string_view word, std::initializer_list<const char*> list) {
    for (const char* w : list)
        if (EqualsIgnoringCase(word, w)) return true;
    return false;
}

// The tokens of `text` between any of `separators`, empty ones skipped.
std::vector<std::string_view> SplitAtAny(std::string_view text, const char* separators) {
    std::vector<std::string_view> tokens;
    size_t i = 0;
    while (i < text.size()) {
        const size_t end = std::min(text.find_first_of(separators, i), text.size());
        if (end > i) tokens.push_back(text.substr(i, end - i));
        i = end + 1;
    }
    return tokens;
}

void AppendWord(std::string& text, std::string_view word) {
    if (!text.empty()) text += ' ';
    text += word;
}


// ---- Recipe names -------------------------------------------------------------

bool RecipeHasName(const std::vector<EventPreset>& recipes, std::string_view name) {
    for (const EventPreset& r : recipes)
        if (TextFieldView(r.name) == name) return true;
    return false;
}

// `base`, else "base 2" .. "base 99" (each within the name's length), the
// first that no recipe has; false when all are taken.
bool FreeRecipeName(const std::vector<EventPreset>& recipes, const std::string& base, std::string& out) {
    const std::string plain = CutText(base, kAutoNameMax);
    if (!RecipeHasName(recipes, plain)) {
        out = plain;
        return true;
    }
    for (int n = 2; n <= 99; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof(suffix), " %d", n);
        const std::string numbered = CutText(base, kAutoNameMax - std::strlen(suffix)) + suffix;
        if (!RecipeHasName(recipes, numbered)) {
            out = numbered;
            return true;
        }
    }
    return false;
}

// ---- Bed name -------------------------------------------------------------------

// Up to two words from the layer files' names, "" when none qualifies.
std::string BedWords(const Event& bed) {
    std::string words;
    int kept = 0;
    for (const std::string& file : bed.pinnedFiles) {
        if (kept >= 2) break;
        std::string stem = FileNameOf(file);
        const size_t dot = stem.rfind('.');
        if (dot != std::string::npos) stem.resize(dot);
        stem = CutText(stem, 95);
        for (std::string_view token : SplitAtAny(stem, " _-.,()[]")) {
            if (kept >= 2) break;
            if (Length(token) < 3 || token.find_first_of("0123456789") != std::string_view::npos) continue;
            if (InWordList(token, {"loop", "lp", "st", "mono", "stereo", "mix", "final", "take", "edit", "master",
                                   "wav", "seamless", "long", "short"}))
                continue;
            const std::string word = TitleWord(token, 31);
            if (words.find(word) != std::string::npos) continue;
            if (Length(words) + 1 + Length(word) >= 59) continue;
            AppendWord(words, word);
            ++kept;
        }
    }
    return words;
}

// ---- Tone word and noun ---------------------------------------------------------

const char* ToneWord(const Event& event) {
    float sum = 0, lo = 1, hi = 0;
    for (float w : event.weight) {
        float v = event.weightOffset + w;
        v = std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
        sum += v;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    if (hi - lo > 0.15f) return "Dynamic";
    const float mean = sum / float(event.weight.size());
    if (mean < 0.15f) return "Sub";
    if (mean < 0.3f) return "Deep";
    if (mean < 0.45f) return "Heavy";
    if (mean < 0.6f) return "Body";
    if (mean < 0.75f) return "Bright";
    return "Air";
}

std::string NounFromKeywords(std::string_view keywords) {
    std::string noun;
    int words = 0;
    WalkKeywordTokens(keywords, [&](std::string_view token) {
        // "door/gate": the first of the alternatives names it.
        const std::string word = TitleWord(token.substr(0, token.find('/')), 30);
        if (!word.empty() && Length(noun) + 1 + Length(word) < 62) {
            AppendWord(noun, word);
            ++words;
        }
        return words < 2;
    });
    return noun;
}

bool UsableFilter(std::string_view filter) { return !filter.empty() && filter != "~none~"; }

// The category whose keywords cover the most of the filter's text.
std::string NounFromCategory(std::string_view filter) {
    const std::string lower = ToLowerCopy(filter);
    int best = -1;
    size_t bestTotal = 0;
    for (int c = 0; c < kUcsCategoryCount; ++c) {
        size_t total = 0;
        for (std::string_view keyword : SplitAtAny(kUcsCategories[c].keywords, "|"))
            if (lower.find(keyword) != std::string::npos) total += keyword.size();
        if (best < 0 || total > bestTotal) {
            best = c;
            bestTotal = total;
        }
    }
    return best >= 0 && bestTotal >= 3 ? kUcsCategories[best].categoryName : "";
}

std::string NounFromRecipeName(std::string_view presetName) {
    for (const char* tone : {"Sub ", "Deep ", "Heavy ", "Body ", "Bright ", "Air ", "Dynamic "}) {
        if (presetName.substr(0, std::strlen(tone)) == tone) {
            presetName.remove_prefix(std::strlen(tone));
            break;
        }
    }
    return CutText(presetName, kAutoNameMax);
}

std::string NounFromFilterWords(std::string_view filter) {
    std::string_view longest;
    const std::string head = CutText(filter, 127);
    for (std::string_view word : SplitAtAny(head, " _-/,.")) {
        if (Length(word) < 3 || InWordList(word, {"SFX", "FX", "Sound", "Sounds", "Audio", "The", "Pro", "HD",
                                                  "Library", "Pack", "Series", "Vol", "Volume", "Edition"}))
            continue;
        if (Length(word) > Length(longest)) longest = word;
    }
    return TitleWord(longest, Length(longest));
}

std::string Noun(const Event& event) {
    std::string noun = NounFromKeywords(TextFieldView(event.keywords));
    const std::string_view filter = TextFieldView(event.libFilter);
    if (noun.empty() && UsableFilter(filter)) noun = NounFromCategory(filter);
    if (noun.empty()) noun = NounFromRecipeName(TextFieldView(event.presetName));
    if (noun.empty() && UsableFilter(filter)) noun = NounFromFilterWords(filter);
    if (noun.empty()) noun = EventAutoNameShape(std::clamp(int(event.shape), 0, kShapeCount - 1));
    return noun;
}

}  // namespace

// ---------------------------------------------------------------------------
// AutoNameEvent
// ---------------------------------------------------------------------------

std::string AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes) {
    std::string name;
    if (event.shape == kShapeBed && !event.pinnedFiles.empty()) {
        const std::string words = BedWords(event);
        if (!words.empty() && FreeRecipeName(recipes, words + " Bed", name)) return name;
    }
    const std::string general = std::string(ToneWord(event)) + " " + Noun(event);
    if (FreeRecipeName(recipes, general, name)) return name;
    return CutText(general, kAutoNameMax);
}

void AutoNameEvent(const Event& event, const std::vector<EventPreset>& recipes, char* out, size_t outSize) {
    if (!out || outSize == 0) return;
    // A field too small for the name gets it cut by the same rule, with "…".
    CopyTextField(out, outSize, NameForField(AutoNameEvent(event, recipes), outSize));
}
