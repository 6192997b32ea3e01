// The lenient and the strict JSON readers, and curves read from JSON.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <clocale>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "document/text_util.h"
#include "persistence/curve_json.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"

namespace {

bool ParseStrict(const std::string& text, ManifestJsonValue* out = nullptr) {
    // A heap copy of exactly the given length, so AddressSanitizer catches any over-read.
    std::vector<char> bytes(text.begin(), text.end());
    ManifestJsonValue value;
    bool ok = ParseManifestJsonText(bytes.data(), bytes.size(), value);
    if (out) *out = value;
    return ok;
}

std::string Nested(int depth, const char* inner) {
    return std::string(static_cast<size_t>(depth), '[') + inner + std::string(static_cast<size_t>(depth), ']');
}

}  // namespace

TEST(LenientJson, ToleratesMissingSeparatorsAndTrailingCommas) {
    JsonValue v = ParseJsonText("{\"a\" 1 \"b\" \"x\" \"c\" true}");
    ASSERT_EQ(v.type, kJsonObject);
    ASSERT_EQ(v.members.size(), 3u);
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "a"), 0), 1);
    EXPECT_EQ(JsonGetMember(v, "b").text, "x");
    EXPECT_TRUE(JsonGetBool(JsonGetMember(v, "c"), false));

    EXPECT_EQ(ParseJsonText("{\"a\":1,}").members.size(), 1u);
    JsonValue spaced = ParseJsonText("{\"a\":1, }");
    ASSERT_EQ(spaced.members.size(), 2u);
    EXPECT_EQ(spaced.members[1].key, "");
    EXPECT_EQ(spaced.members[1].value.type, kJsonNull);
    EXPECT_EQ(ParseJsonText("[1,]").elements.size(), 1u);
    JsonValue arr = ParseJsonText("[1, ]");
    ASSERT_EQ(arr.elements.size(), 2u);
    EXPECT_EQ(arr.elements[1].type, kJsonNull);
}

TEST(LenientJson, DuplicatesStringsAndLiterals) {
    JsonValue v = ParseJsonText("{\"k\":1,\"k\":2}");
    EXPECT_EQ(v.members.size(), 2u);
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "k"), 0), 1);

    EXPECT_EQ(ParseJsonText("\"abc").text, "abc");
    EXPECT_EQ(ParseJsonText("\"\\u00e9\"").text, "\xC3\xA9");
    EXPECT_EQ(ParseJsonText("\"\\b\"").text, "b");
    EXPECT_EQ(ParseJsonText("\"a\\n\\t\\\"\\/\"").text, "a\n\t\"/");
    EXPECT_EQ(ParseJsonText("\"\\u0000x\"").text, std::string("\0x", 2));
    // A short escape swallows the closing quote as a digit counted as 0: U+0120.
    EXPECT_EQ(ParseJsonText("\"\\u12\"").text, "\xC4\xA0");

    JsonValue minus = ParseJsonText("-");
    EXPECT_EQ(minus.type, kJsonNumber);
    EXPECT_EQ(minus.number, 0.0);
    EXPECT_EQ(ParseJsonText("nul").type, kJsonNull);
    EXPECT_EQ(ParseJsonText("tru").type, kJsonNull);
    EXPECT_EQ(ParseJsonText("").type, kJsonNull);
    EXPECT_EQ(ParseJsonText("false").type, kJsonBool);
    EXPECT_EQ(ParseJsonText("1e").number, 1.0);
    EXPECT_EQ(ParseJsonText("-2.5e+3x").number, -2500.0);
}

