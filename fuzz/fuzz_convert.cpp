// Feeds arbitrary bytes to graybmp as its input file. Beside "no crash", every accepted
// input must give the expected gray copy, and these invariants are checked on their own:
// the output keeps the headers, every palette entry the rows leave alone is gray with its
// fourth byte kept, every pixel index is the input's, and the output is at least as long.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "bitmap/check.h"
#include "convert/convert.h"
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

void checkInvariants(const Bytes& in, const Bytes& out, const graybmp::ImageLayout& layout) {
    REQUIRE(out.size() >= in.size());
    const auto headersEnd = static_cast<std::size_t>(layout.paletteOffset);
    REQUIRE(
        std::equal(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(headersEnd), out.begin()));
    const auto at = [&](std::size_t i) -> unsigned { return i < in.size() ? in[i] : 0u; };
    for (std::size_t e = headersEnd; e < headersEnd + 1024; e += 4) {
        if (layout.rowCount > 0 && e + 4 > static_cast<std::size_t>(layout.pixelOffset)) break;
        const unsigned gray = (at(e) + at(e + 1) + at(e + 2)) / 3;
        REQUIRE(out[e] == gray && out[e + 1] == gray && out[e + 2] == gray);
        REQUIRE(out[e + 3] == at(e + 3));
    }
    for (std::int64_t r = 0; r < layout.rowCount; ++r)
        for (std::int64_t x = 0; x < layout.width; ++x) {
            const auto i = static_cast<std::size_t>(layout.pixelOffset + r * layout.stride + x);
            REQUIRE(out[i] == in[i]);
        }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint8_t lead[graybmp::kMaxLeadSize] = {};
    const std::size_t leadSize = std::min(size, sizeof lead);
    std::copy(data, data + leadSize, lead);
    graybmp::ImageLayout layout{};
    if (graybmp::checkInput(lead, leadSize, size, layout) != graybmp::InputError::None) return 0;

    graybmp::Stream in, out;
    REQUIRE(graybmp::streamAttach(in, memoryFile(inputFd, data, size, "rb"), false));
    REQUIRE(graybmp::streamAttach(out, memoryFile(outputFd, nullptr, 0, "w+b"), true));
    REQUIRE(graybmp::copyImage(in, out, lead, layout) == graybmp::CopyFault::None);
    REQUIRE(graybmp::streamFlush(out));

    std::FILE* written = out.file;
    REQUIRE(std::fseek(written, 0, SEEK_END) == 0);
    Bytes output(static_cast<std::size_t>(std::ftell(written)));
    REQUIRE(std::fseek(written, 0, SEEK_SET) == 0);
    REQUIRE(std::fread(output.data(), 1, output.size(), written) == output.size());
    graybmp::streamClose(in);
    graybmp::streamClose(out);

    const Bytes input(data, data + size);
    checkInvariants(input, output, layout);
    REQUIRE(output == graybmp::test::expectedGrayCopy(input));
    return 0;
}
