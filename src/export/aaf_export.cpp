// aaf_export.cpp — the AAF step of an export: folders, track lanes, essence
// files by case, markers, reverb returns and the session.
//
// Index
//   ProgramAafSessionWriter
//   AafExportRun          what one call works on: job, document, voices, list, rollback
//   Essence files         WriteEssence, CaseMark / TakeBack, RemoveFilesWithoutClips
//   Track maps            NameTracks, LayOutLanes
//   Essence cases         StreamEssences (a source region into essence files as it is read),
//                         A1 fill source per channel, A2 source per channel,
//                         B1 fill source, B2 source with handles, B3 rendered
//   ExportResult          one result through the cases in order
//   Markers / ReverbReturns
//   WriteAafExport
#include "export/aaf_export.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "export/aaf_session.h"
#include "export/aaf_source_reader.h"
#include "export/bwf_writer.h"
#include "export/export_folders.h"
#include "export/export_names.h"
#include "export/export_sounds.h"
#include "export/export_voices.h"
#include "export/wav_export.h"
#include "library/sound_file_open.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "playback/engine_voices.h"
#include "playback/playing_gain.h"
#include "playback/voice_settings.h"

std::string AafSessionName(const ExportJob& job) {
    const std::string name = ExportBaseName(job.baseName, job.outDir);
    return name.substr(0, Utf8SafeCutLength(name, kMaxFileNameBytes));
}

AafSessionWriter ProgramAafSessionWriter() {
    return [](const std::string& path, const AafClipList& l, int32_t sampleRate, bool extended) {
        const std::string& aafPath = l.sessionFileAt.empty() ? path : l.sessionFileAt;
        if (extended)
            return ExportAafSessionExtended(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths,
                                            l.sourceOffsets, l.fileLengths, l.tracks, l.trackNames, sampleRate,
                                            l.fadeIns, l.fadeOuts, l.markers, l.gainCurves, l.gains, l.writeFault);
        return ExportAafSession(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths, l.fileLengths,
                                l.tracks, l.trackNames, sampleRate, l.markers, l.gainCurves, l.gains, l.writeFault);
    };
}

namespace {

// ---------------------------------------------------------------------------
// AafExportRun
// ---------------------------------------------------------------------------

struct Lane {
    int32_t aafTrack = 0;
    int32_t count = 1;
};

struct AafExportRun {
    AafExportRun(const ExportJob& j, const Project& p, const AudioEngine& e)
        : job(j), project(p), engine(e), voices(e, p.results, j.windowSeconds, j.voiceStats, j.sounds) {}

    const ExportJob& job;
    const Project& project;
    const AudioEngine& engine;
    // The samples of one rendered essence at a time, and of a window's voices
    // for the reverb returns: no result's samples are held for the whole step.
    ExportVoices voices;
    AafClipTiming timing;
    bool hasRange = false;
    std::string sessionFolder;
    std::string audioFolder;
    std::vector<int32_t> firstVoice;  // per result: its first voice, -1 for none
    std::map<int32_t, std::string> trackName;
    std::map<int32_t, Lane> lanes;
    AafClipList list;
    std::vector<std::string> written;  // essence files in the order written
    std::vector<std::string> lost;     // essence files whose write failed, in that order
    std::string aafPath;               // the session file, once it is named
    std::vector<std::string> returnsDue;  // the reverb returns, until they were tried
    ExportRollback rollback;

