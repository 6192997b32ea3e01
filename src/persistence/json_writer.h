// json_writer.h — the streaming writer behind every JSON file of the program.
//
// Index
//   JsonWriter                 text, indentation level, owed comma
//   FormatJsonNumber           "%.6g" (or "%.9g" when needed to read back exactly), null if not finite
//   AppendJsonCurveNumber      "%.4g" (curve points, picture-trace rows), null if not finite
//   JsonWriteKey ... JsonWriteCurve          members (curve points "%.4g" where that holds them, else whole)
//   JsonBeginObject / JsonEndObject / JsonBeginArray / JsonEndArray
//   JsonWriteObjectList        an array of objects, one an item
//   block lists, flat string lists, row lists   the list forms the file writers use
//   U64ToHex / HexToU64        content hashes as 16 hex digits
//
// Layout: every key on its own line, two blanks per level, the bracket or
// brace of a nested value on the line after its key, an empty container on
// two lines.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct JsonWriter {
    std::string out;
    int level = 0;
    bool pending = false;  // a separating comma is owed
};

// "%.6g" of the value, or "%.9g" when the short form would not read back as
// the same 32-bit float; "null" for a value that is not finite. Locale-free.
std::string FormatJsonNumber(float value);
// Appends "%.4g" of the value, the short form of curves and trace rows.
void AppendJsonCurveNumber(std::string& out, float value);

void JsonWriteKey(JsonWriter& w, std::string_view key);
void JsonWriteBool(JsonWriter& w, std::string_view key, bool value);
void JsonWriteNumber(JsonWriter& w, std::string_view key, float value);
void JsonWriteInt(JsonWriter& w, std::string_view key, int32_t value);
void JsonWriteStringMember(JsonWriter& w, std::string_view key, std::string_view value);
void JsonWriteString(JsonWriter& w, std::string_view value);
void JsonWriteCurve(JsonWriter& w, std::string_view key, const std::array<float, 256>& curve);
void JsonWriteCurve(JsonWriter& w, std::string_view key, const float* values, int count);

void JsonBeginObject(JsonWriter& w);
void JsonEndObject(JsonWriter& w);
void JsonBeginArray(JsonWriter& w);
void JsonEndArray(JsonWriter& w);

// Member `key`: an array of one object per item, whose members `write(item)` writes.
template <class Items, class Write>
void JsonWriteObjectList(JsonWriter& w, std::string_view key, const Items& items, Write&& write) {
    JsonWriteKey(w, key);
    JsonBeginArray(w);
    for (const auto& item : items) {
        JsonBeginObject(w);
        write(item);
        JsonEndObject(w);
    }
    JsonEndArray(w);
}

// Block list: key, then "[" on its own line, one element per line.
void JsonWriteNumberList(JsonWriter& w, std::string_view key, const std::vector<float>& values);
void JsonWriteNumberList(JsonWriter& w, std::string_view key, const float* values, size_t count);
void JsonWriteStringList(JsonWriter& w, std::string_view key, const std::vector<std::string>& values);
// Writes the separator of a block-list element: a comma unless first, a line
// feed and the inner indentation. The caller then writes the element.
void JsonBeginListElement(JsonWriter& w, bool first);

// Flat string list: "[" on the key's line, each string on a line of two
// blanks, "]" in the first column.
void JsonWriteFlatStringList(JsonWriter& w, std::string_view key, const std::vector<std::string>& values);

// Row list (picture-trace frames): "[" on the key's line, one pre-formatted row per line.
void JsonWriteRowList(JsonWriter& w, std::string_view key, const std::vector<std::string>& rows);

std::string U64ToHex(uint64_t value);
uint64_t HexToU64(std::string_view text);
