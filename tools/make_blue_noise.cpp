// Writes the blue-noise matrix as the library keeps it (lib/pipeline/blue_noise.inc):
//   make_blue_noise > lib/pipeline/blue_noise.inc
#include <cstdio>

#include "blue_noise.h"

int main() {
    const auto rank = graybmp::makeBlueNoise();
    std::printf("// The 64 x 64 blue-noise matrix, row by row: written by tools/make_blue_noise, never by hand.\n");
    for (int y = 0; y < graybmp::kBlueNoiseSide; ++y) {
        for (int x = 0; x < graybmp::kBlueNoiseSide; ++x)
            std::printf("%d,%s", rank[static_cast<std::size_t>(y * graybmp::kBlueNoiseSide + x)],
                        x % 16 == 15 ? "\n" : " ");
    }
    return 0;
}