    // What was lost goes into the job's record, once; a stopped export
    // loses nothing the designer did not ask to stop. A step that failed
    // loses its session first, then every essence it wrote (the rollback
    // takes them back), those whose write failed and the reverb returns it
    // never came to.
    ~AafExportRun() {
        WriteFailure why = TakeWriteFailure();
        if (!job.losses || ExportCancelled(job)) return;
        const size_t before = job.losses->files.size();
        if (!rollback.committed) {
            if (!aafPath.empty()) job.losses->AddFile(aafPath);
            for (const std::string& path : written) job.losses->AddFile(path);
        }
        for (const std::string& path : lost) job.losses->AddFile(path);
        if (!rollback.committed)
            for (const std::string& path : returnsDue) job.losses->AddFile(path);
        if (job.losses->files.size() > before) job.losses->NoteWhy(std::move(why));
    }
};

// The result's first voice while the voice set is ready, else none.
const PlaybackVoice* VoiceOf(const AafExportRun& run, size_t resultIndex) {
    if (!run.engine.cacheReady.load()) return nullptr;
    const int32_t v = run.firstVoice[resultIndex];
    return v >= 0 ? &run.engine.voices[size_t(v)] : nullptr;
}

bool Qualifies(const AafExportRun& run, const RenderResult& r) {
    const std::vector<Event>& events = run.project.events;
    return !r.filepath.empty() && !LayerMuted(r, int(events.size()), events.data()) &&
           IsInExportRange(run.hasRange, run.job.rangeIn, run.job.rangeOut, r);
}

// ---------------------------------------------------------------------------
// Essence files
// ---------------------------------------------------------------------------

std::string PathOf(const AafExportRun& run, const std::string& name) { return run.audioFolder + "/" + name; }

// Writes one essence file into the audio folder, stamped with the sample
// count `reference` (the timeline sample of its first frame); a written file
// joins the rollback at once. A time reference cannot be negative, so an
// essence laid in a line from its reference loses the frames before 00:00
// (their number in *dropped): an editor that places the file by its reference
// then puts every sample where the session does. A whole source file (no
// `dropped`) is a store that fill chunks pick from, not a line: it stays whole.
bool WriteEssence(AafExportRun& run, const std::string& name, const std::vector<float>& samples, size_t frames,
                  int64_t reference, const char* description, int64_t* dropped = nullptr) {
    frames = std::min(frames, samples.size());
    size_t skip = 0;
    if (dropped && reference < 0) skip = size_t(std::min<int64_t>(-reference, int64_t(frames)));
    if (dropped) *dropped = int64_t(skip);
    frames -= skip;
    if (frames < 1 || frames > size_t(INT32_MAX)) return false;
    const std::string path = run.audioFolder + "/" + name;
    if (!WriteBWFClipMonoAtSample(path, samples.data() + skip, int32_t(frames), run.timing.sampleRate,
                                  std::max<int64_t>(0, reference), description, run.job.cancel,
                                  HeldFolderFor(run.job, path), run.job.writeFault)) {
        run.lost.push_back(path);  // taken back if another case then places the clip
        return false;
    }
    run.written.push_back(path);
    run.rollback.files.push_back(path);
    return true;
}

// A line essence (see WriteEssence) and its clip: the clip starts `lead`
// samples into the samples handed over, which begin at the timeline sample
// `reference`. Frames dropped before 00:00 come off the clip's offset; a clip
// that itself began before 00:00 then begins at 00:00, as the session would
// have cut it.
bool PlaceLineEssence(AafExportRun& run, const AafResultClip& clip, const std::string& name,
                      const std::vector<float>& samples, size_t frames, int64_t reference, int64_t lead,
                      int32_t lane, const char* description = nullptr) {
    int64_t dropped = 0;
    if (!WriteEssence(run, name, samples, frames, reference, description, &dropped)) return false;
    const int64_t kept = int64_t(std::min(frames, samples.size())) - dropped;
    return AppendAafClip(run.list, clip, PathOf(run, name), name, kept, lead - dropped, lane);
}

void ForgetFile(AafExportRun& run, const std::string& path) {
    RemoveExportFile(run.job, path);
    auto& files = run.rollback.files;
    files.erase(std::remove(files.begin(), files.end(), path), files.end());
}

// Where a case began, so that a case that does not succeed can take back
// what it appended and wrote before the next case runs.
struct CaseMark {
    size_t entries = 0;
    size_t files = 0;
    size_t lost = 0;
};

CaseMark Mark(const AafExportRun& run) {
    return {run.list.essencePaths.size(), run.written.size(), run.lost.size()};
}

void TakeBack(AafExportRun& run, const CaseMark& mark) {
    TruncateAafClipList(run.list, mark.entries);
    for (size_t f = mark.files; f < run.written.size(); ++f) ForgetFile(run, run.written[f]);
    run.written.resize(mark.files);
    run.lost.resize(mark.lost);
}

// An essence file that ended with no clip (a chunk plan that laid nothing, a
// clip with nothing of its file left) would be a stray in the session.
void RemoveFilesWithoutClips(AafExportRun& run) {
    const std::set<std::string> used(run.list.essencePaths.begin(), run.list.essencePaths.end());
    std::vector<std::string> kept;
    for (const std::string& path : run.written) {
        if (used.count(path))
            kept.push_back(path);
        else
            ForgetFile(run, path);
    }
    run.written.swap(kept);
}

// ---------------------------------------------------------------------------
// Track maps
// ---------------------------------------------------------------------------

void NameTracks(AafExportRun& run) {
    const std::vector<std::string>& groups = run.job.groupNames;
    for (const RenderResult& r : run.project.results) {
        const std::vector<Event>& events = run.project.events;
        if (r.filepath.empty() || LayerMuted(r, int(events.size()), events.data()) || run.trackName.count(r.track))
            continue;
        const bool valid = r.group >= 0 && size_t(r.group) < groups.size();
        run.trackName[r.track] = (valid ? groups[size_t(r.group)] : std::string("Track")) + " " +
                                 std::to_string(r.groupTrack + 1);
    }
}

int32_t SourceChannelCount(const std::string& path, std::map<std::string, int32_t>& known) {
    auto it = known.find(path);
    if (it != known.end()) return it->second;
    SF_INFO info{};
    int32_t channels = 1;
    if (SNDFILE* file = OpenSoundFileForReading(path, &info)) {
        channels = std::max(1, info.channels);
        sf_close(file);
    }
    known[path] = channels;
    return channels;
}

void SetTrackName(AafClipList& list, size_t index, const std::string& name) {
    if (list.trackNames.size() <= index) list.trackNames.resize(index + 1);
    list.trackNames[index] = name;
}

// Every track that gets clips gets consecutive mono lanes from AAF track 0:
// two for a stereo track, or one per channel of its widest source file in
// source-channel mode (and never fewer than two when a result is stereo, whose
// right channel goes on the second lane).
void LayOutLanes(AafExportRun& run) {
    std::map<int32_t, int32_t> entered;  // track -> lane count
    std::map<std::string, int32_t> channelsOf;
    const std::vector<RenderResult>& results = run.project.results;
    for (size_t i = 0; i < results.size(); ++i) {
        const RenderResult& r = results[i];
        if (!Qualifies(run, r)) continue;
        if (run.job.sourceChannels) {
            int32_t count = SourceChannelCount(r.filepath, channelsOf);
            if (r.stereo) count = std::max(count, 2);
            entered[r.track] = std::max(entered[r.track], count);
            continue;
        }
        const PlaybackVoice* v = VoiceOf(run, i);
        if (!v || v->sampleCount <= 0) continue;
        if (r.stereo || VoiceHoldsTwoChannels(*v))
            entered[r.track] = 2;
        else
            entered.emplace(r.track, 1);
    }
    int32_t next = 0;
    for (const auto& [track, count] : entered) {
        run.lanes[track] = {next, count};
        auto named = run.trackName.find(track);
        const std::string display = named != run.trackName.end() ? named->second : "Track " + std::to_string(track + 1);
        for (int32_t c = 0; c < count; ++c) {
            std::string name = display;
            if (run.job.sourceChannels)
                name += ChannelFileSuffix(c, count);
            else if (count == 2)
                name += c == 0 ? ".L" : ".R";
            SetTrackName(run.list, size_t(next + c), name);
        }
        next += count;
    }
}

// ---------------------------------------------------------------------------
// Essence cases
// ---------------------------------------------------------------------------

// One result on its way through the cases.
struct ResultCase {
    size_t index = 0;
    const RenderResult* result = nullptr;
    const PlaybackVoice* voice = nullptr;  // the engine's: its samples may be released
    size_t voiceIndex = 0;
    AafResultClip clip;
    int32_t aafTrack = 0;
    std::string clipName;
    std::string trackLabel;
    float handle = 0;  // seconds of handle on each side of a source region

