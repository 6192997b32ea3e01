// session_markers.h — markers of a picture editor's session exported as text.
//
// Index
//   ImportSessionMarkers   read a session text into marker and scene records
//   MatchMarkerName        shape, weight, keywords and recipe from a marker name
//
// The files come from other people's machines: the reader takes anything
// (binary, endless lines, huge counts) without crashing, stores only valid
// UTF-8 cut at character boundaries, and keeps at most kMaxSessionMarkers
// records.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "picture/marker_records.h"

// Markers and scenes together; the rest of a file past this is not read.
constexpr size_t kMaxSessionMarkers = 100000;
// Lines longer than this are skipped without being held in memory whole.
constexpr size_t kMaxSessionLineBytes = size_t(1) << 20;

// Empties `markers` (and `scenes` when given), then reads the markers section
// of the session text at `path`. `fps` is the project frame rate for
// timecodes (25 when it is not positive); the file's "TIMECODE FORMAT:"
// replaces it. `knownNames` are the recipe names a marker may name. Without a
// scene vector, scene markers become ordinary markers. The columns of the
// rows are found by the names of the table's header row ("LOCATION", "TIME
// REFERENCE", "NAME", "COMMENTS"); a name the header lacks keeps its place
// in the eight-column layout (2, 3, 5 and 8, counting from 1). Returns false when the
// file could not be opened or read (nothing is imported then); a readable
// file without markers returns true with empty vectors.
bool ImportSessionMarkers(const std::string& path, float fps, std::vector<MarkerEvent>& markers,
                          std::vector<MarkerScene>* scenes, const std::vector<std::string>& knownNames);

// Resets the marker's shape, weight centre, keywords, recipe and
// other-shape flag, then reads them from the words of `text`.
void MatchMarkerName(std::string_view text, const std::vector<std::string>& knownNames, MarkerEvent& marker);
