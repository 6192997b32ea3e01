// json_value.cpp — the lenient and the strict JSON readers.
//
// Index
//   shared helpers       whitespace, locale-free number conversion
//   lenient reader       ParseJsonValue and its string rule
//   lookups              JsonGetMember ... JsonGetInt
//   strict reader        ParseManifestJson*
#include "persistence/json_value.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "document/shortened_text.h"

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

namespace {

constexpr int kMaxManifestDepth = 32;

inline bool IsJsonSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Whether a decimal number text that is out of the double range is too
// small (rather than too large): the position of its first significant digit
// relative to the point, plus its exponent, is below zero. Both "1e-400" and
// "0.000...0001" without an exponent are tiny.
bool DecimalUnderflows(const char* first, const char* last) {
    const char* p = first;
    if (p < last && (*p == '-' || *p == '+')) ++p;
    long order = 0;
    long zerosAfterPoint = 0;
    bool significant = false;
    bool afterPoint = false;
    for (; p < last && (IsDigit(*p) || *p == '.'); ++p) {
        if (*p == '.') {
            afterPoint = true;
        } else if (!significant && *p == '0') {
            if (afterPoint) ++zerosAfterPoint;
        } else if (!significant) {
            significant = true;
            order = afterPoint ? -(zerosAfterPoint + 1) : 0;
        } else if (!afterPoint && order < 100000) {
            ++order;
        }
    }
    if (!significant) return true;
    long exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p < last && *p == '-';
        if (p < last && (*p == '-' || *p == '+')) ++p;
        for (; p < last && IsDigit(*p); ++p)
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return order + exponent < 0;
}

// Converts exactly [first, last) as a decimal number, locale-free. A text
// that holds no number gives 0; the result may be non-finite on overflow.
double ConvertNumber(const char* first, const char* last, bool* ok) {
    double value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large: infinite (caller treats it as missing); too small: zero.
        bool negative = first < last && *first == '-';
        bool tiny = DecimalUnderflows(first, last);
        value = tiny ? (negative ? -0.0 : 0.0) : (negative ? -HUGE_VAL : HUGE_VAL);
        if (ok) *ok = true;
        return value;
    }
    if (ok) *ok = ec == std::errc() && ptr > first;
    return ec == std::errc() ? value : 0.0;
}

// ---------------------------------------------------------------------------
// Lenient reader
// ---------------------------------------------------------------------------

bool IsHighSurrogate(unsigned cp) { return cp >= 0xD800 && cp <= 0xDBFF; }
bool IsLowSurrogate(unsigned cp) { return cp >= 0xDC00 && cp <= 0xDFFF; }
unsigned CombineSurrogates(unsigned high, unsigned low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

struct LenientReader {
    const char* p;
    JsonDamage damage;
};

void SkipSpace(const char*& p) {
    while (IsJsonSpace(*p)) ++p;
}

// Up to four bytes after "\u", stopping early only at the end of the text; a
// byte that is no hex digit counts as 0.
unsigned ReadLenientHex4(const char*& p) {
    unsigned cp = 0;
    for (int i = 0; i < 4 && *p; ++i, ++p) {
        int d = HexDigitValue(*p);
        cp = cp * 16 + static_cast<unsigned>(d < 0 ? 0 : d);
    }
    return cp;
}

// The string rule. With `out` null the string is only stepped over (the same
// bytes are consumed). Returns false when the text ended before the closing
// quote (the string then keeps what was read).
//
// Other programs write characters beyond the Basic Multilingual Plane as an
// escaped surrogate pair; the pair becomes its one four-byte character, since
// two separately encoded halves are not UTF-8 and would be saved back broken.
// A half without its partner becomes "?".
bool ScanLenientString(const char*& p, std::string* out) {
    if (*p != '"') return true;
    ++p;
    while (*p) {
        char c = *p;
        if (c == '"') {
            ++p;
            return true;
        }
        if (c != '\\') {
            if (out) out->push_back(c);
            ++p;
            continue;
        }
        ++p;  // the backslash
        char e = *p;
        if (e == '\0') return false;  // a backslash as the last byte ends the string
        ++p;
        char plain = e;
        switch (e) {
            case 'n': plain = '\n'; break;
            case 'r': plain = '\r'; break;
            case 't': plain = '\t'; break;
            case 'u': {
                unsigned cp = ReadLenientHex4(p);
                if (IsHighSurrogate(cp) && p[0] == '\\' && p[1] == 'u') {
                    const char* next = p + 2;
                    unsigned low = ReadLenientHex4(next);
                    if (IsLowSurrogate(low)) {
                        cp = CombineSurrogates(cp, low);
                        p = next;
                    }
                }
                if (out) {
                    if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) out->push_back('?');
                    else AppendCodePoint(*out, cp);
                }
                continue;
            }
            default: break;  // quote, backslash, slash and anything else give themselves
        }
        if (out) out->push_back(plain);
    }
    return false;  // unterminated: keep what was read
}

