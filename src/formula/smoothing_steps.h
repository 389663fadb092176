// The four-bar step of the EMA/SMA recursion Y[k] = a*X[k] + b*Y[k-1] (b > 0), on the widest
// vector unit the processor has. Every kernel computes each output with the same operations in
// the same order, so they give the same bits; only how many bars share an instruction differs.
#pragma once

#include <cstdint>

namespace tessaro::fn {

enum class StepKernel { kScalar, kSse2, kAvx2, kBest };

// Whether this build and this processor can run `kernel` (kBest always can).
bool StepKernelAvailable(StepKernel kernel);

// Runs four-bar steps from bar i while four bars remain: writes y[i, returned index) as floats
// and leaves in `prev` the Y of the bar before the returned index. `prev` holds Y[i-1] on entry.
int32_t SmoothingSteps(const float* x, float* y, int32_t i, int32_t count, double a, double b, double& prev,
                       StepKernel kernel = StepKernel::kBest);

}  // namespace tessaro::fn