TEST(LenientJson, NumbersComeOnlyFromTheScannedBytes) {
    EXPECT_EQ(JsonGetFloat(ParseJsonText("-inf"), 7.0f), 0.0f);  // "-" alone is 0
    EXPECT_EQ(JsonGetFloat(ParseJsonText("nan"), 7.0f), 7.0f);   // not a value at all
    EXPECT_EQ(ParseJsonText("0x10").number, 0.0);
    // A value that is not finite counts as missing, so defaults apply.
    JsonValue big = ParseJsonText("{\"a\":1e999,\"b\":1e39,\"c\":1e-999}");
    EXPECT_EQ(JsonGetFloat(JsonGetMember(big, "a"), 3.0f), 3.0f);
    EXPECT_EQ(JsonGetFloat(JsonGetMember(big, "b"), 3.0f), 3.0f);  // too large for a float
    EXPECT_EQ(JsonGetFloat(JsonGetMember(big, "c"), 3.0f), 0.0f);
    // Out of range without an exponent: tiny is zero, huge is missing.
    const std::string tiny = "0." + std::string(340, '0') + "1";
    EXPECT_EQ(ParseJsonText(tiny.c_str()).type, kJsonNumber);
    EXPECT_EQ(ParseJsonText(tiny.c_str()).number, 0.0);
    EXPECT_EQ(ParseJsonText(("-" + std::string(400, '9')).c_str()).type, kJsonNull);
    EXPECT_EQ(ParseJsonText(("1" + std::string(400, '0') + "e-500").c_str()).number, 1e-100);
    EXPECT_EQ(ParseJsonText(("1" + std::string(400, '0') + "e-800").c_str()).number, 0.0);
    ManifestJsonValue m;
    ASSERT_TRUE(ParseStrict("{\"a\":" + tiny + "}", &m));
    EXPECT_EQ(ManifestJsonMember(m, "a")->number, 0.0);
}

TEST(LenientJson, AccessorsChainAndConvert) {
    JsonValue v = ParseJsonText("{\"a\":{\"b\":[2.9,-2.9,true]}}");
    const JsonValue& list = JsonGetMember(JsonGetMember(v, "a"), "b");
    EXPECT_EQ(JsonArraySize(list), 3);
    EXPECT_EQ(JsonGetInt(JsonGetElement(list, 0), 0), 2);
    EXPECT_EQ(JsonGetInt(JsonGetElement(list, 1), 0), -2);
    EXPECT_EQ(JsonGetInt(JsonGetElement(list, 2), 5), 5);       // a bool is never a number
    EXPECT_EQ(JsonGetFloat(JsonGetElement(list, 2), 1.5f), 1.5f);
    EXPECT_FALSE(JsonGetBool(JsonGetElement(list, 0), false));  // nor a number a bool
    EXPECT_EQ(&JsonGetElement(list, 3), &JsonNull());
    EXPECT_EQ(&JsonGetElement(list, -1), &JsonNull());
    EXPECT_EQ(JsonArraySize(v), 0);  // an object has no elements
    EXPECT_EQ(&JsonGetMember(JsonGetMember(v, "x"), "y"), &JsonNull());
    EXPECT_TRUE(JsonHasMember(v, "a"));
    EXPECT_FALSE(JsonHasMember(v, "ab"));
    EXPECT_EQ(JsonGetInt(ParseJsonText("1e12"), 0), INT_MIN);
}

