// The pure steps: padding, field decoding, palette graying, the input check and the report.
#include <gtest/gtest.h>

#include <filesystem>

#include <climits>
#include <complex>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <cstring>
#include <set>
#include <sstream>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"
#include "blue_noise.h"
#include "conversion/context.h"
#include "forms/forms.h"
#include "pipeline/patterns.h"
#include "messages.h"
#include "convert/gray.h"
#include "graybmp.h"
#include "report.h"
#include "library.h"
#include "formats.h"
#include "testkit.h"

namespace graybmp {
namespace {

using test::Bytes;

// A folder of this test's own for the library's files: ctest runs tests side by side.
std::string ownFolder() {
    const ::testing::TestInfo* t = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string folder = ::testing::TempDir() + "graybmp-" + t->test_suite_name() + "." + t->name();
    std::filesystem::create_directories(folder);
    return folder;
}

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
    // 24 bits, 2 x 2, behind a 16-byte OS/2 2.x info header: 14 + 16 + 2 rows of 8 bytes.
    Bytes os2(46, 0);
    os2[0] = 'B', os2[1] = 'M';
    test::setU32(os2, 2, 46), test::setU32(os2, 10, 30), test::setU32(os2, 14, 16);
    test::setU32(os2, 18, 2), test::setU32(os2, 22, 2), test::setU16(os2, 26, 1), test::setU16(os2, 28, 24);
    const struct {
        const char* name;
        Bytes file;
        InputError expected;
    } cases[] = {
        {"valid", good, InputError::None},
        {"53 bytes", Bytes(good.begin(), good.begin() + 53), InputError::TooShort},
        // The headers' length is the file header's and the info header's own below 40.
        {"46 bytes, 16-byte OS/2 2.x header", os2, InputError::None},
        {"29 bytes, 16-byte OS/2 2.x header", Bytes(os2.begin(), os2.begin() + 29), InputError::TooShort},
        {"30 bytes, 16-byte OS/2 2.x header", Bytes(os2.begin(), os2.begin() + 30), InputError::RowsDoNotFit},
        {"no BM", with([](Bytes& b) { b[1] = 'A'; }), InputError::NotBitmap},
        {"MB", with([](Bytes& b) { std::swap(b[0], b[1]); }), InputError::NotBitmap},
        {"biSize 66", with([](Bytes& b) { test::setU32(b, 14, 66); }),
         InputError::BadInfoHeaderSize},
        {"biSize 41", with([](Bytes& b) { test::setU32(b, 14, 41); }),
         InputError::BadInfoHeaderSize},
        {"48 bits", with([](Bytes& b) { test::setU16(b, 28, 48); }), InputError::BadBitCount},
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

// A colour profile, embedded or linked, leaves the pixels plain: its bytes are kept.
TEST(InputCheck, AcceptsTheLongerInfoHeadersWithOrWithoutAProfile) {
    const struct {
        std::uint32_t infoSize, colourSpace;
        InputError expected;
    } cases[] = {
        {52, 0, InputError::None},           {56, 0, InputError::None}, {64, 0, InputError::None},
        {108, 0x4C494E4B, InputError::None},  // V4 has no profile fields
        {124, 0x73524742, InputError::None},  // sRGB
        {124, 0x4D424544, InputError::None},  // embedded
        {124, 0x4C494E4B, InputError::None},  // linked
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
                              InputError::NegativeWidth,
                              InputError::PixelsInsideHeaders,
                              InputError::RowsDoNotFit,
                              InputError::RunsOutsideFile,
                              InputError::ArrayEntryNotBitmap,
                              InputError::ArrayLeavesFile,
                              InputError::ArrayLoops,
                              InputError::ArrayOverlaps,
                              InputError::ArrayBehindPipe};
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
    // OS/2 1.x: unsigned 16-bit width, height and bit count at 18, 20 and 24.
    BitmapHeaders core = headers(2000, 0, 0, 0, true);
    putU32le(core.bytes + 14, 12);
    putU16le(core.bytes + 18, 0xFFFF);
    putU16le(core.bytes + 20, 300);
    putU16le(core.bytes + 24, 4);
    putU32le(core.bytes + 26, 0xFFFFFFFF);  // the palette, not a bit count
    // The library's values of the headers, as the tool prints them.
    const auto report = [](const BitmapHeaders& h) {
        graybmp_header header{};
        EXPECT_EQ(graybmp_read_header(h.bytes, sizeof h.bytes, sizeof h.bytes, nullptr, &header,
                                      nullptr),
                  GRAYBMP_OK);
        std::ostringstream out;
        printHeaderReport(header, out);
        return out.str();
    };
    EXPECT_EQ(report(core), "Type: BMP file\nSize: 2000\nWidth: 65535\nHeight: 300\nBitCount: 4\n");
    for (const auto& c : cases) EXPECT_EQ(report(c.h), c.lines) << c.name;
    // Pictures: the format named, a pipe's unknown length, the bits as the format counts
    // them; from the first bytes, as long as the header needs.
    const Bytes pgm = test::netpbm('5', " 7 3 65535\n", Bytes(42));
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                       0, 0, 1, 0, 0, 0, 0, 9, 16, 6, 0, 0, 0};
    const struct {
        Bytes file;
        std::uint64_t length;
        const char* lines;
    } pictures[] = {
        {pgm, pgm.size(), "Type: netpbm file\nSize: 55\nWidth: 7\nHeight: 3\nBitCount: 16\n"},
        {pgm, GRAYBMP_LENGTH_UNKNOWN, "Type: netpbm file\nSize: unknown\nWidth: 7\nHeight: 3\nBitCount: 16\n"},
        {png, 4000, "Type: PNG file\nSize: 4000\nWidth: 256\nHeight: 9\nBitCount: 64\n"},
    };
    for (const auto& p : pictures) {
        graybmp_header header{};
        graybmp_error e{};
        // Short of the header: how many bytes it needs (netpbm's: one more, until it ends).
        EXPECT_EQ(graybmp_read_header(p.file.data(), 9, p.length, nullptr, &header, &e), GRAYBMP_TOO_SHORT);
        EXPECT_EQ(e.needed, p.file[0] == 'P' ? 10u : 26u);
        EXPECT_EQ(graybmp_read_header(p.file.data(), p.file.size(), p.length, nullptr, &header, nullptr), GRAYBMP_OK);
        std::ostringstream out;
        printHeaderReport(header, out);
        EXPECT_EQ(out.str(), p.lines);
    }
}

// The conversion core over two temporary files, with chunks of `chunkSize` bytes and the
// kernel's copy allowed or not.
Bytes convertCore(const Bytes& input, std::size_t chunkSize, bool kernelCopy,
                  test::Method method = test::Method::Mean, bool compact = false,
                  CopyFault expected = CopyFault::None, std::string* refusal = nullptr,
                  Cpu cpu = processCpu(), const Levels& levels = Levels{}) {
    Conversion c;
    c.settings.method = test::formulaOf(method);
    c.settings.compact = compact;
    c.settings.levels = levels;
    c.cpu = cpu;
    c.chunkSize = chunkSize;
    c.leadSize = std::min(input.size(), kMaxLeadSize);
    std::copy_n(input.begin(), c.leadSize, c.lead);
    Failure f;
    EXPECT_TRUE(conversionChecked(c, input.size(), f)) << f.message;
    std::FILE* inFile = std::tmpfile();
    std::FILE* outFile = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), inFile);
    std::fflush(inFile);
    Stream in, out;
    streamAttach(in, inFile, false);
    streamAttach(out, outFile, true);
    in.kernelCopy = kernelCopy;
    c.in = &in;
    c.out = &out;
    EXPECT_EQ(conversionCopy(c), expected);
    if (refusal != nullptr) *refusal = c.refusal.reason;
    Bytes output;
    std::uint8_t buffer[4096];
    for (std::int64_t at = 0;; at += static_cast<std::int64_t>(sizeof buffer)) {
        const std::size_t n = streamReadAt(out, at, buffer, sizeof buffer);
        output.insert(output.end(), buffer, buffer + n);
        if (n < sizeof buffer) break;
    }
    streamClose(in);
    streamClose(out);
    return output;
}

// Chunk edges anywhere in a row, before its padding or inside it, and rows wider than a
// chunk, give the same bytes as the row-by-row rule, with or without the kernel's copy; so
// do the walks over RLE24 codes and a bitmap array's chain, whatever the chunk.
// The loop tests run once for each processor variant this machine has.
class EachCpu : public ::testing::TestWithParam<Cpu> {};
std::string cpuOf(const ::testing::TestParamInfo<Cpu>& variant) {
    return cpuName(variant.param);
}
INSTANTIATE_TEST_SUITE_P(Cpu, EachCpu, ::testing::ValuesIn(availableCpus()), cpuOf);

