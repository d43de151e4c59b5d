// The pure steps: padding, field decoding, palette graying, the input check and the report.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <sstream>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"
#include "convert/gray.h"
#include "report/report.h"
#include "testkit.h"

namespace graybmp {
namespace {

using test::Bytes;

TEST(RowPadding, PadsEightBitRowsToFourBytes) {
    const struct {
        std::int32_t width, padding;
    } cases[] = {
        {0, 0},   {1, 3},  {2, 2},        {3, 1},   {4, 0},   {5, 3},         {6, 2},
        {7, 1},   {8, 0},  {125, 3},      {126, 2}, {127, 1}, {INT32_MAX, 1}, {INT32_MAX - 3, 0},
        {-1, -3}, {-4, 0}, {INT32_MIN, 0}};
    for (const auto& c : cases) EXPECT_EQ(rowPadding(c.width), c.padding) << "width " << c.width;
}

TEST(HeaderFields, DecodeLittleEndianWithTheirSignedness) {
    BitmapHeaders h{};
    const std::uint8_t size[4] = {0x00, 0x00, 0x00, 0x80};
    std::memcpy(h.bytes + 2, size, 4);
    h.bytes[0] = 'B';
    h.bytes[1] = 'M';
    h.bytes[18] = 0x34;  // width 0x1234
    h.bytes[19] = 0x12;
    std::memset(h.bytes + 22, 0xFF, 4);  // height -1
    h.bytes[28] = 0x00;                  // bit count 0x8000
    h.bytes[29] = 0x80;
    EXPECT_EQ(bfType(h), kBmSignature);
    EXPECT_EQ(bfSize(h), INT32_MIN);
    EXPECT_EQ(biWidth(h), 0x1234);
    EXPECT_EQ(biHeight(h), -1);
    EXPECT_EQ(biBitCount(h), INT16_MIN);
}

TEST(GrayPalette, TakesTheFloorOfTheUnweightedMeanAndKeepsTheFourthByte) {
    const struct {
        RGBQUAD in;
        std::uint8_t gray;
    } cases[] = {
        {{10, 20, 31, 0}, 20},     {{255, 255, 254, 0}, 254}, {{1, 1, 0, 0}, 0},
        {{255, 255, 255, 0}, 255}, {{0, 0, 0, 0xFF}, 0},      {{77, 77, 77, 0x12}, 77},
        {{0, 0, 255, 0x80}, 85},   {{2, 0, 0, 0}, 0},         {{254, 255, 255, 0xFF}, 254},
    };
    Palette palette{};
    for (std::size_t i = 0; i < kPaletteEntries; ++i)
        palette.entries[i] = cases[i % std::size(cases)].in;
    grayPalette(palette);
    for (std::size_t i = 0; i < kPaletteEntries; ++i) {
        const auto& c = cases[i % std::size(cases)];
        const RGBQUAD& e = palette.entries[i];
        EXPECT_EQ(e.rgbBlue, c.gray) << "entry " << i;
        EXPECT_EQ(e.rgbGreen, c.gray) << "entry " << i;
        EXPECT_EQ(e.rgbRed, c.gray) << "entry " << i;
        EXPECT_EQ(e.rgbReserved, c.in.rgbReserved) << "entry " << i;
    }
}

InputError check(const Bytes& file, std::uint64_t size) {
    ImageLayout layout{};
    return checkInput(file.data(), std::min<std::size_t>(file.size(), kMaxLeadSize), size, layout);
}

InputError check(const Bytes& file) { return check(file, file.size()); }

SampleOptions shape(std::int32_t width, std::int32_t height, std::uint32_t infoSize = 40) {
    SampleOptions o;
    o.width = width;
    o.height = height;
    o.infoHeaderSize = infoSize;
    return o;
}

TEST(InputCheck, RefusesEachBrokenRuleByName) {
    const Bytes good = test::sample(5, 3);  // 5 index bytes and 3 padding bytes a row
    const auto with = [&](void (*edit)(Bytes&)) {
        Bytes b = good;
        edit(b);
        return b;
    };
    const struct {
        const char* name;
        Bytes file;
        InputError expected;
    } cases[] = {
        {"valid", good, InputError::None},
        {"53 bytes", Bytes(good.begin(), good.begin() + 53), InputError::TooShort},
        {"no BM", with([](Bytes& b) { b[1] = 'A'; }), InputError::NotBitmap},
        {"MB", with([](Bytes& b) { std::swap(b[0], b[1]); }), InputError::NotBitmap},
        {"biSize 66", with([](Bytes& b) { test::setU32(b, 14, 66); }),
         InputError::BadInfoHeaderSize},
        {"biSize 41", with([](Bytes& b) { test::setU32(b, 14, 41); }),
         InputError::BadInfoHeaderSize},
        {"64 bits", with([](Bytes& b) { test::setU16(b, 28, 64); }), InputError::BadBitCount},
        {"bit count -8", with([](Bytes& b) { test::setU16(b, 28, 0xFFF8); }),
         InputError::BadBitCount},
        {"RLE4 on 8 bits", with([](Bytes& b) { test::setU32(b, 30, 2); }),
         InputError::CompressionMismatch},
        {"bitfields on 8 bits", with([](Bytes& b) { test::setU32(b, 30, 3); }),
         InputError::CompressionMismatch},
        {"JPEG", with([](Bytes& b) { test::setU32(b, 30, 4); }), InputError::EmbeddedImage},
        {"compression 7", with([](Bytes& b) { test::setU32(b, 30, 7); }),
         InputError::UnknownCompression},
        {"width -1", with([](Bytes& b) { test::setU32(b, 18, 0xFFFFFFFF); }),
         InputError::NegativeWidth},
        {"offset 53", with([](Bytes& b) { test::setU32(b, 10, 53); }),
         InputError::PixelsInsideHeaders},
        {"offset 54", with([](Bytes& b) { test::setU32(b, 10, 54); }), InputError::None},
        {"negative offset", with([](Bytes& b) { test::setU32(b, 10, 0x80000000); }),
         InputError::PixelsInsideHeaders},
        {"last padding missing", Bytes(good.begin(), good.end() - 3), InputError::None},
        {"last index missing", Bytes(good.begin(), good.end() - 4), InputError::RowsDoNotFit},
        {"height INT32_MAX", with([](Bytes& b) { test::setU32(b, 22, 0x7FFFFFFF); }),
         InputError::RowsDoNotFit},
        {"height INT32_MIN", with([](Bytes& b) { test::setU32(b, 22, 0x80000000); }),
         InputError::RowsDoNotFit},
        {"width INT32_MAX, height 0",
         with([](Bytes& b) { test::setU32(b, 18, 0x7FFFFFFF), test::setU32(b, 22, 0); }),
         InputError::None},
        {"top-down", with([](Bytes& b) { test::setU32(b, 22, static_cast<std::uint32_t>(-3)); }),
         InputError::None},
        {"offset past the end, no rows",
         with([](Bytes& b) { test::setU32(b, 10, 0x7FFFFFFF), test::setU32(b, 18, 0); }),
         InputError::None},
        {"offset past the end", with([](Bytes& b) { test::setU32(b, 10, 0x7FFFFFF0); }),
         InputError::RowsDoNotFit},
    };
    for (const auto& c : cases) EXPECT_EQ(check(c.file), c.expected) << c.name;
}

TEST(InputCheck, AcceptsTheLongerInfoHeadersUnlessTheyCarryAProfile) {
    const struct {
        std::uint32_t infoSize, colourSpace;
        InputError expected;
    } cases[] = {
        {52, 0, InputError::None},
        {56, 0, InputError::None},
        {64, 0, InputError::None},
        {108, 0x4C494E4B, InputError::None},  // V4 has no profile fields
        {124, 0x73524742, InputError::None},  // sRGB
        {124, 0x4D424544, InputError::ColourProfile},
        {124, 0x4C494E4B, InputError::ColourProfile},
    };
    for (const auto& c : cases) {
        Bytes file = test::sample(shape(4, 2, c.infoSize));
        test::setU32(file, 70, c.colourSpace);
        EXPECT_EQ(check(file), c.expected) << "biSize " << c.infoSize;
    }
}

TEST(InputCheck, RefusesAFileThatEndsInsideItsInfoHeader) {
    const Bytes file = test::sample(shape(4, 2, 124));
    EXPECT_EQ(check(Bytes(file.begin(), file.begin() + 137)), InputError::TruncatedInfoHeader);
    EXPECT_EQ(check(Bytes(file.begin(), file.begin() + 138), 138), InputError::RowsDoNotFit);
    EXPECT_EQ(check(file, 137), InputError::TruncatedInfoHeader);
}

TEST(InputCheck, LaysOutPaletteRowsAndTail) {
    SampleOptions o = shape(6, -3, 108);
    o.pixelOffset = 1300;
    Bytes file = test::sample(o);
    file.resize(file.size() + 5, 0xAB);
    ImageLayout layout{};
    ASSERT_EQ(checkInput(file.data(), kMaxLeadSize, file.size(), layout), InputError::None);
    EXPECT_EQ(layout.paletteOffset, 14 + 108);
    EXPECT_EQ(layout.pixelOffset, 1300);
    EXPECT_EQ(layout.width, 6);
    EXPECT_EQ(layout.rowCount, 3);
    EXPECT_EQ(layout.stride, 8);
    EXPECT_EQ(layout.tailOffset, 1300 + 3 * 8);
    EXPECT_EQ(layout.fileSize, static_cast<std::int64_t>(file.size()));
}

TEST(InputCheck, EveryRefusalHasItsOwnReason) {
    const Bytes file = test::sample(5, 3);
    const InputError all[] = {InputError::TooShort,
                              InputError::NotBitmap,
                              InputError::BadInfoHeaderSize,
                              InputError::TruncatedInfoHeader,
                              InputError::BadBitCount,
                              InputError::CompressionMismatch,
                              InputError::EmbeddedImage,
                              InputError::UnknownCompression,
                              InputError::MaskMissing,
                              InputError::MaskNotContiguous,
                              InputError::MasksOverlap,
                              InputError::MaskOutsidePixel,
                              InputError::ColourProfile,
                              InputError::NegativeWidth,
                              InputError::PixelsInsideHeaders,
                              InputError::RowsDoNotFit,
                              InputError::RunsOutsideFile};
    std::vector<std::string> seen;
    for (InputError e : all) {
        const std::string reason = describeInputError(e, file.data(), 54, file.size());
        EXPECT_NE(reason, "accepted");
        EXPECT_EQ(reason.find('\n'), std::string::npos);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), reason), 0) << reason;
        seen.push_back(reason);
    }
}

