// The input check: decides from the leading bytes of a file and its size whether graybmp
// can convert it, what kind of image it is, and where its parts lie. Pure: no I/O, no
// allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace graybmp {

// The longest info header accepted (BITMAPV5HEADER) and so the most the check looks at;
// it also covers the 16 mask bytes behind a 40-byte header, and the 14-byte header in
// front of the first bitmap of an OS/2 bitmap array.
constexpr std::size_t kMaxInfoHeaderSize = 124;
constexpr std::size_t kArrayHeaderSize = 14;  // "BA", size, next header's offset, 2 sizes
constexpr std::size_t kMaxLeadSize = kArrayHeaderSize + 14 + kMaxInfoHeaderSize;
constexpr std::uint16_t kArraySignature = 0x4142;               // 'B' then 'A'
constexpr std::size_t kArrayEntryLead = kArrayHeaderSize + 26;  // with the shortest bitmap

// Compression values of the info header.
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiJpeg = 4;
constexpr std::uint32_t kBiPng = 5;
constexpr std::uint32_t kBiAlphaBitfields = 6;

// The size of an input whose end is not known yet (a pipe): larger than any file, small
// enough that sums of offsets never overflow. Its real size is found as it is copied.
constexpr std::int64_t kUnknownSize = std::int64_t{1} << 60;

enum class InputError {
    None,
    TooShort,             // fewer bytes than the file header and the info header's fields
    NotBitmap,            // bfType is not "BM"
    BadInfoHeaderSize,    // biSize names no known info header
    TruncatedInfoHeader,  // the file ends inside the info header or its masks
    BadBitCount,          // not 1, 2, 4, 8, 16, 24 or 32 (64-bit images among them)
    CompressionMismatch,  // RLE8 without 8 bits, RLE4 without 4, bit fields on a palette
    EmbeddedImage,        // BI_JPEG or BI_PNG: the pixels are another format's file
    UnknownCompression,   // any other compression
    MaskMissing,          // a bit-field mask that is zero for red, green or blue
    MaskNotContiguous,    // a mask whose bits do not form one run
    MasksOverlap,         // two masks share a bit
    MaskOutsidePixel,     // a mask reaches past the pixel's bits
    NegativeWidth,        // biWidth below 0
    PixelsInsideHeaders,  // bfOffBits before the end of the info header and its masks
    RowsDoNotFit,         // the file is too short for the rows the header announces
    RunsOutsideFile,      // RLE data whose offset is not inside the file
    ArrayEntryNotBitmap,  // a bitmap array entry that is an icon or a pointer
    ArrayLeavesFile,      // a bitmap array's next header lies past the end of the file
    ArrayLoops,           // a bitmap array's next header lies inside or before an entry
    ArrayOverlaps,        // true-colour pixels of an array entry over headers or tables
    ArrayBehindPipe,      // through a pipe, a next header before the bytes already passed
};

enum class ImageKind {
    Indexed8,    // uncompressed 8 bits, 40-byte or longer header: copied row by row
    Palettized,  // every other palettized image: the palette is grayed, nothing else
    TrueColour,  // 16, 24, 32 or 64 bits: every pixel is grayed in its own encoding
    Rle24,       // OS/2 24-bit runs: every colour triple of the runs grayed where it lies
};

// Where the parts of an accepted image lie, in file offsets, all in 64-bit arithmetic.
struct ImageLayout {
    ImageKind kind;
    std::int64_t infoHeaderSize;  // biSize
    std::int64_t paletteOffset;   // behind the info header and any masks
    std::int64_t paletteEntries;  // entries grayed (Indexed8: always the 256-entry block)
    std::int64_t colours;         // entries the file's palette gives (Indexed8 too)
    std::int64_t entrySize;       // 4, or 3 behind an OS/2 1.x header
    std::int64_t pixelOffset;     // bfOffBits
    std::int32_t width;           // pixels in one row
    std::int32_t bitCount;
    std::uint32_t compression;
    std::int64_t rowCount;  // |height| of an uncompressed image; 0 when the width is 0
    std::int64_t rowBytes;  // bytes of pixels in one row
    std::int64_t stride;    // rowBytes and padding: Indexed8 width + rowPadding(width),
                            // else a multiple of 4
    std::uint32_t redMask, greenMask, blueMask;  // TrueColour: where each channel lies
    std::uint32_t alphaMask;                     // TrueColour bit fields: alpha, else 0
    std::int32_t height;                         // as the header gives it, sign included
    std::int64_t tailOffset;    // Indexed8: input bytes from here to the end are copied
    std::int64_t requiredSize;  // the fewest bytes the file must hold (its rows but the last
                                // one's padding, or one byte of runs)
    std::int64_t fileSize;      // kUnknownSize for a pipe that had not ended by the check
    std::int64_t profileOffset;  // an embedded colour profile's bytes, [offset, end); 0 for none
    std::int64_t profileEnd;
    bool arrayFirst;            // the file is an OS/2 bitmap array; this is its first entry
    std::int64_t arrayNext;     // in an array: the next entry's header, 0 for none
};

// How many leading bytes the report and the check need before anything else: the file
// header and the 12-byte OS/2 1.x header, or the file header and 40 bytes of info header;
// in a bitmap array, behind its 14-byte header. `lead` holds the first `leadSize` bytes.
std::size_t headerBlockSize(const std::uint8_t* lead, std::size_t leadSize);

// Whether the file is an OS/2 bitmap array ("BA" and room for its first entry's header).
bool bitmapArray(const std::uint8_t* lead, std::size_t leadSize);

// `lead` holds the first min(fileSize, kMaxLeadSize) bytes of the file. Checks are made
// in a fixed order and the first one broken is returned; on None, `layout` is filled.
InputError checkInput(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
                      ImageLayout& layout);

// One entry of an OS/2 bitmap array: its 14-byte array header at file offset `offset`,
// then a bitmap's file header and info header, `size` bytes of it in `entry`. Its layout
// is the bitmap's, with every offset from the start of the file, its colour table cut at
// the next array header, which must lie behind the entry's headers (`arrayNext`).
InputError checkArrayEntry(const std::uint8_t* entry, std::size_t size, std::uint64_t fileSize,
                           std::int64_t offset, ImageLayout& layout);

// The reason for a refusal, in words, with the values that broke the rule.
std::string describeInputError(InputError error, const std::uint8_t* lead, std::size_t leadSize,
                               std::uint64_t fileSize);

}  // namespace graybmp