TEST(LenientJson, AlwaysTerminatesOnHostileInput) {
    // Bytes that start no value inside containers close the container.
    EXPECT_EQ(ParseJsonText("{\"a\":1 garbage }").members.size(), 1u);
    EXPECT_EQ(ParseJsonText("[1 2 x 3]").elements.size(), 2u);
    EXPECT_EQ(ParseJsonText("{ ::: }").type, kJsonObject);

    JsonDamage damage;
    std::string deep(100000, '[');
    JsonValue v = ParseJsonText(deep.c_str(), &damage);
    EXPECT_EQ(v.type, kJsonArray);
    EXPECT_EQ(damage.skippedValues, 1);
    EXPECT_FALSE(JsonIntact(damage));
    std::string deepObjects;
    for (int i = 0; i < 20000; ++i) deepObjects += "{\"a\":";
    EXPECT_EQ(ParseJsonText(deepObjects.c_str()).type, kJsonObject);

    // Random and mutated documents, seeded and bounded in time.
    const std::string base =
        "{\"events\":[{\"time\":1.5,\"keywords\":\"glass, -metal\",\"weight\":[0.5,0.25,1e-05]},"
        "{\"pinned\":[\"a\\u00e9\",\"b\"],\"flag\":true,\"n\":null}],\"v\":-12}";
    const char alphabet[] = "{}[]\":,\\-+.eE0123456789 tfnu\"abc";
    std::mt19937 rng(20261207);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int done = 0;
    for (; done < 10000 && std::chrono::steady_clock::now() < deadline; ++done) {
        std::string text;
        if (done % 2 == 0) {
            text = base;
            int edits = 1 + static_cast<int>(rng() % 8);
            for (int e = 0; e < edits && !text.empty(); ++e) {
                size_t at = rng() % text.size();
                switch (rng() % 3) {
                    case 0: text[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
                    case 1: text.erase(at, 1 + rng() % 4); break;
                    default: text.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
                }
            }
        } else {
            size_t len = rng() % 64;
            for (size_t i = 0; i < len; ++i) text.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
        }
        JsonValue parsed = ParseJsonText(text.c_str());
        EXPECT_GE(parsed.type, kJsonNull);
        EXPECT_LE(parsed.type, kJsonObject);
    }
    EXPECT_GE(done, 1000);
}

TEST(LenientJson, ReportsDamageAndKeepsTheSiblingsOfABrokenContainer) {
    // Intact documents, the Part's tolerated forms included, report nothing.
    for (const char* ok : {"{\"a\":[1,2,{\"b\":\"x\"}],\"c\":null}", "{\"a\" 1 \"b\" 2}", "{\"a\":1,}",
                           "{\"a\":1, }", "[1, ]", "[]", "{}", "7", "\"s\"", "nul", ""}) {
        JsonDamage damage;
        ParseJsonText(ok, &damage);
        EXPECT_TRUE(JsonIntact(damage)) << ok << ": " << DescribeJsonDamage(damage);
        EXPECT_EQ(DescribeJsonDamage(damage), "");
    }

    // A byte that starts no value closes its own container only.
    JsonDamage damage;
    JsonValue v = ParseJsonText("{\"a\":[1,{\"b\":x}],\"c\":3}", &damage);
    EXPECT_EQ(damage.endedEarly, 1);
    EXPECT_EQ(damage.endOfText, 0);
    EXPECT_FALSE(JsonIntact(damage));
    EXPECT_NE(DescribeJsonDamage(damage), "");
    const JsonValue& a = JsonGetMember(v, "a");
    ASSERT_EQ(JsonArraySize(a), 2);
    EXPECT_EQ(JsonGetMember(JsonGetElement(a, 1), "b").type, kJsonNull);
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "c"), 0), 3);

    damage = {};
    v = ParseJsonText("{\"a\":[1,.5,3],\"b\":2}", &damage);
    EXPECT_EQ(JsonArraySize(JsonGetMember(v, "a")), 1);
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "b"), 0), 2);
    EXPECT_EQ(damage.endedEarly, 1);

    // Strings and brackets inside the skipped rest do not confuse the skip.
    damage = {};
    v = ParseJsonText("[[1,?,\"]]\\\"]\",[2]],\"after\"]", &damage);
    ASSERT_EQ(JsonArraySize(v), 2);
    EXPECT_EQ(JsonGetElement(v, 1).text, "after");
    EXPECT_EQ(damage.endedEarly, 1);

    // A text cut off inside containers or a string.
    for (const char* cut : {"{\"a\":[1,2", "{\"a\":\"abc", "[", "{", "\"abc", "{\"a\":[1,x"}) {
        damage = {};
        ParseJsonText(cut, &damage);
        EXPECT_GT(damage.endOfText, 0) << cut;
    }

    // Damage accumulates over several values read from one cursor.
    const char* text = "[1,x] {\"a\":";
    const char* cursor = text;
    damage = {};
    ParseJsonValue(cursor, &damage);
    ParseJsonValue(cursor, &damage);
    EXPECT_EQ(damage.endedEarly, 1);
    EXPECT_EQ(damage.endOfText, 1);
}