    // "<label>_<iii>_[src_]<clip><suffix>.wav", the clip's name cut at a
    // character boundary so that the longest suffix of the file set fits.
    std::string FileName(bool source, const std::string& suffix, size_t longestSuffix) const {
        const std::string prefix = AafEssencePrefix(trackLabel, index) + (source ? "src_" : "");
        // The writer puts "<name>.tmp" in place first: that too must fit.
        const size_t fixed = prefix.size() + longestSuffix + 4 + kTempSuffixBytes;
        const size_t room = fixed < kMaxFileNameBytes ? kMaxFileNameBytes - fixed : 0;
        return prefix + clipName.substr(0, Utf8SafeCutLength(clipName, room)) + suffix + ".wav";
    }
};

size_t LongestSuffix(int channelCount) {
    size_t longest = 0;
    for (int c = 0; c < channelCount; ++c) longest = std::max(longest, ChannelFileSuffix(c, channelCount).size());
    return longest;
}

// One essence file written from a source region as the region is read.
struct StreamedFile {
    std::string name;
    int channel = 0;       // the stream's channel it takes
    int64_t frames = -1;   // written and in place; -1 when it failed (or never began)
};

// What a streamed region left: whether it was read, its lead-in, how many
// of its first frames the line files left out (before 00:00).
struct StreamedRegion {
    bool read = false;
    int32_t handle = 0;
    int64_t dropped = 0;
};

// How far a line file may be short of its clip and still be made whole with
// silence: the rounding of a region resampled to the export rate (a frame of
// an 8 kHz source is six at 48 kHz), never a sound that is shorter.
int64_t RoundingFrames(int32_t rate) { return std::max<int64_t>(16, rate / 1000); }

// Streams a region of the result's source into essence files, block by
// block: `layout(outputs)` names the files once the channel count is known
// (a file per output channel, or a mono channel twice). A line file is
// stamped `reference` minus the lead-in and loses its frames before 00:00
// (see WriteEssence); a whole-file store is stamped `reference` and stays
// whole. A line file holds at least its lead-in and `clipFrames` (the
// voice's sample count): a region that runs to its sound's end comes out of
// the resampler a frame or so short of the voice made of it, and the file
// gets silence past the sound's end, so that the clip is the voice's length.
// Each file joins the rollback as soon as it is in place, or the lost files
// when its write fails. Nothing of the region is ever whole in memory.
StreamedRegion StreamEssences(AafExportRun& run, const std::string& source, float offset, float duration,
                              float handle, AafChannelMode mode, bool line, int64_t reference,
                              const std::function<std::vector<StreamedFile>(int outputs)>& layout,
                              std::vector<StreamedFile>& files, int64_t clipFrames = 0) {
    StreamedRegion region;
    std::vector<std::unique_ptr<BwfMonoWriter>> writers;
    int64_t skip = 0, seen = 0;
    auto start = [&](const AafRegionStart& s) {
        files = layout(s.outputChannels);
        region.handle = s.handleSamples;
        const int64_t stamp = line ? reference - s.handleSamples : reference;
        if (line && stamp < 0) skip = std::min<int64_t>(-stamp, s.frames);
        region.dropped = skip;
        for (const StreamedFile& f : files) {
            auto writer = std::make_unique<BwfMonoWriter>();
            const std::string path = PathOf(run, f.name);
            if (!writer->Open(path, run.timing.sampleRate, uint64_t(std::max<int64_t>(0, stamp)), nullptr,
                              run.job.cancel, 1, HeldFolderFor(run.job, path), run.job.writeFault))
                writer.reset();
            writers.push_back(std::move(writer));
        }
        return true;
    };
    auto block = [&](const std::vector<const float*>& channels, int64_t n) {
        if (ExportCancelled(run.job)) return false;  // the read stops within the block it is in
        const int64_t from = std::clamp<int64_t>(skip - seen, 0, n);
        seen += n;
        for (size_t k = 0; k < files.size(); ++k)
            if (writers[k] && !writers[k]->Write(channels[size_t(files[k].channel)] + from, n - from))
                writers[k].reset();  // a failed write leaves nothing
        return true;
    };
    AafRegionEnd end;
    region.read = StreamAafSourceRegion(source, offset, duration, handle, handle, run.timing.sampleRate, mode, start,
                                        block, end) &&
                  end.handleSamples == region.handle;  // a file shorter than its header: not what was stamped
    const int64_t wanted = line && clipFrames > 0 ? region.handle - region.dropped + clipFrames : 0;
    for (size_t k = 0; region.read && k < files.size(); ++k) {
        const int64_t short_ = writers[k] ? wanted - writers[k]->Frames() : 0;
        if (short_ < 1 || short_ > RoundingFrames(run.timing.sampleRate)) continue;
        const std::vector<float> silence(size_t(short_), 0.0f);
        if (!writers[k]->Write(silence.data(), short_)) writers[k].reset();
    }
    for (size_t k = 0; k < files.size(); ++k) {
        const std::string path = PathOf(run, files[k].name);
        if (!region.read || (writers[k] && writers[k]->Frames() == 0)) continue;  // nothing left to write
        const int64_t frames = writers[k] ? writers[k]->Frames() : 0;
        if (writers[k] && writers[k]->Finish()) {
            files[k].frames = frames;
            run.written.push_back(path);
            run.rollback.files.push_back(path);
        } else {
            run.lost.push_back(path);  // taken back if another case then places the clip
        }
    }
    return region;  // writers not finished remove their files
}

// Files named "<prefix><clip><suffix>.wav" for each stream channel, a mono
// channel twice when the result is stereo (its track has an .L and an .R
// lane, and both get the channel).
std::function<std::vector<StreamedFile>(int)> ChannelFiles(const ResultCase& rc, bool source) {
    return [&rc, source](int outputs) {
        const int n = rc.result->stereo && outputs == 1 ? 2 : outputs;
        const size_t longest = LongestSuffix(n);
        std::vector<StreamedFile> files;
        for (int c = 0; c < n; ++c)
            files.push_back({rc.FileName(source, ChannelFileSuffix(c, n), longest), std::min(c, outputs - 1), -1});
        return files;
    };
}

// One file, or an .L/.R pair whose right takes the left channel when the
// source has one.
std::function<std::vector<StreamedFile>(int)> PairFiles(const ResultCase& rc, bool source) {
    return [&rc, source](int outputs) {
        if (!rc.result->stereo) return std::vector<StreamedFile>{{rc.FileName(source, "", 0), 0, -1}};
        return std::vector<StreamedFile>{{rc.FileName(source, ".L", 2), 0, -1},
                                         {rc.FileName(source, ".R", 2), outputs >= 2 ? 1 : 0, -1}};
    };
}

// Line files of a region and their clips, each on its own success: the
// clip starts at the lead-in, less the frames left out before 00:00.
void PlaceStreamedLines(AafExportRun& run, const ResultCase& rc, const StreamedRegion& region,
                        const std::vector<StreamedFile>& files) {
    for (size_t k = 0; k < files.size(); ++k)
        if (files[k].frames > 0)
            AppendAafClip(run.list, rc.clip, PathOf(run, files[k].name), files[k].name, files[k].frames,
                          region.handle - region.dropped, rc.aafTrack + int32_t(k));
}

// A1: the whole source, one file per channel, one clip per fill chunk on
// each channel's lane. Succeeds when every channel was written and laid.
bool FillSourcePerChannel(AafExportRun& run, ResultCase& rc) {
    std::vector<StreamedFile> files;
    const StreamedRegion region = StreamEssences(run, rc.result->filepath, 0, kAafWholeFileSeconds, 0,
                                                 AafChannelMode::Every, false, rc.clip.fillStart, ChannelFiles(rc, true),
                                                 files);
    if (!region.read || files.empty()) return false;
    for (const StreamedFile& f : files)
        if (f.frames < 1) return false;
    for (size_t c = 0; c < files.size(); ++c)
        if (AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, files[c].name), files[c].name,
                                    files[c].frames, rc.aafTrack + int32_t(c)) == 0)
            return false;
    return true;
}