TEST(HeaderReport, PrintsWhatTheHeadersSay) {
    const auto headers = [](std::uint32_t size, std::int32_t width, std::int32_t height,
                            std::uint16_t bitCount, bool bm) {
        BitmapHeaders h{};
        h.bytes[0] = bm ? 'B' : 'X';
        h.bytes[1] = 'M';
        putU32le(h.bytes + 2, size);
        putU32le(h.bytes + 18, static_cast<std::uint32_t>(width));
        putU32le(h.bytes + 22, static_cast<std::uint32_t>(height));
        putU16le(h.bytes + 28, bitCount);
        return h;
    };
    const struct {
        const char* name;
        BitmapHeaders h;
        const char* lines;
    } cases[] = {
        {"64 x 64", headers(5174, 64, 64, 8, true),
         "Type: BMP file\nSize: 5174\nWidth: 64\nHeight: 64\nBitCount: 8\n"},
        {"top-down", headers(5174, 64, -64, 8, true),
         "Type: BMP file\nSize: 5174\nWidth: 64\nHeight: -64\nBitCount: 8\n"},
        {"bit count all ones", headers(5174, 64, 64, 0xFFFF, true),
         "Type: BMP file\nSize: 5174\nWidth: 64\nHeight: 64\nBitCount: -1\n"},
        {"size top bit", headers(0x80000001u, 1, 1, 8, true),
         "Type: BMP file\nSize: -2147483647\nWidth: 1\nHeight: 1\nBitCount: 8\n"},
        {"not BM", headers(70, 2, 3, 24, false), "Size: 70\nWidth: 2\nHeight: 3\nBitCount: 24\n"},
        {"extremes", headers(0x7FFFFFFF, INT32_MIN, INT32_MAX, 0x7FFF, true),
         "Type: BMP file\nSize: 2147483647\nWidth: -2147483648\nHeight: 2147483647\n"
         "BitCount: 32767\n"},
    };
    for (const auto& c : cases) {
        std::ostringstream out;
        printHeaderReport(c.h, out);
        EXPECT_EQ(out.str(), c.lines) << c.name;
    }
}

}  // namespace
}  // namespace graybmp
