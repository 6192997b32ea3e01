// The look at every layer's sound before an export (CheckExportSounds) on
// a 5,000-event hour: 15,000 layers naming 24 sounds, each sound read once.
// Arg 0: every sound as it was measured; 1: one sound cut since (what was
// decoded from it is let go).
#include <benchmark/benchmark.h>

#include <string>

#include "document/project.h"
#include "export/export_records.h"
#include "export/export_sounds.h"
#include "library/file_registry.h"
#include "support/audio_fixtures.h"
#include "support/large_project.h"
#include "support/temp_dir.h"

static void BM_CheckExportSoundsHour(benchmark::State& state) {
    TempDir dir;
    LargeProjectSpec spec{.eventCount = 5000, .seconds = 3600, .layers = LargeProjectLayers::Made,
                          .layersPerEvent = 3, .soundCount = 24};
    const LargeProject large = MakeLargeProject(spec, dir.File("Library"));
    if (state.range(0) == 1) {
        AudioSpec cut;
        cut.seconds = 0.05;
        WriteTestAudio(large.library.paths.front(), cut);
    }
    ExportJob job;
    int counted = 0;
    for (auto _ : state) {
        const ExportSounds sounds = CheckExportSounds(job, large.project, FileRegistry::Instance());
        const LayerSoundCounts counts = sounds.Counts();
        counted = counts.changed + counts.missing;
        benchmark::DoNotOptimize(counted);
    }
    state.counters["layers"] = double(large.project.results.size());
    state.counters["layersOtherwise"] = double(counted);
}
BENCHMARK(BM_CheckExportSoundsHour)->Arg(0)->Arg(1)->ArgNames({"cut"})->Unit(benchmark::kMillisecond);
