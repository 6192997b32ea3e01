// Importing the markers of a 10 MB session text with 20,000 markers.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "picture/session_markers.h"
#include "support/temp_dir.h"

namespace {

// A session text of about 10 MB: a few header lines, 20,000 marker rows with
// names that exercise the word matching and long comments, and a track
// listing after them that the import stops at.
std::string MakeSessionText() {
    std::string text =
        "SESSION NAME:\tReel 3\nSAMPLE RATE:\t48000.000000\nTIMECODE FORMAT:\t24 Frame\n\n"
        "M A R K E R S  L I S T I N G\n"
        "#   \tLOCATION     \tTIME REFERENCE    \tUNITS    \tNAME                             \t"
        "TRACK NAME                       \tTRACK TYPE   \tCOMMENTS\n";
    const char* names[] = {"bloom high wind gust", "Rain, low heavy", "scene, Harbour, night rain",
                           "door slam metal", "spot air glass tinkle"};
    const std::string comment(385, 'c');
    for (int i = 0; i < 20000; ++i) {
        text += std::to_string(i + 1) + "   \t01:00:00:00  \t" + std::to_string(480000 + i * 4800) +
                "            \tSamples  \t" + names[i % 5] + " " + std::to_string(i) +
                "   \tMarkers                          \tRuler   \t" + comment + "\n";
    }
    text += "\nT R A C K  L I S T I N G\n";
    return text;
}

}  // namespace

static void BM_ImportSessionMarkers(benchmark::State& state) {
    TempDir dir;
    const std::string path = dir.File("session.txt");
    const std::string text = MakeSessionText();
    WriteWholeFile(path, text);
    const std::vector<std::string> recipes = {"Thunder", "rain", "Door Slam", "Wind"};
    std::vector<MarkerEvent> markers;
    std::vector<MarkerScene> scenes;
    for (auto _ : state) {
        ImportSessionMarkers(path, 24, markers, &scenes, recipes);
        benchmark::DoNotOptimize(markers.data());
    }
    state.counters["markers"] = static_cast<double>(markers.size() + scenes.size());
    state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_ImportSessionMarkers)->Unit(benchmark::kMillisecond);
