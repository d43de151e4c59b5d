/* Conversions on many threads at once. In a fresh process the threads convert their
 * images by each method in turn, all of them starting each method together at a barrier,
 * so that the tables the library makes on a method's first use are made while they race;
 * then each converts its image by its own method ROUNDS times more. Every method on two threads, 8, 16 (through the 16-bit table: more pixels than it
 * has entries), 24 and 32 bits, and the compact form; every output equal to the one made
 * by a single thread afterwards. `thread_test N` runs itself N times, each a fresh
 * process with the next target of the pixel loops. Built alone under ThreadSanitizer by the test suite. */
#define _POSIX_C_SOURCE 200809L
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bmp_maker.h"
#include "graybmp.h"

#define THREADS 22 /* every method twice */
#define ROUNDS 10
#define MOST (54 + 1024 + 4 * 257 * 257)

typedef struct {
    unsigned char input[MOST];
    size_t size;
    graybmp_options options;
    unsigned char first[MOST + 2048]; /* the race's output by its own method */
    size_t firstSize;
    unsigned long long raced[11];     /* a hash of each method's output in the race */
    int failures;
} Work;

static unsigned long long hashOf(const unsigned char* bytes, size_t size) {
    unsigned long long h = 14695981039346656037ull;
    size_t i;
    for (i = 0; i < size; ++i) h = (h ^ bytes[i]) * 1099511628211ull;
    return h ^ size;
}

static pthread_barrier_t start;

static void* convertRounds(void* argument) {
    Work* w = (Work*)argument;
    unsigned char* out = (unsigned char*)malloc(sizeof w->first);
    unsigned char* buffer = (unsigned char*)malloc(sizeof w->input);
    int round, m;
    for (m = 0; m < 11; ++m) {
        graybmp_options o = w->options;
        size_t size = 0;
        o.method = (graybmp_method)m;
        pthread_barrier_wait(&start);
        if (graybmp_convert_memory(w->input, w->size, w->first, sizeof w->first, &o, &size,
                                   NULL) != GRAYBMP_OK)
            ++w->failures;
        w->raced[m] = hashOf(w->first, size);
    }
    if (graybmp_convert_memory(w->input, w->size, w->first, sizeof w->first, &w->options,
                               &w->firstSize, NULL) != GRAYBMP_OK)
        ++w->failures;
    for (round = 0; out != NULL && buffer != NULL && round < ROUNDS; ++round) {
        size_t written = 0;
        if (graybmp_convert_memory(w->input, w->size, out, sizeof w->first, &w->options,
                                   &written, NULL) != GRAYBMP_OK ||
            written != w->firstSize || memcmp(out, w->first, written) != 0)
            ++w->failures;
        memcpy(buffer, w->input, w->size); /* in place too, where the length stays */
        if (w->firstSize == w->size &&
            (graybmp_convert_in_place(buffer, w->size, &w->options, NULL) != GRAYBMP_OK ||
             memcmp(buffer, w->first, w->size) != 0))
            ++w->failures;
    }
    if (out == NULL || buffer == NULL) w->failures = ROUNDS;
    free(out);
    free(buffer);
    return NULL;
}

/* Runs this program `runs` times, each a fresh process; the count of those that failed. */
static int freshRuns(const char* self, int runs) {
    int r, failed = 0;
    for (r = 0; r < runs; ++r) {
        int status = 0;
        const pid_t child = fork();
        if (child == 0) { /* each target of the pixel loops in turn (others leave scalar) */
            const char* target = NULL;
            size_t n = 0;
            while (graybmp_cpu_name(n) != NULL) ++n;
            target = graybmp_cpu_name((size_t)r % n);
            setenv("GRAYBMP_CPU", target, 1);
            execl(self, self, (char*)NULL);
            _exit(127);
        }
        if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0)
            ++failed;
    }
    printf("thread_test: %d fresh processes, %d failed\n", runs, failed);
    return failed;
}

int main(int argc, char** argv) {
    static Work work[THREADS];
    static unsigned char expected[MOST + 2048];
    pthread_t threads[THREADS];
    int t, failures = 0;
    if (argc > 1) return freshRuns(argv[0], atoi(argv[1])) == 0 ? 0 : 1;
    for (t = 0; t < THREADS; ++t) {
        Work* w = &work[t];
        const int bits[] = {8, 16, 24, 32}, b = bits[t % 4];
        /* 16 bits at 257 x 257: more pixels than 65536, through the table */
        w->size = makeBmp(w->input, b, b == 16 ? 257 : 61, b == 16 ? 257 : 23, 1000u + (unsigned)t);
        graybmp_options_init(&w->options);
        w->options.method = (graybmp_method)(t % 11); /* every method, weights included */
        w->options.weights[0] = 300000, w->options.weights[1] = 500000, w->options.weights[2] = 1;
        w->options.compact = t == 6; /* 24 bits */
    }
    pthread_barrier_init(&start, NULL, THREADS);
    for (t = 0; t < THREADS; ++t)
        if (pthread_create(&threads[t], NULL, convertRounds, &work[t]) != 0) return 1;
    for (t = 0; t < THREADS; ++t) {
        Work* w = &work[t];
        size_t size = 0;
        int m;
        pthread_join(threads[t], NULL);
        for (m = 0; m < 11; ++m) {
            graybmp_options o = w->options;
            o.method = (graybmp_method)m;
            if (graybmp_convert_memory(w->input, w->size, expected, sizeof expected, &o, &size,
                                       NULL) != GRAYBMP_OK ||
                hashOf(expected, size) != w->raced[m])
                ++w->failures;
        }
        failures += w->failures;
    }
    pthread_barrier_destroy(&start);
    printf("thread_test: %d threads x (11 methods + %d rounds), %d outputs differ\n", THREADS,
           ROUNDS, failures);
    return failures == 0 ? 0 : 1;
}