// A2: the source region with handles, one file per channel. Succeeds when
// the read gave samples, whatever the writes give.
bool SourcePerChannel(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    std::vector<StreamedFile> files;
    const StreamedRegion region = StreamEssences(run, r.filepath, r.sourceOffset, r.sourceDuration, rc.handle,
                                                 AafChannelMode::Every, true, rc.clip.position, ChannelFiles(rc, false),
                                                 files, rc.clip.length);
    if (!region.read) return false;
    PlaceStreamedLines(run, rc, region, files);
    return true;
}

// B1: the whole source as one file (or an .L/.R pair), one clip per fill
// chunk. Succeeds when clips were laid.
bool FillSource(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    std::vector<StreamedFile> files;
    const StreamedRegion region =
        StreamEssences(run, r.filepath, 0, kAafWholeFileSeconds, 0,
                       r.stereo ? AafChannelMode::FirstTwo : AafChannelMode::MonoMix, false, rc.clip.fillStart,
                       PairFiles(rc, true), files);
    if (!region.read || files.empty()) return false;
    for (const StreamedFile& f : files)
        if (f.frames < 1) return false;
    int laid = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        const int n = AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, files[k].name),
                                              files[k].name, files[k].frames, rc.aafTrack + int32_t(k));
        if (n == 0) return false;
        laid += n;
    }
    return laid > 0;
}

