// The EMA/SMA step kernels give the same bits on every instruction set (any NaN matching any NaN), and the step agrees with
// the plain one-bar recursion to the precision of a double.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "formula/smoothing_steps.h"

namespace tessaro::fn {
namespace {

struct StepRun {
    std::vector<float> y;
    double prev;
    int32_t end;
};

StepRun Steps(const std::vector<float>& x, int32_t from, double a, double b, double seed, StepKernel kernel) {
    StepRun r{std::vector<float>(x.size(), -1.0f), seed, 0};
    r.end = SmoothingSteps(x.data(), r.y.data(), from, static_cast<int32_t>(x.size()), a, b, r.prev, kernel);
    return r;
}

// Bit for bit, the sign of a zero included; a NaN matches any NaN (which of two NaNs an addition
// passes on depends on the order the compiler gives its operands, and the sign of a NaN means
// nothing).
template <class T>
bool SameBits(T a, T b) {
    if (std::isnan(a) && std::isnan(b)) return true;
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::vector<float> Inputs(std::mt19937& rng, size_t n, bool awkward) {
    std::uniform_real_distribution<float> price(1.0f, 5000.0f);
    std::vector<float> x(n);
    for (float& v : x) v = price(rng);
    if (awkward) {
        const float specials[] = {0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(),
                                  std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::denorm_min(), 3e38f, -3e38f, 1e-30f};
        for (size_t k = 0; k < n; k += 5) x[k] = specials[(k / 5) % std::size(specials)];
    }
    return x;
}

TEST(SmoothingSteps, EveryKernelGivesTheSameBits) {
    std::mt19937 rng(20261210);
    // EMA 12 and 26, SMA(X,3,1), a negative weight (SMA with M > N keeps b > 0 only for M < 0)
    // and a weight near 1.
    const double weights[][2] = {{2.0 / 13, 11.0 / 13}, {2.0 / 27, 25.0 / 27}, {1.0 / 3, 2.0 / 3}, {-0.5, 1.5}, {1e-9, 1 - 1e-9}};
    int compared = 0;
    for (bool awkward : {false, true})
        for (const auto& w : weights)
            for (int32_t from : {1, 2, 3}) {
                std::vector<float> x = Inputs(rng, 203, awkward);
                // Negative zeros from the start: the sign of a zero sum depends on which terms
                // are added, so every kernel must add the same ones.
                if (awkward && from == 3) std::fill(x.begin(), x.begin() + 60, -0.0f);
                for (double seed : {0.0, -0.0, 17.25, static_cast<double>(std::numeric_limits<float>::quiet_NaN())}) {
                    const StepRun scalar = Steps(x, from, w[0], w[1], seed, StepKernel::kScalar);
                    EXPECT_EQ(scalar.end, from + (203 - from) / 4 * 4);
                    for (StepKernel k : {StepKernel::kSse2, StepKernel::kAvx2, StepKernel::kBest}) {
                        if (!StepKernelAvailable(k)) continue;
                        const StepRun other = Steps(x, from, w[0], w[1], seed, k);
                        ASSERT_EQ(other.end, scalar.end);
                        for (size_t i = 0; i < x.size(); ++i)
                            ASSERT_TRUE(SameBits(other.y[i], scalar.y[i]))
                                << "kernel " << static_cast<int>(k) << " weights " << w[0] << " from " << from << " at " << i
                                << ": " << other.y[i] << " against " << scalar.y[i];
                        EXPECT_TRUE(SameBits(other.prev, scalar.prev));
                        ++compared;
                    }
                }
            }
    EXPECT_GT(compared, 100);
}

TEST(SmoothingSteps, AgreesWithTheOneBarRecursion) {
    std::mt19937 rng(7);
    const std::vector<float> x = Inputs(rng, 4001, false);
    const double a = 2.0 / 27, b = 25.0 / 27;
    StepRun stepped = Steps(x, 1, a, b, x[0], StepKernel::kBest);
    double prev = x[0];
    for (int32_t i = 1; i < stepped.end; ++i) {
        prev = a * x[static_cast<size_t>(i)] + b * prev;
        ASSERT_NEAR(stepped.y[static_cast<size_t>(i)], prev, std::fabs(prev) * 1e-6) << i;
    }
    EXPECT_NEAR(stepped.prev, prev, std::fabs(prev) * 1e-12);
    // Fewer than four bars left: nothing is written.
    StepRun none = Steps(std::vector<float>(3, 1.0f), 0, a, b, 5.0, StepKernel::kBest);
    EXPECT_EQ(none.end, 0);
    EXPECT_EQ(none.y, std::vector<float>(3, -1.0f));
    EXPECT_EQ(none.prev, 5.0);
}

}  // namespace
}  // namespace tessaro::fn
