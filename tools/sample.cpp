#include "sample.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace graybmp {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Rgb {
    double r, g, b;
};

// The palette's three bands: sky 0-85, sea 86-170, sand 171-255.
constexpr Rgb kSkyHigh{40, 110, 210}, kSkyLow{250, 225, 190};
constexpr Rgb kSeaNear{60, 215, 200}, kSeaFar{10, 45, 120};
constexpr Rgb kSandWet{180, 140, 90}, kSandDry{252, 236, 190};

void putEntry(std::uint8_t* entry, Rgb from, Rgb to, double t) {
    entry[0] = static_cast<std::uint8_t>(std::lround(from.b + (to.b - from.b) * t));
    entry[1] = static_cast<std::uint8_t>(std::lround(from.g + (to.g - from.g) * t));
    entry[2] = static_cast<std::uint8_t>(std::lround(from.r + (to.r - from.r) * t));
    entry[3] = 0;
}

std::uint8_t band(int first, int last, double t) {
    t = std::min(1.0, std::max(0.0, t));
    return static_cast<std::uint8_t>(first + std::lround((last - first) * t));
}

// The index at picture column x, line y (line 0 at the top).
std::uint8_t pixelAt(std::int32_t x, std::int32_t y, std::int32_t width, std::int32_t height) {
    const double u = width > 1 ? static_cast<double>(x) / (width - 1) : 0.5;
    const double v = height > 1 ? static_cast<double>(y) / (height - 1) : 0.5;
    const double horizon = 0.42;
    const double shore = 0.74 + 0.05 * std::sin(u * 2 * kPi * 1.5);
    if (v < horizon) {
        const double sunX = u - 0.72, sunY = (v - 0.18) * 1.4;
        if (sunX * sunX + sunY * sunY < 0.006) return 85;
        return band(0, 85, v / horizon);
    }
    if (v < shore) {
        const double depth = (shore - v) / (shore - horizon);
        const double wave = 0.06 * std::sin(u * 40 + v * 90) * (1 - depth);
        return band(86, 170, depth + wave);
    }
    const double ripple = 0.05 * std::sin(u * 25 + v * 13);
    return band(171, 255, (v - shore) / (1 - shore + 1e-9) + ripple);
}

std::int32_t rowsOf(const SampleOptions& options) {
    return options.height < 0 ? -options.height : options.height;
}

std::size_t rowBytesOf(const SampleOptions& options) {
    return static_cast<std::size_t>(options.width) * (options.bitCount == 24 ? 3 : 1);
}

std::size_t strideOf(const SampleOptions& options) {
    const std::size_t bytes = rowBytesOf(options);
    return bytes + (4 - bytes % 4) % 4;
}

// Palette entry i: the sky, sea and sand gradients.
void colourOf(int i, std::uint8_t* entry) {
    if (i <= 85)
        putEntry(entry, kSkyHigh, kSkyLow, i / 85.0);
    else if (i <= 170)
        putEntry(entry, kSeaNear, kSeaFar, (i - 86) / 84.0);
    else
        putEntry(entry, kSandWet, kSandDry, (i - 171) / 84.0);
}

}  // namespace

std::int64_t samplePixelOffset(const SampleOptions& options) {
    if (options.pixelOffset >= 0) return options.pixelOffset;
    return 14 + static_cast<std::int64_t>(options.infoHeaderSize) +
           (options.bitCount == 24 ? 0 : 1024);
}

std::vector<std::uint8_t> sampleHead(const SampleOptions& options) {
    const std::int64_t offset = samplePixelOffset(options);
    const std::size_t paletteAt = 14 + options.infoHeaderSize;
    std::vector<std::uint8_t> head(std::max(paletteAt + 1024, static_cast<std::size_t>(offset)));
    const std::uint64_t imageSize = strideOf(options) * static_cast<std::uint64_t>(rowsOf(options));

    std::uint8_t* p = head.data();
    p[0] = 'B';
    p[1] = 'M';
    putU32le(p + 2, static_cast<std::uint32_t>(static_cast<std::uint64_t>(offset) + imageSize));
    putU32le(p + 10, static_cast<std::uint32_t>(offset));
    putU32le(p + 14, options.infoHeaderSize);
    putU32le(p + 18, static_cast<std::uint32_t>(options.width));
    putU32le(p + 22, static_cast<std::uint32_t>(options.height));
    putU16le(p + 26, 1);
    putU16le(p + 28, static_cast<std::uint32_t>(options.bitCount));
    putU32le(p + 34, static_cast<std::uint32_t>(imageSize));
    putU32le(p + 38, 2835);  // 72 dpi
    putU32le(p + 42, 2835);
    putU32le(p + 46, options.bitCount == 24 ? 0 : 256);
    if (options.infoHeaderSize >= 108) putU32le(p + 70, 0x73524742);  // 'sRGB'

    for (int i = 0; i < 256 && options.bitCount != 24; ++i) colourOf(i, p + paletteAt + 4 * i);
    head.resize(static_cast<std::size_t>(offset));  // rows may start inside the palette
    return head;
}

void sampleRow(const SampleOptions& options, std::int32_t row, std::uint8_t* out) {
    const std::int32_t rows = rowsOf(options);
    const std::int32_t line = options.height < 0 ? row : rows - 1 - row;  // bottom-up
    for (std::int32_t x = 0; x < options.width; ++x) {
        const std::uint8_t index = pixelAt(x, line, options.width, rows);
        if (options.bitCount != 24) {
            out[x] = index;
            continue;
        }
        std::uint8_t entry[4];
        colourOf(index, entry);
        std::memcpy(out + 3 * static_cast<std::size_t>(x), entry, 3);
    }
    const std::size_t bytes = rowBytesOf(options);
    if (strideOf(options) > bytes)
        std::memset(out + bytes, options.paddingByte, strideOf(options) - bytes);
}

namespace {

// Hands the head, then each stored row, to `sink(data, size)`; stops when it says false.
template <typename Sink>
bool emitSample(const SampleOptions& options, Sink sink) {
    const std::vector<std::uint8_t> head = sampleHead(options);
    bool ok = sink(head.data(), head.size());
    std::vector<std::uint8_t> row(strideOf(options));
    for (std::int32_t r = 0; ok && r < rowsOf(options); ++r) {
        sampleRow(options, r, row.data());
        ok = sink(row.data(), row.size());
    }
    return ok;
}

}  // namespace

std::vector<std::uint8_t> makeSampleBitmap(const SampleOptions& options) {
    std::vector<std::uint8_t> file;
    emitSample(options, [&](const std::uint8_t* data, std::size_t size) {
        file.insert(file.end(), data, data + size);
        return true;
    });
    return file;
}

bool writeSampleBitmap(const char* path, const SampleOptions& options) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const bool ok = emitSample(options, [&](const std::uint8_t* data, std::size_t size) {
        return std::fwrite(data, 1, size, file) == size;
    });
    return std::fclose(file) == 0 && ok;
}

}  // namespace graybmp
