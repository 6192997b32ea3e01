// The JSON writer's exact layout, number forms and round trips.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "persistence/json_value.h"
#include "persistence/json_writer.h"

TEST(JsonWriterLayout, KeysObjectsAndLists) {
    JsonWriter w;
    JsonBeginObject(w);
    JsonWriteInt(w, "a", 1);
    JsonWriteBool(w, "b", false);
    EXPECT_EQ(w.out, "\n{\n  \"a\": 1,\n  \"b\": false");

    JsonWriteKey(w, "obj");
    JsonBeginObject(w);
    JsonWriteInt(w, "x", -7);
    JsonEndObject(w);
    JsonWriteKey(w, "empty");
    JsonBeginArray(w);
    JsonEndArray(w);
    JsonWriteFlatStringList(w, "flat", {"p", "q"});
    JsonWriteFlatStringList(w, "none", {});
    JsonWriteNumberList(w, "nums", {0.5f, 48000.0f});
    JsonWriteRowList(w, "rows", {"[1,2]", "[3,4]"});
    JsonEndObject(w);
    EXPECT_EQ(w.out,
              "\n{\n  \"a\": 1,\n  \"b\": false,\n  \"obj\": \n  {\n    \"x\": -7\n  },"
              "\n  \"empty\": \n  [\n  ],"
              "\n  \"flat\": [\n  \"p\",\n  \"q\"\n],"
              "\n  \"none\": [\n],"
              "\n  \"nums\": \n  [\n    0.5,\n    48000\n  ],"
              "\n  \"rows\": [\n    [1,2],\n    [3,4]\n  ]"
              "\n}");
}

TEST(JsonWriterLayout, StringEscapesAndCurves) {
    JsonWriter w;
    JsonWriteString(w, std::string("a\"b\\c\nd\re\tf\x01g\x7F", 14));
    EXPECT_EQ(w.out, "\"a\\\"b\\\\c\\nd\\re\\tf\\u0001g\x7F\"");
    w.out.clear();
    JsonWriteString(w, "Tür \xF0\x9F\x8E\xB5");
    EXPECT_EQ(w.out, "\"Tür \xF0\x9F\x8E\xB5\"");
    w.out.clear();
    JsonWriteString(w, "");
    EXPECT_EQ(w.out, "\"\"");

    std::array<float, 256> curve{};
    curve[0] = 0.123456f;
    curve[1] = 1.0f;
    curve[2] = std::numeric_limits<float>::quiet_NaN();
    JsonWriter c;
    JsonWriteCurve(c, "weight", curve);
    // Points that four digits hold keep that form; others are written whole.
    EXPECT_EQ(c.out.rfind("\n\"weight\": [0.123456,1,null,0,0", 0), 0u);
    EXPECT_EQ(c.out.find('\n', 1), std::string::npos);  // one line
    EXPECT_EQ(c.out.back(), ']');
}

TEST(JsonWriterNumbers, ShortFormUnlessPrecisionWouldBeLost) {
    EXPECT_EQ(FormatJsonNumber(0.1f), "0.1");
    EXPECT_EQ(FormatJsonNumber(48000.0f), "48000");
    EXPECT_EQ(FormatJsonNumber(0.0001f), "0.0001");
    EXPECT_EQ(FormatJsonNumber(1e-05f), "1e-05");
    EXPECT_EQ(FormatJsonNumber(-100.0f), "-100");
    EXPECT_EQ(FormatJsonNumber(1e20f), "1e+20");
    EXPECT_EQ(FormatJsonNumber(std::numeric_limits<float>::infinity()), "null");
    EXPECT_EQ(FormatJsonNumber(std::nanf("")), "null");
    // Event times past 1000 s keep sample accuracy across a save.
    for (float t : {1234.5677f, 3599.99f, 86399.98f, 1000.0001f}) {
        std::string text = FormatJsonNumber(t);
        EXPECT_EQ(static_cast<float>(ParseJsonText(text.c_str()).number), t) << text;
    }
    JsonWriter w;
    JsonWriteNumber(w, "x", std::numeric_limits<float>::infinity());
    EXPECT_EQ(w.out, "\n\"x\": null");
}

