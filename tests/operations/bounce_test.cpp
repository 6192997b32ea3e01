// Bounce to clip: names, the offline mix and its file, the document edit and its revert.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "document/document_rig.h"
#include "document/text_util.h"
#include "operations/bounce.h"
#include "operations/event_placement.h"
#include "operations/render_job_rig.h"
#include "operations/selection.h"
#include "operations/undo.h"
#include "operations/voice_maintenance.h"
#include "operations/voice_streaming.h"
#include "platform/file_names.h"
#include "platform/file_util.h"
#include "support/run_command.h"

namespace {

// A rendered document whose events each play one layer of their own noise
// file, with real voices.
struct BounceRig : DocRig {
    TempDir dir;

    BounceRig() { std::filesystem::create_directories(Folder()); }

    // A Spot at `time` whose layer plays `seconds` from there.
    int AddPlayedEvent(float time, float seconds) {
        const int index = AddEvent(*project, time, kShapeSpot, 0.5f);
        project->events[size_t(index)].duration = seconds;
        RenderResult r;
        r.eventIdx = index;
        r.filepath = WriteSound(dir, "layer" + std::to_string(index) + ".wav", seconds + 0.5);
        r.sourceDuration = r.duration = seconds;
        r.startTime = time;
        r.group = 1;
        project->results.push_back(r);
        project->rendered = true;
        return index;
    }
    std::string Folder() const { return dir.path() + "/Bounces"; }
    int Bounce(std::vector<int> events) {
        SelectEvents(*app, events);
        return BounceSelectionToClip(Context(), Folder());
    }
};

// A file as libsndfile reads it, its broadcast chunk included.
struct SndfileReadBack {
    bool ok = false;
    SF_INFO info{};
    SF_BROADCAST_INFO bext{};
    std::vector<float> samples;  // interleaved
};
SndfileReadBack ReadWithSndfile(const std::string& path) {
    SndfileReadBack b;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &b.info);
    if (!file) return b;
    b.ok = sf_command(file, SFC_GET_BROADCAST_INFO, &b.bext, sizeof(b.bext)) == SF_TRUE;
    b.samples.resize(size_t(b.info.frames * b.info.channels));
    sf_readf_float(file, b.samples.data(), b.info.frames);
    sf_close(file);
    return b;
}

// ffprobe's view of the same file: "key=value" lines of the tags asked for.
// FFmpeg shows the bext description as "comment" and the originator as
// "encoded_by".
std::string ProbeTags(const std::string& path) {
    const CommandResult run = RunCommand({"ffprobe", "-v", "error", "-show_entries",
                                          "format_tags=comment,encoded_by,time_reference:stream=bits_per_sample",
                                          "-of", "default=noprint_wrappers=1", path});
    return run.exitCode == 0 ? run.out : "ffprobe failed: " + run.err;
}

// Of interleaved stereo at 48 kHz, from..to seconds.
double Rms(const std::vector<float>& stereo, double from, double to) {
    double sum = 0;
    const size_t a = size_t(from * DocRig::kRate) * 2, b = std::min(stereo.size(), size_t(to * DocRig::kRate) * 2);
    for (size_t i = a; i < b; ++i) sum += double(stereo[i]) * stereo[i];
    return b > a ? std::sqrt(sum / double(b - a)) : 0;
}

std::string FileNameWithoutExtension(const std::string& path) {
    const std::string file = path.substr(path.rfind('/') + 1);
    return file.substr(0, file.size() - 4);
}

}  // namespace

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

TEST(BounceNames, StemsAreSafeAndNumbersCountOnWithoutOverwriting) {
    EXPECT_EQ(BounceNameStem("Door: Slam?  "), "Door Slam");
    EXPECT_EQ(BounceNameStem("/\\:*?\"<>|  "), "Bounce");
    EXPECT_EQ(BounceNameStem("   "), "Bounce");
    EXPECT_EQ(BounceNameStem("../..hidden\tname\x01"), "hiddenname");
    EXPECT_EQ(BounceNameStem(std::string(6, 'a') + "\xC3\xA9", 7), "aaaaaa");  // never half a character
    // ".." inside a name made from an event's words once reached the file name.
    EXPECT_EQ(BounceNameStem("Door..Slam...x"), "Door.Slam.x");
    for (const char* name : {"a..b/../c", "..", ". .", "x\x7F..y"}) EXPECT_EQ(FileNameProblem(BounceNameStem(name)), "") << name;

    TempDir dir;
    EXPECT_EQ(UniqueBounceFileName(dir.path(), "Bounce"), "Bounce");
    WriteWholeFile(dir.File("Bounce.wav"), "x");
    EXPECT_EQ(UniqueBounceFileName(dir.path(), "Bounce"), "Bounce 2");
    WriteWholeFile(dir.File("Bounce 2.wav"), "x");
    EXPECT_EQ(UniqueBounceFileName(dir.path(), "Bounce"), "Bounce 3");

    // Past "Hit 9999" the count goes on: no file is ever replaced.
    for (int n = 1; n <= 10000; ++n) {
        const std::string taken = dir.File(n == 1 ? "Hit.wav" : "Hit " + std::to_string(n) + ".wav");
        ::close(::creat(taken.c_str(), 0644));
    }
    EXPECT_EQ(UniqueBounceFileName(dir.path(), "Hit"), "Hit 10001");

    // The name keeps the path inside a Clip's file field and the file name
    // within 255 bytes: the stem is cut, the number kept.
    const std::string deep = "/tmp/" + std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(78, 'f');
    const std::string cut = UniqueBounceFileName(deep, std::string(300, 's'));
    EXPECT_EQ(deep.size() + 1 + cut.size() + 4, sizeof(Event::pinnedFile) - 1);
    EXPECT_EQ(UniqueBounceFileName(dir.path(), std::string(300, 's')).size(), 251u);
    EXPECT_EQ(UniqueBounceFileName(deep + std::string(25, 'g'), "Hit"), "");  // no room left
}