// B2: the source region with handles, one file (or a pair), each on its own
// success. A failed read leaves the result without a clip.
void SourceWithHandles(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    std::vector<StreamedFile> files;
    const StreamedRegion region =
        StreamEssences(run, r.filepath, r.sourceOffset, r.sourceDuration, rc.handle,
                       r.stereo ? AafChannelMode::FirstTwo : AafChannelMode::MonoMix, true, rc.clip.position,
                       PairFiles(rc, false), files, rc.clip.length);
    if (region.read) PlaceStreamedLines(run, rc, region, files);
}

// B3: the rendered voice, one file (or a pair), each on its own success. A
// voice the streaming window released, or whose layer is decoded afresh, is
// decoded for its files and let go. A layer whose sound no longer decodes is
// silent: it gets no clip, as in every file it is silence.
void Rendered(AafExportRun& run, ResultCase& rc) {
    run.voices.Load(std::vector<size_t>{rc.voiceIndex});
    if (run.voices.Silent(rc.voiceIndex)) {
        run.voices.Release(rc.voiceIndex);
        return;
    }
    const PlaybackVoice& v = run.voices.Voice(rc.voiceIndex);
    const size_t frames = std::min(size_t(std::max(0, v.sampleCount)), v.left.size());
    // The clip is the voice the passes hear: a fresh decode may be shorter.
    rc.clip.sampleCount = v.sampleCount;
    rc.clip.length = run.timing.Snap(v.sampleCount);
    const std::string description = rc.result->name;
    const char* text = rc.result->procMode == 3 ? description.c_str() : nullptr;
    auto place = [&](const std::string& name, const std::vector<float>& samples, int32_t lane) {
        PlaceLineEssence(run, rc.clip, name, samples, frames, rc.clip.position, 0, lane, text);
    };
    if (!rc.result->stereo) {
        place(rc.FileName(false, "", 0), v.left, rc.aafTrack);
    } else {
        place(rc.FileName(false, ".L", 2), v.left, rc.aafTrack);
        place(rc.FileName(false, ".R", 2), VoiceHoldsTwoChannels(v) && v.right.size() >= frames ? v.right : v.left,
              rc.aafTrack + 1);
    }
    // Its essence is written: a decoded copy goes now, not at the step's end.
    run.voices.Release(rc.voiceIndex);
}

