// The AAF clip of a layer is as long as its voice, whatever the rate of its
// sound: a source at 8, 11.025, 22.05, 44.1, 48 or 96 kHz, played from a
// point to its very end (where the essence's region has no handle after it),
// gives a clip of the voice's sample count in the session as pyaaf2 and
// aaftool read it, the same length as the layer's clip WAV.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/aaf_session_fixtures.h"
#include "export/aaf_test_tools.h"
#include "export/bwf_readback.h"
#include "library/file_registry.h"
#include "operations/export_job.h"
#include "operations/voice_sync.h"
#include "support/audio_fixtures.h"
#include "support/document_records.h"
#include "support/exported_files.h"
#include "support/quiet_stdout.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRates[] = {8000, 11025, 22050, 44100, 48000, 96000};

// The layer's part of an essence file's name, "_<iii>_".
std::string Mark(size_t layer) {
    char mark[16];
    std::snprintf(mark, sizeof mark, "_%03zu_", layer);
    return mark;
}

}  // namespace

TEST(AafClipLength, AResampledSoundPlayedToItsEndGivesAClipOfTheVoicesLength) {
    TempDir dir;
    DocumentRecords doc;
    doc.project->totalDuration = 12.0f;
    for (size_t k = 0; k < std::size(kRates); ++k) {
        // An odd length at each rate, so that the resampled region does not
        // come out even.
        AudioSpec spec;
        spec.kind = SignalKind::Noise;
        spec.sampleRate = kRates[k];
        spec.channels = 1;
        spec.seconds = 1.9073 + 0.0371 * double(k);
        spec.seed = unsigned(7 + k);
        spec.amplitude = 0.4;
        const std::string path = dir.File("Rate" + std::to_string(kRates[k]) + ".wav");
        ASSERT_TRUE(WriteSamples(path, MakeSignal(spec), 1, kRates[k]));
        RenderResult r;
        r.name = "Rate" + std::to_string(kRates[k]);
        r.filepath = path;
        r.fileId = FileRegistry::Instance().FileRefForPath(path).id;
        r.sourceOffset = 0.3f;
        r.sourceDuration = float(spec.seconds) - 0.3f;  // to the file's end
        r.duration = r.sourceDuration;
        r.startTime = 0.5f + 1.7f * float(k);
        r.eventIdx = -1;
        r.group = 1;
        r.groupTrack = int32_t(k);
        r.track = 8 + int32_t(k);
        doc.project->results.push_back(r);
    }
    doc.project->groups[1].usedTracks = int32_t(std::size(kRates));
    QuietStdout(true);
    RebuildCache(doc.Context(), true);
    ASSERT_EQ(doc.engine->voices.size(), std::size(kRates));

    ExportSettings& s = doc.app->exportSettings;
    s.exportFormatAAF = true;
    s.exportFormatWAV = true;
    s.exportWavMixdown = false;
    s.exportWavClips = true;
    s.exportReverbStem = false;
    s.exportAAFSourceChannels = false;
    const ExportReport report =
        RunExportJob(MakeExportJob(*doc.app, *doc.project, *doc.engine, dir.File("out/Reel")), doc.ExportContextOf(ProgramAafStep()));
    QuietStdout(false);
    ASSERT_TRUE(report.Succeeded()) << report.finalText;

    const std::string session = dir.File("out/Reel/Reel.aaf");
    std::string why;
    const std::vector<ReadSession> read = ReadSessions({session}, &why);
    ASSERT_EQ(read.size(), 1u) << why;
    const AaftoolReadBack tool = ReadWithAaftool(session);
    ASSERT_TRUE(tool.ok) << tool.message;
    EXPECT_EQ(tool.errors, std::vector<std::string>{});

    for (size_t k = 0; k < std::size(kRates); ++k) {
        const RenderResult& r = doc.project->results[k];
        SCOPED_TRACE(r.name);
        const BwfReadBack wav = ReadBwfFile(dir.File("out/Clips/Reel - " + r.name + ".wav"));
        ASSERT_TRUE(wav.ok);
        int64_t voiceFrames = -1;
        for (const PlaybackVoice& v : doc.engine->voices)
            if (v.resultIndex == int32_t(k)) voiceFrames = v.sampleCount;
        EXPECT_EQ(wav.frames, voiceFrames);

        int pyaafClips = 0;
        for (const ReadSlot* slot : FindSoundSlots(read[0]))
            for (const ReadComponent& c : slot->components) {
                if (c.kind != "Clip" || c.essence.path.find(Mark(k)) == std::string::npos) continue;
                ++pyaafClips;
                EXPECT_EQ(c.clipLength, wav.frames) << "pyaaf2: " << c.essence.path;
                EXPECT_EQ(c.length, wav.frames);
            }
        EXPECT_EQ(pyaafClips, 1);
        int toolClips = 0;
        for (const AaftoolClip& c : tool.clips) {
            if (c.file.find(Mark(k)) == std::string::npos) continue;
            ++toolClips;
            EXPECT_EQ(c.length, wav.frames) << "aaftool: " << c.file;
        }
        EXPECT_EQ(toolClips, 1);
    }
}
