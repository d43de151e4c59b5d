#include "testkit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "blue_noise.h"

namespace graybmp::test {

std::uint32_t u32At(const Bytes& b, std::size_t o) { return littleEndian(b, o, 4); }

void setU32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    putU32le(&bytes[offset], value);
}
void setU16(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    putU16le(&bytes[offset], value);
}

Bytes expectedGrayCopy(const Bytes& in, Method method) {
    const std::int64_t paletteAt = 14 + std::int64_t{u32At(in, 14)};
    const std::int64_t offset = static_cast<std::int32_t>(u32At(in, 10));
    const std::int64_t width = static_cast<std::int32_t>(u32At(in, 18));
    const std::int64_t height = static_cast<std::int32_t>(u32At(in, 22));
    const std::int64_t rows = width > 0 ? std::abs(height) : 0;
    const std::int64_t stride = width + (4 - width % 4) % 4;
    const std::int64_t rowsEnd = rows > 0 ? offset + rows * stride : 0;
    const std::int64_t size = static_cast<std::int64_t>(in.size());
    const auto idx = [](std::int64_t i) { return static_cast<std::size_t>(i); };
    const auto at = [&](std::int64_t i) -> std::uint8_t { return i < size ? in[idx(i)] : 0; };

    Bytes out(idx(std::max({paletteAt + 1024, rowsEnd, size})), 0);
    std::copy(in.begin(), in.begin() + paletteAt, out.begin());
    for (std::int64_t e = paletteAt; e < paletteAt + 1024; e += 4) {
        const auto gray =
            static_cast<std::uint8_t>(referenceGray(method, at(e + 2), at(e + 1), at(e)));
        out[idx(e)] = out[idx(e + 1)] = out[idx(e + 2)] = gray;
        out[idx(e + 3)] = at(e + 3);
    }
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t start = offset + r * stride;
        for (std::int64_t x = 0; x < stride; ++x) {
            const std::int64_t from = x < width ? x : x - width;
            out[idx(start + x)] = from < width ? in[idx(start + from)] : 0;
        }
    }
    const std::int64_t tail = std::max(rows > 0 ? rowsEnd : offset, paletteAt + 1024);
    for (std::int64_t i = tail; i < size; ++i) out[idx(i)] = in[idx(i)];
    // A V5 header's embedded profile ("MBED") keeps its bytes between the palette and rows.
    if (u32At(in, 14) >= 124 && size >= 138 && u32At(in, 70) == 0x4D424544) {
        const std::int64_t from = 14 + std::int64_t{u32At(in, 126)};
        const std::int64_t to = from + std::int64_t{u32At(in, 130)};
        for (std::int64_t i = std::max(from, paletteAt + 1024); i < std::min({to, offset, size}); ++i)
            out[idx(i)] = in[idx(i)];
    }
    return out;
}

namespace {

// The error-diffusion kernels as published: the divisor and each weight with its place
// (rows below, columns right) in reading order; Atkinson's shares are e/8 each, the others'
// last share the rest of e.
struct ReferenceKernel {
    const char* name;
    int divisor;
    std::vector<std::array<int, 3>> taps;  // dy, dx, weight
};
const std::vector<ReferenceKernel>& referenceKernels() {
    static const std::vector<ReferenceKernel> kernels = {
        {"floyd-steinberg", 16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}},
        {"atkinson", 8, {{0, 1, 1}, {0, 2, 1}, {1, -1, 1}, {1, 0, 1}, {1, 1, 1}, {2, 0, 1}}},
        {"jarvis", 48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                        {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}},
        {"stucki", 42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                        {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}},
        {"burkes", 32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}},
        {"sierra", 32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                        {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}},
        {"sierra2", 16, {{0, 1, 4}, {0, 2, 3}, {1, -2, 1}, {1, -1, 2}, {1, 0, 3}, {1, 1, 2}, {1, 2, 1}}},
        {"sierra-lite", 4, {{0, 1, 2}, {1, -1, 1}, {1, 0, 1}}},
    };
    return kernels;
}

}  // namespace

