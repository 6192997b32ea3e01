// voice_build.cpp — one render result into one playback voice.
//
// Index
//   Small helpers        BuildClipOverview (a voice), VoiceFrames, DurationIsSane
//   Steps                ResolveResultFiles, LoadVoiceSamples, LevelVoice, VoiceBuildKey
//   MakePlaybackVoice / BuildPlaybackVoice   the steps in order, then the install under the engine lock
//   DecodeVoiceSamples   the samples again, for a voice the streaming window released
//
// Everything up to the install runs unlocked on the building thread (busy
// task, preview or export): decoding, processing, pitch detection, loudness.
// On an engine whose voices stream, a voice outside the window around the
// playhead is installed without its samples: the build measures it whole
// (overview, loudness, a fill's plan) and lets the samples go at once, so a
// build holds no more samples than its threads are working on.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "library/file_caches.h"
#include "library/file_registry.h"
#include "library/loudness_pitch.h"
#include "platform/file_util.h"
#include "playback/engine_voices.h"
#include "playback/playing_gain.h"
#include "playback/transport.h"
#include "playback/voice_settings.h"
#include "render/clip_processing.h"
#include "render/processed_clip_cache.h"
#include "render/scale_tuning.h"

// ---------------------------------------------------------------------------
// Small helpers
// ---------------------------------------------------------------------------

void BuildClipOverview(PlaybackVoice& voice) {
    static_assert(kVoiceOverviewBins == kClipOverviewBins);
    const int64_t frames = std::min<int64_t>(voice.sampleCount, static_cast<int64_t>(voice.left.size()));
    BuildClipOverview(voice.left.data(), voice.right.data(), static_cast<int64_t>(voice.right.size()),
                      voice.stereo != 0, frames, voice.peakOverview.data(), voice.rmsOverview.data());
    voice.overviewPeak = *std::max_element(voice.peakOverview.begin(), voice.peakOverview.end());
}

namespace {

constexpr float kNormPeakCeiling = 0.891f;
constexpr float kUnmeasurableLufs = -90.0f;

int VoiceFrames(const PlaybackVoice& voice) {
    return int(std::min<size_t>(size_t(std::max(voice.sampleCount, 0)), voice.left.size()));
}

bool DurationIsSane(float seconds) {
    return std::isfinite(seconds) && seconds >= 0.0f && seconds <= kMaxRegionSeconds;
}

// ---------------------------------------------------------------------------
// Steps
// ---------------------------------------------------------------------------

}  // namespace

bool ResolveResultFiles(RenderResult& result) {
    result.missing = false;
    if (!result.fileId.empty()) {
        std::string resolved = FileRegistry::Instance().FindStoredFile(result.fileId, result.filepath);
        if (resolved.empty())
            result.missing = true;
        else if (resolved != result.filepath)
            result.filepath = std::move(resolved);
    }
    bool sourcesFound = true;
    if (result.procMode == 3) {
        // Each source is looked up, whether or not one before it was found.
        sourcesFound = ResolveSourcePathById(result.alloyMid) && sourcesFound;
        sourcesFound = ResolveSourcePathById(result.alloyHigh) && sourcesFound;
        sourcesFound = ResolveSourcePathById(result.alloyEnv) && sourcesFound;
    }
    return !result.missing && sourcesFound;
}

