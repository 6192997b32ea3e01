// video_fixtures.h — small test videos made with the ffmpeg tool at run time.
//
// Index
//   TestVideoSpec      size, rate, length, GOP, container, optional audio
//   MakeTestVideo      write one (H.264 with B-frames; each frame carries its index)
//   ReadFrameIndex     the index a picture carries, or -1
//   MakeCutsVideo      still shots joined by hard cuts, with three-frame white flashes
//   TraceVideo         the picture trace of a video file, run to its end
//
// Every frame shows its index in binary as ten vertical black and white
// stripes across the picture (least significant bit on the left), so a test
// can tell exactly which frame a decoded picture is, at any scale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AppState;

struct TestVideoSpec {
    int width = 160;
    int height = 96;
    std::string rate = "25";          // frames per second as ffmpeg reads it ("24000/1001")
    double seconds = 3;
    int gop = 12;
    int bFrames = 2;
    std::string pixelFormat = "yuv420p";
    int firstIndex = 0;               // the index the first frame carries
    std::string audioPath;            // an audio file to mux in as AAC ("" = none)
    std::vector<std::string> outputArgs;  // extra arguments before the output path
};

bool MakeTestVideo(const std::string& path, const TestVideoSpec& spec);

// Reads the stripes back from tightly packed RGBA; -1 when a stripe is
// neither clearly black nor clearly white.
int ReadFrameIndex(const std::vector<uint8_t>& rgba, int width, int height);

// Still shots of a few grey and colour tints, 64x36, `seconds` long at
// `rate`: a hard cut at each frame of `cuts` (ascending) and a white flash
// over the three frames from each frame of `flashes`.
bool MakeCutsVideo(const std::string& path, const std::string& rate, double seconds, const std::vector<int>& cuts,
                   const std::vector<int>& flashes);

// Loads the video into a player of its own and runs the picture trace to its
// end; the application state holds the trace. Null, with a test failure,
// when the video does not load or the trace does not start or finish.
std::unique_ptr<AppState> TraceVideo(const std::string& path);
