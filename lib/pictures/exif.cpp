#include "pictures/exif.h"

#include <cstring>

namespace graybmp {

int exifOrientation(const std::uint8_t* d, std::size_t n) {
    if (n >= 6 && std::memcmp(d, "Exif\0\0", 6) == 0) d += 6, n -= 6;
    if (n < 8) return 1;
    const bool little = d[0] == 'I' && d[1] == 'I';
    if (!little && !(d[0] == 'M' && d[1] == 'M')) return 1;
    const auto u16 = [&](std::size_t at) {
        return little ? static_cast<std::uint32_t>(d[at] | d[at + 1] << 8)
                      : static_cast<std::uint32_t>(d[at] << 8 | d[at + 1]);
    };
    const auto u32 = [&](std::size_t at) {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42) return 1;
    const std::uint32_t ifd = u32(4);
    if (ifd > n || n - ifd < 2) return 1;
    const std::uint32_t entries = u16(ifd);
    for (std::uint32_t i = 0; i < entries; ++i) {
        const std::size_t at = ifd + 2 + std::size_t{12} * i;
        if (at > n || n - at < 12) return 1;
        if (u16(at) != 0x0112) continue;
        // A SHORT, one of them, in the entry itself.
        if (u16(at + 2) != 3 || u32(at + 4) != 1) return 1;
        const std::uint32_t v = u16(at + 8);
        return v >= 1 && v <= 8 ? static_cast<int>(v) : 1;
    }
    return 1;
}

}  // namespace graybmp