TEST_P(EachCpu, EveryChunkEdgeGivesTheSameBytes) {
    std::vector<std::pair<std::string, Bytes>> inputs;
    for (std::int32_t width : {4, 5, 6, 7, 1, 2, 37, 64}) {
        SampleOptions o = shape(width, 9);
        o.paddingByte = 0xEE;
        Bytes file = test::sample(o);
        inputs.push_back({"8-bit width " + std::to_string(width), file});
        if (width % 4 != 0) {  // the last row without its padding
            file.resize(file.size() - static_cast<std::size_t>(rowPadding(width)));
            inputs.push_back({"8-bit width " + std::to_string(width) + " cut", file});
        }
    }
    for (int bits : {16, 24, 32}) {
        test::Shape s;
        s.bits = bits;
        s.width = 7;
        s.height = 9;
        inputs.push_back({std::to_string(bits) + "-bit width 7", test::makePicture(s)});
    }
    test::Shape pal, rgb, wide, huffman;
    pal.bits = 4, rgb.bits = 24, wide.bits = 64, wide.width = 3;
    huffman.infoSize = 64, huffman.bits = 1, huffman.compression = 3;
    inputs.insert(
        inputs.end(),
        {{"RLE24 runs, literals, ends of line and bitmap",
          test::rle24Picture(
              {2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 0, 1, 9, 9, 9})},
         {"RLE24 triple cut by the end", test::rle24Picture({2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5})},
         {"RLE24 run's colour cut by the end", test::rle24Picture({2, 10, 20})},
         {"RLE24 without an end of bitmap",
          test::rle24Picture({3, 50, 60, 70, 0, 0, 1, 80, 90, 100})},
         {"RLE24 delta and a run out of the image",
          test::rle24Picture({0, 2, 200, 200, 250, 1, 2, 3, 0, 1})},
         {"RLE24 odd absolute runs of 3, 5 and 7, each before an encoded run",
          test::rle24Picture({0, 3, 10, 20, 30, 40, 50, 60, 70, 80, 90, 0,  // 3 and a pad
                              2, 200, 100, 50,
                              0, 5, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0,
                              3, 33, 66, 99,
                              0, 7, 9, 8, 7, 6, 5, 4, 3, 2, 1, 21, 22, 23, 24, 25, 26, 27, 28,
                              29, 41, 42, 43, 0,
                              1, 250, 5, 128, 0, 1})},
         {"array of a palette and a true-colour bitmap",
          test::bitmapArray({test::makePicture(pal), test::makePicture(rgb)})},
         {"64-bit pixels", test::makePicture(wide)},
         {"OS/2 Huffman", test::makePicture(huffman)}});
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto& [name, input] = inputs[i];
        const test::Method method = test::kMethods[i % std::size(test::kMethods)];
        ImageLayout layout{};
        checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), layout);
        const auto stride = static_cast<std::size_t>(layout.stride);
        for (std::size_t chunk : {std::size_t{12}, std::size_t{13}, stride - 1, stride, stride + 1,
                                  2 * stride + 3, std::size_t{4096}})
            for (bool kernel : {true, false}) {
                const Bytes output = convertCore(input, std::max<std::size_t>(chunk, 12), kernel,
                                                 method, false, CopyFault::None, nullptr, GetParam());
                EXPECT_EQ(test::grayCopyProblem(input, output, layout, method), "")
                    << name << ", chunk " << chunk << (kernel ? ", kernel copy" : "");
            }
    }
}

// Runs of every length up to a few of the widest vectors (the all-colours test's rows are
// whole vectors), in each layout a kernel takes: 3 and 4 bytes a pixel grayed where they
// lie or into bytes of their own, and planes; each gray the formula's, the 4th byte kept.
TEST_P(EachCpu, EveryRunLengthInEveryLayoutGivesTheFormulasGrays) {
    std::uint32_t seed = 88172645u;
    const auto next = [&] {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        return static_cast<std::uint8_t>(seed >> 9);
    };
    for (const test::Method m : test::kMethods) {
        const GrayFormula formula = test::formulaOf(m);
        for (std::size_t count = 1; count <= 200; count += count < 70 ? 1 : 43) {
            std::vector<std::uint8_t> colours(4 * count), planes(3 * count), grays(count);
            for (std::uint8_t& c : colours) c = next();
            for (int layout = 0; layout < 5; ++layout) {  // 3, 4 in place; 3, 4 out; planes
                const int bytes = layout == 4 ? 0 : 3 + layout % 2;
                std::vector<std::uint8_t> pixels = colours;
                std::fill(grays.begin(), grays.end(), 0);
                for (std::size_t i = 0; i < count; ++i)
                    for (std::size_t c = 0; c < 3; ++c) planes[c * count + i] = colours[4 * i + c];
                if (bytes == 3)  // packed: every fourth byte of the colours dropped
                    for (std::size_t i = 0; i < count; ++i)
                        std::copy_n(&colours[4 * i], 3, &pixels[3 * i]);
                PixelRun run{pixels.data(), count, bytes, layout >= 2 ? grays.data() : nullptr,
                             {planes.data(), planes.data() + count, planes.data() + 2 * count},
                             weightsInDouble(formula)};
                runKernel(GetParam(), formula.method, run);
                for (std::size_t i = 0; i < count; ++i) {
                    const std::uint8_t* bgr = &colours[4 * i];
                    const int want = test::referenceGray(m, bgr[2], bgr[1], bgr[0]);
                    const std::uint8_t* at = &pixels[static_cast<std::size_t>(bytes) * i];
                    const bool right =
                        layout >= 2 ? grays[i] == want
                                    : at[0] == want && at[1] == want && at[2] == want &&
                                          (bytes == 3 || at[3] == bgr[3]);
                    if (!right) {
                        ADD_FAILURE() << test::methodName(m) << ", layout " << layout << ", "
                                      << count << " pixels: pixel " << i << " is not " << want;
                        break;
                    }
                }
            }
        }
    }
}

// Channels narrower and wider than a byte, through the 16-bit table and the mask loop (whole
// bytes are the all-colours test's).
TEST(PixelGray, ChannelsOfEveryWidthGoGrayAndKeepTheOtherBits) {
    const struct {
        int bits;
        std::uint32_t red, green, blue, value, gray;
    } cases[] = {
        {16, 0x7C00, 0x03E0, 0x001F, 0xFC00,
         0xA94A},  // red 31 -> 255, gray 85 -> 10 at 5 bits; top bit kept
        {16, 0xF800, 0x07E0, 0x001F, 0xFFFF, 0xFFFF},  // white stays white at 5-6-5
        {32, 0x3FF00000, 0x000FFC00, 0x000003FF, 0xFFF00000, 0xD5555555},  // 85 -> 341 at 10 bits
    };
    for (const auto& c : cases) {
        ImageLayout layout{};
        layout.bitCount = c.bits;
        layout.redMask = c.red, layout.greenMask = c.green, layout.blueMask = c.blue;
        std::vector<std::uint16_t> table(65536);
        const PixelGray gray = pixelGrayOf(layout, table.data());
        EXPECT_EQ(grayPixel(gray, c.value), c.gray) << std::hex << c.value;
        std::uint8_t bytes[4];
        putU32le(bytes, c.value);
        grayPixels(gray, bytes, 1);
        EXPECT_EQ(readU32le(bytes) & ((std::uint64_t{1} << c.bits) - 1), c.gray)
            << std::hex << c.value;
    }
}

unsigned bgr8(int v) { return static_cast<unsigned>(v); }

// Every one of the 2^24 colours, through the palette's gray and the vectorized 24- and
// 32-bit pixel loops, against the tests' own double-precision reference. A row holds every
// green and blue of one red, so the loops also cross their blocks and end mid-step.
// Every method on every colour (and weights on two sets of all colours and four of 2^20
// random ones) through the 24- and 32-bit vector loops and the scalar formula.
// Each variant's loops on the same colours, against one reference a colour.
TEST(GrayMethods, EveryColourGivesTheFormulasValueInEveryCpusLoops) {
    const std::vector<Cpu> cpus = availableCpus();
    const char* emulation = std::getenv("GRAYBMP_EMULATED");
    const bool emulated = emulation != nullptr && *emulation != '\0';
    struct Case {
        std::string name;
        GrayFormula formula;
        std::function<int(int, int, int)> reference;
        std::size_t colours;  // 0: all 2^24
    };
    std::vector<Case> cases;
    for (const test::Method m : test::kMethods)
        cases.push_back({test::methodName(m), test::formulaOf(m),
                         [m](int r, int g, int b) { return test::referenceGray(m, r, g, b); },
                         0});
    const std::uint64_t weightSets[][3] = {{299000, 587000, 114000},  // bt601's, all colours
                                           {1000000, 0, 0},            // one channel
                                           {1000000000000, 1, 0},      // 1000000 and 0.000001
                                           {123456, 654321, 222222},   // six decimals
                                           {999999999999, 1, 12345678901}};  // large, unequal
    for (std::size_t k = 0; k < std::size(weightSets); ++k) {
        const std::uint64_t* w = weightSets[k];
        cases.push_back({"weights " + std::to_string(w[0]) + "," + std::to_string(w[1]) + "," +
                             std::to_string(w[2]),
                         GrayFormula(w[0], w[1], w[2]),
                         [w](int r, int g, int b) { return test::weightedGray(w, r, g, b); },
                         k == 0 ? 0 : std::size_t{1} << 20});
    }
    ImageLayout layout{};
    layout.redMask = 0xFF0000, layout.greenMask = 0x00FF00, layout.blueMask = 0x0000FF;
    const std::size_t variants = cpus.size();
    std::vector<std::uint8_t> row24(65536 * 3 * variants), row32(65536 * 4 * variants),
        colours(65536 * 3);
    std::uint32_t seed = 2463534242u;
    for (const Case& c : cases) {
        std::vector<PixelGray> grays24, grays32;
        for (const Cpu cpu : cpus) {
            layout.bitCount = 24;
            grays24.push_back(pixelGrayOf(layout, nullptr, c.formula, cpu));
            layout.bitCount = 32;
            grays32.push_back(pixelGrayOf(layout, nullptr, c.formula, cpu));
            ASSERT_EQ(grays24.back().method, PixelMethod::Bgr);
        }
        int wrong = 0;
        // Under emulation (GRAYBMP_EMULATED not empty) the reds at the ends and the middle of
        // the range, and one row of random colours.
        std::vector<std::size_t> rows;
        for (std::size_t row = 0; row < (c.colours == 0 ? 256 : c.colours / 65536); ++row)
            if (!emulated || (c.colours == 0 ? row < 3 || row > 252 || row % 64 < 2 : row == 0))
                rows.push_back(row);
        for (const std::size_t row : rows) {
            for (std::size_t at = 0; at < 65536; ++at) {  // every green and blue of one red
                std::uint8_t* bgr = &colours[3 * at];
                if (c.colours == 0) {
                    bgr[0] = static_cast<std::uint8_t>(at), bgr[1] = static_cast<std::uint8_t>(at >> 8);
                    bgr[2] = static_cast<std::uint8_t>(row);
                } else {  // or random colours
                    for (int k = 0; k < 3; ++k) {
                        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
                        bgr[k] = static_cast<std::uint8_t>(seed >> 11);
                    }
                }
                for (std::size_t v = 0; v < variants; ++v) {
                    std::copy(bgr, bgr + 3, &row24[3 * (v * 65536 + at)]);
                    std::copy(bgr, bgr + 3, &row32[4 * (v * 65536 + at)]);
                    row32[4 * (v * 65536 + at) + 3] = 0x5A;
                }
            }
            for (std::size_t v = 0; v < variants; ++v) {
                grayPixels(grays24[v], &row24[3 * v * 65536], 65536);
                grayPixels(grays32[v], &row32[4 * v * 65536], 65536);
            }
            // The plain variant and the scalar formula colour by colour (the reference is
            // exact); the other variants are held to the plain one.
            for (std::size_t at = 0; at < 65536 && wrong < 5; ++at) {
                const int b = colours[3 * at], g = colours[3 * at + 1], r = colours[3 * at + 2];
                const int want = c.reference(r, g, b);
                const int got[] = {grayOf(c.formula, bgr8(b), bgr8(g), bgr8(r)), row24[3 * at],
                                   row24[3 * at + 2], row32[4 * at], row32[4 * at + 1]};
                if (std::count(std::begin(got), std::end(got), want) != 5 || row32[4 * at + 3] != 0x5A) {
                    ADD_FAILURE() << c.name << " of " << r << "," << g << "," << b << " gave "
                                  << got[0] << ", " << got[1] << ", " << got[3] << ", not " << want;
                    ++wrong;
                }
            }
            for (std::size_t v = 1; v < variants && wrong < 5; ++v) {
                if (!std::equal(row24.begin(), row24.begin() + 3 * 65536, row24.begin() + 3 * 65536 * static_cast<std::ptrdiff_t>(v)) ||
                    !std::equal(row32.begin(), row32.begin() + 4 * 65536, row32.begin() + 4 * 65536 * static_cast<std::ptrdiff_t>(v))) {
                    ADD_FAILURE() << c.name << ": " << cpuName(cpus[v]) << " differs from "
                                  << cpuName(cpus[0]) << " in row " << row;
                    ++wrong;
                }
            }
        }
    }
}

