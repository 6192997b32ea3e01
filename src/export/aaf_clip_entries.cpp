// aaf_clip_entries.cpp — the entries of the AAF clip list: names, timing,
// gain curves, clips of essence files and of fill chunks, marker labels.
//
// Index
//   Names               ChannelFileSuffix, AafClipNameLess, AafCleanFileName, AafTrackLabel,
//                       AafEssencePrefix
//   AafClipTiming       Snap, TimelineSamples
//   AafVoiceGainCurve   a voice's curves in 64 points
//   Entries             AppendAafEntry, AppendAafClip, AppendAafFillChunkClips, TruncateAafClipList
//   AafMarkerLabel
#include "export/aaf_export.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "document/event.h"
#include "document/event_naming.h"
#include "document/project.h"
#include "playback/voice_mix.h"
#include "document/text_util.h"
#include "export/export_names.h"

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

std::string ChannelFileSuffix(int channel, int channelCount) {
    static const char* const kSurround[] = {".L", ".R", ".C", ".LFE", ".Ls", ".Rs", ".Lrs", ".Rrs"};
    if (channelCount <= 1) return "";
    if (channelCount == 2) return channel == 0 ? ".L" : ".R";
    if (channelCount <= 8) return channel >= 0 && channel < channelCount ? kSurround[channel] : "";
    return "." + std::to_string(channel + 1);
}

bool AafClipNameLess(const std::string& a, const std::string& b) {
    // std::string compares through char_traits<char>, which orders bytes as
    // unsigned char.
    return a < b;
}

std::string AafCleanFileName(const std::string& name) {
    std::string clean = CleanExportName(name, "");
    for (char& c : clean)
        if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') c = '_';
    return clean;
}

std::string AafTrackLabel(const ExportJob& job, const RenderResult& r) {
    const bool groupValid = r.group >= 0 && size_t(r.group) < job.groupNames.size();
    return AafCleanFileName((groupValid ? job.groupNames[size_t(r.group)] : std::string("T")) +
                            std::to_string(r.groupTrack + 1));
}

std::string AafEssencePrefix(const std::string& trackLabel, size_t index) {
    char number[32];
    std::snprintf(number, sizeof(number), "_%03zu_", index);
    return trackLabel + number;
}

// ---------------------------------------------------------------------------
// AafClipTiming
// ---------------------------------------------------------------------------

int64_t AafClipTiming::Snap(int64_t x) const { return SnapSamplePosition(snap, samplesPerFrame, x); }

int64_t AafClipTiming::TimelineSamples(double seconds) const {
    const double samples = std::trunc(double(sampleRate) * seconds);
    const int64_t at = std::isfinite(samples) ? int64_t(std::clamp(samples, -9.0e15, 9.0e15)) : 0;
    return Snap(at + startOffsetSamples);
}

// ---------------------------------------------------------------------------
// AafVoiceGainCurve
// ---------------------------------------------------------------------------

AafGainCurve AafVoiceGainCurve(const PlaybackVoice& voice, bool volAuto) {
    AafGainCurve curve;
    if (!volAuto) return curve;
    VoiceCurveChoice stored;
    stored.liveIntensity = false;
    const double len = voice.length;
    const VoiceCurves curves = VoiceCurvesOf(voice, len, stored);
    if (!curves.Any()) return curve;
    for (int k = 0; k < kAafGainCurvePoints; ++k)
        curve.points[size_t(k)] = VoiceCurvesAt(curves, double(k) / double(kAafGainCurvePoints - 1) * len);
    curve.present = true;
    return curve;
}

// ---------------------------------------------------------------------------
// Entries
// ---------------------------------------------------------------------------

