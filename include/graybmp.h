/* graybmp: the gray copy of a BMP image, changing nothing in it but its colours.
 *
 * Every header byte is kept, the file keeps its own encoding (depth, compression, masks,
 * padding), and only the colours change: each palette entry, colour-table entry and
 * true-colour pixel becomes its gray by the chosen method. Accepted: 1-, 2-, 4- and 8-bit
 * palettes (uncompressed, RLE8, RLE4, OS/2 Huffman 1D), 16-, 24-, 32- and 64-bit true
 * colour (BI_RGB, BI_BITFIELDS, BI_ALPHABITFIELDS), OS/2 RLE24, OS/2 bitmap arrays, with
 * Windows, OS/2 1.x and OS/2 2.x headers. The output is as long as the input, except for
 * uncompressed 8-bit images with a 40-byte or longer header (whose 1024-byte palette block
 * and padded rows may reach past the input) and the compact form.
 *
 * Conventions of every function here:
 *   - It returns a graybmp_status: GRAYBMP_OK, or the reason it did nothing useful.
 *   - `error`, when not NULL, is filled on every failure (and set to GRAYBMP_OK on
 *     success): the status, the OS's errno where the OS failed, the side that failed and
 *     a message in words with the values that broke the rule. Messages speak of what the
 *     options ask for (the levels, the compact form), never of a program's flags.
 *   - NULL for a required pointer is GRAYBMP_BAD_ARGUMENT (an input of length 0 may be
 *     NULL: it is too short). NULL options mean the
 *     defaults (the mean, no compact form).
 *   - Nothing prints, exits or aborts; no C++ exception leaves the library.
 *   - No mutable global state: any number of threads may convert at once, each with its
 *     own buffers, streams and error records. Lookup tables are built once, safely.
 *   - Memory passed in stays the caller's; the library keeps no pointer after a call.
 *
 * Link with -lgraybmp (pkg-config graybmp, or CMake's graybmp::graybmp). A program that
 * links the static library defines GRAYBMP_STATIC before including this header (the .pc
 * file and graybmp::graybmp_static do it).
 */
#ifndef GRAYBMP_H
#define GRAYBMP_H

#include <stddef.h>
#include <stdint.h>

#define GRAYBMP_VERSION_MAJOR 1
#define GRAYBMP_VERSION_MINOR 3
#define GRAYBMP_VERSION_PATCH 0
#define GRAYBMP_VERSION_STRING "1.3.0"
/* 10000 * major + 100 * minor + patch: 10300 for 1.3.0 */
#define GRAYBMP_VERSION_NUMBER \
    (GRAYBMP_VERSION_MAJOR * 10000 + GRAYBMP_VERSION_MINOR * 100 + GRAYBMP_VERSION_PATCH)

#if defined(GRAYBMP_STATIC)
#define GRAYBMP_API
#elif defined(_WIN32)
#if defined(GRAYBMP_BUILDING)
#define GRAYBMP_API __declspec(dllexport)
#else
#define GRAYBMP_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define GRAYBMP_API __attribute__((visibility("default")))
#else
#define GRAYBMP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Status codes ---- */

