// demo_generator.h — the whole DemoContent folder: the demo library and a
// demo project that uses it.
//
// Index
//   kDemoLibraryName / kDemoProjectName   the folder names
//   GenerateDemoContent                    write the tree into a folder
//
// Layout: Libraries/<library>/<sound>.wav (24-bit, 48 kHz) and
// Projects/<project>/<project>.tlproj, whose Clip and Bed sounds are
// collected into Projects/<project>/Audio; Recipes/ and Chains/ hold a few
// keyword recipes and a chain (without preview files: the program renders a
// preview when a recipe is saved).
#pragma once

#include <string>

constexpr const char* kDemoLibraryName = "Demo Sounds";
constexpr const char* kDemoProjectName = "Rooftop Chase";

// Replaces `folder` by a freshly generated tree: it is built beside it under
// a temporary name and moved into place, so an interrupted build never
// leaves half a tree. False, with `error` filled, when anything failed.
bool GenerateDemoContent(const std::string& folder, std::string& error);
