// Byte layout of a BMP file as graybmp reads and writes it.
//
//   offset 0    BITMAPFILEHEADER, 14 bytes
//   offset 14   info header, biSize bytes: BITMAPINFOHEADER (40; 52 to 124 for the later
//               versions), OS/2 2.x (16 to 64) or the OS/2 1.x BITMAPCOREHEADER (12, with
//               16-bit width, height, planes and bit count)
//   ...         bit-field masks, 12 or 16 bytes, only behind a 40-byte header whose
//               compression is BI_BITFIELDS or BI_ALPHABITFIELDS
//   then        colour table: RGBQUAD entries of 4 bytes (blue, green, red, reserved), or
//               RGBTRIPLEs of 3 bytes behind an OS/2 1.x header
//   bfOffBits   pixel rows, bottom-up unless the height is negative, each padded to a
//               multiple of 4 bytes; or, for BI_RLE8 and BI_RLE4, the compressed runs
//
// An uncompressed 8-bit image with a 40-byte or longer header is converted row by row,
// with a 256-entry palette block behind the info header and a padding rule of its own
// (rowPadding below).
//
// Every multi-byte field is little-endian. The 54 bytes of the two headers are kept as
// they stand in the file and written back unchanged; fields are decoded from those bytes
// on demand, so nothing depends on the host's byte order or on struct packing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kHeadersSize = 54;  // file header + the 40-byte info header
constexpr std::size_t kPaletteEntries = 256;
constexpr std::size_t kPaletteSize = kPaletteEntries * 4;
constexpr std::uint16_t kBmSignature = 0x4D42;  // 'B' then 'M' in file order

// The file header directly followed by the 40-byte info header, as read from the file.
struct BitmapHeaders {
    std::uint8_t bytes[kHeadersSize];
};

struct RGBQUAD {
    std::uint8_t rgbBlue;
    std::uint8_t rgbGreen;
    std::uint8_t rgbRed;
    std::uint8_t rgbReserved;
};

struct Palette {
    RGBQUAD entries[kPaletteEntries];
};

static_assert(sizeof(RGBQUAD) == 4, "an RGBQUAD is 4 bytes in the file");
static_assert(sizeof(Palette) == kPaletteSize, "the palette is moved as one 1024-byte block");

inline std::uint16_t readU16le(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t readU32le(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline void writeU16le(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v), p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void writeU32le(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Two's-complement reinterpretation, defined for every bit pattern.
inline std::int32_t readS32le(const std::uint8_t* p) {
    const std::uint32_t u = readU32le(p);
    return u <= 0x7FFFFFFFu ? static_cast<std::int32_t>(u) : -static_cast<std::int32_t>(~u) - 1;
}

inline std::int16_t readS16le(const std::uint8_t* p) {
    const std::uint16_t u = readU16le(p);
    return u <= 0x7FFF ? static_cast<std::int16_t>(u)
                       : static_cast<std::int16_t>(-static_cast<int>(0xFFFF - u) - 1);
}

// Header fields, by their format names, decoded with the widths and signedness the
// format gives them.
inline std::uint16_t bfType(const BitmapHeaders& h) { return readU16le(h.bytes + 0); }
inline std::int32_t bfSize(const BitmapHeaders& h) { return readS32le(h.bytes + 2); }
inline std::int32_t bfOffBits(const BitmapHeaders& h) { return readS32le(h.bytes + 10); }
inline std::uint32_t biSize(const BitmapHeaders& h) { return readU32le(h.bytes + 14); }
inline std::int32_t biWidth(const BitmapHeaders& h) { return readS32le(h.bytes + 18); }
inline std::int32_t biHeight(const BitmapHeaders& h) { return readS32le(h.bytes + 22); }
inline std::int16_t biBitCount(const BitmapHeaders& h) { return readS16le(h.bytes + 28); }
inline std::uint32_t biCompression(const BitmapHeaders& h) { return readU32le(h.bytes + 30); }

// The OS/2 1.x header (biSize 12) keeps width, height and bit count in 16-bit fields.
constexpr std::uint32_t kCoreHeaderSize = 12;
inline std::uint16_t bcWidth(const BitmapHeaders& h) { return readU16le(h.bytes + 18); }
inline std::uint16_t bcHeight(const BitmapHeaders& h) { return readU16le(h.bytes + 20); }
inline std::uint16_t bcBitCount(const BitmapHeaders& h) { return readU16le(h.bytes + 24); }

// Bytes that pad an 8-bit row of `width` pixels to a multiple of 4: (width * 3) mod 4,
// remainder with the sign of the dividend. Reduced first so that no width overflows.
inline std::int32_t rowPadding(std::int32_t width) { return (width % 4) * 3 % 4; }

}  // namespace graybmp
