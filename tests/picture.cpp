#include "picture.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace graybmp::test {

std::uint32_t littleEndian(const Bytes& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b[at + static_cast<std::size_t>(i)];
    return v;
}

namespace {

void put(Bytes& b, std::size_t at, std::uint32_t v, int size) {
    for (int i = 0; i < size; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

int lowBit(std::uint32_t m) {
    int s = 0;
    while (s < 32 && ((m >> s) & 1u) == 0) ++s;
    return s;
}

}  // namespace

int maskBits(std::uint32_t m) {
    int n = 0;
    for (; m != 0; m &= m - 1) ++n;
    return n;
}

std::uint8_t scaledChannel(std::uint32_t value, std::uint32_t mask) {
    const int shift = lowBit(mask), bits = maskBits(mask);
    const std::uint32_t v = (value & mask) >> shift;
    if (bits >= 8) return static_cast<std::uint8_t>(v >> (bits - 8));
    std::uint32_t out = 0;
    for (int i = 0; i < 8; ++i) {  // bit 7 - i of the output is bit (bits - 1 - i % bits) of v
        const int from = bits - 1 - i % bits;
        out |= ((v >> from) & 1u) << (7 - i);
    }
    return static_cast<std::uint8_t>(out);
}

namespace {

struct Header {
    std::uint32_t size = 0;
    std::int64_t width = 0, height = 0;
    int bits = 0;
    std::uint32_t compression = 0, colours = 0, masks[4] = {};
    std::size_t paletteAt = 0, entrySize = 4, offset = 0;
};

bool fail(std::string& why, const std::string& reason) {
    why = reason;
    return false;
}

bool readInfoHeader(const Bytes& f, Header& h, std::string& why);

bool readHeader(const Bytes& f, Header& h, std::string& why) {
    if (f.size() < 26 || f[0] != 'B' || f[1] != 'M') return fail(why, "not a bitmap");
    h.size = littleEndian(f, 14, 4);
    h.offset = littleEndian(f, 10, 4);
    if (h.size == 12) {
        h.width = littleEndian(f, 18, 2), h.height = littleEndian(f, 20, 2),
        h.bits = static_cast<int>(littleEndian(f, 24, 2));
        h.paletteAt = 26, h.entrySize = 3;
    } else if (!readInfoHeader(f, h, why)) {
        return false;
    }
    if (h.compression == 0 && h.bits == 16) {
        h.masks[0] = 0x7C00, h.masks[1] = 0x3E0, h.masks[2] = 0x1F;
    } else if (h.compression == 0 && h.bits >= 24) {
        h.masks[0] = 0xFF0000, h.masks[1] = 0xFF00, h.masks[2] = 0xFF;
    }
    return true;
}

bool readInfoHeader(const Bytes& f, Header& h, std::string& why) {
    const bool windows =
        h.size == 40 || h.size == 52 || h.size == 56 || h.size == 108 || h.size == 124;
    if ((!windows && (h.size < 16 || h.size > 64)) || f.size() < 14 + h.size)
        return fail(why, "header");
    std::vector<std::uint8_t> info(f.begin() + 14, f.begin() + 14 + h.size);
    info.resize(124, 0);
    const Bytes& i = info;
    h.width = static_cast<std::int32_t>(littleEndian(i, 4, 4));
    h.height = static_cast<std::int32_t>(littleEndian(i, 8, 4));
    h.bits = static_cast<int>(littleEndian(i, 14, 2));
    h.compression = littleEndian(i, 16, 4);
    h.colours = littleEndian(i, 32, 4);
    h.paletteAt = 14 + h.size;
    const bool os2 = !windows || h.size == 64;
    if (os2 && h.compression > 2) return fail(why, "OS/2 compression");
    if (h.compression == 3 || h.compression == 6) {
        if (h.size == 40) {
            const std::size_t n = h.compression == 6 ? 4 : 3;
            if (f.size() < 54 + 4 * n) return fail(why, "masks");
            for (std::size_t k = 0; k < n; ++k) h.masks[k] = littleEndian(f, 54 + 4 * k, 4);
            h.paletteAt += 4 * n;
        } else {
            for (std::size_t k = 0; k < 4; ++k)
                h.masks[k] = h.size >= 56 || k < 3 ? littleEndian(i, 40 + 4 * k, 4) : 0;
        }
    } else if (h.compression > 2) {
        return fail(why, "compression " + std::to_string(h.compression));
    }
    return true;
}

struct Decoder {
    const Bytes& f;
    const Header& h;
    std::vector<Rgba> palette;
    Picture& p;

    Rgba colour(std::uint32_t index) const {
        return index < palette.size() ? palette[index] : Rgba{0, 0, 0, 255};
    }
    // Row r of the file is picture line y.
    std::int64_t lineOf(std::int64_t r) const { return h.height < 0 ? r : p.height - 1 - r; }

    bool rows(std::string& why) {
        const std::int64_t stride = (p.width * h.bits + 31) / 32 * 4;
        const std::int64_t rowBytes = (p.width * h.bits + 7) / 8;
        const auto offset = static_cast<std::int64_t>(h.offset);
        if (p.height > 0 &&
            offset + (p.height - 1) * stride + rowBytes > static_cast<std::int64_t>(f.size()))
            return fail(why, "rows past the end");
        const int bytes = h.bits / 8;
        for (std::int64_t r = 0; r < p.height && p.width > 0; ++r) {
            const std::size_t row = h.offset + static_cast<std::size_t>(r * stride);
            Rgba* line = &p.pixels[static_cast<std::size_t>(lineOf(r) * p.width)];
            for (std::int64_t x = 0; x < p.width; ++x) {
                if (h.bits < 16) {
                    const std::int64_t bit = x * h.bits;
                    const std::uint8_t byte = f[row + static_cast<std::size_t>(bit / 8)];
                    const int shift = 8 - h.bits - static_cast<int>(bit % 8);
                    line[x] = colour((byte >> shift) & ((1u << h.bits) - 1));
                    continue;
                }
                const std::uint32_t v =
                    littleEndian(f, row + static_cast<std::size_t>(x * bytes), bytes);
                line[x] = {scaledChannel(v, h.masks[0]), scaledChannel(v, h.masks[1]),
                           scaledChannel(v, h.masks[2]),
                           h.masks[3] != 0 ? scaledChannel(v, h.masks[3]) : std::uint8_t{255}};
            }
        }
        return true;
    }

    bool runs(std::string& why) {
        const bool four = h.compression == 2;
        std::int64_t x = 0, r = 0;
        std::size_t at = h.offset;
        const auto set = [&](std::uint32_t index) {
            if (x < p.width && r < p.height)
                p.pixels[static_cast<std::size_t>(lineOf(r) * p.width + x)] = colour(index);
            ++x;
        };
        for (;;) {
            if (at + 2 > f.size()) return fail(why, "runs past the end");
            const std::uint8_t n = f[at], v = f[at + 1];
            at += 2;
            if (n > 0) {
                for (int k = 0; k < n; ++k) set(four ? (k % 2 == 0 ? v >> 4 : v & 15) : v);
            } else if (v == 0) {
                x = 0, ++r;
            } else if (v == 1) {
                return true;
            } else if (v == 2) {
                if (at + 2 > f.size()) return fail(why, "delta past the end");
                x += f[at], r += f[at + 1];
                at += 2;
            } else {
                const std::size_t bytes = four ? (v + 1u) / 2 : v;
                if (at + bytes > f.size()) return fail(why, "literal past the end");
                for (int k = 0; k < v; ++k) {
                    const std::uint8_t b = f[at + static_cast<std::size_t>(four ? k / 2 : k)];
                    set(four ? (k % 2 == 0 ? b >> 4 : b & 15) : b);
                }
                at += (bytes + 1) / 2 * 2;
            }
            if (r > p.height) return fail(why, "runs past the last line");
        }
    }
};

}  // namespace

bool decodePicture(const Bytes& f, Picture& p, std::string& why, std::int64_t maxPixels) {
    Header h;
    if (!readHeader(f, h, why)) return false;
    const bool rle = h.compression == 1 || h.compression == 2;
    if (h.bits != 1 && h.bits != 2 && h.bits != 4 && h.bits != 8 && h.bits != 16 && h.bits != 24 &&
        h.bits != 32)
        return fail(why, "bit count");
    if ((h.compression == 1 && h.bits != 8) || (h.compression == 2 && h.bits != 4) ||
        (h.compression >= 3 && h.bits < 16) || h.width < 0 || (rle && h.height < 0))
        return fail(why, "inconsistent header");
    if (h.width * std::abs(h.height) > maxPixels) return fail(why, "too large to test");
    std::uint32_t seen = 0;
    for (int k = 0; k < 3; ++k) {
        if (h.bits >= 16 && (h.masks[k] == 0 || (h.masks[k] & seen) != 0))
            return fail(why, "masks");
        seen |= h.masks[k];
    }
    p = Picture{};
    p.width = h.width;
    p.height = std::abs(h.height);
    p.pixels.assign(static_cast<std::size_t>(p.width * p.height), Rgba{0, 0, 0, 255});
    for (int k = 0; k < 3; ++k) p.channelBits[k] = h.bits >= 16 ? maskBits(h.masks[k]) : 8;
    Decoder d{f, h, {}, p};
    if (h.bits < 16) {
        const std::size_t full = std::size_t{1} << h.bits;
        std::size_t n = h.colours != 0 && h.colours < full ? h.colours : full;
        const std::size_t end = std::min<std::size_t>(h.offset, f.size());
        n = std::min(n, end > h.paletteAt ? (end - h.paletteAt) / h.entrySize : 0);
        for (std::size_t e = 0; e < n; ++e) {
            const std::size_t at = h.paletteAt + e * h.entrySize;
            d.palette.push_back({f[at + 2], f[at + 1], f[at], 255});
        }
        if (rle) std::fill(p.pixels.begin(), p.pixels.end(), d.colour(0));
    }
    return rle ? d.runs(why) : d.rows(why);
}

const char* methodName(Method method) {
    const char* const names[] = {"mean", "bt601", "bt709", "luminance",          "max", "lightness",
                                 "rms",  "red",   "green", "blue", "weights=0.2,0.7,0.1"};
    return names[static_cast<int>(method)];
}

int weightedGray(const std::uint64_t w[3], int r, int g, int b) {
    __extension__ typedef unsigned __int128 Wide;
    const Wide sum = Wide{w[0]} + w[1] + w[2];
    const Wide n = Wide{w[0]} * static_cast<unsigned>(r) + Wide{w[1]} * static_cast<unsigned>(g) +
                   Wide{w[2]} * static_cast<unsigned>(b) + sum / 2;
    return static_cast<int>(n / sum);
}

namespace {

double linearLight(int c) {
    static const std::vector<double> table = [] {
        std::vector<double> t(256);
        for (int k = 0; k < 256; ++k) {
            const double v = k / 255.0;
            t[static_cast<std::size_t>(k)] =
                v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table[static_cast<std::size_t>(c)];
}

}  // namespace

int referenceGray(Method method, int r, int g, int b) {
    switch (method) {
    case Method::Mean:
        return static_cast<int>(std::floor((r + g + b) / 3.0));
    case Method::Bt601:
        return static_cast<int>(std::floor((299.0 * r + 587.0 * g + 114.0 * b) / 1000.0 + 0.5));
    case Method::Bt709:
        return static_cast<int>(std::floor((2126.0 * r + 7152.0 * g + 722.0 * b) / 10000.0 + 0.5));
    case Method::Luminance: {
        const double y =
            0.2126 * linearLight(r) + 0.7152 * linearLight(g) + 0.0722 * linearLight(b);
        const double e = y <= 0.0031308 ? 12.92 * y : 1.055 * std::pow(y, 1 / 2.4) - 0.055;
        const double scaled = 255.0 * e;
        return std::clamp(static_cast<int>(std::lround(scaled)), 0, 255);
    }
    case Method::Max:
        return std::max({r, g, b});
    case Method::Lightness:
        return (std::max({r, g, b}) + std::min({r, g, b}) + 1) / 2;
    case Method::Rms:  // the root of the mean of the squares lies at least 1.6e-4 from a half
        return static_cast<int>(std::lround(std::sqrt((r * r + g * g + b * b) / 3.0)));
    case Method::Red:
        return r;
    case Method::Green:
        return g;
    case Method::Blue:
        return b;
    case Method::Weights:
        return weightedGray(kMethodWeights, r, g, b);
    }
    return -1;
}

bool isGrayOf(int got, Method method, int r, int g, int b, int bits) {
    const int gray = referenceGray(method, r, g, b);
    const int slack = bits >= 8 ? 1 : 1 << (8 - bits);
    return std::abs(got - gray) < slack;
}

std::string grayPictureProblem(const Picture& in, const Picture& out, Method method) {
    if (in.width != out.width || in.height != out.height) return "size differs";
    for (std::size_t i = 0; i < in.pixels.size(); ++i) {
        const Rgba a = in.pixels[i], b = out.pixels[i];
        const int got[3] = {b.r, b.g, b.b};
        for (int k = 0; k < 3; ++k) {
            if (!isGrayOf(got[k], method, a.r, a.g, a.b, out.channelBits[k]))
                return "pixel " + std::to_string(i) + " channel " + std::to_string(k) + " is " +
                       std::to_string(got[k]) + ", gray " +
                       std::to_string(referenceGray(method, a.r, a.g, a.b));
        }
        if (a.a != b.a) return "pixel " + std::to_string(i) + " alpha changed";
    }
    return "";
}

// ---- The maker ----

namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
};

// RLE data for the rows: runs of one index, literal stretches and an end of line per row.
Bytes runData(const Shape& s, Random& random) {
    const bool four = s.compression == 2;
    const std::uint32_t top = four ? 16 : 256;
    Bytes data;
    const std::int32_t rows = std::abs(s.height);
    for (std::int32_t r = 0; r < rows; ++r) {
        for (std::int32_t x = 0; x < s.width;) {
            const std::int32_t left = s.width - x;
            if (random.next() % 2 == 0 || left < 3) {
                const std::int32_t n =
                    std::min<std::int32_t>(left, 1 + static_cast<std::int32_t>(random.next() % 9));
                const std::uint32_t a = random.next() % top, b = random.next() % top;
                data.push_back(static_cast<std::uint8_t>(n));
                data.push_back(static_cast<std::uint8_t>(four ? (a << 4) | b : a));
                x += n;
            } else {
                const std::int32_t n =
                    std::min<std::int32_t>(left, 3 + static_cast<std::int32_t>(random.next() % 12));
                data.push_back(0);
                data.push_back(static_cast<std::uint8_t>(n));
                const std::int32_t bytes = four ? (n + 1) / 2 : n;
                for (std::int32_t k = 0; k < bytes; ++k)
                    data.push_back(static_cast<std::uint8_t>(four ? ((random.next() % 16) << 4) |
                                                                        (random.next() % 16)
                                                                  : random.next() % 256));
                if (bytes % 2 != 0) data.push_back(0);
                x += n;
            }
        }
        data.push_back(0);
        data.push_back(r + 1 < rows ? 0 : 1);
    }
    if (rows == 0) data.insert(data.end(), {0, 1});
    return data;
}

}  // namespace

Bytes makePicture(const Shape& s) {
    Random random{s.seed * 2654435761u + 7};
    const bool core = s.infoSize == 12, rle = s.compression == 1 || s.compression == 2;
    const std::size_t maskBytes = s.infoSize == 40 && s.compression == 3   ? 12
                                  : s.infoSize == 40 && s.compression == 6 ? 16
                                                                           : 0;
    const std::size_t entries = s.colours != 0 ? s.colours
                                : s.bits < 16  ? (std::size_t{1} << s.bits)
                                               : 0;
    const std::size_t entrySize = core ? 3 : 4;
    const std::size_t tableEnd = 14 + s.infoSize + maskBytes + entries * entrySize;
    // An 8-bit uncompressed image's palette block is 1024 bytes, whatever it uses.
    const bool block = s.bits == 8 && !rle && !core && s.infoSize >= 40 && s.infoSize != 64;
    const std::size_t paletteEnd = block ? std::max<std::size_t>(tableEnd, 14 + s.infoSize + 1024) : tableEnd;
    const std::size_t profileSize = s.profile == Shape::Profile::None ? 0 : 37 + s.seed % 20;
    const std::size_t offset =
        paletteEnd + (s.profile == Shape::Profile::BeforePixels ? profileSize + 3 : 0);
    const std::size_t stride =
        (static_cast<std::size_t>(s.width) * static_cast<std::size_t>(s.bits) + 31) / 32 * 4;
    Bytes pixels;
    if (rle) {
        pixels = runData(s, random);
    } else {
        pixels.resize(stride * static_cast<std::size_t>(std::abs(s.height)));
        for (auto& b : pixels) b = static_cast<std::uint8_t>(random.next());
    }
    Bytes f(offset + pixels.size(), 0);
    std::copy(pixels.begin(), pixels.end(), f.begin() + static_cast<std::ptrdiff_t>(offset));
    std::size_t profileAt = 0;
    if (s.profile != Shape::Profile::None) {
        profileAt = s.profile == Shape::Profile::BeforePixels ? paletteEnd + 2 : f.size() + 1;
        f.resize(std::max(f.size(), profileAt + profileSize), 0);
        for (std::size_t k = 0; k < profileSize; ++k)
            f[profileAt + k] = static_cast<std::uint8_t>(random.next());
    }
    f[0] = 'B', f[1] = 'M';
    put(f, 2, static_cast<std::uint32_t>(f.size()), 4);
    put(f, 10, static_cast<std::uint32_t>(offset), 4);
    put(f, 14, s.infoSize, 4);
    if (core) {
        put(f, 18, static_cast<std::uint32_t>(s.width), 2);
        put(f, 20, static_cast<std::uint32_t>(s.height), 2);
        put(f, 22, 1, 2);
        put(f, 24, static_cast<std::uint32_t>(s.bits), 2);
    } else {
        put(f, 18, static_cast<std::uint32_t>(s.width), 4);
        put(f, 22, static_cast<std::uint32_t>(s.height), 4);
        put(f, 26, 1, 2);
        put(f, 28, static_cast<std::uint32_t>(s.bits), 2);
        if (s.infoSize >= 20) put(f, 30, s.compression, 4);
        if (s.infoSize >= 24) put(f, 34, static_cast<std::uint32_t>(pixels.size()), 4);
        if (s.infoSize >= 36) put(f, 46, s.colours, 4);
        const std::size_t maskCount = s.infoSize >= 56 || maskBytes == 16 ? 4 : 3;
        if (s.compression == 3 || s.compression == 6)
            for (std::size_t k = 0; k < maskCount; ++k) put(f, 54 + 4 * k, s.masks[k], 4);
        if (s.infoSize >= 108) put(f, 70, 0x73524742, 4);  // sRGB
        if (s.infoSize >= 124 && profileSize > 0) {
            put(f, 70, 0x4D424544, 4);  // PROFILE_EMBEDDED, "MBED"
            put(f, 14 + 112, static_cast<std::uint32_t>(profileAt - 14), 4);  // from the info header
            put(f, 14 + 116, static_cast<std::uint32_t>(profileSize), 4);
        }
    }
    for (std::size_t e = 0; e < entries; ++e) {
        const std::size_t at = 14 + s.infoSize + maskBytes + e * entrySize;
        for (std::size_t k = 0; k < entrySize; ++k)
            f[at + k] = static_cast<std::uint8_t>(random.next());
    }
    return f;
}

std::vector<Shape> everyKind(std::initializer_list<std::int32_t> widths) {
    const struct {
        std::uint32_t info;
        int bits;
        std::uint32_t compression, colours, masks[4];
        Shape::Profile profile = Shape::Profile::None;
    } kinds[] = {
        {40, 1, 0, 0, {}},
        {40, 2, 0, 0, {}},
        {40, 4, 0, 0, {}},
        {40, 1, 0, 1, {}},    // one colour
        {40, 4, 0, 12, {}},   // a short palette
        {40, 8, 1, 200, {}},  // RLE8
        {40, 4, 2, 0, {}},    // RLE4
        {12, 1, 0, 0, {}},
        {12, 4, 0, 0, {}},
        {12, 8, 0, 0, {}},
        {12, 24, 0, 0, {}},  // OS/2 1.x
        {16, 8, 0, 0, {}},   // OS/2 2.x, shortest header
        {64, 4, 0, 0, {}},   // OS/2 2.x, whole header
        {64, 8, 1, 0, {}},   // OS/2 2.x RLE8
        {40, 16, 0, 0, {}},
        {40, 24, 0, 0, {}},
        {40, 32, 0, 0, {}},
        {40, 64, 0, 0, {}},   // signed linear channels
        {40, 24, 0, 20, {}},  // a colour table beside true colour
        {40, 16, 3, 0, {0xF800, 0x07E0, 0x001F, 0}},
        {40, 16, 3, 0, {0x0C00, 0x03E0, 0x001F, 0}},  // 2-5-5
        {124, 16, 3, 0, {0x0F00, 0x00F0, 0x000F, 0xF000}},
        {124, 32, 3, 0, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000}},
        {56, 32, 3, 0, {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000}},
        {40, 32, 6, 0, {0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000}},
        {108, 24, 3, 0, {0x0000FF, 0x00FF00, 0xFF0000, 0}},
        {124, 16, 3, 0, {0x7C00, 0x03E0, 0x001F, 0x8000}},  // 5-5-5 and 1 bit of alpha
        {124, 24, 0, 0, {}, Shape::Profile::BeforePixels},
        {124, 32, 0, 0, {}, Shape::Profile::AfterPixels},
        {124, 4, 0, 0, {}, Shape::Profile::BeforePixels},
        {124, 1, 0, 0, {}, Shape::Profile::AfterPixels},
        {124, 8, 0, 0, {}, Shape::Profile::BeforePixels},  // between the palette block and rows
        {124, 8, 0, 0, {}, Shape::Profile::AfterPixels},
    };
    std::vector<Shape> shapes;
    for (const auto& k : kinds)
        for (const std::int32_t width : widths) {
            Shape s;
            s.infoSize = k.info, s.bits = k.bits, s.compression = k.compression;
            s.colours = k.colours;
            std::copy(k.masks, k.masks + 4, s.masks);
            s.profile = k.profile;
            s.width = width;
            const bool rle = k.compression == 1 || k.compression == 2;
            s.height = width % 2 == 0 && k.info != 12 && !rle ? -3 : 4;
            s.seed = static_cast<std::uint32_t>(shapes.size());
            shapes.push_back(s);
        }
    return shapes;
}

std::string describe(const Shape& s) {
    return "biSize " + std::to_string(s.infoSize) + ", " + std::to_string(s.bits) +
           " bits, compression " + std::to_string(s.compression) + ", " + std::to_string(s.width) +
           " x " + std::to_string(s.height) + ", " + std::to_string(s.colours) + " colours" +
           (s.profile == Shape::Profile::BeforePixels  ? ", a profile before the pixels"
            : s.profile == Shape::Profile::AfterPixels ? ", a profile after the pixels"
                                                       : "");
}

Bytes rle24Picture(const Bytes& codes) {
    Shape os2;
    os2.infoSize = 64, os2.bits = 24, os2.width = 4, os2.height = 2;
    Bytes file = makePicture(os2);
    file.resize(littleEndian(file, 10, 4));
    put(file, 30, 4, 4);
    const std::size_t at = file.size();
    file.resize(at + codes.size());
    std::copy(codes.begin(), codes.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
    return file;
}

// An OS/2 bitmap array of `bitmaps`: a chain of array headers, each with its bitmap's
// headers and colour table behind it, then every bitmap's pixels behind them all.
Bytes bitmapArray(const std::vector<Bytes>& bitmaps) {
    std::size_t headers = 0;
    for (const Bytes& b : bitmaps) headers += 14 + littleEndian(b, 10, 4);
    Bytes file, pixels;
    for (std::size_t k = 0; k < bitmaps.size(); ++k) {
        const Bytes& b = bitmaps[k];
        const std::uint32_t offBits = littleEndian(b, 10, 4);
        const std::size_t next = file.size() + 14 + offBits;
        file.insert(file.end(), {'B', 'A', 40, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
        if (k + 1 < bitmaps.size()) put(file, file.size() - 8, static_cast<std::uint32_t>(next), 4);
        file.insert(file.end(), b.begin(), b.begin() + offBits);
        put(file, file.size() - offBits + 10, static_cast<std::uint32_t>(headers + pixels.size()),
            4);
        pixels.insert(pixels.end(), b.begin() + offBits, b.end());
    }
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

}  // namespace graybmp::test
