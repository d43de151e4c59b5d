// graybmp run as a user runs it: in a folder holding "_Carib256.bmp", standard input from
// /dev/null. GRAYBMP_COMMAND replaces the command that starts the tool (an emulator in
// front of a cross-built binary, say); GRAYBMP_NATIVE=0 says the tool is not a POSIX
// process (Windows under wine), which skips what only such a process can be held to:
// address-space and file-size limits, signals, permission bits and links to nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <map>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bitmap/check.h"
#include "formats.h"
#include "graybmp.h"
#include "library.h"
#include "testkit.h"

namespace graybmp {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const char* const kInput = "_Carib256.bmp";
const char* const kOutput = "_Carib256NEW.bmp";
const Bytes kSentinel = {'o', 'l', 'd', ' ', 'o', 'u', 't', 'p', 'u', 't'};

std::string toolCommand() {
    const char* command = std::getenv("GRAYBMP_COMMAND");
    return command != nullptr && *command != '\0' ? command : GRAYBMP_BINARY;
}

bool posixTool() {
    const char* native = std::getenv("GRAYBMP_NATIVE");
    return native == nullptr || std::string(native) != "0";
}

// Line ends as the platform's console writes them; the report is compared without CRs.
std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

struct Outcome {
    int status;
    std::string out, err;
};

class Folder : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "graybmp-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    std::string path(const char* name) const { return (dir_ / name).string(); }
    void put(const char* name, const Bytes& bytes) const { test::writeFile(path(name), bytes); }
    Bytes get(const char* name) const { return test::readFile(path(name)); }
    bool exists(const char* name) const {
        struct stat st;
        return lstat(path(name).c_str(), &st) == 0;
    }
    std::size_t entries() const {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), {}));
    }

    // Runs `tool` in the folder, after the shell commands in `before` (a limit, say).
    Outcome run(const std::string& tool = toolCommand(), const std::string& before = "") const {
        const std::string command =
            "cd '" + dir_.string() + "' && " + before + tool + " </dev/null >.stdout 2>.stderr";
        const int raw = std::system(command.c_str());
        Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, "", ""};
        const Bytes out = get(".stdout"), err = get(".stderr");
        r.out = withoutCarriageReturns(std::string(out.begin(), out.end()));
        r.err = withoutCarriageReturns(std::string(err.begin(), err.end()));
        fs::remove(dir_ / ".stdout");
        fs::remove(dir_ / ".stderr");
        return r;
    }

    // Whether the tool under test decodes the format of `picture` (a valid one): a build
    // for another platform may decode fewer formats than these tests were built with.
    bool toolDecodes(const Bytes& picture) const {
        put("probe.pic", picture);
        const Outcome r = run(toolCommand() + " probe.pic -o probe.bmp");
        fs::remove(dir_ / "probe.pic");
        fs::remove(dir_ / "probe.bmp");
        return r.err.find("does not decode") == std::string::npos;
    }

    // Converts `input` and checks the output against the expected gray copy.
    void expectConverted(const Bytes& input, const std::string& what) {
        put(kInput, input);
        put(kOutput, kSentinel);
        const Outcome r = run();
        EXPECT_EQ(r.status, 0) << what << ": " << r.err;
        EXPECT_EQ(r.err, "") << what;
        EXPECT_EQ(get(kInput), input) << what;
        const Bytes output = get(kOutput);
        const Bytes expected = test::expectedGrayCopy(input);
        EXPECT_EQ(output.size(), expected.size()) << what;
        EXPECT_TRUE(output == expected) << what;
        EXPECT_EQ(test::libraryProblem(input, test::Method::Mean, false, dir_.string(), &output), "")
            << what;
    }

    // Converts `input` of any kind: the output decodes to the gray of the input's picture
    // by `method` (but for 64-bit pixels), and holds the input's bytes but for the colours.
    void expectGray(const Bytes& input, const std::string& what,
                    test::Method method = test::Method::Mean) {
        put(kInput, input);
        put(kOutput, kSentinel);
        const std::string args =
            std::string(" -m ") + test::methodName(method) + " " + kInput + " -o " + kOutput;
        const Outcome r = method == test::Method::Mean ? run() : run(toolCommand() + args);
        ASSERT_EQ(r.status, 0) << what << ": " << r.err;
        const Bytes output = get(kOutput);
        ImageLayout layout{};
        checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), layout);
        if (layout.bitCount != 64) {  // no viewer shows linear 64-bit pixels: the bytes below
            test::Picture before, after;
            std::string why;
            ASSERT_TRUE(test::decodePicture(input, before, why)) << what << ": input " << why;
            ASSERT_TRUE(test::decodePicture(output, after, why)) << what << ": output " << why;
            EXPECT_EQ(test::grayPictureProblem(before, after, method), "") << what;
        }
        EXPECT_EQ(test::grayCopyProblem(input, output, layout, method), "") << what;
        EXPECT_EQ(test::libraryProblem(input, method, false, dir_.string(), &output), "") << what;
    }

    // Runs on an input that must be refused: exit 1, one line naming the input, and the
    // existing output left as it was.
    // `options`: run with them, the input and -o the output instead of without arguments.
    Outcome expectRefused(const std::string& what, const std::string& reason,
                          const std::string& options = "") {
        put(kOutput, kSentinel);
        const std::size_t before = entries();
        const Outcome r = options.empty() ? run()
                                          : run(toolCommand() + " " + options + " " + kInput +
                                                " -o " + kOutput);
        EXPECT_EQ(r.status, 1) << what;
        EXPECT_EQ(r.err.rfind(std::string("graybmp: ") + kInput + ": ", 0), 0u) << what << r.err;
        EXPECT_NE(r.err.find(reason), std::string::npos) << what << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
        EXPECT_EQ(get(kOutput), kSentinel) << what;
        EXPECT_EQ(entries(), before) << what << ": stray files";
        if (fs::is_regular_file(path(kInput)) && options.empty()) {  // and every way in the library
            EXPECT_EQ(test::libraryProblem(get(kInput), test::Method::Mean, false, dir_.string(),
                                           nullptr),
                      "")
                << what;
        }
        return r;
    }

    fs::path dir_;
};

using Conversion = Folder;

TEST_F(Conversion, RoadExampleWritesHeadersGrayPaletteAndPaddedRows) {
    Bytes input = test::sample(5, 2);
    input[1078 + 5] = 0xE1;  // input padding is never copied
    input[1078 + 6] = 0xE2;
    input[1078 + 7] = 0xE3;
    put(kInput, input);
    const Outcome r = run();
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Type: BMP file\nSize: 1094\nWidth: 5\nHeight: 2\nBitCount: 8\n");
    const Bytes out = get(kOutput);
    ASSERT_EQ(out.size(), 1094u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 54, input.begin()));
    for (std::size_t e = 54; e < 1078; e += 4) {
        EXPECT_EQ(out[e], (input[e] + input[e + 1] + input[e + 2]) / 3) << "entry at " << e;
        EXPECT_TRUE(out[e] == out[e + 1] && out[e] == out[e + 2]) << "entry at " << e;
    }
    for (std::size_t row = 0; row < 2; ++row) {
        const std::size_t at = 1078 + row * 8;
        for (std::size_t x = 0; x < 5; ++x) EXPECT_EQ(out[at + x], input[at + x]);
        for (std::size_t p = 0; p < 3; ++p) EXPECT_EQ(out[at + 5 + p], input[at + p]);
    }
    EXPECT_EQ(out, test::expectedGrayCopy(input));
}

TEST_F(Conversion, ShapesAndLayouts) {
    struct Case {
        std::string name;
        SampleOptions options;
        std::size_t extraTail;
    };
    std::vector<Case> cases;
    for (std::int32_t w = 0; w <= 9; ++w)
        for (std::int32_t h : {1, 3, -2}) {
            SampleOptions o;
            o.width = w;
            o.height = h;
            o.paddingByte = 0xEE;
            cases.push_back({"w" + std::to_string(w) + " h" + std::to_string(h), o, 0});
        }
    for (std::uint32_t info : {52u, 56u, 64u, 108u, 124u}) {
        SampleOptions o;
        o.width = 7;
        o.height = 4;
        o.infoHeaderSize = info;
        cases.push_back({"biSize " + std::to_string(info), o, 0});
    }
    const struct {
        const char* name;
        std::int64_t offset;
        std::int32_t width, height;
    } offsets[] = {{"gap before rows", 1200, 6, 3},
                   {"rows inside the palette", 54 + 64, 4, 4},
                   {"file shorter than the palette", 54 + 16, 2, 2},
                   {"one pixel, short file", 54, 1, 1},
                   {"no rows, no pixels", 1078, 0, 0}};
    for (const auto& c : offsets) {
        SampleOptions o;
        o.width = c.width;
        o.height = c.height;
        o.pixelOffset = c.offset;
        cases.push_back({c.name, o, 0});
    }
    SampleOptions wide;
    wide.width = 300001;  // rows larger than the stream buffers
    wide.height = 3;
    cases.push_back({"rows wider than the buffers", wide, 0});
    SampleOptions tall;
    tall.width = 3;
    tall.height = 70000;  // many buffer refills with padding across their edges
    cases.push_back({"many narrow rows", tall, 0});
    SampleOptions tailed;
    tailed.width = 5;
    tailed.height = 2;
    cases.push_back({"bytes after the last row", tailed, 7});

    for (const Case& c : cases) {
        Bytes input = test::sample(c.options);
        for (std::size_t i = 0; i < c.extraTail; ++i)
            input.push_back(static_cast<std::uint8_t>(0xA0 + i));
        expectConverted(input, c.name);
    }
}

