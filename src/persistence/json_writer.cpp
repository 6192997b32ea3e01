// json_writer.cpp — formatting numbers and strings into the JSON layout.
#include "persistence/json_writer.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

void Indent(JsonWriter& w, int level) {
    if (level > 0) w.out.append(static_cast<size_t>(level) * 2, ' ');
}

// printf-style "%.Ng" without the locale.
void AppendGeneral(std::string& out, double value, int precision) {
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, precision);
    if (ec == std::errc()) out.append(buf, end);
    else out.append("0");
}

// A number, or null when it is not finite: "%.<digits>g" when that reads
// back (as a double, then a float, as the reader reads it) as the same
// float, else "%.6g" when that does, else the nine digits that always do.
// What a project keeps of a number is then the number the session used.
void AppendNumber(std::string& out, float value, int digits = 6) {
    if (!std::isfinite(value)) {
        out.append("null");
        return;
    }
    for (int precision : {digits, 6}) {
        if (precision < digits) continue;
        char buf[40];
        auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::general,
                                       precision);
        double back = 0;
        auto [stop, readEc] = std::from_chars(buf, end, back, std::chars_format::general);
        if (ec == std::errc() && readEc == std::errc() && stop == end && static_cast<float>(back) == value) {
            out.append(buf, end);
            return;
        }
    }
    AppendGeneral(out, static_cast<double>(value), 9);
}

}  // namespace

std::string FormatJsonNumber(float value) {
    std::string s;
    AppendNumber(s, value);
    return s;
}

void AppendJsonCurveNumber(std::string& out, float value) {
    if (std::isfinite(value)) AppendGeneral(out, static_cast<double>(value), 4);
    else out.append("null");
}

void JsonWriteKey(JsonWriter& w, std::string_view key) {
    if (w.pending) w.out.push_back(',');
    w.out.push_back('\n');
    Indent(w, w.level);
    w.out.push_back('"');
    w.out.append(key);
    w.out.append("\": ");
    w.pending = false;
}

void JsonWriteBool(JsonWriter& w, std::string_view key, bool value) {
    JsonWriteKey(w, key);
    w.out.append(value ? "true" : "false");
    w.pending = true;
}

void JsonWriteNumber(JsonWriter& w, std::string_view key, float value) {
    JsonWriteKey(w, key);
    AppendNumber(w.out, value);
    w.pending = true;
}

void JsonWriteInt(JsonWriter& w, std::string_view key, int32_t value) {
    JsonWriteKey(w, key);
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec;
    w.out.append(buf, end);
    w.pending = true;
}

void JsonWriteStringMember(JsonWriter& w, std::string_view key, std::string_view value) {
    JsonWriteKey(w, key);
    JsonWriteString(w, value);
}

void JsonWriteString(JsonWriter& w, std::string_view value) {
    std::string& out = w.out;
    out.push_back('"');
    for (char ch : value) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out.append("\\\""); break;
            case '\\': out.append("\\\\"); break;
            case '\n': out.append("\\n"); break;
            case '\r': out.append("\\r"); break;
            case '\t': out.append("\\t"); break;
            default:
                if (c < 32) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", c);
                    out.append(esc);
                } else {
                    out.push_back(ch);
                }
        }
    }
    out.push_back('"');
    w.pending = true;
}

void JsonWriteCurve(JsonWriter& w, std::string_view key, const float* values, int count) {
    JsonWriteKey(w, key);
    w.out.push_back('[');
    for (int i = 0; i < count; ++i) {
        if (i) w.out.push_back(',');
        // Four digits where they hold the point, else the point whole:
        // curves play (a Fill's intensity is read as it plays), so a reopened
        // project must hold the points the session played.
        AppendNumber(w.out, values[i], 4);
    }
    w.out.push_back(']');
    w.pending = true;
}

void JsonWriteCurve(JsonWriter& w, std::string_view key, const std::array<float, 256>& curve) {
    JsonWriteCurve(w, key, curve.data(), 256);
}

namespace {

// An object or array opens on a line of its own, one level deeper inside,
// and closes on a line of its own at its opening's level.
void OpenNested(JsonWriter& w, char bracket) {
    if (w.pending) w.out.push_back(',');
    w.out.push_back('\n');
    Indent(w, w.level);
    w.out.push_back(bracket);
    ++w.level;
    w.pending = false;
}

void CloseNested(JsonWriter& w, char bracket) {
    --w.level;
    w.out.push_back('\n');
    Indent(w, w.level);
    w.out.push_back(bracket);
    w.pending = true;
}

}  // namespace

void JsonBeginObject(JsonWriter& w) { OpenNested(w, '{'); }
void JsonEndObject(JsonWriter& w) { CloseNested(w, '}'); }
void JsonBeginArray(JsonWriter& w) { OpenNested(w, '['); }
void JsonEndArray(JsonWriter& w) { CloseNested(w, ']'); }

void JsonBeginListElement(JsonWriter& w, bool first) {
    if (!first) w.out.push_back(',');
    w.out.push_back('\n');
    Indent(w, w.level);
}

void JsonWriteNumberList(JsonWriter& w, std::string_view key, const std::vector<float>& values) {
    JsonWriteNumberList(w, key, values.data(), values.size());
}

void JsonWriteNumberList(JsonWriter& w, std::string_view key, const float* values, size_t count) {
    JsonWriteKey(w, key);
    JsonBeginArray(w);
    for (size_t i = 0; i < count; ++i) {
        JsonBeginListElement(w, i == 0);
        AppendNumber(w.out, values[i]);
    }
    JsonEndArray(w);
}

void JsonWriteStringList(JsonWriter& w, std::string_view key, const std::vector<std::string>& values) {
    JsonWriteKey(w, key);
    JsonBeginArray(w);
    for (size_t i = 0; i < values.size(); ++i) {
        JsonBeginListElement(w, i == 0);
        JsonWriteString(w, values[i]);
    }
    JsonEndArray(w);
}

void JsonWriteFlatStringList(JsonWriter& w, std::string_view key, const std::vector<std::string>& values) {
    JsonWriteKey(w, key);
    w.out.push_back('[');
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) w.out.push_back(',');
        w.out.append("\n  ");
        JsonWriteString(w, values[i]);
    }
    w.out.append("\n]");
    w.pending = true;
}

void JsonWriteRowList(JsonWriter& w, std::string_view key, const std::vector<std::string>& rows) {
    JsonWriteKey(w, key);
    w.out.push_back('[');
    ++w.level;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i) w.out.push_back(',');
        w.out.push_back('\n');
        Indent(w, w.level);
        w.out.append(rows[i]);
    }
    --w.level;
    w.out.push_back('\n');
    Indent(w, w.level);
    w.out.push_back(']');
    w.pending = true;
}

std::string U64ToHex(uint64_t value) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
    return buf;
}

uint64_t HexToU64(std::string_view text) {
    uint64_t value = 0;
    for (char c : text) {
        int d;
        if (c >= '0' && c <= '9') d = c - '0';
        else if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        else break;
        if (value > (UINT64_MAX >> 4)) return UINT64_MAX;  // saturate like strtoull
        value = (value << 4) | static_cast<uint64_t>(d);
    }
    return value;
}