// Steps over the rest of a container, strings read by the string rule and
// brackets of either kind balanced, up to and including the bracket that
// closes it. `open` is the number of brackets already open (0 when the cursor
// is on the container's own opening bracket). Iterative, so any depth of
// nesting costs no stack. False when the text ended first.
bool SkipToClose(const char*& p, int open) {
    int depth = open;
    while (*p) {
        const char c = *p;
        if (c == '"') {
            ScanLenientString(p, nullptr);
            continue;
        }
        ++p;
        if (c == '{' || c == '[') {
            ++depth;
        } else if ((c == '}' || c == ']') && --depth <= 0) {
            return true;
        }
    }
    return false;
}

// A member or element that consumed nothing would repeat forever: the
// container ends there. Its remaining members are stepped over to its own
// closing bracket, so the containers around it go on with their siblings.
void EndContainerEarly(LenientReader& r) {
    r.damage.endedEarly += 1;
    if (!SkipToClose(r.p, 1)) r.damage.endOfText += 1;
}

JsonValue ParseLenient(LenientReader& r, int depth);

// The rest of an object or array after its opening bracket, up to `close`:
// each item read by `read`, a comma after it stepped over, then handed to
// `keep`. An item that consumed nothing ends the container early.
template <class Read, class Keep>
void ParseLenientItems(LenientReader& r, char close, Read&& read, Keep&& keep) {
    const char*& p = r.p;
    ++p;  // the opening bracket
    SkipSpace(p);
    while (*p) {
        if (*p == close) {
            ++p;
            return;
        }
        const char* itemStart = p;
        auto item = read();
        SkipSpace(p);
        if (*p == ',') ++p;
        if (p == itemStart) {
            EndContainerEarly(r);
            return;
        }
        keep(std::move(item));
    }
    r.damage.endOfText += 1;
}

JsonValue ParseLenientObject(LenientReader& r, int depth) {
    const char*& p = r.p;
    JsonValue v;
    v.type = kJsonObject;
    ParseLenientItems(
        r, '}',
        [&] {
            SkipSpace(p);
            JsonMember m;
            if (!ScanLenientString(p, &m.key)) r.damage.endOfText += 1;
            SkipSpace(p);
            if (*p == ':') ++p;
            m.value = ParseLenient(r, depth + 1);
            return m;
        },
        [&](JsonMember&& m) { v.members.push_back(std::move(m)); });
    return v;
}

JsonValue ParseLenientArray(LenientReader& r, int depth) {
    JsonValue v;
    v.type = kJsonArray;
    ParseLenientItems(
        r, ']', [&] { return ParseLenient(r, depth + 1); },
        [&](JsonValue&& element) { v.elements.push_back(std::move(element)); });
    return v;
}

bool MatchLiteral(const char* p, const char* word) {
    for (; *word; ++word, ++p)
        if (*p != *word) return false;  // the NUL at the end of the text stops it too
    return true;
}

