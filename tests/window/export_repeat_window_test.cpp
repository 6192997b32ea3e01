// Exports in the program's own window: the same project file exported in two
// runs of the program gives the same files, and a project whose Beds do not
// match their layer lists (as earlier generated projects had them) exports
// exactly the layers the program rebuilt them to.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "document/event.h"
#include "support/audio_fixtures.h"
#include "support/exported_files.h"
#include "support/large_project.h"
#include "support/run_command.h"
#include "support/temp_dir.h"
#include "support/window_harness.h"

namespace fs = std::filesystem;

namespace {

using Dump = std::map<std::string, std::string>;

// Opens the project as from the desktop, lets the program settle, dumps,
// exports into `out` (base "Reel"), waits for the export and dumps again.
std::string OpenAndExportScript(const std::string& out) {
    return "settle 180\ndump opened.txt\nexport " + out + "/Reel\nsettle 300\ndump exported.txt\ndiscard\nquit\n";
}

// What LibAAF's aaftool places where: its track, clip, source file, fade,
// gain, automation and marker lines, with the export folder's path taken out.
std::string AaftoolPlacement(const std::string& aafPath, const std::string& folder) {
    const CommandResult run = RunCommand(
        {TL_AAFTOOL, "--aaf-clips", "--pos-format", "samples", "--show-automation", "--no-color", "--verb", "2", aafPath});
    std::string kept;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const bool placing = line.find("AudioTrack[") != std::string::npos || line.find("Clip (") != std::string::npos ||
                             line.find("SourceFile [") != std::string::npos || line.find("_time: ") != std::string::npos ||
                             line.find("X-FADE") != std::string::npos || line.find("Marker[") != std::string::npos;
        if (!placing) continue;
        for (size_t at; (at = line.find(folder)) != std::string::npos;) line.erase(at, folder.size());
        kept += line + "\n";
    }
    return kept;
}

