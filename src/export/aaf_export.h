// aaf_export.h — the AAF step of an export: the session folder with its
// "Audio Files" (one mono 24-bit broadcast WAV per clip channel, linked, never
// embedded) and the clip list that the session writer turns into the ".aaf".
//
// Index
//   AafSessionWriter / ProgramAafSessionWriter   the two session-writer entry points behind one call
//   AafSessionName          the session's folder name
//   WriteAafExport          the whole step: folders, lanes, essence, markers, reverb returns, session
//   ChannelFileSuffix       ".L", ".R", ".C", ... or ".1" ... of one channel of a file
//   AafClipNameLess         byte-wise order of essence paths (the extended writer's map)
//   AafCleanFileName        a name made safe as part of an essence file name
//   AafTrackLabel / AafEssencePrefix   how a result's essence file names begin
//   AafClipTiming           rate, project start and frame snapping of one export
//   AafResultClip           what the current result gives each of its entries
//   AafVoiceGainCurve       a voice's volume automation as 64 points
//   AppendAafClip           one entry for a written essence file
//   AppendAafFillChunkClips one entry per fill chunk, all in one whole-source file
//   TruncateAafClipList     take entries back
//   AafMarkerLabel          "<shape>,<duration>[,<keywords>]"
//
// The step runs on the export thread with the voices pinned (RunExportJob);
// a rendered essence of a voice the streaming window released is decoded for
// its file and let go, and the reverb returns hold a window's voices at a
// time (export_voices.h). Every file and folder it makes is in its rollback from the
// moment it exists; unless the session is written, they are all removed.
// Positions are sample counts at the export rate with the project start
// (fraction included) added; each essence file's time reference is taken from
// the same sample count as the position of its clips, so the two agree. A
// time reference cannot be negative: an essence of a source region or of
// rendered audio leaves out its frames before 00:00 (its clip's source offset
// counts from what is left); a whole source file of a fill stays whole.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "export/aaf_clip_list.h"
#include "export/export_records.h"

struct Event;
struct FillChunk;
struct PlaybackVoice;
struct Project;
struct RenderResult;

// Writes `list` as a session at `aafPath`: ExportAafSessionExtended when
// `extended`, else ExportAafSession (no source offsets, no fades). True when
// the file was saved. Tests put a fake here to capture the list.
using AafSessionWriter =
    std::function<bool(const std::string& aafPath, const AafClipList& list, int32_t sampleRate, bool extended)>;
AafSessionWriter ProgramAafSessionWriter();

// The session's name, which names its folder: the job's base name (else
// the output folder's last component, else "Tessaloom"), cut at a character
// boundary to 255 bytes. The session file in it is AafFileName of it.
std::string AafSessionName(const ExportJob& job);

// The AAF step of `job`: true when the session file was written (the
// rollback is then committed). False when no result gave a clip, a folder
// could not be made, the session's name fails FileNameProblem (nothing is then
// written), or the session writer failed; everything this call made is
// removed again and an earlier ".aaf" of the same name is gone.
bool WriteAafExport(const ExportJob& job, const Project& project, const AudioEngine& engine,
                    const AafSessionWriter& writer = ProgramAafSessionWriter());

// "" for one channel; ".L"/".R" for two; ".L", ".R", ".C", ".LFE", ".Ls",
// ".Rs", ".Lrs", ".Rrs" for three to eight; ".1" ... for more.
std::string ChannelFileSuffix(int channel, int channelCount);

// Byte-wise (unsigned) less-than; on a common prefix the shorter is less.
// std::string's own order.
bool AafClipNameLess(const std::string& a, const std::string& b);

// '/', '\', ':', '*', '?', '"', '<', '>', '|' and control characters become '_'.
std::string AafCleanFileName(const std::string& name);

// The label that begins a result's essence file names: its group's name
// ("T" for none) and its track in the group from 1, cleaned ("FX A3").
std::string AafTrackLabel(const ExportJob& job, const RenderResult& result);
// "<label>_<iii>_": what every essence file name of the result at `index`
// begins with.
std::string AafEssencePrefix(const std::string& trackLabel, size_t index);

struct AafClipTiming {
    int32_t sampleRate = 48000;
    int64_t startOffsetSamples = 0;  // the project start, fraction of a second included
    bool snap = false;
    float samplesPerFrame = 0;  // rate / fps, 0 without a frame rate

    int64_t Snap(int64_t x) const;
    // trunc(rate x seconds) + the project start, snapped; 64-bit throughout.
    int64_t TimelineSamples(double seconds) const;
};

struct AafResultClip {
    int64_t position = 0;   // timeline position of the voice (start + deconfliction offset), snapped
    int64_t fillStart = 0;  // a fill's start without the deconfliction offset, snapped
    int64_t length = 0;     // the voice's sample count, snapped
    int32_t sampleCount = 0;
    int64_t chunkBase = 0;  // where a fill's chunk plan begins in its source file (its source offset)
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    AafGainCurve curve;
    float gain = 1.0f;  // the voice's gain x normGain x eventGain
    const FillChunk* chunks = nullptr;
    int32_t chunkCount = 0;
};

// Not present when `volAuto` is off or the voice has no gain curve;
// otherwise its curves as the exported clips carry them (the stored
// intensity, the fill curve over its event, the deconfliction curve:
// VoiceCurvesOf), at 64 points spread over the voice's length.
AafGainCurve AafVoiceGainCurve(const PlaybackVoice& voice, bool volAuto);

// Appends one entry for the file at `path`, whose frame `handleSamples` is
// the clip's first. A negative `handleSamples` (a file that begins that many
// samples after the clip's start) moves the clip's start and shortens it by
// as much. The clip never reaches past the file's end (a voice pitched down
// is longer than its source region); false when nothing of the file is left
// for it.
bool AppendAafClip(AafClipList& list, const AafResultClip& clip, const std::string& path,
                   const std::string& fileName, int64_t fileFrames, int64_t handleSamples, int32_t aafTrack);

// One entry per chunk of the fill's plan (chunks shorter than a sample
// skipped), each overlapping the one before by its crossfade; the first
// takes the fade-in, the one that reaches the voice's end is cut there and
// takes the fade-out. The gain curve is re-sampled over each chunk. Returns
// the number of entries appended.
int AppendAafFillChunkClips(AafClipList& list, const AafClipTiming& timing, const AafResultClip& clip,
                            const std::string& path, const std::string& fileName, int64_t sourceFrames,
                            int32_t aafTrack);

// Shortens every parallel vector of the entries to `count` entries.
void TruncateAafClipList(AafClipList& list, size_t count);

// The event's user shape name (else its shape's), its duration "%.1f" and,
// when it has any, its keywords, separated by commas.
std::string AafMarkerLabel(const Project& project, const Event& event);
