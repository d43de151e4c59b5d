// The input check: decides from the leading bytes of a file and its size whether graybmp
// can convert it, and if so where everything lies. Pure: no I/O, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace graybmp {

// The longest info header accepted (BITMAPV5HEADER) and so the most the check looks at.
constexpr std::size_t kMaxInfoHeaderSize = 124;
constexpr std::size_t kMaxLeadSize = 14 + kMaxInfoHeaderSize;

enum class InputError {
    None,
    TooShort,             // fewer than the 54 header bytes
    NotBitmap,            // bfType is not "BM"
    BadInfoHeaderSize,    // biSize is not 40, 52, 56, 64, 108 or 124
    TruncatedInfoHeader,  // the file ends inside the info header
    NotEightBit,          // biBitCount is not 8
    Compressed,           // biCompression is not 0
    ColourProfile,        // a V5 header with an embedded or linked profile
    NegativeWidth,        // biWidth below 0
    PixelsInsideHeaders,  // bfOffBits before the end of the info header
    RowsDoNotFit,         // the file is too short for the rows the header announces
};

// Where the parts of an accepted image lie, in file offsets, all in 64-bit arithmetic.
struct ImageLayout {
    std::int64_t infoHeaderSize;  // biSize
    std::int64_t paletteOffset;   // 14 + biSize: the palette follows the info header
    std::int64_t pixelOffset;     // bfOffBits
    std::int32_t width;           // index bytes in one row
    std::int64_t rowCount;        // |biHeight|; 0 when the width is 0
    std::int64_t stride;          // width + rowPadding(width)
    std::int64_t tailOffset;      // input bytes from here to the end are copied as they are
    std::int64_t fileSize;
};

// `lead` holds the first min(fileSize, kMaxLeadSize) bytes of the file. Checks are made
// in a fixed order and the first one broken is returned; on None, `layout` is filled.
InputError checkInput(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
                      ImageLayout& layout);

// The reason for a refusal, in words, with the values that broke the rule.
std::string describeInputError(InputError error, const std::uint8_t* lead, std::size_t leadSize,
                               std::uint64_t fileSize);

}  // namespace graybmp
