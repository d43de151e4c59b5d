/* The library's API as a C program sees it: every function's statuses and error records,
 * the buffers it may and may not touch, and the callbacks. Plain C99, no test framework,
 * so that the cross builds run it too. (That every way in gives the tool's bytes on every
 * kind is the C++ suite's library table.)
 *   api_test [FOLDER]   (files are made in FOLDER, default the current one) */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "bmp_maker.h"
#include "graybmp.h"

static int failures = 0, checks = 0;

#define CHECK(condition)                                                            \
    do {                                                                            \
        ++checks;                                                                   \
        if (!(condition)) {                                                         \
            ++failures;                                                             \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
        }                                                                           \
    } while (0)

/* ---- Callbacks over a buffer ---- */

typedef struct {
    const unsigned char* data;
    unsigned char* out;
    size_t size, capacity, at, most; /* `most`: at most this many bytes a call */
    long failAt;                     /* fail once `at` reaches it (-1: never) */
} Buffer;

static long long readBuffer(void* context, void* into, size_t count) {
    Buffer* b = (Buffer*)context;
    size_t n = count < b->most ? count : b->most;
    if (b->failAt >= 0 && b->at >= (size_t)b->failAt) {
        errno = EIO;
        return -1;
    }
    if (n > b->size - b->at) n = b->size - b->at;
    memcpy(into, b->data + b->at, n);
    b->at += n;
    return (long long)n;
}

static long long writeBuffer(void* context, const void* data, size_t count) {
    Buffer* b = (Buffer*)context;
    const size_t n = count < b->most ? count : b->most;
    if ((b->failAt >= 0 && b->at >= (size_t)b->failAt) || b->at + n > b->capacity) {
        errno = ENOSPC;
        return -1;
    }
    memcpy(b->out + b->at, data, n);
    b->at += n;
    if (b->at > b->size) b->size = b->at;
    return (long long)n;
}

/* ---- Hooks that count ---- */

typedef struct {
    int headers, made, gone, renames;
    char temporary[1024];
} Heard;

static void heardHeader(void* c, const graybmp_header* h) { ((Heard*)c)->headers += h->width == 9; }
static void heardMade(void* c, const char* name) {
    ++((Heard*)c)->made;
    strncpy(((Heard*)c)->temporary, name, sizeof((Heard*)c)->temporary - 1);
}
static void heardGone(void* c, const char* name) {
    ((Heard*)c)->gone += strcmp(name, ((Heard*)c)->temporary) == 0;
}
static void heardRename(void* c) { ++((Heard*)c)->renames; }

