// Four bars a step: Y[i+k] = sum over j <= k of a*b^(k-j)*X[i+j], plus b^(k+1)*Y[i-1]. The four
// sums do not wait for each other, so the chain from one step to the next is one multiply and
// one add for four bars instead of for each bar.
//
// The sums run term by term in one order: bars 0 and 1 of a step add two terms, bars 2 and 3
// four (a missing X counts as +0). The SSE2 kernel holds two bars per register, the AVX2 kernel
// all four; the AVX2 kernel computes bars 0 and 1 with two terms as well and blends, so that
// the bits do not depend on the processor. No fused multiply-add: it would round differently.
#include "formula/smoothing_steps.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define TESSARO_X86 1
#endif

namespace tessaro::fn {
namespace {

struct Weights {
    double a, b, b2, b3, b4, ab, ab2, ab3;
    Weights(double a_, double b_) : a(a_), b(b_) {
        b2 = b * b;
        b3 = b2 * b;
        b4 = b3 * b;
        ab = a * b;
        ab2 = a * b2;
        ab3 = a * b3;
    }
};

int32_t ScalarSteps(const float* p, float* o, int32_t i, int32_t count, const Weights& weights, double& prevOut) {
    const Weights w = weights;  // in registers: the stores to o must not make the loop reload them
    double prev = prevOut;
    for (; i + 3 < count; i += 4) {
        const double x0 = p[i], x1 = p[i + 1], x2 = p[i + 2], x3 = p[i + 3];
        const double y0 = (w.a * x0 + w.ab * 0.0) + w.b * prev;
        const double y1 = (w.a * x1 + w.ab * x0) + w.b2 * prev;
        const double t3 = ((w.a * x3 + w.ab * x2) + w.ab2 * x1) + w.ab3 * x0;
        const double y2 = (((w.a * x2 + w.ab * x1) + w.ab2 * x0) + w.ab3 * 0.0) + w.b3 * prev;
        const double y3 = t3 + w.b4 * prev;
        o[i] = static_cast<float>(y0);
        o[i + 1] = static_cast<float>(y1);
        o[i + 2] = static_cast<float>(y2);
        o[i + 3] = static_cast<float>(y3);
        prev = y3;
    }
    prevOut = prev;
    return i;
}

#if defined(TESSARO_X86)

int32_t Sse2Steps(const float* p, float* o, int32_t i, int32_t count, const Weights& weights, double& prevOut) {
    const Weights w = weights;
    double prev = prevOut;
    const __m128d va = _mm_set1_pd(w.a), vab = _mm_set1_pd(w.ab), vab2 = _mm_set1_pd(w.ab2), vab3 = _mm_set1_pd(w.ab3);
    const __m128d powers01 = _mm_set_pd(w.b2, w.b), powers23 = _mm_set_pd(w.b4, w.b3);
    for (; i + 3 < count; i += 4) {
        const __m128 xs = _mm_loadu_ps(p + i);
        const __m128d x01 = _mm_cvtps_pd(xs);
        const __m128d x23 = _mm_cvtps_pd(_mm_movehl_ps(xs, xs));
        const __m128d zx0 = _mm_unpacklo_pd(_mm_setzero_pd(), x01);  // 0, x0
        const __m128d x12 = _mm_shuffle_pd(x01, x23, 1);              // x1, x2
        const __m128d t01 = _mm_add_pd(_mm_mul_pd(va, x01), _mm_mul_pd(vab, zx0));
        __m128d t23 = _mm_add_pd(_mm_mul_pd(va, x23), _mm_mul_pd(vab, x12));
        t23 = _mm_add_pd(t23, _mm_mul_pd(vab2, x01));
        t23 = _mm_add_pd(t23, _mm_mul_pd(vab3, zx0));
        const __m128d before = _mm_set1_pd(prev);
        const __m128d y01 = _mm_add_pd(t01, _mm_mul_pd(powers01, before));
        const __m128d y23 = _mm_add_pd(t23, _mm_mul_pd(powers23, before));
        _mm_storeu_ps(o + i, _mm_movelh_ps(_mm_cvtpd_ps(y01), _mm_cvtpd_ps(y23)));
        prev = _mm_cvtsd_f64(_mm_unpackhi_pd(t23, t23)) + w.b4 * prev;
    }
    prevOut = prev;
    return i;
}

__attribute__((target("avx2"))) int32_t Avx2Steps(const float* p, float* o, int32_t i, int32_t count,
                                                  const Weights& weights, double& prevOut) {
    const Weights w = weights;
    double prev = prevOut;
    const __m256d va = _mm256_set1_pd(w.a), vab = _mm256_set1_pd(w.ab), vab2 = _mm256_set1_pd(w.ab2),
                  vab3 = _mm256_set1_pd(w.ab3);
    const __m256d powers = _mm256_set_pd(w.b4, w.b3, w.b2, w.b);
    const __m256d zero = _mm256_setzero_pd();
    for (; i + 3 < count; i += 4) {
        const __m256d x = _mm256_cvtps_pd(_mm_loadu_ps(p + i));                                           // x0 x1 x2 x3
        const __m256d s1 = _mm256_blend_pd(_mm256_permute4x64_pd(x, _MM_SHUFFLE(2, 1, 0, 0)), zero, 0x1);  // 0 x0 x1 x2
        const __m256d s2 = _mm256_permute2f128_pd(x, x, 0x08);                                            // 0 0 x0 x1
        const __m256d s3 = _mm256_blend_pd(_mm256_permute4x64_pd(x, 0), zero, 0x7);                       // 0 0 0 x0
        const __m256d two = _mm256_add_pd(_mm256_mul_pd(va, x), _mm256_mul_pd(vab, s1));
        const __m256d four = _mm256_add_pd(_mm256_add_pd(two, _mm256_mul_pd(vab2, s2)), _mm256_mul_pd(vab3, s3));
        const __m256d t = _mm256_blend_pd(two, four, 0xC);  // bars 0 and 1 with two terms, 2 and 3 with four
        const __m256d y = _mm256_add_pd(t, _mm256_mul_pd(powers, _mm256_set1_pd(prev)));
        _mm_storeu_ps(o + i, _mm256_cvtpd_ps(y));
        const __m128d t23 = _mm256_extractf128_pd(t, 1);
        prev = _mm_cvtsd_f64(_mm_unpackhi_pd(t23, t23)) + w.b4 * prev;
    }
    prevOut = prev;
    return i;
}

bool HasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

#endif

}  // namespace

bool StepKernelAvailable(StepKernel kernel) {
    switch (kernel) {
        case StepKernel::kScalar:
        case StepKernel::kBest: return true;
#if defined(TESSARO_X86)
        case StepKernel::kSse2: return true;
        case StepKernel::kAvx2: return HasAvx2();
#else
        default: return false;
#endif
    }
    return false;
}

int32_t SmoothingSteps(const float* x, float* y, int32_t i, int32_t count, double a, double b, double& prev,
                       StepKernel kernel) {
    const Weights w(a, b);
#if defined(TESSARO_X86)
    if (kernel == StepKernel::kBest) kernel = HasAvx2() ? StepKernel::kAvx2 : StepKernel::kSse2;
    if (kernel == StepKernel::kAvx2 && HasAvx2()) return Avx2Steps(x, y, i, count, w, prev);
    if (kernel == StepKernel::kSse2 || kernel == StepKernel::kAvx2) return Sse2Steps(x, y, i, count, w, prev);
#endif
    return ScalarSteps(x, y, i, count, w, prev);
}

}  // namespace tessaro::fn
