// unique_file_id.h — file ids that no other test run in the process has used.
//
// The file registry lives as long as the process, so a test that registers a
// fixed id meets its own earlier runs under --gtest_repeat (and the stale
// paths they left behind fill the id's alternates).
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <string>

inline std::string UniqueFileId() {
    static std::atomic<unsigned> counter{0};
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", static_cast<unsigned>(::getpid()), 0xf1000000u + ++counter);
    return text;
}