TEST_F(Conversion, OutputLengthRule) {
    const struct {
        const char* name;
        std::int32_t width, height;
        std::int64_t offset;
        std::size_t cut, expected;
    } cases[] = {
        {"road example", 5, 2, 1078, 0, 1094},
        {"top-down keeps its rows", 5, -2, 1078, 0, 1094},
        {"width 0", 0, 5, 1078, 0, 1078},
        {"height 0", 9, 0, 1078, 0, 1078},
        {"last padding missing", 5, 2, 1078, 3, 1094},
        {"gap before rows", 8, 2, 2000, 0, 2016},
        {"small palette", 4, 1, 54 + 8, 0, 1078},
    };
    for (const auto& c : cases) {
        SampleOptions o;
        o.width = c.width;
        o.height = c.height;
        o.pixelOffset = c.offset;
        Bytes input = test::sample(o);
        input.resize(input.size() - c.cut);
        put(kInput, input);
        const Outcome r = run();
        EXPECT_EQ(r.status, 0) << c.name << ": " << r.err;
        const Bytes out = get(kOutput);
        EXPECT_EQ(out.size(), c.expected) << c.name;
        EXPECT_TRUE(out == test::expectedGrayCopy(input)) << c.name;
    }
}

TEST_F(Conversion, NoRowsAndPixelsPastTheEndStillKeepsTheInputLength) {
    Bytes input = test::sample(0, 3);
    input.resize(1078 + 100, 0x33);
    test::setU32(input, 10, 0x7FFFFFF0);
    expectConverted(input, "offset past the end");
}

TEST_F(Conversion, GapBeforeRowsReadsAsZerosAndPaletteBytesRowsMissKeepGray) {
    SampleOptions o;
    o.width = 4;
    o.height = 2;
    o.pixelOffset = 1100;
    Bytes input = test::sample(o);
    std::fill(input.begin() + 1078, input.begin() + 1100, 0x5A);
    expectConverted(input, "gap");
    const Bytes out = get(kOutput);
    EXPECT_TRUE(std::all_of(out.begin() + 1078, out.begin() + 1100, [](auto b) { return b == 0; }));

    o.pixelOffset = 54 + 40;  // ten palette entries, then rows over the rest of the block
    input = test::sample(o);
    // Past the rows the file goes on with coloured entries up to the block's end.
    for (std::size_t e = 102; e < 1078; e += 4) input.insert(input.end(), {10, 20, 31, 0x7F});
    expectConverted(input, "rows over the palette");
    const Bytes over = get(kOutput);
    EXPECT_TRUE(std::equal(over.begin() + 94, over.begin() + 102, input.begin() + 94));
    EXPECT_EQ(Bytes(over.begin() + 102, over.begin() + 106), (Bytes{20, 20, 20, 0x7F}));
    EXPECT_EQ(Bytes(over.begin() + 1074, over.begin() + 1078), (Bytes{20, 20, 20, 0x7F}));
}

TEST_F(Conversion, ReplacesAnExistingOutputAndWritesThroughASymbolicLink) {
    const Bytes input = test::sample(9, 9);
    put(kOutput, Bytes(5000, 0x77));
    put(kInput, input);
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(get(kOutput), test::expectedGrayCopy(input));
    fs::remove(path(kOutput));
    fs::create_symlink(path("elsewhere.bmp"), path(kOutput));
    put("elsewhere.bmp", kSentinel);
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(get("elsewhere.bmp"), test::expectedGrayCopy(input));
    EXPECT_TRUE(fs::is_symlink(path(kOutput)));
    if (!posixTool()) return;  // Windows replaces a link to nothing with the file itself
    fs::remove(path("elsewhere.bmp"));
    ASSERT_EQ(run().status, 0);
    EXPECT_EQ(get("elsewhere.bmp"), test::expectedGrayCopy(input));
    EXPECT_TRUE(fs::is_symlink(path(kOutput)));
}

// Every palettized and true-colour kind, at widths that need each padding, by each gray
// method in turn; 64-bit pixels, whose signed channels each method takes its own way, by
// every method.
TEST_F(Conversion, EveryKindTurnsGray) {
    const char* const dithers[] = {"none", "floyd-steinberg", "atkinson", "ordered"};
    const int counts[] = {2, 3, 4, 16, 255, 256, 7};
    for (const test::Shape& s : test::everyKind({0, 1, 2, 3, 5, 8, 13})) {
        const test::Method one = test::kMethods[s.seed % std::size(test::kMethods)];
        const Bytes input = test::makePicture(s);
        for (const test::Method method : test::kMethods)
            if (method == one || s.bits == 64)
                expectGray(input, test::describe(s) + ", " + test::methodName(method), method);
        // And its levels, by the next count and dithering, at the default depth: the same
        // bytes on every platform the suite runs on.
        ImageLayout l{};
        checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), l);
        if (s.bits == 64 || l.alphaMask != 0) continue;  // refused (the refusal table's)
        const int n = counts[s.seed % std::size(counts)];
        const std::string dither = n == 256 ? "none" : dithers[s.seed / 2 % 4];
        put(kInput, input);
        const Outcome r = run(toolCommand() + " --levels " + std::to_string(n) + " --dither " + dither +
                              " -m " + test::methodName(one) + " " + kInput + " -o levels.bmp");
        EXPECT_EQ(r.status, 0) << test::describe(s) << ": " << r.err;
        EXPECT_TRUE(get("levels.bmp") ==
                    test::expectedLevels(input, one, n, n <= 2 ? 1 : n <= 16 ? 4 : 8, dither))
            << test::describe(s) << ", " << n << " levels, " << dither;
    }
    SampleOptions picture;  // the sample picture in true colour
    picture.width = 37, picture.height = 11, picture.bitCount = 24;
    expectGray(test::sample(picture), "24-bit sample");
}

using Refusal = Folder;

