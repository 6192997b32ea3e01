// The UI thread's periodic library work: the missing-files list over a large
// project with nothing changed, and a sound-probe pass over a large library.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "document/event.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/relinking.h"
#include "library/sound_library.h"
#include "library/sound_probe.h"
#include "support/temp_dir.h"

namespace {

std::string NumberedId(size_t i) {
    char id[17];
    std::snprintf(id, sizeof id, "%016zx", i + 1);
    return id;
}

// 10,000 results over 1,000 events, each result with its own id, every file
// present and already checked: the steady state of an idle program.
void BM_RefreshMissingFilesNothingChanged(benchmark::State& state) {
    TempDir dir;
    const std::string file = dir.File("present.wav");
    WriteWholeFile(file, "present");
    FileRegistry registry;
    Project project;
    project.events.resize(1000);
    for (size_t i = 0; i < 10000; ++i) {
        RenderResult r;
        r.eventIdx = static_cast<int32_t>(i % 1000);
        r.fileId = NumberedId(i);
        r.filepath = file;
        project.results.push_back(r);
    }
    SoundLibrary library;
    MissingFilesState missing;
    RefreshMissingFiles(missing, project, library, registry, 0, true);  // registers and checks once
    for (auto _ : state) {
        RefreshMissingFiles(missing, project, library, registry, 0, true);
        benchmark::DoNotOptimize(missing.files.data());
    }
    if (!missing.files.empty()) state.SkipWithError("files reported missing");
}
BENCHMARK(BM_RefreshMissingFilesNothingChanged)->Unit(benchmark::kMillisecond);

SoundLibrary* LargeLibrary(size_t count) {
    auto* library = new SoundLibrary();
    library->libraries.resize(5);
    for (size_t i = 0; i < count; ++i) {
        LibraryEntry entry;
        entry.path = "/home/designer/SFX/Library " + std::to_string(i % 5) + "/Impact_" + std::to_string(i) + ".wav";
        entry.fileId = NumberedId(i);
        entry.brightness = float(i % 100) / 100.0f;
        library->libraries[i % 5].entries.push_back(std::move(entry));
    }
    MarkLibrariesChanged(*library);
    return library;
}

// A probe pass with 50,000 library entries and 20 Bed layers whose files lie
// outside every library and are missing, so every pass looks at them again.
void BM_ProbePass(benchmark::State& state) {
    static SoundLibrary* library = LargeLibrary(50000);
    SoundProbe probe;
    Project project;
    Event bed;
    bed.shape = kShapeBed;
    for (int i = 0; i < 20; ++i) bed.pinnedFiles.push_back("/media/offline/Bed layer " + std::to_string(i) + ".wav");
    project.events.push_back(bed);
    ProbeUnknownSoundValues(probe, project, *library, false, 1.0);  // builds the lookup once
    for (auto _ : state) {
        probe.nextProbeTime = 0;
        benchmark::DoNotOptimize(ProbeUnknownSoundValues(probe, project, *library, false, 1.0));
    }
    if (probe.lookup.rebuilds != 1) state.SkipWithError("lookup rebuilt during the passes");
}
BENCHMARK(BM_ProbePass)->Unit(benchmark::kMicrosecond);

// What a change to the libraries costs the next probe pass.
void BM_ProbeLookupRebuild(benchmark::State& state) {
    static SoundLibrary* library = LargeLibrary(50000);
    SoundProbe probe;
    Project project;
    project.events.push_back(Event());
    project.events[0].shape = kShapeClip;
    std::snprintf(project.events[0].pinnedFile, sizeof project.events[0].pinnedFile, "/media/offline/x.wav");
    for (auto _ : state) {
        MarkLibrariesChanged(*library);
        probe.nextProbeTime = 0;
        benchmark::DoNotOptimize(ProbeUnknownSoundValues(probe, project, *library, false, 1.0));
    }
}
BENCHMARK(BM_ProbeLookupRebuild)->Unit(benchmark::kMillisecond);

}  // namespace
