// reference_audio.h — the reference video's own sound, mixed under the events.
//
// Index
//   VideoRefAudio                 the whole track: interleaved stereo 16-bit at 48000 Hz
//   kReferenceAudioCapSamples     60 minutes of it
//   gReferenceAudio               the published track (atomic pointer; the interface thread owns it)
//   ReferenceAudioReader          the mix's hold on the published track for one block
//   SetReferenceAudioGain         the mixer strip's fader (0 when muted)
//   PublishReferenceAudio         interface thread: replace the track; the old one is retired
//   PublishedReferenceAudio       interface thread: the track now published
//   ReleaseRetiredReferenceAudio  interface thread: free retired tracks once no mix reads
//   DecodeReferenceAudio          decode a file's best audio stream (cancellable, capped)
//   ExtractReferenceAudio         publish nothing, decode, publish (on the calling thread)
//   MixReferenceAudio             audio thread: add the track at a reference time
//   ReferenceAudioMixHook         the block mixer's hook: playback time minus the video's start offset
//   gReferenceAudioFreedWhileMixing   tracks freed by a thread while it mixed (must stay 0)
//
// The audio thread neither locks nor frees. A track can be 691 MB: freeing it
// there would stall the output. The interface thread owns every track through
// shared pointers and publishes a plain atomic pointer; a mix counts itself
// as a reader while it holds that pointer, and the interface thread frees a
// retired track only after it has seen no reader since the track was
// replaced. (The standard library's atomic shared pointer would let the
// audio thread drop the last reference, and the one of GCC 12 releases its
// internal lock with relaxed order, a data race that ThreadSanitizer reports.)
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

extern std::atomic<const VideoRefAudio*> gReferenceAudio;
extern std::atomic<int64_t> gReferenceAudioFreedWhileMixing;

// Holds the published track (or null) from construction to destruction.
class ReferenceAudioReader {
public:
    ReferenceAudioReader();
    ~ReferenceAudioReader();
    ReferenceAudioReader(const ReferenceAudioReader&) = delete;
    ReferenceAudioReader& operator=(const ReferenceAudioReader&) = delete;
    const VideoRefAudio* audio() const { return audio_; }

private:
    const VideoRefAudio* audio_ = nullptr;
};

void SetReferenceAudioGain(float gain);
float ReferenceAudioGain();

void PublishReferenceAudio(std::shared_ptr<const VideoRefAudio> audio);
std::shared_ptr<const VideoRefAudio> PublishedReferenceAudio();
void ReleaseRetiredReferenceAudio();
// Tracks retired and not yet freed (tests).
size_t RetiredReferenceAudioCount();

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
