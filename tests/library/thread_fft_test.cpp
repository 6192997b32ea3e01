// The analysis's per-thread transform configurations: one per thread and
// size, kept from call to call, never handed to another thread, and the
// forward transform of the size asked for.
#include <gtest/gtest.h>

#include <kiss_fftr.h>

#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

#include "library/thread_fft.h"

TEST(ThreadRealFft, EachThreadKeepsOneForwardConfigurationPerSize) {
    const kiss_fftr_cfg mine = ThreadRealFft(2048);
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(ThreadRealFft(2048), mine) << "built once, then kept";
    const kiss_fftr_cfg small = ThreadRealFft(512);
    ASSERT_NE(small, nullptr);
    EXPECT_NE(small, mine);
    EXPECT_EQ(ThreadRealFft(2048), mine) << "a second size leaves the first in place";
    for (int size : {0, -2048, 3, 2047}) EXPECT_EQ(ThreadRealFft(size), nullptr) << size;

    // While this thread's configuration lives, another thread gets its own.
    kiss_fftr_cfg other = nullptr;
    std::thread([&] { other = ThreadRealFft(2048); }).join();
    EXPECT_NE(other, nullptr);
    EXPECT_NE(other, mine);

    // A forward transform of 2048 points: bin 5 of a cosine of five periods
    // holds half its energy, and a fresh configuration gives the same bits.
    std::vector<float> x(2048);
    for (size_t i = 0; i < x.size(); ++i) x[i] = float(std::cos(2.0 * M_PI * 5.0 * double(i) / 2048.0));
    std::vector<kiss_fft_cpx> kept(1025), fresh(1025);
    kiss_fftr(mine, x.data(), kept.data());
    kiss_fftr_cfg cfg = kiss_fftr_alloc(2048, 0, nullptr, nullptr);
    kiss_fftr(cfg, x.data(), fresh.data());
    kiss_fftr_free(cfg);
    EXPECT_NEAR(kept[5].r, 1024.0f, 1e-2f);
    EXPECT_EQ(std::memcmp(kept.data(), fresh.data(), kept.size() * sizeof(kiss_fft_cpx)), 0);
}
