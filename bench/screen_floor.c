/* The floor of a whole-market screen: a hand-written C loop computing
 * CROSS(MA(C,5),MA(C,20)) AND V>MA(V,10) at the last bar of every A share, over the
 * same files the project reads (market files for the code table and today's quote,
 * base/Power.pwr for the forward adjustment, the mapped day files).
 *
 * Per security it builds the whole forward-adjusted close and volume columns (history
 * without today's bars, then today's quote as a bar), the whole MA columns by running
 * sums, and decides at the last bar, as a formula over whole series does.
 *
 * usage: screen_floor APPDIR [RUNS]  prints "floor N hits M in T ms" per run.
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#define RECORD 7383
#define QUOTE_BAR (54 + 12)

typedef struct {
    uint16_t market;
    char code[11];
    uint32_t events; /* index into the event array */
    uint32_t count;
} Group;

typedef struct {
    uint32_t day;
    double a, b; /* p' = a p + b */
} Event;

static Group *groups;
static size_t groupCount;
static Event *events;
static size_t eventCount;

static uint32_t UnixToStoreDay(uint32_t u) { return (uint32_t)(((uint64_t)u + 28800) / 86400 + 25569); }

static const unsigned char *MapFile(const char *path, size_t *size) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return NULL;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size == 0) {
        close(fd);
        *size = 0;
        return NULL;
    }
    void *p = mmap(NULL, (size_t)st.st_size, PROT_READ, MAP_PRIVATE, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return NULL;
    *size = (size_t)st.st_size;
    return p;
}

static int GroupCompare(const void *x, const void *y) {
    const Group *a = x, *b = y;
    if (a->market != b->market) return a->market < b->market ? -1 : 1;
    return strcmp(a->code, b->code);
}

static int EventCompare(const void *x, const void *y) {
    const Event *a = x, *b = y;
    return a->day < b->day ? -1 : a->day > b->day;
}

static void LoadPower(const char *app) {
    char path[4096];
    snprintf(path, sizeof path, "%s/base/Power.pwr", app);
    size_t size = 0;
    const unsigned char *d = MapFile(path, &size);
    if (!d) return;
    groups = calloc(size / 20 + 1, sizeof(Group));
    events = calloc(size / 20 + 1, sizeof(Event));
    for (size_t pos = 8; pos + 20 <= size; pos += 20) {
        uint32_t tag;
        memcpy(&tag, d + pos, 4);
        if (tag == 0xFFFFFFFFu) {
            Group *g = &groups[groupCount++];
            memcpy(&g->market, d + pos + 4, 2);
            memcpy(g->code, d + pos + 6, 10);
            g->code[10] = 0;
            g->events = (uint32_t)eventCount;
            g->count = 0;
        } else if (groupCount) {
            float v[4];
            memcpy(v, d + pos + 4, 16);
            if (fabsf(v[0]) <= 1e-5f && fabsf(v[1]) <= 1e-5f && fabsf(v[2]) <= 1e-5f && fabsf(v[3]) <= 1e-5f) continue;
            double factor = 1.0 + v[0] + v[1];
            if (!(factor > 1e-5)) continue;
            Event *e = &events[eventCount++];
            e->day = UnixToStoreDay(tag);
            e->a = 1.0 / factor;
            e->b = ((double)v[1] * v[2] - v[3]) / factor;
            groups[groupCount - 1].count++;
        }
    }
    for (size_t i = 0; i < groupCount; ++i) qsort(events + groups[i].events, groups[i].count, sizeof(Event), EventCompare);
    qsort(groups, groupCount, sizeof(Group), GroupCompare);
}

static const Group *FindGroup(uint16_t market, const char *code) {
    Group key = {market, {0}, 0, 0};
    memcpy(key.code, code, 10);
    return bsearch(&key, groups, groupCount, sizeof(Group), GroupCompare);
}

static float *closes, *volumes;
static size_t capacity;

