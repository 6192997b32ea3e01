// video_decoder.cpp — one video stream of a file, decoded through FFmpeg.
//
// Index
//   QuietFFmpegLog            FFmpeg's own chatter: errors only
//   Local media input         the checked file's descriptor under an AVIOContext:
//                             OpenLocalMediaFile / OpenLocalMediaDescriptor,
//                             LocalMediaDescriptor, CloseLocalMediaFile
//   Open steps                container, stream, decoder, size, rate, duration
//   OpenVideoFFmpeg / CloseVideoFFmpeg
//   ReceiveVideoFrameFFmpeg   read, send, receive; frame times from the stream's start
//   SeekVideoFFmpeg
//   ConvertVideoFrameFFmpeg   bilinear RGBA through a scaler that follows the frame
#include "picture/video_decoder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "document/project.h"
#include "platform/file_util.h"
#include "platform/text_direction.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

// A few decoder threads: a seek walks a whole GOP, and a full-HD picture is
// several milliseconds of work. More would crowd the audio thread for little
// gain. FFmpeg's frame threads hand frames over through atomics of its own,
// which ThreadSanitizer cannot see into: its builds decode on one thread.
#if defined(__SANITIZE_THREAD__)
constexpr int kDecoderThreads = 1;
#else
constexpr int kDecoderThreads = 4;
#endif

void QuietFFmpegLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_ERROR); });
}

void Fail(VideoDecoder& decoder, const char* format, const std::string& path) {
    std::printf(format, path.c_str());
    std::fflush(stdout);
    CloseVideoFFmpeg(decoder);
}

// Either side above the cap scales both by cap / longer side, truncated, and
// never below one pixel (a 3 x 7620 picture would otherwise be 0 wide).
void CapPictureSize(int32_t& width, int32_t& height) {
    if (width <= kMaxVideoPictureSide && height <= kMaxVideoPictureSide) return;
    const double scale = double(kMaxVideoPictureSide) / double(std::max(width, height));
    width = std::max(1, static_cast<int32_t>(double(width) * scale));
    height = std::max(1, static_cast<int32_t>(double(height) * scale));
}

double StreamDuration(const AVFormatContext* format, const AVStream* stream) {
    if (stream->duration >= 1) return double(stream->duration) * av_q2d(stream->time_base);
    if (format->duration > 0) return double(format->duration) / 1000000.0;
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Local media input
// ---------------------------------------------------------------------------

namespace {

constexpr int kInputBufferBytes = 1 << 16;

// What FFmpeg reads: the descriptor of the file that was checked, at a
// position of its own (reads are positioned, so two readers of one
// descriptor never move each other).
struct LocalMediaInput {
    int fd = -1;
    int64_t position = 0;
    std::string refused;  // the first other file the container asked to open
    std::string kind;     // the container that asked
};

// The one way a demuxer opens another file (a playlist's segments, a
// concat list's parts, the next picture of an image sequence, a reference
// movie's media): refused, and remembered so that the open is refused with
// the reason. FFmpeg reads the descriptor of the checked file and nothing else.
int RefuseOtherFile(AVFormatContext* context, AVIOContext**, const char* url, int, AVDictionary**) {
    if (context && context->pb && context->pb->opaque) {
        auto* input = static_cast<LocalMediaInput*>(context->pb->opaque);
        if (input->refused.empty()) {
            input->refused = url ? url : "?";
            const AVInputFormat* format = context->iformat;
            input->kind = format && format->long_name ? format->long_name : format && format->name ? format->name : "";
        }
    }
    return AVERROR(EPERM);
}

// Demuxers whose files name other files: refused by name, whether or not
// they asked for one while the container was opened.
bool NamesOtherFiles(const char* demuxer) {
    static const char* const kNaming[] = {"hls", "applehttp", "concat", "image2", "dash", "imf", "ffmetadata",
                                          "tedcaptions", "mpl2"};
    if (!demuxer) return false;
    for (const char* name : kNaming)
        if (std::strcmp(demuxer, name) == 0) return true;
    return false;
}

int ReadInput(void* opaque, uint8_t* buffer, int size) {
    auto* input = static_cast<LocalMediaInput*>(opaque);
    for (;;) {
        const ssize_t n = ::pread(input->fd, buffer, size_t(std::max(size, 0)), off_t(input->position));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return AVERROR(errno);
        if (n == 0) return AVERROR_EOF;
        input->position += n;
        return int(n);
    }
}

int64_t SeekInput(void* opaque, int64_t offset, int whence) {
    auto* input = static_cast<LocalMediaInput*>(opaque);
    struct stat st {};
    if (whence & AVSEEK_SIZE) return ::fstat(input->fd, &st) == 0 ? int64_t(st.st_size) : AVERROR(errno);
    int64_t base = 0;
    switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = input->position; break;
        case SEEK_END:
            if (::fstat(input->fd, &st) != 0) return AVERROR(errno);
            base = int64_t(st.st_size);
            break;
        default: return AVERROR(EINVAL);
    }
    if (offset > 0 && base > INT64_MAX - offset) return AVERROR(EINVAL);
    const int64_t target = base + offset;
    if (target < 0) return AVERROR(EINVAL);
    input->position = target;
    return target;
}

// The custom input of a context this file opened, or null.
LocalMediaInput* InputOf(const AVFormatContext* format) {
    if (!format || !format->pb || !(format->flags & AVFMT_FLAG_CUSTOM_IO) || format->pb->read_packet != ReadInput)
        return nullptr;
    return static_cast<LocalMediaInput*>(format->pb->opaque);
}

void FreeInput(AVIOContext** io) {
    if (!*io) return;
    auto* input = static_cast<LocalMediaInput*>((*io)->opaque);
    av_freep(&(*io)->buffer);
    avio_context_free(io);
    if (input) {
        if (input->fd >= 0) ::close(input->fd);
        delete input;
    }
}

}  // namespace

