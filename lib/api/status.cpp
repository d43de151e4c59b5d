// Status names and texts.
#include "graybmp.h"

namespace graybmp {
namespace {

struct StatusWords {
    graybmp_status status;
    const char* name;
    const char* text;
};

const StatusWords kStatuses[] = {
    {GRAYBMP_OK, "ok", "converted"},
    {GRAYBMP_TOO_SHORT, "too-short", "too short for a bitmap header"},
    {GRAYBMP_NOT_BITMAP, "not-bitmap", "not a BMP file"},
    {GRAYBMP_BAD_INFO_HEADER_SIZE, "bad-info-header-size", "unsupported info header size"},
    {GRAYBMP_TRUNCATED_INFO_HEADER, "truncated-info-header", "the file ends inside its info header"},
    {GRAYBMP_BAD_BIT_COUNT, "bad-bit-count", "unsupported bits per pixel"},
    {GRAYBMP_COMPRESSION_MISMATCH, "compression-mismatch", "a compression that does not fit the bits per pixel"},
    {GRAYBMP_EMBEDDED_IMAGE, "embedded-image", "a JPEG or PNG image inside a BMP file"},
    {GRAYBMP_UNKNOWN_COMPRESSION, "unknown-compression", "unsupported compression"},
    {GRAYBMP_MASK_MISSING, "mask-missing", "a bit-field mask is zero"},
    {GRAYBMP_MASK_NOT_CONTIGUOUS, "mask-not-contiguous", "a bit-field mask has gaps"},
    {GRAYBMP_MASKS_OVERLAP, "masks-overlap", "two bit-field masks share bits"},
    {GRAYBMP_MASK_OUTSIDE_PIXEL, "mask-outside-pixel", "a bit-field mask reaches past the pixel"},
    {GRAYBMP_NEGATIVE_WIDTH, "negative-width", "negative width"},
    {GRAYBMP_PIXELS_INSIDE_HEADERS, "pixels-inside-headers", "the pixels lie inside the headers"},
    {GRAYBMP_ROWS_DO_NOT_FIT, "rows-do-not-fit", "the file is too short for its rows"},
    {GRAYBMP_RUNS_OUTSIDE_FILE, "runs-outside-file", "the compressed pixels lie outside the file"},
    {GRAYBMP_ARRAY_ENTRY_NOT_BITMAP, "array-entry-not-bitmap", "a bitmap array entry that is not a bitmap"},
    {GRAYBMP_ARRAY_LEAVES_FILE, "array-leaves-file", "a bitmap array's chain leaves the file"},
    {GRAYBMP_ARRAY_LOOPS, "array-loops", "a bitmap array's chain loops"},
    {GRAYBMP_ARRAY_OVERLAPS, "array-overlaps", "a bitmap array entry's pixels overlap its headers"},
    {GRAYBMP_ARRAY_BEHIND_PIPE, "array-behind-pipe", "a bitmap array's chain goes back in a pipe"},
    {GRAYBMP_TRANSLUCENT, "translucent", "pixels that are not opaque would lose their alpha"},
    {GRAYBMP_COMPACT_KIND, "compact-kind", "the compact form takes 16-, 24- and 32-bit images only"},
    {GRAYBMP_LEVELS_KIND, "levels-kind", "levels are made from palettized and 16- to 32-bit images only"},
    {GRAYBMP_PICTURE_CORRUPT, "picture-corrupt", "a picture its decoder cannot take"},
    {GRAYBMP_PICTURE_UNSUPPORTED, "picture-unsupported", "a picture of a kind graybmp does not take"},
    {GRAYBMP_PICTURE_TOO_LARGE, "picture-too-large", "a picture too large to convert"},
    {GRAYBMP_OPEN_FAILED, "open-failed", "the input cannot be opened"},
    {GRAYBMP_READ_FAILED, "read-failed", "the input cannot be read"},
    {GRAYBMP_INPUT_SHRANK, "input-shrank", "the input ended early"},
    {GRAYBMP_INPUT_IS_DIRECTORY, "input-is-directory", "the input is a folder"},
    {GRAYBMP_INPUT_NOT_REGULAR, "input-not-regular", "the input is not a regular file"},
    {GRAYBMP_INPUT_IS_TERMINAL, "input-is-terminal", "the input is a terminal"},
    {GRAYBMP_CREATE_FAILED, "create-failed", "the output cannot be created"},
    {GRAYBMP_WRITE_FAILED, "write-failed", "the output cannot be written"},
    {GRAYBMP_REPLACE_FAILED, "replace-failed", "the output cannot be replaced"},
    {GRAYBMP_OUTPUT_IS_INPUT, "output-is-input", "the output is the input itself"},
    {GRAYBMP_OUTPUT_NOT_REGULAR, "output-not-regular", "the output is not a regular file"},
    {GRAYBMP_BUFFER_TOO_SHORT, "buffer-too-short", "the output buffer is too short"},
    {GRAYBMP_LENGTH_CHANGES, "length-changes", "the gray copy is not as long as the input"},
    {GRAYBMP_BAD_ARGUMENT, "bad-argument", "a bad argument"},
    {GRAYBMP_NO_MEMORY, "no-memory", "out of memory"},
};

const StatusWords* wordsOf(graybmp_status status) {
    for (const StatusWords& w : kStatuses)
        if (w.status == status) return &w;
    return nullptr;
}

}  // namespace

}  // namespace graybmp

extern "C" {

const char* graybmp_status_name(graybmp_status status) {
    const graybmp::StatusWords* w = graybmp::wordsOf(status);
    return w != nullptr ? w->name : "unknown";
}

const char* graybmp_status_text(graybmp_status status) {
    const graybmp::StatusWords* w = graybmp::wordsOf(status);
    return w != nullptr ? w->text : "unknown";
}

}  // extern "C"