typedef enum graybmp_status {
    GRAYBMP_OK = 0,

    /* The input is refused: it is not a BMP graybmp converts, or breaks the format's rules. */
    GRAYBMP_TOO_SHORT = 1,          /* fewer bytes than the headers' fields */
    GRAYBMP_NOT_BITMAP = 2,         /* it does not start with "BM" (or "BA") */
    GRAYBMP_BAD_INFO_HEADER_SIZE = 3,
    GRAYBMP_TRUNCATED_INFO_HEADER = 4,
    GRAYBMP_BAD_BIT_COUNT = 5,
    GRAYBMP_COMPRESSION_MISMATCH = 6,
    GRAYBMP_EMBEDDED_IMAGE = 7,     /* BI_JPEG or BI_PNG */
    GRAYBMP_UNKNOWN_COMPRESSION = 8,
    GRAYBMP_MASK_MISSING = 9,
    GRAYBMP_MASK_NOT_CONTIGUOUS = 10,
    GRAYBMP_MASKS_OVERLAP = 11,
    GRAYBMP_MASK_OUTSIDE_PIXEL = 12,
    GRAYBMP_NEGATIVE_WIDTH = 13,
    GRAYBMP_PIXELS_INSIDE_HEADERS = 14,
    GRAYBMP_ROWS_DO_NOT_FIT = 15,
    GRAYBMP_RUNS_OUTSIDE_FILE = 16,
    GRAYBMP_ARRAY_ENTRY_NOT_BITMAP = 17,
    GRAYBMP_ARRAY_LEAVES_FILE = 18,
    GRAYBMP_ARRAY_LOOPS = 19,
    GRAYBMP_ARRAY_OVERLAPS = 20,
    GRAYBMP_ARRAY_BEHIND_PIPE = 21,
    GRAYBMP_TRANSLUCENT = 22,       /* compact or levels: a pixel is not opaque */
    GRAYBMP_COMPACT_KIND = 23,      /* compact of a 64-bit, RLE24 or bitmap-array image */
    GRAYBMP_LEVELS_KIND = 24,       /* levels of a kind they do not take (OS/2 Huffman,
                                       RLE24, bitmap arrays, 64-bit, top-down RLE) */
    /* Since 1.4.0: pictures of other formats. */
    GRAYBMP_PICTURE_CORRUPT = 25,     /* its decoder cannot take it: the message says why */
    GRAYBMP_PICTURE_UNSUPPORTED = 26, /* CMYK or YCCK JPEG, a PAM tuple type it does not
                                         know, or a format this build does not decode */
    GRAYBMP_PICTURE_TOO_LARGE = 27,   /* more than 65535 a side or options.max_pixels */

    /* The input could not be had. */
    GRAYBMP_OPEN_FAILED = 40,       /* os_error says why */
    GRAYBMP_READ_FAILED = 41,       /* os_error says why */
    GRAYBMP_INPUT_SHRANK = 42,      /* it ended before what its header promised */
    GRAYBMP_INPUT_IS_DIRECTORY = 43,
    GRAYBMP_INPUT_NOT_REGULAR = 44, /* not a regular file (or pipe, where pipes are read) */
    GRAYBMP_INPUT_IS_TERMINAL = 45,

    /* The output could not be written. */
    GRAYBMP_CREATE_FAILED = 60,     /* os_error says why */
    GRAYBMP_WRITE_FAILED = 61,      /* os_error says why */
    GRAYBMP_REPLACE_FAILED = 62,    /* the finished copy could not be moved into place */
    GRAYBMP_OUTPUT_IS_INPUT = 63,   /* the output names the input itself (not in place) */
    GRAYBMP_OUTPUT_NOT_REGULAR = 64,/* the output is a device or a pipe */

    /* The call itself. */
    GRAYBMP_BUFFER_TOO_SHORT = 80,  /* the output buffer: error->needed says how long */
    GRAYBMP_LENGTH_CHANGES = 81,    /* in place, but the gray copy is not as long */
    GRAYBMP_BAD_ARGUMENT = 82,      /* a NULL pointer, an unknown method, bad options */
    GRAYBMP_NO_MEMORY = 83
} graybmp_status;

typedef enum graybmp_side {
    GRAYBMP_SIDE_NONE = 0,
    GRAYBMP_SIDE_INPUT = 1,
    GRAYBMP_SIDE_OUTPUT = 2
} graybmp_side;

#define GRAYBMP_MESSAGE_SIZE 512

/* Filled by every function that takes one. `message` is NUL-terminated, without the
 * file's name (the tool prints "graybmp: <file>: <message>", the file being the input or
 * the output as `side` says). */
typedef struct graybmp_error {
    graybmp_status status;
    int os_error;       /* errno where the OS failed, else 0 */
    graybmp_side side;  /* which side failed; GRAYBMP_SIDE_NONE for the call itself */
    uint64_t needed;    /* GRAYBMP_BUFFER_TOO_SHORT: the output length needed;
                           GRAYBMP_TOO_SHORT of a picture: the leading bytes its header
                           needs (one more than given where that is not known yet) */
    char message[GRAYBMP_MESSAGE_SIZE];
} graybmp_error;

/* The fixed name of a status ("ok", "rows-do-not-fit", "output-is-input", ...) and a short
 * text for it; "unknown" for a value that is none. Static strings. */
GRAYBMP_API const char* graybmp_status_name(graybmp_status status);
GRAYBMP_API const char* graybmp_status_text(graybmp_status status);

/* ---- Options ---- */

/* How a colour's gray is worked out from its red r, green g and blue b (0 to 255; other
 * channel widths are widened to 8 bits and the gray stored back at their own). */
typedef enum graybmp_method {
    GRAYBMP_MEAN = 0,       /* floor((r + g + b) / 3), the default */
    GRAYBMP_BT601 = 1,      /* (299 r + 587 g + 114 b + 500) div 1000 */
    GRAYBMP_BT709 = 2,      /* (2126 r + 7152 g + 722 b + 5000) div 10000 */
    GRAYBMP_LUMINANCE = 3,  /* linear-light Y of the sRGB-decoded channels, encoded back */
    GRAYBMP_MAX = 4,        /* max(r, g, b) */
    GRAYBMP_LIGHTNESS = 5,  /* (max(r, g, b) + min(r, g, b) + 1) div 2 */
    GRAYBMP_RMS = 6,        /* the nearest integer to sqrt((r^2 + g^2 + b^2) / 3) */
    GRAYBMP_RED = 7,        /* r */
    GRAYBMP_GREEN = 8,      /* g */
    GRAYBMP_BLUE = 9,       /* b */
    GRAYBMP_WEIGHTS = 10    /* (Wr r + Wg g + Wb b + S div 2) div S, S = Wr + Wg + Wb, the
                               weights in options.weights */
} graybmp_method;