std::string OtherFilesSentence(const std::string& path, const std::string& kind) {
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return QuotedName(name) + " refers to other files (" + kind +
           "); only a video held in one file is opened";
}

int OpenLocalMediaDescriptor(AVFormatContext** format, int fd, const std::string& name, std::string* problem) {
    *format = nullptr;
    auto* input = new LocalMediaInput{fd, 0, {}, {}};
    auto* buffer = static_cast<uint8_t*>(av_malloc(kInputBufferBytes));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, kInputBufferBytes, 0, input, ReadInput, nullptr, SeekInput)
                             : nullptr;
    AVFormatContext* context = io ? avformat_alloc_context() : nullptr;
    if (!context) {
        if (io) {
            FreeInput(&io);
        } else {
            av_free(buffer);
            ::close(fd);
            delete input;
        }
        if (problem) *problem = "out of memory";
        return AVERROR(ENOMEM);
    }
    context->pb = io;
    context->flags |= AVFMT_FLAG_CUSTOM_IO;
    // Nothing the container refers to is ever opened: no protocol may open
    // a path, and the one hook through which demuxers open files refuses.
    context->io_open = RefuseOtherFile;
    // Told by what the file holds: a container whose kind names other files
    // is refused before it is opened at all.
    const std::string url = "file:" + name;
    const AVInputFormat* probed = nullptr;
    if (av_probe_input_buffer2(io, &probed, url.c_str(), nullptr, 0, 0) >= 0 && probed &&
        NamesOtherFiles(probed->name)) {
        const std::string kind = probed->long_name ? probed->long_name : probed->name;
        std::printf("[Video] %s is %s, which names other files: refused\n", name.c_str(), kind.c_str());
        avformat_free_context(context);
        FreeInput(&io);
        if (problem) *problem = OtherFilesSentence(name, kind);
        return AVERROR(EPERM);
    }
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "none", 0);
    av_dict_set(&options, "safe", "1", 0);
    int status = avformat_open_input(&context, url.c_str(), probed, &options);
    av_dict_free(&options);
    if (status >= 0 && (!input->refused.empty() || NamesOtherFiles(context->iformat ? context->iformat->name : nullptr))) {
        const std::string kind = context->iformat && context->iformat->long_name ? context->iformat->long_name
                                 : context->iformat && context->iformat->name    ? context->iformat->name
                                                                                  : "a list of files";
        avformat_close_input(&context);  // a custom input stays ours
        if (problem) *problem = OtherFilesSentence(name, kind);
        std::printf("[Video] %s refers to other files (%s): refused\n", name.c_str(),
                    input->refused.empty() ? kind.c_str() : input->refused.c_str());
        FreeInput(&io);
        return AVERROR(EPERM);
    }
    if (status < 0) {
        // A context that failed to open is freed by FFmpeg; the input is ours.
        const bool named = !input->refused.empty();
        if (named)
            std::printf("[Video] %s refers to other files (%s): refused\n", name.c_str(), input->refused.c_str());
        const std::string kind = input->kind.empty() ? "a list of files" : input->kind;
        FreeInput(&io);
        if (problem) *problem = named ? OtherFilesSentence(name, kind) : "cannot open container";
        return named ? AVERROR(EPERM) : status;
    }
    *format = context;
    return status;
}