// --compact: every true-colour kind becomes an 8-bit gray BMP of its picture, with the
// headers the compact form has and 1078 + stride x rows bytes; translucent pixels are
// refused and opaque ones convert; palettized kinds give the bytes they always did.
TEST(Compact, TrueColourBecomesEightBitGray) {
    int compacted = 0, opaqueAlpha = 0, translucent = 0;
    std::set<int> alphaWidths;
    for (const test::Shape& s : test::everyKind({1, 2, 3, 4, 5, 6, 7, 9, 10, 11})) {
        Bytes input = test::makePicture(s);
        ImageLayout l{};
        checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), l);
        const std::string what = test::describe(s);
        const auto method = test::kMethods[s.seed % std::size(test::kMethods)];
        if (l.bitCount == 64) continue;  // refused for --compact, before the copy
        if (l.kind != ImageKind::TrueColour) {
            EXPECT_EQ(convertCore(input, kChunkSize, true, method, true),
                      convertCore(input, kChunkSize, true, method))
                << what;
            continue;
        }
        const bool withAlpha = l.alphaMask != 0;
        if (withAlpha) {  // the maker's alpha is random: refused, then made opaque
            convertCore(input, kChunkSize, true, method, true, CopyFault::Translucent);
            EXPECT_EQ(test::libraryProblem(input, method, true, ownFolder(), nullptr), "")
                << what;
            ++translucent;
            const auto size = static_cast<std::size_t>(l.bitCount / 8);
            const auto pixelAt = [&](std::int64_t r, std::int64_t x) {
                return static_cast<std::size_t>(l.pixelOffset + r * l.stride + x * l.bitCount / 8);
            };
            for (std::int64_t r = 0; r < l.rowCount; ++r)
                for (std::int64_t x = 0; x < l.width; ++x)
                    for (std::size_t b = 0; b < size; ++b)
                        input[pixelAt(r, x) + b] |= static_cast<std::uint8_t>(l.alphaMask >> (8 * b));
            // One pixel's alpha one below full (0 for a 1-bit alpha): refused, by every way
            // in, and an earlier output is kept.
            Bytes almost = input;
            const std::size_t last = pixelAt(l.rowCount - 1, l.width - 1);
            const std::uint32_t lowest = l.alphaMask & (~l.alphaMask + 1);
            const std::uint32_t value = test::littleEndian(almost, last, static_cast<int>(size)) - lowest;
            for (std::size_t b = 0; b < size; ++b) almost[last + b] = static_cast<std::uint8_t>(value >> (8 * b));
            convertCore(almost, 13 + s.seed % 50, true, method, true, CopyFault::Translucent);
            EXPECT_EQ(test::libraryProblem(almost, method, true, ownFolder(), nullptr), "")
                << what << ", alpha one below full";
            alphaWidths.insert(test::maskBits(l.alphaMask));
        }
        // Chunks of 24 bytes (rows of 9 to 11 pixels are longer), others, and whole rows (the
        // library's ways in) give the same bytes, every padding byte 0.
        const Bytes out = convertCore(input, s.seed % 2 == 0 ? 24 : 13 + s.seed % 50, true, method, true);
        EXPECT_EQ(test::libraryProblem(input, method, true, ownFolder(), &out), "") << what;
        const std::int64_t stride = (l.width + 3) / 4 * 4;
        ASSERT_EQ(out.size(), static_cast<std::size_t>(1078 + stride * l.rowCount)) << what;
        for (std::int64_t r = 0; r < l.rowCount; ++r)
            for (std::int64_t x = l.width; x < stride; ++x)
                EXPECT_EQ(out[static_cast<std::size_t>(1078 + r * stride + x)], 0) << what << ", row " << r;
        const std::uint32_t fields[][2] = {{2, static_cast<std::uint32_t>(out.size())},
                                           {6, 0},
                                           {10, 1078},
                                           {14, 40},
                                           {18, static_cast<std::uint32_t>(l.width)},
                                           {22, static_cast<std::uint32_t>(l.height)},
                                           {34, static_cast<std::uint32_t>(stride * l.rowCount)},
                                           {30, 0},
                                           {46, 256},
                                           {50, 0}};
        for (const auto& [at, value] : fields)
            EXPECT_EQ(test::u32At(out, at), value) << what << " @" << at;
        EXPECT_EQ(out[26] | out[27] << 8 | out[28] << 16 | out[29] << 24, 1 | 8 << 16) << what;
        for (std::size_t k = 0; k < 256; ++k)
            EXPECT_EQ(test::u32At(out, 54 + 4 * k), k * 0x010101u) << what;
        test::Picture before, after;
        std::string why;
        ASSERT_TRUE(test::decodePicture(input, before, why)) << what << ": " << why;
        ASSERT_TRUE(test::decodePicture(out, after, why)) << what << ": " << why;
        for (test::Rgba& p : before.pixels) p.a = 255;  // alpha is not kept
        const std::string problem = test::grayPictureProblem(before, after, method);
        EXPECT_EQ(problem, "") << what << ", " << test::methodName(method);
        ++compacted;
        if (withAlpha && problem.empty()) ++opaqueAlpha;
    }
    // Every image refused for its alpha converted once made opaque, to its gray picture.
    EXPECT_GT(opaqueAlpha, 0);
    EXPECT_EQ(translucent, opaqueAlpha);
    EXPECT_EQ(alphaWidths, (std::set<int>{1, 2, 4, 8}));
}

// Every pixel of `input`, laid out as `l` says, made opaque: its alpha bits all set.
void makeOpaque(Bytes& input, const ImageLayout& l) {
    const auto size = static_cast<std::size_t>(l.bitCount / 8);
    for (std::int64_t r = 0; r < l.rowCount; ++r)
        for (std::int64_t x = 0; x < l.width; ++x)
            for (std::size_t b = 0; b < size; ++b)
                input[static_cast<std::size_t>(l.pixelOffset + r * l.stride + x * l.bitCount / 8) + b] |=
                    static_cast<std::uint8_t>(l.alphaMask >> (8 * b));
}