/* How to convert. Grows at its end only: `size` tells the library how much of it the
 * caller knows, so that a program built against an older header keeps working. Set it up
 * with graybmp_options_init, then change the fields. */
/* How levels are dithered (see levels below). */
typedef enum graybmp_dither {
    GRAYBMP_DITHER_NONE = 0,
    GRAYBMP_DITHER_FLOYD_STEINBERG = 1,
    GRAYBMP_DITHER_ATKINSON = 2,
    GRAYBMP_DITHER_ORDERED = 3,     /* the 8 x 8 Bayer matrix ("bayer8" names it too) */
    /* Since 1.4.0: error-diffusion kernels by their published weights, and Bayer matrices
     * of other sizes. */
    GRAYBMP_DITHER_JARVIS = 4,      /* Jarvis, Judice and Ninke, /48 */
    GRAYBMP_DITHER_STUCKI = 5,      /* /42 */
    GRAYBMP_DITHER_BURKES = 6,      /* /32 */
    GRAYBMP_DITHER_SIERRA = 7,      /* three rows, /32 */
    GRAYBMP_DITHER_SIERRA2 = 8,     /* two rows, /16 */
    GRAYBMP_DITHER_SIERRA_LITE = 9, /* /4 */
    GRAYBMP_DITHER_BAYER2 = 10,
    GRAYBMP_DITHER_BAYER4 = 11,
    GRAYBMP_DITHER_BAYER16 = 12,
    /* Since 1.4.0: ordered by an 8 x 8 clustered-dot matrix (two dots, a 45-degree screen)
     * and by a 64 x 64 blue-noise matrix (void and cluster). */
    GRAYBMP_DITHER_HALFTONE = 13,
    GRAYBMP_DITHER_BLUE_NOISE = 14
} graybmp_dither;

/* Since 1.4.0: what the levels are written as (see graybmp_options.format). */
typedef enum graybmp_format {
    GRAYBMP_FORMAT_BMP = 0, /* the BMP of levels */
    GRAYBMP_FORMAT_RAW = 1, /* the indices packed as the BMP packs them, rows from the top, no header */
    GRAYBMP_FORMAT_C = 2,   /* a C header of the raw bytes */
    GRAYBMP_FORMAT_XBM = 3, /* an X bitmap: 2 levels, least significant bit first, 1 black */
    GRAYBMP_FORMAT_PBM = 4, /* netpbm P4: 2 levels, 1 black */
    GRAYBMP_FORMAT_PGM = 5  /* netpbm P5, maxval 255: each pixel its level's gray */
} graybmp_format;

typedef enum graybmp_bit_order {
    GRAYBMP_BIT_ORDER_DEFAULT = 0, /* msb, but with pages the top pixel in the lowest bit */
    GRAYBMP_BIT_ORDER_MSB = 1,     /* the first pixel in a byte's high bits (pages: the top in bit 7) */
    GRAYBMP_BIT_ORDER_LSB = 2      /* in its low bits: at 2 and 4 bits the pixels of a byte reversed */
} graybmp_bit_order;

typedef enum graybmp_packing {
    GRAYBMP_PACKING_ROWS = 0,   /* rows of pixels */
    GRAYBMP_PACKING_PAGES = 1,  /* 1 bit: each byte 8 pixels of a column, pages of 8 rows from the top */
    GRAYBMP_PACKING_PLANES = 2  /* 2 and 4 bits: each bit of the index a 1-bit picture, the highest first */
} graybmp_packing;

typedef enum graybmp_fit {
    GRAYBMP_FIT_CONTAIN = 0, /* inside the size, its aspect kept, centred and padded */
    GRAYBMP_FIT_COVER = 1,   /* over the whole size, its aspect kept, centred and cropped */
    GRAYBMP_FIT_STRETCH = 2  /* to exactly the size */
} graybmp_fit;

typedef enum graybmp_filter {
    GRAYBMP_FILTER_LANCZOS3 = 0,
    GRAYBMP_FILTER_MITCHELL = 1, /* B = C = 1/3 */
    GRAYBMP_FILTER_BOX = 2,      /* each input pixel weighed by its overlap */
    GRAYBMP_FILTER_NEAREST = 3   /* one input pixel, for line art and 1-bit text */
} graybmp_filter;

#define GRAYBMP_ROTATE_AUTO (-1)

typedef enum graybmp_rows {
    GRAYBMP_ROWS_AS_INPUT = 0, /* a BMP input's order, a picture's top-down; raw and c top-down */
    GRAYBMP_ROWS_TOP_DOWN = 1,
    GRAYBMP_ROWS_BOTTOM_UP = 2
} graybmp_rows;

