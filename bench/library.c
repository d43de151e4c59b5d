/* The library's conversions in memory against memcpy of the same bytes: an 8-bit image of
 * 64 MiB, a 24-bit one of 48 MiB by every method (weights 0.3, 0.5, 0.2); memory to memory and in place. Buffers
 * are touched before timing; each figure is the median of ROUNDS rounds of the pair.
 *   library [ROUNDS]   (default 9) */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "../tests/bmp_maker.h"
#include "graybmp.h"

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

static int byValue(const void* a, const void* b) {
    const double x = *(const double*)a, y = *(const double*)b;
    return x < y ? -1 : x > y;
}

static size_t makeImage(unsigned char** out, int bits, int width, int height) {
    const size_t size = 54 + (bits == 8 ? 1024 : 0) +
                        (size_t)((width * bits / 8 + 3) / 4 * 4) * (size_t)height;
    *out = (unsigned char*)malloc(size);
    if (*out == NULL) exit(2);
    return makeBmp(*out, bits, width, height, 7);
}

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? atoi(argv[1]) : 9;
    struct {
        char label[64];
        int bits, width, height;
        graybmp_method method;
    } cases[16] = {{"8192x8192 8-bit", 8, 8192, 8192, GRAYBMP_MEAN}};
    size_t count = 1;
    while (graybmp_method_name(count - 1) != NULL && count < 16) {
        const char* name = graybmp_method_name(count - 1);
        snprintf(cases[count].label, sizeof cases[count].label, "4096x4096 24-bit %.20s",
                 strncmp(name, "weights=", 8) == 0 ? "weights" : name);
        cases[count].bits = 24, cases[count].width = 4096, cases[count].height = 4096;
        cases[count].method = (graybmp_method)(count - 1);
        ++count;
    }
    size_t c;
    printf("%-28s %6s %10s %12s %12s\n", "image", "MiB", "memcpy s", "memory/cpy", "in place/cpy");
    for (c = 0; c < count; ++c) {
        unsigned char *in, *out, *work;
        const size_t size = makeImage(&in, cases[c].bits, cases[c].width, cases[c].height);
        double copies[64], memory[64], inPlace[64];
        graybmp_options o;
        int r;
        graybmp_options_init(&o);
        o.method = cases[c].method;
        o.weights[0] = 300000, o.weights[1] = 500000, o.weights[2] = 200000;
        out = (unsigned char*)malloc(size);
        work = (unsigned char*)malloc(size);
        if (out == NULL || work == NULL || rounds < 1 || rounds > 64) return 2;
        memset(out, 1, size);
        memcpy(work, in, size);
        for (r = 0; r < rounds; ++r) {
            double t0 = now();
            memcpy(out, in, size);
            copies[r] = now() - t0;
            t0 = now();
            if (graybmp_convert_memory(in, size, out, size, &o, NULL, NULL) != GRAYBMP_OK) return 1;
            memory[r] = (now() - t0) / copies[r];
            t0 = now();
            if (graybmp_convert_in_place(work, size, &o, NULL) != GRAYBMP_OK) return 1;
            inPlace[r] = (now() - t0) / copies[r];
        }
        qsort(copies, (size_t)rounds, sizeof(double), byValue);
        qsort(memory, (size_t)rounds, sizeof(double), byValue);
        qsort(inPlace, (size_t)rounds, sizeof(double), byValue);
        printf("%-28s %6zu %10.4f %12.2f %12.2f\n", cases[c].label, size >> 20,
               copies[rounds / 2], memory[rounds / 2], inPlace[rounds / 2]);
        free(in), free(out), free(work);
    }
    return 0;
}
