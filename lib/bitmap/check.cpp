#include "bitmap/check.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap.h"
#include "bitmap/info_header.h"

namespace graybmp {
namespace {

InputError checkLength(const std::uint8_t* lead, std::size_t leadSize) {
    return leadSize < headerBlockSize(lead, leadSize) ? InputError::TooShort : InputError::None;
}

InputError checkSignature(const BitmapHeaders& h) {
    return bfType(h) == kBmSignature ? InputError::None : InputError::NotBitmap;
}

InputError checkInfoHeaderSize(const BitmapHeaders& h, std::int64_t base, std::uint64_t fileSize) {
    const std::uint32_t size = biSize(h);
    if (size != kCoreHeaderSize && !isWindowsInfoHeaderSize(size) && !isOs2InfoHeaderSize(size))
        return InputError::BadInfoHeaderSize;
    if (fileSize < static_cast<std::uint64_t>(base) + kFileHeaderSize + size)
        return InputError::TruncatedInfoHeader;
    return InputError::None;
}

InputError checkMasksPresent(const InfoHeader& info, std::uint64_t fileSize) {
    return fileSize < static_cast<std::uint64_t>(headersEnd(info)) ? InputError::TruncatedInfoHeader
                                                                   : InputError::None;
}

// Compressions graybmp knows; BI_JPEG and BI_PNG wrap another format's file.
InputError checkCompressionKnown(const InfoHeader& info) {
    switch (info.compression) {
    case kBiRgb:
    case kBiRle8:
    case kBiRle4:
        return InputError::None;
    case kBiBitfields:  // on OS/2 2.x, Huffman 1D
        return InputError::None;
    case kBiAlphaBitfields:
        return info.os2 ? InputError::UnknownCompression : InputError::None;
    case kBiJpeg:  // on OS/2 2.x, RLE24
        return info.os2 ? InputError::None : InputError::EmbeddedImage;
    case kBiPng:
        return InputError::EmbeddedImage;
    default:
        return InputError::UnknownCompression;
    }
}

InputError checkBitCount(const InfoHeader& info) {
    switch (info.bitCount) {
    case 1:
    case 2:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
    case 64:
        return InputError::None;
    default:
        return InputError::BadBitCount;
    }
}

InputError checkCompressionFits(const InfoHeader& info) {
    if (info.os2 && info.compression == kOs2Huffman)
        return info.bitCount == 1 ? InputError::None : InputError::CompressionMismatch;
    if (isRle24(info))
        return info.bitCount == 24 ? InputError::None : InputError::CompressionMismatch;
    if (info.bitCount == 64)  // four 16-bit channels, no masks
        return info.compression == kBiRgb ? InputError::None : InputError::CompressionMismatch;
    switch (info.compression) {
    case kBiRle8:
        return info.bitCount == 8 ? InputError::None : InputError::CompressionMismatch;
    case kBiRle4:
        return info.bitCount == 4 ? InputError::None : InputError::CompressionMismatch;
    case kBiBitfields:
    case kBiAlphaBitfields:
        return isTrueColour(info) ? InputError::None : InputError::CompressionMismatch;
    default:
        return InputError::None;
    }
}

bool isContiguous(std::uint32_t mask) {
    const std::uint32_t low = mask & (~mask + 1);  // the lowest set bit
    return ((mask + low) & mask) == 0;
}

InputError checkMasks(const InfoHeader& info) {
    if (!isTrueColour(info) || info.bitCount == 64) return InputError::None;
    std::uint32_t masks[4];
    channelMasks(info, masks);
    for (int i = 0; i < 3; ++i) {
        if (masks[i] == 0) return InputError::MaskMissing;
        if (!isContiguous(masks[i])) return InputError::MaskNotContiguous;
    }
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if ((masks[i] & masks[j]) != 0) return InputError::MasksOverlap;
    const std::uint64_t pixelBits = (std::uint64_t{1} << info.bitCount) - 1;
    for (const std::uint32_t mask : masks)
        if ((mask & ~pixelBits) != 0) return InputError::MaskOutsidePixel;
    return InputError::None;
}

InputError checkWidth(const InfoHeader& info) {
    return info.width < 0 ? InputError::NegativeWidth : InputError::None;
}

InputError checkPixelOffset(const BitmapHeaders& h, const InfoHeader& info) {
    return bfOffBits(h) < headersEnd(info) ? InputError::PixelsInsideHeaders : InputError::None;
}

InputError checkPixelsFit(const BitmapHeaders& h, const InfoHeader& info, std::uint64_t fileSize) {
    if (bfOffBits(h) < 0) return InputError::PixelsInsideHeaders;
    if (isRunLength(info))
        return static_cast<std::uint64_t>(bfOffBits(h)) < fileSize ? InputError::None
                                                                   : InputError::RunsOutsideFile;
    return static_cast<std::uint64_t>(rowsNeed(info, bfOffBits(h))) > fileSize
               ? InputError::RowsDoNotFit
               : InputError::None;
}

BitmapHeaders headersOf(const std::uint8_t* lead, std::size_t leadSize) {
    BitmapHeaders h{};
    std::memcpy(h.bytes, lead, std::min(leadSize, kHeadersSize));
    return h;
}

// Entries the file gives its colour table: biClrUsed when set (at most 2^bits for a
// palette), else a full palette; none for true colour unless biClrUsed says so. An OS/2
// 1.x table fills the space up to the pixels. Only whole entries before both the pixels
// and the end of the file are taken.
std::int64_t paletteEntriesOf(const InfoHeader& info, std::int64_t paletteOffset,
                              std::int64_t pixelOffset, std::int64_t fileSize,
                              std::int64_t entrySize) {
    std::int64_t declared = info.clrUsed;
    if (!isTrueColour(info)) {
        const std::int64_t full = std::int64_t{1} << info.bitCount;
        declared = declared == 0 || declared > full ? full : declared;
    }
    const std::int64_t room = (std::min(pixelOffset, fileSize) - paletteOffset) / entrySize;
    return std::max<std::int64_t>(0, std::min(declared, room));
}

void fillLayout(const BitmapHeaders& h, const InfoHeader& info, std::uint64_t fileSize,
                ImageLayout& layout) {
    layout.kind = isIndexed8(info)     ? ImageKind::Indexed8
                  : isRle24(info)      ? ImageKind::Rle24
                  : isTrueColour(info) ? ImageKind::TrueColour
                                       : ImageKind::Palettized;
    layout.arrayNext = 0;
    layout.profileOffset = info.profileSize > 0 ? info.base + info.profileOffset : 0;
    layout.profileEnd = info.profileSize > 0 ? layout.profileOffset + info.profileSize : 0;
    layout.infoHeaderSize = info.size;
    layout.paletteOffset = headersEnd(info);
    layout.entrySize = info.core ? 3 : 4;
    layout.pixelOffset = bfOffBits(h);
    layout.width = static_cast<std::int32_t>(info.width);
    layout.bitCount = info.bitCount;
    layout.compression = info.compression;
    layout.rowCount = rowCountOf(info);
    layout.rowBytes = rowBytesOf(info);
    layout.stride = strideOf(info);
    layout.fileSize = static_cast<std::int64_t>(fileSize);
    std::uint32_t masks[4] = {};
    if (isTrueColour(info) && info.bitCount <= 32) channelMasks(info, masks);
    layout.redMask = masks[0], layout.greenMask = masks[1], layout.blueMask = masks[2];
    layout.alphaMask = isTrueColour(info) && hasMasks(info) ? masks[3] : 0;
    layout.height = static_cast<std::int32_t>(info.height);
    layout.colours = paletteEntriesOf(info, layout.paletteOffset, layout.pixelOffset,
                                      layout.fileSize, layout.entrySize);
    layout.paletteEntries = layout.kind == ImageKind::Indexed8
                                ? static_cast<std::int64_t>(kPaletteEntries)
                                : layout.colours;
    // Bytes behind the last row are kept; the palette block is never given back its
    // coloured bytes, so the tail starts no earlier than the palette's end.
    const std::int64_t rowsEnd = layout.pixelOffset + layout.rowCount * layout.stride;
    layout.tailOffset =
        std::max(rowsEnd, layout.paletteOffset + static_cast<std::int64_t>(kPaletteSize));
    layout.requiredSize = isRunLength(info)
                              ? layout.pixelOffset + 1
                              : std::max(headersEnd(info), rowsNeed(info, layout.pixelOffset));
}

}  // namespace

bool bitmapArray(const std::uint8_t* lead, std::size_t leadSize) {
    return leadSize >= kArrayHeaderSize + 2 && readU16le(lead) == kArraySignature;
}

std::size_t headerBlockSize(const std::uint8_t* lead, std::size_t leadSize) {
    if (bitmapArray(lead, leadSize))
        return kArrayHeaderSize +
               headerBlockSize(lead + kArrayHeaderSize, leadSize - kArrayHeaderSize);
    if (leadSize < 18) return kHeadersSize;
    const std::uint32_t size = readU32le(lead + 14);
    return size >= kCoreHeaderSize && size < kInfoHeaderSize ? kFileHeaderSize + size
                                                             : kHeadersSize;
}

namespace {

// Every check of one bitmap whose file header lies at `base`: the whole file, or an entry
// of a bitmap array. `lead` holds its first `leadSize` bytes.
InputError checkBitmap(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
                       std::int64_t base, ImageLayout& layout) {
    InputError e = checkLength(lead, leadSize);
    if (e != InputError::None) return e;
    const BitmapHeaders h = headersOf(lead, leadSize);
    if ((e = checkSignature(h)) != InputError::None) return e;
    if ((e = checkInfoHeaderSize(h, base, fileSize)) != InputError::None) return e;
    if (leadSize < kFileHeaderSize + biSize(h)) return InputError::TruncatedInfoHeader;
    InfoHeader info = decodeInfoHeader(lead, leadSize);
    info.base = base;
    info.inArray = base > 0;
    if ((e = checkMasksPresent(info, fileSize)) != InputError::None) return e;
    if ((e = checkCompressionKnown(info)) != InputError::None) return e;
    if ((e = checkBitCount(info)) != InputError::None) return e;
    if ((e = checkCompressionFits(info)) != InputError::None) return e;
    if ((e = checkMasks(info)) != InputError::None) return e;
    if ((e = checkWidth(info)) != InputError::None) return e;
    if (!info.inArray && (e = checkPixelOffset(h, info)) != InputError::None) return e;
    if ((e = checkPixelsFit(h, info, fileSize)) != InputError::None) return e;
    fillLayout(h, info, fileSize, layout);
    return InputError::None;
}

// The 14-byte array header: "BA", and the next one's offset inside the file (0: none).
InputError checkArrayHeader(const std::uint8_t* at, std::uint64_t fileSize, std::int64_t& next) {
    if (readU16le(at) != kArraySignature) return InputError::ArrayEntryNotBitmap;
    next = readU32le(at + 6);
    if (next != 0 && static_cast<std::uint64_t>(next) + kArrayEntryLead > fileSize)
        return InputError::ArrayLeavesFile;
    return InputError::None;
}

}  // namespace

InputError checkArrayEntry(const std::uint8_t* entry, std::size_t size, std::uint64_t fileSize,
                           std::int64_t offset, ImageLayout& layout) {
    if (size < kArrayHeaderSize + 2) return InputError::ArrayLeavesFile;
    std::int64_t next = 0;
    InputError e = checkArrayHeader(entry, fileSize, next);
    if (e != InputError::None) return e;
    const std::uint16_t type = readU16le(entry + kArrayHeaderSize);
    if (type != kBmSignature) {
        const bool other = type == 0x4943 || type == 0x5043 || type == 0x4349 || type == 0x5450;
        return other ? InputError::ArrayEntryNotBitmap : InputError::NotBitmap;
    }
    const std::int64_t base = offset + static_cast<std::int64_t>(kArrayHeaderSize);
    e = checkBitmap(entry + kArrayHeaderSize, size - kArrayHeaderSize, fileSize, base, layout);
    if (e != InputError::None) return e;
    // The chain goes forward: the next header lies behind this entry's headers and table.
    const std::int64_t tableEnd = layout.paletteOffset + layout.paletteEntries * layout.entrySize;
    if (next != 0 && next < tableEnd) {
        // a table that reaches the next header is cut there; a header inside this one is a loop
        if (next < layout.paletteOffset) return InputError::ArrayLoops;
        layout.paletteEntries = (next - layout.paletteOffset) / layout.entrySize;
    }
    layout.arrayNext = next;
    if (layout.kind == ImageKind::TrueColour || layout.kind == ImageKind::Rle24) {
        const std::int64_t pixelsEnd = std::max(layout.requiredSize, layout.pixelOffset + 1);
        if (layout.pixelOffset < tableEnd ||
            (next != 0 && layout.pixelOffset < next && pixelsEnd > next))
            return InputError::ArrayOverlaps;
    }
    return InputError::None;
}

InputError checkInput(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
                      ImageLayout& layout) {
    leadSize = static_cast<std::size_t>(std::min<std::uint64_t>(leadSize, fileSize));
    if (bitmapArray(lead, leadSize)) {
        const InputError e = checkArrayEntry(lead, leadSize, fileSize, 0, layout);
        if (e == InputError::None) layout.arrayFirst = true;
        return e;
    }
    const InputError e = checkBitmap(lead, leadSize, fileSize, 0, layout);
    if (e == InputError::None) layout.arrayFirst = false;
    return e;
}

std::string describeInputError(InputError error, const std::uint8_t* lead, std::size_t leadSize,
                               std::uint64_t fileSize) {
    const std::string size = std::to_string(fileSize);
    if (error == InputError::TooShort) {
        return "too short for a bitmap header (" + size + " bytes, at least " +
               std::to_string(headerBlockSize(lead, leadSize)) + " needed)";
    }
    switch (error) {
    case InputError::ArrayEntryNotBitmap:
        return "a bitmap array entry that is not \"BA\" and a bitmap (icons and pointers are "
               "not converted)";
    case InputError::ArrayLeavesFile:
        return "a bitmap array's next header lies past the end of the file of " + size + " bytes";
    case InputError::ArrayLoops:
        return "a bitmap array's chain loops: a next header lies inside or before its entry";
    case InputError::ArrayOverlaps:
        return "a bitmap array entry's pixels overlap the array's headers or colour tables";
    case InputError::ArrayBehindPipe:
        return "through a pipe, a bitmap array's next header lies before the bytes already read";
    default:
        break;
    }
    if (bitmapArray(lead, leadSize)) {  // the rest speak of its first bitmap
        return describeInputError(error, lead + kArrayHeaderSize, leadSize - kArrayHeaderSize,
                                  fileSize);
    }
    if (error == InputError::None || leadSize < headerBlockSize(lead, leadSize)) return "accepted";
    const BitmapHeaders h = headersOf(lead, leadSize);
    const InfoHeader info = decodeInfoHeader(lead, leadSize);
    const std::string bits = std::to_string(info.bitCount);
    const std::string compression = "compression " + std::to_string(info.compression);
    switch (error) {
    case InputError::NotBitmap:
        return "not a BMP file (it does not start with \"BM\")";
    case InputError::BadInfoHeaderSize:
        return "unsupported info header size " + std::to_string(biSize(h)) +
               " (12, 16 to 64, 108 or 124 expected)";
    case InputError::TruncatedInfoHeader:
        return "file of " + size + " bytes ends inside its " + std::to_string(biSize(h)) +
               "-byte info header" + (info.maskBytes > 0 ? " or its masks" : "");
    case InputError::BadBitCount:
        return bits + " bits per pixel; 1, 2, 4, 8, 16, 24 and 32 are converted";
    case InputError::CompressionMismatch:
        return compression + " (" +
               (info.compression == kBiRle8                 ? "RLE8"
                : info.compression == kBiRle4               ? "RLE4"
                : info.os2 && info.compression == kOs2Rle24 ? "RLE24"
                : info.os2                                  ? "Huffman 1D"
                : info.bitCount == 64                       ? "compressed"
                                                            : "bit fields") +
               ") does not fit " + bits + " bits per pixel";
    case InputError::EmbeddedImage:
        return std::string(info.compression == kBiJpeg ? "a JPEG" : "a PNG") +
               " image inside a BMP file (" + compression + ") is not grayed in its own encoding; "
               "levels or the compact form decode it";
    case InputError::UnknownCompression:
        return "unsupported " + compression;
    case InputError::MaskMissing:
        return "a bit-field mask for red, green or blue is zero";
    case InputError::MaskNotContiguous:
        return "a bit-field mask has gaps between its bits";
    case InputError::MasksOverlap:
        return "two bit-field masks share bits";
    case InputError::MaskOutsidePixel:
        return "a bit-field mask reaches past the pixel's " + bits + " bits";
    case InputError::NegativeWidth:
        return "negative width " + std::to_string(info.width);
    case InputError::PixelsInsideHeaders:
        return "pixel offset " + std::to_string(bfOffBits(h)) + " lies inside the headers";
    case InputError::RowsDoNotFit:
        return std::to_string(rowCountOf(info)) + " rows of " + std::to_string(info.width) +
               " pixels need " + std::to_string(rowsNeed(info, bfOffBits(h))) +
               " bytes; the file has " + size;
    case InputError::RunsOutsideFile:
        return "compressed pixels at offset " + std::to_string(bfOffBits(h)) +
               " lie outside the file of " + size + " bytes";
    default:
        return "accepted";
    }
}

}  // namespace graybmp
