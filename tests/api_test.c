/* The library's API as a C program sees it: every function's statuses and error records,
 * the buffers it may and may not touch, and the callbacks. Plain C99, no test framework,
 * so that the cross builds run it too.
 *   api_test [FOLDER]   (files are made in FOLDER, default the current one) */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bmp_maker.h"
#include "graybmp.h"

static int failures = 0, checks = 0;

#define CHECK(condition)                                                        \
    do {                                                                        \
        ++checks;                                                               \
        if (!(condition)) {                                                     \
            ++failures;                                                         \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #condition); \
        }                                                                       \
    } while (0)

static void put16(unsigned char* p, unsigned v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

/* An uncompressed image whose 8-bit palette has its reserved bytes 0, as a writer makes it. */
static size_t makeImage(unsigned char* out, int bits, int width, int height) {
    const size_t size = makeBmp(out, bits, width, height, 12345);
    size_t i;
    if (bits == 8)
        for (i = 0; i < 256; ++i) out[54 + 4 * i + 3] = 0;
    return size;
}

/* ---- Callbacks over a buffer ---- */

typedef struct {
    const unsigned char* data;
    unsigned char* out;
    size_t size, capacity, at, most; /* `most`: at most this many bytes a call */
    int failAt;                      /* fail when `at` reaches it (-1: never) */
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
    size_t n = count < b->most ? count : b->most;
    if (b->failAt >= 0 && b->at >= (size_t)b->failAt) {
        errno = ENOSPC;
        return -1;
    }
    if (b->at + n > b->capacity) return -1;
    memcpy(b->out + b->at, data, n);
    b->at += n;
    if (b->at > b->size) b->size = b->at;
    return (long long)n;
}

static int seekBuffer(void* context, uint64_t offset) {
    Buffer* b = (Buffer*)context;
    if (offset > b->capacity && b->out != NULL) return -1;
    if (b->out != NULL && offset > b->size) memset(b->out + b->size, 0, (size_t)offset - b->size);
    b->at = (size_t)offset;
    return 0;
}

static long long lengthOfBuffer(void* context) { return (long long)((Buffer*)context)->size; }

static Buffer bufferOf(const unsigned char* data, size_t size, unsigned char* out, size_t capacity) {
    Buffer b;
    b.data = data, b.out = out, b.size = out != NULL ? 0 : size, b.capacity = capacity;
    b.at = 0, b.most = (size_t)-1, b.failAt = -1;
    return b;
}

/* ---- The tests ---- */

static void statusNames(void) {
    static const struct {
        graybmp_status status;
        const char* name;
    } names[] = {{GRAYBMP_OK, "ok"},
                 {GRAYBMP_TOO_SHORT, "too-short"},
                 {GRAYBMP_ROWS_DO_NOT_FIT, "rows-do-not-fit"},
                 {GRAYBMP_ARRAY_BEHIND_PIPE, "array-behind-pipe"},
                 {GRAYBMP_TRANSLUCENT, "translucent"},
                 {GRAYBMP_OUTPUT_IS_INPUT, "output-is-input"},
                 {GRAYBMP_BUFFER_TOO_SHORT, "buffer-too-short"},
                 {GRAYBMP_NO_MEMORY, "no-memory"}};
    size_t i;
    int s, named = 0;
    for (i = 0; i < sizeof names / sizeof names[0]; ++i)
        CHECK(strcmp(graybmp_status_name(names[i].status), names[i].name) == 0);
    /* every status has a name and a text of its own */
    for (s = 0; s < 100; ++s) {
        const char* name = graybmp_status_name((graybmp_status)s);
        int t;
        if (strcmp(name, "unknown") == 0) continue;
        ++named;
        CHECK(strcmp(graybmp_status_text((graybmp_status)s), "unknown") != 0);
        for (t = 0; t < s; ++t) CHECK(strcmp(name, graybmp_status_name((graybmp_status)t)) != 0);
    }
    CHECK(named == 39);
    CHECK(strcmp(graybmp_status_name((graybmp_status)-1), "unknown") == 0);
    CHECK(strcmp(graybmp_version(), GRAYBMP_VERSION_STRING) == 0);
    CHECK(graybmp_cpu_known(graybmp_cpu()) && graybmp_cpu_known("baseline"));
    CHECK(!graybmp_cpu_known("pentium") && !graybmp_cpu_known(NULL) && !graybmp_cpu_known(""));
    CHECK(GRAYBMP_VERSION_NUMBER == GRAYBMP_VERSION_MAJOR * 10000 + GRAYBMP_VERSION_MINOR * 100 +
                                        GRAYBMP_VERSION_PATCH);
}

static void options(void) {
    graybmp_options o;
    graybmp_error e;
    unsigned char image[200];
    uint64_t length = 0;
    const size_t size = makeImage(image, 24, 3, 2);
    size_t i;
    graybmp_options_init(&o);
    CHECK(o.size == sizeof o && o.method == GRAYBMP_MEAN && o.compact == 0);
    for (i = 0; graybmp_method_name(i + 1) != NULL; ++i) { /* the last takes its weights */
        CHECK(graybmp_options_set_method(&o, graybmp_method_name(i), &e) == GRAYBMP_OK);
        CHECK(e.status == GRAYBMP_OK && o.method == (graybmp_method)i);
    }
    CHECK(i == 10 && strcmp(graybmp_method_name(10), "weights=R,G,B") == 0);
    CHECK(graybmp_options_set_method(&o, "Mean", &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(o.method == GRAYBMP_BLUE); /* unchanged */
    CHECK(strcmp(e.message, "unknown gray method 'Mean' (mean, bt601, bt709, luminance, max, "
                            "lightness, rms, red, green, blue or weights=R,G,B)") == 0);
    /* weights in millionths; a refused set leaves the options as they were */
    CHECK(graybmp_options_set_method(&o, "weights=0.299,0.587,0.114", &e) == GRAYBMP_OK);
    CHECK(o.method == GRAYBMP_WEIGHTS && o.weights[0] == 299000 && o.weights[1] == 587000 &&
          o.weights[2] == 114000);
    CHECK(graybmp_options_set_method(&o, "weights=1000000,0,0.000001", &e) == GRAYBMP_OK);
    CHECK(o.weights[0] == 1000000000000ull && o.weights[1] == 0 && o.weights[2] == 1);
    CHECK(graybmp_options_set_method(&o, "weights=1,2", &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(o.weights[0] == 1000000000000ull && strstr(e.message, "has 2 numbers") != NULL);
    /* weights set by hand: all 0, or over 10^12 millionths, are refused */
    o.weights[0] = o.weights[1] = o.weights[2] = 0;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_BAD_ARGUMENT);
    o.weights[1] = 1000000000001ull;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_options_set_method(NULL, "mean", &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_options_set_method(&o, NULL, NULL) == GRAYBMP_BAD_ARGUMENT);
    /* a method past the last, and options whose size was never set */
    o.method = (graybmp_method)11;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_BAD_ARGUMENT);
    o.method = (graybmp_method)-1;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_BAD_ARGUMENT);
    o.size = 0;
    o.method = GRAYBMP_MEAN;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_BAD_ARGUMENT);
    /* a caller that knows only the first fields: the rest are the defaults */
    o.size = offsetof(graybmp_options, weights);
    o.compact = 1;
    CHECK(graybmp_output_length(image, size, &o, &length, &e) == GRAYBMP_OK);
    CHECK(length == 1078 + 4 * 2);
}

static void header(void) {
    unsigned char image[2000];
    graybmp_header h;
    graybmp_error e;
    graybmp_options compact;
    size_t size = makeImage(image, 8, 5, 3);
    CHECK(graybmp_read_header(image, 53, size, NULL, &h, &e) == GRAYBMP_TOO_SHORT);
    CHECK(e.status == GRAYBMP_TOO_SHORT && e.side == GRAYBMP_SIDE_INPUT);
    CHECK(graybmp_read_header(image, size, size, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(h.is_bmp && h.size == (int64_t)size && h.width == 5 && h.height == 3 && h.bit_count == 8);
    CHECK(h.kind == GRAYBMP_KIND_INDEXED8 && h.refusal.status == GRAYBMP_OK);
    /* refused, but the report's values are there */
    CHECK(graybmp_read_header(image, 100, 100, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(h.kind == GRAYBMP_KIND_NONE && h.refusal.status == GRAYBMP_ROWS_DO_NOT_FIT);
    CHECK(strstr(h.refusal.message, "3 rows of 5 pixels need") != NULL);
    /* a pipe's length is not known yet: the rows are not held against it */
    CHECK(graybmp_read_header(image, 100, GRAYBMP_LENGTH_UNKNOWN, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(h.refusal.status == GRAYBMP_OK);
    image[0] = 'X';
    CHECK(graybmp_read_header(image, size, size, NULL, &h, &e) == GRAYBMP_OK);
    CHECK(!h.is_bmp && h.refusal.status == GRAYBMP_NOT_BITMAP);
    size = makeImage(image, 24, 2, 2);
    graybmp_options_init(&compact);
    compact.compact = 1;
    CHECK(graybmp_read_header(image, size, size, &compact, &h, &e) == GRAYBMP_OK);
    CHECK(h.kind == GRAYBMP_KIND_TRUE_COLOUR);
    put16(image + 28, 64); /* 64-bit pixels have no compact form */
    CHECK(graybmp_read_header(image, size, size, &compact, &h, &e) == GRAYBMP_OK);
    CHECK(h.refusal.status == GRAYBMP_COMPACT_KIND || h.refusal.status == GRAYBMP_ROWS_DO_NOT_FIT);
    CHECK(graybmp_read_header(NULL, size, size, NULL, &h, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_read_header(image, size, size, NULL, NULL, NULL) == GRAYBMP_BAD_ARGUMENT);
}

static void memory(void) {
    unsigned char image[2000], out[2100], again[2100];
    graybmp_error e;
    uint64_t length = 0;
    size_t written = 0, i;
    const size_t size = makeImage(image, 24, 7, 5);
    CHECK(graybmp_output_length(image, size, NULL, &length, &e) == GRAYBMP_OK && length == size);
    /* one byte short: refused, error->needed told, nothing written at all */
    memset(out, 0xA5, sizeof out);
    CHECK(graybmp_convert_memory(image, size, out, size - 1, NULL, &written, &e) ==
          GRAYBMP_BUFFER_TOO_SHORT);
    CHECK(e.needed == size && e.side == GRAYBMP_SIDE_NONE);
    for (i = 0; i < sizeof out && out[i] == 0xA5; ++i) {
    }
    CHECK(i == sizeof out);
    /* a larger buffer: nothing written past the copy's length */
    CHECK(graybmp_convert_memory(image, size, out, sizeof out, NULL, &written, &e) == GRAYBMP_OK);
    CHECK(written == size && out[size] == 0xA5 && memcmp(out, image, 54) == 0);
    for (i = 54; i + 3 <= size; i += 3) {
        if ((i - 54) % 24 >= 21) continue; /* each 21-byte row has 3 bytes of padding */
        CHECK(out[i] == (image[i] + image[i + 1] + image[i + 2]) / 3);
        CHECK(out[i] == out[i + 1] && out[i] == out[i + 2]);
    }
    /* in place gives the same bytes */
    memcpy(again, image, size);
    CHECK(graybmp_convert_in_place(again, size, NULL, &e) == GRAYBMP_OK);
    CHECK(memcmp(again, out, size) == 0);
    /* refused: the status, the side, the words; the buffer in place untouched */
    memcpy(again, image, size);
    CHECK(graybmp_convert_in_place(again, size - 30, NULL, &e) == GRAYBMP_ROWS_DO_NOT_FIT);
    CHECK(e.side == GRAYBMP_SIDE_INPUT && memcmp(again, image, size) == 0);
    CHECK(strstr(e.message, "5 rows of 7 pixels need 171 bytes; the file has 144") != NULL);
    CHECK(graybmp_convert_memory(image, 10, out, sizeof out, NULL, NULL, &e) == GRAYBMP_TOO_SHORT);
    CHECK(graybmp_convert_memory(NULL, size, out, sizeof out, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_convert_memory(image, size, NULL, 10, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_output_length(image, size, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_convert_in_place(NULL, size, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
}

static void inPlaceThatWouldGrow(void) {
    /* An 8-bit image whose rows' padding the file leaves out grows by it: no room in place. */
    unsigned char image[2000], before[2000];
    graybmp_error e;
    uint64_t length = 0;
    const size_t size = makeImage(image, 8, 5, 3) - 3;
    memcpy(before, image, size);
    CHECK(graybmp_output_length(image, size, NULL, &length, &e) == GRAYBMP_OK);
    CHECK(length == size + 3);
    CHECK(graybmp_convert_in_place(image, size, NULL, &e) == GRAYBMP_LENGTH_CHANGES);
    CHECK(e.needed == size + 3 && memcmp(image, before, size) == 0);
}

static void streams(void) {
    unsigned char image[4000], expected[4000], out[4100];
    graybmp_reader reader = {NULL, readBuffer, NULL, NULL};
    graybmp_writer writer = {NULL, writeBuffer, NULL};
    graybmp_error e;
    size_t written = 0;
    int round;
    const size_t size = makeImage(image, 8, 33, 17);
    CHECK(graybmp_convert_memory(image, size, expected, sizeof expected, NULL, &written, &e) ==
          GRAYBMP_OK);
    /* in order, then in pieces of one and seven bytes, then positioned: the same bytes */
    for (round = 0; round < 4; ++round) {
        Buffer in = bufferOf(image, size, NULL, 0), sink = bufferOf(NULL, 0, out, sizeof out);
        in.most = round == 1 ? 1 : round == 2 ? 7 : (size_t)-1;
        sink.most = in.most;
        reader.context = &in, writer.context = &sink;
        reader.seek = round == 3 ? seekBuffer : NULL;
        reader.length = round == 3 ? lengthOfBuffer : NULL;
        writer.seek = round == 3 ? seekBuffer : NULL;
        CHECK(graybmp_convert_stream(&reader, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_OK);
        CHECK(sink.size == written && memcmp(out, expected, written) == 0);
    }
    {   /* the lead: bytes the caller took from the reader already */
        Buffer in = bufferOf(image + 100, size - 100, NULL, 0), sink = bufferOf(NULL, 0, out, sizeof out);
        reader.context = &in, writer.context = &sink;
        reader.seek = NULL, reader.length = NULL, writer.seek = NULL;
        CHECK(graybmp_convert_stream(&reader, image, 100, &writer, NULL, NULL, &e) == GRAYBMP_OK);
        CHECK(sink.size == written && memcmp(out, expected, written) == 0);
    }
    {   /* a failing reader, a failing writer, an input that ends early */
        Buffer in = bufferOf(image, size, NULL, 0), sink = bufferOf(NULL, 0, out, sizeof out);
        reader.context = &in, writer.context = &sink;
        in.failAt = 1500;
        CHECK(graybmp_convert_stream(&reader, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_READ_FAILED);
        CHECK(e.os_error == EIO && e.side == GRAYBMP_SIDE_INPUT);
        in = bufferOf(image, size, NULL, 0), sink = bufferOf(NULL, 0, out, sizeof out);
        sink.failAt = 10, sink.most = 7;
        CHECK(graybmp_convert_stream(&reader, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_WRITE_FAILED);
        CHECK(e.os_error == ENOSPC && e.side == GRAYBMP_SIDE_OUTPUT);
        in = bufferOf(image, size - 200, NULL, 0), sink = bufferOf(NULL, 0, out, sizeof out);
        CHECK(graybmp_convert_stream(&reader, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_INPUT_SHRANK);
        CHECK(strstr(e.message, "ended early, after") != NULL);
    }
    writer.write = NULL;
    CHECK(graybmp_convert_stream(&reader, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_convert_stream(NULL, NULL, 0, &writer, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
}

typedef struct {
    int headers, made, gone, renames;
    char temporary[1024];
} Heard;

static void heardHeader(void* c, const graybmp_header* h) { ((Heard*)c)->headers += h->width == 9; }
static void heardMade(void* c, const char* name) {
    Heard* heard = (Heard*)c;
    ++heard->made;
    strncpy(heard->temporary, name, sizeof heard->temporary - 1);
}
static void heardGone(void* c, const char* name) {
    Heard* heard = (Heard*)c;
    heard->gone += strcmp(name, heard->temporary) == 0;
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

static void files(const char* folder) {
    unsigned char image[4000], expected[4000];
    char in[1024], out[1024], missing[1024];
    graybmp_error e;
    graybmp_hooks hooks;
    Heard heard;
    graybmp_job job;
    size_t written = 0;
    const size_t size = makeImage(image, 24, 9, 4);
    FILE* f;
    sprintf(in, "%s/api-in.bmp", folder);
    sprintf(out, "%s/api-out.bmp", folder);
    sprintf(missing, "%s/api-missing.bmp", folder);
    f = fopen(in, "wb");
    CHECK(f != NULL && fwrite(image, 1, size, f) == size);
    if (f != NULL) fclose(f);
    remove(out);
    CHECK(graybmp_convert_memory(image, size, expected, sizeof expected, NULL, &written, &e) ==
          GRAYBMP_OK);

    memset(&heard, 0, sizeof heard);
    memset(&hooks, 0, sizeof hooks);
    hooks.size = sizeof hooks, hooks.context = &heard, hooks.header = heardHeader;
    hooks.temporary_made = heardMade, hooks.temporary_gone = heardGone;
    hooks.before_rename = heardRename;
    CHECK(graybmp_convert_file(in, out, NULL, &hooks, &e) == GRAYBMP_OK);
    CHECK(fileHolds(out, expected, written) && fileHolds(in, image, size));
    CHECK(heard.headers == 1 && heard.made == 1 && heard.gone == 1 && heard.renames == 1);
    CHECK(strstr(heard.temporary, "/.api-out.bmp.") != NULL);

    /* refused: the earlier output kept, the temporary gone */
    CHECK(graybmp_convert_file(in, in, NULL, NULL, &e) == GRAYBMP_OUTPUT_IS_INPUT);
    CHECK(strstr(e.message, "is this very file") != NULL && fileHolds(in, image, size));
    CHECK(graybmp_convert_file(missing, out, NULL, NULL, &e) == GRAYBMP_OPEN_FAILED);
    CHECK(e.os_error == ENOENT && e.side == GRAYBMP_SIDE_INPUT);
    CHECK(strncmp(e.message, "cannot open: ", 13) == 0);
    CHECK(graybmp_convert_file(in, folder, NULL, NULL, &e) == GRAYBMP_CREATE_FAILED ||
          e.status == GRAYBMP_OUTPUT_NOT_REGULAR);
    CHECK(e.side == GRAYBMP_SIDE_OUTPUT && fileHolds(out, expected, written));

    /* the general job: in place, and a name to a writer */
    graybmp_job_init(&job);
    job.input = in;
    job.in_place = 1;
    CHECK(graybmp_convert(&job, NULL, &e) == GRAYBMP_OK && job.written == size);
    CHECK(fileHolds(in, expected, written));
    job.output = out; /* in place takes no output */
    CHECK(graybmp_convert(&job, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_convert(NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    CHECK(graybmp_convert_file(NULL, out, NULL, NULL, &e) == GRAYBMP_BAD_ARGUMENT);
    remove(in);
    remove(out);
}

static void names(void) {
    static const struct {
        const char *input, *name;
    } cases[] = {{"photo.bmp", "photoNEW.bmp"}, {"scan.BMP", "scanNEW.BMP"},
                 {"dir/x.y.bmp", "dir/x.yNEW.bmp"}, {"noext", "noextNEW"},
                 {".bmp", ".bmpNEW"}, {"..bmp", ".NEW.bmp"}, {"a.b/c", "a.b/cNEW"},
                 {"dir/.x", "dir/.xNEW"}, {"", "NEW"}};
    char name[64];
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        CHECK(graybmp_gray_name(cases[i].input, name, sizeof name) == strlen(cases[i].name));
        CHECK(strcmp(name, cases[i].name) == 0);
    }
    /* cut to the capacity, NUL included, with the whole length told */
    CHECK(graybmp_gray_name("photo.bmp", name, 7) == 12 && strcmp(name, "photoN") == 0);
    CHECK(graybmp_gray_name("photo.bmp", NULL, 0) == 12);
}

int main(int argc, char** argv) {
    const char* folder = argc > 1 ? argv[1] : ".";
    statusNames();
    options();
    header();
    memory();
    inPlaceThatWouldGrow();
    streams();
    files(folder);
    names();
    printf("api_test: %d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
