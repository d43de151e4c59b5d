#include "bitmap/info_header.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"

namespace graybmp {

bool isWindowsInfoHeaderSize(std::uint32_t size) {
    switch (size) {
    case 40:   // BITMAPINFOHEADER
    case 52:   // with RGB masks
    case 56:   // with RGBA masks
    case 108:  // BITMAPV4HEADER
    case 124:  // BITMAPV5HEADER
        return true;
    default:
        return false;
    }
}

// OS/2 2.x headers may stop after any of their fields: 16 bytes hold the size, width,
// height, planes and bit count, 64 bytes all of them.
bool isOs2InfoHeaderSize(std::uint32_t size) {
    switch (size) {
    case 16:
    case 20:
    case 24:
    case 28:
    case 32:
    case 36:
    case 40:
    case 42:
    case 44:
    case 46:
    case 48:
    case 52:
    case 56:
    case 60:
    case 64:
        return true;
    default:
        return false;
    }
}

std::uint32_t fieldU32(const std::uint8_t* lead, std::uint32_t size, std::size_t offset) {
    return offset + 4 <= kFileHeaderSize + size ? readU32le(lead + offset) : 0;
}

bool hasMasks(const InfoHeader& info) {
    return !info.core && !info.os2 &&
           (info.compression == kBiBitfields || info.compression == kBiAlphaBitfields);
}

// `lead` holds the first `leadSize` bytes of the file; the rest reads as zeros.
InfoHeader decodeInfoHeader(const std::uint8_t* file, std::size_t leadSize) {
    std::uint8_t lead[kMaxLeadSize] = {};
    std::memcpy(lead, file, std::min(leadSize, kMaxLeadSize));
    InfoHeader info;
    info.size = readU32le(lead + 14);
    if (info.size == kCoreHeaderSize) {
        info.core = true;
        info.width = readU16le(lead + 18);
        info.height = readU16le(lead + 20);
        info.bitCount = readU16le(lead + 24);
        return info;
    }
    info.os2 = !isWindowsInfoHeaderSize(info.size) || info.size == 64;
    info.width = readS32le(lead + 18);
    info.height = readS32le(lead + 22);
    info.bitCount = readS16le(lead + 28);
    info.compression = fieldU32(lead, info.size, 30);
    info.clrUsed = fieldU32(lead, info.size, 46);
    // A V5 header's embedded profile: bV5ProfileData counts from the info header's start.
    if (!info.os2 && info.size >= 124 && readU32le(lead + 70) == kProfileEmbedded) {
        info.profileOffset = static_cast<std::int64_t>(kFileHeaderSize) + std::int64_t{readU32le(lead + 126)};
        info.profileSize = readU32le(lead + 130);
    }
    if (!hasMasks(info)) return info;
    // Behind a 40-byte header the masks follow it; longer headers hold them.
    const std::uint32_t maskSpan = info.size == kInfoHeaderSize ? 56 : info.size;
    if (info.size == kInfoHeaderSize)
        info.maskBytes = info.compression == kBiAlphaBitfields ? 16 : 12;
    for (std::size_t i = 0; i < 4; ++i) info.masks[i] = fieldU32(lead, maskSpan, 54 + 4 * i);
    if (info.size == kInfoHeaderSize && info.compression == kBiBitfields) info.masks[3] = 0;
    return info;
}

bool isTrueColour(const InfoHeader& info) { return info.bitCount >= 16; }

std::int64_t headersEnd(const InfoHeader& info) {
    return info.base + static_cast<std::int64_t>(kFileHeaderSize) + info.size + info.maskBytes;
}

// The uncompressed 8-bit images the tool was first made for keep their own path, but
// inside a bitmap array, where its 1024-byte block would reach over the next header.
bool isIndexed8(const InfoHeader& info) {
    return info.bitCount == 8 && info.compression == kBiRgb && !info.core && !info.inArray &&
           (isWindowsInfoHeaderSize(info.size) || info.size == 64);
}

bool isRle24(const InfoHeader& info) { return info.os2 && info.compression == kOs2Rle24; }

// Pixels that are compressed: RLE8, RLE4, and OS/2's Huffman 1D and RLE24.
bool isRunLength(const InfoHeader& info) {
    return info.compression == kBiRle8 || info.compression == kBiRle4 ||
           (info.os2 && (info.compression == kOs2Huffman || info.compression == kOs2Rle24));
}

void channelMasks(const InfoHeader& info, std::uint32_t masks[4]) {
    if (hasMasks(info)) {
        std::copy(info.masks, info.masks + 4, masks);
    } else if (info.bitCount == 16) {  // 5-5-5, the top bit unused
        masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F, masks[3] = 0;
    } else {  // 8-8-8, on 32 bits the top byte unused
        masks[0] = 0xFF0000, masks[1] = 0x00FF00, masks[2] = 0x0000FF, masks[3] = 0;
    }
}

std::int64_t rowCountOf(const InfoHeader& info) {
    if (info.width <= 0 || isRunLength(info)) return 0;
    return info.height < 0 ? -info.height : info.height;
}

std::int64_t rowBytesOf(const InfoHeader& info) { return (info.width * info.bitCount + 7) / 8; }

// Rows are padded to a multiple of 4 bytes. The 8-bit path keeps its own rule, which
// gives the same strides for every width of zero or more.
std::int64_t strideOf(const InfoHeader& info) {
    if (isIndexed8(info)) {
        const auto width = static_cast<std::int32_t>(info.width);
        return static_cast<std::int64_t>(width) + rowPadding(width);
    }
    return (info.width * info.bitCount + 31) / 32 * 4;
}

// The last row's padding may be missing from the file; its pixel bytes may not. The
// bytes the rows need, or INT64_MAX when that is more than any file holds.
std::int64_t rowsNeed(const InfoHeader& info, std::int64_t offset) {
    const std::int64_t rows = rowCountOf(info);
    if (rows == 0) return 0;
    const std::int64_t stride = strideOf(info), last = offset + rowBytesOf(info);
    if (rows - 1 > (INT64_MAX - last) / stride) return INT64_MAX;
    return last + (rows - 1) * stride;
}

}  // namespace graybmp
