// graybmp-sample: writes a colourful sample bitmap (sky, sea and sand).
//   graybmp-sample [FILE [WIDTH [HEIGHT [BITS]]]]   defaults: _Carib256.bmp 320 200 8
// BITS is 8 (palettized) or 24 (true colour).
// A negative HEIGHT stores the rows top-down.
#include <cstdio>
#include <cstdlib>

#include "sample.h"

int main(int argc, char** argv) {
    const char* path = argc > 1 ? argv[1] : "_Carib256.bmp";
    graybmp::SampleOptions options;
    options.width = argc > 2 ? std::atoi(argv[2]) : 320;
    options.height = argc > 3 ? std::atoi(argv[3]) : 200;
    options.bitCount = argc > 4 ? std::atoi(argv[4]) : 8;
    if (options.width < 0 || options.width > 65536 || options.height < -65536 ||
        options.height > 4194304 || (options.bitCount != 8 && options.bitCount != 24)) {
        std::fprintf(stderr,
                     "graybmp-sample: width 0..65536, height -65536..4194304, bits 8 or 24\n");
        return 2;
    }
    if (!graybmp::writeSampleBitmap(path, options)) {
        std::perror(path);
        return 1;
    }
    return 0;
}
