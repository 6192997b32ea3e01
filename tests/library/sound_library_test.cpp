// The sound library object: library order, scan texts shared across
// threads, and stopping the workers on destruction.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "library/sound_library.h"

namespace {

std::vector<std::string> SortedNames(const std::vector<std::string>& names) {
    SoundLibrary library;
    for (const std::string& name : names) {
        LibraryIndex index;
        index.name = name;
        library.libraries.push_back(index);
    }
    std::vector<int32_t> order(names.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](int32_t i, int32_t j) {
        return CompareLibrariesByName(library, i, j);
    });
    std::vector<std::string> sorted;
    for (int32_t i : order)
        sorted.push_back(names[size_t(i)]);
    return sorted;
}

TEST(SoundLibraryOrder, ComparesNamesIgnoringCase) {
    // Upper case does not sort before every lower-case name; a prefix
    // (ignoring case) comes first; names equal but for case keep their order.
    EXPECT_EQ(SortedNames({"Zeta", "alpha", "Foley", "foley extra", "FOLEY", "beta", "_under"}),
              (std::vector<std::string>{"_under", "alpha", "beta", "Foley", "FOLEY", "foley extra", "Zeta"}));

    SoundLibrary library;
    library.libraries.resize(2);
    library.libraries[0].name = "Rain";
    library.libraries[1].name = "rain";
    EXPECT_FALSE(CompareLibrariesByName(library, 0, 1));
    EXPECT_FALSE(CompareLibrariesByName(library, 1, 0));
    // Bytes of UTF-8 names sort after ASCII instead of before it.
    library.libraries[1].name = "\xC3\x84mbience";
    EXPECT_TRUE(CompareLibrariesByName(library, 0, 1));
    // Out-of-range indices are never "before".
    EXPECT_FALSE(CompareLibrariesByName(library, -1, 0));
    EXPECT_FALSE(CompareLibrariesByName(library, 0, 2));
}

TEST(SoundLibraryScanTexts, ReadableWhileAnotherThreadWrites) {
    SoundLibrary library;
    std::atomic<bool> stop{false};
    std::thread scan([&] {
        for (int i = 0; !stop.load() && i < 20000; ++i) {
            SetScanStatus(library, "file_" + std::to_string(i) + ".wav");
            if (i % 50 == 0)
                AddFailedFile(library, "bad_" + std::to_string(i) + ".wav");
            if (i % 1000 == 0)
                ClearFailedFiles(library);
        }
        SetScanError(library, "Scan interrupted: folder became inaccessible");
    });
    size_t lastCount = 0;
    for (int i = 0; i < 2000; ++i) {
        const std::string status = GetScanStatus(library);
        EXPECT_TRUE(status.empty() || status.rfind("file_", 0) == 0);
        const std::vector<std::string> failed = GetFailedFiles(library);
        for (const std::string& name : failed)
            EXPECT_EQ(name.rfind("bad_", 0), 0u);
        lastCount = FailedFileCount(library);
    }
    stop.store(true);
    scan.join();
    EXPECT_LE(lastCount, 20u);
    EXPECT_EQ(GetScanError(library), "Scan interrupted: folder became inaccessible");

    // A status longer than the field is cut to 255 bytes at a character boundary.
    std::string longName;
    for (int i = 0; i < 200; ++i)
        longName += "\xC3\xA9";  // 2-byte characters: 400 bytes
    SetScanStatus(library, longName);
    const std::string cut = GetScanStatus(library);
    EXPECT_EQ(cut.size(), 254u);
    EXPECT_EQ(cut, longName.substr(0, 254));
}

TEST(SoundLibraryLifetime, DestructorStopsAndJoinsWorkers) {
    auto library = std::make_unique<SoundLibrary>();
    std::atomic<int> ended{0};
    library->scanRunning.store(1);
    library->fingerprintRunning.store(1);
    SoundLibrary* raw = library.get();
    // Stand-ins for the workers: each runs until its flag is cleared.
    library->scanThread = std::thread([raw, &ended] {
        while (raw->scanRunning.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ended.fetch_add(1);
    });
    library->fingerprintThread = std::thread([raw, &ended] {
        while (raw->fingerprintRunning.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ended.fetch_add(1);
    });
    library.reset();  // would terminate the program if a thread were left joinable
    EXPECT_EQ(ended.load(), 2);
}

}  // namespace