namespace {

// Decodes and processes the result's audio by its mode; a placeholder or a
// failure gives silence of the result's duration (bounded). A failure marks
// the result missing: its sound is gone or unusable. It stays a layer with a
// sound (never a placeholder, which the render found no sound for), so it
// sounds again once its file is back, and is counted apart from placeholders.
// A layer that sounds is not missing, though the registry may not know
// where its id's file is (an alloy short of its main sound, a file changed
// in place): it is counted by what the look at its files found.
void LoadVoiceSamples(RenderResult& result, int rate, PlaybackVoice& voice) {
    if (result.placeholder) {
        FillVoiceWithSilence(voice, rate, result.duration);
        return;
    }
    // A fresh fill stores its chunk plan in the result here, so that later
    // builds of the layer sound the same.
    result.missing = !LoadResultAudio(result, rate, voice);
    if (result.missing) FillVoiceWithSilence(voice, rate, result.duration);
}

// The loudness gain to the group's target, never past a sample peak of 0.891;
// 1.0 for an unmeasurable sound.
float NormGainFor(const AudioEngine& engine, int group, float lufs, float peak) {
    if (!(lufs > kUnmeasurableLufs)) return 1.0f;
    const float target = engine.groupTargetLufs[size_t(PlayingGroup(group))];
    float norm = float(std::pow(10.0, std::clamp(double(target) - lufs, -30.0, 18.0) / 20.0));
    if (peak > 0) norm = std::min(norm, kNormPeakCeiling / peak);
    return norm;
}

// Headroom from the overview peak, then loudness normalisation to the group's
// target. A voice built from its sound measures it and the result keeps the
// measures. A voice built without it (`soundAway`: the file gone, unreadable
// or changed since it was measured, an alloy source away) is levelled with
// the measures the result kept, as when its sound was there: the voice is
// silent (or lacks a source, or holds other content), but the equal power of
// its event and the headroom of the loudest moment count it as before, so no
// other voice's level moves while a sound is away or otherwise.
// A result never measured (an older file) keeps the loudness gain it had.
void LevelVoice(const AudioEngine& engine, RenderResult& result, int rate, PlaybackVoice& voice, bool soundAway) {
    if (soundAway && result.measuredPeak > 0) voice.overviewPeak = result.measuredPeak;
    voice.gain = VoiceGain(result, voice);
    voice.levelScale = 1.0f;
    // The overview bins cover every frame, so their largest peak is the voice's.
    const float peak = VoicePeak(voice);

    float norm = 1.0f;
    if (soundAway) {
        if (engine.normalizeLoudness)
            norm = result.measuredLufs > kLoudnessNotMeasured ? NormGainFor(engine, voice.group, result.measuredLufs, peak)
                                                              : result.normGain;
    } else {
        const int frames = VoiceFrames(voice);
        float lufs = kLoudnessNotMeasured;
        if (engine.normalizeLoudness && frames >= 1) {
            const bool twoChannels = voice.stereo && voice.right.size() >= size_t(frames);
            lufs = MeasureIntegratedLoudness(voice.left.data(), twoChannels ? voice.right.data() : nullptr, frames,
                                             rate);
            norm = NormGainFor(engine, voice.group, lufs, peak);
        }
        result.measuredPeak = peak;
        result.measuredLufs = std::isfinite(lufs) ? std::max(lufs, kLoudnessNotMeasured) : kLoudnessNotMeasured;
    }
    // An unmeasurable voice keeps 1.0, and so does its result.
    voice.normGain = norm;
    result.normGain = norm;
}

uint64_t MixKey(uint64_t h, uint64_t value) {
    // FNV-1a over the value's eight bytes.
    for (int i = 0; i < 8; ++i) {
        h ^= (value >> (8 * i)) & 0xFFu;
        h *= 1099511628211ull;
    }
    return h;
}

}  // namespace

uint64_t VoiceBuildKey(const AudioEngine& engine, int rate, int group) {
    uint64_t h = 14695981039346656037ull;
    h = MixKey(h, uint64_t(uint32_t(rate)));
    h = MixKey(h, engine.bypassDeconfliction.load() ? 0 : 1);
    if (engine.normalizeLoudness) {
        float target = engine.groupTargetLufs[size_t(PlayingGroup(group))];
        uint32_t bits = 0;
        static_assert(sizeof bits == sizeof target);
        std::memcpy(&bits, &target, sizeof bits);
        h = MixKey(h, 1);
        h = MixKey(h, bits);
    } else {
        h = MixKey(h, 0);
    }
    return h;
}

// ---------------------------------------------------------------------------
// BuildPlaybackVoice
// ---------------------------------------------------------------------------

