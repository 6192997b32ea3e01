// reference_audio.h — the reference video's own sound, mixed under the events.
//
// Index
//   VideoRefAudio                 the whole track: interleaved stereo 16-bit at 48000 Hz
//   kReferenceAudioCapSamples     60 minutes of it
//   gReferenceAudio               the published track (handed to the audio thread whole)
//   SetReferenceAudioGain         the mixer strip's fader (0 when muted)
//   PublishReferenceAudio         replace the track; the old one is freed by the caller
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

// Null when the file has no decodable audio stream, when decoding gives at
// most one sample, or when `cancel` was raised. Logs the cap line when the
// track reaches `capSamples`, and the success line.
std::shared_ptr<VideoRefAudio> DecodeReferenceAudio(const std::string& path,
                                                    const std::atomic<bool>* cancel = nullptr,
                                                    int64_t capSamples = kReferenceAudioCapSamples);
void ExtractReferenceAudio(const std::string& path);

void MixReferenceAudio(float* left, float* right, int32_t frameCount, double timeSeconds,
                       int32_t engineSampleRate);
void ReferenceAudioMixHook(float* left, float* right, int32_t frames, double playbackTimeSeconds,
                           int32_t engineSampleRate);