typedef struct graybmp_options {
    size_t size;            /* sizeof(graybmp_options), as graybmp_options_init sets it */
    graybmp_method method;
    int compact;            /* true colour written as an 8-bit gray BMP */
    uint64_t weights[3];    /* GRAYBMP_WEIGHTS: red, green and blue in millionths (a weight
                               of 0.299 is 299000), each at most 10^12, not all 0 */
    /* Since 1.3.0. Levels: 0, the input's own encoding; N from 2 to 256, an uncompressed
     * gray BMP of N levels instead, from palettized images (uncompressed, RLE8, RLE4) and
     * 16-, 24- and 32-bit ones (others are GRAYBMP_LEVELS_KIND; a pixel not opaque is
     * GRAYBMP_TRANSLUCENT). Level k is (510 k + N - 1) div (2 (N - 1)), palette entry k
     * (L, L, L, 0); each pixel the index of the level nearest its gray, packed most
     * significant bits first; headers of 14 and 40 bytes, the width, the height with its
     * sign, the resolution copied when the input has it. The README states the dithering
     * exactly; the bytes are the same on every processor. */
    int levels;
    int depth;              /* bits a pixel, 1, 2, 4 or 8, at least log2 of the levels; 0:
                               the least of 1, 4, 8 that holds them. Without levels, a depth
                               D means 2^D levels */
    graybmp_dither dither;  /* only below 256 levels */
    /* Since 1.4.0. Pictures (PNG, JPEG, WebP, GIF, netpbm) are taken as 8-bit sRGB; a pixel
     * whose alpha is not full is GRAYBMP_TRANSLUCENT unless a background is given, on which
     * each channel c of alpha a is composited as (c a + b (255 - a) + 127) div 255. The
     * background applies as well to translucent BMPs converted to levels or compact and to
     * the pixels of graybmp_from_pixels. */
    int background_given;   /* whether `background` is used */
    uint32_t background;    /* 0xRRGGBB */
    uint64_t max_pixels;    /* a picture's limit (GRAYBMP_PICTURE_TOO_LARGE), at most 2^29; 0: 2^28 */
    /* Since 1.4.0, for the error-diffusion ditherings: */
    int serpentine;         /* every second row (in the order processed) right to left */
    int strength;           /* the percent of each error diffused, 0 to 100 (e P / 100,
                               rounded toward zero); graybmp_options_init sets 100 */
    /* Since 1.4.0, the tone before quantizing (levels or compact only), in this order: */
    int input_range_given;  /* g' = clamp(((g - B) 510 + (W - B)) div (2 (W - B)), 0, 255) */
    int input_black, input_white;  /* B < W, 0 to 255 */
    int negate;             /* g' = 255 - g */
    /* Since 1.4.0, the grays the panel shows: quantizing and diffusion aim at grays[k]
     * (the nearest, ties to the lighter) while the palette and the indices stay the
     * levels'; grays_count is the number of levels, the grays increasing. 0: the levels'. */
    int grays_count;
    uint8_t grays[256];
    /* Since 1.4.0: two levels, undithered, index 1 where g >= threshold (0 to 255). */
    int threshold_given;
    int threshold;
    /* Since 1.4.0, more of the tone, after the input range and before the negation:
     * normalize stretches the picture's own range (B the least g with count(<= g) 200 >=
     * pixels, W the greatest with count(>= g) 200 >= pixels, unchanged when B >= W) as the
     * input range does: the input is read twice, or its grays held (one byte a pixel) when
     * it cannot seek. gamma G (in thousandths, 100 to 10000; 0: none): g' = 255 (g / 255)^(1 / G)
     * to nearest, halves up, decided exactly, so that G > 1 lightens. */
    int normalize;
    int gamma;
    /* Since 1.4.0: quantized and dithered in linear light: v, the levels and the error in
     * 16-bit decoded sRGB values (the README gives the table). */
    int linear;
    /* Since 1.4.0, the bytes a panel takes: the levels (without levels, 256 of 8 bits, or 2
     * for xbm and pbm) written as `format`, a graybmp_format. For raw and c: `bit_order`
     * (graybmp_bit_order), `packing` (graybmp_packing), `row_align` (1, 2 or 4 bytes a row,
     * padded with zero bits; 0: 1); for c and xbm, `name`, the array's (bytes outside [A-Za-z0-9_]
     * made '_', a leading digit prefixed with '_'; NULL: the output file's name without its
     * extension, or "image"). `full_palette` (bmp): 2^depth palette entries, those past the
     * levels black. `rows` (bmp, raw, c), a graybmp_rows: the rows are written in that order,
     * dithered in the input's. `index_order` (bmp, raw, c): 1, white first: index k is level
     * N - 1 - k, a BMP's palette reversed with it. The README states each byte. */
    int format;
    int bit_order;
    int packing;
    int row_align;
    const char* name;
    int full_palette;
    int rows;
    int index_order;
    /* Since 1.4.0, fit to the panel (levels only; without levels, 256): the picture turned
     * upright by its Exif orientation (unless no_auto_orient), then turned `rotate` degrees
     * clockwise (0, 90, 180, 270, or GRAYBMP_ROTATE_AUTO: 90 when the picture and the size
     * are one landscape and the other portrait), then scaled to fit_width x fit_height by
     * `fit` (a graybmp_fit) with `filter` (a graybmp_filter) in linear light. A side of 0
     * is the picture's aspect's; both 0, no scaling. A contained picture is padded with
     * the background's gray (white when none is given). The README states every weight. */
    uint32_t fit_width;
    uint32_t fit_height;
    int fit;
    int filter;
    int rotate;
    int no_auto_orient;
} graybmp_options;

