// json_value.h — the JSON trees read from the program's files and from the
// update manifest.
//
// Index
//   JsonValue / JsonMember       the lenient tree (projects, recipes, chains)
//   JsonDamage / JsonIntact / DescribeJsonDamage
//                                what the lenient reader had to guess or skip
//   ParseJsonText / ParseJsonValue   lenient reader: never fails, always ends
//   JsonGetMember ... JsonGetInt     lookups that chain through a shared null
//   ManifestJsonValue            the strict tree (update manifest)
//   ManifestJsonCursor           position, end and depth of a strict parse
//   ParseManifestJsonValue ...   strict reader: any error fails the parse
//   ManifestJsonMember           lookup returning nullptr when absent
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum JsonType : int32_t {
    kJsonNull = 0,
    kJsonBool = 1,
    kJsonNumber = 2,
    kJsonString = 3,
    kJsonArray = 4,
    kJsonObject = 5,
};

struct JsonMember;

struct JsonValue {
    int32_t type = kJsonNull;
    double number = 0;
    bool flag = false;
    std::string text;
    std::vector<JsonValue> elements;
    std::vector<JsonMember> members;  // file order; duplicates kept, lookups find the first
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// The program's own files nest a few levels (plus two per bounced event); a
// container nested deeper than this (the root is level 1) is hostile or
// broken: the lenient reader skips it whole and it reads as null.
constexpr int kJsonMaxLenientDepth = 512;

// The one shared, never-modified null value that failed lookups return.
const JsonValue& JsonNull();

// What the lenient reader could not read as written. A document that closed
// every container (and string) by its own bracket (and quote) reports all
// zeros. Callers that would save what they read back over the file (project
// loading) refuse a damaged document; others log it and take what they got.
struct JsonDamage {
    // Containers nested deeper than the reader follows: each was skipped
    // whole, brackets balanced, and reads as null.
    int32_t skippedValues = 0;
    // Containers closed at a byte that starts no value: the rest of that
    // container up to its closing bracket was skipped.
    int32_t endedEarly = 0;
    // Containers or strings that the end of the text cut off.
    int32_t endOfText = 0;
};

bool JsonIntact(const JsonDamage& damage);
// One line for a log: "containers ended early: 2, cut off by the end of the text: 1".
// Empty for an intact document.
std::string DescribeJsonDamage(const JsonDamage& damage);

// Parses one value from the start of a NUL-terminated text; text after it is
// ignored. Bad input yields nulls or partial containers, never an error; what
// was guessed or skipped is added to *damage when given.
JsonValue ParseJsonText(const char* text, JsonDamage* damage = nullptr);
// Parses one value at `cursor` (NUL-terminated text) and leaves the cursor
// after it; adds to *damage like ParseJsonText.
JsonValue ParseJsonValue(const char*& cursor, JsonDamage* damage = nullptr);

const JsonValue& JsonGetMember(const JsonValue& value, const char* key);
bool JsonHasMember(const JsonValue& value, const char* key);
const JsonValue& JsonGetElement(const JsonValue& value, int index);
int JsonArraySize(const JsonValue& value);
bool JsonGetBool(const JsonValue& value, bool fallback);
// A number that does not fit a finite 32-bit float counts as missing.
float JsonGetFloat(const JsonValue& value, float fallback);
int JsonGetInt(const JsonValue& value, int fallback);

// --- Strict reader --------------------------------------------------------

struct ManifestJsonPair;

struct ManifestJsonValue {
    int32_t type = kJsonNull;
    bool flag = false;
    double number = 0;
    std::string text;
    std::vector<ManifestJsonValue> elements;
    std::vector<ManifestJsonPair> members;
};

struct ManifestJsonPair {
    std::string key;
    ManifestJsonValue value;
};

struct ManifestJsonCursor {
    const char* pos = nullptr;
    const char* end = nullptr;  // the text is bounded by its length, not by a NUL
    int depth = 0;
};

bool ParseManifestJsonValue(ManifestJsonCursor& cursor, ManifestJsonValue& out);
bool ParseManifestJsonObject(ManifestJsonCursor& cursor, ManifestJsonValue& out);
bool ParseManifestJsonArray(ManifestJsonCursor& cursor, ManifestJsonValue& out);
bool ParseManifestJsonString(ManifestJsonCursor& cursor, std::string& out);

// The whole manifest: one top-level object (depth 1), text after it ignored.
bool ParseManifestJsonText(const char* text, size_t length, ManifestJsonValue& out);

const ManifestJsonValue* ManifestJsonMember(const ManifestJsonValue& value, const char* key);
