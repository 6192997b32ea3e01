// video_decoder.h — one video stream of a file, decoded through FFmpeg.
//
// Index
//   kMaxVideoPictureSide        the longer side of a picture we show (larger ones are scaled down)
//   VideoDecoder                the open file, its decoder, scaler and the last frame received
//   OpenLocalMediaFile          a regular local file only, read through the descriptor checked
//   OpenLocalMediaDescriptor    the same for a descriptor already open
//   OtherFilesSentence          why a container that names other files is refused
//   LocalMediaDescriptor / CloseLocalMediaFile   the descriptor read; close context and input
//   OpenVideoFFmpeg             open a file's best video stream (logs each failure)
//   CloseVideoFFmpeg            release everything; the record can be opened again
//   ReceiveVideoFrameFFmpeg     the next frame in presentation order, with its time
//   SeekVideoFFmpeg             reposition to the keyframe at or before a time
//   ConvertVideoFrameFFmpeg     scale a frame to tightly packed RGBA (bilinear)
//
// Times are seconds of video time: they count from the stream's start time,
// so the first frame of a file whose stream starts late (MPEG-TS) is at 0,
// and seeks add the start time back. The reference player and the picture
// trace each open their own decoder on the same file; a decoder belongs to
// one thread at a time and takes no lock.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_fault.h"

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

constexpr int32_t kMaxVideoPictureSide = 1280;

struct VideoDecoder {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;    // the last frame received; empty after a seek
    AVFrame* receive = nullptr;  // scratch target of avcodec_receive_frame
    SwsContext* scaler = nullptr;
    int32_t streamIndex = -1;
    bool flushSent = false;      // end of input reached and the decoder was sent its flush packet
    double timeBase = 0;         // seconds per stream tick
    double startTime = 0;        // seconds: the stream's first time stamp
    double fps = 24;             // frame rate (24 when the file gives none)
    double lastFrameTime = 0;    // video time of the last frame received
    int32_t width = 0;           // picture size after the cap on the longer side
    int32_t height = 0;
    double duration = 0;         // seconds
    std::string codecName;
};

// The path a project names is a stranger's text: FFmpeg would take
// "http:..." or "pipe:0" as a protocol and would wait forever on a named
// pipe. Only a regular file is opened (OpenRegularFile: looked at, opened
// without waiting, checked again on the descriptor), and FFmpeg reads that
// descriptor through an AVIOContext, never the path again: a pipe renamed
// over the path after the check is never opened. No other file is ever
// opened: no protocol that opens a path is allowed and the demuxers' hook
// for opening files refuses, so a container that refers to other files (an
// HLS playlist, a concat list, an image sequence, a reference movie) is
// refused with OtherFilesSentence (the result is AVERROR(EPERM) then).
// Negative (an FFmpeg error) with *problem set on failure (the refusal
// sentence of what stands at the path, for a file that is not regular);
// *format is null then. Close with CloseLocalMediaFile.
// `fault` (a test's seam, file_fault.h) is handed to OpenRegularFile.
int OpenLocalMediaFile(AVFormatContext** format, const std::string& path, std::string* problem,
                       FileFaultHook fault = nullptr);
// The same over `fd` (open for reading, a regular file), which the context
// then owns: it is closed with the context, or at once when opening fails.
// `name` (the file's path) tells FFmpeg the file's extension.
int OpenLocalMediaDescriptor(AVFormatContext** format, int fd, const std::string& name, std::string* problem);
// "“NAME” refers to other files (KIND); only a video held in one file is opened".
std::string OtherFilesSentence(const std::string& path, const std::string& kind);
// The descriptor a context of OpenLocalMediaFile reads, -1 for another.
int LocalMediaDescriptor(const AVFormatContext* format);
// Closes the context and, when it is one of OpenLocalMediaFile, its input
// and descriptor; *format is null after.
void CloseLocalMediaFile(AVFormatContext** format);

// Opens `path` (UTF-8) and its best decodable video stream; with `fd` (a
// regular file the caller opened from `path`, owned from here) the file is
// read through it and the path is not opened again. On failure logs its
// "[Video] FFmpeg: ..." line (allocation failures excepted), closes the
// decoder and returns false; *refusal (when given) gets the sentence of a
// file that is refused rather than undecodable (one that refers to other
// files, or one that is no regular file).
bool OpenVideoFFmpeg(VideoDecoder& decoder, const std::string& path, int fd = -1, std::string* refusal = nullptr,
                     FileFaultHook fault = nullptr);
void CloseVideoFFmpeg(VideoDecoder& decoder);

// Receives the next frame into `decoder.frame` and its video time into *time.
// False at the end of the stream or on a decoding error (then `frame` keeps
// the previous frame).
bool ReceiveVideoFrameFFmpeg(VideoDecoder& decoder, double* time);

// Repositions the demuxer at the keyframe at or before `videoTime` (the
// first keyframe when there is none before it) and flushes the decoder. The
// next frame received may lie after `videoTime`, or none may come, when the
// container seeks by decoding time (MPEG-TS with B-frames); callers that need
// an exact frame check the first frame and step back further.
void SeekVideoFFmpeg(VideoDecoder& decoder, double videoTime);

// Scales `frame` into `rgba` (width x height x 4 bytes, rows of width x 4).
// The scaler follows the frame: a change of the frame's size or pixel format
// makes a new one. False for an empty frame or when no scaler can be made.
bool ConvertVideoFrameFFmpeg(VideoDecoder& decoder, const AVFrame* frame, int32_t width,
                             int32_t height, uint8_t* rgba);
