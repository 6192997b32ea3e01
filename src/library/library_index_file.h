// library_index_file.h — the ".tllib" text file that keeps one library between runs.
//
// Index
//   kLibraryIndexExtension      ".tllib"
//   LibraryIndexFilePath        indexFolder + "/" + name + ".tllib" (empty when unusable)
//   LibraryIndexHeaderProblem   why a library's header cannot be written (empty = fine)
//   WriteLibraryIndexFile       whole file built in memory, one durable replace
//   SaveLibraryIndex            one library's index file written into the library's index folder
//   LibraryIndexText            the text the writer writes
//   ReadLibraryIndexFile        lenient reader of versions 3 and 4
//   ReadLibraryIndexText        the same reader on text already in memory
//   EscapeIndexField / UnescapeIndexField   backslash escapes of the text columns
//   KeepIndexedPrecision        an entry's numbers rounded to what its index line keeps
//
// Format: header lines starting with "#", then one line per entry with 33
// TAB-separated columns (30 in version 3). Numbers are written and read
// without the process locale. Files written on Windows (CR LF) read the same.
#pragma once

#include <string>
#include <string_view>

struct LibraryEntry;
struct LibraryIndex;
struct SoundLibrary;

inline constexpr const char* kLibraryIndexExtension = ".tllib";

// indexFolder + "/" + name + ".tllib". Empty when the folder is empty or
// FileNameProblem refuses the name; callers then write nothing.
std::string LibraryIndexFilePath(const std::string& indexFolder, const std::string& name);

// The folder line and the previous-name lines are written verbatim, so a
// line break in them would split the header. Returns a message for the user
// naming the problem, or empty when the header can be written.
std::string LibraryIndexHeaderProblem(const LibraryIndex& index);

// Writes `index` to `path` through "<path>.tmp" and an atomic rename; writers
// of this process are serialised, so two of them never mix their files.
// False (with a reason in *error when given) when the header is refused or
// the write failed; the old file then stays as it was.
bool WriteLibraryIndexFile(const LibraryIndex& index, const std::string& path,
                           std::string* error = nullptr);

// Writes `index` to indexFolder + "/" + name + ".tllib". False (and logged)
// when there is no index folder, the name cannot be a file name, or the
// write failed; the library then lives in memory only.
bool SaveLibraryIndex(const SoundLibrary& library, const LibraryIndex& index);

// The whole file text of `index` (header lines verbatim, unchecked).
std::string LibraryIndexText(const LibraryIndex& index);

// Fills `index` from the file. False, with `index` untouched, when the file
// cannot be read; false also when it yields neither entries nor a folder.
// Entries with ids are registered with the file registry.
bool ReadLibraryIndexFile(const std::string& path, LibraryIndex& index);
// Reads the text of an index file that was stored at `path` (which gives the
// library its name); otherwise as ReadLibraryIndexFile.
bool ReadLibraryIndexText(std::string_view bytes, const std::string& path, LibraryIndex& index);

std::string EscapeIndexField(std::string_view text);
std::string UnescapeIndexField(std::string_view text);

// Rounds every number of `entry` to what its index line keeps (six
// significant digits, a value that is not finite as the column's neutral
// value): exactly what reading the written line back gives. A library
// analysed in this run then holds the values the same library read from its
// file holds in the next run, so weights and scores taken from it do not
// depend on whether the library was scanned or loaded.
void KeepIndexedPrecision(LibraryEntry& entry);
