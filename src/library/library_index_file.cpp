// library_index_file.cpp — writing and reading ".tllib" index files.
//
// Index
//   Numeric columns         the 27 numeric columns in file order, shared by writer and reader
//   Number text             locale-free formatting and lenient parsing
//   Escaping                backslash escapes of path, name and description
//   Paths and header checks LibraryIndexFilePath, LibraryIndexHeaderProblem
//   Writing                 WriteLibraryIndexFile, LibraryIndexText
//   Reading                 ReadLibraryIndexFile, ReadLibraryIndexText (split in place)
//   KeepIndexedPrecision    an entry's numbers as its index line gives them back
//   SaveLibraryIndex        a library's file in its index folder
#include "library/library_index_file.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <system_error>
#include <type_traits>

#include "library/file_registry.h"
#include "library/sound_library.h"
#include "platform/file_names.h"
#include "platform/file_util.h"

namespace {

constexpr std::string_view kVersionPrefix = "# Tessaloom SFX Library v";
constexpr std::string_view kFolderPrefix = "# folder: ";
constexpr std::string_view kFilesPrefix = "# files: ";
constexpr std::string_view kScannedPrefix = "# scanned: ";
constexpr std::string_view kSavedPalettePrefix = "# savedPalette: ";
constexpr std::string_view kPreviousNamePrefix = "# previousName: ";
constexpr std::string_view kIncompletePrefix = "# incomplete: ";
constexpr int kWrittenVersion = 4;

// ---------------------------------------------------------------------------
// Numeric columns
// ---------------------------------------------------------------------------

// Calls visit(field, neutralValue) for columns 3 to 29 in file order. The
// neutral value stands in for a float that is not finite: such a value is
// never written as "nan" and never read back into the analysis.
template <class Entry, class Visit>
void VisitNumericColumns(Entry& e, Visit&& visit) {
    visit(e.duration, 0.0f);
    visit(e.sampleRate, 0.0f);
    visit(e.channels, 0.0f);
    visit(e.bits, 0.0f);
    for (auto& band : e.bandEnergy)
        visit(band, 0.0f);
    visit(e.brightness, 0.5f);
    visit(e.highFreqRatio, 0.0f);
    visit(e.bandCentroid, 0.5f);
    visit(e.crestDb, 0.0f);
    visit(e.peakPosition, 0.0f);
    visit(e.zeroCrossingRate, 0.0f);
    visit(e.dynamicsDb, 0.0f);
    visit(e.rmsDb, -100.0f);
    visit(e.temporalCentroid, 0.5f);
    visit(e.spectralFlux, 0.0f);
    visit(e.pitchHz, 0.0f);
    visit(e.midiNote, 0.0f);
    visit(e.pitchCents, 0.0f);
    visit(e.pitchConfidence, 0.0f);
    visit(e.spectralFlatness, 0.0f);
    visit(e.harmonicity, 0.0f);
    visit(e.onsetPosition, 0.0f);
    visit(e.attackTime, 0.0f);
}

// ---------------------------------------------------------------------------
// Number text
// ---------------------------------------------------------------------------

// General notation with 6 significant digits ("%g" without the locale):
// 0.5, 48000, -100, 1e-05, 1.23457e+06.
void AppendFloat(std::string& out, float value, float neutral) {
    if (!std::isfinite(value))
        value = neutral;
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                std::chars_format::general, 6);
    out.append(buffer, result.ptr);
}

template <class Int>
void AppendInteger(std::string& out, Int value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void AppendHash(std::string& out, uint64_t value) {
    static const char kDigits[] = "0123456789abcdef";
    char buffer[16];
    for (int i = 15; i >= 0; --i) {
        buffer[i] = kDigits[value & 0xF];
        value >>= 4;
    }
    out.append(buffer, 16);
}

// from_chars does not take a leading '+'; the writer never emits one, but a
// hand-edited file may.
std::string_view SkipPlus(std::string_view text) {
    if (text.size() >= 2 && text[0] == '+' && text[1] != '-' && text[1] != '+')
        text.remove_prefix(1);
    return text;
}

// The leading number of a field, 0 when there is none or it is out of range;
// anything after the number is ignored.
float ParseFloatField(std::string_view text, float neutral) {
    text = SkipPlus(text);
    float value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value,
                                  std::chars_format::general);
    if (result.ec != std::errc())
        return 0;
    return std::isfinite(value) ? value : neutral;
}