GRAYBMP_API void graybmp_options_init(graybmp_options* options);

/* Whether the options can be used: GRAYBMP_OK, or GRAYBMP_BAD_ARGUMENT with what is wrong
 * (an unknown method or dithering, weights all 0, levels outside 2 to 256, a depth other
 * than 1, 2, 4 or 8 or too small for the levels, dithering without levels or at 256).
 * Since 1.3.0. */
GRAYBMP_API graybmp_status graybmp_options_check(const graybmp_options* options,
                                                 graybmp_error* error);

/* The name of the index-th dithering ("none", "floyd-steinberg", "atkinson", "ordered",
 * "jarvis", "stucki", "burkes", "sierra", "sierra2", "sierra-lite", "bayer2", "bayer4",
 * "bayer16", in graybmp_dither's order), NULL past the last. Since 1.3.0. */
GRAYBMP_API const char* graybmp_dither_name(size_t index);

/* Sets the dithering by its name (one of graybmp_dither_name's, or "bayer8", another name
 * of "ordered"). Anything else: GRAYBMP_BAD_ARGUMENT with a message that lists them, and
 * `options` unchanged. Since 1.4.0. */
GRAYBMP_API graybmp_status graybmp_options_set_dither(graybmp_options* options, const char* name,
                                                      graybmp_error* error);

/* Sets the method by its name ("mean", "bt601", "bt709", "luminance", "max", "lightness",
 * "rms", "red", "green", "blue"), or "weights=R,G,B" with the weights: each digits,
 * optionally a point and 1 to 6 more digits, at most 1000000, not all three 0. Anything
 * else: GRAYBMP_BAD_ARGUMENT, with a message that says what is wrong (for an unknown name,
 * one that lists them all), and `options` unchanged. */
GRAYBMP_API graybmp_status graybmp_options_set_method(graybmp_options* options, const char* name,
                                                      graybmp_error* error);

/* The name of the index-th method (0 first, in graybmp_method's order), NULL past the
 * last: every method by name, the last "weights=R,G,B". */
GRAYBMP_API const char* graybmp_method_name(size_t index);

/* Since 1.4.0: the names of the fits and filters, by their enum value; NULL past the last. */
GRAYBMP_API const char* graybmp_fit_name(size_t index);
GRAYBMP_API const char* graybmp_filter_name(size_t index);

/* ---- The header ---- */

typedef enum graybmp_kind {
    GRAYBMP_KIND_NONE = 0,         /* refused */
    GRAYBMP_KIND_INDEXED8 = 1,     /* uncompressed 8 bits, 40-byte or longer header */
    GRAYBMP_KIND_PALETTIZED = 2,   /* every other palettized image */
    GRAYBMP_KIND_TRUE_COLOUR = 3,  /* 16, 24, 32 or 64 bits */
    GRAYBMP_KIND_RLE24 = 4,        /* OS/2 24-bit runs */
    GRAYBMP_KIND_ARRAY = 5,        /* an OS/2 bitmap array */
    /* Since 1.4.0: pictures of other formats, converted as a 32-bit top-down BMP of their
     * pixels would be (to 256 grays, or the levels). Set even when refused. */
    GRAYBMP_KIND_PNG = 6,
    GRAYBMP_KIND_JPEG = 7,
    GRAYBMP_KIND_WEBP = 8,
    GRAYBMP_KIND_GIF = 9,
    GRAYBMP_KIND_NETPBM = 10
} graybmp_kind;

/* The picture kind (GRAYBMP_KIND_PNG to GRAYBMP_KIND_NETPBM) of an input that starts with
 * `length` bytes at `lead`, by its signature alone (12 bytes tell every format apart), or
 * GRAYBMP_KIND_NONE for anything else (a BMP among it). Since 1.4.0. */
GRAYBMP_API graybmp_kind graybmp_picture_kind(const void* lead, size_t length);

/* The input's length when it is not known yet (a pipe that has not ended). */
#define GRAYBMP_LENGTH_UNKNOWN UINT64_MAX

/* What the header report shows, and what a conversion would do. A bitmap array is
 * described by its first bitmap, as if the file began at its file header. */
typedef struct graybmp_header {
    int is_bmp;         /* the signature is "BM": the report's "Type: BMP file" line */
    int64_t size;       /* bfSize, signed */
    int64_t width;      /* biWidth, signed; an OS/2 1.x header's unsigned 16 bits */
    int64_t height;     /* biHeight, likewise */
    int64_t bit_count;  /* biBitCount, likewise */
    graybmp_kind kind;  /* GRAYBMP_KIND_NONE when refused */
    graybmp_error refusal; /* why a conversion with these options would refuse it, or
                              GRAYBMP_OK; the later entries of a bitmap array are not
                              looked at (they are checked as the copy reaches them) */
} graybmp_header;

