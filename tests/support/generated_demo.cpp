// generated_demo.cpp — the demo content generated and analysed for a test.
#include "support/generated_demo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "demo_content/demo_generator.h"
#include "library/sound_analysis.h"

bool GenerateDemo(const std::string& folder, GeneratedDemo& demo) {
    std::string error;
    if (!GenerateDemoContent(folder, error)) {
        ADD_FAILURE() << "the demo content could not be generated: " << error;
        return false;
    }
    demo.folder = folder;
    demo.library = LibraryIndex();
    demo.library.path = folder + "/Libraries/" + kDemoLibraryName;
    demo.library.name = kDemoLibraryName;
    for (const auto& file : std::filesystem::directory_iterator(demo.library.path)) {
        LibraryEntry entry;
        if (!AnalyzeSoundFile(file.path().string(), entry)) {
            ADD_FAILURE() << "a demo sound could not be analysed: " << file.path();
            return false;
        }
        demo.library.entries.push_back(entry);
    }
    // Directory order differs between file systems; the library does not.
    std::sort(demo.library.entries.begin(), demo.library.entries.end(),
              [](const LibraryEntry& a, const LibraryEntry& b) { return a.path < b.path; });
    demo.projectFile = folder + "/Projects/" + kDemoProjectName + "/" + kDemoProjectName + ".tlproj";
    return true;
}
