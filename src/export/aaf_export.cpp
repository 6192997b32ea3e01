// aaf_export.cpp — the AAF step of an export: folders, track lanes, essence
// files by case, markers, reverb returns and the session.
//
// Index
//   ProgramAafSessionWriter
//   AafExportRun          what one call works on: job, document, voices, list, rollback
//   Essence files         WriteEssence, CaseMark / TakeBack, RemoveFilesWithoutClips
//   Track maps            NameTracks, LayOutLanes
//   Essence cases         A1 fill source per channel, A2 source per channel,
//                         B1 fill source, B2 source with handles, B3 rendered
//   ExportResult          one result through the cases in order
//   Markers / ReverbReturns
//   WriteAafExport
#include "export/aaf_export.h"

#include <algorithm>
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
#include "export/export_names.h"
#include "export/wav_export.h"
#include "library/sound_file_open.h"
#include "platform/file_names.h"
#include "platform/file_util.h"

std::string AafSessionName(const ExportJob& job) {
    const std::string name = ExportBaseName(job.baseName, job.outDir);
    return name.substr(0, Utf8SafeCutLength(name, kMaxFileNameBytes));
}

AafSessionWriter ProgramAafSessionWriter() {
    return [](const std::string& aafPath, const AafClipList& l, int32_t sampleRate, bool extended) {
        if (extended)
            return ExportAafSessionExtended(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths,
                                            l.sourceOffsets, l.fileLengths, l.tracks, l.trackNames, sampleRate,
                                            l.fadeIns, l.fadeOuts, l.markers, l.gainCurves, l.gains);
        return ExportAafSession(aafPath, l.essencePaths, l.essenceNames, l.positions, l.lengths, l.fileLengths,
                                l.tracks, l.trackNames, sampleRate, l.markers, l.gainCurves, l.gains);
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
    AafExportRun(const ExportJob& j, const Project& p, const AudioEngine& e) : job(j), project(p), engine(e) {}

    const ExportJob& job;
    const Project& project;
    const AudioEngine& engine;
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
    ExportRollback rollback;

    // What was lost goes into the job's record, once.
    ~AafExportRun() {
        if (job.losses)
            for (const std::string& path : lost) job.losses->AddFile(path);
    }
};

// The result's first voice while the voice set is ready, else none.
const PlaybackVoice* VoiceOf(const AafExportRun& run, size_t resultIndex) {
    if (!run.engine.cacheReady.load()) return nullptr;
    const int32_t v = run.firstVoice[resultIndex];
    return v >= 0 ? &run.engine.voices[size_t(v)] : nullptr;
}

bool VoiceIsStereo(const PlaybackVoice& v) { return v.stereo && !v.right.empty(); }

bool Qualifies(const AafExportRun& run, const RenderResult& r) {
    return !r.filepath.empty() && !r.muted && IsInExportRange(run.hasRange, run.job.rangeIn, run.job.rangeOut, r);
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
    run.rollback.Announce(path);
    if (!WriteBWFClipMonoAtSample(path, samples.data() + skip, int32_t(frames), run.timing.sampleRate,
                                  std::max<int64_t>(0, reference), description)) {
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
    std::remove(path.c_str());
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
        if (r.filepath.empty() || r.muted || run.trackName.count(r.track)) continue;
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
        if (r.stereo || VoiceIsStereo(*v))
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
    const PlaybackVoice* voice = nullptr;
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

// A stereo result of a mono source plays the source on both sides: its
// track has an .L and an .R lane, and both get the channel.
void PairMonoOfStereo(const ResultCase& rc, std::vector<std::vector<float>>& channels) {
    if (rc.result->stereo && channels.size() == 1) channels.push_back(channels[0]);
}

// A1: the whole source, one file per channel, one clip per fill chunk on
// each channel's lane. Succeeds when every channel was written and laid.
bool FillSourcePerChannel(AafExportRun& run, ResultCase& rc) {
    std::vector<std::vector<float>> channels;
    int32_t handle = 0, count = 0;
    if (!ReadAafSourceRegionChannels(rc.result->filepath, 0, kAafWholeFileSeconds, 0, 0, run.timing.sampleRate,
                                     channels, handle, count))
        return false;
    PairMonoOfStereo(rc, channels);
    const int n = int(channels.size());
    const size_t longest = LongestSuffix(n);
    for (int c = 0; c < n; ++c) {
        const std::string name = rc.FileName(true, ChannelFileSuffix(c, n), longest);
        std::vector<float>& samples = channels[size_t(c)];
        if (!WriteEssence(run, name, samples, samples.size(), rc.clip.fillStart, nullptr)) return false;
        if (AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, name), name, int64_t(samples.size()),
                                    rc.aafTrack + c) == 0)
            return false;
        samples = {};
    }
    return true;
}

// A2: the source region with handles, one file per channel. Succeeds when
// the read gave samples, whatever the writes give.
bool SourcePerChannel(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    std::vector<std::vector<float>> channels;
    int32_t handle = 0, count = 0;
    if (!ReadAafSourceRegionChannels(r.filepath, r.sourceOffset, r.sourceDuration, rc.handle, rc.handle,
                                     run.timing.sampleRate, channels, handle, count))
        return false;
    PairMonoOfStereo(rc, channels);
    const int n = int(channels.size());
    const size_t longest = LongestSuffix(n);
    for (int c = 0; c < n; ++c) {
        const std::string name = rc.FileName(false, ChannelFileSuffix(c, n), longest);
        std::vector<float>& samples = channels[size_t(c)];
        PlaceLineEssence(run, rc.clip, name, samples, samples.size(), rc.clip.position - handle, handle,
                         rc.aafTrack + c);
        samples = {};
    }
    return true;
}

// B1: the whole source as one file (or an .L/.R pair), one clip per fill
// chunk. Succeeds when clips were laid.
bool FillSource(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    const int32_t rate = run.timing.sampleRate;
    int32_t handle = 0;
    if (!r.stereo) {
        std::vector<float> mono;
        if (!ReadAafSourceRegion(r.filepath, 0, kAafWholeFileSeconds, 0, 0, rate, mono, handle)) return false;
        const std::string name = rc.FileName(true, "", 0);
        if (!WriteEssence(run, name, mono, mono.size(), rc.clip.fillStart, nullptr)) return false;
        return AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, name), name, int64_t(mono.size()),
                                       rc.aafTrack) > 0;
    }
    std::vector<float> left, right;
    bool isStereo = false;
    if (!ReadAafSourceRegionStereo(r.filepath, 0, kAafWholeFileSeconds, 0, 0, rate, left, right, handle, isStereo))
        return false;
    const std::vector<float>& second = isStereo && !right.empty() ? right : left;
    const std::string nameL = rc.FileName(true, ".L", 2), nameR = rc.FileName(true, ".R", 2);
    if (!WriteEssence(run, nameL, left, left.size(), rc.clip.fillStart, nullptr) ||
        !WriteEssence(run, nameR, second, second.size(), rc.clip.fillStart, nullptr))
        return false;
    const int laidL = AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, nameL), nameL,
                                              int64_t(left.size()), rc.aafTrack);
    const int laidR = AppendAafFillChunkClips(run.list, run.timing, rc.clip, PathOf(run, nameR), nameR,
                                              int64_t(second.size()), rc.aafTrack + 1);
    return laidL > 0 && laidR > 0;
}

