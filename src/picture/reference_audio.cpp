// reference_audio.cpp — the reference video's own sound, mixed under the events.
//
// Index
//   Published track and gain
//   AudioDecodeState / OpenAudioDecoder    container, best audio stream, decoder, resampler
//   StreamOffsetFrames                     where the audio stream starts against the picture
//   AppendConverted / DrainDecoder         frames through the resampler into the track
//   DecodeReferenceAudio / ExtractReferenceAudio
//   MixReferenceAudio / ReferenceAudioMixHook
#include "picture/reference_audio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include "picture/video_decoder.h"
#include "picture/video_player.h"

// ---- Published track and gain -------------------------------------------------

// Never destroyed: the program's player closes in its static destructor and
// publishes then, whatever the order in which other files' statics go.
AudioHandoff<VideoRefAudio>& gReferenceAudio = *new AudioHandoff<VideoRefAudio>();
std::atomic<int64_t> gReferenceAudioFreedWhileMixing{0};

namespace {

constexpr int32_t kReferenceRate = 48000;

std::atomic<float> gReferenceGain{0.0f};
// Raised while this thread mixes, so that a track's destructor can tell.
thread_local bool tMixing = false;

struct MixingScope {
    MixingScope() { tMixing = true; }
    ~MixingScope() { tMixing = false; }
};

}  // namespace

VideoRefAudio::~VideoRefAudio() {
    if (tMixing) gReferenceAudioFreedWhileMixing.fetch_add(1, std::memory_order_relaxed);
}

void SetReferenceAudioGain(float gain) { gReferenceGain.store(gain, std::memory_order_relaxed); }
float ReferenceAudioGain() { return gReferenceGain.load(std::memory_order_relaxed); }

void PublishReferenceAudio(std::shared_ptr<const VideoRefAudio> audio) {
    gReferenceAudio.Replace(std::move(audio));
}

// ---- Decoding ----------------------------------------------------------------

namespace {

struct AudioDecodeState {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;

