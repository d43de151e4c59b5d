// Feeds arbitrary bytes to graybmp as its input file. Beside "no crash", every accepted
// input must give its gray copy: for 8-bit images the expected copy; for the other kinds
// the input's length, its headers and every byte but the colours kept, the colour table
// gray with its fourth bytes kept, every true-colour pixel gray by its masks with its
// alpha and unused bits kept, every RLE24 triple gray, every bitmap array entry so. The
// gray method varies with the input's length too. Whatever the tests' decoder reads must decode to
// the gray of the input's picture. The chunk size and the kernel's copy vary with the input's
// length, so chunk edges fall everywhere. A picture of another format must convert or be
// refused as pictures are, in memory and through a pipe alike.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bitmap/check.h"
#include "conversion/context.h"
#include "graybmp.h"
#include "pictures/exif.h"
#include "testkit.h"

namespace {

using graybmp::test::Bytes;

#define REQUIRE(condition)                                              \
    do {                                                                \
        if (!(condition)) {                                             \
            std::fprintf(stderr, "invariant broken: %s\n", #condition); \
            std::abort();                                               \
        }                                                               \
    } while (0)

// An in-memory file, made once and emptied for each input, opened as a new C stream.
std::FILE* memoryFile(int& fd, const std::uint8_t* data, std::size_t size, const char* mode) {
    if (fd < 0) fd = memfd_create("graybmp-fuzz", 0);
    REQUIRE(fd >= 0 && ftruncate(fd, 0) == 0);
    REQUIRE(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));
    const int own = dup(fd);
    REQUIRE(own >= 0 && lseek(own, 0, SEEK_SET) == 0);
    return fdopen(own, mode);
}

int inputFd = -1, outputFd = -1;

// A pipe: the input handed over in pieces, with no seek.
struct Pipe {
    const std::uint8_t* data;
    std::size_t size, at = 0;
    Bytes out;
};
long long pipeRead(void* context, void* buffer, std::size_t count) {
    Pipe& p = *static_cast<Pipe*>(context);
    const std::size_t n = std::min({count, p.size - p.at, std::size_t{777}});
    std::copy(p.data + p.at, p.data + p.at + n, static_cast<std::uint8_t*>(buffer));
    p.at += n;
    return static_cast<long long>(n);
}
long long pipeWrite(void* context, const void* data, std::size_t count) {
    auto& out = static_cast<Pipe*>(context)->out;
    out.insert(out.end(), static_cast<const std::uint8_t*>(data), static_cast<const std::uint8_t*>(data) + count);
    return static_cast<long long>(count);
}

bool pictureRefusal(graybmp_status s) {
    return s == GRAYBMP_PICTURE_CORRUPT || s == GRAYBMP_PICTURE_UNSUPPORTED || s == GRAYBMP_PICTURE_TOO_LARGE ||
           s == GRAYBMP_TRANSLUCENT || s == GRAYBMP_TOO_SHORT;
}

// A picture of another format: converted, or refused as a picture is, alike in memory and
// through a pipe; its header read from any prefix without a fault.
int picture(const std::uint8_t* data, std::size_t size) {
    graybmp_options o;
    graybmp_options_init(&o);
    graybmp_options_set_method(&o, graybmp::test::methodName(graybmp::test::kMethods[size % 11]), nullptr);
    o.levels = size % 4 == 0 ? 0 : static_cast<int>(2 + size % 5);
    o.dither = o.levels == 0 ? GRAYBMP_DITHER_NONE : static_cast<graybmp_dither>(size % (GRAYBMP_DITHER_BAYER16 + 1));
    if (graybmp::diffuses(static_cast<graybmp::Dither>(o.dither)))
        o.serpentine = static_cast<int>(size / 7 % 2), o.strength = static_cast<int>(size % 101);
    o.negate = static_cast<int>(size / 3 % 2);
    o.background_given = static_cast<int>(size % 2), o.background = 0x808080;
    o.max_pixels = std::uint64_t{1} << 20;  // the fuzzer's memory
    if (size % 3 != 0) {  // fitted: sizes, fits, filters and turns by the input's length
        o.fit_width = static_cast<std::uint32_t>(size % 5 == 0 ? 0 : 1 + size % 37);
        o.fit_height = static_cast<std::uint32_t>(size % 7 == 0 ? 0 : 1 + size / 5 % 29);
        o.fit = static_cast<int>(size / 11 % 3), o.filter = static_cast<int>(size / 13 % 4);
        const int turns[] = {0, 90, 180, 270, GRAYBMP_ROTATE_AUTO};
        o.rotate = turns[size / 17 % 5];
        o.no_auto_orient = static_cast<int>(size / 19 % 2);
    }
    graybmp_header h{};
    for (const std::size_t n : {std::size_t{12}, std::size_t{64}, size})
        graybmp_read_header(data, std::min(n, size), size, &o, &h, nullptr);
    std::uint64_t length = 0;
    graybmp_status s = graybmp_output_length(data, size, &o, &length, nullptr);
    if (s != GRAYBMP_OK) {
        REQUIRE(pictureRefusal(s));
        return 0;
    }
    Bytes memory(static_cast<std::size_t>(length));
    std::size_t written = 0;
    s = graybmp_convert_memory(data, size, memory.data(), memory.size(), &o, &written, nullptr);
    REQUIRE(s == GRAYBMP_OK ? written == length : pictureRefusal(s));
    Pipe pipe{data, size};
    graybmp_reader reader{&pipe, pipeRead, nullptr, nullptr};
    graybmp_writer writer{&pipe, pipeWrite, nullptr};
    const graybmp_status piped = graybmp_convert_stream(&reader, nullptr, 0, &writer, &o, nullptr, nullptr);
    REQUIRE(piped == s);
    REQUIRE(s != GRAYBMP_OK || pipe.out == memory);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int orientation = graybmp::exifOrientation(data, size);  // the bytes as an Exif block too
    REQUIRE(orientation >= 1 && orientation <= 8);
    if (graybmp_picture_kind(data, size) != GRAYBMP_KIND_NONE) return picture(data, size);
    std::uint8_t lead[graybmp::kMaxLeadSize] = {};
    const std::size_t leadSize = std::min(size, sizeof lead);
    std::copy(data, data + leadSize, lead);
    graybmp::ImageLayout layout{};
    if (graybmp::checkInput(lead, leadSize, size, layout) != graybmp::InputError::None) return 0;

    graybmp::Stream in, out;
    REQUIRE(graybmp::streamAttach(in, memoryFile(inputFd, data, size, "rb"), false));
    REQUIRE(graybmp::streamAttach(out, memoryFile(outputFd, nullptr, 0, "w+b"), true));
    const std::size_t chunk = size % 2 == 0 ? graybmp::kChunkSize : 12 + size % 97;
    in.kernelCopy = size % 3 != 0;
    const auto checked = graybmp::test::kMethods[size % std::size(graybmp::test::kMethods)];
    const graybmp::GrayFormula method = graybmp::test::formulaOf(checked);
    // A bitmap array's later entries are checked as the copy reaches them.
    // --compact for every third length, where the kind takes it.
    const bool compact = size % 3 == 1 && layout.kind == graybmp::ImageKind::TrueColour &&
                         !layout.arrayFirst && layout.bitCount != 64;
    graybmp::Conversion c;
    c.settings.method = method;
    c.settings.compact = compact;
    std::copy(lead, lead + leadSize, c.lead);
    c.leadSize = leadSize;
    graybmp::Failure refused;
    REQUIRE(graybmp::conversionChecked(c, size, refused));
    c.in = &in;
    c.out = &out;
    c.chunkSize = chunk;
    const graybmp::CopyFault fault = graybmp::conversionCopy(c);
    graybmp_options options;
    graybmp_options_init(&options);
    graybmp_options_set_method(&options, graybmp::test::methodName(checked), nullptr);
    options.compact = compact;
    if (fault == graybmp::CopyFault::Translucent) {  // only alpha that is not full is refused
        graybmp::streamClose(in);
        graybmp::streamClose(out);
        REQUIRE(compact && layout.alphaMask != 0);
        std::uint64_t needed = 0;
        REQUIRE(graybmp_output_length(data, size, &options, &needed, nullptr) == GRAYBMP_OK);
        Bytes memory(static_cast<std::size_t>(needed));
        REQUIRE(graybmp_convert_memory(data, size, memory.data(), memory.size(), &options, nullptr,
                                       nullptr) == GRAYBMP_TRANSLUCENT);
        return 0;
    }
    if (fault == graybmp::CopyFault::Refused && layout.arrayFirst) {
        graybmp::streamClose(in);
        graybmp::streamClose(out);
        // The library refuses it too, and leaves a buffer refused in place as it was.
        Bytes buffer(data, data + size);
        REQUIRE(graybmp_convert_in_place(buffer.data(), size, &options, nullptr) != GRAYBMP_OK);
        REQUIRE(std::equal(buffer.begin(), buffer.end(), data));
        return 0;
    }
    REQUIRE(fault == graybmp::CopyFault::None);

    const off_t length = lseek(fileno(out.file), 0, SEEK_END);
    REQUIRE(length >= 0);
    Bytes output(static_cast<std::size_t>(length));
    REQUIRE(graybmp::streamReadAt(out, 0, output.data(), output.size()) == output.size());
    graybmp::streamClose(in);
    graybmp::streamClose(out);

    // The library's memory to memory and in place give the same bytes.
    std::uint64_t needed = 0;
    REQUIRE(graybmp_output_length(data, size, &options, &needed, nullptr) == GRAYBMP_OK);
    REQUIRE(needed == output.size());
    Bytes memory(output.size() + 1, 0xA5);
    REQUIRE(graybmp_convert_memory(data, size, memory.data(), output.size(), &options, nullptr,
                                   nullptr) == GRAYBMP_OK);
    REQUIRE(std::equal(output.begin(), output.end(), memory.begin()) && memory.back() == 0xA5);
    if (output.size() == size) {
        Bytes buffer(data, data + size);
        REQUIRE(graybmp_convert_in_place(buffer.data(), size, &options, nullptr) == GRAYBMP_OK);
        REQUIRE(buffer == output);
    }

    const Bytes input(data, data + size);
    if (!compact) {  // the compact form has other headers: its picture is what tells
        const std::string problem = graybmp::test::grayCopyProblem(input, output, layout, checked);
        if (!problem.empty()) std::fprintf(stderr, "%s\n", problem.c_str());
        REQUIRE(problem.empty());
    }
    graybmp::test::Picture before, after;
    std::string why;
    if (graybmp::test::decodePicture(input, before, why, 1 << 14)) {
        REQUIRE(graybmp::test::decodePicture(output, after, why, 1 << 14));
        if (compact)
            for (graybmp::test::Rgba& p : before.pixels) p.a = 255;  // alpha is not kept
        REQUIRE(graybmp::test::grayPictureProblem(before, after, checked).empty());
    }
    return 0;
}