Bytes expectedLevels(const Bytes& input, Method method, int levels, int depth,
                     const std::string& dither, bool serpentine, int strength, const ReferenceTone& tone) {
    Picture picture;
    std::string why;
    if (!decodePicture(input, picture, why)) return {};
    const std::int64_t n = levels, width = picture.width, rows = picture.height;
    const std::uint32_t info = u32At(input, 14);
    // An OS/2 1.x header's height is 16 bits at 20, always bottom-up.
    const auto height = info == 12 ? static_cast<std::int32_t>(rows) : static_cast<std::int32_t>(u32At(input, 22));
    const bool bottomUp = height > 0;
    const auto floorDiv = [](std::int64_t a, std::int64_t b) {
        return static_cast<std::int64_t>(std::floor(static_cast<long double>(a) / b));
    };
    const auto levelOf = [&](std::int64_t k) { return (510 * k + n - 1) / (2 * (n - 1)); };
    // The index of v: the nearest level, or the nearest measured gray (ties to the
    // lighter), or by the threshold; the error is v less the gray aimed at.
    const auto nearest = [&](std::int64_t v) -> std::int64_t {
        if (tone.threshold >= 0) return v >= tone.threshold ? 1 : 0;
        if (tone.grays.empty()) return std::clamp<std::int64_t>(floorDiv(2 * v * (n - 1) + 255, 510), 0, n - 1);
        std::int64_t best = 0;
        for (std::int64_t k = 1; k < n; ++k)
            if (std::llabs(v - tone.grays[static_cast<std::size_t>(k)]) <=
                std::llabs(v - tone.grays[static_cast<std::size_t>(best)]))
                best = k;
        return best;
    };
    // Linear light: Y(g) = round(65535 D(g / 255)), D the sRGB decoding.
    const auto linearOf = [](std::int64_t g) {
        const double v = static_cast<double>(g) / 255.0;
        return std::int64_t{std::llround(65535 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)))};
    };
    const auto aimed = [&](std::int64_t k) {
        const std::int64_t gray = tone.grays.empty() ? levelOf(k) : std::int64_t{tone.grays[static_cast<std::size_t>(k)]};
        return tone.linear ? linearOf(gray) : gray;
    };
    // In linear light the index is the nearest Y of the grays aimed at, ties to the lighter.
    const auto nearestLinear = [&](std::int64_t v) {
        std::int64_t best = 0;
        for (std::int64_t k = 1; k < n; ++k)
            if (std::llabs(v - aimed(k)) <= std::llabs(v - aimed(best))) best = k;
        return best;
    };
    const auto stretch = [&](std::int64_t g, std::int64_t black, std::int64_t white) {
        return std::clamp<std::int64_t>(floorDiv((g - black) * 510 + (white - black), 2 * (white - black)), 0, 255);
    };
    const auto ranged = [&](std::int64_t g) { return tone.black >= 0 ? stretch(g, tone.black, tone.white) : g; };
    // Normalized: B the least g with count(<= g) 200 >= pixels, W the greatest with
    // count(>= g) 200 >= pixels, of the grays after the input range.
    std::int64_t normalBlack = 0, normalWhite = 0;
    if (tone.normalize) {
        std::vector<std::int64_t> count(256);
        for (const Rgba& px : picture.pixels) ++count[static_cast<std::size_t>(ranged(referenceGray(method, px.r, px.g, px.b)))];
        const auto pixels = static_cast<std::int64_t>(picture.pixels.size());
        for (std::int64_t g = 255, atOrAbove = 0; g >= 0; --g)
            if ((atOrAbove += count[static_cast<std::size_t>(g)]) * 200 >= pixels) {
                normalWhite = g;
                break;
            }
        for (std::int64_t g = 0, atOrBelow = 0; g < 256; ++g)
            if ((atOrBelow += count[static_cast<std::size_t>(g)]) * 200 >= pixels) {
                normalBlack = g;
                break;
            }
    }
    const auto toned = [&](std::int64_t g) {
        g = ranged(g);
        if (tone.normalize && normalBlack < normalWhite) g = stretch(g, normalBlack, normalWhite);
        if (tone.gamma != 0)  // to nearest, halves up
            g = static_cast<std::int64_t>(std::floor(255 * std::pow(static_cast<long double>(g) / 255.0L, 1000.0L / tone.gamma) + 0.5L));
        return tone.negate ? 255 - g : g;
    };
    // Grays in file order, and the error carried to each place (the image and a margin).
    const auto fileRow = [&](std::int64_t r) { return bottomUp ? rows - 1 - r : r; };
    std::vector<std::vector<std::int64_t>> carried(
        static_cast<std::size_t>(rows + 2), std::vector<std::int64_t>(static_cast<std::size_t>(width + 4)));
    const auto carry = [&](std::int64_t r, std::int64_t x, std::int64_t e) {
        if (x >= 0 && x < width && r < rows) carried[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)] += e;
    };
    // The ordered patterns: the n x n Bayer matrix, M2n = [[4Mn, 4Mn + 2], [4Mn + 3, 4Mn + 1]]
    // from M1 = [0], of S = n^2 entries; the halftone's matrix as the docs list it; the
    // blue noise as its generator makes it.
    static const int kHalftone[8][8] = {
        {10, 2, 12, 32, 59, 53, 61, 30}, {4, 0, 6, 22, 50, 63, 48, 20},   {14, 8, 16, 36, 56, 47, 54, 34},
        {38, 24, 40, 44, 27, 19, 29, 42}, {58, 52, 60, 31, 11, 3, 13, 33}, {51, 62, 49, 21, 5, 1, 7, 23},
        {57, 46, 55, 35, 15, 9, 17, 37},  {26, 18, 28, 43, 39, 25, 41, 45}};
    const int side = dither == "ordered" || dither == "bayer8" || dither == "halftone" ? 8
                     : dither == "bayer2"                                              ? 2
                     : dither == "bayer4"                                              ? 4
                     : dither == "bayer16"                                             ? 16
                     : dither == "blue-noise"                                          ? 64
                                                                                       : 0;
    const std::int64_t entries = std::int64_t{side} * side;
    std::vector<std::vector<int>> bayer(64, std::vector<int>(64));
    const std::vector<std::uint16_t> blue = dither == "blue-noise" ? makeBlueNoise() : std::vector<std::uint16_t>{};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            int m = 0;
            for (int size = 1; size < side; size *= 2)  // the lowest bits pick the highest digit
                m = 4 * m + ((y & size) ? ((x & size) ? 1 : 3) : ((x & size) ? 2 : 0));
            if (dither == "halftone") m = kHalftone[y][x];
            if (dither == "blue-noise") m = blue[static_cast<std::size_t>(y * 64 + x)];
            bayer[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = m;
        }
    const ReferenceKernel* kernel = nullptr;
    for (const ReferenceKernel& k : referenceKernels())
        if (dither == k.name) kernel = &k;
    const std::int64_t stride = (width * depth + 31) / 32 * 4;
    Bytes out(static_cast<std::size_t>(54 + 4 * n + stride * rows), 0);
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::int64_t y = fileRow(r);
        const bool back = serpentine && r % 2 == 1;  // every second row processed right to left
        for (std::int64_t i = 0; i < width; ++i) {
            const std::int64_t x = back ? width - 1 - i : i;
            const Rgba& px = picture.pixels[static_cast<std::size_t>(y * width + x)];
            const std::int64_t g = toned(referenceGray(method, px.r, px.g, px.b));
            std::int64_t v = (tone.linear ? linearOf(g) : g) + carried[static_cast<std::size_t>(r)][static_cast<std::size_t>(x)];
            const std::int64_t m = side != 0 ? bayer[static_cast<std::size_t>(y % side)][static_cast<std::size_t>(x % side)] : 0;
            if (side != 0 && !tone.linear)
                v += floorDiv((2 * m - (entries - 1)) * 255 + entries * (n - 1), 2 * entries * (n - 1));
            std::int64_t k = tone.linear ? nearestLinear(v) : nearest(v);
            if (side != 0 && tone.linear) {
                // between the levels a and a + 1 around Y(g), a the greatest below N - 1
                // with Y_a <= Y(g): a + 1 where (Y(g) - Y_a) 2S >= (2 (S - M) - 1) (Y_a+1 - Y_a)
                std::int64_t a = 0;
                while (a + 1 < n - 1 && aimed(a + 1) <= v) ++a;
                k = (v - aimed(a)) * 2 * entries >= (2 * (entries - m) - 1) * (aimed(a + 1) - aimed(a)) ? a + 1 : a;
            }
            std::int64_t e = v - aimed(k);
            e = e * strength / 100;  // toward zero, as C++ divides
            if (kernel != nullptr) {
                std::int64_t given = 0;
                for (std::size_t t = 0; t < kernel->taps.size(); ++t) {
                    const auto& [dy, dx, w] = kernel->taps[t];
                    const bool rest = t + 1 == kernel->taps.size() && dither != "atkinson";
                    const std::int64_t share = rest ? e - given : w * e / kernel->divisor;
                    given += share;
                    carry(r + dy, back ? x - dx : x + dx, share);
                }
            }
            const auto at = static_cast<std::size_t>(54 + 4 * n + r * stride + x * depth / 8);
            out[at] = static_cast<std::uint8_t>(out[at] | k << (8 - depth - x * depth % 8));
        }
    }
    out[0] = 'B', out[1] = 'M';
    setU32(out, 2, static_cast<std::uint32_t>(out.size()));
    setU32(out, 10, static_cast<std::uint32_t>(54 + 4 * n));
    setU32(out, 14, 40);
    setU32(out, 18, static_cast<std::uint32_t>(width));
    setU32(out, 22, static_cast<std::uint32_t>(height));  // with its sign
    setU16(out, 26, 1);
    setU16(out, 28, static_cast<std::uint32_t>(depth));
    setU32(out, 34, static_cast<std::uint32_t>(stride * rows));
    if (info != 12 && info >= 28) setU32(out, 38, u32At(input, 38));  // resolution, if held
    if (info != 12 && info >= 32) setU32(out, 42, u32At(input, 42));
    setU32(out, 46, static_cast<std::uint32_t>(n));
    for (std::int64_t k = 0; k < n; ++k)
        for (int c = 0; c < 3; ++c) out[static_cast<std::size_t>(54 + 4 * k + c)] = static_cast<std::uint8_t>(levelOf(k));
    return out;
}

