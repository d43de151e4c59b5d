/* Decoding alone, and graybmp_from_pixels alone, of a PNG (libspng) or a JPEG (libjpeg),
 * for bench/pictures: the CPU seconds of each, the pixels held in memory between.
 *   decode FILE LEVELS DITHER   prints "decode SECONDS from_pixels SECONDS" */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>

#include <graybmp.h>
#include <jpeglib.h>
#include <spng.h>

static double cpu(void) {
    struct rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (double)u.ru_utime.tv_sec + (double)u.ru_stime.tv_sec +
           ((double)u.ru_utime.tv_usec + (double)u.ru_stime.tv_usec) / 1e6;
}

static unsigned char* png(const unsigned char* file, size_t size, unsigned* w, unsigned* h) {
    spng_ctx* ctx = spng_ctx_new(0);
    struct spng_ihdr ihdr;
    size_t length = 0;
    unsigned char* out;
    spng_set_png_buffer(ctx, file, size);
    spng_get_ihdr(ctx, &ihdr);
    spng_decoded_image_size(ctx, SPNG_FMT_RGBA8, &length);
    out = malloc(length);
    if (spng_decode_image(ctx, out, length, SPNG_FMT_RGBA8, SPNG_DECODE_TRNS) != 0) exit(1);
    *w = ihdr.width, *h = ihdr.height;
    spng_ctx_free(ctx);
    return out;
}

static unsigned char* jpeg(const unsigned char* file, size_t size, unsigned* w, unsigned* h) {
    struct jpeg_decompress_struct d;
    struct jpeg_error_mgr e;
    unsigned char* out;
    d.err = jpeg_std_error(&e);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file, (unsigned long)size);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_RGBA;
    d.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d);
    *w = d.output_width, *h = d.output_height;
    out = malloc((size_t)*w * *h * 4);
    while (d.output_scanline < d.output_height) {
        JSAMPROW row = out + (size_t)d.output_scanline * *w * 4;
        jpeg_read_scanlines(&d, &row, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return out;
}

int main(int argc, char** argv) {
    FILE* f = argc > 3 ? fopen(argv[1], "rb") : NULL;
    long size;
    unsigned char *file, *pixels, *bmp;
    unsigned w = 0, h = 0;
    uint64_t length = 0;
    graybmp_options o;
    double t0, t1, t2;
    if (f == NULL) return 2;
    fseek(f, 0, SEEK_END);
    size = ftell(f);
    rewind(f);
    file = malloc((size_t)size);
    if (fread(file, 1, (size_t)size, f) != (size_t)size) return 1;
    fclose(f);
    t0 = cpu();
    pixels = file[0] == 0x89 ? png(file, (size_t)size, &w, &h) : jpeg(file, (size_t)size, &w, &h);
    t1 = cpu();
    graybmp_options_init(&o);
    o.levels = atoi(argv[2]);
    for (size_t i = 0; graybmp_dither_name(i) != NULL; ++i)
        if (strcmp(graybmp_dither_name(i), argv[3]) == 0) o.dither = (graybmp_dither)i;
    graybmp_from_pixels_length(w, h, &o, &length, NULL);
    bmp = malloc(length);
    if (graybmp_from_pixels(pixels, w, h, (size_t)w * 4, GRAYBMP_LAYOUT_RGBA, 0, &o, bmp, length, NULL, NULL) != 0)
        return 1;
    t2 = cpu();
    printf("decode %.4f from_pixels %.4f\n", t1 - t0, t2 - t1);
    return 0;
}
