// The render pass over a 200-event project (Spot, Fill and Scatter mixed)
// with generated libraries of 10,000 to 100,000 entries, scored on one thread
// and on every core. The library's files do not exist, so the figures are the
// pass itself: choice, scoring, fitting and packing, without decoding audio.
#include <benchmark/benchmark.h>

#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "document/text_util.h"
#include "render/render_pass.h"
#include "support/render_fixtures.h"
#include "render_bench_support.h"

namespace {

void BuildBenchProject(Project& project) {
    const int shapes[3] = {kShapeSpot, kShapeFill, kShapeScatter};
    const char* keywords[4] = {"", "metal hit", "+glass", "wind -door"};
    for (int i = 0; i < 200; ++i) {
        int shape = shapes[i % 3];
        int e = AddEvent(project, 0.5f + 1.3f * static_cast<float>(i), shape,
                         static_cast<float>(i % 10) / 10.0f + 0.05f);
        Event& ev = project.events[e];
        ev.spread = static_cast<float>(i % 4) / 3.0f;
        ev.pitchVariation = (i % 5 == 0) ? 0.3f : 0.0f;
        ev.hero = (i % 17 == 0);
        CopyTextField(ev.keywords, keywords[i % 4]);
        if (shape == kShapeScatter) ev.duration = 3.0f;
    }
    project.totalDuration = 300.0f;
}

}  // namespace

static void BM_RenderPass200Events(benchmark::State& state) {
    SoundLibrary library;
    library.libraries.push_back(MakeLibrary("Generated", MakeSyntheticEntries(static_cast<int>(state.range(0)), 7)));
    Project project;
    BuildBenchProject(project);
    TimeRenderPasses(state, project, library, 12345, 777, static_cast<int>(state.range(1)));
}
BENCHMARK(BM_RenderPass200Events)->Apply(LibrarySizesAndThreads)->Unit(benchmark::kMillisecond)->UseRealTime();
