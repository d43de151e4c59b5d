// The info header of a BMP as decoded from its first bytes, whatever its version, and what
// its fields make of the image: its kind, its rows and their bytes. The rules a file must
// keep are bitmap/check.cpp's.
#pragma once

#include <cstddef>
#include <cstdint>

namespace graybmp {

constexpr std::int64_t kInfoHeaderSize = 40;
// OS/2 2.x gives compressions 3 and 4 meanings of their own.
constexpr std::uint32_t kOs2Huffman = 3;  // 1-bit Huffman 1D
constexpr std::uint32_t kOs2Rle24 = 4;    // 24-bit runs
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // bV5CSType "MBED"

// The info header as decoded from the lead, whatever its version. Fields the header is
// too short to hold read as 0, as the format says they are then.
struct InfoHeader {
    std::int64_t base = 0;  // where its file header lies: 0, or inside a bitmap array
    bool inArray = false;
    std::uint32_t size = 0;
    bool core = false;  // OS/2 1.x, 12 bytes
    bool os2 = false;   // OS/2 2.x: no masks, other meanings for compression 3 and 4
    std::int64_t width = 0, height = 0;
    std::int32_t bitCount = 0;
    std::uint32_t compression = 0, clrUsed = 0;
    std::uint32_t masks[4] = {};  // red, green, blue, alpha as the file gives them
    std::int64_t maskBytes = 0;   // mask bytes stored behind a 40-byte header
    std::int64_t profileOffset = 0, profileSize = 0;  // an embedded profile, from the file header
};

bool isWindowsInfoHeaderSize(std::uint32_t size);

// OS/2 2.x headers may stop after any of their fields: 16 bytes hold the size, width,
// height, planes and bit count, 64 bytes all of them.
bool isOs2InfoHeaderSize(std::uint32_t size);

std::uint32_t fieldU32(const std::uint8_t* lead, std::uint32_t size, std::size_t offset);

bool hasMasks(const InfoHeader& info);

// `lead` holds the first `leadSize` bytes of the file; the rest reads as zeros.
InfoHeader decodeInfoHeader(const std::uint8_t* file, std::size_t leadSize);

bool isTrueColour(const InfoHeader& info);

std::int64_t headersEnd(const InfoHeader& info);

// The uncompressed 8-bit images the tool was first made for keep their own path, but
// inside a bitmap array, where its 1024-byte block would reach over the next header.
bool isIndexed8(const InfoHeader& info);

bool isRle24(const InfoHeader& info);

// Pixels that are compressed: RLE8, RLE4, and OS/2's Huffman 1D and RLE24.
bool isRunLength(const InfoHeader& info);

void channelMasks(const InfoHeader& info, std::uint32_t masks[4]);

std::int64_t rowCountOf(const InfoHeader& info);

std::int64_t rowBytesOf(const InfoHeader& info);

// Rows are padded to a multiple of 4 bytes. The 8-bit path keeps its own rule, which
// gives the same strides for every width of zero or more.
std::int64_t strideOf(const InfoHeader& info);

// The last row's padding may be missing from the file; its pixel bytes may not. The
// bytes the rows need, or INT64_MAX when that is more than any file holds.
std::int64_t rowsNeed(const InfoHeader& info, std::int64_t offset);

}  // namespace graybmp