int OpenLocalMediaFile(AVFormatContext** format, const std::string& path, std::string* problem,
                       FileFaultHook fault) {
    *format = nullptr;
    // The file is looked at and opened once, here: FFmpeg reads that
    // descriptor and never the path, so nothing put at the path since (a
    // named pipe renamed over it) is ever opened.
    const RegularFile file = OpenRegularFile(path, fault);
    if (file.fd < 0) {
        // A folder, pipe or device says what it is, as does a missing file.
        if (problem) *problem = file.problem;
        return AVERROR(EINVAL);
    }
    return OpenLocalMediaDescriptor(format, file.fd, path, problem);
}

int LocalMediaDescriptor(const AVFormatContext* format) {
    const LocalMediaInput* input = InputOf(format);
    return input ? input->fd : -1;
}

void CloseLocalMediaFile(AVFormatContext** format) {
    if (!*format) return;
    AVIOContext* io = InputOf(*format) ? (*format)->pb : nullptr;
    avformat_close_input(format);
    FreeInput(&io);
}

bool OpenVideoFFmpeg(VideoDecoder& decoder, const std::string& path, int fd, std::string* refusal,
                     FileFaultHook fault) {
    // Owned from here: closed on every way out that does not hand it on.
    struct Owned {
        int fd;
        ~Owned() {
            if (fd >= 0) ::close(fd);
        }
    } owned{fd};
    CloseVideoFFmpeg(decoder);
    QuietFFmpegLog();
    decoder.packet = av_packet_alloc();
    decoder.frame = av_frame_alloc();
    decoder.receive = av_frame_alloc();
    if (!decoder.packet || !decoder.frame || !decoder.receive) {
        CloseVideoFFmpeg(decoder);
        return false;
    }
    std::string problem;
    const int given = owned.fd;
    owned.fd = -1;  // the context owns it now, or closed it
    const int opened = given >= 0 ? OpenLocalMediaDescriptor(&decoder.format, given, path, &problem)
                                  : OpenLocalMediaFile(&decoder.format, path, &problem, fault);
    if (opened < 0) {
        // Neither text is a format text: the path is printed beside it.
        std::printf("[Video] FFmpeg: %s (%s)\n", problem.c_str(), path.c_str());
        if (refusal && opened == AVERROR(EPERM)) *refusal = problem;
        if (refusal && opened == AVERROR(EINVAL) && given < 0) *refusal = problem;
        CloseVideoFFmpeg(decoder);
        return false;
    }
    if (avformat_find_stream_info(decoder.format, nullptr) < 0) {
        Fail(decoder, "[Video] FFmpeg: no stream info (%s)\n", path);
        return false;
    }
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(decoder.format, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || !codec) {
        Fail(decoder, "[Video] FFmpeg: no decodable video stream (%s)\n", path);
        return false;
    }
    decoder.streamIndex = stream;
    AVStream* st = decoder.format->streams[stream];
    decoder.codec = avcodec_alloc_context3(codec);
    if (!decoder.codec) {
        CloseVideoFFmpeg(decoder);
        return false;
    }
    decoder.codecName = codec->name ? codec->name : "";
    decoder.codec->thread_count = kDecoderThreads;
    if (avcodec_parameters_to_context(decoder.codec, st->codecpar) < 0 ||
        avcodec_open2(decoder.codec, codec, nullptr) < 0) {
        std::printf("[Video] FFmpeg: decoder open failed (%s, %s)\n", decoder.codecName.c_str(),
                    path.c_str());
        std::fflush(stdout);
        CloseVideoFFmpeg(decoder);
        return false;
    }

    int32_t width = st->codecpar->width, height = st->codecpar->height;
    if (width < 1 || height < 1) {
        Fail(decoder, "[Video] FFmpeg: bad dimensions (%s)\n", path);
        return false;
    }
    CapPictureSize(width, height);
    decoder.width = width;
    decoder.height = height;

    const AVRational rate = av_guess_frame_rate(decoder.format, st, nullptr);
    decoder.fps = (rate.num < 1 || rate.den < 1) ? 24.0 : double(UsableFrameRate(float(double(rate.num) / double(rate.den))));

    decoder.duration = StreamDuration(decoder.format, st);
    if (!(decoder.duration > 0)) {
        Fail(decoder, "[Video] FFmpeg: zero/unknown duration (%s)\n", path);
        return false;
    }
    decoder.timeBase = av_q2d(st->time_base);
    decoder.startTime = st->start_time != AV_NOPTS_VALUE ? double(st->start_time) * decoder.timeBase : 0;
    decoder.lastFrameTime = 0;
    decoder.flushSent = false;
    return true;
}