TEST_F(Refusal, EachClassLeavesTheOutputAlone) {
    const Bytes good = test::sample(5, 3);
    const auto edited = [&](std::size_t at, std::uint32_t value, bool word = true) {
        Bytes b = good;
        word ? test::setU32(b, at, value) : test::setU16(b, at, value);
        return b;
    };
    Bytes v5 = test::sample([] {
        SampleOptions o;
        o.infoHeaderSize = 124;
        return o;
    }());
    const auto shape = [](int bits, std::uint32_t compression, std::vector<std::uint32_t> masks) {
        test::Shape s;
        s.bits = bits, s.compression = compression;
        std::copy(masks.begin(), masks.end(), s.masks);
        return test::makePicture(s);
    };
    Bytes runsOutside = shape(8, 1, {});
    test::setU32(runsOutside, 10, static_cast<std::uint32_t>(runsOutside.size()));
    Bytes shortTrue = shape(24, 0, {});
    shortTrue.resize(shortTrue.size() - 4);
    test::Shape os2, rgb;
    os2.infoSize = 64, os2.bits = 4, os2.compression = 3;
    rgb.bits = 24;
    const Bytes pal = shape(4, 0, {});
    const Bytes two = test::bitmapArray({pal, test::makePicture(rgb)});
    const std::size_t second = 14 + test::u32At(pal, 10);  // the second entry's array header
    const auto chain = [&](std::size_t at, std::uint32_t value, bool word = true) {
        Bytes b = two;
        word ? test::setU32(b, at, value) : test::setU16(b, at, value);
        return b;
    };
    // Three palettized bitmaps whose last header's next one lies back in the first entry.
    const auto back = [&](std::uint32_t to) {
        Bytes b = test::bitmapArray({pal, pal, pal});
        test::setU32(b, 2 * second + 6, to);
        return b;
    };
    test::Shape huffman, rle24, wide, topDownRle, alpha;
    huffman.infoSize = 64, huffman.bits = 1, huffman.compression = 3;
    rle24.infoSize = 64, rle24.bits = 24, rle24.compression = 4;
    wide.bits = 64;
    topDownRle.bits = 8, topDownRle.compression = 1, topDownRle.height = -4;
    alpha.infoSize = 124, alpha.bits = 32, alpha.compression = 3;
    const std::uint32_t alphaMasks[4] = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
    std::copy(alphaMasks, alphaMasks + 4, alpha.masks);
    struct Case {
        const char* name;
        Bytes file;
        const char* reason;
        bool report;
        const char* options = "";  // run with these, the input and -o the output
    };
    std::vector<Case> cases = {
        {"levels of OS/2 Huffman", test::makePicture(huffman), "--levels takes", false, "--levels 4"},
        {"levels of RLE24", test::makePicture(rle24), "not RLE24 ones", false, "--levels 4"},
        {"levels of a bitmap array", two, "not a bitmap array ones", false, "--levels 2"},
        {"levels of 64-bit pixels", test::makePicture(wide), "not 64-bit ones", false, "--depth 2"},
        {"levels of top-down RLE", test::makePicture(topDownRle), "not top-down RLE ones", false,
         "--levels 16 --dither ordered"},
        {"levels of translucent pixels", test::makePicture(alpha), "--levels would drop their alpha",
         false, "--levels 3"},
        {"empty", {}, "too short", false},
        {"53 bytes", Bytes(good.begin(), good.begin() + 53), "too short", false},
        {"not BM", edited(0, 0x4D58, false), "not a BMP file", true},
        {"unknown info header", edited(14, 66), "info header size 66", true},
        {"info header cut", Bytes(v5.begin(), v5.begin() + 100), "ends inside", true},
        {"48-bit", edited(28, 48, false), "48 bits per pixel", true},
        {"RLE4 on 8 bits", edited(30, 2), "does not fit 8 bits", true},
        {"PNG inside", edited(30, 5), "PNG", true},
        {"negative width", edited(18, 0xFFFFFFFB), "negative width", true},
        {"pixels inside headers", edited(10, 20), "inside the headers", true},
        {"rows do not fit", Bytes(good.begin(), good.end() - 4), "rows of 5 pixels", true},
        {"height INT32_MAX", edited(22, 0x7FFFFFFF), "rows of 5 pixels", true},
        {"height INT32_MIN", edited(22, 0x80000000), "rows of 5 pixels", true},
        {"a zero mask", shape(16, 3, {0xF800, 0x07E0, 0}), "is zero", true},
        {"a mask with a gap", shape(32, 3, {0xFF0F0000, 0xFF00, 0xFF}), "gaps", true},
        {"overlapping masks", shape(16, 3, {0xF800, 0x0FE0, 0x001F}), "share bits", true},
        {"alpha over red", shape(32, 6, {0xFF0000, 0xFF00, 0xFF, 0xFF800000}), "share bits", true},
        {"a mask past 16 bits", shape(16, 3, {0x1F0000, 0x07E0, 0x001F}), "past the pixel's 16",
         true},
        {"bit fields on 4 bits", shape(4, 3, {}), "does not fit 4 bits", true},
        {"RLE8 on 4 bits", shape(4, 1, {}), "does not fit 4 bits", true},
        {"RLE data past the end", runsOutside, "outside the file", true},
        {"true-colour rows cut", shortTrue, "rows of 5 pixels", true},
        {"OS/2 Huffman on 4 bits", test::makePicture(os2), "(Huffman 1D) does not fit 4 bits",
         true},
        {"an array chain that loops", chain(second + 6, static_cast<std::uint32_t>(second)),
         "chain loops", true},
        {"an array chain that leaves the file", chain(6, static_cast<std::uint32_t>(two.size())),
         "past the end of the file", true},
        {"array pixels over the headers", chain(second + 14 + 10, 20), "overlap", true},
        {"an icon in the array chain", chain(second + 14, 0x4349, false), "icons and pointers",
         true},
        {"an array chain back to an earlier entry", back(static_cast<std::uint32_t>(second)),
         "chain loops", true},
        {"an array chain into its first entry's table", back(14 + 14 + 40 + 6), "chain loops",
         true},
    };
    // Pictures of other formats, where this build decodes them: the report once their size
    // is read.
    const std::vector<std::uint8_t> cmyk(4 * 8 * 8, 0x40);
    test::Picture glass;
    glass.width = 3, glass.height = 2;
    glass.pixels.assign(6, test::Rgba{200, 100, 50, 255});
    glass.pixels[4].a = 128;
    std::vector<std::uint8_t> noisy(3 * 16 * 16);
    for (std::size_t i = 0; i < noisy.size(); ++i) noisy[i] = static_cast<std::uint8_t>(i * 37 % 251);
    const Bytes png = test::pngOf(glass), jpeg = test::jpegOf(noisy, 16, 16, 3);
    if (!png.empty() && toolDecodes(png)) {
        cases.push_back({"a PNG cut short", Bytes(png.begin(), png.end() - 20), "ends early", true});
        cases.push_back({"a translucent PNG", png, "not opaque, and no --background", true});
        Bytes inside = test::sample(4, 2);  // a BMP of BI_PNG whose PNG is not the header's size
        inside.resize(54);
        inside.insert(inside.end(), png.begin(), png.end());
        test::setU32(inside, 10, 54), test::setU32(inside, 30, 5), test::setU32(inside, 34, static_cast<std::uint32_t>(png.size()));
        test::setU32(inside, 2, static_cast<std::uint32_t>(inside.size()));
        cases.push_back({"a PNG inside a BMP of another size", inside, "its PNG is 3 x 2, its header says 4 x 2", false,
                         "--levels 2"});
        cases.push_back({"a PNG inside a BMP, not to levels", inside, "levels or the compact form decode it", true});
    }
    if (!jpeg.empty() && toolDecodes(jpeg)) {
        cases.push_back({"a JPEG cut short", Bytes(jpeg.begin(), jpeg.end() - 40), "it ends early", true});
        cases.push_back({"a CMYK JPEG", test::jpegOf(cmyk, 8, 8, 4), "a CMYK or YCCK JPEG", true});
    }
    const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0, 0, 0, 255, 255, 255, 0x2C, 0, 0, 0,
                       0, 1, 0, 1, 0, 0, 2, 2, 0x44, 0x01, 0, 0x3B};  // one pixel
    if (toolDecodes(gif))
        cases.push_back({"a GIF of no image", {'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0, 0, 0, 0x3B},
                         "holds no image", true});
    const auto pnm = [](char magic, const std::string& header, const Bytes& raster) {
        return test::netpbm(magic, header, raster);
    };
    cases.push_back({"a netpbm picture wider than 65535", pnm('5', "\n65536 1\n255\n", Bytes(65536)),
                     "too large (at most 65535 a side", true});
    cases.push_back({"more pixels than --max-pixels", pnm('5', "\n5 3\n255\n", Bytes(15)), "too large", false,
                     "--max-pixels 14"});
    cases.push_back({"a netpbm picture of no pixels", pnm('5', "\n0 3\n255\n", {}), "no pixels (0 x 3)", true});
    cases.push_back({"a netpbm sample above its maxval", pnm('2', "\n2 1\n3\n1 4\n", {}), "above its maxval", true});
    cases.push_back({"a netpbm picture cut short", pnm('6', "\n2 2\n255\n", Bytes(11)), "ends early", true});
    cases.push_back({"a PAM of a tuple type it does not know",
                     pnm('7', "\nWIDTH 1\nHEIGHT 1\nDEPTH 4\nMAXVAL 255\nTUPLTYPE CMYK\nENDHDR\n", Bytes(4)),
                     "tuple type \"CMYK\"", false});
    cases.push_back({"a netpbm maxval of 0", pnm('5', "\n1 1\n0\n", Bytes(1)), "maxval, 0, is not 1 to 65535", false});
    for (const auto& c : cases) {
        put(kInput, c.file);
        const Outcome r = expectRefused(c.name, c.reason, c.options);
        EXPECT_EQ(!r.out.empty(), c.report) << c.name << ": " << r.out;
        EXPECT_EQ(get(kInput), c.file) << c.name;
    }
}

TEST_F(Refusal, NotBmStillReportsItsOtherFourLines) {
    Bytes file = test::sample(64, 64);
    file[0] = 'X';
    put(kInput, file);
    const Outcome r = expectRefused("not BM", "not a BMP file");
    EXPECT_EQ(r.out, "Size: 5174\nWidth: 64\nHeight: 64\nBitCount: 8\n");
}

TEST_F(Refusal, MissingInputOrAFolderInItsPlace) {
    Outcome r = expectRefused("missing", "cannot open");
    EXPECT_EQ(r.out, "");
    fs::create_directory(path(kInput));
    r = expectRefused("folder", "");
    EXPECT_EQ(r.out, "");
}

TEST_F(Refusal, OutputThatIsTheInputItself) {
    const Bytes input = test::sample(6, 6);
    put(kInput, input);
    fs::create_symlink(kInput, path(kOutput));
    Outcome r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is this very file"), std::string::npos) << r.err;
    EXPECT_EQ(get(kInput), input);
    fs::remove(path(kOutput));
    fs::create_hard_link(path(kInput), path(kOutput));
    r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("is this very file"), std::string::npos) << r.err;
    EXPECT_EQ(get(kInput), input);
}

// The report is flushed line by line: it reaches a pipe while the input is still arriving.
TEST_F(Refusal, ReportArrivesThroughAPipeBeforeTheRestOfTheInput) {
    ASSERT_EQ(mkfifo(path(kInput).c_str(), 0600), 0);
    const std::string command =
        "cd '" + dir_.string() + "' && " + toolCommand() + " </dev/null 2>.stderr";
    std::FILE* tool = popen(command.c_str(), "r");
    ASSERT_NE(tool, nullptr);
    const int fifo = open(path(kInput).c_str(), O_WRONLY);  // waits for the tool to open it
    ASSERT_GE(fifo, 0);
    const Bytes file = test::sample(64, 64);
    ASSERT_EQ(write(fifo, file.data(), 54), 54);

    std::string lines;
    char line[128];
    for (int i = 0; i < 5; ++i) {
        pollfd ready{fileno(tool), POLLIN, 0};
        ASSERT_EQ(poll(&ready, 1, 20000), 1) << "no report line " << i << " yet: " << lines;
        ASSERT_NE(std::fgets(line, sizeof line, tool), nullptr);
        lines += line;
    }
    EXPECT_EQ(withoutCarriageReturns(lines),
              "Type: BMP file\nSize: 5174\nWidth: 64\nHeight: 64\nBitCount: 8\n");
    std::signal(SIGPIPE, SIG_IGN);  // the tool may have stopped reading already
    (void)!write(fifo, file.data() + 54, file.size() - 54);
    close(fifo);
    const int status = pclose(tool);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 1);
    const Bytes err = get(".stderr");
    EXPECT_EQ(withoutCarriageReturns(std::string(err.begin(), err.end())),
              "graybmp: _Carib256.bmp: not a regular file\n");
    EXPECT_FALSE(exists(kOutput));
}

using Failure = Folder;

TEST_F(Failure, OutputThatCannotBeCreated) {
    put(kInput, test::sample(4, 4));
    fs::create_directory(path(kOutput));
    const Outcome r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind(std::string("graybmp: ") + kOutput + ": cannot create", 0), 0u) << r.err;
    EXPECT_TRUE(fs::is_directory(path(kOutput)));
}

TEST_F(Failure, AnOutputThatIsADeviceIsNotReplaced) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "needs /dev/full";
    put(kInput, test::sample(16, 16));
    fs::create_symlink("/dev/full", path(kOutput));
    const Outcome r = run();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("graybmp: ") + kOutput + ": not a regular file; not replaced\n");
    EXPECT_TRUE(fs::is_symlink(path(kOutput)));
    EXPECT_EQ(entries(), 2u);
    for (const auto& entry : fs::directory_iterator("/dev"))  // no temporary beside it
        EXPECT_NE(entry.path().filename().string().rfind(".full.", 0), 0u) << entry.path();
}