    ~AudioDecodeState() {
        av_frame_free(&frame);
        av_packet_free(&packet);
        swr_free(&swr);
        avcodec_free_context(&codec);
        avformat_close_input(&format);
    }
};

bool OpenAudioDecoder(AudioDecodeState& s, const std::string& path) {
    if (OpenLocalMediaFile(&s.format, path, nullptr) < 0) return false;
    if (avformat_find_stream_info(s.format, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (s.stream < 0 || !decoder) return false;
    s.codec = avcodec_alloc_context3(decoder);
    if (!s.codec) return false;
    if (avcodec_parameters_to_context(s.codec, s.format->streams[s.stream]->codecpar) < 0 ||
        avcodec_open2(s.codec, decoder, nullptr) < 0)
        return false;

    AVChannelLayout in{};
    if (s.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || s.codec->ch_layout.nb_channels < 1) {
        av_channel_layout_default(&in, std::max(1, s.codec->ch_layout.nb_channels));
    } else if (av_channel_layout_copy(&in, &s.codec->ch_layout) < 0) {
        return false;
    }
    AVChannelLayout out = AV_CHANNEL_LAYOUT_STEREO;
    const int made = swr_alloc_set_opts2(&s.swr, &out, AV_SAMPLE_FMT_S16, kReferenceRate, &in,
                                         s.codec->sample_fmt, s.codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    if (made < 0 || !s.swr || swr_init(s.swr) < 0) return false;
    s.packet = av_packet_alloc();
    s.frame = av_frame_alloc();
    return s.packet && s.frame;
}

// Frames at 48 kHz by which the audio stream starts after the video stream
// (negative: before). The picture counts its time from the video stream's
// start, so the track is shifted to share that time 0 (an MPEG-TS file's
// audio typically starts a few milliseconds before its first picture).
int64_t StreamOffsetFrames(const AudioDecodeState& s) {
    const AVStream* audio = s.format->streams[s.stream];
    const int video = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0 || audio->start_time == AV_NOPTS_VALUE) return 0;
    const AVStream* picture = s.format->streams[video];
    if (picture->start_time == AV_NOPTS_VALUE) return 0;
    const double offset = double(audio->start_time) * av_q2d(audio->time_base) -
                          double(picture->start_time) * av_q2d(picture->time_base);
    // Beyond a minute the stamps are not trusted.
    if (!std::isfinite(offset) || std::fabs(offset) > 60.0) return 0;
    return std::llround(offset * kReferenceRate);
}

double AudioSeconds(const AudioDecodeState& s) {
    const AVStream* audio = s.format->streams[s.stream];
    if (audio->duration > 0) return double(audio->duration) * av_q2d(audio->time_base);
    if (s.format->duration > 0) return double(s.format->duration) / 1000000.0;
    return 0;
}

// Samples the container declares for the track, counted from video time 0;
// unlimited when the length is only an estimate. The encoder pads the last
// AAC frame (up to 1023 samples of silence past the end); an MP4 declares
// the true length, an MPEG-TS only gives an estimate from its time stamps.
int64_t DeclaredSamples(const AudioDecodeState& s, int64_t offsetFrames) {
    const double seconds = AudioSeconds(s);
    if (s.format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || !(seconds > 0))
        return INT64_MAX;
    return (offsetFrames + std::llround(seconds * kReferenceRate)) * 2;
}

struct TrackBuilder {
    VideoRefAudio& audio;
    int64_t skipFrames = 0;  // frames still to drop from the start
    int64_t limitSamples = 0;

    bool Full() const { return int64_t(audio.samples.size()) >= limitSamples; }

    // Converts `in` (null drains the resampler) and appends what comes out.
    void Append(SwrContext* swr, const AVFrame* in) {
        const int inFrames = in ? in->nb_samples : 0;
        const int n = swr_get_out_samples(swr, inFrames);
        if (n <= 0) return;
        std::vector<int16_t>& samples = audio.samples;
        const size_t old = samples.size();
        samples.resize(old + size_t(n) * 2);
        uint8_t* out = reinterpret_cast<uint8_t*>(samples.data() + old);
        const int got = swr_convert(swr, &out, n, in ? const_cast<const uint8_t**>(in->extended_data) : nullptr,
                                    inFrames);
        samples.resize(old + size_t(std::max(got, 0)) * 2);
        if (skipFrames > 0) {
            const int64_t drop = std::min<int64_t>(skipFrames, int64_t(samples.size() - old) / 2);
            samples.erase(samples.begin() + int64_t(old), samples.begin() + int64_t(old) + drop * 2);
            skipFrames -= drop;
        }
    }
};

// Receives every frame the decoder has ready; false when the track is full.
bool ReceiveAll(AudioDecodeState& s, TrackBuilder& track) {
    while (avcodec_receive_frame(s.codec, s.frame) == 0) {
        track.Append(s.swr, s.frame);
        av_frame_unref(s.frame);
        if (track.Full()) return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<VideoRefAudio> DecodeReferenceAudio(const std::string& path,
                                                    const std::atomic<bool>* cancel,
                                                    int64_t capSamples) {
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    AudioDecodeState s;
    if (!OpenAudioDecoder(s, path)) return nullptr;
    capSamples = std::max<int64_t>(2, capSamples & ~int64_t(1));

    const int64_t offset = StreamOffsetFrames(s);
    const int64_t limit = std::max<int64_t>(0, std::min(capSamples, DeclaredSamples(s, offset)));
    auto audio = std::make_shared<VideoRefAudio>();
    audio->sampleRate = kReferenceRate;
    const double estimate = AudioSeconds(s) * kReferenceRate * 2 * 1.01 + kReferenceRate * 2;
    // A second of room: the last decoded frame runs past the limit before the
    // track is cut back to it, and growing a full vector would double it.
    audio->samples.reserve(size_t(std::clamp(estimate, 0.0, double(limit))) + kReferenceRate * 2);
    TrackBuilder track{*audio, 0, limit};
    if (offset > 0) audio->samples.assign(size_t(std::min(offset * 2, limit)), 0);
    else track.skipFrames = -offset;

    bool full = track.Full();
    while (!full && !cancelled() && av_read_frame(s.format, s.packet) >= 0) {
        if (s.packet->stream_index == s.stream && avcodec_send_packet(s.codec, s.packet) == 0)
            full = !ReceiveAll(s, track);
        av_packet_unref(s.packet);
    }
    if (!full && !cancelled()) {
        // What the decoder and the resampler still hold belongs to the end.
        avcodec_send_packet(s.codec, nullptr);
        if (ReceiveAll(s, track)) track.Append(s.swr, nullptr);
    }
    if (cancelled()) return nullptr;
    const bool capped = int64_t(audio->samples.size()) >= capSamples;
    if (int64_t(audio->samples.size()) > limit) audio->samples.resize(size_t(limit));
    if (capped) std::printf("[Video] reference audio capped at 60 min (%s)\n", path.c_str());
    if (audio->samples.capacity() > audio->samples.size() + audio->samples.size() / 8)
        audio->samples.shrink_to_fit();
    audio->frames = int64_t(audio->samples.size() / 2);
    if (audio->samples.size() <= 1) return nullptr;
    std::printf("[Video] reference audio: %.1fs stereo 48kHz (%s)\n",
                double(audio->frames) / kReferenceRate, path.c_str());
    std::fflush(stdout);
    return audio;
}

void ExtractReferenceAudio(const std::string& path) {
    PublishReferenceAudio(nullptr);
    if (auto audio = DecodeReferenceAudio(path)) PublishReferenceAudio(std::move(audio));
}

// ---- Mixing ------------------------------------------------------------------

void MixReferenceAudio(float* left, float* right, int32_t frameCount, double timeSeconds,
                       int32_t engineSampleRate) {
    const MixingScope mixing;
    const AudioHandoff<VideoRefAudio>::ReadScope scope(gReferenceAudio);
    const VideoRefAudio* audio = scope.Get();
    const float gain = gReferenceGain.load(std::memory_order_relaxed);
    if (!audio || !left || !right || engineSampleRate < 1 || !(gain > 0.0001f)) return;
    const int64_t frames = std::min<int64_t>(audio->frames, int64_t(audio->samples.size() / 2));
    if (frames < 2) return;
    const int16_t* s = audio->samples.data();
    const float g = gain / 32768.0f;
    double p = double(audio->sampleRate) * timeSeconds;
    const double step = double(audio->sampleRate) / double(engineSampleRate);
    for (int32_t i = 0; i < frameCount; ++i, p += step) {
        const int64_t k = static_cast<int64_t>(p);  // toward zero
        if (k < 0 || k + 1 >= frames) continue;
        const float f = float(p - double(k));
        const float l0 = s[2 * k], r0 = s[2 * k + 1], l1 = s[2 * k + 2], r1 = s[2 * k + 3];
        left[i] += (l0 + (l1 - l0) * f) * g;
        right[i] += (r0 + (r1 - r0) * f) * g;
    }
}

void ReferenceAudioMixHook(float* left, float* right, int32_t frames, double playbackTimeSeconds,
                           int32_t engineSampleRate) {
    const double offset = gVideoPlayer.startOffset.load(std::memory_order_relaxed);
    MixReferenceAudio(left, right, frames, playbackTimeSeconds - offset, engineSampleRate);
}
