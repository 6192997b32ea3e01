// main.cpp — the build step that writes DemoContent beside the program.
//
// Usage: tl_make_demo_content <folder>
#include <cstdio>
#include <string>

#include "demo_content/demo_generator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <DemoContent folder>\n", argv[0]);
        return 2;
    }
    std::string error;
    if (!GenerateDemoContent(argv[1], error)) {
        std::fprintf(stderr, "[Demo] could not generate the demo content: %s\n", error.c_str());
        return 1;
    }
    std::printf("[Demo] demo content written to %s\n", argv[1]);
    return 0;
}