/* The number of leading bytes graybmp_read_header needs for a BMP's report fields (fewer
 * than 160): at most GRAYBMP_HEADER_BYTES, often fewer. A picture of another format may
 * need more (a JPEG's size follows its Exif and profile): GRAYBMP_TOO_SHORT, with
 * error->needed, says how many. */
#define GRAYBMP_HEADER_BYTES 152

/* Reads the header from the first `length` bytes of an input whose whole length is
 * `input_length` (GRAYBMP_LENGTH_UNKNOWN when not known). Give it the first
 * GRAYBMP_HEADER_BYTES bytes (or the whole input, if shorter) for a full check.
 * GRAYBMP_OK when the report's fields are there, the refusal, if any, in `header`;
 * GRAYBMP_TOO_SHORT (also in `error`) when they are not. */
GRAYBMP_API graybmp_status graybmp_read_header(const void* data, size_t length,
                                               uint64_t input_length,
                                               const graybmp_options* options,
                                               graybmp_header* header, graybmp_error* error);

/* ---- Memory to memory ---- */

/* The exact length of the gray copy of `input` (`length` bytes), in `output_length`.
 * The refusal when the input would be refused (compact of a kind it does not take too). */
GRAYBMP_API graybmp_status graybmp_output_length(const void* input, size_t length,
                                                 const graybmp_options* options,
                                                 uint64_t* output_length, graybmp_error* error);

/* The same length from the input's first bytes alone, as graybmp_read_header takes them
 * (the first GRAYBMP_HEADER_BYTES, or the whole input if shorter), and its whole length
 * `input_length`: for a copy through callbacks whose output is laid out before it runs.
 * GRAYBMP_BAD_ARGUMENT when the whole length is GRAYBMP_LENGTH_UNKNOWN (since 1.3.0). */
GRAYBMP_API graybmp_status graybmp_stream_output_length(const void* lead, size_t lead_length,
                                                        uint64_t input_length,
                                                        const graybmp_options* options,
                                                        uint64_t* output_length,
                                                        graybmp_error* error);

/* Writes the gray copy of `input` into `output`, `capacity` bytes long; `written` (may be
 * NULL) receives its length. A capacity below graybmp_output_length's answer is
 * GRAYBMP_BUFFER_TOO_SHORT, with error->needed set and nothing written; nothing is ever
 * written past output + capacity. The buffers must not overlap (graybmp_convert_in_place
 * grays one where it lies). After any failure the output's contents are unspecified. */
GRAYBMP_API graybmp_status graybmp_convert_memory(const void* input, size_t length, void* output,
                                                  size_t capacity, const graybmp_options* options,
                                                  size_t* written, graybmp_error* error);

/* Grays `buffer` where it lies. Allowed exactly when the gray copy is as long as the input
 * (graybmp_output_length decides: uncompressed 8-bit images may grow, compact output
 * changes length); else GRAYBMP_LENGTH_CHANGES. Every check (bitmap-array chains and
 * translucency included) is made before the first byte changes: on any failure the
 * buffer is as it was. */
GRAYBMP_API graybmp_status graybmp_convert_in_place(void* buffer, size_t length,
                                                    const graybmp_options* options,
                                                    graybmp_error* error);

/* ---- Streams ---- */

/* An input the library reads through callbacks: a socket, a pipe, a decompressor.
 * `read` returns the bytes it put in `buffer` (1 to count), 0 at the end of the input,
 * or -1 on failure with errno set. Without `seek` and `length` the input is read once,
 * in order, in chunks of up to 256 KiB (what a pipe allows); with both, it is read at
 * offsets: `seek` moves to `offset` bytes from the input's start and returns 0, or -1
 * with errno set; `length` returns the input's length, or -1 when it is not known (the
 * input is then read in order). */
typedef struct graybmp_reader {
    void* context;
    long long (*read)(void* context, void* buffer, size_t count);
    int (*seek)(void* context, uint64_t offset);  /* optional */
    long long (*length)(void* context);           /* optional */
} graybmp_reader;

/* An output through callbacks. `write` takes `count` bytes and returns how many it took
 * (1 to count), or -1 with errno set. Without `seek` every byte is written once, in order
 * (a pipe). With it, writes go to offsets: `seek` moves to `offset` from the output's
 * start (past its end, where the bytes in between must read as zeros, as in a file) and
 * returns 0, or -1 with errno set. */
typedef struct graybmp_writer {
    void* context;
    long long (*write)(void* context, const void* data, size_t count);
    int (*seek)(void* context, uint64_t offset);  /* optional */
} graybmp_writer;