Bytes expectedOutput(const Bytes& levels, const ReferenceOutput& o, int depth) {
    const auto width = static_cast<std::int64_t>(u32At(levels, 18));
    const auto height = static_cast<std::int32_t>(u32At(levels, 22));
    const std::int64_t rows = height < 0 ? -std::int64_t{height} : height, n = u32At(levels, 46);
    const std::int64_t bits = levels[28], stride = (width * bits + 31) / 32 * 4, offset = u32At(levels, 10);
    // index[y][x], y from the picture's top
    const auto index = [&](std::int64_t y, std::int64_t x) {
        const std::int64_t r = height > 0 ? rows - 1 - y : y;
        const std::uint8_t byte = levels[static_cast<std::size_t>(offset + r * stride + x * bits / 8)];
        const std::int64_t k = byte >> (8 - bits - x * bits % 8) & ((1 << bits) - 1);
        return o.whiteFirst ? n - 1 - k : k;
    };
    const bool lsb = o.bitOrder == "lsb" || o.format == "xbm";
    // Values of `b` bits a row, `rowBytes` bytes, the first in the high bits (low with lsb).
    const auto packRows = [&](Bytes& out, std::int64_t b, std::int64_t align, bool bottomUp, auto value) {
        const std::int64_t used = (width * b + 7) / 8, rowBytes = (used + align - 1) / align * align;
        for (std::int64_t i = 0; i < rows; ++i) {
            const std::int64_t y = bottomUp ? rows - 1 - i : i;
            Bytes row(static_cast<std::size_t>(rowBytes), 0);
            for (std::int64_t x = 0; x < width; ++x) {
                const std::int64_t at = x * b, shift = lsb ? at % 8 : 8 - b - at % 8;
                row[static_cast<std::size_t>(at / 8)] |= static_cast<std::uint8_t>(value(y, x) << shift);
            }
            out.insert(out.end(), row.begin(), row.end());
        }
    };
    Bytes out;
    if (o.format == "bmp") {
        const bool bottomUp = o.rows.empty() ? height > 0 : o.rows == "bottom-up";
        const std::int64_t entries = o.fullPalette ? std::int64_t{1} << depth : n;
        const std::int64_t outStride = (width * depth + 31) / 32 * 4;
        out.assign(static_cast<std::size_t>(54 + 4 * entries), 0);
        out[0] = 'B', out[1] = 'M';
        setU32(out, 2, static_cast<std::uint32_t>(54 + 4 * entries + outStride * rows));
        setU32(out, 10, static_cast<std::uint32_t>(54 + 4 * entries));
        setU32(out, 14, 40);
        setU32(out, 18, static_cast<std::uint32_t>(width));
        setU32(out, 22, static_cast<std::uint32_t>(bottomUp ? rows : -rows));
        setU16(out, 26, 1);
        setU16(out, 28, static_cast<std::uint32_t>(depth));
        setU32(out, 34, static_cast<std::uint32_t>(outStride * rows));
        setU32(out, 38, u32At(levels, 38)), setU32(out, 42, u32At(levels, 42));
        setU32(out, 46, static_cast<std::uint32_t>(entries));
        for (std::int64_t k = 0; k < n; ++k)  // entry k the gray of its level; the rest black
            for (int c = 0; c < 3; ++c)
                out[static_cast<std::size_t>(54 + 4 * k + c)] =
                    static_cast<std::uint8_t>((510 * (o.whiteFirst ? n - 1 - k : k) + n - 1) / (2 * (n - 1)));
        for (std::int64_t i = 0; i < rows; ++i) {  // a BMP's rows from the bottom unless top-down
            const std::int64_t y = bottomUp ? rows - 1 - i : i;
            Bytes row(static_cast<std::size_t>(outStride), 0);
            for (std::int64_t x = 0; x < width; ++x)
                row[static_cast<std::size_t>(x * depth / 8)] |= static_cast<std::uint8_t>(index(y, x) << (8 - depth - x * depth % 8));
            out.insert(out.end(), row.begin(), row.end());
        }
        return out;
    }
    if (o.format == "pbm" || o.format == "pgm") {
        const std::string head = (o.format == "pbm" ? "P4\n" : "P5\n") + std::to_string(width) + " " +
                                 std::to_string(rows) + (o.format == "pbm" ? "\n" : "\n255\n");
        out.assign(head.begin(), head.end());
        if (o.format == "pbm")
            packRows(out, 1, 1, false, [&](std::int64_t y, std::int64_t x) { return index(y, x) == 0 ? 1 : 0; });
        else
            packRows(out, 8, 1, false, [&](std::int64_t y, std::int64_t x) { return (510 * index(y, x) + n - 1) / (2 * (n - 1)); });
        return out;
    }
    if (o.format == "xbm") {
        packRows(out, 1, 1, false, [&](std::int64_t y, std::int64_t x) { return index(y, x) == 0 ? 1 : 0; });
        return out;
    }
    // raw and c
    const bool bottomUp = o.rows == "bottom-up";
    if (o.packing == "pages") {  // a byte a column of 8 rows, the top in bit 0 (bit 7 with msb)
        for (std::int64_t page = 0; page < (rows + 7) / 8; ++page)
            for (std::int64_t x = 0; x < width; ++x) {
                std::uint8_t byte = 0;
                for (std::int64_t r = 0; r < 8 && page * 8 + r < rows; ++r)
                    byte = static_cast<std::uint8_t>(byte | (index(page * 8 + r, x) & 1) << (o.bitOrder == "msb" ? 7 - r : r));
                out.push_back(byte);
            }
    } else if (o.packing == "planes") {  // the most significant bit's picture first
        for (int bit = depth - 1; bit >= 0; --bit)
            packRows(out, 1, o.rowAlign, bottomUp, [&](std::int64_t y, std::int64_t x) { return index(y, x) >> bit & 1; });
    } else {
        packRows(out, depth, o.rowAlign, bottomUp, index);
    }
    return out;
}

