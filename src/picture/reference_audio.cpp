// reference_audio.cpp — the reference video's own sound, mixed under the events.
//
// Index
//   Published track and gain
//   PlaceAudioFrame                        where a decoded frame goes, by its stamp
//   AudioDecodeState / OpenAudioDecoder    container, best audio stream, decoder, resampler
//   AudioClock / PlacerFor / FrameStamp    the stamps against the picture's time 0
//   TrackBuilder / ReceiveAll              frames through the resampler into their place
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

// ---- Placement by time stamps ------------------------------------------------

namespace {

// Stamps further than this from where the audio runs are not trusted: a
// broken stream, or a stamp that wrapped around.
constexpr double kUntrustedFrames = 60.0 * kReferenceRate;

}  // namespace

AudioFramePlacement PlaceAudioFrame(AudioStampPlacer& placer, double stampFrames, double frames) {
    AudioFramePlacement at;
    if (!placer.started) {
        placer.started = true;
        at.jump = true;
        double start = std::isfinite(stampFrames) ? stampFrames : 0;
        // Containers disagree on whether the stream's stamps already count
        // the codec's pre-skip (Matroska's Opus does, and the decoder drops
        // it again): a start the pre-skip explains is no start offset.
        if (std::fabs(start) <= placer.startSlackFrames || std::fabs(start) > kUntrustedFrames) start = 0;
        placer.correctionFrames = std::isfinite(stampFrames) ? start - stampFrames : 0;
        placer.expectedFrames = start + frames;
        at.start = std::llround(start);
        return at;
    }
    const double stamped = stampFrames + placer.correctionFrames;
    const double deviation = stamped - placer.expectedFrames;
    if (!std::isfinite(deviation) || std::fabs(deviation) <= placer.jitterFrames ||
        std::fabs(deviation) > kUntrustedFrames) {
        at.start = std::llround(placer.expectedFrames);
        placer.expectedFrames += frames;
        return at;
    }
    at.jump = true;
    at.start = std::llround(stamped);
    placer.expectedFrames = stamped + frames;
    return at;
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
        CloseLocalMediaFile(&format);
    }
};