void CloseVideoFFmpeg(VideoDecoder& decoder) {
    sws_freeContext(decoder.scaler);
    av_frame_free(&decoder.frame);
    av_frame_free(&decoder.receive);
    av_packet_free(&decoder.packet);
    avcodec_free_context(&decoder.codec);
    CloseLocalMediaFile(&decoder.format);
    decoder = VideoDecoder{};
}

bool ReceiveVideoFrameFFmpeg(VideoDecoder& decoder, double* time) {
    if (!decoder.codec || !decoder.format) return false;
    for (int attempt = 0; attempt < 4096; ++attempt) {
        const int got = avcodec_receive_frame(decoder.codec, decoder.receive);
        if (got == 0) {
            double t;
            const int64_t stamp = decoder.receive->best_effort_timestamp != AV_NOPTS_VALUE
                                      ? decoder.receive->best_effort_timestamp
                                      : decoder.receive->pts;
            if (stamp != AV_NOPTS_VALUE) {
                t = double(stamp) * decoder.timeBase - decoder.startTime;
            } else {
                t = decoder.lastFrameTime + (decoder.fps > 0 ? 1.0 / decoder.fps : 0.04);
            }
            decoder.lastFrameTime = t;
            av_frame_unref(decoder.frame);
            av_frame_move_ref(decoder.frame, decoder.receive);
            if (time) *time = t;
            return true;
        }
        if (got != AVERROR(EAGAIN)) return false;
        if (av_read_frame(decoder.format, decoder.packet) < 0) {
            if (decoder.flushSent) return false;
            avcodec_send_packet(decoder.codec, nullptr);
            decoder.flushSent = true;
            continue;
        }
        if (decoder.packet->stream_index == decoder.streamIndex) {
            avcodec_send_packet(decoder.codec, decoder.packet);
        }
        av_packet_unref(decoder.packet);
    }
    return false;
}

void SeekVideoFFmpeg(VideoDecoder& decoder, double videoTime) {
    if (!decoder.codec || !decoder.format || !(decoder.timeBase > 0)) return;
    const int64_t stamp = std::llround((videoTime + decoder.startTime) / decoder.timeBase);
    // Before the first keyframe there is none at or before the time: take the first.
    if (av_seek_frame(decoder.format, decoder.streamIndex, stamp, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(decoder.format, decoder.streamIndex, stamp, 0);
    avcodec_flush_buffers(decoder.codec);
    av_frame_unref(decoder.frame);
    decoder.flushSent = false;
}

bool ConvertVideoFrameFFmpeg(VideoDecoder& decoder, const AVFrame* frame, int32_t width,
                             int32_t height, uint8_t* rgba) {
    if (!frame || frame->width < 1 || frame->height < 1 || width < 1 || height < 1 || !rgba)
        return false;
    // The cached form keeps the scaler while every parameter matches and makes
    // a new one when the stream changes its picture size or format midway.
    decoder.scaler = sws_getCachedContext(decoder.scaler, frame->width, frame->height,
                                          AVPixelFormat(frame->format), width, height,
                                          AV_PIX_FMT_RGBA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!decoder.scaler) return false;
    uint8_t* planes[4] = {rgba, nullptr, nullptr, nullptr};
    int strides[4] = {width * 4, 0, 0, 0};
    return sws_scale(decoder.scaler, frame->data, frame->linesize, 0, frame->height, planes,
                     strides) > 0;
}