Bytes arrayBytes(const Bytes& text) {
    const std::string t(text.begin(), text.end());
    Bytes bytes;
    for (std::size_t at = t.find("= {"); at != std::string::npos && (at = t.find("0x", at)) != std::string::npos; at += 4)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(t.substr(at + 2, 2), nullptr, 16)));
    return bytes;
}

namespace {

std::string truePixelProblem(std::uint32_t in, std::uint32_t out, const ImageLayout& l,
                             Method method) {
    const std::uint32_t masks[3] = {l.redMask, l.greenMask, l.blueMask};
    const std::uint32_t colour = masks[0] | masks[1] | masks[2];
    if ((in & ~colour) != (out & ~colour)) return "bits outside the masks changed";
    const int r = scaledChannel(in, masks[0]), g = scaledChannel(in, masks[1]),
              b = scaledChannel(in, masks[2]);
    for (const std::uint32_t m : masks) {
        const int got = scaledChannel(out, m);
        if (!isGrayOf(got, method, r, g, b, maskBits(m)))
            return "channel " + std::to_string(got) + " is not gray " +
                   std::to_string(referenceGray(method, r, g, b));
    }
    return "";
}

}  // namespace

GrayFormula formulaOf(Method method) {
    if (method != Method::Weights) return static_cast<GrayMethod>(method);
    return GrayFormula(kMethodWeights[0], kMethodWeights[1], kMethodWeights[2]);
}

namespace {

int s16At(const Bytes& b, std::size_t at) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(b[at] | b[at + 1] << 8));
}

// A 64-bit pixel: blue, green and red the method's floor formula of the signed values
// (linear already, so luminance is BT.709 there).
// The gray of signed linear channels: the formulas with floor division; luminance is BT.709
// there, the root mean square takes the sign of the sum and stops at 32767.
int wideGray(Method method, int r, int g, int b) {
    const auto floorOf = [](long double v) { return static_cast<int>(std::floor(v)); };
    switch (method) {
    case Method::Luminance:
        return referenceGray(Method::Bt709, r, g, b);
    case Method::Lightness:
        return floorOf((std::max({r, g, b}) + std::min({r, g, b}) + 1) / 2.0L);
    case Method::Rms: {
        const int root = std::min(32767, static_cast<int>(std::lround(
                                             std::sqrt((1.0 * r * r + 1.0 * g * g + 1.0 * b * b) / 3))));
        return r + g + b < 0 ? -root : root;
    }
    case Method::Weights: {
        const std::uint64_t* w = kMethodWeights;
        __extension__ typedef __int128 Wide;
        const Wide sum = Wide{w[0]} + w[1] + w[2];
        const Wide n = Wide{w[0]} * r + Wide{w[1]} * g + Wide{w[2]} * b + sum / 2;
        return static_cast<int>(n / sum - (n % sum < 0 ? 1 : 0));
    }
    default:
        return referenceGray(method, r, g, b);
    }
}

