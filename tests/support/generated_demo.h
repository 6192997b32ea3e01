// generated_demo.h — the demo content as a new user gets it, generated into
// a test's folder, with its library analysed as the program indexes it.
//
// Index
//   GeneratedDemo   the folder, its analysed library and the demo project's file
//   GenerateDemo    generates and analyses it (a test failure when either fails)
#pragma once

#include <string>

#include "library/sound_library.h"

struct GeneratedDemo {
    std::string folder;       // the demo content
    LibraryIndex library;     // the demo library, every sound analysed, in path order
    std::string projectFile;  // the demo project
};

// False, with a test failure naming the reason, when the content could not
// be generated or one of its sounds could not be analysed.
bool GenerateDemo(const std::string& folder, GeneratedDemo& demo);
