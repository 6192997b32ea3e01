// The requests the frame checks before it draws (steps 1–4 of the job
// protocol) when nothing has changed: 100 scene-linked Beds of 8 layers each,
// every frame; alone, and beside the layers of 1,000 rendered events (each
// Bed's check scans every result of the project).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "document/event.h"
#include "document/project.h"
#include "library/file_registry.h"
#include "library/sound_library.h"
#include "operations/app_state.h"
#include "operations/document_context.h"
#include "operations/job_requests.h"
#include "playback/audio_engine.h"
#include "render/clip_bed_events.h"
#include "support/audio_fixtures.h"
#include "support/temp_dir.h"

namespace {

struct BedProject {
    TempDir dir;
    std::unique_ptr<Project> project = std::make_unique<Project>();
    std::unique_ptr<SoundLibrary> library = std::make_unique<SoundLibrary>();
    std::unique_ptr<AudioEngine> engine = std::make_unique<AudioEngine>();
    std::unique_ptr<AppState> app = std::make_unique<AppState>();

    BedProject(int beds, int layers, int otherResults) {
        std::vector<std::string> files, ids;
        for (int i = 0; i < layers; ++i) {
            AudioSpec spec;
            spec.seconds = 0.5;
            spec.frequency = 200.0 + 50.0 * i;
            files.push_back(dir.File("layer" + std::to_string(i) + ".wav"));
            WriteTestAudio(files.back(), spec);
            ids.push_back(FileRegistry::Instance().FileRefForPath(files.back()).id);
        }
        project->totalDuration = float(beds) * 10.0f;
        for (int b = 0; b < beds; ++b) {
            Scene scene;
            scene.inTime = float(b) * 10.0f;
            scene.outTime = scene.inTime + 9.5f;
            project->scenes.push_back(scene);
            const int e = AddEvent(*project, scene.inTime, kShapeBed, 0.5f);
            Event& bed = project->events[size_t(e)];
            bed.sceneLink = b;
            bed.pinnedFiles = files;
            bed.pinnedFileIds = ids;  // as a drop leaves them: resolved every check
        }
        project->results.resize(size_t(otherResults));
        for (int i = 0; i < otherResults; ++i) project->results[size_t(i)].eventIdx = beds + i / 5;
        project->events.resize(size_t(beds + (otherResults + 4) / 5));
        // The first pass builds the layers; the frames measured change nothing.
        FollowSceneLinks(*project);
        RebuildBedEvents(*project);
    }
};

void BM_JobRequestsWithNothingChanged(benchmark::State& state) {
    const int others = int(state.range(0));
    BedProject rig(100, 8, others);
    const DocumentContext ctx = MakeDocumentContext(*rig.project, *rig.library, *rig.engine, *rig.app);
    for (auto _ : state) TakeJobRequests(ctx, {});
    if (rig.app->busyTask.busy.load() || rig.project->results.size() != size_t(800 + others))
        state.SkipWithError("the frames were meant to find nothing to do");
    state.counters["results"] = double(rig.project->results.size());
}
BENCHMARK(BM_JobRequestsWithNothingChanged)->Arg(0)->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace
