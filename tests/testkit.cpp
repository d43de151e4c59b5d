#include "testkit.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace graybmp::test {

std::uint32_t u32At(const Bytes& b, std::size_t o) {
    return b[o] | (b[o + 1] << 8) | (b[o + 2] << 16) | (std::uint32_t{b[o + 3]} << 24);
}

void setU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    putU32le(&bytes[offset], value);
}
void setU16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    putU16le(&bytes[offset], value);
}

Bytes expectedGrayCopy(const Bytes& in) {
    const std::int64_t paletteAt = 14 + std::int64_t{u32At(in, 14)};
    const std::int64_t offset = static_cast<std::int32_t>(u32At(in, 10));
    const std::int64_t width = static_cast<std::int32_t>(u32At(in, 18));
    const std::int64_t height = static_cast<std::int32_t>(u32At(in, 22));
    const std::int64_t rows = width > 0 ? std::abs(height) : 0;
    const std::int64_t stride = width + (4 - width % 4) % 4;
    const std::int64_t rowsEnd = rows > 0 ? offset + rows * stride : 0;
    const std::int64_t size = static_cast<std::int64_t>(in.size());
    const auto at = [&](std::int64_t i) -> std::uint8_t { return i < size ? in[i] : 0; };

    Bytes out(std::max({paletteAt + 1024, rowsEnd, size}), 0);
    std::copy(in.begin(), in.begin() + paletteAt, out.begin());
    for (std::int64_t e = paletteAt; e < paletteAt + 1024; e += 4) {
        const auto gray = static_cast<std::uint8_t>((at(e) + at(e + 1) + at(e + 2)) / 3);
        out[e] = out[e + 1] = out[e + 2] = gray;
        out[e + 3] = at(e + 3);
    }
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t start = offset + r * stride;
        for (std::int64_t x = 0; x < stride; ++x) {
            const std::int64_t from = x < width ? x : x - width;
            out[start + x] = from < width ? in[start + from] : 0;
        }
    }
    const std::int64_t tail = std::max(rows > 0 ? rowsEnd : offset, paletteAt + 1024);
    for (std::int64_t i = tail; i < size; ++i) out[i] = in[i];
    return out;
}

Bytes sample(std::int32_t width, std::int32_t height) {
    SampleOptions options;
    options.width = width;
    options.height = height;
    return makeSampleBitmap(options);
}

Bytes sample(const SampleOptions& options) { return makeSampleBitmap(options); }

Bytes readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

}  // namespace graybmp::test
