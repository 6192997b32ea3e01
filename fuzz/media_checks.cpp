// media_checks.cpp — properties of the readers of files made by other
// programs: sounds, videos, images, session-text markers and AAF files.
//
// Index
//   CheckSoundReaders     every reader behind the sound gate on one file
//   CheckVideoProbe       open, a few frames, close
//   CheckImageFile        the decoded size matches what the header allows
//   CheckSessionMarkers   bounded, valid text, finite times
//   CheckAafFile          a file the AAF library opens saves, and reads back, to the same bytes
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "export/aaf_objects.h"
#include "export/aaf_source_reader.h"
#include "fuzz_checks.h"
#include "library/file_caches.h"
#include "library/region_measure.h"
#include "library/sound_analysis.h"
#include "library/sound_file_open.h"
#include "library/sound_library.h"
#include "picture/session_markers.h"
#include "picture/video_decoder.h"
#include "platform/file_util.h"
#include "platform/image_file.h"
#include "render/processed_clip_cache.h"

namespace {

bool Finite(const std::vector<float>& values) {
    for (float v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

}  // namespace

// ---- Sound readers ----------------------------------------------------------

std::string CheckSoundReaders(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "sound.wav");
    SF_INFO info{};
    SNDFILE* file = OpenSoundFileForReading(path, &info);
    if (!file) return "";
    sf_close(file);
    if (info.frames > int64_t(std::max<size_t>(size, 1)) * kMaxFramesPerByte) return "a claimed length passed the gate";

    WaveformPeaks peaks;
    if (ReadWaveformPeaks(path, peaks) && (!Finite(peaks.peaks) || !Finite(peaks.rms)))
        return "waveform peaks that are not numbers";
    LevelCurve curve;
    if (ReadLevelCurve(path, 20, curve) && !Finite(curve)) return "a level curve that is not numbers";
    SoundSegmentList segments;
    if (ReadAmplitudeEnvelope(path, 1.0f, 0.01f, segments))
        for (const SoundSegment& s : segments)
            if (!std::isfinite(s.weight)) return "an envelope weight that is not a number";
    for (float measured : {FindPeakTime(path, 0.0f, 1.0f), FindOnsetTime(path, 0.0f, 1.0f),
                           EstimateFadeInLength(path, 0.0f, 1.0f), EstimateFadeOutLength(path, 0.0f, 1.0f, 0.5f)})
        if (!std::isfinite(measured)) return "a region measure that is not a number";
    LibraryEntry entry;
    if (AnalyzeSoundFile(path, entry) && !(std::isfinite(entry.rmsDb) && std::isfinite(entry.brightness)))
        return "an analysis that is not numbers";

    ProcessedClipCache cache;
    std::vector<float> left, right;
    int rate = 0;
    bool stereo = false;
    if (LoadProcessedClip(cache, path, 0.0f, 2.0f, 48000, true, left, right, rate, stereo) &&
        (!Finite(left) || !Finite(right)))
        return "a processed clip that is not numbers";
    // The AAF export's region reader, mixed to one channel and channel by channel.
    for (const AafChannelMode mode : {AafChannelMode::MonoMix, AafChannelMode::Every}) {
        bool finite = true;
        AafRegionEnd end;
        auto block = [&finite](const std::vector<const float*>& lanes, int64_t frames) {
            for (const float* lane : lanes)
                for (int64_t i = 0; i < frames; ++i) finite = finite && std::isfinite(lane[i]);
            return true;
        };
        const int32_t rate = mode == AafChannelMode::MonoMix ? 48000 : 44100;
        StreamAafSourceRegion(path, 0.0f, 1.0f, 0.1f, 0.1f, rate, mode, nullptr, block, end);
        if (!finite)
            return mode == AafChannelMode::MonoMix ? "an AAF region that is not numbers"
                                                   : "an AAF channel that is not numbers";
    }
    return "";
}

// ---- Video probe ------------------------------------------------------------

std::string CheckVideoProbe(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "video.mp4");
    VideoDecoder decoder;
    if (!OpenVideoFFmpeg(decoder, path)) return decoder.format == nullptr ? "" : "a failed open kept its container";
    std::string problem;
    if (!(decoder.fps >= 1.0 && decoder.fps <= 240.0)) problem = "an unusable frame rate was kept";
    if (decoder.width < 1 || decoder.height < 1 || decoder.width > kMaxVideoPictureSide ||
        decoder.height > kMaxVideoPictureSide)
        problem = "a picture size beyond the cap";
    for (int i = 0; problem.empty() && i < 4; ++i) {
        double time = 0;
        if (!ReceiveVideoFrameFFmpeg(decoder, &time)) break;
        if (!std::isfinite(time)) problem = "a frame time that is not a number";
    }
    CloseVideoFFmpeg(decoder);
    return problem;
}

