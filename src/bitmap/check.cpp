#include "bitmap/check.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap.h"

namespace graybmp {
namespace {

// Colour-space types of a V5 header that point at profile data elsewhere in the file.
constexpr std::uint32_t kProfileEmbedded = 0x4D424544;  // 'MBED'
constexpr std::uint32_t kProfileLinked = 0x4C494E4B;    // 'LINK'
constexpr std::size_t kColourSpaceOffset = 70;

bool isKnownInfoHeaderSize(std::uint32_t size) {
    switch (size) {
    case 40:   // BITMAPINFOHEADER
    case 52:   // with RGB masks
    case 56:   // with RGBA masks
    case 64:   // OS/2 2.x
    case 108:  // BITMAPV4HEADER
    case 124:  // BITMAPV5HEADER
        return true;
    default:
        return false;
    }
}

InputError checkLength(std::size_t leadSize) {
    return leadSize < kHeadersSize ? InputError::TooShort : InputError::None;
}

InputError checkSignature(const BitmapHeaders& h) {
    return bfType(h) == kBmSignature ? InputError::None : InputError::NotBitmap;
}

InputError checkInfoHeaderSize(const BitmapHeaders& h, std::uint64_t fileSize) {
    if (!isKnownInfoHeaderSize(biSize(h))) return InputError::BadInfoHeaderSize;
    if (fileSize < kFileHeaderSize + biSize(h)) return InputError::TruncatedInfoHeader;
    return InputError::None;
}

InputError checkBitCount(const BitmapHeaders& h) {
    return biBitCount(h) == 8 ? InputError::None : InputError::NotEightBit;
}

InputError checkCompression(const BitmapHeaders& h) {
    return biCompression(h) == 0 ? InputError::None : InputError::Compressed;
}

InputError checkColourSpace(const BitmapHeaders& h, const std::uint8_t* lead) {
    if (biSize(h) != 124) return InputError::None;
    const std::uint32_t type = readU32le(lead + kColourSpaceOffset);
    return type == kProfileEmbedded || type == kProfileLinked ? InputError::ColourProfile
                                                              : InputError::None;
}

InputError checkWidth(const BitmapHeaders& h) {
    return biWidth(h) < 0 ? InputError::NegativeWidth : InputError::None;
}

InputError checkPixelOffset(const BitmapHeaders& h) {
    const std::int64_t headersEnd = static_cast<std::int64_t>(kFileHeaderSize) + biSize(h);
    return bfOffBits(h) < headersEnd ? InputError::PixelsInsideHeaders : InputError::None;
}

std::int64_t rowCountOf(const BitmapHeaders& h) {
    const std::int64_t height = biHeight(h);
    return biWidth(h) > 0 ? (height < 0 ? -height : height) : 0;
}

std::int64_t strideOf(std::int32_t width) {
    return static_cast<std::int64_t>(width) + rowPadding(width);
}

// The last row's padding may be missing from the file; its index bytes may not.
std::int64_t rowsNeed(const BitmapHeaders& h) {
    const std::int64_t rows = rowCountOf(h);
    if (rows == 0) return 0;
    return bfOffBits(h) + (rows - 1) * strideOf(biWidth(h)) + biWidth(h);
}

InputError checkRowsFit(const BitmapHeaders& h, std::uint64_t fileSize) {
    return static_cast<std::uint64_t>(rowsNeed(h)) > fileSize ? InputError::RowsDoNotFit
                                                              : InputError::None;
}

BitmapHeaders headersOf(const std::uint8_t* lead) {
    BitmapHeaders h;
    std::memcpy(h.bytes, lead, kHeadersSize);
    return h;
}

}  // namespace

InputError checkInput(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
                      ImageLayout& layout) {
    InputError e = checkLength(std::min<std::uint64_t>(leadSize, fileSize));
    if (e != InputError::None) return e;
    const BitmapHeaders h = headersOf(lead);
    if ((e = checkSignature(h)) != InputError::None) return e;
    if ((e = checkInfoHeaderSize(h, fileSize)) != InputError::None) return e;
    if (leadSize < kFileHeaderSize + biSize(h)) return InputError::TruncatedInfoHeader;
    if ((e = checkBitCount(h)) != InputError::None) return e;
    if ((e = checkCompression(h)) != InputError::None) return e;
    if ((e = checkColourSpace(h, lead)) != InputError::None) return e;
    if ((e = checkWidth(h)) != InputError::None) return e;
    if ((e = checkPixelOffset(h)) != InputError::None) return e;
    if ((e = checkRowsFit(h, fileSize)) != InputError::None) return e;

    layout.infoHeaderSize = biSize(h);
    layout.paletteOffset = static_cast<std::int64_t>(kFileHeaderSize) + biSize(h);
    layout.pixelOffset = bfOffBits(h);
    layout.width = biWidth(h);
    layout.rowCount = rowCountOf(h);
    layout.stride = strideOf(biWidth(h));
    layout.fileSize = static_cast<std::int64_t>(fileSize);
    // Bytes behind the last row are kept; the palette block is never given back its
    // coloured bytes, so the tail starts no earlier than the palette's end.
    const std::int64_t rowsEnd = layout.pixelOffset + layout.rowCount * layout.stride;
    layout.tailOffset =
        std::max(rowsEnd, layout.paletteOffset + static_cast<std::int64_t>(kPaletteSize));
    return InputError::None;
}

std::string describeInputError(InputError error, const std::uint8_t* lead, std::size_t leadSize,
                               std::uint64_t fileSize) {
    const std::string size = std::to_string(fileSize);
    if (error == InputError::TooShort)
        return "too short for a bitmap header (" + size + " bytes, at least 54 needed)";
    if (error == InputError::None || leadSize < kHeadersSize) return "accepted";
    const BitmapHeaders h = headersOf(lead);
    switch (error) {
    case InputError::NotBitmap:
        return "not a BMP file (it does not start with \"BM\")";
    case InputError::BadInfoHeaderSize:
        return "unsupported info header size " + std::to_string(biSize(h)) +
               " (40, 52, 56, 64, 108 or 124 expected)";
    case InputError::TruncatedInfoHeader:
        return "file of " + size + " bytes ends inside its " + std::to_string(biSize(h)) +
               "-byte info header";
    case InputError::NotEightBit:
        return std::to_string(biBitCount(h)) +
               " bits per pixel; only 8-bit palettized images are converted";
    case InputError::Compressed:
        return "compressed (biCompression " + std::to_string(biCompression(h)) +
               "); only uncompressed images are converted";
    case InputError::ColourProfile:
        return "has an embedded or linked colour profile";
    case InputError::NegativeWidth:
        return "negative width " + std::to_string(biWidth(h));
    case InputError::PixelsInsideHeaders:
        return "pixel offset " + std::to_string(bfOffBits(h)) + " lies inside the headers";
    case InputError::RowsDoNotFit:
        return std::to_string(rowCountOf(h)) + " rows of " + std::to_string(biWidth(h)) +
               " pixels need " + std::to_string(rowsNeed(h)) + " bytes; the file has " + size;
    default:
        return "accepted";
    }
}

}  // namespace graybmp
