// session_markers.cpp — reading the markers of a session text export.
//
// Index
//   Word tables          weight words and shape words of marker names
//   Small text helpers   case-blind equality, word splitting, joining, cleaning
//   Number readers       "%f"-like float, all-digit sample count, "H:M:S:F" location
//   MatchNameWords / MatchMarkerName
//   LineReader           bounded line-by-line reading of the file
//   MarkerSection        the header's columns; what one row turns into
//   ImportSessionMarkers
#include "picture/session_markers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "document/text_util.h"
#include "platform/file_util.h"

namespace {

// ---------------------------------------------------------------------------
// Word tables
// ---------------------------------------------------------------------------

struct WeightWord {
    const char* word;
    float weightCenter;
};
constexpr WeightWord kWeightWords[] = {
    {"sub", 0.1f}, {"low", 0.3f}, {"mid", 0.5f}, {"high", 0.7f}, {"air", 0.9f},
};
constexpr const char* kOtherShapeWords[] = {"contour", "fill", "scatter", "clip", "bed"};

constexpr float kDefaultMarkerWeight = 0.3f;
constexpr double kMaxSampleRate = 10e6;
constexpr double kMaxMarkerTime = 24.0 * 3600.0;
constexpr double kMaxTimecodeRate = 1000.0;

// ---------------------------------------------------------------------------
// Small text helpers
// ---------------------------------------------------------------------------

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    }
    return true;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

// Calls `visit` for every non-empty run of bytes between separators.
template <class Visit>
void ForEachWord(std::string_view text, std::string_view separators, Visit visit) {
    size_t i = 0;
    while (i < text.size()) {
        const size_t end = text.find_first_of(separators, i);
        const size_t stop = end == std::string_view::npos ? text.size() : end;
        if (stop > i) visit(text.substr(i, stop - i));
        i = stop + 1;
    }
}

void AppendWord(std::string& out, std::string_view word) {
    if (word.empty()) return;
    if (!out.empty()) out.push_back(' ');
    out.append(word);
}

// Valid UTF-8 without NUL bytes: a NUL would end the stored field early and
// leave unseen bytes behind it.
std::string CleanText(std::string_view text) {
    std::string clean = ToValidUtf8(text);
    clean.erase(std::remove(clean.begin(), clean.end(), '\0'), clean.end());
    return clean;
}

// The parts of `text` between commas, each trimmed; empty parts kept.
std::vector<std::string_view> SplitCommaParts(std::string_view text) {
    std::vector<std::string_view> parts;
    size_t i = 0;
    for (;;) {
        const size_t comma = text.find(',', i);
        parts.push_back(TrimmedView(text.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i)));
        if (comma == std::string_view::npos) return parts;
        i = comma + 1;
    }
}

// ---------------------------------------------------------------------------
// Number readers
// ---------------------------------------------------------------------------

