// scale_tuning.cpp — scale tables, the correction rule and the voice-build-time retune.
//
// Index
//   Tables                scale rows, scale names, root names, override names
//   ScaleIntervals / names
//   ScaleCorrection       nearest scale note, wrapped into -6..+6 semitones
//   Mono helpers          MonoSample, LoudestWindowStart
//   VoiceScaleOf
//   MeasureVoicePitch / ApplyVoicePitch / TuneResultToScale   window, pitch estimate, note,
//                         correction, write-back
#include "render/scale_tuning.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/loudness_pitch.h"
#include "document/voice_audio.h"

// ---------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------

namespace {

struct ScaleRow {
    const char* name;
    int count;
    int offsets[12];
};

const ScaleRow kScales[kScaleCount] = {
    {"Off", 0, {}},
    {"Major", 7, {0, 2, 4, 5, 7, 9, 11}},
    {"Natural Minor", 7, {0, 2, 3, 5, 7, 8, 10}},
    {"Harmonic Minor", 7, {0, 2, 3, 5, 7, 8, 11}},
    {"Dorian", 7, {0, 2, 3, 5, 7, 9, 10}},
    {"Mixolydian", 7, {0, 2, 4, 5, 7, 9, 10}},
    {"Pentatonic", 5, {0, 2, 4, 7, 9}},
    {"Minor Pentatonic", 5, {0, 3, 5, 7, 10}},
    {"Blues", 6, {0, 3, 5, 6, 7, 10}},
    {"Whole Tone", 6, {0, 2, 4, 6, 8, 10}},
    {"Chromatic", 12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
    {"Maj7", 4, {0, 4, 7, 11}},
    {"Min7", 4, {0, 3, 7, 10}},
    {"Dom7", 4, {0, 4, 7, 10}},
    {"Sus4", 3, {0, 5, 7}},
    {"Sus2", 3, {0, 2, 7}},
    {"Power (1-5)", 2, {0, 7}},
};

const char* const kRootNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Pitch analysis limits of the retune.
constexpr int kMinTuneFrames = 129;
constexpr int kTuneWindow = 4096;
constexpr int kPitchSpan = 8192;
constexpr float kMinTuneHz = 20.0f;
constexpr float kMaxTuneHz = 10000.0f;
constexpr float kMinTuneConfidence = 0.25f;

}  // namespace

// ---------------------------------------------------------------------------
// ScaleIntervals / names
// ---------------------------------------------------------------------------

void ScaleIntervals(int scaleType, int offsets[12], int& count) {
    count = 0;
    if (scaleType < 1 || scaleType >= kScaleCount) return;
    const ScaleRow& row = kScales[scaleType];
    for (int i = 0; i < row.count; ++i) offsets[i] = row.offsets[i];
    count = row.count;
}

const char* MusicalScaleName(int scaleType) {
    return scaleType >= 0 && scaleType < kScaleCount ? kScales[scaleType].name : "?";
}

const char* ScaleRootName(int scaleRoot) {
    return scaleRoot >= 0 && scaleRoot < 12 ? kRootNames[scaleRoot] : "?";
}

const char* ScaleTuneOverrideName(int override) {
    return override == kScaleTuneForceOff ? "Force Off" : "Follow Project";
}

// ---------------------------------------------------------------------------
// ScaleCorrection
// ---------------------------------------------------------------------------

float ScaleCorrection(float note, float pitchVarShift, int scaleType, int scaleRoot) {
    if (scaleType == kScaleChromatic) return 0.0f;
    int offsets[12];
    int count = 0;
    ScaleIntervals(scaleType, offsets, count);
    if (count == 0) return 0.0f;
    // Sounding pitch class above the root, with its fraction.
    const double pc = std::fmod(double(pitchVarShift) + double(note) - double(scaleRoot) + 1200.0, 12.0);
    if (!std::isfinite(pc)) return 0.0f;
    double best = 99.0;
    for (int i = 0; i < count; ++i) {
        double d = double(offsets[i]) - pc;
        if (d > 6.0) d -= 12.0;
        if (d < -6.0) d += 12.0;
        if (std::fabs(d) < std::fabs(best)) best = d;
    }
    return float(std::clamp(best, -6.0, 6.0));
}

// ---------------------------------------------------------------------------
// Mono helpers
// ---------------------------------------------------------------------------

namespace {

int VoiceFrames(const VoiceAudio& voice) {
    return int(std::min<size_t>(size_t(std::max(voice.sampleCount, 0)), voice.left.size()));
}

inline float MonoSample(const VoiceAudio& voice, size_t i) {
    if (voice.stereo && i < voice.right.size()) return 0.5f * (voice.left[i] + voice.right[i]);
    return voice.left[i];
}

}  // namespace

int LoudestWindowStart(const VoiceAudio& voice) {
    const int frames = VoiceFrames(voice);
    if (frames < 1) return 0;
    const int window = std::min(frames, kTuneWindow);
    const int hop = std::max(window / 2, 1);
    int bestStart = 0;
    double bestEnergy = -1.0;
    for (int start = 0; start + window <= frames; start += hop) {
        double energy = 0;
        for (int i = start; i < start + window; ++i) {
            const double s = MonoSample(voice, size_t(i));
            energy += s * s;
        }
        // Equal windows have equal length, so comparing energies compares RMS.
        if (energy > bestEnergy) {
            bestEnergy = energy;
            bestStart = start;
        }
    }
    return bestStart;
}

// ---------------------------------------------------------------------------
// TuneResultToScale
// ---------------------------------------------------------------------------

VoiceScale VoiceScaleOf(const RenderResult& result, const Event* events, int eventCount, int scaleType,
                        int scaleRoot) {
    VoiceScale s;
    s.type = int8_t(std::clamp(scaleType, -1, 127));
    s.root = int8_t(std::clamp(scaleRoot, -128, 127));
    s.forcedOff = events && result.eventIdx >= 0 && result.eventIdx < eventCount &&
                  events[result.eventIdx].scaleTuneOverride == kScaleTuneForceOff;
    return s;
}

VoicePitch MeasureVoicePitch(const VoiceAudio& voice, int sampleRate) {
    VoicePitch pitch;
    if (sampleRate < 1) return pitch;
    const int frames = VoiceFrames(voice);
    if (frames < kMinTuneFrames) return pitch;

    const int start = LoudestWindowStart(voice);
    const int n = std::min(frames - start, kPitchSpan);
    if (n < kMinTuneFrames) return pitch;
    std::vector<float> mono(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) mono[size_t(i)] = MonoSample(voice, size_t(start + i));

    float confidence = 0;
    const float hz = EstimatePitch(mono.data(), n, float(sampleRate), confidence);
    if (!(hz > kMinTuneHz && hz < kMaxTuneHz && confidence > kMinTuneConfidence)) return pitch;

    const double exact = 12.0 * std::log2(double(hz) / 440.0) + 69.0;
    const long nearest = std::lround(exact);
    pitch.found = true;
    pitch.hz = hz;
    pitch.cents = float((exact - double(nearest)) * 100.0);
    pitch.midi = int(std::clamp<long>(nearest, 0, 127));
    pitch.confidence = confidence;
    return pitch;
}

void ApplyVoicePitch(RenderResult& result, const VoicePitch& pitch, const Event* events, int eventCount,
                     int scaleType, int scaleRoot) {
    result.detectedPitchHz = pitch.hz;
    result.detectedMidiNote = pitch.midi;
    result.detectedCents = pitch.cents;
    result.detectedConfidence = pitch.confidence;
    const bool forcedOff = events && result.eventIdx >= 0 && result.eventIdx < eventCount &&
                           events[result.eventIdx].scaleTuneOverride == kScaleTuneForceOff;
    const float correction = forcedOff ? 0.0f : ScaleCorrection(pitch.Note(), result.pitchVarShift, scaleType, scaleRoot);
    result.scaleCorrection = correction;
    result.pitchShift = result.pitchVarShift + correction;
}

bool TuneResultToScale(RenderResult& result, const VoiceAudio& voice, int sampleRate,
                       const Event* events, int eventCount, int scaleType, int scaleRoot) {
    if (scaleType == kScaleOff) return false;
    const VoicePitch pitch = MeasureVoicePitch(voice, sampleRate);
    if (!pitch.found) return false;
    ApplyVoicePitch(result, pitch, events, eventCount, scaleType, scaleRoot);
    return true;
}
