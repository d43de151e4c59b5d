// Writes the inputs the tests' maker makes, one file each, into a folder: every kind of
// everyKind at a few widths, RLE24 runs, bitmap arrays, 8-bit samples with and without
// their last row's padding, and a few that are refused. For the tests in other languages.
//   write_fixtures FOLDER
#include <cstdio>
#include <string>

#include "testkit.h"

int main(int argc, char** argv) {
    using namespace graybmp::test;
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_fixtures FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    int n = 0;
    const auto put = [&](const std::string& kind, const Bytes& bytes) {
        char name[32];
        std::snprintf(name, sizeof name, "%03d-", n++);
        writeFile(folder + "/" + name + kind + ".bmp", bytes);
    };
    for (const Shape& s : everyKind({1, 2, 3, 5, 8})) put("kind", makePicture(s));
    put("rle24", rle24Picture({2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 1}));
    put("rle24-cut", rle24Picture({2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5}));
    Shape palette, rgb;
    palette.bits = 4, rgb.bits = 24;
    put("array", bitmapArray({makePicture(palette), makePicture(rgb)}));
    for (int width : {1, 4, 5, 7}) {
        Bytes file = sample(width, 3);
        put("sample", file);
        file.resize(file.size() - 1);  // the last row's padding missing: the copy grows
        put("sample-cut", file);
    }
    Bytes refused = sample(5, 3);
    refused.resize(600);
    put("refused-rows", refused);
    refused[0] = 'X';
    put("refused-signature", refused);
    put("refused-short", Bytes(refused.begin(), refused.begin() + 20));
    std::printf("%d files\n", n);
    return 0;
}