// The names in the folder that are neither the input nor the output: temporaries.
std::vector<std::string> strays(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name != kInput && name != kOutput) names.push_back(name);
    }
    return names;
}

// A write that fails (the file-size limit here, as a full disk would) leaves the earlier
// output as it was and no temporary; with no earlier output, none is made.
TEST_F(Failure, AnEarlierOutputSurvivesAWriteFailure) {
    if (!posixTool()) GTEST_SKIP() << "the file-size limit holds for POSIX processes";
    put(kInput, test::sample(200, 200));  // 40 KiB, past a 16 KiB limit
    for (const bool earlier : {true, false}) {
        if (earlier) put(kOutput, kSentinel);
        const Outcome r = run(toolCommand(), "ulimit -f 32 && trap '' XFSZ && ");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(r.err, std::string("graybmp: ") + kOutput +
                             ": cannot write: " + std::strerror(EFBIG) + "\n");
        EXPECT_EQ(exists(kOutput), earlier);
        if (earlier) {
            EXPECT_EQ(get(kOutput), kSentinel);
        }
        EXPECT_EQ(strays(dir_), std::vector<std::string>{});
        fs::remove(path(kOutput));
    }
}

// Starts `tool` with `arguments` in the folder as a child of the test, standard input from
// /dev/null.
pid_t spawn(const fs::path& dir, const char* tool, std::vector<const char*> arguments = {}) {
    arguments.insert(arguments.begin(), tool);
    arguments.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execv(tool, const_cast<char* const*>(arguments.data()));
        _exit(127);
    }
    return pid;
}

// A signal while the copy is being written removes the temporary and keeps the earlier
// output; SIGKILL cannot be caught, so its temporary stays, under a name that is never
// the output's, and the next run converts as usual beside it.
TEST_F(Failure, SignalsWhileWritingKeepTheEarlierOutput) {
    if (std::getenv("GRAYBMP_COMMAND") != nullptr)
        GTEST_SKIP() << "the stop is in the native test build";
    const Bytes input = test::sample(64, 64);
    put(kInput, input);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
        put(kOutput, kSentinel);
        const pid_t pid = spawn(dir_, GRAYBMP_PAUSED_BINARY);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(status)) << "signal " << signal;
        const std::vector<std::string> temporaries = strays(dir_);
        ASSERT_EQ(temporaries.size(), 1u);
        EXPECT_EQ(temporaries[0].rfind(std::string(".") + kOutput + ".", 0), 0u) << temporaries[0];
        EXPECT_EQ(get(kOutput), kSentinel);
        kill(pid, signal);
        kill(pid, SIGCONT);
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_EQ(get(kOutput), kSentinel) << "signal " << signal;
        if (signal == SIGKILL) {
            EXPECT_TRUE(WIFSIGNALED(status));
            EXPECT_EQ(strays(dir_), temporaries);
            EXPECT_EQ(run().status, 0);
            EXPECT_EQ(get(kOutput), test::expectedGrayCopy(input));
            EXPECT_EQ(strays(dir_), temporaries);
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal)
                << "signal " << signal << ", status " << status;
            EXPECT_EQ(strays(dir_), std::vector<std::string>{}) << "signal " << signal;
        }
    }
}

// The new file keeps an earlier output's permission bits, or gets 0666 less the umask; an
// output that is a hard link becomes a file of its own, the other name keeping the old bytes.
TEST_F(Conversion, ReplacingKeepsModesLinksAndOtherNames) {
    if (!posixTool()) GTEST_SKIP() << "POSIX modes and links";
    const Bytes input = test::sample(10, 3);
    put(kInput, input);
    const auto modeOf = [&](const std::string& p) {
        struct stat st;
        return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    const struct {
        const char* name;
        int earlier;  // the earlier output's mode, -1 for none
        const char* umask;
        unsigned expected;
    } modes[] = {{"earlier 0640", 0640, "022", 0640},
                 {"earlier 0755", 0755, "077", 0755},
                 {"new, umask 022", -1, "022", 0644},
                 {"new, umask 077", -1, "077", 0600}};
    for (const auto& m : modes) {
        fs::remove(path(kOutput));
        if (m.earlier >= 0) {
            put(kOutput, kSentinel);
            chmod(path(kOutput).c_str(), static_cast<mode_t>(m.earlier));
        }
        EXPECT_EQ(run(toolCommand(), std::string("umask ") + m.umask + " && ").status, 0);
        EXPECT_EQ(modeOf(path(kOutput)), m.expected) << m.name;
        EXPECT_EQ(get(kOutput), test::expectedGrayCopy(input)) << m.name;
    }

    fs::remove(path(kOutput));
    put("other.bmp", kSentinel);
    fs::create_hard_link(path("other.bmp"), path(kOutput));
    EXPECT_EQ(run().status, 0);
    EXPECT_EQ(get(kOutput), test::expectedGrayCopy(input));
    EXPECT_EQ(get("other.bmp"), kSentinel);
}

TEST_F(Failure, HugeWidthWithNoRowsNeedsNoMemory) {
#ifdef GRAYBMP_SANITIZED
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit";
#endif
    if (!posixTool()) GTEST_SKIP() << "the address-space limit holds for POSIX processes";
    Bytes file = test::sample(4, 4);
    test::setU32(file, 18, 0x7FFFFFFF);
    test::setU32(file, 22, 0);
    put(kInput, file);
    EXPECT_EQ(run(toolCommand(), "ulimit -v 524288 && ").status, 0);
    EXPECT_EQ(get(kOutput), test::expectedGrayCopy(file));
}

}  // namespace
}  // namespace graybmp

namespace graybmp {
namespace {

using Corpus = Folder;

// The public BMP conformance corpus beside the project, when it is there. Every file our
// decoder reads must convert, and decode to the gray of the input's picture; every file
// must convert correctly or be refused, and never crash the tool.
TEST_F(Corpus, EveryReadableFileTurnsGrayAndTheRestAreRefused) {
    const fs::path corpus = GRAYBMP_CORPUS;
    if (!fs::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
    // Uncompressed 8-bit files with a plain info header: these must convert.
    const std::vector<std::string> mustConvert = {
        "g/pal8.bmp", "g/pal8-0.bmp", "g/pal8gs.bmp", "g/pal8nonsquare.bmp", "g/pal8topdown.bmp",
        "g/pal8v4.bmp", "g/pal8v5.bmp", "g/pal8w124.bmp", "g/pal8w125.bmp", "g/pal8w126.bmp",
        "q/pal8offs.bmp", "b/pal8badindex.bmp",
        // profiles, OS/2 Huffman and RLE24, 64 bits, a bitmap array
        "q/rgb24prof.bmp", "q/rgb24prof2.bmp", "q/rgb24lprof.bmp", "q/pal1huffmsb.bmp",
        "q/rgb24rle24.bmp", "q/rgba64.bmp", "x/ba-bm.bmp"};
    // Compressed images of other formats: graying them would mean encoding them anew.
    const std::vector<std::pair<std::string, std::string>> mustRefuse = {
        {"q/rgb24jpeg.bmp", "a JPEG image inside"}, {"q/rgb24png.bmp", "a PNG image inside"}};
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(corpus))
        if (entry.path().extension() == ".bmp") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    int readable = 0, converted = 0, refused = 0;
    for (const fs::path& file : files) {
        const std::string name = file.lexically_relative(corpus).generic_string();
        const Bytes input = test::readFile(file.string());
        put(kInput, input);
        put(kOutput, kSentinel);
        const Outcome r = run();
        ASSERT_TRUE(r.status == 0 || r.status == 1) << name << " exit " << r.status;
        test::Picture before, after;
        std::string why;
        const bool decodes = test::decodePicture(input, before, why);
        readable += decodes;
        if (r.status == 0) {
            ++converted;
            const Bytes output = get(kOutput);
            ImageLayout layout{};
            checkInput(input.data(), std::min(input.size(), kMaxLeadSize), input.size(), layout);
            EXPECT_EQ(test::grayCopyProblem(input, output, layout), "") << name;
            EXPECT_EQ(test::libraryProblem(input, test::Method::Mean, false, dir_.string(), &output),
                      "")
                << name;
            if (decodes) {
                ASSERT_TRUE(test::decodePicture(output, after, why)) << name << ": " << why;
                EXPECT_EQ(test::grayPictureProblem(before, after), "") << name;
            }
        } else {
            ++refused;
            EXPECT_FALSE(decodes) << name << " is readable but refused: " << r.err;
            EXPECT_EQ(get(kOutput), kSentinel) << name;
            EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << name << r.err;
            EXPECT_EQ(test::libraryProblem(input, test::Method::Mean, false, dir_.string(), nullptr),
                      "")
                << name;
        }
        if (std::find(mustConvert.begin(), mustConvert.end(), name) != mustConvert.end()) {
            EXPECT_EQ(r.status, 0) << name << ": " << r.err;
        }
        for (const auto& [refusedName, reason] : mustRefuse) {
            if (name == refusedName) {
                EXPECT_NE(r.err.find(reason), std::string::npos) << name << r.err;
            }
        }
    }
    std::printf("corpus: %zu files, %d readable by the tests' decoder; %d converted, %d refused\n",
                files.size(), readable, converted, refused);
}

}  // namespace
}  // namespace graybmp

