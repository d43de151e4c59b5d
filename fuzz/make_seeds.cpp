// Writes the fuzzer's seed corpus into a folder: small samples of every padding, header
// version and layout.
#include <cstdio>
#include <string>

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
    // Every other kind, small.
    const struct {
        std::uint32_t info;
        int bits;
        std::uint32_t compression, masks[4];
    } kinds[] = {{40, 1, 0, {}},
                 {40, 2, 0, {}},
                 {40, 4, 0, {}},
                 {40, 8, 1, {}},
                 {40, 4, 2, {}},
                 {12, 4, 0, {}},
                 {12, 8, 0, {}},
                 {16, 8, 0, {}},
                 {64, 4, 0, {}},
                 {40, 16, 0, {}},
                 {40, 24, 0, {}},
                 {40, 32, 0, {}},
                 {40, 16, 3, {0xF800, 0x07E0, 0x001F, 0}},
                 {124, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000}},
                 {124, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
                 {40, 32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}}};
    for (const auto& k : kinds)
        for (std::int32_t width : {1, 3, 6}) {
            graybmp::test::Shape s;
            s.infoSize = k.info, s.bits = k.bits, s.compression = k.compression;
            for (int i = 0; i < 4; ++i) s.masks[i] = k.masks[i];
            s.width = width;
            s.height = 3;
            const graybmp::test::Bytes file = graybmp::test::makePicture(s);
            const std::string path = dir + "/seed" + std::to_string(n++) + ".bmp";
            std::FILE* f = std::fopen(path.c_str(), "wb");
            if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() ||
                std::fclose(f) != 0)
                return 1;
        }
    return 0;
}
