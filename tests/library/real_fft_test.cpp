// The analysis's real transform: bins against a direct sum in long double
// at sizes whose complex half is a power of four and at sizes that need the
// closing radix-2 stage, with and without a window; the sizes it refuses; one shared plan used by many
// threads at once giving every thread the bits it gets alone.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "library/real_fft.h"

namespace {

std::vector<double> Samples(int n, uint32_t seed) {
    std::vector<double> x(static_cast<size_t>(n));
    uint32_t s = seed * 747796405u + 1u;
    for (double& v : x) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        v = s / 4294967295.0 * 2.0 - 1.0;
    }
    return x;
}

struct Spectrum {
    std::vector<double> re, im;
};

Spectrum Transform(const RealFftPlan& plan, const std::vector<double>& x, RealFftWork& work,
                   const std::vector<double>* window = nullptr) {
    Spectrum out;
    out.re.resize(static_cast<size_t>(plan.half) + 1);
    out.im.resize(static_cast<size_t>(plan.half) + 1);
    RealFftForward(plan, x.data(), window ? window->data() : nullptr, out.re.data(), out.im.data(), work);
    return out;
}

}  // namespace

TEST(RealFft, BinsEqualTheDirectSumAtEverySizeWithAndWithoutAWindow) {
    for (int size : {4, 8, 16, 32, 64, 128, 512, 2048})
        for (bool windowed : {false, true}) {
            const RealFftPlan* plan = SharedRealFftPlan(size);
            ASSERT_NE(plan, nullptr) << size;
            EXPECT_EQ(plan, SharedRealFftPlan(size)) << "one plan per size";
            const std::vector<double> x = Samples(size, static_cast<uint32_t>(size));
            const std::vector<double> window = Samples(size, static_cast<uint32_t>(size + 1));
            RealFftWork work;
            const Spectrum got = Transform(*plan, x, work, windowed ? &window : nullptr);
            for (int k = 0; k <= size / 2; ++k) {
                long double re = 0, im = 0;
                for (int j = 0; j < size; ++j) {
                    // The angle reduced exactly before the long double cosine.
                    const long double a = -2.0L * M_PI * static_cast<long double>((int64_t(j) * k) % size) / size;
                    const long double v = x[static_cast<size_t>(j)] * (windowed ? window[static_cast<size_t>(j)] : 1.0);
                    re += v * std::cos(a);
                    im += v * std::sin(a);
                }
                // Rounding grows with the size's logarithm and the sum's scale
                // (sqrt(size) for noise in -1..1).
                const double tolerance = 1e-14 * std::sqrt(double(size)) * std::log2(double(size));
                EXPECT_NEAR(got.re[static_cast<size_t>(k)], double(re), tolerance)
                    << size << " bin " << k << " " << windowed;
                EXPECT_NEAR(got.im[static_cast<size_t>(k)], double(im), tolerance)
                    << size << " bin " << k << " " << windowed;
            }
        }
}

TEST(RealFft, RefusesSizesItCannotPlan) {
    for (int size : {0, 2, 3, 6, 100, 2047, -2048, 1 << 21}) EXPECT_EQ(SharedRealFftPlan(size), nullptr) << size;
}

TEST(RealFft, OneSharedPlanOnManyThreadsGivesEachThreadItsOwnBits) {
    // The threads start before the plan exists, so they race to build it too.
    constexpr int kSize = 4096;
    constexpr int kThreads = 8;
    std::vector<Spectrum> alone(kThreads);
    std::vector<Spectrum> together(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &together] {
            const RealFftPlan* plan = SharedRealFftPlan(kSize);
            ASSERT_NE(plan, nullptr);
            RealFftWork work;
            const std::vector<double> x = Samples(kSize, static_cast<uint32_t>(100 + t));
            for (int round = 0; round < 50; ++round) together[static_cast<size_t>(t)] = Transform(*plan, x, work);
        });
    }
    for (std::thread& th : threads) th.join();
    RealFftWork work;
    for (int t = 0; t < kThreads; ++t) {
        const std::vector<double> x = Samples(kSize, static_cast<uint32_t>(100 + t));
        alone[static_cast<size_t>(t)] = Transform(*SharedRealFftPlan(kSize), x, work);
        EXPECT_EQ(together[static_cast<size_t>(t)].re, alone[static_cast<size_t>(t)].re) << t;
        EXPECT_EQ(together[static_cast<size_t>(t)].im, alone[static_cast<size_t>(t)].im) << t;
    }
}