namespace graybmp {
namespace {

// The tool with arguments, started by a shell script in the folder: `$G` is the tool.
class CommandLine : public Folder {
  protected:
    Outcome sh(const std::string& script) const {
        return run("{ G='" + toolCommand() + "'; " + script + "; }", "");
    }
    // The gray copy that the plain file case writes, to hold the other ways to.
    Bytes fileCase(const Bytes& input) {
        put("ref.bmp", input);
        EXPECT_EQ(sh("$G ref.bmp").status, 0);
        const Bytes out = get("refNEW.bmp");
        fs::remove(path("ref.bmp"));
        fs::remove(path("refNEW.bmp"));
        return out;
    }
};

// The names of the outputs beside their inputs, -o, -d and -i, and the outputs refused
// because they would overwrite an input or an output of the same run; a refused or
// missing input does not stop the others. Nothing is printed on success.
TEST_F(CommandLine, OutputOptionsAndTheirRefusals) {
    const Bytes a = test::sample(5, 2), b = test::sample(6, 3);
    const Bytes grayA = test::expectedGrayCopy(a), cut(a.begin(), a.begin() + 40);
    fs::create_directory(dir_ / "out");
    fs::create_directory(dir_ / "b");
    test::Shape rgb;
    rgb.bits = 24, rgb.width = 7;
    put("rgb.bmp", test::makePicture(rgb));
    fs::create_directory(dir_ / "dir");
    const char* const named[][2] = {{"photo.bmp", "photoNEW.bmp"},
                                    {"scan.BMP", "scanNEW.BMP"},
                                    {"dir/a.bmp", "dir/aNEW.bmp"},
                                    {"x.y.bmp", "x.yNEW.bmp"},
                                    {"noext", "noextNEW"},
                                    {"b b.bmp", "b bNEW.bmp"},
                                    {"gr\xc3\xa5.bmp", "gr\xc3\xa5NEW.bmp"}};
    std::string operands;
    std::vector<std::pair<const char*, const Bytes*>> beside;
    for (const auto& n : named) {
        put(n[0], a);
        operands += std::string(" '") + n[0] + "'";
        beside.push_back({n[1], &grayA});
    }
    const std::string besideScript = "$G" + operands;
    // A picture of another format (netpbm, which every build decodes) becomes a BMP.
    const Bytes ppm = test::netpbm('6', "\n3 2\n255\n", {10, 20, 30, 40, 50, 60, 70, 80, 90, 1, 2, 3, 250, 251, 252, 9, 9, 9});
    put("photo.ppm", ppm);
    put("photo.pgm", test::netpbm('5', "\n3 2\n255\n", Bytes(6, 7)));
    test::Picture shown;
    shown.width = 3, shown.height = 2;
    for (std::size_t i = 0; i < 6; ++i) shown.pixels.push_back({ppm[11 + 3 * i], ppm[12 + 3 * i], ppm[13 + 3 * i], 255});
    const Bytes grayPpm = test::expectedLevels(test::bitmapOf(shown), test::Method::Mean, 256, 8, "none");
    const struct {
        const char* script;
        int status;
        std::vector<std::pair<const char*, const Bytes*>> files;  // null: not there
        const char* err;
        unsigned mode = 0;  // of a.bmp afterwards, when not 0
    } cases[] = {
        {besideScript.c_str(), 0, beside, ""},
        {"$G a.bmp -o gray.bmp", 0, {{"gray.bmp", &grayA}, {"aNEW.bmp", nullptr}}, ""},
        {"$G -o - a.bmp > piped.bmp", 0, {{"piped.bmp", &grayA}}, ""},
        {"$G --output-dir out a.bmp b/a.bmp",
         1,
         {{"out/a.bmp", &grayA}, {"b/aNEW.bmp", nullptr}},
         "graybmp: b/a.bmp: the output out/a.bmp was already written by this run"},
        {"cp a.bmp aNEW.bmp && $G a.bmp aNEW.bmp",
         1,
         {{"aNEW.bmp", &a}, {"aNEWNEW.bmp", &grayA}},
         "graybmp: a.bmp: the output aNEW.bmp is one of the inputs"},
        {"$G -o a.bmp -- a.bmp", 1, {{"a.bmp", &a}}, "graybmp: a.bmp: the output a.bmp is"},
        {"$G missing.bmp a.bmp cut.bmp",
         1,
         {{"aNEW.bmp", &grayA}, {"cutNEW.bmp", nullptr}},
         "graybmp: missing.bmp: cannot open"},
        {"$G -o out a.bmp", 1, {{"a.bmp", &a}}, "graybmp: out: cannot create"},
        {"$G out a.bmp", 1, {{"aNEW.bmp", &grayA}},
         "graybmp: out: is a directory (use -r with -d or -i to convert the BMPs in it)\n"},
        {"chmod 604 a.bmp && $G -i a.bmp cut.bmp",
         1,
         {{"a.bmp", &grayA}, {"cut.bmp", &cut}},
         "graybmp: cut.bmp: too short",
         0604},
        {"$G --compact a.bmp -o gray.bmp", 0, {{"gray.bmp", &grayA}}, ""},
        // levels through a pipe, and to standard output, give the bytes a file gets
        {"$G --levels 4 --dither floyd-steinberg rgb.bmp -o l.bmp && cat rgb.bmp | "
         "$G --levels 4 --dither floyd-steinberg - | cmp - l.bmp && "
         "$G --levels=3 --depth=2 --dither=atkinson rgb.bmp -o l3.bmp && "
         "$G --levels 3 --depth 2 --dither atkinson - < rgb.bmp | cmp - l3.bmp",
         0,
         {{"a.bmp", &a}},
         ""},
        {"$G photo.ppm photo.pgm", 1, {{"photoNEW.bmp", &grayPpm}},
         "graybmp: photo.pgm: the output photoNEW.bmp was already written by this run"},
        {"$G -d out photo.ppm && cat photo.ppm | $G - | cmp - out/photo.bmp", 0, {{"out/photo.bmp", &grayPpm}}, ""},
        {"$G -i photo.ppm a.bmp", 1, {{"photo.ppm", &ppm}, {"a.bmp", &grayA}},
         "graybmp: photo.ppm: a picture of another format cannot be replaced by a BMP under its name\n"},
        {"mkdir -p t/s && cp photo.ppm t/s/p.ppm && cp a.bmp t/s/a.bmp && $G -r -d out t && test ! -e out/t/s/p.bmp"
         " && $G -r --pictures -d out t",
         0, {{"out/t/s/p.bmp", &grayPpm}, {"out/t/s/a.bmp", &grayA}}, ""},
        {"$G -r --pictures -i .", 2, {}, "graybmp: --pictures and --in-place conflict"},
        // 7 x 3 at 24 bits: 1078 + 8 x 3 bytes compact, the same through a pipe
        {"$G --compact rgb.bmp && cat rgb.bmp | $G --compact - | cmp - rgbNEW.bmp && "
         "test $(wc -c < rgbNEW.bmp) = 1102",
         0,
         {{"a.bmp", &a}},
         ""},
    };
    for (const auto& c : cases) {
        put("a.bmp", a);
        put("b/a.bmp", b);
        put("cut.bmp", cut);
        const Outcome r = sh(c.script);
        EXPECT_EQ(r.status, c.status) << c.script << ": " << r.err;
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.script << ": " << r.err;
        if (c.status == 0) {
            EXPECT_EQ(r.out + r.err, "") << c.script;
        }
        for (const auto& [name, bytes] : c.files) {
            EXPECT_EQ(exists(name), bytes != nullptr) << c.script << ": " << name;
            if (bytes != nullptr) {
                EXPECT_EQ(get(name), *bytes) << c.script << ": " << name;
            }
        }
        struct stat st;
        if (c.mode != 0 && posixTool() && stat(path("a.bmp").c_str(), &st) == 0) {
            EXPECT_EQ(st.st_mode & 07777, c.mode) << c.script;
        }
        for (const auto& entry : fs::recursive_directory_iterator(dir_))  // no temporary left
            EXPECT_NE(entry.path().filename().string()[0], '.') << c.script << entry.path();
        for (const char* made : {"gray.bmp", "piped.bmp", "out/a.bmp", "aNEW.bmp", "aNEWNEW.bmp", "photoNEW.bmp",
                                 "out/photo.bmp", "out/t", "t"})
            fs::remove_all(path(made));
    }
}

// Standard input, standard output and FIFOs give the bytes of the file case; a pipe that
// ends early is refused and leaves no named output.
TEST_F(CommandLine, PipesGiveTheBytesOfTheFileCase) {
    const auto offset = [](std::int64_t at) {
        SampleOptions o;
        o.width = 6, o.height = 3, o.pixelOffset = at;
        return test::sample(o);
    };
    test::Shape rle4, rgb;
    rle4.bits = 4, rle4.compression = 2, rle4.width = 9;
    rgb.bits = 24, rgb.width = 301, rgb.height = 700;  // more than the pipe's window and chunk
    const std::pair<const char*, Bytes> inputs[] = {
        {"8-bit", test::sample(7, 3)},
        {"gap before the rows", offset(1200)},
        {"rows over the palette", offset(54 + 40)},
        {"RLE4", test::makePicture(rle4)},
        {"24-bit", test::makePicture(rgb)},
        {"RLE24", test::rle24Picture({2, 10, 20, 30, 0, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0, 1})},
        {"bitmap array", test::bitmapArray({test::makePicture(rle4), test::makePicture(rgb)})}};
    std::vector<std::string> ways = {"$G - < in.bmp > out.bmp", "cat in.bmp | $G - | cat > out.bmp",
                                     "cat in.bmp | $G -o out.bmp -"};
    if (posixTool())
        ways.push_back("mkfifo f.bmp && { cat in.bmp > f.bmp & } && $G f.bmp > out.bmp");
    for (const auto& [name, input] : inputs) {
        const Bytes expected = fileCase(input);
        put("in.bmp", input);
        for (const std::string& way : ways) {
            const Outcome r = sh(way);
            EXPECT_EQ(r.status, 0) << name << ": " << way << ": " << r.err;
            EXPECT_TRUE(get("out.bmp") == expected) << name << ": " << way;
            fs::remove(path("out.bmp"));
            fs::remove(path("f.bmp"));
        }
        const Outcome cut =
            sh("head -c " + std::to_string(input.size() * 2 / 3) + " in.bmp | $G - -o out.bmp");
        EXPECT_EQ(cut.status, 1) << name;
        EXPECT_EQ(cut.err.rfind("graybmp: -: ", 0), 0u) << name << ": " << cut.err;
        EXPECT_FALSE(exists("out.bmp")) << name;
    }
    // Conversions that read their input twice (normalizing) or write their rows out of
    // order (reversed, in planes, in pages of a bottom-up picture): through pipes, which
    // cannot seek, the bytes of the file case, the input's grays or the output held.
    test::Shape topDown = rgb;
    topDown.height = -topDown.height;
    const char* const options[] = {"--levels 4 --normalize --dither jarvis", "--levels 2 --format raw --rows bottom-up",
                                   "--levels 4 --depth 2 --format c --name x --packing planes",
                                   "--levels 2 --format raw --packing pages", "--levels 3 --depth 2 --rows top-down"};
    for (const Bytes& input : {test::makePicture(rgb), test::makePicture(topDown)}) {
        put("in.bmp", input);
        for (const char* o : options) {
            ASSERT_EQ(sh(std::string("$G ") + o + " in.bmp -o file.out").status, 0) << o;
            for (const char* way : {" - > out.bmp", " - | cat > out.bmp", " -o out.bmp -"}) {
                const std::string script = std::string("cat in.bmp | $G ") + o + way;
                const Outcome r = sh(script);
                EXPECT_EQ(r.status, 0) << script << ": " << r.err;
                EXPECT_TRUE(get("out.bmp") == get("file.out")) << script;
            }
        }
    }
}

// Usage errors: exit 2, a hint, nothing written.
// Folders of folders: the trees -r walks, where their copies land and what it passes over.
TEST_F(CommandLine, RecursiveWalksFoldersOfFolders) {
    const Bytes good = test::sample(5, 3), other = test::sample(6, 2);
    Bytes broken = good;
    broken.resize(100);
    const std::string odd = "d \xC3\xA9/\xC3\xA4 b.bmp";  // spaces and non-ASCII names
    const std::string deeper = "d \xC3\xA9/deeper/w.bmp";   // a second level
    const struct {
        const char* name;
        std::string args;
        int status;
        std::vector<std::string> outputs;  // "output=input": the gray of the input as it was
        std::string err;                   // a fragment of standard error, "" for none
        bool posixOnly;                    // links, which wine follows as Windows does not
        std::string listed = "out";        // every file under it is one of the outputs
        int runs = 1;
        bool locked = false;  // scans/c cannot be opened (as root, the tool runs as nobody)
    } cases[] = {
        {"nested folders, other names, links", "-r -d out scans", 1,
         {"out/scans/a/b/z.dib=scans/a/b/z.dib", "out/scans/a/link.bmp=scans/x.bmp",
          "out/scans/a/y.BMP=scans/a/y.BMP", "out/scans/" + odd + "=scans/" + odd,
          "out/scans/" + deeper + "=scans/" + deeper, "out/scans/x.bmp=scans/x.bmp"},
         "graybmp: scans/c/broken.bmp: 3 rows of 5 pixels need", true},
        {"a trailing slash", "-r -d out scans/a/", 0,
         {"out/a/b/z.dib=scans/a/b/z.dib", "out/a/link.bmp=scans/x.bmp", "out/a/y.BMP=scans/a/y.BMP"},
         "", true},
        {"scans/. straight into OUT", "-r -d out scans/./a/.", 0,
         {"out/b/z.dib=scans/a/b/z.dib", "out/link.bmp=scans/x.bmp", "out/y.BMP=scans/a/y.BMP"},
         "", true},
        {"two operands, two mirrors, two levels", "-r -d out scans/a/b scans/d\\ \xC3\xA9", 0,
         {"out/b/z.dib=scans/a/b/z.dib", "out/" + odd + "=scans/" + odd,
          "out/" + deeper + "=scans/" + deeper},
         "", false},
        {"OUT inside the tree, run twice: the same inputs", "-r -d scans/gray scans", 1,
         {"scans/gray/scans/a/b/z.dib=scans/a/b/z.dib", "scans/gray/scans/a/link.bmp=scans/x.bmp",
          "scans/gray/scans/a/y.BMP=scans/a/y.BMP", "scans/gray/scans/" + odd + "=scans/" + odd,
          "scans/gray/scans/" + deeper + "=scans/" + deeper, "scans/gray/scans/x.bmp=scans/x.bmp"},
         "graybmp: scans/c/broken.bmp: 3 rows of 5 pixels need", true, "scans/gray", 2},
        {"in place: a link's target through the link; links to folders, one outside the tree, passed over",
         "-r -i scans/a", 0,
         {"scans/a/y.BMP=scans/a/y.BMP", "scans/a/b/z.dib=scans/a/b/z.dib", "scans/x.bmp=scans/x.bmp"},
         "", true, "scans/a/b"},
        {"the output folder as an operand", "-r -d out out scans/a/b", 1,
         {"out/b/z.dib=scans/a/b/z.dib"}, "graybmp: out: the output folder itself; not walked", false},
        {"a folder that is not there", "-r -d out nowhere scans/a/b", 1,
         {"out/b/z.dib=scans/a/b/z.dib"}, "graybmp: nowhere: cannot open: ", false},
        {"a folder it cannot open", "-r -d out scans/c scans/a/b", 1, {"out/b/z.dib=scans/a/b/z.dib"},
         "graybmp: scans/c: cannot open the folder: Permission denied\n", true, "out", 1, true},
        {"a file operand, whatever its name", "-r -d out scans/a/n.txt", 1, {},
         "graybmp: scans/a/n.txt: too short for a bitmap header", false},
        {"-r alone", "-r scans", 2, {}, "--recursive needs --output-dir or --in-place", false},
        {"-r with -o", "-r -o x.bmp scans", 2, {}, "--recursive and --output conflict", false},
        {"-r with standard input", "-r -d out - < scans/x.bmp", 2, {}, "standard input ('-') with",
         false},
    };
    for (const auto& c : cases) {
        if (c.posixOnly && !posixTool()) continue;
        fs::remove_all(dir_ / "scans");
        fs::remove_all(dir_ / "out");
        fs::create_directories(dir_ / "elsewhere");
        put("elsewhere/e.bmp", good);
        for (const char* folder : {"scans/a/b", "scans/c", "scans/d \xC3\xA9/deeper", "scans/gray", "out"})
            fs::create_directories(dir_ / folder);
        const std::pair<std::string, Bytes> files[] = {
            {"scans/x.bmp", good},         {"scans/a/y.BMP", other},       {"scans/a/b/z.dib", good},
            {"scans/a/n.txt", {'h', 'i'}}, {"scans/c/broken.bmp", broken}, {"scans/" + odd, other},
            {"scans/" + deeper, good}};
        std::map<std::string, Bytes> before;
        for (const auto& [name, bytes] : files) {
            put(name.c_str(), bytes);
            before[name] = bytes;
        }
        if (posixTool()) {
            fs::create_symlink("../x.bmp", dir_ / "scans/a/link.bmp");
            fs::create_symlink("b", dir_ / "scans/a/folder-link");
            fs::create_symlink("nothing.bmp", dir_ / "scans/a/dangling.bmp");
            fs::create_symlink("../../elsewhere", dir_ / "scans/a/outside");
        }
        std::string as;
        if (c.locked) {
            for (const char* open : {"", "out", "scans", "scans/a", "scans/a/b"})
                fs::permissions(dir_ / open, fs::perms::all);
            fs::permissions(dir_ / "scans/c", fs::perms::none);
            if (geteuid() == 0) as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
        }
        for (int run = 0; run < c.runs; ++run) {
            const Outcome r = sh(as + "$G " + c.args);
            EXPECT_EQ(r.status, c.status) << c.name << ": " << r.err;
            if (c.err.empty()) {
                EXPECT_EQ(r.err, "") << c.name;
            }
            EXPECT_NE(r.err.find(c.err), std::string::npos) << c.name << ": " << r.err;
        }
        fs::permissions(dir_ / "scans/c", fs::perms::owner_all);
        EXPECT_TRUE(get("elsewhere/e.bmp") == good && !exists("elsewhere/eNEW.bmp"))
            << c.name << ": a folder outside the tree was walked";
        std::vector<std::string> written, wanted;
        for (const auto& e : fs::recursive_directory_iterator(dir_ / c.listed))
            if (!e.is_directory()) written.push_back(fs::relative(e.path(), dir_).generic_string());
        for (const std::string& pair : c.outputs) {
            const std::string output = pair.substr(0, pair.find('='));
            if (output.rfind(c.listed + "/", 0) == 0) wanted.push_back(output);
            const Bytes& input = before[pair.substr(pair.find('=') + 1)];
            EXPECT_TRUE(get(output.c_str()) == test::expectedGrayCopy(input)) << c.name << ": " << output;
        }
        std::sort(written.begin(), written.end());
        std::sort(wanted.begin(), wanted.end());
        EXPECT_EQ(written, wanted) << c.name;
        EXPECT_FALSE(exists("out/scans/c")) << c.name << ": a folder made for nothing";
    }
}

// GRAYBMP_CPU lowers the loops' target and never changes a byte (the loops themselves are
// the unit tests'); a name of another family, or an older name, is taken; a name it does
// not know is ignored with one warning line.
TEST_F(CommandLine, EachCpuVariantGivesTheSameBytes) {
    SampleOptions picture;
    picture.width = 301, picture.height = 7, picture.bitCount = 24;
    put("a.bmp", test::sample(picture));
    std::vector<Bytes> outputs;
    for (const char* cpu : {"avx3_dl", "avx3", "avx2", "sse4", "ssse3", "scalar", "neon", "sve2",
                            "wasm", "avx512", "baseline", "pentium"}) {
        const Outcome r = sh(std::string("GRAYBMP_CPU=") + cpu + " $G -m luminance a.bmp -o b.bmp");
        EXPECT_EQ(r.status, 0) << cpu << r.err;
        EXPECT_EQ(r.err, std::string(cpu) == "pentium"
                             ? "graybmp: GRAYBMP_CPU=pentium is not a target (scalar, ssse3, sse4, avx2, "
                               "avx3, avx3_dl, neon, sve, sve2, wasm); ignored\n"
                             : "")
            << cpu;
        outputs.push_back(get("b.bmp"));
    }
    for (const Bytes& b : outputs) EXPECT_TRUE(b == outputs[0]);
}

TEST_F(CommandLine, UsageErrorsConvertNothing) {
    put("a.bmp", test::sample(4, 4));
    put("b.bmp", test::sample(4, 4));
    const struct {
        const char* script;
        const char* names;  // what the message says is wrong, where it matters
    } cases[] = {{"$G --bogus a.bmp", ""},
                 {"$G -q a.bmp", ""},
                 {"$G a.bmp -o", ""},
                 {"$G --report", ""},
                 {"$G -i", ""},
                 {"$G -o x.bmp a.bmp b.bmp", ""},
                 {"$G -o x.bmp -d . a.bmp", ""},
                 {"$G -o x.bmp -i a.bmp", ""},
                 {"$G -d . -i a.bmp", ""},
                 {"$G -d . - < a.bmp", ""},
                 {"$G -i - < a.bmp", ""},
                 {"$G - - < a.bmp", ""},
                 {"$G -d nowhere a.bmp", ""},
                 {"$G -d a.bmp b.bmp", ""},
                 {"$G --output-dir", ""},
                 {"$G -m Max a.bmp", "(mean, bt601, bt709, luminance, max, lightness, rms, red, "
                                     "green, blue or weights=R,G,B)"},
                 {"$G -m weights=1,2 a.bmp", "has 2 numbers; it takes three"},
                 {"$G -m weights=1,2,3,4 a.bmp", "has 4 numbers; it takes three"},
                 {"$G -m weights= a.bmp", "has 1 number; it takes three"},
                 {"$G -m weights=-1,1,1 a.bmp", "the red weight '-1' has a sign"},
                 {"$G -m weights=1,+1,1 a.bmp", "the green weight '+1' has a sign"},
                 {"$G -m weights=.5,1,1 a.bmp", "'.5' needs a digit before its point"},
                 {"$G -m weights=1,1,1. a.bmp", "the blue weight '1.' needs a digit after its point"},
                 {"$G -m weights=0.1234567,1,1 a.bmp", "'0.1234567' has more than 6 decimals"},
                 {"$G -m weights=1e3,1,1 a.bmp", "'1e3' is not a decimal number"},
                 {"$G -m 'weights=1, 1,1' a.bmp", "' 1' is not a decimal number"},
                 {"$G -m weights=1,,1 a.bmp", "the green weight is empty"},
                 {"$G -m weights=0,0.0,000 a.bmp", "the weights are all 0"},
                 {"$G -m weights=1000000.000001,0,1 a.bmp", "is over 1000000"},
                 {"$G -m weights=1000001,0,0 a.bmp", "'1000001' is over 1000000"},
                 {"$G --levels 1 a.bmp", "--levels takes 2 to 256 levels, not '1'"},
                 {"$G --levels 257 a.bmp", "not '257'"},
                 {"$G --levels x a.bmp", "not 'x'"},
                 {"$G --levels= a.bmp", "not ''"},
                 {"$G --depth 3 a.bmp", "--depth takes 1, 2, 4 or 8 bits, not '3'"},
                 {"$G --levels 5 --depth 2 a.bmp", "5 levels do not fit in 2 bits"},
                 {"$G --levels 256 --dither floyd-steinberg a.bmp", "fewer than 256 levels"},
                 {"$G --depth 8 --dither atkinson a.bmp", "fewer than 256 levels"},
                 {"$G --dither ordered a.bmp", "dithering needs levels"},
                 {"$G --levels 4 --dither blue a.bmp",
                  "unknown dithering 'blue' (none, floyd-steinberg, atkinson, ordered, jarvis, stucki, burkes, "
                  "sierra, sierra2, sierra-lite, bayer2, bayer4, bayer16, halftone, blue-noise)"},
                 {"$G --levels 4 --gamma 0.05 a.bmp", "--gamma takes 0.1 to 10, at most three decimals"},
                 {"$G --levels 4 --gamma 10.001 a.bmp", "not '10.001'"},
                 {"$G --levels 4 --gamma 1.2345 a.bmp", "not '1.2345'"},
                 {"$G --levels 4 --gamma 2. a.bmp", "not '2.'"},
                 {"$G --levels 4 --gamma .5 a.bmp", "not '.5'"},
                 {"$G --linear a.bmp", "linear light needs fewer than 256 levels"},
                 {"$G --threshold 9 --linear a.bmp", "a threshold makes two levels"},
                 {"$G --format gif a.bmp", "--format takes bmp, raw, c, xbm, pbm or pgm, not 'gif'"},
                 {"$G --format pbm --levels 4 a.bmp", "pbm takes 2 levels, not 4"},
                 {"$G --format xbm --depth 2 a.bmp", "xbm takes 2 levels, not 4"},
                 {"$G --format raw --packing pages --levels 4 a.bmp", "pages take 1 bit a pixel, not 4"},
                 {"$G --format raw --packing planes --levels 2 a.bmp", "planes take 2 or 4 bits a pixel, not 1"},
                 {"$G --format c --packing planes a.bmp", "planes take 2 or 4 bits a pixel, not 8"},
                 {"$G --levels 2 --bit-order lsb a.bmp", "for the raw and c formats, not bmp"},
                 {"$G --format pgm --row-align 2 a.bmp", "for the raw and c formats, not pgm"},
                 {"$G --format raw --name x a.bmp", "an array's name is for the c and xbm formats"},
                 {"$G --format raw --full-palette a.bmp", "a full palette is for BMPs"},
                 {"$G --format pbm --index-order white-first a.bmp", "an index order is for bmp, raw and c"},
                 {"$G --format xbm --rows bottom-up a.bmp", "a row order is for bmp, raw and c"},
                 {"$G --format raw --row-align 3 a.bmp", "--row-align takes 1, 2 or 4 bytes, not '3'"},
                 {"$G --format raw --row-align 0 a.bmp", "--row-align takes 1, 2 or 4 bytes, not '0'"},
                 {"$G --rotate auto --rotate 360 a.bmp", "--rotate takes 90, 180, 270 or auto, not '360'"},
                 {"$G --format raw --levels 2 --packing pages --rows top-down a.bmp", "pages run from the top"},
                 {"$G --format raw --bit-order middle a.bmp", "--bit-order takes msb or lsb"},
                 {"$G --format raw --packing columns a.bmp", "--packing takes rows, pages or planes"},
                 {"$G --rows sideways a.bmp", "--rows takes top-down or bottom-up"},
                 {"$G --index-order grey-first a.bmp", "--index-order takes black-first or white-first"},
                 {"$G --format raw -i a.bmp", "--in-place writes BMPs only"},
                 {"$G --fit cover a.bmp", "--fit needs --size"},
                 {"$G --filter box --rotate 90 a.bmp", "--filter needs --size"},
                 {"$G --size 0x5 a.bmp", "--size takes WxH, W or xH (1 to 65535 pixels a side), not '0x5'"},
                 {"$G --size 65536 a.bmp", "not '65536'"},
                 {"$G --size 8x a.bmp", "not '8x'"},
                 {"$G --size x a.bmp", "not 'x'"},
                 {"$G --size 60000x60000 a.bmp", "a size of 60000 x 60000 pixels (at most 268435456)"},
                 {"$G --size 8x8 --fit middle a.bmp", "--fit takes contain, cover or stretch, not 'middle'"},
                 {"$G --size 8x8 --filter cubic a.bmp", "--filter takes lanczos3, mitchell, box or nearest"},
                 {"$G --rotate 45 a.bmp", "--rotate takes 90, 180, 270 or auto, not '45'"},
                 {"$G --levels 4 --dither ordered --serpentine a.bmp", "serpentine rows need an error-diffusion"},
                 {"$G --levels 4 --strength 50 a.bmp", "a strength below 100 needs an error-diffusion"},
                 {"$G --levels 4 --dither jarvis --strength 101 a.bmp", "--strength takes 0 to 100 percent"},
                 {"$G --background grey a.bmp", "--background takes white, black or #RRGGBB"},
                 {"$G --max-pixels 0 a.bmp", "--max-pixels takes 1 to"},
                 {"$G --pictures a.bmp", "--pictures needs --recursive"}};
    for (const auto& c : cases) {
        const Outcome r = sh(c.script);
        EXPECT_EQ(r.status, 2) << c.script;
        EXPECT_EQ(r.out, "") << c.script;
        EXPECT_NE(r.err.find("Try 'graybmp --help'"), std::string::npos) << c.script << r.err;
        EXPECT_NE(r.err.find(c.names), std::string::npos) << c.script << r.err;
        EXPECT_EQ(entries(), 2u) << c.script;
    }
    // At the edges, weights are taken.
    for (const char* script : {"$G -m weights=1000000,0,0.000001 a.bmp -o x.bmp",
                               "$G -m weights=007.25,0,0 a.bmp -o x.bmp"}) {
        const Outcome r = sh(script);
        EXPECT_EQ(r.status, 0) << script << r.err;
        EXPECT_TRUE(exists("x.bmp")) << script;
        fs::remove(path("x.bmp"));
    }
}

// A shortened option that named one option alone before later ones shared its first
// letters still names it; the later ones by a longer prefix or in full; a value is never
// read as an option.
TEST_F(CommandLine, ShortenedOptionsKeepWhatTheyNamed) {
    put("a.bmp", test::sample(9, 5));
    const struct {
        const char* shortened;
        const char* full;
    } cases[] = {{"--l 4", "--levels 4"},
                 {"--l=4 --dither=ordered", "--levels 4 --dither ordered"},
                 {"--levels 2 --n", "--levels 2 --negate"},
                 {"--levels 2 --g 40,200", "--levels 2 --grays 40,200"},
                 {"--levels 2 --g=40,200", "--levels 2 --grays=40,200"},
                 {"--levels 4 --li", "--levels 4 --linear"},
                 {"--levels 4 --ga 2", "--levels 4 --gamma 2"},
                 {"--levels 4 --no", "--levels 4 --normalize"},
                 {"--levels 4 --neg --no", "--levels 4 --negate --normalize"},
                 {"--levels 4 --no --si 4x3 --fil box", "--levels 4 --normalize --size 4x3 --filter box"},
                 {"--si=5 --fit=cover --rot 90 --no-", "--size 5 --fit cover --rotate 90 --no-auto-orient"}};
    for (const auto& c : cases) {
        const Outcome shortened = sh(std::string("$G ") + c.shortened + " a.bmp -o x.bmp");
        const Outcome full = sh(std::string("$G ") + c.full + " a.bmp -o y.bmp");
        EXPECT_EQ(shortened.status, 0) << c.shortened << shortened.err;
        EXPECT_EQ(full.status, 0) << c.full << full.err;
        EXPECT_EQ(get("x.bmp"), get("y.bmp")) << c.shortened;
    }
    // A file named like an option, after an option that takes it.
    const Outcome named = sh("$G --levels 2 a.bmp -o --l");
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(exists("--l"));
}

// The C header and the X bitmap compile as C99 and C++ with warnings as errors, their
// arrays hold the raw bytes (the X bitmap's in its own order: least significant bit first,
// 1 black) and their defines the picture's; each format's output is named for it, and
// standard output takes every format.
TEST_F(CommandLine, CArraysAndXBitmapsCompileAndHoldTheRawBytes) {
    if (sh("command -v cc && command -v c++").status != 0) GTEST_SKIP() << "no C compiler";
    put("9 x-y.bmp", test::sample(13, 11));
    const struct {
        const char* options;
        int depth, levels;
    } cases[] = {{"--levels 2 --dither atkinson", 1, 2},
                 {"--levels 2 --packing pages --bit-order msb", 1, 2},
                 {"--levels 4 --depth 2 --bit-order lsb --row-align 4", 2, 4},
                 {"--levels 16 --packing planes --index-order white-first", 4, 16},
                 {"--rows bottom-up", 8, 256}};
    for (const auto& c : cases) {
        ASSERT_EQ(sh(std::string("$G --format c ") + c.options + " '9 x-y.bmp'").status, 0) << c.options;
        ASSERT_EQ(sh(std::string("$G --format raw ") + c.options + " '9 x-y.bmp' -o - > x.raw").status, 0);
        ASSERT_TRUE(exists("9 x-yNEW.h")) << c.options;
        const std::string program =
            "#include <stdio.h>\n#include \"9 x-yNEW.h\"\n#include \"icon.xbm\"\n"
            "int main(void) { size_t i; printf(\"%d %d %d %d\\n\", _9_X_YNEW_WIDTH, _9_X_YNEW_HEIGHT, "
            "_9_X_YNEW_DEPTH, _9_X_YNEW_LEVELS);\n"
            "  for (i = 0; i < sizeof _9_x_yNEW; ++i) putchar(_9_x_yNEW[i]);\n"
            "  for (i = 0; i < sizeof icon_bits; ++i) putchar(icon_bits[i]);\n  return 0; }\n";
        put("use.c", Bytes(program.begin(), program.end()));
        put("use.cpp", Bytes(program.begin(), program.end()));
        ASSERT_EQ(sh("$G --format xbm --name icon '9 x-y.bmp' -o - > icon.xbm").status, 0);
        ASSERT_EQ(sh("$G --format raw --levels 2 --bit-order lsb --index-order white-first '9 x-y.bmp' -o - > xbm.raw").status, 0);
        const std::string size = "13 11 " + std::to_string(c.depth) + " " + std::to_string(c.levels) + "\n";
        Bytes want(size.begin(), size.end());
        for (const char* raw : {"x.raw", "xbm.raw"}) {
            const Bytes bytes = get(raw);
            want.insert(want.end(), bytes.begin(), bytes.end());
        }
        for (const char* compile : {"cc -std=c99 -Wall -Wextra -Werror -o use use.c",
                                    "c++ -Wall -Wextra -Werror -o use use.cpp"}) {
            const Outcome built = sh(compile);
            ASSERT_EQ(built.status, 0) << c.options << ": " << compile << "\n" << built.err;
            const Outcome ran = sh("./use");
            EXPECT_EQ(Bytes(ran.out.begin(), ran.out.end()), want) << c.options << ": " << compile;
        }
    }
    // Each format's name, and standard output (an X bitmap's array named by --name as its
    // file names it).
    for (const std::string format : {"raw", "xbm", "pbm", "pgm"}) {
        ASSERT_EQ(sh("$G --format " + format + " '9 x-y.bmp'").status, 0);
        const Bytes named = get(("9 x-yNEW." + format).c_str());
        const Outcome piped =
            sh("$G --format " + format + (format == "xbm" ? " --name '9 x-yNEW'" : "") + " - < '9 x-y.bmp'");
        EXPECT_EQ(piped.status, 0) << format << piped.err;
        EXPECT_EQ(Bytes(piped.out.begin(), piped.out.end()), named) << format;
    }
}

TEST_F(CommandLine, HelpVersionAndReports) {
    const Bytes a = test::sample(5, 2);
    put("a.bmp", a);
    put("-o", a);  // an operand after "--", never an option
    const std::string report = "Type: BMP file\nSize: 1094\nWidth: 5\nHeight: 2\nBitCount: 8\n";
    const struct {
        const char* script;
        std::string out, err;
    } cases[] = {
        {"$G --version", std::string("graybmp ") + GRAYBMP_VERSION + "\n", ""},
        {"$G -V", std::string("graybmp ") + GRAYBMP_VERSION + "\n", ""},
        {"$G --report a.bmp", "File: a.bmp\n" + report, ""},
        {"$G --report -- -o", "File: -o\n" + report, ""},
        {"$G --report - < a.bmp > /dev/null", "", "File: -\n" + report},
        {"$G --report a.bmp -o - > /dev/null", "", "File: a.bmp\n" + report},
    };
    for (const auto& c : cases) {
        const Outcome r = sh(c.script);
        EXPECT_EQ(r.status, 0) << c.script;
        EXPECT_EQ(r.out, c.out) << c.script;
        EXPECT_EQ(r.err, c.err) << c.script;
    }
    EXPECT_EQ(get("-oNEW"), test::expectedGrayCopy(a));
    const Outcome help = sh("$G --help");
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--output", "--output-dir", "--in-place", "--report", "--version"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
}

// Standard input or output a terminal: refused, never waited on.
TEST_F(CommandLine, TerminalsAreRefused) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) GTEST_SKIP() << "no pty";
    const std::string tty = ptsname(master);
    put("a.bmp", test::sample(4, 4));
    const Outcome in = sh("$G - < " + tty), out = sh("$G -o - a.bmp > " + tty);
    close(master);
    EXPECT_EQ(in.status, 1);
    EXPECT_NE(in.err.find("graybmp: -: is a terminal"), std::string::npos) << in.err;
    EXPECT_EQ(out.status, 1);
    EXPECT_NE(out.err.find("standard output is a terminal"), std::string::npos) << out.err;
}