// The amplitude of a `frequency` sine in the left channel of a WAV file over
// [from, to) seconds (one Goertzel bin): what of a tone is heard there,
// whatever else plays.
double ToneAmplitude(const std::string& path, double frequency, double from, double to) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file) {
        ADD_FAILURE() << "cannot read " << path;
        return 1e9;
    }
    std::vector<float> samples(size_t(info.frames) * size_t(info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    const int64_t first = int64_t(from * info.samplerate);
    const int64_t last = std::min<int64_t>(int64_t(to * info.samplerate), info.frames);
    const double w = 2.0 * M_PI * frequency / info.samplerate, coefficient = 2.0 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (int64_t f = first; f < last; ++f) {
        const double s0 = samples[size_t(f * info.channels)] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return last > first ? 2.0 * std::sqrt(std::max(power, 0.0)) / double(last - first) : 0.0;
}

// The index an AAF essence file name carries ("<track>_<index>_..."), or -1.
int EssenceIndex(const std::string& name) {
    for (size_t at = name.find('_'); at != std::string::npos; at = name.find('_', at + 1)) {
        size_t end = at + 1;
        while (end < name.size() && std::isdigit(static_cast<unsigned char>(name[end]))) ++end;
        if (end - at - 1 >= 3 && end < name.size() && name[end] == '_') return std::atoi(name.c_str() + at + 1);
    }
    return -1;
}

class ExportRepeatWindow : public ProgramScriptTest {
protected:
    // `home`, when given, is the user's home folder of the run (its data
    // folder "<home>/data"), shared by the runs that name it; otherwise the
    // run has fresh folders of its own.
    ProgramRun Open(const std::string& project, const std::string& script, const std::string& home = "") {
        ProgramLaunch launch = LaunchOn(project, script, 600);
        if (!home.empty()) {
            fs::create_directories(home + "/data");
            launch.environment = {{"HOME", home}, {"XDG_DATA_HOME", home + "/data"}};
        }
        return RunProgram(launch);
    }
};

}  // namespace

// A rendered generated project whose Fills and Beds were saved without chunk
// plans, and whose Clips and Beds wait for the sound probe, exported in two
// separate runs of the program by one user: the same files, name for name and
// sample for sample, and an AAF session that places the same samples on the
// same tracks. The first run scans the project's library and keeps its index;
// the second starts with that index, so the registry knows each sound first
// at the library's path instead of the project's Audio folder, and the probe
// answers from the stored index instead of the fresh analysis.
TEST_F(ExportRepeatWindow, TwoRunsOfTheProgramExportTheSameFiles) {
    LargeProjectSpec spec{.eventCount = 27, .seconds = 45, .layers = LargeProjectLayers::Rendered, .soundCount = 16};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    size_t fills = 0;
    for (const RenderResult& r : large.project.results) fills += r.procMode == 1 && r.fillChunks.empty() ? 1 : 0;
    ASSERT_GE(fills, 3u);
    const ExportSettings everything = EveryExportPass();
    const std::string project = WriteLargeProject(large, dir.path(), "Twice", &everything);
    ASSERT_FALSE(project.empty());

    std::map<std::string, std::string> files[2];
    std::string placement[2];
    const std::string home = dir.File("user");
    for (int run = 0; run < 2; ++run) {
        const std::string out = dir.File("run" + std::to_string(run));
        ProgramRun program = Open(project, OpenAndExportScript(out), home);
        ASSERT_EQ(program.exitCode, 0) << program.log;
        ASSERT_TRUE(fs::exists(home + "/data/Tessaloom/Library.tllib")) << "the library's index is kept for the next run";
        Dump exported = ReadStateDump(dir.File("exported.txt"));
        EXPECT_EQ(exported["export.toastText"], "Export complete") << program.log;
        EXPECT_EQ(exported["engine.voices"], exported["doc.results"]);
        files[run] = ExportedFiles(out);
        placement[run] = AaftoolPlacement(out + "/Reel/Reel.aaf", out);
    }
    ASSERT_GT(files[0].size(), 30u);
    ExpectSameExportFiles(files[0], files[1]);
    EXPECT_NE(placement[0].find("Clip ("), std::string::npos) << placement[0];
    EXPECT_NE(placement[0].find("Marker["), std::string::npos);
    EXPECT_EQ(placement[0], placement[1]);
}

// A project whose Beds hold layers of files they do not pin, one of them a
// loud layer in an otherwise silent stretch: the program rebuilds the Beds
// to their layer lists, the voices follow (as many as layers), the AAF has a
// clip of every layer, and the erased layer is not heard in the mixdown.
TEST_F(ExportRepeatWindow, InconsistentBedsExportExactlyTheLayersTheyAreRebuiltTo) {
    LargeProjectSpec spec{.eventCount = 18, .seconds = 40, .layers = LargeProjectLayers::Made, .layersPerEvent = 3};
    spec.soundCount = 48;  // three rain sounds: most Bed layers are not the pinned one
    spec.inconsistentBeds = true;
    LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    Project& doc = large.project;
    // Twenty silent seconds after the last event; the loud layer plays in them.
    doc.totalDuration = spec.seconds + 20;
    const std::string loud = dir.File("Library/loud_sine.wav");
    AudioSpec sine;
    sine.kind = SignalKind::Sine;
    sine.frequency = 1000;
    sine.amplitude = 0.9;
    sine.seconds = 3;
    ASSERT_TRUE(WriteTestAudio(loud, sine));
    large.library.paths.push_back(loud);
    int bed = -1;
    for (size_t e = 0; e < doc.events.size() && bed < 0; ++e)
        if (doc.events[e].shape == kShapeBed) bed = int(e);
    ASSERT_GE(bed, 0);
    RenderResult stale;
    stale.eventIdx = bed;
    stale.name = "loud_sine.wav";
    stale.filepath = loud;
    stale.startTime = spec.seconds + 12;
    stale.duration = stale.sourceDuration = 2;
    stale.group = 1;
    stale.fadeIn = stale.fadeOut = 0.01f;
    doc.results.push_back(stale);
    const ExportSettings everything = EveryExportPass();
    const std::string project = WriteLargeProject(large, dir.path(), "Beds", &everything);
    ASSERT_FALSE(project.empty());

    const std::string out = dir.File("out");
    ProgramRun program = Open(project, OpenAndExportScript(out));
    ASSERT_EQ(program.exitCode, 0) << program.log;
    for (const char* name : {"opened.txt", "exported.txt"}) {
        Dump d = ReadStateDump(dir.File(name));
        EXPECT_EQ(d["engine.voices"], d["doc.results"]) << name;
        EXPECT_LT(std::atoi(d["doc.results"].c_str()), int(doc.results.size())) << "the Beds were rebuilt";
    }
    Dump exported = ReadStateDump(dir.File("exported.txt"));
    EXPECT_EQ(exported["export.toastText"], "Export complete") << program.log;

    // Every layer's index names one of the session's essence files.
    const int layers = std::atoi(exported["doc.results"].c_str());
    std::set<int> clipped;
    for (const fs::directory_entry& e : fs::directory_iterator(out + "/Reel/Audio Files"))
        clipped.insert(EssenceIndex(e.path().filename().string()));
    for (int i = 0; i < layers; ++i) EXPECT_TRUE(clipped.count(i)) << "layer " << i << " has no clip in the AAF";

    // The tone, had it been mixed, would stand far above the rain there.
    const std::string mix = out + "/Reel.wav";
    EXPECT_LT(ToneAmplitude(mix, 1000, spec.seconds + 12.2, spec.seconds + 13.8), 1e-3) << "the erased layer is heard";
}
