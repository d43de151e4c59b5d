// A colourful 8-bit, 256-colour sample picture: sky, sea and a sandy beach, each a
// gradient of its own third of the palette; or the same picture in 24-bit true colour.
// Used by the sample maker, the benchmark and the tests.
#pragma once

#include <cstdint>
#include <vector>

namespace graybmp {

struct SampleOptions {
    std::int32_t width = 64;
    std::int32_t height = 64;           // below 0: rows stored top-down
    std::uint32_t infoHeaderSize = 40;  // 40, 52, 56, 64, 108 or 124
    std::int64_t pixelOffset = -1;      // -1: right behind the palette
    std::uint8_t paddingByte = 0;       // what the input's row padding holds
    int bitCount = 8;                   // 8 (palettized) or 24 (true colour)
};

// Little-endian field writers, for the maker and for tests that edit a header.
inline void putU16le(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void putU32le(std::uint8_t* p, std::uint32_t v) {
    putU16le(p, v);
    putU16le(p + 2, v >> 16);
}

// Where the rows start for these options.
std::int64_t samplePixelOffset(const SampleOptions& options);

// The file's bytes up to the first row: headers, palette and any gap (zeros).
std::vector<std::uint8_t> sampleHead(const SampleOptions& options);

// One stored row (file order), index bytes and padding.
void sampleRow(const SampleOptions& options, std::int32_t row, std::uint8_t* out);

// The whole file.
std::vector<std::uint8_t> makeSampleBitmap(const SampleOptions& options);

// Writes the file row by row; false when it cannot be written.
bool writeSampleBitmap(const char* path, const SampleOptions& options);

}  // namespace graybmp
