// reference_audio.h — the reference video's own sound, mixed under the events.
//
// Index
//   VideoRefAudio                 the whole track: interleaved stereo 16-bit at 48000 Hz
//   kReferenceAudioCapSamples     60 minutes of it
//   gReferenceAudio               the published track (handed to the audio thread whole)
//   SetReferenceAudioGain         the mixer strip's fader (0 when muted)
//   PublishReferenceAudio         replace the track; the old one is freed by the caller
//   AudioStampPlacer / PlaceAudioFrame   where each decoded frame goes, by its time stamp
//   DecodeReferenceAudio          decode a file's best audio stream (cancellable, capped)
//   ExtractReferenceAudio         publish nothing, decode, publish (on the calling thread)
//   MixReferenceAudio             audio thread: add the track at a reference time
//   ReferenceAudioMixHook         the block mixer's hook: playback time minus the video's start offset
//   gReferenceAudioFreedWhileMixing   tracks freed by a thread while it mixed (must stay 0)
//
// The audio thread neither locks nor frees: a track can be 691 MB, and
// freeing it there would stall the output. It reads the track through the
// hand-over of playback/audio_handoff.h, whose writers free what they replace.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "playback/audio_handoff.h"

struct VideoRefAudio {
    VideoRefAudio() = default;
    ~VideoRefAudio();
    VideoRefAudio(const VideoRefAudio&) = delete;
    VideoRefAudio& operator=(const VideoRefAudio&) = delete;

    std::vector<int16_t> samples;  // left, right, left, right ...
    int64_t frames = 0;            // samples / 2
    int32_t sampleRate = 48000;
};

constexpr int64_t kReferenceAudioCapSamples = 3600LL * 48000 * 2;

extern AudioHandoff<VideoRefAudio>& gReferenceAudio;
extern std::atomic<int64_t> gReferenceAudioFreedWhileMixing;

void SetReferenceAudioGain(float gain);
float ReferenceAudioGain();

// Any thread but the audio thread.
void PublishReferenceAudio(std::shared_ptr<const VideoRefAudio> audio);

// Decoded audio is placed by its time stamps, not laid end to end: after a
// damaged stretch of a file the rest of the track keeps its time. Frames
// that follow on within the stamps' jitter are appended; a frame stamped
// later leaves silence before it, one stamped earlier loses what overlaps.
// Positions are 48 kHz frames of video time (0 = the picture's first stamp).
struct AudioStampPlacer {
    double jitterFrames = 48;     // deviations up to this are rounding of the stamps
    double startSlackFrames = 0;  // a first stamp this close to 0 counts as 0
    bool started = false;
    double correctionFrames = 0;  // added to every stamp after the first
    double expectedFrames = 0;    // where the next frame follows on
};
struct AudioFramePlacement {
    bool jump = false;  // the frame does not follow on: it starts at `start`
    int64_t start = 0;
};
// `stampFrames` is NaN for a frame without a stamp (it follows on);
// `frames` is its length at 48 kHz. The first frame always jumps; a first
// stamp beyond the slack keeps its offset (audio that starts before the
// picture loses what lies before 0). Stamps a minute or more away from where
// the audio runs are not trusted.
AudioFramePlacement PlaceAudioFrame(AudioStampPlacer& placer, double stampFrames, double frames);

// Null when the file has no decodable audio stream, when decoding gives at
// most one sample, or when `cancel` was raised. Logs the cap line when the
// track reaches `capSamples`, and the success line.
std::shared_ptr<VideoRefAudio> DecodeReferenceAudio(const std::string& path,
                                                    const std::atomic<bool>* cancel = nullptr,
                                                    int64_t capSamples = kReferenceAudioCapSamples);
// The same from `fd`, the file at `path` already open (owned: closed when
// done); -1 opens the path.
std::shared_ptr<VideoRefAudio> DecodeReferenceAudioFrom(int fd, const std::string& path,
                                                        const std::atomic<bool>* cancel = nullptr,
                                                        int64_t capSamples = kReferenceAudioCapSamples);
void ExtractReferenceAudio(const std::string& path);

void MixReferenceAudio(float* left, float* right, int32_t frameCount, double timeSeconds,
                       int32_t engineSampleRate);
void ReferenceAudioMixHook(float* left, float* right, int32_t frames, double playbackTimeSeconds,
                           int32_t engineSampleRate);
