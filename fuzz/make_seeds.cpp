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
    for (const graybmp::test::Shape& s : graybmp::test::everyKind({1, 3, 6})) {
        const graybmp::test::Bytes file = graybmp::test::makePicture(s);
        const std::string path = dir + "/seed" + std::to_string(n++) + ".bmp";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(file.data(), 1, file.size(), f) != file.size() ||
            std::fclose(f) != 0)
            return 1;
    }
    return 0;
}
