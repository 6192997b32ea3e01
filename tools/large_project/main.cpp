// tl_large_project — writes a generated project of a working designer's size
// (tests/support/large_project.h) for measuring the program by hand:
//   tl_large_project FOLDER NAME EVENTS [LAYERS_PER_EVENT [SECONDS]]
// LAYERS_PER_EVENT 0 writes the events only (not rendered). Prints the
// project's path.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/large_project.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s FOLDER NAME EVENTS [LAYERS_PER_EVENT [SECONDS]]\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    LargeProjectSpec spec;
    spec.eventCount = std::atoi(argv[3]);
    const int layers = argc > 4 ? std::atoi(argv[4]) : 0;
    if (layers > 0) {
        spec.layers = LargeProjectLayers::Made;
        spec.layersPerEvent = layers;
    }
    if (argc > 5) spec.seconds = float(std::atof(argv[5]));
    const LargeProject large = MakeLargeProject(spec, folder + "/Library");
    const std::string path = WriteLargeProject(large, folder, argv[2]);
    if (path.empty()) return 1;
    std::printf("%s\n", path.c_str());
    return 0;
}