// --levels, against the tests' own reference from the definitions: every combination of
// levels, depth and dithering by every method on one picture, bottom-up and top-down,
// through every target; and every kind --levels takes at widths 1 to 33 and rows longer
// than a chunk, each with the next combination and method (alpha made opaque first).
TEST(Levels, EveryKindCombinationAndTargetGivesTheDefinitionsBytes) {
    const char* emulation = std::getenv("GRAYBMP_EMULATED");
    const bool emulated = emulation != nullptr && *emulation != '\0';
    struct Combo {
        int n, depth;
        Dither dither;
        bool serpentine = false;
        int strength = 100;
        bool linear = false;
    };
    std::vector<Combo> combos;
    for (const int n : {2, 3, 4, 16, 255, 256})
        for (int d = 0; d < 4; ++d)
            for (const int depth : {1, 2, 4, 8})
                if ((1 << depth) >= n && (n < 256 || d == 0))
                    combos.push_back({n, depth, static_cast<Dither>(d)});
    // Every kernel, serpentine or not, at three strengths, in linear light or not, and the
    // other ordered patterns, in linear light or not; no dithering in linear light.
    for (std::size_t d = 0; graybmp_dither_name(d) != nullptr; ++d)
        for (const int n : {2, 3, 4, 16})
            for (const bool linear : {false, true}) {
                const auto dither = static_cast<Dither>(d);
                if (!diffuses(dither)) {
                    if (linear || (dither != Dither::Ordered && dither != Dither::None))
                        combos.push_back({n, defaultDepth(n), dither, false, 100, linear});
                    continue;
                }
                for (const bool serpentine : {false, true})
                    for (const int strength : {0, 50, 100})
                        if (linear || serpentine || strength != 100 || d > 3)
                            combos.push_back({n, defaultDepth(n), dither, serpentine, strength, linear});
            }
    const auto check = [&](const Bytes& input, const Combo& c, test::Method m, Cpu cpu,
                           const std::string& what) {
        Levels levels;
        levels.count = c.n, levels.depth = c.depth, levels.dither = c.dither;
        levels.serpentine = c.serpentine, levels.strength = c.strength, levels.linear = c.linear;
        const char* dither = graybmp_dither_name(static_cast<std::size_t>(c.dither));
        test::ReferenceTone tone;
        tone.linear = c.linear;
        const Bytes want = test::expectedLevels(input, m, c.n, c.depth, dither, c.serpentine, c.strength, tone);
        ASSERT_FALSE(want.empty()) << what;
        const Bytes got = convertCore(input, kChunkSize, true, m, false, CopyFault::None, nullptr, cpu, levels);
        const std::string named = what + ", " + std::to_string(c.n) + " levels of " +
                                  std::to_string(c.depth) + " bits, " + dither +
                                  (c.serpentine ? " serpentine" : "") + " at " + std::to_string(c.strength) +
                                  (c.linear ? "%, linear, " : "%, ") + test::methodName(m) + ", " + cpuName(cpu);
        if (got != want) ADD_FAILURE() << named;
        // Every depth, 2 bits too, decodes to grays that are levels.
        test::Picture decoded;
        std::string why;
        ASSERT_TRUE(test::decodePicture(got, decoded, why)) << named << ": " << why;
        for (const test::Rgba& p : decoded.pixels) {
            const int k = (2 * p.r * (c.n - 1) + 255) / 510;
            if (p.r != p.g || p.g != p.b || p.r != (510 * k + c.n - 1) / (2 * (c.n - 1))) {
                ADD_FAILURE() << named << ": a pixel of " << int{p.r} << " is not a level";
                break;
            }
        }
    };
    test::Shape picture;
    picture.bits = 24, picture.width = 13, picture.height = 11;
    for (const std::int32_t height : {11, -11}) {
        picture.height = height;
        const Bytes input = test::makePicture(picture);
        // Under emulation (GRAYBMP_EMULATED not empty) each combination by one method in
        // turn, and every method by the first combinations, instead of every pair.
        std::size_t turn = 0;
        for (const Cpu cpu : availableCpus())
            for (std::size_t c = 0; c < combos.size(); ++c, ++turn)
                for (std::size_t m = 0; m < std::size(test::kMethods); ++m)
                    if (!emulated || m == turn % std::size(test::kMethods) || c < 4)
                        check(input, combos[c], test::kMethods[m], cpu, "13 x " + std::to_string(height));
    }
    // Diffusion's edges: rows narrower than the lag of a row diffused beside the one above
    // it, groups of rows cut by the picture's end, a row alone; every diffusing combination
    // by one method in turn.
    std::size_t turn = 0;
    for (const std::int32_t width : {1, 2, 3, 4, 5})
        for (const std::int32_t height : {1, 2, 3, 4, -3}) {
            picture.width = width, picture.height = height;
            const Bytes input = test::makePicture(picture);
            for (const Combo& c : combos)
                if (diffuses(c.dither) && (!emulated || turn % 7 == 0))
                    check(input, c, test::kMethods[++turn % std::size(test::kMethods)], processCpu(),
                          std::to_string(width) + " x " + std::to_string(height));
        }
    std::vector<test::Shape> shapes = test::everyKind({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17,
                                                       18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31,
                                                       32, 33});
    for (const int bits : {4, 8, 16, 24, 32}) {  // rows longer than a chunk
        test::Shape wide;
        wide.bits = bits, wide.height = 2, wide.width = 262144 / std::max(1, bits / 8) + 1;
        shapes.push_back(wide);
    }
    std::size_t k = 0;
    for (const test::Shape& s : shapes) {
        if (s.bits == 64) continue;  // refused before the copy
        Bytes input = test::makePicture(s);
        ImageLayout l{};
        checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), l);
        if (l.alphaMask != 0) {  // a translucent pixel is refused; made opaque, it converts
            Levels two;
            two.count = 2, two.depth = 1;
            convertCore(input, kChunkSize, true, test::Method::Mean, false, CopyFault::Translucent,
                        nullptr, processCpu(), two);
            makeOpaque(input, l);
        }
        ++k;
        check(input, combos[k % combos.size()], test::kMethods[k % std::size(test::kMethods)],
              processCpu(), test::describe(s));
    }
}