std::string widePixelProblem(const Bytes& in, const Bytes& out, std::size_t at, Method method) {
    const int gray = wideGray(method, s16At(in, at + 4), s16At(in, at + 2), s16At(in, at));
    for (std::size_t c = 0; c < 3; ++c)
        if (s16At(out, at + 2 * c) != gray) return "64-bit channel not gray";
    return out[at + 6] == in[at + 6] && out[at + 7] == in[at + 7] ? "" : "64-bit alpha changed";
}

// One bitmap's colours: its table entries, then its true-colour pixels or RLE24 triples,
// each marked as allowed to change in `changes`.
std::string bitmapProblem(const Bytes& in, const Bytes& out, const ImageLayout& l, Method method,
                          std::vector<bool>& changes) {
    const auto tableAt = static_cast<std::size_t>(l.paletteOffset);
    const auto entry = static_cast<std::size_t>(l.entrySize);
    const std::size_t tableEnd = tableAt + static_cast<std::size_t>(l.paletteEntries) * entry;
    for (std::size_t e = tableAt; e < tableEnd; e += entry) {
        const int r = in[e + 2], g = in[e + 1], b = in[e];
        if (!isGrayOf(out[e], method, r, g, b) || out[e + 1] != out[e] || out[e + 2] != out[e] ||
            (entry == 4 && out[e + 3] != in[e + 3]))
            return "palette entry at " + std::to_string(e) + " is not gray";
        changes[e] = changes[e + 1] = changes[e + 2] = true;
    }
    const auto triple = [&](std::size_t at) {  // an RLE24 colour: gray, all three alike
        changes[at] = changes[at + 1] = changes[at + 2] = true;
        return isGrayOf(out[at], method, in[at + 2], in[at + 1], in[at]) &&
               out[at + 1] == out[at] && out[at + 2] == out[at];
    };
    if (l.kind == ImageKind::Rle24) {  // the walk of the codes, as the format gives them
        for (std::size_t at = static_cast<std::size_t>(l.pixelOffset); at + 1 < in.size();) {
            const std::size_t count = in[at], code = in[at + 1];
            if (count > 0) {
                if (at + 4 > in.size()) break;
                if (!triple(at + 1)) return "run colour at " + std::to_string(at + 1);
                at += 4;
            } else if (code == 1) {
                break;
            } else if (code == 0 || code == 2) {
                at += code == 0 ? 2 : 4;
            } else {
                at += 2;
                for (std::size_t k = 0; k < code && at + 3 <= in.size(); ++k, at += 3)
                    if (!triple(at)) return "literal colour at " + std::to_string(at);
                at += (3 * code) % 2;
            }
        }
        return "";
    }
    if (l.kind != ImageKind::TrueColour) return "";
    const std::int64_t size = l.bitCount / 8;
    for (std::int64_t r = 0; r < l.rowCount; ++r)
        for (std::int64_t x = 0; x < l.width; ++x) {
            const auto at = static_cast<std::size_t>(l.pixelOffset + r * l.stride + x * size);
            if (at + static_cast<std::size_t>(size) > in.size()) continue;
            for (std::size_t k = 0; k < static_cast<std::size_t>(size); ++k) changes[at + k] = true;
            const std::string p = size == 8
                                      ? widePixelProblem(in, out, at, method)
                                      : truePixelProblem(littleEndian(in, at, static_cast<int>(size)),
                                                         littleEndian(out, at, static_cast<int>(size)), l, method);
            if (!p.empty()) return "pixel at " + std::to_string(at) + ": " + p;
        }
    return "";
}

}  // namespace

std::string grayCopyProblem(const Bytes& in, const Bytes& out, const ImageLayout& l,
                            Method method) {
    if (l.kind == ImageKind::Indexed8 && !l.arrayFirst)
        return out == expectedGrayCopy(in, method) ? "" : "differs from the expected 8-bit copy";
    if (out.size() != in.size()) return "length " + std::to_string(out.size());
    std::vector<bool> changes(in.size(), false);
    ImageLayout entry = l;
    for (;;) {  // the bitmap, or each entry along a bitmap array's chain
        const std::string p = bitmapProblem(in, out, entry, method, changes);
        if (!p.empty()) return p;
        const auto next = static_cast<std::size_t>(entry.arrayNext);
        if (!l.arrayFirst || next == 0) break;
        if (checkArrayEntry(in.data() + next, std::min(kMaxLeadSize, in.size() - next), in.size(),
                            entry.arrayNext, entry) != InputError::None)
            return "the array entry at " + std::to_string(next) + " was converted";
    }
    for (std::size_t i = 0; i < in.size(); ++i)
        if (!changes[i] && out[i] != in[i]) return "byte " + std::to_string(i) + " changed";
    return "";
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
