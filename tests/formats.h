// Pictures of other formats for the tests, made in code: PNG by libspng's encoder, JPEG by
// libjpeg's, WebP by libwebp's (animations by libwebpmux's), GIF by giflib's and netpbm by
// the writer here. Each fixture comes with the pixels a viewer shows for it, worked out
// from the format's rules where the format is exact (PNG, GIF, netpbm, lossless WebP) and
// by the same decoder where it is not (JPEG, lossy WebP).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "picture.h"

namespace graybmp::test {

struct Fixture {
    std::string name;
    Bytes file;
    Picture pixels;  // what the file shows, top row first, 8 bits a channel
    std::uint32_t xPpm = 0, yPpm = 0;  // its resolution in pixels a metre, or 0
    int bits = 0;                      // bits a pixel, as the format counts them
    int kind = 0;                      // its graybmp_kind
};

// Every kind of every format this build decodes, a few pixels each (odd sizes): PNG of
// every colour type and bit depth, interlaced or not, palettes with tRNS, pHYs; JPEG gray
// and YCbCr at each subsampling, baseline and progressive, with JFIF densities; WebP lossy,
// lossless and animated; GIF with a global or local map, a transparent index, an image
// inside its screen, interlaced; netpbm P1 to P7 with their maxvals and tuple types.
std::vector<Fixture> everyPictureKind();

// Formats this build decodes (as the library was built).
bool buildDecodes(int kind);

// The 32-bit top-down V4 BMP of `pixels` (alpha kept), with a resolution: what the
// library converts a picture as.
Bytes bitmapOf(const Picture& pixels, std::uint32_t xPpm = 0, std::uint32_t yPpm = 0);

// `pixels` composited on 0xRRGGBB as the docs define it: (c a + b (255 - a) + 127) div 255.
Picture composited(const Picture& pixels, std::uint32_t background);

// A netpbm file: `magic` '1' to '7', the header text after the magic as given (for P7,
// the lines up to ENDHDR), then the raster as given.
Bytes netpbm(char magic, const std::string& header, const Bytes& raster);

// A JPEG of w x h made by libjpeg from interleaved samples of `components` (1, 3 or 4:
// CMYK), quality 90, `progressive` or baseline, chroma subsampled by hs x vs.
Bytes jpegOf(const std::vector<std::uint8_t>& samples, int w, int h, int components, bool progressive = false,
             int hs = 2, int vs = 2, int densityUnit = 0, int xDensity = 1, int yDensity = 1);

// What libjpeg decodes a JPEG to, with the decoder's choices the docs pin, at `eighths` / 8
// of its size (libjpeg's scaled decoding).
Picture jpegPixels(const Bytes& file, int eighths = 8);

// A PNG of `pixels` as 8-bit RGBA (colour type 6), with an eXIf chunk holding the
// orientation when one is given (1 to 8, or any value for the reader to refuse).
Bytes pngOf(const Picture& pixels, int orientation = 0);

// A lossless WebP of `pixels` with an EXIF chunk holding the orientation, behind the
// picture (the extended format).
Bytes webpOf(const Picture& pixels, int orientation);

// A big-endian TIFF block whose first IFD holds the one entry tag 0x0112, `type`, `count`,
// `value`: an Exif orientation.
Bytes exifBlock(int value, int type = 3, int count = 1);

}  // namespace graybmp::test
