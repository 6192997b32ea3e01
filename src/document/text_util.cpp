// text_util.cpp — text fields, timecode, UTF-8 / UTF-16 conversion, trimming.
#include "document/text_util.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "document/project.h"
#include "document/shortened_text.h"

// ---------------------------------------------------------------------------
// Fixed-size text fields
// ---------------------------------------------------------------------------

size_t Utf8SafeCutLength(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) return text.size();
    size_t cut = maxBytes;
    // Step back over continuation bytes so the cut lands before a lead byte.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

bool CopyTextField(char* dst, size_t size, std::string_view text) {
    if (size == 0) return text.empty();
    size_t n = Utf8SafeCutLength(text, size - 1);
    // An empty view may carry a null pointer, which memcpy must never see.
    if (n > 0) std::memcpy(dst, text.data(), n);
    dst[n] = '\0';
    return n == text.size();
}

// ---------------------------------------------------------------------------
// Timecode
// ---------------------------------------------------------------------------

namespace {

// Frames per timecode second: the nominal integer rate, 25 when unusable. A
// document's rate is kept usable, but a rate far outside would overflow the
// frame arithmetic below, so it is checked here too.
int64_t TimecodeBase(float fps) {
    if (!(fps >= kMinFrameRate && fps <= kMaxFrameRate)) return 25;
    return std::max<int64_t>(1, static_cast<int64_t>(std::lround(fps)));
}

// Timecode text has two digits of hours. Writing and reading both stop at the
// last frame of hour 99, so every text one writes the other reads back, and
// a project start or export range past 24 h survives a save.
constexpr long kMaxTimecodeHours = 99;

}  // namespace

void FormatTimecode(const Project& project, float seconds, char* out, size_t size) {
    if (!out || size == 0) return;
    const int64_t n = TimecodeBase(project.fps);
    // Clamp before converting so huge or NaN inputs never overflow.
    const double maxTotal = static_cast<double>(n) * 3600.0 * (kMaxTimecodeHours + 1) - 1.0;
    double total = std::floor(static_cast<double>(seconds) * static_cast<double>(n) + 0.5);
    if (!(total > 0)) total = 0;
    if (total > maxTotal) total = maxTotal;
    int64_t frames = static_cast<int64_t>(total);
    int64_t ff = frames % n;
    int64_t ss = (frames / n) % 60;
    int64_t mm = (frames / (n * 60)) % 60;
    int64_t hh = frames / (n * 3600);
    std::snprintf(out, size, "%02d:%02d:%02d:%02d", static_cast<int>(hh), static_cast<int>(mm),
                  static_cast<int>(ss), static_cast<int>(ff));
}

float ParseTimecode(const Project& project, const char* text) {
    if (!text) return -1.0f;
    long values[4] = {0, 0, 0, 0};
    int count = 0;
    const char* p = text;
    // Same reading as "%d:%d:%d:%d": optional blanks and sign, digits, then ':'.
    while (count < 4) {
        while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') ++p;
        bool negative = false;
        if (*p == '+' || *p == '-') negative = (*p++ == '-');
        if (*p < '0' || *p > '9') break;
        long v = 0;
        while (*p >= '0' && *p <= '9') {
            if (v < 100000000) v = v * 10 + (*p - '0');
            ++p;
        }
        values[count++] = negative ? -v : v;
        if (*p != ':') break;
        ++p;
    }
    if (count < 3) return -1.0f;
    const int64_t n = TimecodeBase(project.fps);
    long hh = std::clamp(values[0], 0L, kMaxTimecodeHours);
    long mm = std::clamp(values[1], 0L, 59L);
    long ss = std::clamp(values[2], 0L, 59L);
    long ff = std::clamp(values[3], 0L, static_cast<long>(n - 1));
    return static_cast<float>(hh * 3600 + mm * 60 + ss) +
           static_cast<float>(ff) / static_cast<float>(n);
}

// ---------------------------------------------------------------------------
// UTF-8 <-> UTF-16
// ---------------------------------------------------------------------------

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

}  // namespace

std::string WideToUtf8(const std::u16string& wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        char32_t c = wide[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
                ++i;
            } else {
                c = kReplacement;
            }
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            c = kReplacement;
        }
        AppendCodePoint(out, uint32_t(c));
    }
    return out;
}

std::u16string Utf8ToWide(const std::string& utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    const auto* s = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        unsigned char b = s[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int len = 0;
        char32_t c = 0, min = 0;
        if ((b & 0xE0) == 0xC0) { len = 2; c = b & 0x1F; min = 0x80; }
        else if ((b & 0xF0) == 0xE0) { len = 3; c = b & 0x0F; min = 0x800; }
        else if ((b & 0xF8) == 0xF0) { len = 4; c = b & 0x07; min = 0x10000; }
        int k = 1;
        if (len > 0) {
            for (; k < len && i + k < n && (s[i + k] & 0xC0) == 0x80; ++k) c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (len == 0 || k < len || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(static_cast<char16_t>(kReplacement));
            i += std::max(k, 1);  // skip the bad lead and the continuation bytes it claimed
            continue;
        }
        AppendUtf16(out, c);
        i += len;
    }
    return out;
}

std::string ToValidUtf8(std::string_view text) {
    // Plain ASCII and well-formed text, by far the common case, is copied as is.
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    bool ascii = true;
    for (size_t i = 0; i < text.size() && ascii; ++i) ascii = s[i] < 0x80;
    if (ascii) return std::string(text);
    return WideToUtf8(Utf8ToWide(std::string(text)));
}

// ---------------------------------------------------------------------------
// Case and white space
// ---------------------------------------------------------------------------

std::string ToLowerCopy(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

namespace {

bool IsTrimmedBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string_view TrimmedView(std::string_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsTrimmedBlank(text[b])) ++b;
    while (e > b && IsTrimmedBlank(text[e - 1])) --e;
    return text.substr(b, e - b);
}

void TrimWhitespace(std::string& text) {
    std::string_view kept = TrimmedView(text);
    const size_t begin = static_cast<size_t>(kept.data() - text.data());
    text.erase(begin + kept.size());
    text.erase(0, begin);
}

std::string TrimmedCopy(std::string_view text) { return std::string(TrimmedView(text)); }

uint64_t Fnv1a64(std::string_view text) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

bool ContainsString(const std::vector<std::string>& texts, std::string_view text) {
    for (const std::string& t : texts) {
        if (t == text) return true;
    }
    return false;
}
