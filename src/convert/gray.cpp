#include "convert/gray.h"

namespace graybmp {

void grayPalette(Palette& palette) {
    for (RGBQUAD& entry : palette.entries) {
        const unsigned sum = unsigned{entry.rgbBlue} + entry.rgbGreen + entry.rgbRed;
        const auto gray = static_cast<std::uint8_t>(sum / 3);
        entry.rgbBlue = gray;
        entry.rgbGreen = gray;
        entry.rgbRed = gray;
    }
}

}  // namespace graybmp