// Signed columns take a sign; hash and size must begin with a digit.
template <class Int>
Int ParseIntegerField(std::string_view text, int base = 10) {
    if constexpr (std::is_signed_v<Int>)
        text = SkipPlus(text);
    Int value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return result.ec == std::errc() ? value : Int(0);
}

// Header numbers: leading blanks skipped; false when no number follows.
template <class Int>
bool ParseHeaderInteger(std::string_view text, Int& out) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    text = SkipPlus(text);
    Int value = 0;
    auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc())
        return false;
    out = value;
    return true;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && std::memcmp(text.data(), prefix.data(), prefix.size()) == 0;
}

// ---------------------------------------------------------------------------
// Escaping
// ---------------------------------------------------------------------------

bool NeedsEscape(char c) {
    return c == '\\' || c == '\t' || c == '\n' || c == '\r';
}

void AppendEscaped(std::string& out, std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!NeedsEscape(c))
            continue;
        out.append(text.data() + start, i - start);
        out.push_back('\\');
        out.push_back(c == '\\' ? '\\' : c == '\t' ? 't' : c == '\n' ? 'n' : 'r');
        start = i + 1;
    }
    out.append(text.data() + start, text.size() - start);
}

void AppendUnescaped(std::string& out, std::string_view text) {
    if (text.empty())
        return;  // data() may be null, which memchr must not see
    const char* slash = static_cast<const char*>(std::memchr(text.data(), '\\', text.size()));
    if (slash == nullptr) {
        out.append(text);
        return;
    }
    out.reserve(out.size() + text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            const char next = text[i + 1];
            const char mapped = next == '\\' ? '\\' : next == 't' ? '\t' : next == 'n' ? '\n'
                              : next == 'r' ? '\r' : 0;
            if (mapped != 0) {
                out.push_back(mapped);
                ++i;
                continue;
            }
        }
        // Any other backslash stays, and the byte after it is read normally.
        out.push_back(c);
    }
}

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

bool HasControlCharacter(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

// Every index-file write of the process goes through this lock so that a
// scan checkpoint and a rewrite from the UI thread, which share the same
// "<path>.tmp", never interleave. Held only around the durable write.
std::mutex gIndexWriteMutex;

}  // namespace

std::string EscapeIndexField(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendEscaped(out, text);
    return out;
}

std::string UnescapeIndexField(std::string_view text) {
    std::string out;
    AppendUnescaped(out, text);
    return out;
}

// ---------------------------------------------------------------------------
// Paths and header checks
// ---------------------------------------------------------------------------

std::string LibraryIndexFilePath(const std::string& indexFolder, const std::string& name) {
    if (indexFolder.empty() || !FileNameProblem(name).empty()) return std::string();
    return indexFolder + "/" + name + kLibraryIndexExtension;
}