// B2: the source region with handles, one file (or a pair), each on its own
// success. A failed read leaves the result without a clip.
void SourceWithHandles(AafExportRun& run, ResultCase& rc) {
    const RenderResult& r = *rc.result;
    const int32_t rate = run.timing.sampleRate;
    int32_t handle = 0;
    auto place = [&](const std::string& name, const std::vector<float>& samples, int32_t lane) {
        PlaceLineEssence(run, rc.clip, name, samples, samples.size(), rc.clip.position - handle, handle, lane);
    };
    if (!r.stereo) {
        std::vector<float> mono;
        if (ReadAafSourceRegion(r.filepath, r.sourceOffset, r.sourceDuration, rc.handle, rc.handle, rate, mono, handle))
            place(rc.FileName(false, "", 0), mono, rc.aafTrack);
        return;
    }
    std::vector<float> left, right;
    bool isStereo = false;
    if (!ReadAafSourceRegionStereo(r.filepath, r.sourceOffset, r.sourceDuration, rc.handle, rc.handle, rate, left,
                                   right, handle, isStereo))
        return;
    place(rc.FileName(false, ".L", 2), left, rc.aafTrack);
    place(rc.FileName(false, ".R", 2), isStereo && !right.empty() ? right : left, rc.aafTrack + 1);
}