// Pictures of every format and kind, against the definitions: their pixels (worked out
// from the format's rules, or for lossy ones the same decoder's) in the 32-bit top-down
// BMP they are converted as, through the levels' reference, by the next method, levels
// and dithering, on a background where a pixel is not opaque; by every way into the
// library (memory, callbacks in order and at offsets, files). Their headers read as the
// format counts them; a translucent one refused without a background; a format this build
// does not decode refused as unsupported.
TEST(Pictures, EveryKindGivesTheDefinitionsBytes) {
    const struct {
        int levels, depth;
        const char* dither;
        graybmp_dither value;
    } asks[] = {{0, 0, "none", GRAYBMP_DITHER_NONE},           {2, 1, "floyd-steinberg", GRAYBMP_DITHER_FLOYD_STEINBERG},
                {4, 2, "atkinson", GRAYBMP_DITHER_ATKINSON},   {3, 2, "ordered", GRAYBMP_DITHER_ORDERED},
                {16, 4, "none", GRAYBMP_DITHER_NONE},          {255, 8, "floyd-steinberg", GRAYBMP_DITHER_FLOYD_STEINBERG}};
    std::size_t k = 0, converted = 0;
    for (const test::Fixture& f : test::everyPictureKind()) {
        SCOPED_TRACE(f.name);
        graybmp_options o;
        graybmp_options_init(&o);
        graybmp_header h{};
        ASSERT_EQ(graybmp_read_header(f.file.data(), f.file.size(), f.file.size(), &o, &h, nullptr), GRAYBMP_OK);
        EXPECT_EQ(h.kind, f.kind);
        EXPECT_EQ(h.width, f.pixels.width);
        EXPECT_EQ(h.height, f.pixels.height);
        EXPECT_EQ(h.bit_count, f.bits);
        EXPECT_EQ(h.size, static_cast<std::int64_t>(f.file.size()));
        EXPECT_EQ(h.is_bmp, 0);
        const bool translucent = std::any_of(f.pixels.pixels.begin(), f.pixels.pixels.end(),
                                             [](const test::Rgba& p) { return p.a != 255; });
        EXPECT_EQ(h.refusal.status, GRAYBMP_OK);
        if (translucent) {  // refused without a background, whatever the options
            std::uint64_t length = 0;
            std::vector<std::uint8_t> out(1 << 20);
            EXPECT_EQ(graybmp_convert_memory(f.file.data(), f.file.size(), out.data(), out.size(), &o, nullptr,
                                             nullptr),
                      GRAYBMP_TRANSLUCENT);
            EXPECT_EQ(graybmp_output_length(f.file.data(), f.file.size(), &o, &length, nullptr), GRAYBMP_OK);
        }
        const std::uint32_t background = k % 2 == 0 ? 0x336699 : 0xFFFFFF;
        const test::Picture shown = translucent ? test::composited(f.pixels, background) : f.pixels;
        const Bytes bmp = test::bitmapOf(shown, f.xPpm, f.yPpm);
        // Every ask by the next method; a wide picture by one.
        const std::size_t tries = f.pixels.width > 1000 ? 1 : std::size(asks);
        for (std::size_t a = 0; a < tries; ++a, ++k) {
            const auto& ask = asks[a];
            const test::Method m = test::kMethods[k % std::size(test::kMethods)];
            graybmp_options_set_method(&o, test::methodName(m), nullptr);
            o.levels = ask.levels, o.depth = ask.depth, o.dither = ask.value;
            o.background_given = translucent ? 1 : 0, o.background = background;
            const Bytes want = test::expectedLevels(bmp, m, ask.levels == 0 ? 256 : ask.levels,
                                                    ask.levels == 0 ? 8 : ask.depth, ask.dither);
            ASSERT_FALSE(want.empty());
            EXPECT_EQ(test::libraryProblem(f.file, o, ownFolder(), &want), "")
                << ask.levels << " levels, " << ask.dither << ", " << test::methodName(m);
            ++converted;
            // A PNG or JPEG inside a BMP (BI_PNG, BI_JPEG) is converted as the picture is, to
            // levels or compact, with the BMP's resolution (none here).
            if (f.kind != GRAYBMP_KIND_PNG && f.kind != GRAYBMP_KIND_JPEG) continue;
            Bytes inside(54, 0);
            inside[0] = 'B', inside[1] = 'M';
            const auto put = [&](std::size_t at, std::uint32_t v) {
                for (int b = 0; b < 4; ++b) inside[at + static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(v >> (8 * b));
            };
            put(2, static_cast<std::uint32_t>(54 + f.file.size())), put(10, 54), put(14, 40);
            put(18, static_cast<std::uint32_t>(f.pixels.width));
            put(22, static_cast<std::uint32_t>(k % 2 == 0 ? f.pixels.height : -f.pixels.height));
            inside[26] = 1, put(30, f.kind == GRAYBMP_KIND_PNG ? 5 : 4), put(34, static_cast<std::uint32_t>(f.file.size()));
            inside.insert(inside.end(), f.file.begin(), f.file.end());
            const Bytes unresolved = test::expectedLevels(test::bitmapOf(shown), m, ask.levels == 0 ? 256 : ask.levels,
                                                          ask.levels == 0 ? 8 : ask.depth, ask.dither);
            o.compact = ask.levels == 0 ? 1 : 0;
            EXPECT_EQ(test::libraryProblem(inside, o, ownFolder(), &unresolved), "") << "inside a BMP";
            o.compact = 0;
        }
    }
    EXPECT_GT(converted, 0u);
}

// The tone before the quantizer and the grays it aims at, against the definitions: input
// ranges (the full one, a narrow one, one of a single step), the negation, measured grays
// (the levels' own, which give the levels' bytes, and others), thresholds at both ends and
// between, each by a few ditherings, on a top-down and a bottom-up picture.
TEST(Levels, ToneGraysAndThresholdGiveTheDefinitionsBytes) {
    struct Case {
        int n;
        const char* dither;
        test::ReferenceTone tone;
        bool serpentine = false;
    };
    std::vector<Case> cases;
    for (const char* dither : {"none", "floyd-steinberg", "jarvis", "ordered", "bayer4"})
        for (const int n : {2, 3, 4}) {
            cases.push_back({n, dither, {0, 255, false, {}, -1}});
            cases.push_back({n, dither, {10, 200, true, {}, -1}});
            cases.push_back({n, dither, {100, 101, false, {}, -1}, true});
            cases.push_back({n, dither, {-1, -1, true, {}, -1}});
            std::vector<int> levels, panel;
            for (int k = 0; k < n; ++k) levels.push_back((510 * k + n - 1) / (2 * (n - 1)));
            for (int k = 0; k < n; ++k) panel.push_back(30 + 190 * k / (n - 1) - (k == 1 ? 40 : 0));
            cases.push_back({n, dither, {-1, -1, false, levels, -1}});
            cases.push_back({n, dither, {-1, -1, false, panel, -1}, true});
            cases.push_back({n, dither, {40, 220, true, panel, -1}});
        }
    // Normalized (alone, after an input range, negated, at measured grays) and gamma at its
    // ends, between, and exactly 1; by the next dithering, in linear light at times.
    const char* const more[] = {"none", "floyd-steinberg", "blue-noise", "halftone", "sierra-lite"};
    std::size_t next = 0;
    for (const int n : {2, 4})
        for (const bool linear : {false, true}) {
            const auto add = [&](test::ReferenceTone tone) {
                tone.linear = linear;
                cases.push_back({n, more[next++ % std::size(more)], tone});
            };
            add({-1, -1, false, {}, -1, true});
            add({30, 140, false, {}, -1, true});
            add({-1, -1, true, {}, -1, true, 2200});
            for (const int gamma : {100, 455, 1000, 1800, 2200, 10000}) add({-1, -1, false, {}, -1, false, gamma});
            add({20, 230, true, n == 2 ? std::vector<int>{40, 200} : std::vector<int>{0, 60, 150, 255}, -1, true, 700});
        }
    for (const int t : {0, 1, 128, 255}) cases.push_back({2, "none", {-1, -1, false, {}, t}});
    cases.push_back({2, "none", {20, 60, true, {}, 100}});
    test::Shape picture;
    picture.bits = 24, picture.width = 13, picture.height = 11;
    std::size_t k = 0;
    for (const std::int32_t height : {11, -11}) {
        picture.height = height;
        const Bytes input = test::makePicture(picture);
        for (const Case& c : cases) {
            const test::Method m = test::kMethods[k++ % std::size(test::kMethods)];
            graybmp_options o;
            graybmp_options_init(&o);
            graybmp_options_set_method(&o, test::methodName(m), nullptr);
            if (c.tone.threshold < 0) o.levels = c.n;
            graybmp_options_set_dither(&o, c.dither, nullptr);
            o.serpentine = c.serpentine && std::string(c.dither) == "jarvis";
            o.input_range_given = c.tone.black >= 0, o.input_black = c.tone.black, o.input_white = c.tone.white;
            o.negate = c.tone.negate;
            o.grays_count = static_cast<int>(c.tone.grays.size());
            for (std::size_t g = 0; g < c.tone.grays.size(); ++g) o.grays[g] = static_cast<std::uint8_t>(c.tone.grays[g]);
            o.threshold_given = c.tone.threshold >= 0, o.threshold = c.tone.threshold;
            o.normalize = c.tone.normalize, o.gamma = c.tone.gamma, o.linear = c.tone.linear;
            const int depth = defaultDepth(c.n);
            const Bytes want = test::expectedLevels(input, m, c.n, depth, c.dither, o.serpentine != 0, 100, c.tone);
            const std::string what = std::string(c.dither) + " at " + std::to_string(c.n) + ", range " +
                                     std::to_string(c.tone.black) + "-" + std::to_string(c.tone.white) +
                                     (c.tone.negate ? ", negated" : "") + ", " + std::to_string(c.tone.grays.size()) +
                                     " grays, threshold " + std::to_string(c.tone.threshold) +
                                     (c.tone.normalize ? ", normalized" : "") + ", gamma " +
                                     std::to_string(c.tone.gamma) + (c.tone.linear ? ", linear" : "") +
                                     ", height " + std::to_string(height);
            EXPECT_EQ(test::libraryProblem(input, o, ownFolder(), &want), "") << what;
        }
    }
    // Grays far inside 0 to 255, where the errors grow past the range of the shares' table
    // and are shared a pixel at a time: light rows, which the grays cannot show, then dark
    // ones where the error built up runs out (and the other way up), so that the rows where
    // it does tell how much there was. Every kernel, one way (rows two at a time, and the
    // last alone) and serpentine, in linear light or not, at two strengths.
    std::vector<Bytes> far;
    for (const bool lightFirst : {true, false}) {
        test::Picture halves;
        halves.width = 41, halves.height = 39;
        for (std::int64_t y = 0; y < halves.height; ++y)
            for (std::int64_t x = 0; x < halves.width; ++x) {
                const int light = 200 + static_cast<int>(x * 7 + y * 13) % 56, dark = static_cast<int>(x * 5 + y * 11) % 60;
                const auto g = static_cast<std::uint8_t>((y < 20) == lightFirst ? light : dark);
                halves.pixels.push_back({g, g, g, 255});
            }
        far.push_back(test::bitmapOf(halves));
    }
    for (std::size_t d = 0; graybmp_dither_name(d) != nullptr; ++d) {
        if (!diffuses(static_cast<Dither>(d))) continue;
        for (const std::vector<int>& panel : {std::vector<int>{100, 150}, std::vector<int>{90, 100, 130}})
            for (const bool serpentine : {false, true})
                for (const bool linear : {false, true})
                    for (const int strength : {100, 60})
                        for (const Bytes& input : far) {
                        const test::Method m = test::kMethods[k++ % std::size(test::kMethods)];
                        graybmp_options o;
                        graybmp_options_init(&o);
                        graybmp_options_set_method(&o, test::methodName(m), nullptr);
                        o.levels = static_cast<int>(panel.size()), o.dither = static_cast<graybmp_dither>(d);
                        o.serpentine = serpentine, o.linear = linear, o.strength = strength;
                        o.grays_count = o.levels;
                        for (std::size_t g = 0; g < panel.size(); ++g) o.grays[g] = static_cast<std::uint8_t>(panel[g]);
                        test::ReferenceTone tone;
                        tone.grays = panel, tone.linear = linear;
                        const Bytes want = test::expectedLevels(input, m, o.levels, defaultDepth(o.levels),
                                                                graybmp_dither_name(d), serpentine, strength, tone);
                        EXPECT_EQ(test::libraryProblem(input, o, ownFolder(), &want), "")
                            << graybmp_dither_name(d) << " at grays " << panel.front() << " to " << panel.back()
                            << (serpentine ? ", serpentine" : "") << (linear ? ", linear" : "") << ", " << strength << "%"
                            << (&input == &far[0] ? ", light first" : ", dark first");
                    }
    }
    // The levels' own grays give the levels' bytes.
    graybmp_options plain, measured;
    graybmp_options_init(&plain);
    plain.levels = 4, plain.dither = GRAYBMP_DITHER_ATKINSON;
    measured = plain;
    measured.grays_count = 4;
    for (int g = 0; g < 4; ++g) measured.grays[g] = static_cast<std::uint8_t>(levelGray(g, 4));
    const Bytes input = test::makePicture(picture);
    EXPECT_EQ(test::libraryCopies(input, plain, ownFolder())[0].output,
              test::libraryCopies(input, measured, ownFolder())[0].output);
    // Refused: options that do not go together, or values out of range.
    const auto refused = [](graybmp_options o) { return graybmp_options_check(&o, nullptr) == GRAYBMP_BAD_ARGUMENT; };
    graybmp_options bad = plain;
    bad.threshold_given = 1, bad.threshold = 128;
    EXPECT_TRUE(refused(bad));  // with a dithering
    bad = plain, bad.grays_count = 3;
    EXPECT_TRUE(refused(bad));  // not one a level
    bad = measured, bad.grays[2] = bad.grays[1];
    EXPECT_TRUE(refused(bad));  // not increasing
    bad = plain, bad.input_range_given = 1, bad.input_black = 9, bad.input_white = 9;
    EXPECT_TRUE(refused(bad));
    for (const int gamma : {1, 99, 10001, -1000}) {
        bad = plain, bad.gamma = gamma;
        EXPECT_TRUE(refused(bad)) << gamma;
    }
    bad = plain, bad.gamma = 100;
    EXPECT_FALSE(refused(bad));
    bad.gamma = 10000;
    EXPECT_FALSE(refused(bad));
    graybmp_options_init(&bad);
    bad.linear = 1;
    EXPECT_TRUE(refused(bad));  // without levels
    bad.threshold_given = 1, bad.threshold = 100;
    EXPECT_TRUE(refused(bad));  // a threshold is not in linear light
}

// Error diffusion keeps the light: on a ramp from 0 to 255 (1024 x 256), at full
// strength, every band of 32 columns keeps its mean within 1 % of full scale and the whole
// ramp within 0.1 %, for every kernel but Atkinson (which drops a quarter of each error by
// design), one way and serpentine, at every N; in linear light, its light: the means of
// Y(g) = round(65535 D(g / 255)), D the sRGB decoding, within the same shares of 65535.
TEST(Levels, ErrorDiffusionKeepsTheLightOfARamp) {
    const std::uint32_t width = 1024, height = 256;
    std::vector<std::uint8_t> ramp(width * height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) ramp[y * width + x] = static_cast<std::uint8_t>(x * 256 / width);
    for (std::size_t d = 1; graybmp_dither_name(d) != nullptr; ++d) {
        if (!diffuses(static_cast<Dither>(d)) || d == GRAYBMP_DITHER_ATKINSON) continue;
        for (const int n : {2, 3, 4, 16})
            for (const int serpentine : {0, 1})
            for (const int linear : {0, 1}) {
                graybmp_options o;
                graybmp_options_init(&o);
                o.levels = n, o.depth = 8, o.dither = static_cast<graybmp_dither>(d), o.serpentine = serpentine;
                o.linear = linear;
                const auto light = [&](int g) {
                    const double v = g / 255.0;
                    return linear == 0 ? g : 65535 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4));
                };
                const double full = linear == 0 ? 255 : 65535;
                std::uint64_t length = 0;
                ASSERT_EQ(graybmp_from_pixels_length(width, height, &o, &length, nullptr), GRAYBMP_OK);
                Bytes bmp(static_cast<std::size_t>(length));
                ASSERT_EQ(graybmp_from_pixels(ramp.data(), width, height, width, GRAYBMP_LAYOUT_GRAY, 0, &o,
                                              bmp.data(), bmp.size(), nullptr, nullptr),
                          GRAYBMP_OK);
                const std::size_t pixels = 54 + 4 * static_cast<std::size_t>(n);
                double all = 0, wanted = 0;
                for (std::uint32_t band = 0; band < width / 32; ++band) {
                    double got = 0, want = 0;
                    for (std::uint32_t y = 0; y < height; ++y)
                        for (std::uint32_t x = band * 32; x < band * 32 + 32; ++x) {
                            got += light((510 * bmp[pixels + y * width + x] + n - 1) / (2 * (n - 1)));  // L_k
                            want += light(ramp[y * width + x]);
                        }
                    all += got, wanted += want;
                    EXPECT_LE(std::abs(got - want) / (32.0 * height), full / 100)
                        << graybmp_dither_name(d) << " at " << n << (serpentine ? ", serpentine" : "")
                        << (linear ? ", linear" : "") << ", band " << band;
                }
                EXPECT_LE(std::abs(all - wanted) / (double{width} * height), full / 1000)
                    << graybmp_dither_name(d) << " at " << n << (serpentine ? ", serpentine" : "")
                    << (linear ? ", linear" : "");
            }
    }
}