JsonValue ParseLenient(LenientReader& r, int depth) {
    const char*& p = r.p;
    JsonValue v;
    SkipSpace(p);
    char c = *p;
    if (c == '{' || c == '[') {
        // Scalars never nest, so only containers count towards the limit.
        if (depth > kJsonMaxLenientDepth) {
            r.damage.skippedValues += 1;
            if (!SkipToClose(p, 0)) r.damage.endOfText += 1;
            return v;
        }
        return c == '{' ? ParseLenientObject(r, depth) : ParseLenientArray(r, depth);
    }
    if (c == '"') {
        v.type = kJsonString;
        if (!ScanLenientString(p, &v.text)) r.damage.endOfText += 1;
        return v;
    }
    if (c == 't' && MatchLiteral(p, "true")) {
        p += 4;
        v.type = kJsonBool;
        v.flag = true;
    } else if (c == 'f' && MatchLiteral(p, "false")) {
        p += 5;
        v.type = kJsonBool;
    } else if (c == 'n' && MatchLiteral(p, "null")) {
        p += 4;
    } else if (c == '-' || IsDigit(c)) {
        const char* start = p;
        if (*p == '-') ++p;
        while (IsDigit(*p)) ++p;
        if (*p == '.') {
            ++p;
            while (IsDigit(*p)) ++p;
        }
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            while (IsDigit(*p)) ++p;
        }
        // Only the scanned bytes are converted; a value that is not finite
        // counts as missing so the reader's default applies.
        double number = ConvertNumber(start, p, nullptr);
        if (std::isfinite(number)) {
            v.type = kJsonNumber;
            v.number = number;
        }
    }
    return v;
}

void AddDamage(JsonDamage* total, const JsonDamage& more) {
    if (!total) return;
    total->skippedValues += more.skippedValues;
    total->endedEarly += more.endedEarly;
    total->endOfText += more.endOfText;
}

}  // namespace

const JsonValue& JsonNull() {
    static const JsonValue kNull;
    return kNull;
}

bool JsonIntact(const JsonDamage& damage) {
    return damage.skippedValues == 0 && damage.endedEarly == 0 && damage.endOfText == 0;
}

std::string DescribeJsonDamage(const JsonDamage& damage) {
    std::string text;
    auto add = [&text](int32_t count, const char* what) {
        if (count <= 0) return;
        if (!text.empty()) text += ", ";
        text += what;
        text += std::to_string(count);
    };
    add(damage.skippedValues, "values nested too deep: ");
    add(damage.endedEarly, "containers ended early: ");
    add(damage.endOfText, "cut off by the end of the text: ");
    return text;
}

JsonValue ParseJsonText(const char* text, JsonDamage* damage) {
    if (!text) return JsonValue{};
    const char* cursor = text;
    return ParseJsonValue(cursor, damage);
}

JsonValue ParseJsonValue(const char*& cursor, JsonDamage* damage) {
    if (!cursor) return JsonValue{};
    LenientReader reader{cursor, {}};
    JsonValue value = ParseLenient(reader, 1);
    cursor = reader.p;
    AddDamage(damage, reader.damage);
    return value;
}

// ---------------------------------------------------------------------------
// Lookups
// ---------------------------------------------------------------------------

const JsonValue& JsonGetMember(const JsonValue& value, const char* key) {
    if (value.type != kJsonObject || !key) return JsonNull();
    const size_t n = std::strlen(key);
    for (const JsonMember& m : value.members)
        if (m.key.size() == n && std::memcmp(m.key.data(), key, n) == 0) return m.value;
    return JsonNull();
}

bool JsonHasMember(const JsonValue& value, const char* key) {
    return &JsonGetMember(value, key) != &JsonNull();
}

const JsonValue& JsonGetElement(const JsonValue& value, int index) {
    if (value.type != kJsonArray || index < 0 || index >= static_cast<int>(value.elements.size()))
        return JsonNull();
    return value.elements[static_cast<size_t>(index)];
}

int JsonArraySize(const JsonValue& value) {
    return value.type == kJsonArray ? static_cast<int>(value.elements.size()) : 0;
}

bool JsonGetBool(const JsonValue& value, bool fallback) {
    return value.type == kJsonBool ? value.flag : fallback;
}