// ---------------------------------------------------------------------------
// ExportResult
// ---------------------------------------------------------------------------

// A fade's length in samples, in single precision as a stored fade of
// 0.01 s is meant (480 at 48 kHz, not the 479 its float value gives in double).
int32_t FadeSamples(const AafClipTiming& t, float seconds) {
    const float s = std::trunc(float(t.sampleRate) * seconds);
    const int64_t n = std::isfinite(s) ? int64_t(std::clamp(s, 0.0f, 2.0e9f)) : 0;
    return int32_t(std::clamp<int64_t>(t.Snap(n), 0, INT32_MAX));
}

// Where a source region starts in its file, in samples: 64-bit arithmetic.
int64_t RegionSamples(const AafClipTiming& t, float seconds) {
    const double s = std::trunc(double(t.sampleRate) * double(seconds));
    return std::isfinite(s) ? int64_t(std::clamp(s, 0.0, 9.0e15)) : 0;
}

void ExportResult(AafExportRun& run, size_t i) {
    const ExportJob& job = run.job;
    const RenderResult& r = run.project.results[i];
    if (!Qualifies(run, r)) return;
    const PlaybackVoice* v = VoiceOf(run, i);
    if (!v || v->sampleCount <= 0) return;
    // A layer silent in the export (no sound, or a placeholder) has no clip,
    // whatever its voice still holds or its file's region would give.
    if (run.voices.Silent(size_t(run.firstVoice[i]))) return;

    ResultCase rc;
    rc.index = i;
    rc.result = &r;
    rc.voice = v;
    rc.voiceIndex = size_t(run.firstVoice[i]);
    auto lane = run.lanes.find(r.track);
    rc.aafTrack = lane != run.lanes.end() ? lane->second.aafTrack : r.track;
    // Clip and Bed results are named after their file: its extension is not
    // repeated before the essence's own.
    rc.clipName = AafCleanFileName(WithoutAudioExtension(r.name));
    rc.trackLabel = AafTrackLabel(job, r);
    rc.handle = job.handleSeconds < 0 ? kAafWholeFileSeconds : job.handleSeconds;
    if (!job.handles) rc.handle = 0;

    const AafClipTiming& t = run.timing;
    AafResultClip& clip = rc.clip;
    // The float sum the voice is built with, so the clip starts on the very
    // sample playback and the WAV files start the layer on.
    clip.position = t.TimelineSamples(double(r.startTime + r.deconOffset));
    clip.fillStart = t.TimelineSamples(double(r.startTime));
    clip.sampleCount = v->sampleCount;
    clip.length = t.Snap(v->sampleCount);
    clip.chunkBase = RegionSamples(t, r.sourceOffset);
    clip.fadeIn = FadeSamples(t, r.fadeIn);
    clip.fadeOut = FadeSamples(t, r.fadeOut);
    clip.curve = AafVoiceGainCurve(*v, job.volAuto);
    clip.gain = PlayingGain(*v, 1.0f);  // the group faders are not the clip's
    clip.chunks = v->chunks.data();
    clip.chunkCount = std::clamp(v->chunkCount, 0, int32_t(v->chunks.size()));

    // A layer decoded afresh (its sound changed since it was measured, an
    // alloy without one of its sources) is the rendered sound in the session
    // too, never a region read apart: every file holds the same of it.
    const bool fresh = job.sounds && job.sounds->Changed(i);
    const bool fill = !fresh && r.procMode == 1 && clip.chunkCount >= 1;
    const bool sourceKind = !fresh && r.procMode != 1 && r.procMode != 3;
    // A case given up for a stop ends the result: no other case is tried.
    auto attempt = [&run](bool (*essenceCase)(AafExportRun&, ResultCase&), ResultCase& c) {
        const CaseMark mark = Mark(run);
        if (essenceCase(run, c)) return true;
        TakeBack(run, mark);
        return ExportCancelled(run.job);
    };
    if (job.sourceChannels && job.fillVirtual && fill && attempt(FillSourcePerChannel, rc)) return;
    if (job.sourceChannels && sourceKind && attempt(SourcePerChannel, rc)) return;
    if (job.fillVirtual && fill && attempt(FillSource, rc)) return;
    if (job.handles && sourceKind) {
        SourceWithHandles(run, rc);
        return;
    }
    Rendered(run, rc);
}