// Every output format, bit order, packing, index order and row order at every depth, on
// pictures 1 to 17 pixels wide and 8k +- 1, bottom-up and top-down, against the docs'
// definitions (expectedOutput, from the levels' reference), by every way into the
// library; the C header's and the X bitmap's arrays hold the bytes, their defines the size.
TEST(Formats, EveryFormatPackingAndOrderGivesTheDefinitionsBytes) {
    const char* emulation = std::getenv("GRAYBMP_EMULATED");
    const bool emulated = emulation != nullptr && *emulation != '\0';
    struct Case {
        test::ReferenceOutput o;
        int depth;
    };
    std::vector<Case> cases;
    const int depths[] = {1, 2, 4, 8};
    for (const char* format : {"raw", "c"})
        for (const char* order : {"", "msb", "lsb"})
            for (const bool white : {false, true}) {
                for (const int depth : depths)
                    for (const char* rows : {"", "bottom-up"})
                        cases.push_back({{format, order, "rows", rows, 1, false, white}, depth});
                cases.push_back({{format, order, "pages", "", 1, false, white}, 1});
                for (const int depth : {2, 4}) cases.push_back({{format, order, "planes", "", 1, false, white}, depth});
                cases.push_back({{format, order, "planes", "bottom-up", 1, false, white}, 4});
            }
    for (const int depth : depths)
        for (const bool full : {false, true})
            for (const char* rows : {"", "top-down", "bottom-up"})
                for (const bool white : {false, true}) cases.push_back({{"bmp", "", "rows", rows, 1, full, white}, depth});
    cases.push_back({{"xbm", "", "rows", "", 1, false, false}, 1});
    cases.push_back({{"pbm", "", "rows", "", 1, false, false}, 1});
    for (const int depth : depths) cases.push_back({{"pgm", "", "rows", "", 1, false, false}, depth});
    std::vector<std::int32_t> widths;
    for (std::int32_t w = 1; w <= 17; ++w) widths.push_back(w);
    for (const std::int32_t w : {23, 25, 31, 33, 63, 65}) widths.push_back(w);
    const auto word = [](const std::string& w, std::initializer_list<const char*> words) {
        int i = 0;
        for (const char* each : words) {
            if (w == each) return i;
            ++i;
        }
        return -1;
    };
    std::size_t k = 0;
    for (const Case& c : cases) {
        const test::ReferenceOutput& o = c.o;
        const int n = o.format == "xbm" || o.format == "pbm" ? 2 : c.depth == 1 ? 2 : c.depth == 2 ? 3 : c.depth == 4 ? 11 : 200;
        for (const std::int32_t width : widths) {
            // Under emulation (GRAYBMP_EMULATED not empty) a third of the middle widths.
            if (emulated && ++k % 3 != 0 && width > 3 && width != 17 && width != 65) continue;
            ++k;
            test::Shape shape;
            shape.bits = 24, shape.width = width, shape.height = k % 2 == 0 ? 9 : -9;
            const Bytes input = test::makePicture(shape);
            const test::Method m = test::kMethods[k % std::size(test::kMethods)];
            test::ReferenceOutput ask = o;
            if (ask.packing != "pages" && ask.format != "bmp" && ask.format != "pgm") ask.rowAlign = 1 << (k % 3);
            graybmp_options opts;
            graybmp_options_init(&opts);
            graybmp_options_set_method(&opts, test::methodName(m), nullptr);
            opts.levels = n, opts.depth = c.depth, opts.dither = GRAYBMP_DITHER_ORDERED;
            opts.format = word(o.format, {"bmp", "raw", "c", "xbm", "pbm", "pgm"});
            opts.bit_order = word(o.bitOrder, {"", "msb", "lsb"});
            opts.packing = word(o.packing, {"rows", "pages", "planes"});
            opts.row_align = ask.format == "raw" || ask.format == "c" ? (ask.packing == "pages" ? 0 : ask.rowAlign) : 0;
            opts.rows = word(o.rows, {"", "top-down", "bottom-up"});
            opts.index_order = o.whiteFirst ? 1 : 0;
            opts.full_palette = o.fullPalette;
            const bool text = o.format == "c" || o.format == "xbm";
            if (text) opts.name = "panel";
            const Bytes levels = test::expectedLevels(input, m, n, 8, "ordered");
            ASSERT_FALSE(levels.empty());
            const Bytes want = test::expectedOutput(levels, ask, c.depth);
            const std::string what = o.format + " " + o.bitOrder + " " + o.packing + " " + o.rows + " align " +
                                     std::to_string(opts.row_align) + (o.whiteFirst ? " white-first" : "") +
                                     (o.fullPalette ? " full palette" : "") + ", " + std::to_string(c.depth) +
                                     " bits, " + std::to_string(width) + " x " + std::to_string(shape.height);
            if (!text) {
                EXPECT_EQ(test::libraryProblem(input, opts, ownFolder(), &want), "") << what;
                // A BMP for strict readers shows the levels' picture: through the tests' decoder,
                // each pixel the gray of its level.
                test::Picture shown, plain;
                std::string why;
                if (o.format == "bmp") {
                    ASSERT_TRUE(test::decodePicture(want, shown, why) && test::decodePicture(levels, plain, why))
                        << what << ": " << why;
                    EXPECT_TRUE(std::equal(shown.pixels.begin(), shown.pixels.end(), plain.pixels.begin(), plain.pixels.end(),
                                           [](const test::Rgba& a, const test::Rgba& b) {
                                               return a.r == b.r && a.g == b.g && a.b == b.b;
                                           }))
                        << what;
                }
                continue;
            }
            const std::vector<test::LibraryCopy> copies = test::libraryCopies(input, opts, ownFolder());
            for (const test::LibraryCopy& copy : copies) {
                ASSERT_EQ(copy.status, GRAYBMP_OK) << what << ", " << copy.path << ": " << copy.message;
                EXPECT_EQ(copy.output, copies[0].output) << what << ", " << copy.path;
            }
            EXPECT_EQ(test::arrayBytes(copies[0].output), want) << what;
            const std::string header(copies[0].output.begin(), copies[0].output.end());
            const std::string size = o.format == "c" ? "#define PANEL_WIDTH " + std::to_string(width) + "\n#define PANEL_HEIGHT 9\n"
                                                     : "#define panel_width " + std::to_string(width) + "\n#define panel_height 9\n";
            EXPECT_NE(header.find(size), std::string::npos) << what;
        }
    }
}

// The blue-noise matrix the library keeps is the one its generator makes again: a
// permutation of 0 to 4095 whose energy below a quarter of the sampling frequency (the
// frequencies of radius under 16 of 64, the mean left out) is under 1 % of the whole (white
// noise has about 19 %).
TEST(Levels, TheBlueNoiseMatrixIsMadeAgainAndIsBlue) {
    const std::vector<std::uint16_t> made = makeBlueNoise();
    ASSERT_EQ(made.size(), 4096u);
    std::vector<int> seen(4096);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const int m = made[static_cast<std::size_t>(y * 64 + x)];
            EXPECT_EQ(orderedRank(Dither::BlueNoise, y, x), m) << y << ", " << x;
            ++seen[static_cast<std::size_t>(m)];
        }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 4096);
    // The power spectrum by a DFT of the rows, then of the columns.
    const double pi = 3.14159265358979323846;
    std::vector<std::complex<double>> rows(4096);
    for (int y = 0; y < 64; ++y)
        for (int u = 0; u < 64; ++u)
            for (int x = 0; x < 64; ++x)
                rows[static_cast<std::size_t>(y * 64 + u)] +=
                    (made[static_cast<std::size_t>(y * 64 + x)] - 2047.5) * std::polar(1.0, -2 * pi * u * x / 64);
    double low = 0, all = 0;
    for (int v = 0; v < 64; ++v)
        for (int u = 0; u < 64; ++u) {
            std::complex<double> sum = 0;
            for (int y = 0; y < 64; ++y) sum += rows[static_cast<std::size_t>(y * 64 + u)] * std::polar(1.0, -2 * pi * v * y / 64);
            const int fu = u < 32 ? u : 64 - u, fv = v < 32 ? v : 64 - v;
            all += std::norm(sum);
            if (fu * fu + fv * fv < 16 * 16) low += std::norm(sum);
        }
    EXPECT_LT(low / all, 0.01);
}