// ---- Images -----------------------------------------------------------------

std::string CheckImageFile(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "image.png");
    std::vector<uint8_t> pixels;
    int width = 0, height = 0;
    if (!LoadImagePixels(path, pixels, width, height)) return "";
    if (width < 1 || height < 1 || width > kMaxImageSide || height > kMaxImageSide) return "an image beyond the caps";
    if (pixels.size() != size_t(width) * size_t(height) * 4) return "pixels of another size than reported";
    return "";
}

// ---- Session markers --------------------------------------------------------

std::string CheckSessionMarkers(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "session.txt");
    const float fps = size > 0 ? float(data[0]) * 0.5f : 25.0f;  // 0 (unset) to 127.5
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
    if (!ImportSessionMarkers(path, fps, markers, &scenes, {"Door", "Rain Heavy", "Footsteps"})) return "";
    if (markers.size() + scenes.size() > kMaxSessionMarkers) return "more markers than the bound";
    for (const MarkerEvent& m : markers) {
        if (!std::isfinite(m.time) || !std::isfinite(m.duration)) return "a marker time that is not a number";
        for (const char* text : {m.name, m.keywords, m.presetName})
            if (!IsValidUtf8(text)) return "a marker text that is not UTF-8";
    }
    for (const MarkerScene& s : scenes) {
        if (!std::isfinite(s.time)) return "a scene time that is not a number";
        if (!IsValidUtf8(s.name) || !IsValidUtf8(s.keywords)) return "a scene text that is not UTF-8";
    }
    return "";
}

// ---- AAF files --------------------------------------------------------------

std::string CheckAafFile(const uint8_t* data, size_t size) {
    const std::string path = WriteFuzzInput(data, size, "session.aaf");
    std::unique_ptr<AafFile> file;
    if (AafOpenExistingFile(path, nullptr, &file) != AafStatus::Ok) return file ? "a refused file was handed out" : "";
    if (!file) return "an opened file is missing";
    // What the reader takes in must not differ from what the writer makes of
    // it: saved, read back and saved again, the bytes stay the same. A store
    // the writer refuses (a weak reference that leads nowhere) is no fault.
    const std::string once = WriteFuzzInput(nullptr, 0, "once.aaf"), twice = WriteFuzzInput(nullptr, 0, "twice.aaf");
    if (AafSaveStore(file->store, once) != AafStatus::Ok) return "";
    AafStore again;
    std::string detail;
    if (AafLoadStore(once, again, &detail) != AafStatus::Ok) return "a saved file does not read back: " + detail;
    if (AafSaveStore(again, twice, &detail) != AafStatus::Ok) return "a file read back does not save: " + detail;
    std::string first, second;
    if (ReadFileText(once, uint64_t(1) << 31, first) != kReadOk || ReadFileText(twice, uint64_t(1) << 31, second) != kReadOk)
        return "a saved file cannot be read";
    return first == second ? "" : "saving a file read back changes its bytes";
}