static int fileHolds(const char* name, const unsigned char* data, size_t size) {
    unsigned char got[4000];
    size_t n;
    FILE* f = fopen(name, "rb");
    if (f == NULL) return 0;
    n = fread(got, 1, sizeof got, f);
    fclose(f);
    return n == size && memcmp(got, data, size) == 0;
}

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : ".";
    unsigned char image[4000], gray8[4000], gray24[4000], out[4100], buffer[4000], grows[2000];
    char in[1024], outName[1024], missing[1024];
    graybmp_options o, past, unsized, zero, weighted = {sizeof(graybmp_options), GRAYBMP_MEAN, 0, {0, 0, 0}, 0, 0, GRAYBMP_DITHER_NONE, 0, 0, 0, 0, 100, 0, 0, 0, 0, 0, {0}, 0, 0, 0, 0, 0, 0, 0, 0, 0, NULL, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    graybmp_options oneLevel, deep, narrow, ditherAlone, dither256, oddDither, fourLevels;
    graybmp_error e;
    graybmp_header h;
    graybmp_job inPlaceWithOutput;
    graybmp_reader reader = {NULL, readBuffer, NULL, NULL};
    graybmp_writer writer = {NULL, writeBuffer, NULL}, noWrite = {NULL, NULL, NULL};
    uint64_t length = 0;
    size_t written = 0, i;
    const size_t size24 = makeBmp(image, 24, 9, 4, 12345);
    const size_t size8 = makeBmp(gray8, 8, 33, 17, 777);
    const size_t sizeGrows = makeBmp(grows, 8, 5, 3, 99) - 3; /* the last row's padding gone */
    FILE* f;

    sprintf(in, "%s/api-in.bmp", folder);
    sprintf(outName, "%s/api-out.bmp", folder);
    sprintf(missing, "%s/api-missing.bmp", folder);
    f = fopen(in, "wb");
    CHECK(f != NULL && fwrite(image, 1, size24, f) == size24);
    if (f != NULL) fclose(f);
    remove(outName);
    graybmp_options_init(&o);
    graybmp_options_init(&past);
    graybmp_options_init(&zero);
    past.method = (graybmp_method)11;
    zero.method = GRAYBMP_WEIGHTS; /* its weights all 0 */
    unsized = o;
    unsized.size = 0;
    oneLevel = deep = narrow = ditherAlone = dither256 = oddDither = fourLevels = o;
    oneLevel.levels = 1, deep.depth = 3, narrow.levels = 5, narrow.depth = 2;
    ditherAlone.dither = GRAYBMP_DITHER_ORDERED;
    dither256.levels = 256, dither256.dither = GRAYBMP_DITHER_ATKINSON;
    oddDither.levels = 4, oddDither.dither = (graybmp_dither)(GRAYBMP_DITHER_BLUE_NOISE + 1);
    fourLevels.depth = 2; /* 4 levels of 2 bits */
    graybmp_job_init(&inPlaceWithOutput);
    inPlaceWithOutput.input = in, inPlaceWithOutput.output = outName, inPlaceWithOutput.in_place = 1;
    memcpy(buffer, image, size24);

    { /* Each rule a call breaks, and the status it gives. */
        const struct {
            const char* what;
            graybmp_status got, want;
        } rows[] = {
            {"an unknown method", graybmp_options_set_method(&weighted, "Mean", NULL), GRAYBMP_BAD_ARGUMENT},
            {"weights of two numbers", graybmp_options_set_method(&weighted, "weights=1,2", NULL), GRAYBMP_BAD_ARGUMENT},
            {"no options", graybmp_options_set_method(NULL, "mean", NULL), GRAYBMP_BAD_ARGUMENT},
            {"no method name", graybmp_options_set_method(&weighted, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a method past the last", graybmp_output_length(image, size24, &past, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"options without their size", graybmp_output_length(image, size24, &unsized, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"weights all 0", graybmp_output_length(image, size24, &zero, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"one level", graybmp_options_check(&oneLevel, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a depth of 3", graybmp_options_check(&deep, NULL), GRAYBMP_BAD_ARGUMENT},
            {"5 levels in 2 bits", graybmp_output_length(image, size24, &narrow, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"dithering without levels", graybmp_options_check(&ditherAlone, NULL), GRAYBMP_BAD_ARGUMENT},
            {"dithering at 256 levels", graybmp_options_check(&dither256, NULL), GRAYBMP_BAD_ARGUMENT},
            {"an unknown dithering", graybmp_options_check(&oddDither, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a depth alone: its levels", graybmp_options_check(&fourLevels, NULL), GRAYBMP_OK},
            {"levels in place: a copy of another length", graybmp_convert_in_place(buffer, size24, &fourLevels, NULL), GRAYBMP_LENGTH_CHANGES},
            {"no header data", graybmp_read_header(NULL, 60, 60, NULL, &h, NULL), GRAYBMP_BAD_ARGUMENT},
            {"no header record", graybmp_read_header(image, 60, 60, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a header cut short", graybmp_read_header(image, 53, size24, NULL, &h, NULL), GRAYBMP_TOO_SHORT},
            {"no header bytes at all, NULL", graybmp_read_header(NULL, 0, 0, NULL, &h, NULL), GRAYBMP_TOO_SHORT},
            {"no place for the length", graybmp_output_length(image, size24, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a length ahead of a stream's unknown end", graybmp_stream_output_length(image, 60, GRAYBMP_LENGTH_UNKNOWN, NULL, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"no lead", graybmp_stream_output_length(NULL, 60, size24, NULL, &length, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a lead cut short of the header", graybmp_stream_output_length(image, 53, size24, NULL, &length, NULL), GRAYBMP_TOO_SHORT},
            {"rows past the input's whole length", graybmp_stream_output_length(image, 60, size24 - 30, NULL, &length, NULL), GRAYBMP_ROWS_DO_NOT_FIT},
            {"no input", graybmp_convert_memory(NULL, size24, out, sizeof out, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"no output buffer", graybmp_convert_memory(image, size24, NULL, 10, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"an input too short", graybmp_convert_memory(image, 10, out, sizeof out, NULL, NULL, NULL), GRAYBMP_TOO_SHORT},
            {"rows the input lacks", graybmp_convert_memory(image, size24 - 30, out, sizeof out, NULL, NULL, NULL), GRAYBMP_ROWS_DO_NOT_FIT},
            {"no buffer in place", graybmp_convert_in_place(NULL, size24, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"in place, refused", graybmp_convert_in_place(buffer, size24 - 30, NULL, NULL), GRAYBMP_ROWS_DO_NOT_FIT},
            {"in place, a copy that grows", graybmp_convert_in_place(grows, sizeGrows, NULL, NULL), GRAYBMP_LENGTH_CHANGES},
            {"no reader", graybmp_convert_stream(NULL, NULL, 0, &writer, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"a writer without write", graybmp_convert_stream(&reader, NULL, 0, &noWrite, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"no job", graybmp_convert(NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"in place with an output", graybmp_convert(&inPlaceWithOutput, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"no input file", graybmp_convert_file(NULL, outName, NULL, NULL, NULL), GRAYBMP_BAD_ARGUMENT},
            {"an input not there", graybmp_convert_file(missing, outName, NULL, NULL, NULL), GRAYBMP_OPEN_FAILED},
            {"an output that is the input", graybmp_convert_file(in, in, NULL, NULL, NULL), GRAYBMP_OUTPUT_IS_INPUT},
            {"an output that is a folder", graybmp_convert_file(in, folder, NULL, NULL, NULL), GRAYBMP_CREATE_FAILED},
        };
        for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
            ++checks;
            if (rows[i].got != rows[i].want) {
                ++failures;
                fprintf(stderr, "api_test: %s: %s, not %s\n", rows[i].what,
                        graybmp_status_name(rows[i].got), graybmp_status_name(rows[i].want));
            }
        }
        /* refused in place: the buffers are as they were; refused files: no output */
        CHECK(memcmp(buffer, image, size24) == 0);
        CHECK(fileHolds(in, image, size24) && !fileHolds(outName, image, 0));
    }

    /* What the error record says: the words, the OS's errno, the side. */
    CHECK(graybmp_options_set_method(&o, "Mean", &e) == GRAYBMP_BAD_ARGUMENT && o.method == GRAYBMP_MEAN);
    CHECK(strcmp(e.message, "unknown gray method 'Mean' (mean, bt601, bt709, luminance, max, "
                            "lightness, rms, red, green, blue or weights=R,G,B)") == 0);
    CHECK(graybmp_convert_memory(image, size24 - 30, out, sizeof out, NULL, NULL, &e) != GRAYBMP_OK);
    CHECK(e.side == GRAYBMP_SIDE_INPUT && strcmp(e.message, "4 rows of 9 pixels need 165 bytes; the file has 136") == 0);
    CHECK(graybmp_convert_file(missing, outName, NULL, NULL, &e) == GRAYBMP_OPEN_FAILED);
    CHECK(e.os_error == ENOENT && e.side == GRAYBMP_SIDE_INPUT && strncmp(e.message, "cannot open: ", 13) == 0);
    CHECK(graybmp_convert_file(in, folder, NULL, NULL, &e) == GRAYBMP_CREATE_FAILED && e.side == GRAYBMP_SIDE_OUTPUT);

    /* Weights in millionths; the names in the enumeration's order. */
    CHECK(graybmp_options_set_method(&o, graybmp_method_name(GRAYBMP_RMS), NULL) == GRAYBMP_OK && o.method == GRAYBMP_RMS);
    CHECK(strcmp(graybmp_method_name(10), "weights=R,G,B") == 0 && graybmp_method_name(11) == NULL);
    CHECK(graybmp_options_set_method(&o, "weights=1000000,0,0.000001", NULL) == GRAYBMP_OK);
    CHECK(o.method == GRAYBMP_WEIGHTS && o.weights[0] == 1000000000000ull && o.weights[1] == 0 && o.weights[2] == 1);
    /* a caller that knows only the first fields: the rest are the defaults */
    graybmp_options_init(&o);
    o.size = offsetof(graybmp_options, weights), o.compact = 1;
    CHECK(graybmp_output_length(image, size24, &o, &length, NULL) == GRAYBMP_OK && length == 1078 + 12 * 4);

    /* The header: the report's values, the kind, a refusal kept in the record. */
    CHECK(graybmp_read_header(image, 60, 60, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(h.is_bmp && h.width == 9 && h.height == 4 && h.bit_count == 24 && h.kind == GRAYBMP_KIND_NONE);
    CHECK(h.refusal.status == GRAYBMP_ROWS_DO_NOT_FIT);
    CHECK(graybmp_read_header(image, 60, GRAYBMP_LENGTH_UNKNOWN, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(h.refusal.status == GRAYBMP_OK && h.kind == GRAYBMP_KIND_TRUE_COLOUR);

    /* Short buffers: nothing written, the length needed told; nothing past the copy. */
    memset(out, 0xA5, sizeof out);
    CHECK(graybmp_convert_memory(image, size24, out, size24 - 1, NULL, &written, &e) == GRAYBMP_BUFFER_TOO_SHORT);
    for (i = 0; i < sizeof out && out[i] == 0xA5; ++i) {
    }
    CHECK(e.needed == size24 && i == sizeof out);
    CHECK(graybmp_convert_memory(image, size24, out, sizeof out, NULL, &written, NULL) == GRAYBMP_OK);
    CHECK(written == size24 && out[size24] == 0xA5);
    memcpy(gray24, out, size24);
    memcpy(buffer, image, size24);
    CHECK(graybmp_convert_in_place(buffer, size24, NULL, NULL) == GRAYBMP_OK && memcmp(buffer, out, size24) == 0);
    CHECK(graybmp_convert_in_place(grows, sizeGrows, NULL, &e) == GRAYBMP_LENGTH_CHANGES && e.needed == sizeGrows + 3);

    { /* Callbacks: a lead taken already, and failures of each side (pieces and offsets on
       * every kind are the library table's). */
        unsigned char expected[4000];
        const struct {
            size_t most, lead, cut;
            long readFail, writeFail;
            graybmp_status want;
            int os_error;
        } rows[] = {
            {7, 100, 0, -1, -1, GRAYBMP_OK, 0},
            {1000, 0, 0, 1500, -1, GRAYBMP_READ_FAILED, EIO},
            {7, 0, 0, -1, 10, GRAYBMP_WRITE_FAILED, ENOSPC},
            {1000, 0, 200, -1, -1, GRAYBMP_INPUT_SHRANK, 0},
        };
        CHECK(graybmp_convert_memory(gray8, size8, expected, sizeof expected, NULL, &written, NULL) == GRAYBMP_OK);
        for (i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
            Buffer source = {NULL, NULL, 0, 0, 0, 0, -1}, sink = {NULL, NULL, 0, 0, 0, 0, -1};
            source.data = gray8 + rows[i].lead, source.size = size8 - rows[i].lead - rows[i].cut;
            source.most = rows[i].most, source.failAt = rows[i].readFail;
            sink.out = out, sink.capacity = sizeof out, sink.most = rows[i].most + 1;
            sink.failAt = rows[i].writeFail;
            reader.context = &source, writer.context = &sink;
            CHECK(graybmp_convert_stream(&reader, gray8, rows[i].lead, &writer, NULL, NULL, &e) == rows[i].want);
            CHECK(rows[i].want != GRAYBMP_OK || (sink.size == written && memcmp(out, expected, written) == 0));
            CHECK(rows[i].want == GRAYBMP_OK || e.os_error == rows[i].os_error || rows[i].os_error == 0);
        }
    }

    { /* Files: the hooks heard once each; the general job in place. */
        Heard heard;
        graybmp_hooks hooks;
        graybmp_job job;
        memset(&heard, 0, sizeof heard);
        memset(&hooks, 0, sizeof hooks);
        hooks.size = sizeof hooks, hooks.context = &heard, hooks.header = heardHeader;
        hooks.temporary_made = heardMade, hooks.temporary_gone = heardGone, hooks.before_rename = heardRename;
        CHECK(graybmp_convert_file(in, outName, NULL, &hooks, &e) == GRAYBMP_OK);
        CHECK(fileHolds(outName, gray24, size24) && fileHolds(in, image, size24));
        CHECK(heard.headers == 1 && heard.made == 1 && heard.gone == 1 && heard.renames == 1);
        CHECK(strstr(heard.temporary, "/.api-out.bmp.") != NULL);
        graybmp_job_init(&job);
        job.input = in, job.in_place = 1;
        CHECK(graybmp_convert(&job, NULL, &e) == GRAYBMP_OK && job.written == size24 && fileHolds(in, gray24, size24));
        remove(in);
        remove(outName);
    }

    { /* A gray copy's name cut to the capacity, with the whole length told (the naming
       * rule itself is the tool's output table's). */
        char name[8];
        CHECK(graybmp_gray_name("photo.bmp", name, sizeof name - 1) == 12 && strcmp(name, "photoN") == 0);
        CHECK(graybmp_gray_name("photo.bmp", NULL, 0) == 12);
    }

    { /* Every status's fixed name, which callers may store and compare, and a text of its
       * own; every other value "unknown". The version and the processor's target. */
        const struct {
            graybmp_status status;
            const char* name;
        } names[] = {
            {GRAYBMP_OK, "ok"},
            {GRAYBMP_TOO_SHORT, "too-short"},
            {GRAYBMP_NOT_BITMAP, "not-bitmap"},
            {GRAYBMP_BAD_INFO_HEADER_SIZE, "bad-info-header-size"},
            {GRAYBMP_TRUNCATED_INFO_HEADER, "truncated-info-header"},
            {GRAYBMP_BAD_BIT_COUNT, "bad-bit-count"},
            {GRAYBMP_COMPRESSION_MISMATCH, "compression-mismatch"},
            {GRAYBMP_EMBEDDED_IMAGE, "embedded-image"},
            {GRAYBMP_UNKNOWN_COMPRESSION, "unknown-compression"},
            {GRAYBMP_MASK_MISSING, "mask-missing"},
            {GRAYBMP_MASK_NOT_CONTIGUOUS, "mask-not-contiguous"},
            {GRAYBMP_MASKS_OVERLAP, "masks-overlap"},
            {GRAYBMP_MASK_OUTSIDE_PIXEL, "mask-outside-pixel"},
            {GRAYBMP_NEGATIVE_WIDTH, "negative-width"},
            {GRAYBMP_PIXELS_INSIDE_HEADERS, "pixels-inside-headers"},
            {GRAYBMP_ROWS_DO_NOT_FIT, "rows-do-not-fit"},
            {GRAYBMP_RUNS_OUTSIDE_FILE, "runs-outside-file"},
            {GRAYBMP_ARRAY_ENTRY_NOT_BITMAP, "array-entry-not-bitmap"},
            {GRAYBMP_ARRAY_LEAVES_FILE, "array-leaves-file"},
            {GRAYBMP_ARRAY_LOOPS, "array-loops"},
            {GRAYBMP_ARRAY_OVERLAPS, "array-overlaps"},
            {GRAYBMP_ARRAY_BEHIND_PIPE, "array-behind-pipe"},
            {GRAYBMP_TRANSLUCENT, "translucent"},
            {GRAYBMP_COMPACT_KIND, "compact-kind"},
            {GRAYBMP_LEVELS_KIND, "levels-kind"},
            {GRAYBMP_PICTURE_CORRUPT, "picture-corrupt"},
            {GRAYBMP_PICTURE_UNSUPPORTED, "picture-unsupported"},
            {GRAYBMP_PICTURE_TOO_LARGE, "picture-too-large"},
            {GRAYBMP_OPEN_FAILED, "open-failed"},
            {GRAYBMP_READ_FAILED, "read-failed"},
            {GRAYBMP_INPUT_SHRANK, "input-shrank"},
            {GRAYBMP_INPUT_IS_DIRECTORY, "input-is-directory"},
            {GRAYBMP_INPUT_NOT_REGULAR, "input-not-regular"},
            {GRAYBMP_INPUT_IS_TERMINAL, "input-is-terminal"},
            {GRAYBMP_CREATE_FAILED, "create-failed"},
            {GRAYBMP_WRITE_FAILED, "write-failed"},
            {GRAYBMP_REPLACE_FAILED, "replace-failed"},
            {GRAYBMP_OUTPUT_IS_INPUT, "output-is-input"},
            {GRAYBMP_OUTPUT_NOT_REGULAR, "output-not-regular"},
            {GRAYBMP_BUFFER_TOO_SHORT, "buffer-too-short"},
            {GRAYBMP_LENGTH_CHANGES, "length-changes"},
            {GRAYBMP_BAD_ARGUMENT, "bad-argument"},
            {GRAYBMP_NO_MEMORY, "no-memory"},
        };
        int s, named = 0;
        size_t k;
        for (k = 0; k < sizeof names / sizeof names[0]; ++k) {
            CHECK(strcmp(graybmp_status_name(names[k].status), names[k].name) == 0);
            CHECK(strcmp(graybmp_status_text(names[k].status), "unknown") != 0);
        }
        for (s = 0; s < 100; ++s) named += strcmp(graybmp_status_name((graybmp_status)s), "unknown") != 0;
        CHECK(named == 43 && k == 43);
        CHECK(strcmp(graybmp_status_name((graybmp_status)-1), "unknown") == 0);
        CHECK(strcmp(graybmp_version(), GRAYBMP_VERSION_STRING) == 0 && GRAYBMP_VERSION_NUMBER == 10300);
        CHECK(graybmp_cpu_known(graybmp_cpu()) && !graybmp_cpu_known("pentium") && !graybmp_cpu_known(NULL));
        /* Every target's name is known, the running one among them; the older names too. */
        for (s = 0, named = 0; graybmp_cpu_name((size_t)s) != NULL; ++s) {
            CHECK(graybmp_cpu_known(graybmp_cpu_name((size_t)s)));
            named += strcmp(graybmp_cpu_name((size_t)s), graybmp_cpu()) == 0;
        }
        CHECK(s == 10 && named == 1 && strcmp(graybmp_cpu_name(0), "scalar") == 0);
        CHECK(graybmp_cpu_known("baseline") && graybmp_cpu_known("avx512") && !graybmp_cpu_known("AVX2"));
    }

    printf("api_test: %d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