// B3: the rendered voice, one file (or a pair), each on its own success.
void Rendered(AafExportRun& run, ResultCase& rc) {
    const PlaybackVoice& v = *rc.voice;
    const size_t frames = std::min(size_t(std::max(0, v.sampleCount)), v.left.size());
    const std::string description = rc.result->name;
    const char* text = rc.result->procMode == 3 ? description.c_str() : nullptr;
    auto place = [&](const std::string& name, const std::vector<float>& samples, int32_t lane) {
        PlaceLineEssence(run, rc.clip, name, samples, frames, rc.clip.position, 0, lane, text);
    };
    if (!rc.result->stereo) {
        place(rc.FileName(false, "", 0), v.left, rc.aafTrack);
        return;
    }
    place(rc.FileName(false, ".L", 2), v.left, rc.aafTrack);
    place(rc.FileName(false, ".R", 2), VoiceIsStereo(v) && v.right.size() >= frames ? v.right : v.left,
          rc.aafTrack + 1);
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
    const std::vector<Event>& events = run.project.events;
    if (r.eventIdx >= 0 && size_t(r.eventIdx) < events.size() && events[size_t(r.eventIdx)].muted) return;
    const PlaybackVoice* v = VoiceOf(run, i);
    if (!v || v->sampleCount <= 0) return;

    ResultCase rc;
    rc.index = i;
    rc.result = &r;
    rc.voice = v;
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
    clip.curve = AafResultGainCurve(r, job.volAuto);
    clip.gain = v->gain.load() * v->normGain * v->eventGain.load();
    clip.chunks = v->chunks.data();
    clip.chunkCount = std::clamp(v->chunkCount, 0, int32_t(v->chunks.size()));

    const bool fill = r.procMode == 1 && clip.chunkCount >= 1;
    const bool sourceKind = r.procMode != 1 && r.procMode != 3;
    auto attempt = [&run](bool (*essenceCase)(AafExportRun&, ResultCase&), ResultCase& c) {
        const CaseMark mark = Mark(run);
        if (essenceCase(run, c)) return true;
        TakeBack(run, mark);
        return false;
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

void AddReverbReturns(AafExportRun& run) {
    const ExportJob& job = run.job;
    if (!job.reverbStem || !job.reverb.enabled.load() || !(job.totalDuration > 0)) return;
    const double start = run.hasRange ? double(job.rangeIn) : 0.0;
    const double length = run.hasRange ? double(job.rangeOut) - double(job.rangeIn) : double(job.totalDuration);
    const int32_t rate = run.timing.sampleRate;
    // The writer takes at most an hour; the mix is not rendered to be refused.
    if (std::trunc(length * rate) > double(rate) * 3600.0) {
        std::printf("[AAF] Reverb returns skipped: %.0f s exceed the 1hr limit\n", length);
        return;
    }
    std::vector<float> left, right;
    if (!RenderOfflineMix(run.engine, job.reverb, rate, length, start, left, right, &job.mix) || left.empty()) return;

    const int32_t reverbTrack = *std::max_element(run.list.tracks.begin(), run.list.tracks.end()) + 1;
    AafResultClip clip;
    clip.position = run.timing.TimelineSamples(start);
    clip.length = int64_t(left.size());
    const bool wroteL = WriteEssence(run, "Reverb.L.wav", left, left.size(), clip.position, "Reverb L") &&
                        AppendAafClip(run.list, clip, PathOf(run, "Reverb.L.wav"), "Reverb.L.wav",
                                      int64_t(left.size()), 0, reverbTrack);
    const bool wroteR = WriteEssence(run, "Reverb.R.wav", right, right.size(), clip.position, "Reverb R") &&
                        AppendAafClip(run.list, clip, PathOf(run, "Reverb.R.wav"), "Reverb.R.wav",
                                      int64_t(left.size()), 0, reverbTrack + 1);
    if (run.list.trackNames.size() < size_t(reverbTrack) + 2) run.list.trackNames.resize(size_t(reverbTrack) + 2);
    if (wroteL) run.list.trackNames[size_t(reverbTrack)] = "Reverb.L";
    if (wroteR) run.list.trackNames[size_t(reverbTrack) + 1] = "Reverb.R";
}

}  // namespace

// ---------------------------------------------------------------------------
// WriteAafExport
// ---------------------------------------------------------------------------

bool WriteAafExport(const ExportJob& job, const Project& project, const AudioEngine& engine,
                    const AafSessionWriter& writer) {
    AafExportRun run(job, project, engine);
    run.rollback.announce = job.announce;

    const std::string sessionName = AafSessionName(job);
    const std::string problem = FileNameProblem(sessionName);
    if (!problem.empty()) {
        std::printf("[AAF] Refused: %s (\"%s\")\n", problem.c_str(), sessionName.c_str());
        return false;
    }
    run.sessionFolder = job.outDir + "/" + sessionName;
    run.audioFolder = run.sessionFolder + "/Audio Files";
    if (!MakeExportFolder(job.outDir, run.rollback) || !MakeExportFolder(run.sessionFolder, run.rollback) ||
        !MakeExportFolder(run.audioFolder, run.rollback))
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
    for (size_t i = 0; i < results.size(); ++i) ExportResult(run, i);
    if (run.list.essencePaths.empty()) return false;

    if (job.aafMarkers) AddMarkers(run);
    AddReverbReturns(run);
    RemoveFilesWithoutClips(run);

    const std::string aafPath = run.sessionFolder + "/" + AafFileName(sessionName);
    std::remove(aafPath.c_str());
    std::error_code ec;
    std::printf("[AAF] writing '%s'  (essence clips=%d, handles=%d, fillVirtual=%d, aafDir exists=%d)\n",
                aafPath.c_str(), int(run.list.essencePaths.size()), job.handles ? 1 : 0, job.fillVirtual ? 1 : 0,
                std::filesystem::is_directory(run.sessionFolder, ec) ? 1 : 0);
    const bool extended = job.handles || job.fillVirtual;
    run.rollback.Announce(aafPath);
    if (!writer || !writer(aafPath, run.list, rate, extended)) {
        std::remove(aafPath.c_str());
        return false;
    }
    run.rollback.committed = true;
    return true;
}