TEST(JsonWriterNumbers, HexHashes) {
    EXPECT_EQ(U64ToHex(255), "00000000000000ff");
    EXPECT_EQ(U64ToHex(0x8B1FA7EA7DE3EABEull), "8b1fa7ea7de3eabe");
    EXPECT_EQ(HexToU64(""), 0u);
    EXPECT_EQ(HexToU64("00000000000000ff"), 255u);
    EXPECT_EQ(HexToU64("FFzz"), 255u);
    EXPECT_EQ(HexToU64(U64ToHex(0x47FE0D7EAF8E51E3ull)), 0x47FE0D7EAF8E51E3ull);
}

TEST(JsonRoundTrip, WriteParseWriteIsIdentical) {
    auto writeDocument = [](const JsonValue* source) {
        JsonWriter w;
        JsonBeginObject(w);
        if (!source) {
            JsonWriteStringMember(w, "name", "Hit \"one\"\n\x02 é");
            JsonWriteNumber(w, "time", 1234.5677f);
            JsonWriteNumber(w, "gain", 0.1f);
            JsonWriteInt(w, "shape", -3);
            JsonWriteBool(w, "locked", true);
            JsonWriteStringList(w, "files", {"/a/b.wav", "c\\d.wav"});
            JsonWriteNumberList(w, "levels", {1e-05f, 3.0f});
            std::array<float, 256> curve{};
            for (int i = 0; i < 256; ++i) curve[i] = static_cast<float>(i) / 255.0f;
            JsonWriteCurve(w, "weight", curve);
            JsonWriteKey(w, "nested");
            JsonBeginObject(w);
            JsonWriteKey(w, "empty");
            JsonBeginArray(w);
            JsonEndArray(w);
            JsonEndObject(w);
        } else {
            const JsonValue& s = *source;
            JsonWriteStringMember(w, "name", JsonGetMember(s, "name").text);
            JsonWriteNumber(w, "time", JsonGetFloat(JsonGetMember(s, "time"), 0));
            JsonWriteNumber(w, "gain", JsonGetFloat(JsonGetMember(s, "gain"), 0));
            JsonWriteInt(w, "shape", JsonGetInt(JsonGetMember(s, "shape"), 0));
            JsonWriteBool(w, "locked", JsonGetBool(JsonGetMember(s, "locked"), false));
            std::vector<std::string> files;
            for (const JsonValue& f : JsonGetMember(s, "files").elements) files.push_back(f.text);
            JsonWriteStringList(w, "files", files);
            std::vector<float> levels;
            for (const JsonValue& f : JsonGetMember(s, "levels").elements) levels.push_back(JsonGetFloat(f, 0));
            JsonWriteNumberList(w, "levels", levels);
            std::array<float, 256> curve{};
            const JsonValue& cv = JsonGetMember(s, "weight");
            for (int i = 0; i < 256; ++i) curve[i] = JsonGetFloat(JsonGetElement(cv, i), 0);
            JsonWriteCurve(w, "weight", curve);
            JsonWriteKey(w, "nested");
            JsonBeginObject(w);
            JsonWriteKey(w, "empty");
            JsonBeginArray(w);
            JsonEndArray(w);
            JsonEndObject(w);
        }
        JsonEndObject(w);
        return w.out;
    };
    std::string first = writeDocument(nullptr);
    JsonValue parsed = ParseJsonText(first.c_str());
    ASSERT_EQ(parsed.type, kJsonObject);
    EXPECT_EQ(JsonArraySize(JsonGetMember(JsonGetMember(parsed, "nested"), "empty")), 0);
    EXPECT_EQ(writeDocument(&parsed), first);
}

TEST(JsonWriterNumbers, DecimalCommaLocaleStillWritesPoints) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "de_DE.utf8"))
        GTEST_SKIP() << "no decimal-comma locale installed";
    std::string text = FormatJsonNumber(0.25f);
    JsonWriter w;
    std::array<float, 256> curve{};
    curve[0] = 0.5f;
    JsonWriteCurve(w, "c", curve);
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(text, "0.25");
    EXPECT_NE(w.out.find("[0.5,"), std::string::npos);
}