bool IsScanSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a leading number the way "%f" would (blanks, a sign, then the
// number), locale-free. False when there is no number or it is out of range.
bool ScanFloat(std::string_view text, double& value) {
    size_t i = 0;
    while (i < text.size() && IsScanSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || text[i] == '+' || text[i] == '-') return false;
    double v = 0;
    auto result = std::from_chars(text.data() + i, text.data() + text.size(), v, std::chars_format::general);
    if (result.ec != std::errc()) return false;
    value = negative ? -v : v;
    return true;
}

// A sample count: only digits, and small enough for a signed 64-bit value.
// Anything else (a timecode, a sign, a 30-digit number) is not one.
bool ReadSampleCount(std::string_view text, int64_t& samples) {
    if (text.empty()) return false;
    for (char c : text) {
        if (!IsDigit(c)) return false;
    }
    auto result = std::from_chars(text.data(), text.data() + text.size(), samples);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

// Reads "%d:%d:%d:%d" into `values` and returns how many numbers were read.
// A number too long for an int ends the reading, as a field that is missing.
int ScanLocation(std::string_view text, long values[4]) {
    int count = 0;
    size_t i = 0;
    while (count < 4) {
        while (i < text.size() && IsScanSpace(text[i])) ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        if (i >= text.size() || !IsDigit(text[i])) break;
        int64_t v = 0;
        bool overflow = false;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            if (v > (int64_t(INT32_MAX) + 1) / 10) overflow = true;
            if (!overflow) v = v * 10 + (text[i] - '0');
        }
        if (negative) v = -v;
        if (overflow || v > INT32_MAX || v < INT32_MIN) break;
        values[count++] = static_cast<long>(v);
        if (i >= text.size() || text[i] != ':') break;
        ++i;
    }
    return count;
}

// ---------------------------------------------------------------------------
// MatchNameWords
// ---------------------------------------------------------------------------

const WeightWord* FindWeightWord(std::string_view word) {
    for (const WeightWord& w : kWeightWords) {
        if (EqualsIgnoreCase(word, w.word)) return &w;
    }
    return nullptr;
}

bool IsOtherShapeWord(std::string_view word) {
    for (const char* w : kOtherShapeWords) {
        if (EqualsIgnoreCase(word, w)) return true;
    }
    return false;
}

// The body of MatchMarkerName on clean text; returns the keywords whole so
// that the import can add the comments before the field is cut.
std::string MatchNameWords(std::string_view rawText, const std::vector<std::string>& knownNames,
                           MarkerEvent& marker) {
    marker.shape = 0;
    marker.weightCenter = kDefaultMarkerWeight;
    marker.keywords[0] = '\0';
    marker.presetName[0] = '\0';
    marker.otherShapeWord = false;
    std::string keywords;
    const std::string_view text = TrimmedView(rawText);
    if (text.empty()) return keywords;

    const size_t comma = text.find(',');
    const std::string_view head = TrimmedView(text.substr(0, comma));
    const std::string_view tail = comma == std::string_view::npos ? std::string_view() : TrimmedView(text.substr(comma + 1));

    // A marker that begins with a recipe's name: the rest is a weight word
    // and keywords.
    for (const std::string& known : knownNames) {
        if (known.empty() || !EqualsIgnoreCase(head, known)) continue;
        CopyTextField(marker.presetName, CleanText(known));
        bool weightSeen = false;
        ForEachWord(tail, " \t", [&](std::string_view word) {
            const WeightWord* weight = weightSeen ? nullptr : FindWeightWord(word);
            if (weight) {
                marker.weightCenter = weight->weightCenter;
                weightSeen = true;
            } else {
                AppendWord(keywords, word);
            }
        });
        return keywords;
    }

    // Otherwise the first shape word and the first weight word set the
    // marker; every other word, later ones of those kinds too, is a keyword.
    bool shapeSeen = false, weightSeen = false;
    ForEachWord(text, ", \t", [&](std::string_view word) {
        if (!shapeSeen) {
            if (EqualsIgnoreCase(word, "spot") || EqualsIgnoreCase(word, "bloom")) {
                marker.shape = EqualsIgnoreCase(word, "bloom") ? 1 : 0;
                shapeSeen = true;
                return;
            }
            if (IsOtherShapeWord(word)) {
                marker.otherShapeWord = true;
                shapeSeen = true;
                return;
            }
        }
        if (!weightSeen) {
            if (const WeightWord* weight = FindWeightWord(word)) {
                marker.weightCenter = weight->weightCenter;
                weightSeen = true;
                return;
            }
        }
        AppendWord(keywords, word);
    });
    return keywords;
}

// ---------------------------------------------------------------------------
// LineReader
// ---------------------------------------------------------------------------

struct FileCloser {
    void operator()(FILE* f) const {
        if (f) std::fclose(f);
    }
};

// Hands out the file's lines without their '\n' (and without a '\r' before
// it). A line longer than kMaxSessionLineBytes is dropped as it streams past.
struct LineReader {
    std::unique_ptr<FILE, FileCloser> file;
    std::vector<char> buffer = std::vector<char>(size_t(1) << 16);
    size_t pos = 0;
    size_t len = 0;
    bool atEnd = false;
    bool failed = false;
    size_t skippedLines = 0;
};

bool Refill(LineReader& r) {
    if (r.atEnd) return false;
    r.len = std::fread(r.buffer.data(), 1, r.buffer.size(), r.file.get());
    r.pos = 0;
    if (r.len < r.buffer.size()) {
        r.atEnd = true;
        if (std::ferror(r.file.get())) r.failed = true;
    }
    return r.len > 0;
}

bool NextLine(LineReader& r, std::string& line) {
    line.clear();
    bool started = false, tooLong = false;
    for (;;) {
        if (r.pos == r.len && !Refill(r)) {
            if (!started || tooLong) return false;
            break;  // a last line without '\n'
        }
        const char* begin = r.buffer.data() + r.pos;
        const size_t avail = r.len - r.pos;
        const char* newline = static_cast<const char*>(std::memchr(begin, '\n', avail));
        const size_t take = newline ? static_cast<size_t>(newline - begin) : avail;
        started = true;
        if (!tooLong) {
            if (line.size() + take > kMaxSessionLineBytes) {
                tooLong = true;
                line.clear();
                line.shrink_to_fit();
            } else {
                line.append(begin, take);
            }
        }
        r.pos += take + (newline ? 1 : 0);
        if (!newline) continue;
        if (!tooLong) break;
        ++r.skippedLines;
        started = tooLong = false;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// ---------------------------------------------------------------------------
// MarkerSection
// ---------------------------------------------------------------------------

// Where a row's fields are (0-based). Exports write either six columns
// ("#, LOCATION, TIME REFERENCE, UNITS, NAME, COMMENTS") or eight, with
// "TRACK NAME" and "TRACK TYPE" before the comments; the header row names
// them. Without names the eight-column places hold.
struct MarkerColumns {
    size_t location = 1;
    size_t timeReference = 2;
    size_t name = 4;
    size_t comments = 7;
};

struct SectionState {
    double sampleRate = 48000;
    double frameRate = 25;
    bool inMarkers = false;
    bool headerSeen = false;
    MarkerColumns columns;
};

// Seconds of a marker row: the sample count when the time-reference column
// holds one, else the location timecode. Negative when the row has no usable
// time (not finite, before 0 or beyond 24 h).
double MarkerRowTime(const SectionState& s, std::string_view location, std::string_view timeReference) {
    double time = 0;
    int64_t samples = 0;
    if (ReadSampleCount(timeReference, samples) && s.sampleRate >= 1) {
        time = static_cast<double>(samples) / s.sampleRate;
    } else {
        long v[4] = {0, 0, 0, 0};
        if (ScanLocation(location, v) >= 3) {
            const double rate = s.frameRate > 0 ? s.frameRate : 25.0;
            time = v[0] * 3600.0 + v[1] * 60.0 + static_cast<double>(v[2]) + v[3] / rate;
        }
    }
    if (!std::isfinite(time) || time < 0 || time > kMaxMarkerTime) return -1;
    return time;
}

// The tab-separated fields of a row, trimmed.
void SplitRow(std::string_view line, std::vector<std::string_view>& fields) {
    fields.clear();
    size_t i = 0;
    for (;;) {
        const size_t tab = line.find('\t', i);
        fields.push_back(TrimmedView(line.substr(i, tab == std::string_view::npos ? std::string_view::npos : tab - i)));
        if (tab == std::string_view::npos) return;
        i = tab + 1;
    }
}

// The columns the header row names; each one it does not name keeps its place.
MarkerColumns ReadHeaderColumns(const std::vector<std::string_view>& header) {
    MarkerColumns columns;
    for (size_t i = 0; i < header.size(); ++i) {
        if (EqualsIgnoreCase(header[i], "LOCATION")) columns.location = i;
        else if (EqualsIgnoreCase(header[i], "TIME REFERENCE")) columns.timeReference = i;
        else if (EqualsIgnoreCase(header[i], "NAME")) columns.name = i;
        else if (EqualsIgnoreCase(header[i], "COMMENTS")) columns.comments = i;
    }
    return columns;
}

std::string_view FieldAt(const std::vector<std::string_view>& fields, size_t index) {
    return index < fields.size() ? fields[index] : std::string_view();
}

// One row of the markers table into a scene or a marker; false when skipped.
bool ReadMarkerRow(const SectionState& s, const std::vector<std::string_view>& fields,
                   const std::vector<std::string>& knownNames, std::vector<MarkerEvent>& markers,
                   std::vector<MarkerScene>* scenes) {
    if (fields.size() < 5) return false;
    const MarkerColumns& c = s.columns;
    std::string name = CleanText(FieldAt(fields, c.name));
    TrimWhitespace(name);  // again: removing NUL bytes may have bared blanks
    if (name.empty()) return false;
    const double time = MarkerRowTime(s, FieldAt(fields, c.location), FieldAt(fields, c.timeReference));
    if (time < 0) return false;
    std::string comments = CleanText(FieldAt(fields, c.comments));
    TrimWhitespace(comments);

    const std::vector<std::string_view> parts = SplitCommaParts(name);
    if (scenes && EqualsIgnoreCase(parts[0], "scene")) {
        MarkerScene scene;
        scene.time = static_cast<float>(time);
        if (parts.size() > 1) CopyTextField(scene.name, parts[1]);
        std::string keywords;
        for (size_t i = 2; i < parts.size(); ++i) AppendWord(keywords, parts[i]);
        AppendWord(keywords, comments);
        CopyTextField(scene.keywords, keywords);
        scenes->push_back(scene);
        return true;
    }

    MarkerEvent marker;
    std::string keywords = MatchNameWords(name, knownNames, marker);
    marker.time = static_cast<float>(time);
    marker.accepted = true;
    CopyTextField(marker.name, name);
    AppendWord(keywords, comments);
    CopyTextField(marker.keywords, keywords);
    markers.push_back(marker);
    return true;
}

}  // namespace

void MatchMarkerName(std::string_view text, const std::vector<std::string>& knownNames, MarkerEvent& marker) {
    const std::string keywords = MatchNameWords(CleanText(text), knownNames, marker);
    CopyTextField(marker.keywords, keywords);
}

// ---------------------------------------------------------------------------
// ImportSessionMarkers
// ---------------------------------------------------------------------------

bool ImportSessionMarkers(const std::string& path, float fps, std::vector<MarkerEvent>& markers,
                          std::vector<MarkerScene>* scenes, const std::vector<std::string>& knownNames) {
    markers.clear();
    if (scenes) scenes->clear();
    LineReader reader;
    std::string problem;
    reader.file.reset(OpenRegularFileStream(path, &problem));
    if (!reader.file) {
        std::printf("[Markers] %s (%s)\n", problem.c_str(), path.c_str());
        return false;
    }

    SectionState s;
    s.frameRate = (fps > 0 && std::isfinite(fps)) ? fps : 25.0;
    std::string line;
    std::vector<std::string_view> fields;
    bool limitReached = false;
    while (NextLine(reader, line)) {
        const std::string_view text = line;
        double value = 0;
        if (Contains(text, "SAMPLE RATE:")) {
            // Rates beyond any real session (or not numbers) keep the previous one.
            if (ScanFloat(text.substr(text.find(':') + 1), value) && value > 0 && std::isfinite(value) &&
                value <= kMaxSampleRate)
                s.sampleRate = std::trunc(value);
        }
        if (Contains(text, "TIMECODE FORMAT:")) {
            if (ScanFloat(TrimmedView(text.substr(text.find(':') + 1)), value) && value > 0 &&
                std::isfinite(value) && value <= kMaxTimecodeRate)
                s.frameRate = value;
        }
        if (Contains(text, "M A R K E R S  L I S T I N G") || Contains(text, "MARKERS LISTING")) {
            s.inMarkers = true;
            s.headerSeen = false;
            continue;
        }
        if (!s.inMarkers) continue;
        if (!text.empty() &&
            (Contains(text, "T R A C K") || Contains(text, "P L U G-I N S") || Contains(text, "O N L I N E")))
            break;
        SplitRow(text, fields);
        if (!s.headerSeen) {
            if (Contains(text, "#") && Contains(text, "LOCATION")) {
                s.headerSeen = true;
                s.columns = ReadHeaderColumns(fields);
            }
            continue;
        }
        ReadMarkerRow(s, fields, knownNames, markers, scenes);
        if (markers.size() + (scenes ? scenes->size() : 0) >= kMaxSessionMarkers) {
            limitReached = true;
            break;
        }
    }

    if (reader.failed) {
        std::printf("[Markers] Read error in %s\n", path.c_str());
        markers.clear();
        if (scenes) scenes->clear();
        return false;
    }
    if (reader.skippedLines > 0)
        std::printf("[Markers] Skipped %zu lines longer than %zu bytes\n", reader.skippedLines, kMaxSessionLineBytes);
    if (limitReached) std::printf("[Markers] Stopped at %zu markers and scenes\n", kMaxSessionMarkers);
    std::printf("[Markers] Imported %zu markers and %zu scenes from %s\n", markers.size(),
                scenes ? scenes->size() : size_t(0), path.c_str());
    return true;
}
