/* The peer's kernels: Tulip Indicators' C functions, compiled from the sources the tulind
 * package ships, over 4,000 generated bars. Prints "tulip-c NAME ns_per_bar X", the median of
 * 15 timed runs of 500 calls each (MACD 12/26/9, EMA 12, SMA 20, STDDEV 20), all on one array
 * of closes that stays in the cache.
 * "MACD-records-40" and "MACD-records" are MACD as a caller with the project's data would run
 * it: 40 securities (5 MB, in the last-level cache) or 400 (50 MB, read from memory) of 4,000
 * 32-byte day records, each security's closes gathered into a double array and handed to the
 * kernel, as the project's preloaded benchmark reads its series.
 * build: cc -O2 tulip_kernel.c $TULIND/external/tiamalgamation.c -I$TULIND/external -lm */
#define _GNU_SOURCE
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "indicators.h"

#define BARS 4000
#define RUNS 15
#define CALLS 500
#define SECURITIES 400

/* The day record of the project's history files. */
struct Bar {
    uint32_t time;
    float open, high, low, close, amount;
    uint32_t volume, reserved;
};

static double Now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e9 + ts.tv_nsec;
}

static int Cmp(const void *a, const void *b) {
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

int main(void) {
    static double close[BARS], out1[BARS], out2[BARS], out3[BARS];
    unsigned seed = 7;
    double p = 10;
    for (int i = 0; i < BARS; ++i) {
        seed = seed * 1103515245u + 12345u;
        p *= 1 + ((seed >> 8) / 16777216.0 - 0.5) * 0.04;
        if (p < 1) p = 1;
        close[i] = p;
    }
    struct {
        const char *label;
        ti_indicator_function fn;
        double options[3];
    } cases[] = {{"MACD", ti_macd, {12, 26, 9}}, {"EMA", ti_ema, {12}}, {"MA", ti_sma, {20}}, {"STD", ti_stddev, {20}}};
    double sink = 0;
    for (size_t c = 0; c < sizeof cases / sizeof cases[0]; ++c) {
        const double *inputs[] = {close};
        double *outputs[] = {out1, out2, out3};
        double times[RUNS];
        for (int r = 0; r < RUNS; ++r) {
            double start = Now();
            for (int k = 0; k < CALLS; ++k) {
                cases[c].fn(BARS, inputs, cases[c].options, outputs);
                sink += out1[100];
            }
            times[r] = (Now() - start) / ((double)CALLS * BARS);
        }
        qsort(times, RUNS, sizeof times[0], Cmp);
        printf("tulip-c %s ns_per_bar %.3f\n", cases[c].label, times[RUNS / 2]);
    }

    struct Bar *bars = malloc(sizeof(struct Bar) * SECURITIES * BARS);
    if (!bars) return 1;
    for (int s = 0; s < SECURITIES; ++s)
        for (int i = 0; i < BARS; ++i) {
            struct Bar *b = &bars[(size_t)s * BARS + i];
            b->time = (uint32_t)i;
            b->open = b->high = b->low = b->close = (float)(close[i] * (1 + s * 0.001));
            b->amount = 0;
            b->volume = b->reserved = 0;
        }
    const int held[] = {40, SECURITIES};
    const char *label[] = {"MACD-records-40", "MACD-records"};
    for (int h = 0; h < 2; ++h) {
        double times[RUNS];
        /* About as many bars per timed run for both sizes. */
        const int rounds = SECURITIES / held[h];
        for (int r = 0; r < RUNS; ++r) {
            const double *inputs[] = {close};
            double *outputs[] = {out1, out2, out3};
            double start = Now();
            for (int k = 0; k < rounds; ++k)
                for (int s = 0; s < held[h]; ++s) {
                    const struct Bar *b = &bars[(size_t)s * BARS];
                    for (int i = 0; i < BARS; ++i) close[i] = b[i].close;
                    ti_macd(BARS, inputs, cases[0].options, outputs);
                    sink += out1[100];
                }
            times[r] = (Now() - start) / ((double)rounds * held[h] * BARS);
        }
        qsort(times, RUNS, sizeof times[0], Cmp);
        printf("tulip-c %s ns_per_bar %.3f\n", label[h], times[RUNS / 2]);
    }
    free(bars);
    return sink == 0.5 ? 1 : 0;
}
