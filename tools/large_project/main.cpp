// tl_large_project — writes a generated project of a working designer's size
// (tests/support/large_project.h) for measuring the program by hand:
//   tl_large_project [--inconsistent-beds] FOLDER NAME EVENTS [LAYERS_PER_EVENT [SECONDS]]
// LAYERS_PER_EVENT 0 writes the events only (not rendered). Beds get one layer
// per pinned file, as the program makes them; --inconsistent-beds gives them
// LAYERS_PER_EVENT layers of other files instead, as earlier generated
// projects had them (opening such a project rebuilds its Beds). Prints the
// project's path.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/large_project.h"

int main(int argc, char** argv) {
    std::vector<const char*> args;
    bool inconsistentBeds = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--inconsistent-beds") == 0)
            inconsistentBeds = true;
        else
            args.push_back(argv[i]);
    }
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: %s [--inconsistent-beds] FOLDER NAME EVENTS [LAYERS_PER_EVENT [SECONDS]]\n",
                     argv[0]);
        return 2;
    }
    const std::string folder = args[0];
    LargeProjectSpec spec{.eventCount = std::atoi(args[2]), .inconsistentBeds = inconsistentBeds};
    const int layers = args.size() > 3 ? std::atoi(args[3]) : 0;
    if (layers > 0) {
        spec.layers = LargeProjectLayers::Made;
        spec.layersPerEvent = layers;
    }
    if (args.size() > 4) spec.seconds = float(std::atof(args[4]));
    const LargeProject large = MakeLargeProject(spec, folder + "/Library");
    const std::string path = WriteLargeProject(large, folder, args[1]);
    if (path.empty()) return 1;
    std::printf("%s\n", path.c_str());
    return 0;
}
