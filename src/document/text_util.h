// text_util.h — small text routines shared by every subsystem.
//
// Index
//   CopyTextField        copy into a fixed-size NUL-terminated field, cut at a UTF-8 boundary
//   Utf8SafeCutLength    longest prefix length <= max that ends on a character boundary
//   TextFieldView        the text of a fixed-size field, up to its NUL
//   FormatTimecode       seconds -> "HH:MM:SS:FF" at the project frame rate
//   ParseTimecode        "H:M:S[:F]" -> seconds, or -1
//   WideToUtf8 / Utf8ToWide   UTF-16 <-> UTF-8 (invalid input becomes U+FFFD)
//   ToValidUtf8          a copy whose invalid UTF-8 sequences became U+FFFD
//   ToLowerCopy / TrimWhitespace / TrimmedCopy / TrimmedView   ASCII case, blank trimming
//   Fnv1a64              FNV-1a 64 of a text (which saved file a backup extends)
//   EndsWith / ContainsString   a text's tail; a text among others, byte for byte
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct Project;

// Length of the longest prefix of `text` that is at most `maxBytes` long and
// does not split a UTF-8 sequence.
size_t Utf8SafeCutLength(std::string_view text, size_t maxBytes);

// Copies `text` into `dst[size]`, always NUL-terminated, cut at a character
// boundary when it does not fit. Returns false when the text was cut.
bool CopyTextField(char* dst, size_t size, std::string_view text);

template <size_t N>
inline bool CopyTextField(char (&dst)[N], std::string_view text) {
    return CopyTextField(dst, N, text);
}

// The text held in a fixed-size field: up to its NUL, at most N - 1 bytes
// even when a writer left no terminator.
template <size_t N>
inline std::string_view TextFieldView(const char (&field)[N]) {
    size_t n = 0;
    while (n + 1 < N && field[n] != '\0') ++n;
    return std::string_view(field, n);
}

void FormatTimecode(const Project& project, float seconds, char* out, size_t size);
float ParseTimecode(const Project& project, const char* text);

std::string WideToUtf8(const std::u16string& wide);
std::u16string Utf8ToWide(const std::string& utf8);

// Text from outside the program (other people's files) before it is stored.
std::string ToValidUtf8(std::string_view text);

// ASCII lower-case copy; other bytes are kept.
std::string ToLowerCopy(std::string_view text);
// Removes leading and trailing " \t\r\n"; all white space leaves "".
void TrimWhitespace(std::string& text);
std::string TrimmedCopy(std::string_view text);
std::string_view TrimmedView(std::string_view text);

// FNV-1a 64 over every byte of `text`.
uint64_t Fnv1a64(std::string_view text);

// True when `text` ends with `tail`, byte for byte (no case folding).
bool EndsWith(std::string_view text, std::string_view tail);
// True when `text` equals one of `texts` byte for byte (an event's pinned
// files, for instance).
bool ContainsString(const std::vector<std::string>& texts, std::string_view text);
