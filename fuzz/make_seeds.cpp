// Writes the fuzzer's seed corpus into a folder: small samples of every padding, header
// version and layout, and pictures of every format.
#include <cstdio>
#include <string>

#include "formats.h"
#include "graybmp.h"
#include "picture.h"
#include "sample.h"

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    int n = 0;
    for (std::int32_t width : {0, 1, 2, 3, 4, 5, 7, 9})
        for (std::int32_t height : {1, 2, -2})
            for (std::uint32_t info : {40u, 52u, 108u, 124u})
                for (std::int64_t offset : {-1, 54, 100, 1200}) {
                    graybmp::SampleOptions o;
                    o.width = width;
                    o.height = height;
                    o.infoHeaderSize = info;
                    o.pixelOffset = offset >= 14 + info ? offset : -1;
                    o.paddingByte = 0xEE;
                    const std::string path = dir + "/seed" + std::to_string(n++) + ".bmp";
                    if (!graybmp::writeSampleBitmap(path.c_str(), o)) return 1;
                }
    // Every other kind, small, and RLE24 runs, 64 bits, OS/2 Huffman and a bitmap array.
    using namespace graybmp::test;
    std::vector<Bytes> files;
    for (const Shape& s : everyKind({1, 3, 6})) files.push_back(makePicture(s));
    Shape wide, huffman, pal, rgb;
    wide.bits = 64, huffman.infoSize = 64, huffman.bits = 1, huffman.compression = 3;
    pal.bits = 8, rgb.bits = 32;
    files.push_back(makePicture(wide));
    files.push_back(makePicture(huffman));
    files.push_back(rle24Picture({3, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 1}));
    files.push_back(bitmapArray({makePicture(pal), makePicture(rgb), makePicture(huffman)}));
    // Pictures of every format this build decodes (under .bmp names, as a picture is told by
    // its bytes alone).
    for (const Fixture& f : everyPictureKind())
        if (f.file.size() <= 8192) files.push_back(f.file);
    // PNGs that carry each orientation (and a value out of range) in an eXIf chunk.
    for (const Fixture& f : everyPictureKind())
        if (f.kind == GRAYBMP_KIND_PNG && f.pixels.width * f.pixels.height <= 256) {
            for (int orientation = 1; orientation <= 9; ++orientation) files.push_back(pngOf(f.pixels, orientation));
            break;
        }
    for (const Bytes& file : files) {
        const std::string path = dir + "/seed" + std::to_string(n++) + ".bmp";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() ||
            std::fclose(f) != 0)
            return 1;
    }
    return 0;
}
