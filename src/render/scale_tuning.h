// scale_tuning.h — pitching tonal layers to the nearest note of the project's scale.
//
// Index
//   MusicalScale ids      kScaleOff, kScaleChromatic, kScaleCount
//   ScaleIntervals        semitone offsets of a scale above its root
//   MusicalScaleName      "Off", "Major", ... "Power (1-5)"
//   ScaleRootName         "C" .. "B"
//   ScaleTuneOverrideName "Follow Project" / "Force Off"
//   ScaleCorrection       semitones (-6..6) from a sounding note to the nearest scale note
//   LoudestWindowStart    start of the loudest analysis window of a voice
//   VoicePitch            what a voice's samples say of their pitch
//   VoiceScale / VoiceScaleOf   the scale settings a layer's tuning follows
//   MeasureVoicePitch     the estimate from the loudest window
//   ApplyVoicePitch       a measured pitch written into the result at a scale
//   TuneResultToScale     measure a built voice's pitch and set the result's pitchShift
//
// Tuning happens when a voice is built, not when a layer is rendered, so a new
// scale, root or override only needs the voices rebuilt. The pitch change
// itself (varispeed by pitchShift) is the processing chain's last step.
#pragma once

#include <cstdint>

struct Event;
struct VoiceAudio;
struct RenderResult;

constexpr int kScaleOff = 0;
constexpr int kScaleChromatic = 10;
constexpr int kScaleCount = 17;  // ids 0..16
constexpr int kScaleTuneForceOff = 2;

// Fills offsets (ascending) and count for scale ids 1..16; count 0 for "Off"
// and any other id.
void ScaleIntervals(int scaleType, int offsets[12], int& count);

// Names of scales 0..16 and roots 0..11; "?" outside those ranges.
const char* MusicalScaleName(int scaleType);
const char* ScaleRootName(int scaleRoot);
// 2 is "Force Off"; every other value follows the project.
const char* ScaleTuneOverrideName(int override);

// Correction in semitones, within -6..6, that moves `note` (a MIDI note with
// its fraction) plus the layer's random variation onto the nearest note of the
// scale above `scaleRoot`; on equal distance the lower offset in the table
// wins. 0 when the scale has no notes or is "Chromatic".
float ScaleCorrection(float note, float pitchVarShift, int scaleType, int scaleRoot);

// Start of the loudest window of min(frames, 4096) samples of the voice's mono
// signal (mean of both channels of a stereo voice), windows starting every
// half window; the first wins on equal loudness.
int LoudestWindowStart(const VoiceAudio& voice);

// A voice's pitch as the scale tuning measures it: found when clear (20..10000
// Hz, confidence above 0.25), with the MIDI note and cents it sits at.
struct VoicePitch {
    bool found = false;
    float hz = 0;
    int midi = 0;
    float cents = 0;
    float confidence = 0;
    float Note() const { return float(midi) + cents / 100.0f; }
};

// The settings a layer's tuning follows: the project's scale and root, and
// whether the layer's event forces tuning off. A voice keeps those its pitch
// shift was made for.
struct VoiceScale {
    int8_t type = -1;  // -1: none yet
    int8_t root = 0;
    uint8_t forcedOff = 0;
    bool operator==(const VoiceScale&) const = default;
};
// `events` may be null; it is indexed by the result's eventIdx below eventCount.
VoiceScale VoiceScaleOf(const RenderResult& result, const Event* events, int eventCount, int scaleType,
                        int scaleRoot);

// When the voice has more than 128 frames, estimates the pitch of up to 8192
// samples from the loudest window. The samples decide alone: a voice keeps
// what this found, so that a later change of scale can tell without decoding
// which voices it retunes.
VoicePitch MeasureVoicePitch(const VoiceAudio& voice, int sampleRate);

// A found pitch into the result as a build at `scaleType` writes it: the
// detected Hz, note, cents and confidence, the correction (0 under the
// event's "Force Off", "Chromatic", "Off" and unknown scales) in
// `scaleCorrection`, and pitchShift = pitchVarShift + correction.
void ApplyVoicePitch(RenderResult& result, const VoicePitch& pitch, const Event* events, int eventCount,
                     int scaleType, int scaleRoot);

// At voice-build time: when scaleType is not 0 and the voice has more than
// 128 frames, estimates the pitch of up to 8192 samples from the loudest
// window. With a clear pitch (20..10000 Hz, confidence above 0.25) it stores
// the detected Hz, MIDI note, cents and confidence in the result, the
// correction in `scaleCorrection`, and sets pitchShift = pitchVarShift +
// correction. The event's "Force Off" override, "Chromatic", "Off" and
// unknown scales give correction 0. Returns true when a pitch was found and
// the result was updated; otherwise the result is untouched.
// `events` may be null; it is indexed by the result's eventIdx below eventCount.
bool TuneResultToScale(RenderResult& result, const VoiceAudio& voice, int sampleRate,
                       const Event* events, int eventCount, int scaleType, int scaleRoot);
