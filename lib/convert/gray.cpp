#include "convert/gray.h"

#include <algorithm>
#include <cstring>

namespace graybmp {
namespace {

Channel channelOf(std::uint32_t mask) {
    Channel c{mask, 0, 0};
    while (((mask >> c.shift) & 1u) == 0) ++c.shift;
    while (c.shift + c.bits < 32 && ((mask >> (c.shift + c.bits)) & 1u) != 0) ++c.bits;
    return c;
}

// A channel's value on the 8-bit scale: narrower channels repeat their high bits (so
// the top value is 255), wider ones keep their top 8 bits.
unsigned widen(const Channel& c, std::uint32_t value) {
    const std::uint32_t v = (value & c.mask) >> c.shift;
    if (c.bits >= 8) return v >> (c.bits - 8);
    unsigned out = 0;
    for (int filled = 0; filled < 8; filled += c.bits) {
        const int room = 8 - filled;
        out |= room >= c.bits ? v << (room - c.bits) : v >> (c.bits - room);
    }
    return out & 0xFF;
}

// An 8-bit gray at the channel's width: its high bits, or for a wider channel the gray
// followed by its own high bits again, so that 255 is the channel's top value.
std::uint32_t narrow(const Channel& c, unsigned gray) {
    std::uint32_t v = 0;
    if (c.bits <= 8) {
        v = gray >> (8 - c.bits);
    } else {
        for (int filled = 0; filled < c.bits; filled += 8) {
            const int room = c.bits - filled;
            v |= room >= 8 ? std::uint32_t{gray} << (room - 8) : gray >> (8 - room);
        }
    }
    return (v << c.shift) & c.mask;
}

int wholeByte(const Channel& c) { return c.bits == 8 && c.shift % 8 == 0 ? c.shift / 8 : -1; }

// Pixels of any other layout a block at a time: each channel widened into a plane, the
// method's kernel over the planes, then each gray stored back by `store`.
constexpr std::size_t kPlaneBlock = 1024;

template <class Load, class Store>
void grayThroughPlanes(const PixelGray& g, std::size_t count, Load load, Store store) {
    std::uint8_t planes[3][kPlaneBlock], grays[kPlaneBlock];
    PixelRun run{nullptr, 0, 0, grays, {planes[0], planes[1], planes[2]}, g.weights};
    for (std::size_t start = 0; start < count; start += kPlaneBlock) {
        run.count = std::min(kPlaneBlock, count - start);
        for (std::size_t i = 0; i < run.count; ++i) {
            const std::uint32_t v = load(start + i);
            planes[0][i] = static_cast<std::uint8_t>(widen(g.blue, v));
            planes[1][i] = static_cast<std::uint8_t>(widen(g.green, v));
            planes[2][i] = static_cast<std::uint8_t>(widen(g.red, v));
        }
        runKernel(g.cpu, g.formula.method, run);
        for (std::size_t i = 0; i < run.count; ++i) store(start + i, grays[i]);
    }
}

std::uint32_t littleEndian(const std::uint8_t* p, int bytes) {
    std::uint32_t v = 0;
    for (int b = 0; b < bytes; ++b) v |= std::uint32_t{p[b]} << (8 * b);
    return v;
}

}  // namespace

void grayEntries(std::uint8_t* entries, std::size_t count, std::size_t entrySize,
                 const GrayFormula& method) {
    for (std::size_t i = 0; i < count; ++i, entries += entrySize)
        entries[0] = entries[1] = entries[2] = grayOf(method, entries[0], entries[1], entries[2]);
}

void grayPalette(Palette& palette, const GrayFormula& method) {
    grayEntries(reinterpret_cast<std::uint8_t*>(&palette), kPaletteEntries, sizeof(RGBQUAD),
                method);
}

PixelGray pixelGrayOf(const ImageLayout& layout, std::uint16_t* table, const GrayFormula& formula,
                      Cpu cpu) {
    PixelGray g{};
    g.formula = formula;
    g.cpu = cpu;
    g.weights = weightsInDouble(formula);
    if (layout.bitCount == 64) {
        g.bytesPerPixel = 8;
        g.method = PixelMethod::Wide;
        return g;
    }
    g.bytesPerPixel = layout.bitCount / 8;
    g.red = channelOf(layout.redMask);
    g.green = channelOf(layout.greenMask);
    g.blue = channelOf(layout.blueMask);
    g.byteOrder[0] = wholeByte(g.red);
    g.byteOrder[1] = wholeByte(g.green);
    g.byteOrder[2] = wholeByte(g.blue);
    g.table = nullptr;
    const bool bytes = g.byteOrder[0] >= 0 && g.byteOrder[1] >= 0 && g.byteOrder[2] >= 0;
    const bool bgr = g.byteOrder[0] == 2 && g.byteOrder[1] == 1 && g.byteOrder[2] == 0;
    g.method = PixelMethod::Masks;
    if (g.bytesPerPixel == 2 && table != nullptr) {
        const std::uint32_t colour = g.red.mask | g.green.mask | g.blue.mask;
        grayThroughPlanes(
            g, 65536, [](std::size_t v) { return static_cast<std::uint32_t>(v); },
            [&](std::size_t v, std::uint8_t gray) {
                table[v] = static_cast<std::uint16_t>((v & ~colour) | narrow(g.red, gray) |
                                                      narrow(g.green, gray) | narrow(g.blue, gray));
            });
        g.table = table;
        g.method = PixelMethod::Table;
    } else if (g.bytesPerPixel >= 3 && bytes) {
        g.method = bgr ? PixelMethod::Bgr : PixelMethod::Bytes;
    }
    return g;
}

std::uint32_t grayPixel(const PixelGray& g, std::uint32_t value) {
    const unsigned gray =
        grayOf(g.formula, widen(g.blue, value), widen(g.green, value), widen(g.red, value));
    const std::uint32_t colour = g.red.mask | g.green.mask | g.blue.mask;
    return (value & ~colour) | narrow(g.red, gray) | narrow(g.green, gray) | narrow(g.blue, gray);
}

void grayIndicesOn(const PixelGray& g, std::uint32_t alphaMask, std::uint32_t background, const std::uint8_t* p,
                   std::size_t count, std::uint8_t* out) {
    const Channel alpha = channelOf(alphaMask);
    const unsigned b[3] = {background & 0xFF, background >> 8 & 0xFF, background >> 16 & 0xFF};
    const auto size = static_cast<std::size_t>(g.bytesPerPixel);
    for (std::size_t i = 0; i < count; ++i, p += size) {
        std::uint32_t v = 0;
        for (std::size_t k = size; k-- > 0;) v = v << 8 | p[k];
        const unsigned a = widen(alpha, v);
        unsigned c[3] = {widen(g.blue, v), widen(g.green, v), widen(g.red, v)};
        for (int k = 0; k < 3; ++k) c[k] = (c[k] * a + b[k] * (255 - a) + 127) / 255;
        out[i] = grayOf(g.formula, c[0], c[1], c[2]);
    }
}

void grayPixels(const PixelGray& g, std::uint8_t* p, std::size_t count) {
    const int size = g.bytesPerPixel;
    const auto at = [&](std::size_t i) { return p + static_cast<std::size_t>(size) * i; };
    switch (g.method) {
    case PixelMethod::Wide:
        for (std::size_t i = 0; i < count; ++i, p += 8) {
            const std::int32_t gray =
                wideGrayOf(g.formula, readS16le(p), readS16le(p + 2), readS16le(p + 4));
            for (int c = 0; c < 3; ++c) {
                p[2 * c] = static_cast<std::uint8_t>(gray & 0xFF);
                p[2 * c + 1] = static_cast<std::uint8_t>((gray >> 8) & 0xFF);
            }
        }
        return;
    case PixelMethod::Table:
        for (std::size_t i = 0; i < count; ++i, p += 2) {
            const std::uint16_t gray = g.table[readU16le(p)];
            p[0] = static_cast<std::uint8_t>(gray);
            p[1] = static_cast<std::uint8_t>(gray >> 8);
        }
        return;
    case PixelMethod::Bgr:
        return runKernel(g.cpu, g.formula.method, PixelRun{p, count, size, nullptr, {}, g.weights});
    case PixelMethod::Bytes:
        return grayThroughPlanes(
            g, count, [&](std::size_t i) { return littleEndian(at(i), size); },
            [&](std::size_t i, std::uint8_t gray) {
                for (const int b : g.byteOrder) at(i)[b] = gray;
            });
    case PixelMethod::Masks: {
        const std::uint32_t colour = g.red.mask | g.green.mask | g.blue.mask;
        return grayThroughPlanes(
            g, count, [&](std::size_t i) { return littleEndian(at(i), size); },
            [&](std::size_t i, std::uint8_t gray) {
                const std::uint32_t v = (littleEndian(at(i), size) & ~colour) | narrow(g.red, gray) |
                                        narrow(g.green, gray) | narrow(g.blue, gray);
                for (int b = 0; b < size; ++b) at(i)[b] = static_cast<std::uint8_t>(v >> (8 * b));
            });
    }
    }
}

void grayIndices(const PixelGray& g, const std::uint8_t* p, std::size_t count, std::uint8_t* out) {
    const int size = g.bytesPerPixel;
    if (g.method == PixelMethod::Bgr) {
        // A run with an output reads its pixels only.
        runKernel(g.cpu, g.formula.method,
                  PixelRun{const_cast<std::uint8_t*>(p), count, size, out, {}, g.weights});
        return;
    }
    const auto at = [&](std::size_t i) { return p + static_cast<std::size_t>(size) * i; };
    grayThroughPlanes(
        g, count, [&](std::size_t i) { return littleEndian(at(i), size); },
        [&](std::size_t i, std::uint8_t gray) { out[i] = gray; });
}

}  // namespace graybmp