// A background composites the pixels that are not opaque, in a BMP to the levels and to the
// compact form and in pixels in, as the docs define it: the bytes of the same BMP whose
// pixels were composited first. Without one they are refused.
TEST(Levels, ABackgroundCompositesTranslucentPixels) {
    test::Picture p;
    p.width = 9, p.height = 5;
    for (std::size_t i = 0; i < 45; ++i)
        p.pixels.push_back({static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(i * 91 + 5),
                            static_cast<std::uint8_t>(255 - i * 13), static_cast<std::uint8_t>(i % 4 == 0 ? 255 : i * 29)});
    const Bytes input = test::bitmapOf(p);
    std::vector<std::uint8_t> rgba;
    for (const test::Rgba& c : p.pixels) rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
    const struct {
        int levels, depth;
        graybmp_dither dither;
        const char* name;
        int compact;
    } asks[] = {{256, 8, GRAYBMP_DITHER_NONE, "none", 0}, {0, 0, GRAYBMP_DITHER_NONE, "none", 1},
                {2, 1, GRAYBMP_DITHER_FLOYD_STEINBERG, "floyd-steinberg", 0}, {5, 4, GRAYBMP_DITHER_ORDERED, "ordered", 0}};
    std::size_t k = 0;
    for (const std::uint32_t background : {0x000000u, 0xFFFFFFu, 0x336699u})
        for (const auto& a : asks) {
            const test::Method m = test::kMethods[k++ % std::size(test::kMethods)];
            graybmp_options o;
            graybmp_options_init(&o);
            graybmp_options_set_method(&o, test::methodName(m), nullptr);
            o.levels = a.levels, o.depth = a.depth, o.dither = a.dither, o.compact = a.compact;
            std::vector<std::uint8_t> out(4096);
            EXPECT_EQ(graybmp_convert_memory(input.data(), input.size(), out.data(), out.size(), &o, nullptr, nullptr),
                      GRAYBMP_TRANSLUCENT);
            o.background_given = 1, o.background = background;
            const Bytes want = test::expectedLevels(test::bitmapOf(test::composited(p, background)), m,
                                                    a.levels == 0 ? 256 : a.levels, a.levels == 0 ? 8 : a.depth, a.name);
            const std::string what = std::string(a.name) + ", " + std::to_string(a.levels) + " levels on " +
                                     std::to_string(background) + ", " + test::methodName(m);
            EXPECT_EQ(test::libraryProblem(input, o, ownFolder(), &want), "") << what;
            if (a.compact != 0) continue;  // pixels in have no compact form
            Bytes fromPixels(want.size());
            EXPECT_EQ(graybmp_from_pixels(rgba.data(), 9, 5, 36, GRAYBMP_LAYOUT_RGBA, 0, &o, fromPixels.data(),
                                          fromPixels.size(), nullptr, nullptr),
                      GRAYBMP_OK);
            EXPECT_EQ(fromPixels, want) << what;
        }
}

TEST(Pictures, FormatsNotInThisBuildAreRefusedAsUnsupported) {
    // A picture of each format, the least its signature needs and a little more.
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R',
                       0, 0, 0, 1, 0, 0, 0, 1, 8, 2, 0, 0, 0, 0, 0, 0, 0};
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0};
    for (const auto& [kind, file] : {std::pair{GRAYBMP_KIND_PNG, png}, {GRAYBMP_KIND_GIF, gif}}) {
        std::vector<std::uint8_t> out(4096);
        graybmp_error e{};
        const graybmp_status s =
            graybmp_convert_memory(file.data(), file.size(), out.data(), out.size(), nullptr, nullptr, &e);
        EXPECT_EQ(graybmp_picture_kind(file.data(), file.size()), kind);
        if (!test::buildDecodes(kind)) EXPECT_EQ(s, GRAYBMP_PICTURE_UNSUPPORTED) << e.message;
        else EXPECT_EQ(s, GRAYBMP_PICTURE_CORRUPT) << e.message;  // cut short
    }
}

// Pixels out, against the tests' decoder of the levels' reference: every kind at a few
// widths, by the next method, levels and dithering, as grays and as indices, into rows
// wider than the picture (their padding untouched), and row by row through the callback;
// a short buffer and a stride below the width refused; a translucent pixel refused, and
// the picture made opaque then taken.
TEST(Pixels, EveryKindGivesTheDecodedGraysOfItsLevels) {
    const char* const dithers[] = {"none", "floyd-steinberg", "atkinson", "ordered"};
    // Levels as asked: a count, or a depth alone, which asks for 2^depth of them.
    const struct {
        int levels, depth;
    } asks[] = {{256, 0}, {2, 0}, {3, 0}, {4, 0}, {16, 0}, {255, 0}, {0, 1}, {0, 2}, {0, 4}};
    const std::size_t nAsks = std::size(asks);
    std::size_t k = 0;
    for (const test::Shape& s : test::everyKind({1, 5, 13})) {
        if (s.bits == 64 || s.compression == 6) continue;
        Bytes input = test::makePicture(s);
        const auto ask = asks[k % nAsks];
        const int n = ask.levels != 0 ? ask.levels : 1 << ask.depth;
        const char* dither = n == 256 ? "none" : dithers[k / nAsks % 4];
        const test::Method m = test::kMethods[k++ % std::size(test::kMethods)];
        graybmp_options o;
        graybmp_options_init(&o);
        o.method = static_cast<graybmp_method>(static_cast<int>(m));
        o.weights[0] = test::kMethodWeights[0], o.weights[1] = test::kMethodWeights[1];
        o.weights[2] = test::kMethodWeights[2];
        o.levels = ask.levels;
        o.depth = ask.depth;
        for (std::size_t d = 0; d < 4; ++d)
            if (std::string(dither) == dithers[d]) o.dither = static_cast<graybmp_dither>(d);
        const std::string what = test::describe(s) + ", " +
                                 (ask.levels != 0 ? std::to_string(n) + " levels, "
                                                  : "depth " + std::to_string(ask.depth) + " alone, ") +
                                 dither;
        if (s.masks[3] != 0) {
            ImageLayout l{};
            checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), l);
            std::vector<std::uint8_t> pixels(static_cast<std::size_t>(l.width * l.rowCount));
            EXPECT_EQ(graybmp_pixels(input.data(), input.size(), &o, 0, pixels.data(),
                                     static_cast<std::size_t>(l.width), pixels.size(), nullptr, nullptr, nullptr),
                      GRAYBMP_TRANSLUCENT)
                << what;
            makeOpaque(input, l);
        }
        test::Picture want;
        std::string why;
        ASSERT_TRUE(test::decodePicture(test::expectedLevels(input, m, n, 8, dither), want, why)) << why;
        const auto width = static_cast<std::size_t>(want.width), rows = static_cast<std::size_t>(want.height);
        for (const int flags : {0, GRAYBMP_PIXELS_INDICES}) {
            const std::size_t stride = width + 3;
            std::vector<std::uint8_t> pixels(stride * rows, 0xEE);
            std::uint32_t w = 0, h = 0;
            graybmp_error e;
            ASSERT_EQ(graybmp_pixels(input.data(), input.size(), &o, flags, pixels.data(), stride,
                                     pixels.size() - 3, &w, &h, &e),
                      GRAYBMP_OK)
                << what << ": " << e.message;
            EXPECT_EQ(w, width) << what;
            EXPECT_EQ(h, rows) << what;
            for (std::size_t y = 0; y < rows; ++y)
                for (std::size_t x = 0; x < stride; ++x) {
                    const int gray = want.pixels[y * width + std::min(x, width - 1)].r;
                    const int index = (2 * gray * (n - 1) + 255) / 510;  // gray is a level: its index
                    const int expected = x >= width ? 0xEE : flags != 0 ? index : gray;
                    if (pixels[y * stride + x] != expected) {
                        ADD_FAILURE() << what << (flags != 0 ? ", indices" : "") << ": row " << y
                                      << ", column " << x << " is " << int{pixels[y * stride + x]}
                                      << ", not " << expected;
                        y = rows;
                        break;
                    }
                }
        }
        // The callback form: each row once, with its picture row.
        struct Rows {
            const test::Picture* want;
            std::size_t seen = 0;
            bool right = true;
        } got{&want};
        struct Reader {
            const Bytes* data;
            std::size_t at = 0;
        } source{&input};
        const graybmp_reader reader{
            &source,
            [](void* c, void* buffer, size_t count) -> long long {
                auto& r = *static_cast<Reader*>(c);
                const std::size_t n2 = std::min(count, r.data->size() - r.at);
                std::copy_n(r.data->begin() + static_cast<std::ptrdiff_t>(r.at), n2, static_cast<std::uint8_t*>(buffer));
                r.at += n2;
                return static_cast<long long>(n2);
            },
            nullptr, nullptr};
        ASSERT_EQ(graybmp_pixels_stream(
                      &reader, nullptr, 0, &o, 0,
                      [](void* c, uint32_t row, const unsigned char* p, uint32_t w) {
                          auto& r = *static_cast<Rows*>(c);
                          for (std::uint32_t x = 0; x < w; ++x)
                              r.right = r.right && p[x] == r.want->pixels[row * w + x].r;
                          ++r.seen;
                          return 0;
                      },
                      &got, nullptr),
                  GRAYBMP_OK)
            << what;
        EXPECT_TRUE(got.right && got.seen == rows) << what << ": through the callback";
        // Too short by a byte, and a stride below the width.
        graybmp_error e;
        std::vector<std::uint8_t> pixels(width * rows);
        EXPECT_EQ(graybmp_pixels(input.data(), input.size(), &o, 0, pixels.data(), width, pixels.size() - 1,
                                 nullptr, nullptr, &e),
                  GRAYBMP_BUFFER_TOO_SHORT)
            << what;
        EXPECT_EQ(e.needed, pixels.size()) << what;
        EXPECT_EQ(graybmp_pixels(input.data(), input.size(), &o, 0, pixels.data(), width - 1, pixels.size(),
                                 nullptr, nullptr, &e),
                  GRAYBMP_BAD_ARGUMENT)
            << what;
    }
    EXPECT_GT(k, 50u);
}

