#include "convert/gray.h"

namespace graybmp {
namespace {

std::uint8_t meanOf(unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>((blue + green + red) / 3);
}

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

// Pixels whose three channels are whole bytes: the common 24- and 32-bit layouts.
template <int Bytes>
void grayBytePixels(const PixelGray& g, std::uint8_t* p, std::size_t count) {
    const int r = g.byteOrder[0], gr = g.byteOrder[1], b = g.byteOrder[2];
    for (std::size_t i = 0; i < count; ++i, p += Bytes) {
        const std::uint8_t gray = meanOf(p[b], p[gr], p[r]);
        p[r] = p[gr] = p[b] = gray;
    }
}

// Blue, green, red in that byte order, the layout nearly every file has. Written so that
// the compiler vectorizes it; on x86-64 Linux an AVX-512 or AVX2 version is picked at
// load time where the processor has it (four and two and a half times as fast).
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__)
#define GRAYBMP_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "avx2", "default")))
#else
#define GRAYBMP_VECTOR_CLONES
#endif

template <int Bytes>
void grayBgrPixels(std::uint8_t* __restrict p, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* pixel = p + Bytes * i;
        const auto sum = static_cast<std::uint16_t>(pixel[0] + pixel[1] + pixel[2]);
        const auto gray = static_cast<std::uint8_t>(sum / 3);
        pixel[0] = gray;
        pixel[1] = gray;
        pixel[2] = gray;
    }
}

GRAYBMP_VECTOR_CLONES void grayBgr24(std::uint8_t* __restrict p, std::size_t count) {
    grayBgrPixels<3>(p, count);
}

GRAYBMP_VECTOR_CLONES void grayBgr32(std::uint8_t* __restrict p, std::size_t count) {
    grayBgrPixels<4>(p, count);
}

}  // namespace

void grayEntries(std::uint8_t* entries, std::size_t count, std::size_t entrySize) {
    for (std::size_t i = 0; i < count; ++i, entries += entrySize)
        entries[0] = entries[1] = entries[2] = meanOf(entries[0], entries[1], entries[2]);
}

void grayPalette(Palette& palette) {
    grayEntries(reinterpret_cast<std::uint8_t*>(&palette), kPaletteEntries, sizeof(RGBQUAD));
}

PixelGray pixelGrayOf(const ImageLayout& layout, std::uint16_t* table) {
    PixelGray g{};
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
        for (std::uint32_t v = 0; v < 65536; ++v)
            table[v] = static_cast<std::uint16_t>(grayPixel(g, v));
        g.table = table;
        g.method = PixelMethod::Table;
    } else if (g.bytesPerPixel >= 3 && bytes) {
        g.method = bgr ? PixelMethod::Bgr : PixelMethod::Bytes;
    }
    return g;
}

std::uint32_t grayPixel(const PixelGray& g, std::uint32_t value) {
    const unsigned gray = meanOf(widen(g.blue, value), widen(g.green, value), widen(g.red, value));
    const std::uint32_t colour = g.red.mask | g.green.mask | g.blue.mask;
    return (value & ~colour) | narrow(g.red, gray) | narrow(g.green, gray) | narrow(g.blue, gray);
}

void grayPixels(const PixelGray& g, std::uint8_t* p, std::size_t count) {
    const bool three = g.bytesPerPixel == 3;
    switch (g.method) {
    case PixelMethod::Table:
        for (std::size_t i = 0; i < count; ++i, p += 2) {
            const std::uint16_t gray = g.table[readU16le(p)];
            p[0] = static_cast<std::uint8_t>(gray);
            p[1] = static_cast<std::uint8_t>(gray >> 8);
        }
        return;
    case PixelMethod::Bgr:
        return three ? grayBgr24(p, count) : grayBgr32(p, count);
    case PixelMethod::Bytes:
        return three ? grayBytePixels<3>(g, p, count) : grayBytePixels<4>(g, p, count);
    case PixelMethod::Masks:
        for (std::size_t i = 0; i < count; ++i, p += g.bytesPerPixel) {
            std::uint32_t v = 0;
            for (int b = 0; b < g.bytesPerPixel; ++b) v |= std::uint32_t{p[b]} << (8 * b);
            v = grayPixel(g, v);
            for (int b = 0; b < g.bytesPerPixel; ++b)
                p[b] = static_cast<std::uint8_t>(v >> (8 * b));
        }
        return;
    }
}

}  // namespace graybmp
