/* Conversions on many threads at once: 8 threads, each with its own images and methods,
 * 50 rounds each, every output equal to the one made on a single thread first. Built
 * alone under ThreadSanitizer by the test suite. */
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bmp_maker.h"
#include "graybmp.h"

#define THREADS 8
#define ROUNDS 50
#define WIDTH 61
#define HEIGHT 23

typedef struct {
    unsigned char input[54 + 1024 + 4 * WIDTH * HEIGHT];
    size_t size;
    graybmp_options options;
    unsigned char expected[54 + 1024 + 4 * WIDTH * HEIGHT + 2048];
    size_t expectedSize;
    int failures;
} Work;

static void* convertRounds(void* argument) {
    Work* w = (Work*)argument;
    unsigned char* out = (unsigned char*)malloc(sizeof w->expected);
    unsigned char* buffer = (unsigned char*)malloc(sizeof w->input);
    int round;
    if (out == NULL || buffer == NULL) {
        w->failures = ROUNDS;
        free(out);
        free(buffer);
        return NULL;
    }
    for (round = 0; round < ROUNDS; ++round) {
        size_t written = 0;
        graybmp_error e;
        if (graybmp_convert_memory(w->input, w->size, out, sizeof w->expected, &w->options,
                                   &written, &e) != GRAYBMP_OK ||
            written != w->expectedSize || memcmp(out, w->expected, written) != 0)
            ++w->failures;
        memcpy(buffer, w->input, w->size); /* in place too, where the length stays */
        if (w->expectedSize == w->size &&
            (graybmp_convert_in_place(buffer, w->size, &w->options, &e) != GRAYBMP_OK ||
             memcmp(buffer, w->expected, w->size) != 0))
            ++w->failures;
    }
    free(out);
    free(buffer);
    return NULL;
}

int main(void) {
    static Work work[THREADS];
    pthread_t threads[THREADS];
    int t, failures = 0;
    for (t = 0; t < THREADS; ++t) {
        Work* w = &work[t];
        const int bits[] = {8, 24, 32};
        w->size = makeBmp(w->input, bits[t % 3], WIDTH, HEIGHT, 1000u + (unsigned)t);
        graybmp_options_init(&w->options);
        w->options.method = (graybmp_method)(t % 4);
        w->options.compact = t == 5;
        if (graybmp_convert_memory(w->input, w->size, w->expected, sizeof w->expected,
                                   &w->options, &w->expectedSize, NULL) != GRAYBMP_OK) {
            fprintf(stderr, "thread_test: image %d not converted\n", t);
            return 1;
        }
    }
    for (t = 0; t < THREADS; ++t)
        if (pthread_create(&threads[t], NULL, convertRounds, &work[t]) != 0) return 1;
    for (t = 0; t < THREADS; ++t) {
        pthread_join(threads[t], NULL);
        failures += work[t].failures;
    }
    printf("thread_test: %d threads x %d rounds, %d outputs differ\n", THREADS, ROUNDS, failures);
    return failures == 0 ? 0 : 1;
}
