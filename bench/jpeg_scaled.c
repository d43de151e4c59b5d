/* libjpeg decoding a JPEG alone at a scale, with the choices graybmp pins (the slow exact
 * integer IDCT, fancy upsampling, block smoothing, BGRA rows), each row dropped: the
 * baseline of bench/fit.
 *   jpeg_scaled FILE EIGHTHS */
#include <stdio.h>
#include <stdlib.h>

#include <jpeglib.h>

int main(int argc, char** argv) {
    struct jpeg_decompress_struct d;
    struct jpeg_error_mgr errors;
    FILE* f;
    JSAMPROW row;
    if (argc != 3 || (f = fopen(argv[1], "rb")) == NULL) return 2;
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_stdio_src(&d, f);
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGRA;
    d.dct_method = JDCT_ISLOW;
    d.do_fancy_upsampling = TRUE;
    d.do_block_smoothing = TRUE;
    d.scale_num = (unsigned)atoi(argv[2]), d.scale_denom = 8;
    jpeg_start_decompress(&d);
    row = malloc(4 * (size_t)d.output_width);
    while (d.output_scanline < d.output_height) jpeg_read_scanlines(&d, &row, 1);
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    fclose(f);
    free(row);
    return 0;
}