// ---------------------------------------------------------------------------
// The bounce
// ---------------------------------------------------------------------------

TEST(Bounce, TwoEventsBecomeOneClipWithTheirMixAndComeBackOnRevert) {
    BounceRig rig;
    rig.AddPlayedEvent(1.0f, 1.0f);
    rig.AddPlayedEvent(2.5f, 1.0f);
    rig.BuildVoices();
    // The streaming window has released both voices' samples: the bounce
    // must bring them back, or it would write silence.
    rig.engine->cacheReady = 1;
    rig.engine->streamWindow = 1;
    rig.engine->position = 60 * DocRig::kRate;
    VoiceStreamer streamer(1);
    PrepareVoicesAtPlayhead(streamer, *rig.engine, rig.project->results, int(rig.project->results.size()));
    ASSERT_TRUE(rig.engine->voices[0].evicted && rig.engine->voices[1].evicted);
    const int clipIndex = rig.Bounce({0, 1});
    ASSERT_EQ(clipIndex, 0);
    ASSERT_EQ(rig.project->events.size(), 1u);

    const Event& clip = rig.project->events[0];
    const std::string path = clip.pinnedFile;
    const std::string name = FileNameWithoutExtension(path);
    EXPECT_EQ(path, rig.Folder() + "/" + name + ".wav");
    EXPECT_EQ(clip.shape, kShapeClip);
    EXPECT_FLOAT_EQ(clip.time, 1.0f);
    EXPECT_TRUE(clip.locked && clip.hasPinnedFiles);
    EXPECT_EQ(clip.pinnedFileId.size(), 16u);
    EXPECT_EQ(clip.clipFadeIn + clip.clipFadeOut, 0);
    ASSERT_EQ(clip.bounceSource.size(), 2u);
    EXPECT_FLOAT_EQ(clip.bounceSource[0].time, 0.0f);
    EXPECT_FLOAT_EQ(clip.bounceSource[1].time, 1.5f);

    // The file: from 1.0 s to 3.5 s plus one frame, stamped at 1.0 s.
    const int64_t frames = int64_t(std::ceil(2.5 * DocRig::kRate)) + 1;
    const SndfileReadBack file = ReadWithSndfile(path);
    ASSERT_TRUE(file.ok);
    EXPECT_EQ(file.info.frames, frames);
    EXPECT_EQ(file.info.channels, 2);
    EXPECT_EQ(file.info.samplerate, DocRig::kRate);
    EXPECT_EQ(file.info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(std::string(file.bext.description), name);
    EXPECT_EQ(std::string(file.bext.originator, strnlen(file.bext.originator, 32)), "Tessaloom");
    EXPECT_EQ(file.bext.time_reference_low, uint32_t(DocRig::kRate));
    EXPECT_EQ(file.bext.time_reference_high, 0u);
    const std::string probe = ProbeTags(path);
    EXPECT_NE(probe.find("TAG:comment=" + name + "\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:encoded_by=Tessaloom\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("TAG:time_reference=48000\n"), std::string::npos) << probe;
    EXPECT_NE(probe.find("bits_per_sample=24\n"), std::string::npos) << probe;
    // Sound where the layers played, silence in the gap between them.
    EXPECT_GT(Rms(file.samples, 0.1, 0.9), 0.01);
    EXPECT_EQ(Rms(file.samples, 1.01, 1.49), 0.0);
    EXPECT_GT(Rms(file.samples, 1.6, 2.4), 0.01);

    // The Clip plays the file: its layer, its length, its voice.
    ASSERT_EQ(rig.project->results.size(), 1u);
    EXPECT_EQ(rig.project->results[0].filepath, path);
    EXPECT_NEAR(clip.duration, double(frames) / DocRig::kRate, 1e-4);
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    ASSERT_EQ(rig.engine->voices.size(), 1u);
    EXPECT_EQ(rig.app->selectedEvents, std::set<int>{0});
    EXPECT_EQ(rig.app->selectedEvent, 0);
    EXPECT_TRUE(rig.app->scrollToSelection && rig.app->deferredRebuild.load() && rig.app->modified);
    EXPECT_EQ(rig.app->undoHistory.undo.size(), 1u);

    // Revert to Source: both events back where they were, the file kept.
    ASSERT_TRUE(RevertBounce(rig.Context(), 0));
    ASSERT_EQ(rig.project->events.size(), 2u);
    EXPECT_FLOAT_EQ(rig.project->events[0].time, 1.0f);
    EXPECT_FLOAT_EQ(rig.project->events[1].time, 2.5f);
    EXPECT_TRUE(FileIsReadable(path));
}

TEST(Bounce, OtherEventsKeepTheirLayersAndNamesCountUp) {
    BounceRig rig;
    for (int e = 0; e < 7; ++e) rig.AddPlayedEvent(1.0f + float(e), 0.5f);
    rig.BuildVoices();
    // The audio thread keeps mixing while the interface bounces.
    MixingAudioThread audio(*rig.engine);
    const int clipIndex = rig.Bounce({2, 5});
    ASSERT_EQ(clipIndex, 5);
    ASSERT_EQ(rig.project->events.size(), 6u);
    const float kept[5] = {1, 2, 4, 5, 7};
    for (int e = 0; e < 5; ++e) EXPECT_FLOAT_EQ(rig.project->events[size_t(e)].time, kept[e]) << e;
    EXPECT_FLOAT_EQ(rig.project->events[5].time, 3.0f);
    ASSERT_EQ(rig.project->results.size(), 6u);
    for (const RenderResult& r : rig.project->results) {  // each still on its own event
        ASSERT_TRUE(r.eventIdx >= 0 && r.eventIdx < 6);
        EXPECT_FLOAT_EQ(r.startTime, rig.project->events[size_t(r.eventIdx)].time);
    }
    EXPECT_TRUE(CheckPlaybackCacheIntegrity(rig.Context()));
    for (const PlaybackVoice& v : rig.engine->voices)
        EXPECT_EQ(v.eventIndex, rig.project->results[size_t(v.resultIndex)].eventIdx);

    // The same events bounced again (after an undo) get the next free names.
    const std::string first = FileNameWithoutExtension(rig.project->events[5].pinnedFile);
    for (int n = 2; n <= 3; ++n) {
        ASSERT_TRUE(RunUndoCommand(rig.Context(), false));
        ASSERT_EQ(rig.Bounce({2, 5}), 5);
        EXPECT_EQ(FileNameWithoutExtension(rig.project->events[5].pinnedFile), first + " " + std::to_string(n));
    }
}

TEST(Bounce, NothingHappensWhenThereIsNothingToBounceOrNoWayToWriteIt) {
    BounceRig rig;
    rig.AddPlayedEvent(1.0f, 0.5f);
    rig.AddPlayedEvent(2.0f, 0.5f);
    rig.BuildVoices();
    const auto unchanged = [&](const char* why) {
        EXPECT_EQ(rig.project->events.size(), 2u) << why;
        EXPECT_EQ(rig.project->results.size(), 2u) << why;
        EXPECT_TRUE(rig.app->undoHistory.undo.empty()) << why;
        EXPECT_FALSE(rig.app->modified) << why;
    };

    EXPECT_EQ(rig.Bounce({}), -1);
    unchanged("nothing selected");
    rig.app->selectedEvents = {7};
    EXPECT_EQ(BounceSelectionToClip(rig.Context(), rig.Folder()), -1);
    unchanged("no valid event selected");

    rig.project->rendered = false;
    EXPECT_EQ(rig.Bounce({0, 1}), -1);
    unchanged("not rendered");
    rig.project->rendered = true;

    rig.app->busyTask.busy = true;
    EXPECT_EQ(rig.Bounce({0, 1}), -1);
    unchanged("busy");
    rig.app->busyTask.busy = false;

    // Every selected layer muted: nothing audible, nothing written.
    for (RenderResult& r : rig.project->results) SetUserMuted(r, true);
    rig.BuildVoices();
    EXPECT_EQ(rig.Bounce({0, 1}), -1);
    unchanged("all muted");
    EXPECT_TRUE(std::filesystem::is_empty(rig.Folder()));
    for (RenderResult& r : rig.project->results) SetUserMuted(r, false);
    rig.BuildVoices();

    // A folder that is not there, or that cannot be one: the mix is made,
    // the write fails, the document stays as it was.
    EXPECT_EQ(BounceSelectionToClip(rig.Context(), rig.dir.File("missing")), -1);
    unchanged("missing folder");
    WriteWholeFile(rig.dir.File("plain"), "a file, not a folder");
    EXPECT_EQ(BounceSelectionToClip(rig.Context(), rig.dir.File("plain") + "/Bounces"), -1);
    unchanged("unwritable folder");
    EXPECT_EQ(BounceSelectionToClip(rig.Context(), ""), -1);
    unchanged("no folder");

    // And with a folder it works.
    EXPECT_EQ(BounceSelectionToClip(rig.Context(), rig.Folder()), 0);
}