namespace {

struct Entry {
    int64_t position = 0;
    int64_t length = 0;
    int64_t sourceOffset = 0;
    int64_t fileLength = 0;
    int32_t track = 0;
    int32_t fadeIn = 0;
    int32_t fadeOut = 0;
    float gain = 1.0f;
};

void AppendAafEntry(AafClipList& list, const std::string& path, const std::string& fileName, const Entry& e,
                    const AafGainCurve& curve) {
    list.essencePaths.push_back(path);
    list.essenceNames.push_back(fileName);
    list.positions.push_back(e.position);
    list.lengths.push_back(e.length);
    list.sourceOffsets.push_back(e.sourceOffset);
    list.fileLengths.push_back(e.fileLength);
    list.tracks.push_back(e.track);
    list.fadeIns.push_back(e.fadeIn);
    list.fadeOuts.push_back(e.fadeOut);
    list.gainCurves.push_back(curve);
    list.gains.push_back(e.gain);
}

}  // namespace

namespace {

// The gain curve of an entry whose first `cut` samples were left out (cut at
// 00:00): its own curve (spread over its `whole` length) over what is left of
// it, times what is left of its fade-in of `fadeIn` samples, in the layer's
// own fade shape. So the entry begins at the level the layer has at the cut
// and rises as the layer does, instead of fading in again from silence.
AafGainCurve CurveAfterCut(const AafGainCurve& own, int64_t fadeIn, int64_t whole, int64_t cut, int64_t length) {
    AafGainCurve curve;
    curve.present = own.present || fadeIn > cut;
    if (!curve.present) return curve;
    const VoiceFades fade{float(fadeIn), 0.0f};
    const double span = double(std::max<int64_t>(whole, 1));
    for (int k = 0; k < kAafGainCurvePoints; ++k) {
        const double at = double(cut) + double(k) / double(kAafGainCurvePoints - 1) * double(length - 1);
        float value = VoiceFadeGain(at, 1.0e18, fade);
        if (own.present)
            value *= CurveValueAt(own.points.data(), kAafGainCurvePoints, at / span * double(kAafGainCurvePoints - 1));
        curve.points[size_t(k)] = value;
    }
    return curve;
}

// Appends a fill chunk's entry; one that begins before 00:00 is cut there
// first, as a clip is: its source moves on by the cut and what is left of
// its fade-in goes into its gain curve. False when nothing of it is left.
bool AppendChunkFromZero(AafClipList& list, const std::string& path, const std::string& fileName, Entry e,
                         const AafGainCurve& curve) {
    if (e.position >= 0) {
        if (e.length < 1) return false;
        AppendAafEntry(list, path, fileName, e, curve);
        return true;
    }
    const int64_t cut = -e.position, whole = e.length;
    if (cut >= whole) return false;
    e.position = 0;
    e.sourceOffset += cut;
    e.length -= cut;
    const AafGainCurve after = CurveAfterCut(curve, e.fadeIn, whole, cut, e.length);
    e.fadeIn = 0;
    AppendAafEntry(list, path, fileName, e, after);
    return true;
}

}  // namespace

bool AppendAafClip(AafClipList& list, const AafResultClip& clip, const std::string& path,
                   const std::string& fileName, int64_t fileFrames, int64_t handleSamples, int32_t aafTrack) {
    Entry e;
    e.position = clip.position;
    e.length = clip.length;
    e.fadeIn = clip.fadeIn;
    // A file that begins after the clip's start (cut at 00:00) takes the
    // clip's head with it: the clip begins where the file does.
    const int64_t cut = handleSamples < 0 ? -handleSamples : 0;
    if (handleSamples < 0) {
        e.position -= handleSamples;
        e.length += handleSamples;
        handleSamples = 0;
    }
    e.sourceOffset = handleSamples;
    e.length = std::min(e.length, fileFrames - handleSamples);
    if (e.length < 1) return false;
    e.fileLength = fileFrames;
    e.track = aafTrack;
    e.fadeOut = clip.fadeOut;
    e.gain = clip.gain;
    if (cut == 0) {
        AppendAafEntry(list, path, fileName, e, clip.curve);
        return true;
    }
    // The fade-in was under way at the cut: what is left of it goes into
    // the clip's gain curve, from the level at the cut.
    e.fadeIn = 0;
    AppendAafEntry(list, path, fileName, e, CurveAfterCut(clip.curve, clip.fadeIn, clip.length, cut, e.length));
    return true;
}