/* One security: 1 for a hit, 0 otherwise. */
static int Screen(const char *app, const char *dir, uint16_t market, const char *code, const unsigned char *today) {
    char path[4096];
    snprintf(path, sizeof path, "%s/data/%s/day/%s.day", app, dir, code);
    size_t size = 0;
    const unsigned char *d = MapFile(path, &size);
    size_t n = size / 32;
    uint32_t todayTime;
    float q[6];
    memcpy(&todayTime, today, 4);
    memcpy(q, today + 4, 24);
    const uint32_t todayDay = todayTime / 86400;
    if (n + 1 > capacity) {
        capacity = n + 1024;
        closes = realloc(closes, capacity * sizeof(float));
        volumes = realloc(volumes, capacity * sizeof(float));
    }
    static uint32_t *days;
    static size_t dayCapacity;
    if (n + 1 > dayCapacity) {
        dayCapacity = n + 1024;
        days = realloc(days, dayCapacity * sizeof(uint32_t));
    }
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char *r = d + i * 32;
        uint32_t t;
        memcpy(&t, r, 4);
        if (todayTime && t / 86400 == todayDay) continue;
        days[m] = t / 86400;
        memcpy(&closes[m], r + 16, 4);
        memcpy(&volumes[m], r + 20, 4);
        ++m;
    }
    if (d) munmap((void *)d, size);
    if (fabsf(q[0]) > 1e-5f && fabsf(q[1]) > 1e-5f && fabsf(q[2]) > 1e-5f && fabsf(q[3]) > 1e-5f) {
        days[m] = todayDay;
        closes[m] = q[3];
        volumes[m] = q[4];
        ++m;
    }
    if (m == 0) return 0;
    /* Forward adjustment: walking back from the newest bar, each event passed is applied first. */
    const Group *g = FindGroup(market, code);
    if (g && g->count) {
        uint32_t newest = days[m - 1] > todayDay ? days[m - 1] : todayDay;
        const Event *ev = events + g->events;
        size_t k = g->count;
        while (k > 0 && ev[k - 1].day > newest) --k;
        double a = 1, b = 0;
        for (size_t i = m; i-- > 0;) {
            while (k > 0 && days[i] < ev[k - 1].day) {
                --k;
                b = a * ev[k].b + b;
                a = a * ev[k].a;
            }
            if (a != 1 || b != 0)
                if (fabsf(closes[i]) > 1e-5f) closes[i] = (float)(a * closes[i] + b);
        }
    }
    /* The whole columns: MA5, MA20 of C, MA10 of V, the cross and the condition. */
    double s5 = 0, s20 = 0, s10 = 0;
    float prev5 = 0, prev20 = 0;
    int hit = 0;
    for (size_t i = 0; i < m; ++i) {
        s5 += closes[i];
        s20 += closes[i];
        s10 += volumes[i];
        if (i >= 5) s5 -= closes[i - 5];
        if (i >= 20) s20 -= closes[i - 20];
        if (i >= 10) s10 -= volumes[i - 10];
        float ma5 = (float)(s5 / 5), ma20 = (float)(s20 / 20), mv = (float)(s10 / 10);
        hit = i >= 20 && prev5 < prev20 && ma5 > ma20 && i >= 9 && volumes[i] > mv;
        prev5 = ma5;
        prev20 = ma20;
    }
    return hit;
}

static double Now(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: screen_floor APPDIR [RUNS]\n");
        return 2;
    }
    const char *app = argv[1];
    int runs = argc > 2 ? atoi(argv[2]) : 1;
    for (int run = 0; run < runs; ++run) {
        double start = Now();
        if (run == 0 || !groups) LoadPower(app);
        size_t examined = 0, hits = 0;
        const char *dirs[2] = {"sh", "sz"};
        const uint16_t markets[2] = {0x4853, 0x5A53};
        for (int k = 0; k < 2; ++k) {
            char path[4096];
            snprintf(path, sizeof path, "%s/data/%s/stkinfo.dat", app, dirs[k]);
            size_t size = 0;
            const unsigned char *d = MapFile(path, &size);
            if (!d || size < 8) continue;
            int32_t count;
            memcpy(&count, d + 4, 4);
            for (int32_t i = 0; i < count && 8 + (size_t)(i + 1) * RECORD <= size; ++i) {
                const unsigned char *r = d + 8 + (size_t)i * RECORD;
                uint16_t market, cls;
                char code[11] = {0};
                memcpy(&market, r, 2);
                memcpy(code, r + 2, 10);
                memcpy(&cls, r + 12, 2);
                if (market != markets[k] || cls != 2) continue;
                ++examined;
                hits += (size_t)Screen(app, dirs[k], market, code, r + QUOTE_BAR);
            }
            munmap((void *)d, size);
        }
        printf("floor %zu hits %zu in %.1f ms\n", examined, hits, Now() - start);
    }
    return 0;
}