// A signal in the middle of a batch: the outputs finished stay, the one in progress leaves
// no temporary, and the status is 128 + the signal's number.
TEST_F(CommandLine, ASignalMidBatchKeepsTheFinishedOutputs) {
    if (std::getenv("GRAYBMP_COMMAND") != nullptr) GTEST_SKIP() << "the stop is in the test build";
    const Bytes a = test::sample(8, 8);
    put("a.bmp", a);
    put("b.bmp", a);
    const pid_t pid = spawn(dir_, GRAYBMP_PAUSED_BINARY, {"a.bmp", "b.bmp"});
    int status = 0;
    for (int stop = 0; stop < 2; ++stop) {  // the tool stops before each file is put in place
        ASSERT_EQ(waitpid(pid, &status, WUNTRACED), pid);
        ASSERT_TRUE(WIFSTOPPED(status));
        if (stop == 1) kill(pid, SIGTERM);
        kill(pid, SIGCONT);
    }
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_EQ(get("aNEW.bmp"), test::expectedGrayCopy(a));
    EXPECT_FALSE(exists("bNEW.bmp"));
    EXPECT_EQ(entries(), 3u);
}

// Windows has no shell to expand wildcards: the tool does, in name order.
TEST_F(CommandLine, WildcardsAreExpandedWhereNoShellDoes) {
    if (posixTool()) GTEST_SKIP() << "the shell expands them";
    const Bytes a = test::sample(3, 3);
    for (const char* name : {"w1.bmp", "w 2.bmp", "x.bmp"}) put(name, a);
    const Outcome r = sh("$G --report 'w*.bmp' '?.bmp' 'none*.bmp'");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("graybmp: none*.bmp: cannot open", 0), 0u) << r.err;
    EXPECT_EQ(r.out.find("File: w 2.bmp"), 0u) << r.out;
    for (const char* name : {"w1NEW.bmp", "w 2NEW.bmp", "xNEW.bmp"})
        EXPECT_EQ(get(name), test::expectedGrayCopy(a)) << name;
}

}  // namespace
}  // namespace graybmp