TEST(LenientJson, DepthLimitSkipsWholeContainersAndKeepsTheirSiblings) {
    auto nested = [](int levels) {
        return "{\"a\":" + std::string(static_cast<size_t>(levels), '[') + "7" +
               std::string(static_cast<size_t>(levels), ']') + ",\"b\":2}";
    };
    // 511 arrays inside the object: the deepest container is at level 512,
    // the limit, and the 7 stays inside it.
    JsonDamage damage;
    JsonValue v = ParseJsonText(nested(511).c_str(), &damage);
    EXPECT_TRUE(JsonIntact(damage));
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "b"), 0), 2);
    const JsonValue* level = &JsonGetMember(v, "a");
    for (int i = 1; i < 511; ++i) {
        ASSERT_EQ(JsonArraySize(*level), 1) << i;
        level = &JsonGetElement(*level, 0);
    }
    ASSERT_EQ(JsonArraySize(*level), 1);
    EXPECT_EQ(JsonGetInt(JsonGetElement(*level, 0), 0), 7);

    // One level more: the innermost array is skipped whole and reads as null;
    // everything around it keeps its place.
    damage = {};
    v = ParseJsonText(nested(512).c_str(), &damage);
    EXPECT_EQ(damage.skippedValues, 1);
    EXPECT_EQ(damage.endedEarly, 0);
    EXPECT_EQ(JsonGetInt(JsonGetMember(v, "b"), 0), 2);
    level = &JsonGetMember(v, "a");
    for (int i = 1; i < 512; ++i) level = &JsonGetElement(*level, 0);
    EXPECT_EQ(level->type, kJsonNull);
}

TEST(JsonStrings, SurrogatePairsBecomeOneCharacter) {
    const std::string grin = "\xF0\x9F\x98\x80";  // U+1F600
    JsonValue v = ParseJsonText("\"\\ud83d\\ude00\"");
    EXPECT_EQ(v.text, grin);
    EXPECT_EQ(ParseJsonText("\"a\\uD83D\\uDE00b\"").text, "a" + grin + "b");
    // Valid UTF-8: it converts to UTF-16 and back unchanged, with no replacement.
    EXPECT_EQ(WideToUtf8(Utf8ToWide(v.text)), v.text);
    EXPECT_EQ(Utf8ToWide(v.text).size(), 2u);

    // Written back and read again, the text stays the same.
    JsonWriter w;
    JsonWriteString(w, v.text);
    EXPECT_EQ(w.out, "\"" + grin + "\"");
    EXPECT_EQ(ParseJsonText(w.out.c_str()).text, grin);

    // A half without its partner is a question mark, and what follows it is
    // read as usual.
    EXPECT_EQ(ParseJsonText("\"\\ud83dx\"").text, "?x");
    EXPECT_EQ(ParseJsonText("\"\\ude00\"").text, "?");
    EXPECT_EQ(ParseJsonText("\"\\ud83d\\u00e9\"").text, "?\xC3\xA9");
    EXPECT_EQ(ParseJsonText("\"\\ud83d\\ud83d\\ude00\"").text, "?" + grin);
    EXPECT_EQ(ParseJsonText("\"\\ud83d").text, "?");

    // The strict reader agrees on pairs and on lone halves.
    ManifestJsonValue m;
    ASSERT_TRUE(ParseStrict("{\"s\":\"\\ud83d\\ude00 \\ud800 \\udc00\\ud83d\"}", &m));
    EXPECT_EQ(ManifestJsonMember(m, "s")->text, grin + " ? ??");
    EXPECT_FALSE(ParseStrict("{\"s\":\"\\ud83d\\ude0\"}"));
}

TEST(StrictJson, DepthLimitAndSyntaxErrors) {
    std::string at32 = "{\"a\":" + Nested(31, "") + "}";
    EXPECT_TRUE(ParseStrict(at32));
    std::string at33 = "{\"a\":" + Nested(32, "") + "}";
    EXPECT_FALSE(ParseStrict(at33));
    EXPECT_FALSE(ParseStrict("{\"a\":" + Nested(31, "1") + "}"));  // the 1 sits at level 33

    EXPECT_FALSE(ParseStrict("{\"a\":1,}"));
    EXPECT_FALSE(ParseStrict("{\"a\":[1,]}"));
    EXPECT_FALSE(ParseStrict("{\"a\" 1}"));
    EXPECT_FALSE(ParseStrict("{a:1}"));
    EXPECT_FALSE(ParseStrict("{\"a\":\"\\u12\"}"));
    EXPECT_FALSE(ParseStrict("{\"a\":\"abc"));
    EXPECT_FALSE(ParseStrict("{\"a\":\"abc\\"));
    EXPECT_FALSE(ParseStrict("{\"a\":1"));
    EXPECT_FALSE(ParseStrict("[1]"));  // the manifest must be an object
    EXPECT_FALSE(ParseStrict(""));
    EXPECT_FALSE(ParseStrict("{\"a\":0x10}"));
    EXPECT_FALSE(ParseStrict("{\"a\":nan}"));
    EXPECT_FALSE(ParseStrict("{\"a\":-inf}"));
    EXPECT_FALSE(ParseStrict("{\"a\":1e999}"));
}

