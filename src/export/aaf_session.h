// aaf_session.h — the AAF session writer: the ".aaf" file an editing system
// opens as the designer's session. One file source mob and one master mob
// per essence file (linked, never embedded), one top-level composition with
// a timecode track, one mono sound track per clip-list track (fillers,
// clips, fades and crossfades as dissolves, clip gain and gain curves as gain
// effects) and an optional marker track.
//
// Index
//   AafSession                 the open file, its header, dictionary and Sound definition
//   ExportAafSession           one mob pair per clip entry; no source offsets, no fades
//   ExportAafSessionExtended   one mob pair per essence path; source offsets and fades
//   OpenAafFile                load the runtime (once), open the file, header, dictionary
//   CreateAafSourceMobs        file source mob and master mob of one essence file
//   BuildAafComposition        the composition (aaf_composition.cpp)
//   AddAafMarkerSlot           the marker track (aaf_composition.cpp)
//   MakeAafFileLocator         path -> "file://" URL
//   Utf8ToAafString            UTF-8 -> zero-terminated UTF-16
//
// Both writers return true when the file was saved and closed. Any failing
// call, of the runtime or of the object building, fails the session: nothing
// is saved, a file of the same path stays as it was, and a line tagged
// "[AAF]" says which step failed. They run on the export thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "export/aaf_clip_list.h"
#include "export/aaf_objects.h"

struct AafSession {
    std::unique_ptr<AafFile> file;
    AafObject* header = nullptr;
    AafObject* dictionary = nullptr;
    AafObject* sound = nullptr;  // the Sound data definition
};

bool ExportAafSession(const std::string& aafPath, const std::vector<std::string>& essencePaths,
                      const std::vector<std::string>& essenceNames, const std::vector<int64_t>& positions,
                      const std::vector<int64_t>& lengths, const std::vector<int64_t>& fileLengths,
                      const std::vector<int32_t>& tracks, const std::vector<std::string>& trackNames,
                      int32_t sampleRate, const std::vector<AafMarker>& markers,
                      const std::vector<AafGainCurve>& gainCurves, const std::vector<float>& gains,
                      WriteFault* fault = nullptr);

bool ExportAafSessionExtended(const std::string& aafPath, const std::vector<std::string>& essencePaths,
                              const std::vector<std::string>& essenceNames, const std::vector<int64_t>& positions,
                              const std::vector<int64_t>& lengths, const std::vector<int64_t>& sourceOffsets,
                              const std::vector<int64_t>& fileLengths, const std::vector<int32_t>& tracks,
                              const std::vector<std::string>& trackNames, int32_t sampleRate,
                              const std::vector<int32_t>& fadeIns, const std::vector<int32_t>& fadeOuts,
                              const std::vector<AafMarker>& markers, const std::vector<AafGainCurve>& gainCurves,
                              const std::vector<float>& gains, WriteFault* fault = nullptr);

// Loads the runtime when no library is loaded (a failure is logged and
// retried by the next export), then opens a new file at `path` (UTF-8) and
// fills the session. Logs the failing step.
bool OpenAafFile(const std::string& path, AafSession* session);

// The file source mob (WAVE descriptor with its summary and locator) and the
// master mob of one mono 24-bit essence file, both added to the file.
AafStatus CreateAafSourceMobs(AafSession& session, const std::string& essencePath, const std::string& essenceName,
                              int64_t fileLength, int32_t sampleRate, AafObject** masterMob, AafMobId* masterId);

// The 44-byte WAVE header of a mono 24-bit PCM file of `fileLength` frames.
std::vector<uint8_t> AafWaveSummary(int64_t fileLength, int32_t sampleRate);

// Entries of the optional vectors that are missing count as: source offset 0,
// fade 0, gain 1, gain curve not present. The composition is added to the file.
AafStatus BuildAafComposition(AafSession& session, const std::vector<AafMobId>& masterIds,
                              const std::vector<int64_t>& positions, const std::vector<int64_t>& lengths,
                              const std::vector<int64_t>& sourceOffsets, const std::vector<int32_t>& tracks,
                              const std::vector<std::string>& trackNames, int32_t sampleRate,
                              const std::vector<int32_t>& fadeIns, const std::vector<int32_t>& fadeOuts,
                              const std::vector<AafGainCurve>& gainCurves, const std::vector<float>& gains,
                              AafObject** composition);

// An event slot of markers (positions below 0 left out), with the
// slot id after the highest one of the composition.
AafStatus AddAafMarkerSlot(AafSession& session, AafObject* composition, const std::vector<AafMarker>& markers,
                           int32_t sampleRate);

// "file://" followed by the path's bytes, each kept when it is A-Z, a-z,
// 0-9, '-', '.', '_', '~' or '/', else written as '%' and two upper-case
// hex digits: "/x/A B.wav" -> "file:///x/A%20B.wav".
std::string MakeAafFileLocator(const std::string& path);

// UTF-16 of `utf8` with its terminating 0 (c_str()); characters beyond
// U+FFFF become surrogate pairs, invalid bytes U+FFFD.
std::u16string Utf8ToAafString(const std::string& utf8);
