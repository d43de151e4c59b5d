/* The C programs' own maker of a test image: an uncompressed bottom-up BMP of 8 bits
 * (with its 256-entry palette), 24 or 32 bits, every byte behind the headers from a fixed
 * pseudo-random sequence of `seed`. Writes it to `out` and returns its length:
 * 54 + (1024 for 8 bits) + the padded rows. */
#ifndef GRAYBMP_TESTS_BMP_MAKER_H
#define GRAYBMP_TESTS_BMP_MAKER_H

#include <stddef.h>
#include <string.h>

static void makerPut32(unsigned char* p, unsigned long v) {
    int i;
    for (i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

static size_t makeBmp(unsigned char* out, int bits, int width, int height, unsigned seed) {
    const size_t palette = bits == 8 ? 1024 : 0;
    const size_t stride = (size_t)((width * bits / 8 + 3) / 4 * 4);
    const size_t size = 54 + palette + stride * (size_t)height;
    size_t i;
    memset(out, 0, 54);
    out[0] = 'B', out[1] = 'M';
    makerPut32(out + 2, (unsigned long)size);
    makerPut32(out + 10, (unsigned long)(54 + palette));
    makerPut32(out + 14, 40);
    makerPut32(out + 18, (unsigned long)width);
    makerPut32(out + 22, (unsigned long)height);
    out[26] = 1;
    out[28] = (unsigned char)bits;
    for (i = 54; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = (unsigned char)(seed >> 16);
    }
    return size;
}

#endif