TEST(StrictJson, ValuesEscapesAndLookups) {
    ManifestJsonValue v;
    ASSERT_TRUE(ParseStrict(
        "{\"schemaVersion\": 1, \"a\": +1.5, \"b\": .5, \"s\": \"x\\ud800y\\u00e9\\b\\/\", "
        "\"t\": true, \"f\": false, \"n\": null, \"list\": [1, \"two\", {}]} trailing",
        &v));
    ASSERT_NE(ManifestJsonMember(v, "a"), nullptr);
    EXPECT_EQ(ManifestJsonMember(v, "a")->number, 1.5);
    EXPECT_EQ(ManifestJsonMember(v, "b")->number, 0.5);
    EXPECT_EQ(ManifestJsonMember(v, "s")->text, "x?y\xC3\xA9\b/");
    EXPECT_TRUE(ManifestJsonMember(v, "t")->flag);
    EXPECT_EQ(ManifestJsonMember(v, "n")->type, kJsonNull);
    EXPECT_EQ(ManifestJsonMember(v, "list")->elements.size(), 3u);
    EXPECT_EQ(ManifestJsonMember(v, "missing"), nullptr);
    EXPECT_EQ(ManifestJsonMember(*ManifestJsonMember(v, "list"), "x"), nullptr);

    // Truncated at every length: never reads past what it was given.
    const std::string full = "{\"releases\":[{\"version\":\"2026.9\",\"files\":{\"linux\":\"u\"}}]}";
    for (size_t n = 0; n < full.size(); ++n) EXPECT_FALSE(ParseStrict(full.substr(0, n))) << n;
    EXPECT_TRUE(ParseStrict(full));
}

TEST(CurveJson, ReadsNumbersAndDefaultsTheRest) {
    Curve256 c;
    c.fill(0.9f);
    ReadCurveJson(ParseJsonText("[0,1,2,3,4,5,6,7,8,9]"), c);
    EXPECT_EQ(c[9], 9.0f);
    EXPECT_EQ(c[10], 0.9f);
    ReadCurveJson(ParseJsonText("[\"x\", null, 0.25, 1e999]"), c);
    EXPECT_EQ(c[0], 0.5f);
    EXPECT_EQ(c[1], 0.5f);
    EXPECT_EQ(c[2], 0.25f);
    EXPECT_EQ(c[3], 0.5f);
    ReadCurveJson(ParseJsonText("{}"), c);
    for (float v : c) EXPECT_EQ(v, 0.5f);
    std::string longArray = "[";
    for (int i = 0; i < 300; ++i) longArray += (i ? ",1" : "1");
    longArray += "]";
    ReadCurveJson(ParseJsonText(longArray.c_str()), c);
    EXPECT_EQ(c[255], 1.0f);
}

TEST(LenientJson, DecimalCommaLocaleDoesNotChangeNumbers) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8"))
        GTEST_SKIP() << "no decimal-comma locale installed";
    JsonValue v = ParseJsonText("[1.25, 2e-3]");
    ManifestJsonValue m;
    bool strictOk = ParseStrict("{\"a\": 0.75}", &m);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(v.elements[0].number, 1.25);
    EXPECT_EQ(v.elements[1].number, 0.002);
    ASSERT_TRUE(strictOk);
    EXPECT_EQ(ManifestJsonMember(m, "a")->number, 0.75);
}