bool MakePlaybackVoice(AudioEngine& engine, RenderResult& result, int resultIndex, int sampleRate,
                       const float* eventGains, int eventCount, const Event* events, int scaleType, int scaleRoot,
                       bool keepAsIs, PlaybackVoice& voice) {
    // 1. Nothing to play.
    if (result.filepath.empty() && !result.placeholder) return false;
    const int rate = std::max(sampleRate, 1);

    // 2. Files may have moved since the result was made.
    const bool filesFound = ResolveResultFiles(result);

    // 3-6 and 11. Placement, pan, gains, event settings and curves (the
    // curves do not depend on the samples, so they come with the rest).
    voice = PlaybackVoice();
    SetVoiceSettings(voice, result, resultIndex, eventGains, eventCount, events);
    voice.length = result.duration;

    // 7. Audio.
    LoadVoiceSamples(result, rate, voice);
    // A duration that is not a usable number of seconds would make the voice
    // unplayable or endless: it lasts as long as its (bounded) samples.
    if (!DurationIsSane(result.duration)) voice.length = float(double(voice.sampleCount) / rate);

    // 8. Band gains (deconfliction results, unless bypassed).
    if (VoiceFrames(voice) >= 1 && !engine.bypassDeconfliction.load())
        ApplyResultBandGains(result, voice, rate);

    // 9. Musical-scale tuning. What the search found is kept, so that a later
    // change of scale can tell without decoding whether this voice would
    // change. With the scale off there is no search (it costs as much as the
    // rest of a short voice's build): the first scale set measures then.
    voice.tunedFor = VoiceScaleOf(result, events, eventCount, scaleType, scaleRoot);
    if (!keepAsIs && scaleType != kScaleOff) {
        voice.tunedPitch = MeasureVoicePitch(voice, rate);
        voice.tuneState = voice.tunedPitch.found ? 2 : 1;
        if (voice.tunedPitch.found)
            ApplyVoicePitch(result, voice.tunedPitch, events, eventCount, scaleType, scaleRoot);
    }

    // 10. Pitch.
    ApplyVoicePitchShift(voice, result.pitchShift, rate);
    voice.pitchShift = result.pitchShift;

    // 12. Overview.
    BuildClipOverview(voice);

    // 13. Headroom and loudness (a load that failed marked the result missing).
    LevelVoice(engine, result, rate, voice,
               !filesFound || result.missing || result.sound != LayerSound::AsMeasured);

    // What the samples were made from, with the write-backs above applied,
    // and how.
    voice.sampleKey = VoiceSampleKey(result, voice.fillSeeded != 0);
    voice.buildKey = VoiceBuildKey(engine, rate, voice.group);
    // The flag says what the samples are: two channels only when they are.
    if (voice.stereo && voice.right.size() < size_t(std::max(voice.sampleCount, 0))) voice.stereo = 0;

    // Everything above needed the samples; playback needs them only near
    // the playhead.
    if (engine.streamVoices.load() && !VoiceInStreamWindow(engine, voice, GetPlaybackTime(engine))) {
        std::vector<float> left, right;
        EvictVoiceSamples(voice, left, right);
    }
    return true;
}

void BuildPlaybackVoice(AudioEngine& engine, RenderResult& result, int resultIndex, int sampleRate,
                        const float* eventGains, int eventCount, const Event* events, int scaleType,
                        int scaleRoot, bool keepAsIs) {
    PlaybackVoice voice;
    if (!MakePlaybackVoice(engine, result, resultIndex, sampleRate, eventGains, eventCount, events, scaleType,
                           scaleRoot, keepAsIs, voice))
        return;
    // 14. Install.
    InstallPlaybackVoice(engine, std::move(voice), result.fadeIn, result.fadeOut);
}

// ---------------------------------------------------------------------------
// DecodeVoiceSamples
// ---------------------------------------------------------------------------

bool DecodeVoiceSamples(const RenderResult& result, float pitchShift, int rate, bool bandGains,
                        VoiceAudio& out, bool* loaded) {
    rate = std::max(rate, 1);
    RenderResult scratch = result;  // the loaders may write back; the document stays as it is
    const bool decoded = LoadResultAudio(scratch, rate, out);
    if (loaded) *loaded = decoded;
    if (!decoded) FillVoiceWithSilence(out, rate, result.duration);
    if (bandGains) ApplyResultBandGains(result, out, rate);
    return ApplyVoicePitchShift(out, pitchShift, rate);
}