std::string LibraryIndexHeaderProblem(const LibraryIndex& index) {
    if (HasLineBreak(index.path))
        return "The folder name of library \"" + index.name +
               "\" contains a line break; its index file cannot be written.";
    for (const std::string& previous : index.previousNames)
        if (HasLineBreak(previous))
            return "A former name of library \"" + index.name +
                   "\" contains a line break; its index file cannot be written.";
    return std::string();
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

bool WriteLibraryIndexFile(const LibraryIndex& index, const std::string& path, std::string* error) {
    auto fail = [&](std::string message) {
        std::printf("[Library] %s\n", message.c_str());
        if (error != nullptr)
            *error = std::move(message);
        return false;
    };
    if (path.empty())
        return fail("No path for the index file of library \"" + index.name + "\".");
    std::string problem = LibraryIndexHeaderProblem(index);
    if (!problem.empty())
        return fail(std::move(problem));

    const std::string text = LibraryIndexText(index);
    bool written;
    {
        std::lock_guard<std::mutex> lock(gIndexWriteMutex);
        written = WriteTextFileAtomic(path, text);
    }
    if (!written)
        return fail("Could not write the index file " + path);
    return true;
}

std::string LibraryIndexText(const LibraryIndex& index) {
    std::string text;
    // Typical lines are 250-400 bytes; one reservation avoids regrowth.
    text.reserve(256 + index.entries.size() * 400);
    text += kVersionPrefix;
    AppendInteger(text, kWrittenVersion);
    text += '\n';
    text += kFolderPrefix;
    text += index.path;
    text += '\n';
    text += kFilesPrefix;
    AppendInteger(text, static_cast<uint64_t>(index.entries.size()));
    text += '\n';
    if (index.scanTime > 0) {
        text += kScannedPrefix;
        AppendInteger(text, index.scanTime);
        text += '\n';
    }
    if (index.savedPalette != 0)
        text += "# savedPalette: 1\n";
    if (index.incomplete != 0) {
        text += kIncompletePrefix;
        text += "1\n";
    }
    for (const std::string& previous : index.previousNames) {
        text += kPreviousNamePrefix;
        text += previous;
        text += '\n';
    }

    for (const LibraryEntry& entry : index.entries) {
        AppendEscaped(text, entry.path);
        text += '\t';
        AppendEscaped(text, entry.name);
        VisitNumericColumns(entry, [&](const auto& value, float neutral) {
            text += '\t';
            if constexpr (std::is_same_v<std::decay_t<decltype(value)>, float>)
                AppendFloat(text, value, neutral);
            else
                AppendInteger(text, value);
        });
        text += '\t';
        // The id is written verbatim; one that could split the line (never
        // produced by the registry) is dropped and will be minted again.
        if (!HasControlCharacter(entry.fileId))
            text += entry.fileId;
        text += '\t';
        AppendHash(text, entry.hash);
        text += '\t';
        AppendInteger(text, entry.size);
        text += '\t';
        AppendEscaped(text, entry.description);
        text += '\n';
    }
    return text;
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

namespace {

// Whole file into memory; false when it is not a regular file (a pipe named
// "*.tllib" in the index folder must not hold up the start) or cannot be
// read. A library of a million sounds stays well below the bound.
bool ReadFileBytes(const std::string& path, std::string& out) {
    return ReadFileText(path, uint64_t(1) << 31, out) == kReadOk;
}

// Walks the TAB-separated fields of one entry line.
struct FieldCursor {
    const char* pos;
    const char* end;
    bool more = true;  // false once the line's last field has been taken

    std::string_view Next() {
        if (!more)
            return std::string_view();
        if (pos == end) {
            more = false;
            return std::string_view();
        }
        const char* tab = static_cast<const char*>(std::memchr(pos, '\t', static_cast<size_t>(end - pos)));
        const char* stop = tab != nullptr ? tab : end;
        std::string_view field(pos, static_cast<size_t>(stop - pos));
        if (tab != nullptr)
            pos = tab + 1;
        else
            more = false;
        return field;
    }
    std::string_view Rest() const {
        return more ? std::string_view(pos, static_cast<size_t>(end - pos)) : std::string_view();
    }
};

// The folder and previous-name lines are stored verbatim, and the writer
// refuses a line break in them. A CR left inside one (a file whose line ends
// were converted twice, or edited by hand) would make every later save of the
// library fail, so it is dropped on reading: a library read once can always
// be saved again.
std::string WithoutCarriageReturns(std::string_view text) {
    std::string out(text);
    std::erase(out, '\r');
    return out;
}

void ReadHeaderLine(std::string_view line, LibraryIndex& index, int& version) {
    if (StartsWith(line, kVersionPrefix)) {
        int value = 0;
        if (ParseHeaderInteger(line.substr(kVersionPrefix.size()), value))
            version = value;
    } else if (StartsWith(line, kFolderPrefix)) {
        index.path = WithoutCarriageReturns(line.substr(kFolderPrefix.size()));
    } else if (StartsWith(line, kScannedPrefix)) {
        int64_t value = 0;
        if (ParseHeaderInteger(line.substr(kScannedPrefix.size()), value))
            index.scanTime = value;
    } else if (StartsWith(line, kSavedPalettePrefix)) {
        index.savedPalette = 1;
    } else if (StartsWith(line, kIncompletePrefix)) {
        index.incomplete = 1;
    } else if (StartsWith(line, kPreviousNamePrefix)) {
        index.previousNames.push_back(WithoutCarriageReturns(line.substr(kPreviousNamePrefix.size())));
    }
}

void ReadEntryLine(std::string_view line, int version, LibraryIndex& index, FileRegistry& registry) {
    FieldCursor cursor{line.data(), line.data() + line.size()};
    LibraryEntry entry;
    AppendUnescaped(entry.path, cursor.Next());
    if (entry.path.empty())
        return;
    AppendUnescaped(entry.name, cursor.Next());
    VisitNumericColumns(entry, [&](auto& value, float neutral) {
        const std::string_view field = cursor.Next();
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, float>)
            value = ParseFloatField(field, neutral);
        else
            value = ParseIntegerField<int32_t>(field);
    });
    if (version >= 4) {
        entry.fileId.assign(cursor.Next());
        entry.hash = ParseIntegerField<uint64_t>(cursor.Next(), 16);
        entry.size = ParseIntegerField<uint64_t>(cursor.Next());
    }
    AppendUnescaped(entry.description, cursor.Rest());
    if (!entry.fileId.empty())
        registry.RegisterFileRef(FileRef{entry.fileId, entry.path, entry.hash, entry.size});
    index.entries.push_back(std::move(entry));
}

std::string IndexNameFromPath(const std::string& path) {
    std::filesystem::path file(path);
    std::string name = file.filename().string();
    const std::string_view extension = kLibraryIndexExtension;
    if (name.size() > extension.size() &&
        name.compare(name.size() - extension.size(), extension.size(), extension) == 0)
        name.resize(name.size() - extension.size());
    else
        name = file.stem().string();
    return name;
}

}  // namespace

bool ReadLibraryIndexFile(const std::string& path, LibraryIndex& index) {
    std::string bytes;
    if (path.empty() || !ReadFileBytes(path, bytes))
        return false;
    return ReadLibraryIndexText(bytes, path, index);
}

bool ReadLibraryIndexText(std::string_view bytes, const std::string& path, LibraryIndex& index) {
    FileRegistry& registry = FileRegistry::Instance();
    index.entries.clear();
    int version = 3;

    std::string_view rest(bytes);
    // A byte-order mark from a Windows editor would otherwise turn the first
    // header line into a bogus entry and hide the version.
    if (StartsWith(rest, "\xEF\xBB\xBF"))
        rest.remove_prefix(3);
    while (!rest.empty()) {
        const size_t feed = rest.find('\n');
        std::string_view line = rest.substr(0, feed);
        rest.remove_prefix(feed == std::string_view::npos ? rest.size() : feed + 1);
        // One CR per line: a file saved with Windows line ends reads the same.
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty() || line.front() == '#') {
            ReadHeaderLine(line, index, version);
            continue;
        }
        try {
            ReadEntryLine(line, version, index, registry);
        } catch (const std::exception& failure) {
            // Only allocation can fail here; that line is dropped alone.
            std::printf("[Library] Skipped a line of %s: %s\n", path.c_str(), failure.what());
        }
    }

    index.name = IndexNameFromPath(path);
    return !index.entries.empty() || !index.path.empty();
}

// ---------------------------------------------------------------------------
// KeepIndexedPrecision
// ---------------------------------------------------------------------------

void KeepIndexedPrecision(LibraryEntry& entry) {
    std::string text;
    VisitNumericColumns(entry, [&](auto& value, float neutral) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, float>) {
            text.clear();
            AppendFloat(text, value, neutral);
            value = ParseFloatField(text, neutral);
        }
    });
}

// ---------------------------------------------------------------------------
// SaveLibraryIndex
// ---------------------------------------------------------------------------

bool SaveLibraryIndex(const SoundLibrary& library, const LibraryIndex& index) {
    if (library.indexFolder.empty()) return false;
    const std::string path = LibraryIndexFilePath(library.indexFolder, index.name);
    std::string error;
    if (!path.empty() && WriteLibraryIndexFile(index, path, &error)) return true;
    std::printf("[Library] could not write the index of \"%s\": %s\n", index.name.c_str(),
                error.empty() ? "its name cannot be a file name" : error.c_str());
    return false;
}
