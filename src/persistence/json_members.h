// json_members.h — typed member lookups shared by the readers of the
// program's own JSON files (projects, recipes, chains).
//
// Index
//   JsonText       a value's text when it is a string, else ""
//   MemberFloat / MemberInt / MemberBool / MemberText   one member, with its default
//   MemberFloatOr  the newer key when it holds a number, else the older one
//
// A member of another type than expected counts as missing, so its default
// applies; numbers are never read as bools nor bools as numbers.
#pragma once

#include <string>

#include "persistence/json_value.h"

inline const std::string& JsonText(const JsonValue& value) {
    static const std::string kEmpty;
    return value.type == kJsonString ? value.text : kEmpty;
}

inline float MemberFloat(const JsonValue& object, const char* key, float fallback) {
    return JsonGetFloat(JsonGetMember(object, key), fallback);
}

inline int MemberInt(const JsonValue& object, const char* key, int fallback) {
    return JsonGetInt(JsonGetMember(object, key), fallback);
}

inline bool MemberBool(const JsonValue& object, const char* key, bool fallback) {
    return JsonGetBool(JsonGetMember(object, key), fallback);
}

inline const std::string& MemberText(const JsonValue& object, const char* key) {
    return JsonText(JsonGetMember(object, key));
}

inline float MemberFloatOr(const JsonValue& object, const char* key, const char* olderKey, float fallback) {
    return MemberFloat(object, key, MemberFloat(object, olderKey, fallback));
}
