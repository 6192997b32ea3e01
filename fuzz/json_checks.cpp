// json_checks.cpp — properties of the lenient and the strict JSON readers.
//
// Index
//   WriteTree / SameTree   a canonical writer of a whole tree, and tree equality
//   CheckLenientJson       parse(write(parse(x))) == parse(x), and the rewrite is intact
//   CheckManifestJson      the same for a manifest the strict reader accepts
#include <charconv>
#include <string>
#include <vector>

#include "fuzz_checks.h"
#include "persistence/json_value.h"
#include "persistence/json_writer.h"

namespace {

// ---- WriteTree / SameTree ---------------------------------------------------

// Numbers in their shortest exact form, strings and keys through the
// program's own string writer, so the check covers its escaping too.
void WriteTree(JsonWriter& w, const JsonValue& v) {
    std::string& out = w.out;
    switch (v.type) {
        case kJsonBool: out += v.flag ? "true" : "false"; break;
        case kJsonNumber: {
            char buf[40];
            auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v.number);
            out.append(buf, ec == std::errc() ? end : buf);
            break;
        }
        case kJsonString: JsonWriteString(w, v.text); break;
        case kJsonArray:
            out += '[';
            for (size_t i = 0; i < v.elements.size(); ++i) {
                if (i) out += ',';
                WriteTree(w, v.elements[i]);
            }
            out += ']';
            break;
        case kJsonObject:
            out += '{';
            for (size_t i = 0; i < v.members.size(); ++i) {
                if (i) out += ',';
                JsonWriteString(w, v.members[i].key);
                out += ':';
                WriteTree(w, v.members[i].value);
            }
            out += '}';
            break;
        default: out += "null"; break;
    }
}

std::string WriteTree(const JsonValue& v) {
    JsonWriter w;
    WriteTree(w, v);
    return w.out;
}

// "" when equal, else where the first difference lies.
std::string SameTree(const JsonValue& a, const JsonValue& b, const std::string& at) {
    if (a.type != b.type) return at + ": type " + std::to_string(a.type) + " became " + std::to_string(b.type);
    switch (a.type) {
        case kJsonBool:
            return a.flag == b.flag ? "" : at + ": bool changed";
        case kJsonNumber:
            return a.number == b.number ? "" : at + ": number changed";
        case kJsonString:
            return a.text == b.text ? "" : at + ": string changed";
        case kJsonArray:
            if (a.elements.size() != b.elements.size()) return at + ": element count changed";
            for (size_t i = 0; i < a.elements.size(); ++i) {
                std::string diff = SameTree(a.elements[i], b.elements[i], at + "[" + std::to_string(i) + "]");
                if (!diff.empty()) return diff;
            }
            return "";
        case kJsonObject:
            if (a.members.size() != b.members.size()) return at + ": member count changed";
            for (size_t i = 0; i < a.members.size(); ++i) {
                if (a.members[i].key != b.members[i].key) return at + ": key changed";
                std::string diff = SameTree(a.members[i].value, b.members[i].value, at + "." + a.members[i].key);
                if (!diff.empty()) return diff;
            }
            return "";
        default:
            return "";
    }
}

JsonValue ToTree(const ManifestJsonValue& m) {
    JsonValue v;
    v.type = m.type;
    v.number = m.number;
    v.flag = m.flag;
    v.text = m.text;
    for (const ManifestJsonValue& e : m.elements) v.elements.push_back(ToTree(e));
    for (const ManifestJsonPair& p : m.members) v.members.push_back(JsonMember{p.key, ToTree(p.value)});
    return v;
}

}  // namespace

// ---- CheckLenientJson -------------------------------------------------------

std::string CheckLenientJson(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    const char* cursor = text.c_str();
    JsonDamage damage;
    const JsonValue first = ParseJsonValue(cursor, &damage);
    if (cursor < text.c_str() || cursor > text.c_str() + text.size()) return "the cursor left the text";
    if (first.type < kJsonNull || first.type > kJsonObject) return "a value of no known type";

    const std::string written = WriteTree(first);
    JsonDamage rewriteDamage;
    const JsonValue second = ParseJsonText(written.c_str(), &rewriteDamage);
    if (!JsonIntact(rewriteDamage))
        return "a written tree reads as damaged (" + DescribeJsonDamage(rewriteDamage) + ")";
    std::string diff = SameTree(first, second, "$");
    return diff.empty() ? "" : "round trip differs at " + diff;
}

// ---- CheckManifestJson ------------------------------------------------------

std::string CheckManifestJson(const uint8_t* data, size_t size) {
    // A heap copy of exactly the input, so a read past its end is caught.
    const std::vector<char> bytes(data, data + size);
    ManifestJsonValue manifest;
    if (!ParseManifestJsonText(bytes.data(), bytes.size(), manifest)) return "";
    if (manifest.type != kJsonObject) return "an accepted manifest is not an object";

    const JsonValue tree = ToTree(manifest);
    const std::string written = WriteTree(tree);
    ManifestJsonValue again;
    if (!ParseManifestJsonText(written.data(), written.size(), again)) return "a written manifest is refused";
    std::string diff = SameTree(tree, ToTree(again), "$");
    return diff.empty() ? "" : "round trip differs at " + diff;
}