int AppendAafFillChunkClips(AafClipList& list, const AafClipTiming& timing, const AafResultClip& clip,
                            const std::string& path, const std::string& fileName, int64_t sourceFrames,
                            int32_t aafTrack) {
    const int64_t startPos = clip.fillStart;
    const int64_t endPos = startPos + clip.length;
    // The chunks that lay audio: a chunk shorter than a sample lays none.
    std::vector<int32_t> laid;
    for (int32_t j = 0; j < clip.chunkCount; ++j)
        if (clip.chunks[j].l >= 1) laid.push_back(j);

    int appended = 0;
    int64_t acc = 0;
    for (size_t n = 0; n < laid.size(); ++n) {
        const FillChunk& chunk = clip.chunks[laid[n]];
        const int64_t overlap = n > 0 ? chunk.x : 0;
        const int64_t position = timing.Snap(startPos - overlap + acc);
        if (n > 0 && position >= endPos) break;  // the voice ended before this chunk
        // The chunk that reaches the voice's end is its last: cut there, with
        // the fade-out. In a plan made for this voice that is the final chunk.
        const int64_t chunkLength = timing.Snap(chunk.l);
        const bool last = n + 1 == laid.size() || position + chunkLength >= endPos;
        Entry e;
        e.position = position;
        e.length = last ? endPos - position : chunkLength;
        e.sourceOffset = clip.chunkBase + chunk.s;
        if (e.sourceOffset + e.length > sourceFrames) e.sourceOffset = sourceFrames - e.length;
        e.sourceOffset = std::max<int64_t>(0, e.sourceOffset);
        e.length = std::min(e.length, sourceFrames - e.sourceOffset);
        e.fileLength = sourceFrames;
        e.track = aafTrack;
        e.fadeIn = n == 0 ? clip.fadeIn : 0;
        e.fadeOut = last ? clip.fadeOut : 0;
        e.gain = clip.gain;

        AafGainCurve curve = clip.curve;
        if (clip.curve.present && clip.sampleCount > 0) {
            for (int k = 0; k < kAafGainCurvePoints; ++k) {
                const double t = std::clamp(
                    (double(k) / 63.0 * double(chunk.l) + double(acc) - double(overlap)) / double(clip.sampleCount),
                    0.0, 1.0);
                const double u = 63.0 * t;
                const int i = std::min(int(u), 62);
                const float f = float(u - i);
                curve.points[size_t(k)] =
                    (1.0f - f) * clip.curve.points[size_t(i)] + f * clip.curve.points[size_t(i + 1)];
            }
        }
        if (AppendChunkFromZero(list, path, fileName, e, curve)) ++appended;
        acc += int64_t(chunk.l) - overlap;
        if (last) break;
    }
    return appended;
}

void TruncateAafClipList(AafClipList& list, size_t count) {
    auto cut = [count](auto& v) {
        if (v.size() > count) v.resize(count);
    };
    cut(list.essencePaths);
    cut(list.essenceNames);
    cut(list.positions);
    cut(list.lengths);
    cut(list.sourceOffsets);
    cut(list.fileLengths);
    cut(list.tracks);
    cut(list.fadeIns);
    cut(list.fadeOuts);
    cut(list.gainCurves);
    cut(list.gains);
}

// ---------------------------------------------------------------------------
// AafMarkerLabel
// ---------------------------------------------------------------------------

std::string AafMarkerLabel(const Project& project, const Event& event) {
    char duration[48];
    std::snprintf(duration, sizeof(duration), "%.1f", std::isfinite(event.duration) ? double(event.duration) : 0.0);
    std::string label = EventShapeName(project, event) + "," + duration;
    const std::string_view keywords = TextFieldView(event.keywords);
    if (!keywords.empty()) {
        label += ",";
        label += keywords;
    }
    return label;
}