/* Optional calls back into the program during a conversion; any may be NULL. */
typedef struct graybmp_hooks {
    size_t size;    /* sizeof(graybmp_hooks) */
    void* context;
    /* The header, as soon as its bytes have been read: before the rest of a pipe arrives,
     * and before the check (so also for an input that is then refused). */
    void (*header)(void* context, const graybmp_header* header);
    /* A temporary output file was made (name as given to the OS)... */
    void (*temporary_made)(void* context, const char* name);
    /* ...and is gone again: renamed over the output, or removed. */
    void (*temporary_gone)(void* context, const char* name);
    /* The temporary is complete and closed, just before it replaces the output. */
    void (*before_rename)(void* context);
} graybmp_hooks;

/* Converts a reader's input into a writer, in constant memory (one 256 KiB chunk and a
 * window of a few KiB). `lead` (may be NULL) holds the first `lead_length` bytes of the
 * input, already taken from a reader without seek (it delivers the bytes after them),
 * so that a program can look at the header first; with seek, the lead is not used. On a
 * failure the bytes already written cannot be taken back: the writer must look at the
 * status. GRAYBMP_WRITE_FAILED when the writer fails, GRAYBMP_READ_FAILED when the reader
 * does, GRAYBMP_INPUT_SHRANK when the input ends early. */
GRAYBMP_API graybmp_status graybmp_convert_stream(const graybmp_reader* reader, const void* lead,
                                                  size_t lead_length,
                                                  const graybmp_writer* writer,
                                                  const graybmp_options* options,
                                                  const graybmp_hooks* hooks,
                                                  graybmp_error* error);

/* ---- Gray pixels in and out (since 1.3.0) ---- */

/* The gray pixels of an image the levels take (see graybmp_options.levels), as `height`
 * rows of `width` bytes, the top row first, at `stride` bytes from one row to the next:
 * each pixel's gray by the method, or with options->levels (and depth, dither) the gray of
 * its level L_k, or with GRAYBMP_PIXELS_INDICES its level's index k (levels 256 when not
 * given: the gray itself). They are the pixels of the gray BMP the same options write
 * (at 8 bits a pixel). `pixels` takes stride (height - 1) + width bytes; a shorter
 * `capacity` is GRAYBMP_BUFFER_TOO_SHORT with that length in error->needed, a stride below
 * the width GRAYBMP_BAD_ARGUMENT. `width` and `height` (may be NULL) get the picture's
 * size. The same refusals as the levels'. */
#define GRAYBMP_PIXELS_INDICES 1
GRAYBMP_API graybmp_status graybmp_pixels(const void* input, size_t length,
                                          const graybmp_options* options, int flags,
                                          void* pixels, size_t stride, size_t capacity,
                                          uint32_t* width, uint32_t* height,
                                          graybmp_error* error);

/* Since 1.4.0: the size of the pixels graybmp_pixels makes of `input` with these options
 * (the picture's, or after its fit and turn), with the same refusals, before any pixel
 * is decoded. */
GRAYBMP_API graybmp_status graybmp_pixels_size(const void* input, size_t length,
                                               const graybmp_options* options, uint32_t* width,
                                               uint32_t* height, graybmp_error* error);

/* The same through a reader, for images larger than memory: each row goes to `row` as soon
 * as it is made, in the order the file stores them, with its picture row number (0 = top).
 * `row` returns 0 to go on; anything else stops the conversion (GRAYBMP_WRITE_FAILED). */
typedef int (*graybmp_row_callback)(void* context, uint32_t row, const unsigned char* pixels,
                                    uint32_t width);
GRAYBMP_API graybmp_status graybmp_pixels_stream(const graybmp_reader* reader, const void* lead,
                                                 size_t lead_length,
                                                 const graybmp_options* options, int flags,
                                                 graybmp_row_callback row, void* context,
                                                 graybmp_error* error);

/* How pixels in memory are laid out: 8 bits a channel, in this order. */
typedef enum graybmp_layout {
    GRAYBMP_LAYOUT_GRAY = 0,
    GRAYBMP_LAYOUT_RGB = 1,
    GRAYBMP_LAYOUT_BGR = 2,
    GRAYBMP_LAYOUT_RGBA = 3,
    GRAYBMP_LAYOUT_BGRA = 4
} graybmp_layout;

/* A gray BMP of pixels in memory: `height` rows of `width` pixels, the top row first, at
 * `stride` bytes from one row to the next. The output is exactly the tool's with
 * --levels (options->levels, 256 when not given; depth and dither as set) for a BMP
 * holding the same pixels: a 108-byte V4 header, 32 bits, BI_BITFIELDS, masks red
 * 00FF0000, green 0000FF00, blue 000000FF, alpha FF000000 (gray pixels as (v, v, v) and
 * three channels with alpha FF), resolution 0, top-down, or bottom-up with
 * GRAYBMP_PIXELS_BOTTOM_UP (then its rows, and the dithering, run from the bottom). A
 * pixel whose alpha is below full is GRAYBMP_TRANSLUCENT. graybmp_from_pixels_length
 * gives the output's length; a shorter `capacity` is GRAYBMP_BUFFER_TOO_SHORT. */
