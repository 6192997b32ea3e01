// library_scan.h — turning a folder into a library on a background thread.
//
// Index
//   IsSupportedAudioExtension   the seven extensions a scan indexes
//   kNoAudioFilesFound          the final status of a scan that found nothing to index
//   LibraryNameForFolder        the name a scan of a folder will give its library
//   StartLibraryScan            UI thread: start the scan thread for a folder
//   ScanLibraryFolder           the thread body (walk, analyse, checkpoint, hand over)
//
// The scan thread writes only its own library, the progress atomics, the
// scan texts (through their guarded accessors), its index file and, at the
// end, `finishedScans` under `scanMutex`. The UI stops a scan by storing 0
// into `scanRunning`.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

struct SoundLibrary;
struct ScanRequest;

bool IsSupportedAudioExtension(std::string_view extension);

// The final status of a scan whose walk found no file it takes; the
// library panel's note of that folder says it too.
inline constexpr const char* kNoAudioFilesFound = "No audio files found.";

// The stem of the folder's last real component (trailing separators
// ignored; a folder with no name component gets "Library"). When a library
// already has this folder, its name (a rescan replaces it in place);
// otherwise the stem made unique among the libraries, palettes, finished
// scans and index files ("Doors", "Doors 2", ...).
std::string LibraryNameForFolder(SoundLibrary& library, const std::string& folder);

// Does nothing while a scan runs. Returns false when no scan was started
// (one is running, or the thread could not be created).
bool StartLibraryScan(SoundLibrary& library, const std::string& folder, uint8_t enabled, int32_t group);

// The thread body; owns and frees the request. `name` is the library name
// chosen when the scan started.
void ScanLibraryFolder(ScanRequest* request, std::string name);