// `fd` (owned, -1: the path is opened) is the file's descriptor when the
// caller has it open already.
bool OpenAudioDecoder(AudioDecodeState& s, const std::string& path, int fd) {
    const int opened = fd >= 0 ? OpenLocalMediaDescriptor(&s.format, fd, path, nullptr)
                               : OpenLocalMediaFile(&s.format, path, nullptr);
    if (opened < 0) return false;
    if (avformat_find_stream_info(s.format, nullptr) < 0) return false;
    const AVCodec* decoder = nullptr;
    s.stream = av_find_best_stream(s.format, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
    if (s.stream < 0 || !decoder) return false;
    s.codec = avcodec_alloc_context3(decoder);
    if (!s.codec) return false;
    if (avcodec_parameters_to_context(s.codec, s.format->streams[s.stream]->codecpar) < 0) return false;
    // With the stream's time base the decoder moves a frame's stamp past the
    // samples it drops (pre-skip, priming); without it the stamps keep them.
    s.codec->pkt_timebase = s.format->streams[s.stream]->time_base;
    if (avcodec_open2(s.codec, decoder, nullptr) < 0) return false;

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

// Time stamps of the audio against the picture, in 48 kHz frames. The
// picture counts its time from the video stream's start, so the audio's
// stamps are taken against that too (an MPEG-TS file's audio typically
// starts a few milliseconds before its first picture). Without a picture
// stream the audio's own start is time 0.
struct AudioClock {
    double tick = 0;    // seconds per audio stamp
    double origin = 0;  // seconds: the stamp of time 0
};

AudioClock ReadAudioClock(const AudioDecodeState& s) {
    AudioClock clock;
    const AVStream* audio = s.format->streams[s.stream];
    clock.tick = av_q2d(audio->time_base);
    const int video = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* zero = video >= 0 && s.format->streams[video]->start_time != AV_NOPTS_VALUE
                               ? s.format->streams[video]
                               : audio;
    if (zero->start_time != AV_NOPTS_VALUE) clock.origin = double(zero->start_time) * av_q2d(zero->time_base);
    if (!std::isfinite(clock.origin)) clock.origin = 0;
    return clock;
}

// The rules of AudioStampPlacer for this stream: stamp jitter up to two
// ticks (a millisecond at least), and a start that the codec's pre-skip and
// the coarser stamp can explain.
AudioStampPlacer PlacerFor(const AudioDecodeState& s, const AudioClock& clock) {
    AudioStampPlacer placer;
    const int video = av_find_best_stream(s.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const double videoTick = video >= 0 ? av_q2d(s.format->streams[video]->time_base) : 0;
    const double coarser = std::max(clock.tick, videoTick);
    placer.jitterFrames = std::max(48.0, 2 * clock.tick * kReferenceRate);
    const AVCodecParameters* par = s.format->streams[s.stream]->codecpar;
    const double preSkip = par->sample_rate > 0 ? double(std::max(0, par->initial_padding)) / par->sample_rate : 0;
    placer.startSlackFrames = (preSkip + 1.5 * coarser) * kReferenceRate;
    return placer;
}

// Where a decoded frame begins in 48 kHz frames of video time (NaN without a
// stamp). The decoder has moved the stamp past the samples it dropped (the
// codec's pre-skip, an MP4's priming), since it knows the stream's time base.
double FrameStamp(const AVFrame* frame, const AudioClock& clock) {
    const int64_t stamp = frame->best_effort_timestamp != AV_NOPTS_VALUE ? frame->best_effort_timestamp : frame->pts;
    if (stamp == AV_NOPTS_VALUE || !(clock.tick > 0)) return std::nan("");
    const double seconds = double(stamp) * clock.tick - clock.origin;
    return std::isfinite(seconds) ? seconds * kReferenceRate : std::nan("");
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
int64_t DeclaredSamples(const AudioDecodeState& s, int64_t startFrames) {
    const double seconds = AudioSeconds(s);
    if (s.format->duration_estimation_method != AVFMT_DURATION_FROM_STREAM || !(seconds > 0))
        return INT64_MAX;
    return (startFrames + std::llround(seconds * kReferenceRate)) * 2;
}

struct TrackBuilder {
    VideoRefAudio& audio;
    int64_t trimFrames = 0;  // frames still to drop from what the resampler gives
    int64_t limitSamples = 0;

    int64_t EndFrame() const { return int64_t(audio.samples.size() / 2); }
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
        if (trimFrames > 0) {
            const int64_t drop = std::min<int64_t>(trimFrames, int64_t(samples.size() - old) / 2);
            samples.erase(samples.begin() + int64_t(old), samples.begin() + int64_t(old) + drop * 2);
            trimFrames -= drop;
        }
    }

    // The next frame converted lands at `frame`: silence fills a gap, and
    // what would overlap the track is dropped from the new audio.
    void MoveTo(int64_t frame) {
        const int64_t end = EndFrame();
        trimFrames = std::max<int64_t>(0, end - frame);
        if (frame > end) {
            const int64_t room = std::max<int64_t>(0, limitSamples - int64_t(audio.samples.size()));
            audio.samples.resize(audio.samples.size() + size_t(std::min((frame - end) * 2, room)), 0);
        }
    }
};

// Receives every frame the decoder has ready and places it; false when the
// track is full.
bool ReceiveAll(AudioDecodeState& s, const AudioClock& clock, AudioStampPlacer& placer, TrackBuilder& track) {
    while (avcodec_receive_frame(s.codec, s.frame) == 0) {
        const double rate = s.frame->sample_rate > 0 ? s.frame->sample_rate : s.codec->sample_rate;
        const double frames = rate > 0 ? double(s.frame->nb_samples) * kReferenceRate / rate : 0;
        const bool first = !placer.started;
        const AudioFramePlacement at = PlaceAudioFrame(placer, FrameStamp(s.frame, clock), frames);
        if (first) {
            track.limitSamples = std::min(track.limitSamples, std::max<int64_t>(0, DeclaredSamples(s, at.start)));
            track.MoveTo(at.start);
        } else if (at.jump) {
            // What the resampler still holds belongs before the jump; it
            // starts afresh after it.
            track.Append(s.swr, nullptr);
            if (swr_init(s.swr) < 0) return false;
            track.MoveTo(at.start);
        }
        if (!track.Full()) track.Append(s.swr, s.frame);
        av_frame_unref(s.frame);
        if (track.Full()) return false;
    }
    return true;
}

}  // namespace

std::shared_ptr<VideoRefAudio> DecodeReferenceAudio(const std::string& path,
                                                    const std::atomic<bool>* cancel,
                                                    int64_t capSamples) {
    return DecodeReferenceAudioFrom(-1, path, cancel, capSamples);
}

std::shared_ptr<VideoRefAudio> DecodeReferenceAudioFrom(int fd, const std::string& path,
                                                        const std::atomic<bool>* cancel, int64_t capSamples) {
    auto cancelled = [cancel] { return cancel && cancel->load(std::memory_order_relaxed); };
    AudioDecodeState s;
    if (!OpenAudioDecoder(s, path, fd)) return nullptr;
    capSamples = std::max<int64_t>(2, capSamples & ~int64_t(1));

    const AudioClock clock = ReadAudioClock(s);
    AudioStampPlacer placer = PlacerFor(s, clock);
    auto audio = std::make_shared<VideoRefAudio>();
    audio->sampleRate = kReferenceRate;
    const double estimate = AudioSeconds(s) * kReferenceRate * 2 * 1.01 + kReferenceRate * 2;
    // A second of room: the last decoded frame runs past the limit before the
    // track is cut back to it, and growing a full vector would double it.
    audio->samples.reserve(size_t(std::clamp(estimate, 0.0, double(capSamples))) + kReferenceRate * 2);
    TrackBuilder track{*audio, 0, capSamples};

    bool full = false;
    while (!full && !cancelled() && av_read_frame(s.format, s.packet) >= 0) {
        if (s.packet->stream_index == s.stream && avcodec_send_packet(s.codec, s.packet) == 0)
            full = !ReceiveAll(s, clock, placer, track);
        av_packet_unref(s.packet);
    }
    if (!full && !cancelled()) {
        // What the decoder and the resampler still hold belongs to the end.
        avcodec_send_packet(s.codec, nullptr);
        if (ReceiveAll(s, clock, placer, track) && placer.started) track.Append(s.swr, nullptr);
    }
    if (cancelled()) return nullptr;
    const bool capped = int64_t(audio->samples.size()) >= capSamples;
    if (int64_t(audio->samples.size()) > track.limitSamples) audio->samples.resize(size_t(track.limitSamples));
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