// ---------------------------------------------------------------------------
// Markers / ReverbReturns
// ---------------------------------------------------------------------------

void AddMarkers(AafExportRun& run) {
    for (const Event& e : run.project.events)
        run.list.markers.push_back({run.timing.TimelineSamples(double(e.time)), AafMarkerLabel(run.project, e)});
}

// Whether the step writes reverb returns.
bool ReverbReturnsDue(const ExportJob& job) {
    return job.reverbStem && job.reverb.enabled.load() && job.totalDuration > 0;
}

void AddReverbReturns(AafExportRun& run) {
    const ExportJob& job = run.job;
    run.returnsDue.clear();  // tried now: a failed write is lost as any essence
    if (!ReverbReturnsDue(job)) return;
    const double start = run.hasRange ? double(job.rangeIn) : 0.0;
    const double length = run.hasRange ? double(job.rangeOut) - double(job.rangeIn) : double(job.totalDuration);
    const int32_t rate = run.timing.sampleRate;
    // The writer takes at most an hour; the mix is not rendered to be refused.
    if (std::trunc(length * rate) > double(rate) * 3600.0) {
        std::printf("[AAF] Reverb returns skipped: %.0f s exceed the 1hr limit\n", length);
        return;
    }
    // Mixed a window at a time straight into the two files: no hour of the
    // mix is ever held.
    const int32_t reverbTrack = *std::max_element(run.list.tracks.begin(), run.list.tracks.end()) + 1;
    AafResultClip clip;
    clip.position = run.timing.TimelineSamples(start);
    const char* const names[2] = {"Reverb.L.wav", "Reverb.R.wav"};
    const char* const descriptions[2] = {"Reverb L", "Reverb R"};
    BwfMonoWriter writers[2];
    bool open[2] = {false, false};
    for (int c = 0; c < 2; ++c) {
        open[c] = writers[c].Open(PathOf(run, names[c]), rate, uint64_t(std::max<int64_t>(0, clip.position)),
                                  descriptions[c], job.cancel, 1, HeldFolderFor(job, PathOf(run, names[c])),
                                  job.writeFault);
    }
    const MixSink sink = [&](float* l, float* r, int64_t n) {
        if (open[0]) open[0] = writers[0].Write(l, n);
        if (open[1]) open[1] = writers[1].Write(r, n);
    };
    const MixProgress untilStopped = [&job](double) { return !ExportCancelled(job); };
    if (!StreamOfflineMix(run.voices, job.reverb, rate, length, start, sink, &job.mix, untilStopped) ||
        ExportCancelled(job))
        return;  // the writers left unfinished leave nothing
    bool wrote[2] = {false, false};
    for (int c = 0; c < 2; ++c) {
        const std::string path = PathOf(run, names[c]);
        const int64_t frames = writers[c].Frames();
        clip.length = frames;
        if (!open[c] || !writers[c].Finish()) {
            run.lost.push_back(path);
            continue;
        }
        run.written.push_back(path);
        run.rollback.files.push_back(path);
        wrote[c] = AppendAafClip(run.list, clip, path, names[c], frames, 0, reverbTrack + c);
    }
    const bool wroteL = wrote[0], wroteR = wrote[1];
    if (run.list.trackNames.size() < size_t(reverbTrack) + 2) run.list.trackNames.resize(size_t(reverbTrack) + 2);
    if (wroteL) run.list.trackNames[size_t(reverbTrack)] = "Reverb.L";
    if (wroteR) run.list.trackNames[size_t(reverbTrack) + 1] = "Reverb.R";
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteAafExport
// ---------------------------------------------------------------------------

namespace {

// The step's progress: the essences, then the reverb returns, then the session.
constexpr double kEssenceShare = 0.85;
constexpr double kSessionFrom = 0.95;

}  // namespace

bool WriteAafExport(const ExportJob& job, const Project& project, const AudioEngine& engine,
                    const AafSessionWriter& writer) {
    AafExportRun run(job, project, engine);
    run.rollback.staged = job.folders != nullptr;

    const std::string sessionName = AafSessionName(job);
    const std::string problem = FileNameProblem(sessionName);
    if (!problem.empty()) {
        std::printf("[AAF] Refused: %s (\"%s\")\n", problem.c_str(), sessionName.c_str());
        return false;
    }
    run.sessionFolder = job.outDir + "/" + sessionName;
    run.audioFolder = run.sessionFolder + "/Audio Files";
    run.aafPath = run.sessionFolder + "/" + AafFileName(sessionName);
    if (ReverbReturnsDue(job)) run.returnsDue = {PathOf(run, "Reverb.L.wav"), PathOf(run, "Reverb.R.wav")};
    if (!PrepareExportFolder(job, job.outDir, run.rollback) ||
        !PrepareExportFolder(job, run.sessionFolder, run.rollback) ||
        !PrepareExportFolder(job, run.audioFolder, run.rollback))
        return false;

    const int32_t rate = job.sampleRate;
    if (rate < 1) return false;
    run.timing.sampleRate = rate;
    const double start = std::trunc(double(rate) * job.startSeconds);
    run.timing.startOffsetSamples = std::isfinite(start) ? int64_t(std::clamp(start, -9.0e15, 9.0e15)) : 0;
    run.timing.snap = job.snapToFrames;
    run.timing.samplesPerFrame = job.fps > 0 ? float(rate) / job.fps : 0.0f;
    run.hasRange = job.rangeIn >= 0 && job.rangeOut > job.rangeIn;

    const std::vector<RenderResult>& results = project.results;
    run.firstVoice.assign(results.size(), -1);
    for (size_t v = engine.voices.size(); v-- > 0;) {
        const int32_t r = engine.voices[v].resultIndex;
        if (r >= 0 && size_t(r) < results.size()) run.firstVoice[size_t(r)] = int32_t(v);
    }

    NameTracks(run);
    LayOutLanes(run);
    // The stop is looked at between results, and within a result's
    // essences by its writers and reader.
    for (size_t i = 0; i < results.size() && !ExportCancelled(job); ++i) {
        ReportPassProgress(job, kEssenceShare * double(i) / double(results.size()));
        ExportResult(run, i);
    }
    if (ExportCancelled(job)) return false;
    if (run.list.essencePaths.empty()) {
        // A session holds clips: with none, no file of it is written, and
        // the status says why rather than blaming the disk.
        NoteWriteFailure(run.aafPath, ENODATA, false, "no layer the export holds has a sound to place in it");
        return false;
    }

    if (job.aafMarkers) AddMarkers(run);
    ReportPassProgress(job, kEssenceShare);
    AddReverbReturns(run);
    RemoveFilesWithoutClips(run);
    if (ExportCancelled(job)) return false;

    const std::string& aafPath = run.aafPath;
    std::error_code ec;
    std::printf("[AAF] writing '%s'  (essence clips=%d, handles=%d, fillVirtual=%d, aafDir exists=%d)\n",
                aafPath.c_str(), int(run.list.essencePaths.size()), job.handles ? 1 : 0, job.fillVirtual ? 1 : 0,
                std::filesystem::is_directory(run.sessionFolder, ec) ? 1 : 0);
    const bool extended = job.handles || job.fillVirtual;
    ReportPassProgress(job, kSessionFrom);
    // The session writer takes a path: it is given the session folder the
    // export holds open (through its descriptor's name in /proc), so the
    // file lands in that folder whatever its path now leads to. A session
    // file that stood there was set aside; anything at its name now is not
    // replaced by the writer's move (the session then fails); a failed
    // writer leaves none of its own.
    const HeldFolder* held = HeldFolderFor(job, aafPath);
    // A pass run on its own replaces what stands at the session's name; an
    // export's pass set the earlier session aside before it began.
    if (!held) std::remove(aafPath.c_str());
    run.list.writeFault = job.writeFault;
    if (held) run.list.sessionFileAt = "/proc/self/fd/" + std::to_string(held->fd) + "/" + FileNameOf(aafPath);
    if (!writer || !writer(aafPath, run.list, rate, extended)) return false;
    FileIdentity identity;
    if (held && held->made && IdentityAt(held->fd, FileNameOf(aafPath), &identity)) held->made(aafPath, identity);
    run.rollback.committed = true;
    if (job.sessionAudioFiles) *job.sessionAudioFiles = int32_t(run.written.size());
    return true;
}