#define GRAYBMP_PIXELS_BOTTOM_UP 2
GRAYBMP_API graybmp_status graybmp_from_pixels_length(uint32_t width, uint32_t height,
                                                      const graybmp_options* options,
                                                      uint64_t* length, graybmp_error* error);
GRAYBMP_API graybmp_status graybmp_from_pixels(const void* pixels, uint32_t width,
                                               uint32_t height, size_t stride,
                                               graybmp_layout layout, int flags,
                                               const graybmp_options* options, void* output,
                                               size_t capacity, size_t* written,
                                               graybmp_error* error);

/* ---- Files ---- */

/* Converts the file `input` into the file `output`; `output` NULL grays `input` in place.
 * The gray copy is written under a temporary name in the output's folder (".NAME.XXXXXX")
 * and renamed over the output only when complete, so that readers never see a partial
 * file and an earlier output survives every failure; no temporary is left behind. A new
 * output has mode 0666 less the umask (applied by the OS); a replaced one keeps its mode
 * (and owner, where allowed), and symbolic links to it stay links: the file they lead to
 * is replaced. An output that is the input itself (by identity: links included) is
 * GRAYBMP_OUTPUT_IS_INPUT, nothing written; one that is a device or a pipe is
 * GRAYBMP_OUTPUT_NOT_REGULAR; one that is a folder cannot be created in its place:
 * GRAYBMP_CREATE_FAILED, with the OS's errno (EISDIR). A named pipe as input is read in order. Names are UTF-8
 * (wide names underneath on Windows). */
GRAYBMP_API graybmp_status graybmp_convert_file(const char* input, const char* output,
                                                const graybmp_options* options,
                                                const graybmp_hooks* hooks,
                                                graybmp_error* error);

/* The most general conversion, of which the two above are shorthands: each side a name or
 * callbacks. Set it up with graybmp_job_init. */
typedef struct graybmp_job {
    size_t size;                   /* sizeof(graybmp_job) */
    const char* input;             /* a file's name, or NULL: `reader` */
    const graybmp_reader* reader;
    const void* lead;              /* with `reader`: bytes already read from it */
    size_t lead_length;
    const char* output;            /* a file's name, or NULL: `writer` (or in place) */
    const graybmp_writer* writer;
    int in_place;                  /* `input` is replaced by its gray copy */
    int refuse_pipes;              /* a named input that is a pipe is refused, not read */
    int output_checked;            /* the caller made sure the output is not the input */
    const graybmp_hooks* hooks;    /* may be NULL */
    uint64_t written;              /* out: the gray copy's length, on success */
} graybmp_job;

GRAYBMP_API void graybmp_job_init(graybmp_job* job);
GRAYBMP_API graybmp_status graybmp_convert(graybmp_job* job, const graybmp_options* options,
                                           graybmp_error* error);

/* ---- Names and version ---- */

/* The name of a gray copy beside its input: the input with "NEW" before its extension.
 * photo.bmp -> photoNEW.bmp, dir/x.y.bmp -> dir/x.yNEW.bmp, noext -> noextNEW; a leading
 * dot starts no extension (.bmp -> .bmpNEW, dir/.x -> dir/.xNEW); on Windows '\' separates
 * folders too. Writes at most `capacity` bytes, NUL included, into `name` (may be NULL
 * when `capacity` is 0) and returns the full name's length without its NUL, as snprintf
 * does: a result >= capacity means it was cut. */
GRAYBMP_API size_t graybmp_gray_name(const char* input, char* name, size_t capacity);

/* As graybmp_gray_name, with the extension `extension` (".bmp") in place of the input's
 * own (NULL keeps it): photo.jpg -> photoNEW.bmp. Since 1.4.0. */
GRAYBMP_API size_t graybmp_output_name(const char* input, const char* extension, char* name,
                                       size_t capacity);

/* "1.3.0": the library's own version, which may be newer than GRAYBMP_VERSION_STRING. */
GRAYBMP_API const char* graybmp_version(void);

/* Which processor target the pixel loops of this process run, by Highway's names in lower
 * case: "scalar", "ssse3", "sse4", "avx2", "avx3", "avx3_dl", "neon", "sve", "sve2" or
 * "wasm". The processor's best of those built in, chosen once; the environment variable
 * GRAYBMP_CPU, set to one of these names, lowers it (never raises it past what the
 * processor has; a target of another processor family leaves "scalar"). "baseline" and
 * "avx512" are taken for "scalar" and "avx3". Any other value is ignored, and
 * graybmp_cpu_known says so. Every target gives the same bytes. */
GRAYBMP_API const char* graybmp_cpu(void);

/* Whether `name` is one of the targets' names (or "baseline", "avx512"), whether or not
 * this processor has it. */
GRAYBMP_API int graybmp_cpu_known(const char* name);

/* The name of the index-th target (0 first, "scalar"), NULL past the last. */
GRAYBMP_API const char* graybmp_cpu_name(size_t index);

#ifdef __cplusplus
}
#endif

#endif /* GRAYBMP_H */