float JsonGetFloat(const JsonValue& value, float fallback) {
    if (value.type != kJsonNumber) return fallback;
    float f = static_cast<float>(value.number);
    return std::isfinite(f) ? f : fallback;
}

int JsonGetInt(const JsonValue& value, int fallback) {
    if (value.type != kJsonNumber) return fallback;
    double t = std::trunc(value.number);
    if (!(t >= static_cast<double>(INT_MIN) && t <= static_cast<double>(INT_MAX))) return INT_MIN;
    return static_cast<int>(t);
}

// ---------------------------------------------------------------------------
// Strict reader
// ---------------------------------------------------------------------------

namespace {

void SkipManifestSpace(ManifestJsonCursor& c) {
    while (c.pos < c.end && IsJsonSpace(*c.pos)) ++c.pos;
}

bool Remaining(const ManifestJsonCursor& c, size_t n) {
    return static_cast<size_t>(c.end - c.pos) >= n;
}

// Exactly four hex digits at `p`, all before `end`.
bool ReadStrictHex4(const char* p, const char* end, unsigned& cp) {
    if (end - p < 4) return false;
    cp = 0;
    for (int i = 0; i < 4; ++i) {
        int d = HexDigitValue(p[i]);
        if (d < 0) return false;
        cp = cp * 16 + static_cast<unsigned>(d);
    }
    return true;
}

// A plain decimal number: optional sign, digits with an optional point,
// optional exponent. Hexadecimal, "inf" and "nan" are not numbers here.
bool ParseManifestNumber(ManifestJsonCursor& c, double& out) {
    const char* p = c.pos;
    const char* start = p;
    bool negative = false;
    if (p < c.end && (*p == '+' || *p == '-')) negative = (*p++ == '-');
    const char* digitsStart = p;
    int digits = 0;
    while (p < c.end && IsDigit(*p)) ++p, ++digits;
    if (p < c.end && *p == '.') {
        ++p;
        while (p < c.end && IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) return false;
    if (p < c.end && (*p == 'e' || *p == 'E')) {
        const char* e = p + 1;
        if (e < c.end && (*e == '+' || *e == '-')) ++e;
        if (e < c.end && IsDigit(*e)) {
            while (e < c.end && IsDigit(*e)) ++e;
            p = e;
        }
    }
    // from_chars takes neither a leading '+' nor a lone leading '.'; give it
    // a bounded local copy with "0" before the point.
    char buffer[400];
    size_t len = static_cast<size_t>(p - digitsStart);
    if (len + 2 >= sizeof buffer) return false;
    size_t k = 0;
    if (*digitsStart == '.') buffer[k++] = '0';
    std::memcpy(buffer + k, digitsStart, len);
    k += len;
    bool ok = false;
    double v = ConvertNumber(buffer, buffer + k, &ok);
    if (!ok || !std::isfinite(v)) return false;
    out = negative ? -v : v;
    c.pos = p;
    (void)start;
    return true;
}

}  // namespace

bool ParseManifestJsonString(ManifestJsonCursor& c, std::string& out) {
    if (c.pos >= c.end || *c.pos != '"') return false;
    ++c.pos;
    while (c.pos < c.end) {
        char ch = *c.pos++;
        if (ch == '"') return true;
        if (ch != '\\') {
            out.push_back(ch);
            continue;
        }
        if (c.pos >= c.end) {
            out.push_back('\\');
            return false;  // unterminated
        }
        char e = *c.pos++;
        switch (e) {
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'u': {
                unsigned cp = 0;
                if (!ReadStrictHex4(c.pos, c.end, cp)) return false;
                c.pos += 4;
                // A surrogate pair is one character (as in the lenient reader);
                // a lone half becomes a question mark.
                unsigned low = 0;
                if (IsHighSurrogate(cp) && Remaining(c, 6) && c.pos[0] == '\\' && c.pos[1] == 'u' &&
                    ReadStrictHex4(c.pos + 2, c.end, low) && IsLowSurrogate(low)) {
                    cp = CombineSurrogates(cp, low);
                    c.pos += 6;
                }
                if (IsHighSurrogate(cp) || IsLowSurrogate(cp)) out.push_back('?');
                else AppendCodePoint(out, cp);
                break;
            }
            default: out.push_back(e); break;
        }
    }
    return false;
}

// The rest of an object or array after its opening bracket: nothing, or
// items read by `one` and parted by commas, up to `close`.
template <class One>
bool ParseManifestList(ManifestJsonCursor& c, char close, One&& one) {
    ++c.pos;  // the opening bracket
    SkipManifestSpace(c);
    if (c.pos < c.end && *c.pos == close) {
        ++c.pos;
        return true;
    }
    for (;;) {
        if (!one()) return false;
        SkipManifestSpace(c);
        if (c.pos >= c.end) return false;
        if (*c.pos == ',') {
            ++c.pos;
            continue;
        }
        if (*c.pos == close) {
            ++c.pos;
            return true;
        }
        return false;
    }
}

bool ParseManifestJsonObject(ManifestJsonCursor& c, ManifestJsonValue& out) {
    out.type = kJsonObject;
    return ParseManifestList(c, '}', [&] {
        SkipManifestSpace(c);
        ManifestJsonPair m;
        if (!ParseManifestJsonString(c, m.key)) return false;
        SkipManifestSpace(c);
        if (c.pos >= c.end || *c.pos != ':') return false;
        ++c.pos;
        if (!ParseManifestJsonValue(c, m.value)) return false;
        out.members.push_back(std::move(m));
        return true;
    });
}

bool ParseManifestJsonArray(ManifestJsonCursor& c, ManifestJsonValue& out) {
    out.type = kJsonArray;
    return ParseManifestList(c, ']', [&] {
        ManifestJsonValue element;
        if (!ParseManifestJsonValue(c, element)) return false;
        out.elements.push_back(std::move(element));
        return true;
    });
}

bool ParseManifestJsonValue(ManifestJsonCursor& c, ManifestJsonValue& out) {
    if (++c.depth > kMaxManifestDepth) return false;
    SkipManifestSpace(c);
    if (!c.pos || c.pos >= c.end) return false;
    bool ok = false;
    char ch = *c.pos;
    if (ch == '{') {
        ok = ParseManifestJsonObject(c, out);
    } else if (ch == '[') {
        ok = ParseManifestJsonArray(c, out);
    } else if (ch == '"') {
        out.type = kJsonString;
        ok = ParseManifestJsonString(c, out.text);
    } else if (Remaining(c, 4) && std::memcmp(c.pos, "true", 4) == 0) {
        out.type = kJsonBool;
        out.flag = true;
        c.pos += 4;
        ok = true;
    } else if (Remaining(c, 4) && std::memcmp(c.pos, "null", 4) == 0) {
        out.type = kJsonNull;
        c.pos += 4;
        ok = true;
    } else if (Remaining(c, 5) && std::memcmp(c.pos, "false", 5) == 0) {
        out.type = kJsonBool;
        out.flag = false;
        c.pos += 5;
        ok = true;
    } else {
        out.type = kJsonNumber;
        ok = ParseManifestNumber(c, out.number);
    }
    if (!ok) return false;
    --c.depth;
    return true;
}

bool ParseManifestJsonText(const char* text, size_t length, ManifestJsonValue& out) {
    if (!text) return false;
    ManifestJsonCursor c;
    c.pos = text;
    c.end = text + length;
    c.depth = 0;  // the top-level value counts as level 1
    SkipManifestSpace(c);
    if (!ParseManifestJsonValue(c, out)) return false;
    return out.type == kJsonObject;
}

const ManifestJsonValue* ManifestJsonMember(const ManifestJsonValue& value, const char* key) {
    if (value.type != kJsonObject || !key) return nullptr;
    const size_t n = std::strlen(key);
    for (const ManifestJsonPair& m : value.members)
        if (m.key.size() == n && std::memcmp(m.key.data(), key, n) == 0) return &m.value;
    return nullptr;
}