// RLE decoded for levels by the format's rules: what a delta or an end of line skips, and
// all after the data's end, is index 0; a run past the row's end is dropped; an absolute
// run is padded to whole words; RLE4 alternates its nibbles. A palette of grays i, i, i
// makes each pixel's index its gray: the pixels at 256 levels, top row first.
// The form each kind and option takes, by the README's table of what it converts and
// how: levels first, then the compact form of true colour, then bitmap arrays, the 8-bit
// rows, and recolouring for the rest; and the refusals of the levels and the compact form.
TEST(Forms, EachKindAndOptionTakesItsForm) {
    const auto layout = [](ImageKind kind, int bits, std::uint32_t compression, std::int32_t height, bool array) {
        ImageLayout l{};
        l.kind = kind, l.bitCount = bits, l.compression = compression, l.height = height, l.arrayFirst = array;
        return l;
    };
    Settings plain, compact, levels;
    compact.compact = true;
    levels.levels = Levels{4, 2, Dither::None};
    const struct {
        const char* name;
        ImageLayout layout;
        const Settings& settings;
        const char* form;
        graybmp_status refusal;
    } cases[] = {
        {"8 bits", layout(ImageKind::Indexed8, 8, 0, 5, false), plain, "indexed8", GRAYBMP_OK},
        {"4 bits", layout(ImageKind::Palettized, 4, 0, 5, false), plain, "recolour", GRAYBMP_OK},
        {"24 bits", layout(ImageKind::TrueColour, 24, 0, 5, false), plain, "recolour", GRAYBMP_OK},
        {"RLE24", layout(ImageKind::Rle24, 24, 4, 5, false), plain, "recolour", GRAYBMP_OK},
        {"array", layout(ImageKind::Palettized, 4, 0, 5, true), plain, "array", GRAYBMP_OK},
        {"compact 24 bits", layout(ImageKind::TrueColour, 24, 0, 5, false), compact, "compact", GRAYBMP_OK},
        {"compact 8 bits", layout(ImageKind::Indexed8, 8, 0, 5, false), compact, "indexed8", GRAYBMP_OK},
        {"compact 64 bits", layout(ImageKind::TrueColour, 64, 0, 5, false), compact, "compact", GRAYBMP_COMPACT_KIND},
        {"compact RLE24", layout(ImageKind::Rle24, 24, 4, 5, false), compact, "compact", GRAYBMP_COMPACT_KIND},
        {"compact array", layout(ImageKind::Palettized, 4, 0, 5, true), compact, "compact", GRAYBMP_COMPACT_KIND},
        {"levels 8 bits", layout(ImageKind::Indexed8, 8, 0, 5, false), levels, "levels", GRAYBMP_OK},
        {"levels RLE8", layout(ImageKind::Palettized, 8, 1, 5, false), levels, "levels", GRAYBMP_OK},
        {"levels top-down RLE4", layout(ImageKind::Palettized, 4, 2, -5, false), levels, "levels", GRAYBMP_LEVELS_KIND},
        {"levels Huffman", layout(ImageKind::Palettized, 1, 3, 5, false), levels, "levels", GRAYBMP_LEVELS_KIND},
        {"levels 64 bits", layout(ImageKind::TrueColour, 64, 0, 5, false), levels, "levels", GRAYBMP_LEVELS_KIND},
        {"levels RLE24", layout(ImageKind::Rle24, 24, 4, 5, false), levels, "levels", GRAYBMP_LEVELS_KIND},
        {"levels array", layout(ImageKind::TrueColour, 24, 0, 5, true), levels, "levels", GRAYBMP_LEVELS_KIND},
        {"levels top-down 24 bits", layout(ImageKind::TrueColour, 24, 0, -5, false), levels, "levels", GRAYBMP_OK},
    };
    for (const auto& c : cases) {
        const FormRow& form = formOf(c.layout, c.settings);
        EXPECT_STREQ(form.name, c.form) << c.name;
        Failure f;
        EXPECT_EQ(form.takes(c.layout, c.settings, f), c.refusal == GRAYBMP_OK) << c.name;
        EXPECT_EQ(f.status, c.refusal) << c.name;
        EXPECT_EQ(f.message.find("--"), std::string::npos) << c.name << ": " << f.message;
    }
}

// The library's reasons in the tool's words: its option names where the library speaks of
// what they ask for, whole phrases only, every other reason as it is.
TEST(Messages, TheToolNamesItsOptions) {
    const struct {
        const char* library;
        const char* tool;
    } cases[] = {
        {"the levels take palettized images, not RLE24 ones", "--levels takes palettized images, not RLE24 ones"},
        {"has pixels that are not opaque; the levels would drop their alpha",
         "has pixels that are not opaque; --levels would drop their alpha"},
        {"the compact form takes 16-, 24- and 32-bit images only", "--compact writes 16-, 24- and 32-bit images only"},
        {"has pixels that are not opaque; the compact form would drop their alpha",
         "has pixels that are not opaque; --compact would drop their alpha"},
        {"dithering needs levels", "dithering needs levels (--levels)"},
        {"dithering needs fewer than 256 levels", "dithering needs fewer than 256 levels"},
        {"dithering needs levelsX", "dithering needs levelsX"},
        {"not a BMP file", "not a BMP file"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(toolWords(c.library), c.tool) << c.library;
}

TEST(Levels, RunsDecodeByTheFormatsRules) {
    const struct {
        const char* name;
        int bits;  // 8 (RLE8) or 4 (RLE4)
        Bytes codes;
        std::vector<int> pixels;  // 4 x 3, top row first
    } cases[] = {
        {"run, end of line, delta down and right, end of bitmap", 8,
         {3, 7, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1},
         {0, 9, 9, 0, 0, 0, 0, 0, 7, 7, 7, 0}},
        {"data ending inside the first row", 8, {2, 5}, {0, 0, 0, 0, 0, 0, 0, 0, 5, 5, 0, 0}},
        {"a run past the row's end", 8, {6, 3, 0, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 3, 3, 3, 3}},
        {"an odd absolute run and its pad", 8, {0, 3, 1, 2, 3, 0, 2, 4, 0, 1},
         {0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4}},
        {"a delta past the last row", 8, {1, 8, 0, 2, 0, 9, 1, 1}, {0, 0, 0, 0, 0, 0, 0, 0, 8, 0, 0, 0}},
        {"RLE4 nibbles, and an absolute run of three", 4, {4, 0x12, 0, 0, 0, 3, 0x45, 0x60, 0, 1},
         {0, 0, 0, 0, 4, 5, 6, 0, 1, 2, 1, 2}},
    };
    for (const auto& c : cases) {
        const std::size_t entries = std::size_t{1} << c.bits;
        Bytes file(54 + 4 * entries, 0);
        for (std::size_t i = 0; i < entries; ++i) std::fill_n(&file[54 + 4 * i], 3, static_cast<std::uint8_t>(i));
        file.insert(file.end(), c.codes.begin(), c.codes.end());
        file[0] = 'B', file[1] = 'M';
        test::setU32(file, 2, static_cast<std::uint32_t>(file.size()));
        test::setU32(file, 10, static_cast<std::uint32_t>(54 + 4 * entries));
        test::setU32(file, 14, 40);
        test::setU32(file, 18, 4), test::setU32(file, 22, 3);
        test::setU16(file, 26, 1), test::setU16(file, 28, static_cast<std::uint32_t>(c.bits));
        test::setU32(file, 30, c.bits == 8 ? 1 : 2);
        test::setU32(file, 34, static_cast<std::uint32_t>(c.codes.size()));
        std::uint8_t pixels[12];
        graybmp_error e;
        ASSERT_EQ(graybmp_pixels(file.data(), file.size(), nullptr, 0, pixels, 4, sizeof pixels,
                                 nullptr, nullptr, &e),
                  GRAYBMP_OK)
            << c.name << ": " << e.message;
        EXPECT_EQ(std::vector<int>(pixels, pixels + 12), c.pixels) << c.name;
    }
}

// GRAYBMP_CPU's names: every target's own, the two older ones, and nothing else.
TEST(Targets, NamesAndTheirAliases) {
    const struct {
        const char* name;
        bool known;
        Cpu cpu;
    } cases[] = {{"scalar", true, Cpu::Scalar}, {"sse4", true, Cpu::Sse4},
                 {"avx3_dl", true, Cpu::Avx3Dl}, {"sve2", true, Cpu::Sve2},
                 {"wasm", true, Cpu::Wasm},      {"baseline", true, Cpu::Scalar},
                 {"avx512", true, Cpu::Avx3},    {"AVX2", false, Cpu::Scalar},
                 {"avx3-dl", false, Cpu::Scalar}, {"", false, Cpu::Scalar}};
    for (const auto& c : cases) {
        Cpu cpu = Cpu::Scalar;
        EXPECT_EQ(cpuNamed(c.name, cpu), c.known) << c.name;
        if (c.known) {
            EXPECT_EQ(cpu, c.cpu) << c.name;
        }
    }
    for (int k = 0; k < kCpus; ++k) {  // each name names its own target
        Cpu cpu = Cpu::Scalar;
        EXPECT_TRUE(cpuNamed(cpuName(static_cast<Cpu>(k)), cpu) && cpu == static_cast<Cpu>(k)) << k;
    }
    const std::vector<Cpu> cpus = availableCpus();
    EXPECT_EQ(cpus.front(), Cpu::Scalar);
    EXPECT_TRUE(std::find(cpus.begin(), cpus.end(), processCpu()) != cpus.end());
}

}  // namespace
}  // namespace graybmp
