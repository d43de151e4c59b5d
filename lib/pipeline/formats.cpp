#include "pipeline/formats.h"

#include <algorithm>
#include <cstring>

#include "bitmap/bitmap.h"
#include "bitmap/headers.h"
#include "pipeline/quantize.h"
#include "platform/memory.h"

namespace graybmp {
namespace {

// A byte of a text format: "0xHH," and a space, or a line's end after the 16th and the
// last; each line starts with two spaces.
constexpr std::int64_t kBytesALine = 16, kByteText = 6, kLineText = 2 + kBytesALine * kByteText;

std::int64_t textOf(std::int64_t bytes) {  // the text of `bytes` bytes (an empty array holds one 0)
    const std::int64_t n = std::max<std::int64_t>(bytes, 1);
    return n / kBytesALine * kLineText + (n % kBytesALine != 0 ? 2 + n % kBytesALine * kByteText : 0);
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool textFormat(Format f) { return f == Format::C || f == Format::Xbm; }
bool twoLevels(Format f) { return f == Format::Xbm || f == Format::Pbm; }

// The bytes of one packed row (of one plane), padded: at 1, 2, 4 or 8 bits (pbm and xbm at
// 1), whole bytes rounded up to the row alignment (a BMP's: 4).
std::int64_t strideOf(const Output& o, const FormatShape& s) {
    if (o.format == Format::Bmp) return levelStride(s.width, s.depth);
    if (o.format == Format::Pgm) return s.width;
    if (o.packing == Packing::Pages) return s.width;
    const int bits = twoLevels(o.format) || o.packing == Packing::Planes ? 1 : s.depth;
    const std::int64_t bytes = (s.width * bits + 7) / 8, align = o.rowAlign;
    return (bytes + align - 1) / align * align;
}

std::int64_t bodyBytesOf(const Output& o, const FormatShape& s) {
    const std::int64_t stride = strideOf(o, s);
    if (o.packing == Packing::Pages) return stride * ((s.rows + 7) / 8);
    if (o.packing == Packing::Planes) return stride * s.rows * s.depth;
    return stride * s.rows;
}

int entriesOf(const Output& o, const FormatShape& s) { return o.fullPalette ? 1 << s.depth : s.count; }

std::string nameOf(const Output& o) { return o.name.empty() ? "image" : o.name; }

// The text before the bytes.
std::string headerText(const Output& o, const FormatShape& s) {
    const std::string name = nameOf(o), big = upper(name);
    const std::string w = std::to_string(s.width), h = std::to_string(s.rows);
    switch (o.format) {
    case Format::Pbm:
        return "P4\n" + w + " " + h + "\n";
    case Format::Pgm:
        return "P5\n" + w + " " + h + "\n255\n";
    case Format::Xbm:
        return "#define " + name + "_width " + w + "\n#define " + name + "_height " + h +
               "\nstatic const unsigned char " + name + "_bits[] = {\n";
    case Format::C: {
        const std::string packing = o.packing == Packing::Pages    ? ", in pages of 8 rows"
                                    : o.packing == Packing::Planes ? ", in bit planes"
                                                                   : "";
        return "/* " + name + ": " + w + " x " + h + " pixels, " + std::to_string(s.depth) +
               (s.depth == 1 ? " bit" : " bits") + " a pixel, " + std::to_string(s.count) + " levels" + packing +
               "; made by graybmp */\n#ifndef " + big + "_H\n#define " + big +
               "_H\n\n#include <stdint.h>\n\n#if defined(__AVR__)\n#include <avr/pgmspace.h>\n#define " + big +
               "_PROGMEM PROGMEM\n#else\n#define " + big + "_PROGMEM\n#endif\n#if defined(__GNUC__)\n#define " +
               big + "_UNUSED __attribute__((unused))\n#else\n#define " + big + "_UNUSED\n#endif\n\n#define " + big +
               "_WIDTH " + w + "\n#define " + big + "_HEIGHT " + h + "\n#define " + big + "_DEPTH " +
               std::to_string(s.depth) + "\n#define " + big + "_LEVELS " + std::to_string(s.count) +
               "\n\nstatic const uint8_t " + name + "[] " + big + "_UNUSED " + big + "_PROGMEM = {\n";
    }
    default:
        return "";
    }
}

std::string trailerText(const Output& o) {
    if (o.format == Format::Xbm) return "};\n";
    if (o.format == Format::C) return "};\n\n#endif\n";
    return "";
}

bool outputBottomUp(const Output& o, const FormatShape& s) {
    if (o.format != Format::Bmp) return o.rows == RowOrder::BottomUp;
    return o.rows == RowOrder::Input ? s.inputBottomUp : o.rows == RowOrder::BottomUp;
}

std::vector<std::uint8_t> bmpHeaders(const Output& o, const FormatShape& s, std::int64_t length) {
    const int entries = entriesOf(o, s);
    std::vector<std::uint8_t> h(static_cast<std::size_t>(levelPixelOffset(entries)), 0);
    std::uint8_t* p = h.data();
    p[0] = 'B', p[1] = 'M';
    writeU32le(p + 2, static_cast<std::uint64_t>(length));
    writeU32le(p + 10, static_cast<std::uint64_t>(levelPixelOffset(entries)));
    writeU32le(p + 14, 40);
    writeU32le(p + 18, static_cast<std::uint32_t>(s.width));
    const auto rows = static_cast<std::int32_t>(s.rows);
    writeU32le(p + 22, static_cast<std::uint32_t>(outputBottomUp(o, s) ? rows : -rows));
    p[26] = 1;
    p[28] = static_cast<std::uint8_t>(s.depth);
    writeU32le(p + 34, static_cast<std::uint64_t>(levelStride(s.width, s.depth) * s.rows));
    writeU32le(p + 38, static_cast<std::uint32_t>(s.lead[0]));
    writeU32le(p + 42, static_cast<std::uint32_t>(s.lead[1]));
    writeU32le(p + 46, static_cast<std::uint64_t>(entries));
    for (int k = 0; k < s.count; ++k)  // the entries past the levels stay black
        std::memset(p + 54 + 4 * static_cast<std::size_t>(k), levelGray(o.whiteFirst ? s.count - 1 - k : k, s.count), 3);
    return h;
}

// Reverses the pixels of `depth` bits within each byte (their own bits kept).
std::uint8_t reversed(std::uint8_t b, int depth) {
    std::uint8_t r = 0;
    const int per = 8 / depth, mask = (1 << depth) - 1;
    for (int i = 0; i < per; ++i) r = static_cast<std::uint8_t>(r | ((b >> (i * depth)) & mask) << ((per - 1 - i) * depth));
    return r;
}

// `width` values of `bits` bits packed into `stride` bytes, the first in the high bits
// (or the low with `lsb`), the padding zero.
void pack(const std::uint8_t* k, std::size_t width, int bits, bool lsb, std::size_t stride, std::uint8_t* out) {
    if (stride >= static_cast<std::size_t>(levelStride(static_cast<std::int64_t>(width), bits))) {
        packRow(k, width, bits, stride, out);
    } else {  // rows aligned to fewer than 4 bytes: pack into a BMP's row, then cut
        std::uint8_t row[4096];
        std::vector<std::uint8_t> wide;
        const auto full = static_cast<std::size_t>(levelStride(static_cast<std::int64_t>(width), bits));
        std::uint8_t* to = full <= sizeof row ? row : (wide.resize(full), wide.data());
        packRow(k, width, bits, full, to);
        std::memcpy(out, to, stride);
    }
    if (lsb && bits < 8) {
        const std::size_t used = (width * static_cast<std::size_t>(bits) + 7) / 8;
        for (std::size_t i = 0; i < used; ++i) out[i] = reversed(out[i], bits);
    }
}

constexpr std::size_t kPendingSize = 1 << 18;  // bytes that follow one another, gathered for a write

bool flushPending(FormatSink& s) {
    const bool ok = s.pending.empty() || streamWriteAt(*s.out, s.pendingAt, s.pending.data(), s.pending.size());
    s.pending.clear();
    return ok;
}

bool put(FormatSink& s, std::int64_t offset, const std::uint8_t* data, std::size_t n) {
    if (s.hold) {
        std::memcpy(s.held.data() + (offset - s.body), data, n);
        return true;
    }
    if (offset != s.pendingAt + static_cast<std::int64_t>(s.pending.size()) || s.pending.size() + n > kPendingSize) {
        if (!flushPending(s)) return false;
        s.pendingAt = offset;
    }
    s.pending.insert(s.pending.end(), data, data + n);
    return true;
}

// The bytes [at, at + n) of the body at their place: as they are, or as text.
bool placeBytes(FormatSink& s, std::int64_t at, const std::uint8_t* data, std::size_t n) {
    if (!textFormat(s.o.format)) return put(s, s.body + at, data, n);
    static const char kHex[] = "0123456789abcdef";
    s.text.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const std::int64_t b = at + static_cast<std::int64_t>(i);
        if (b % kBytesALine == 0) s.text.push_back(' '), s.text.push_back(' ');
        const char chars[6] = {'0', 'x', kHex[data[i] >> 4], kHex[data[i] & 15], ',',
                               b % kBytesALine == kBytesALine - 1 || b + 1 == s.bodyBytes ? '\n' : ' '};
        s.text.insert(s.text.end(), chars, chars + 6);
    }
    const std::int64_t offset = s.body + at / kBytesALine * kLineText + at % kBytesALine * kByteText +
                                (at % kBytesALine != 0 ? 2 : 0);
    return put(s, offset, s.text.data(), s.text.size());
}

// A page of 8 rows (fewer at the bottom) into its bytes: each a column's 8 pixels, the top
// one in bit 0 (bit 7 with msb).
bool placePage(FormatSink& s, std::int64_t pageIndex, std::int64_t rowsInPage) {
    const auto width = static_cast<std::size_t>(s.shape.width);
    const bool msb = s.o.bitOrder == BitOrder::Msb;
    for (std::size_t x = 0; x < width; ++x) {
        unsigned byte = 0;
        for (std::int64_t r = 0; r < rowsInPage; ++r)
            byte |= static_cast<unsigned>(s.page[static_cast<std::size_t>(r) * width + x] & 1) << (msb ? 7 - r : r);
        s.packed[x] = static_cast<std::uint8_t>(byte);
    }
    return placeBytes(s, pageIndex * s.stride, s.packed.data(), width);
}

bool formatTake(void* self, const std::uint8_t* indices) {
    FormatSink& s = *static_cast<FormatSink*>(self);
    const FormatShape& sh = s.shape;
    const auto width = static_cast<std::size_t>(sh.width);
    const std::int64_t y = sh.inputBottomUp ? sh.rows - 1 - s.fileRow : s.fileRow;  // from the top
    ++s.fileRow;
    // The indices as the format has them.
    const std::uint8_t* k = indices;
    if (s.o.whiteFirst || twoLevels(s.o.format) || s.o.format == Format::Pgm) {
        for (std::size_t x = 0; x < width; ++x) {
            const int index = indices[x];
            s.mapped[x] = static_cast<std::uint8_t>(
                s.o.format == Format::Pgm ? levelGray(index, sh.count)
                : twoLevels(s.o.format)   ? 1 - index  // 1 is black
                                          : sh.count - 1 - index);
        }
        k = s.mapped.data();
    }
    const bool lsb = s.o.format == Format::Xbm || s.o.bitOrder == BitOrder::Lsb;
    const std::int64_t place = outputBottomUp(s.o, sh) ? sh.rows - 1 - y : y;
    const auto stride = static_cast<std::size_t>(s.stride);
    if (s.o.packing == Packing::Pages) {
        const std::int64_t inPage = y % 8, pageIndex = y / 8;
        const std::int64_t rowsInPage = std::min<std::int64_t>(8, sh.rows - pageIndex * 8);
        std::memcpy(s.page.data() + static_cast<std::size_t>(inPage) * width, k, width);
        if (++s.pageRows < rowsInPage) return true;
        s.pageRows = 0;
        return placePage(s, pageIndex, rowsInPage);
    }
    if (s.o.packing == Packing::Planes) {
        for (int plane = 0; plane < sh.depth; ++plane) {  // the most significant first
            const int bit = sh.depth - 1 - plane;
            for (std::size_t x = 0; x < width; ++x) s.bits[x] = static_cast<std::uint8_t>(k[x] >> bit & 1);
            pack(s.bits.data(), width, 1, lsb, stride, s.packed.data());
            if (!placeBytes(s, (plane * sh.rows + place) * s.stride, s.packed.data(), stride)) return false;
        }
        return true;
    }
    if (s.o.format == Format::Pgm) return placeBytes(s, place * s.stride, k, width);
    const int bits = twoLevels(s.o.format) ? 1 : sh.depth;
    pack(k, width, bits, lsb, stride, s.packed.data());
    return placeBytes(s, place * s.stride, s.packed.data(), stride);
}

}  // namespace

std::string identifierOf(const std::string& name) {
    std::string id;
    for (const char c : name)
        id.push_back((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ? c : '_');
    if (id.empty()) return "image";
    if (id[0] >= '0' && id[0] <= '9') id.insert(id.begin(), '_');
    return id;
}

std::string identifierOfPath(const char* path) {
    std::string name = path;
    const std::size_t slash = name.find_last_of("/\\");
    if (slash != std::string::npos) name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    return identifierOf(name);
}

std::int64_t formatLength(const Output& o, const FormatShape& s) {
    const std::int64_t bytes = bodyBytesOf(o, s);
    if (o.format == Format::Bmp) return levelPixelOffset(entriesOf(o, s)) + bytes;
    const auto header = static_cast<std::int64_t>(headerText(o, s).size()),
               trailer = static_cast<std::int64_t>(trailerText(o).size());
    return header + (textFormat(o.format) ? textOf(bytes) : bytes) + trailer;
}

CopyFault formatSinkOpen(FormatSink& s, Stream& out, const Output& o, const FormatShape& shape) {
    s.o = o, s.shape = shape, s.out = &out;
    s.stride = strideOf(o, shape);
    s.bodyBytes = bodyBytesOf(o, shape);
    const std::int64_t length = formatLength(o, shape);
    std::vector<std::uint8_t> header;
    if (o.format == Format::Bmp) {
        header = bmpHeaders(o, shape, length);
    } else {
        const std::string text = headerText(o, shape);
        header.assign(text.begin(), text.end());
    }
    s.body = static_cast<std::int64_t>(header.size());
    // Rows that come out of order (reversed, planes, pages of a bottom-up input) cannot go
    // to a pipe as they come: the body is held, then written in order.
    const bool inOrder = o.packing != Packing::Planes && outputBottomUp(o, shape) == shape.inputBottomUp;
    const std::int64_t bodyLength = length - s.body - static_cast<std::int64_t>(trailerText(o).size());
    s.hold = out.sequential && !inOrder;
    const auto width = static_cast<std::size_t>(shape.width);
    const std::uint64_t heap = (s.hold ? static_cast<std::uint64_t>(bodyLength) : 0) + 8 * width +
                               static_cast<std::uint64_t>(s.stride) * (textFormat(o.format) ? kByteText + 1 : 1) +
                               kPendingSize + 4096;
    if (!heapHas(heap)) return CopyFault::NoMemory;
    if (s.hold) s.held.resize(static_cast<std::size_t>(bodyLength));
    else s.pending.reserve(kPendingSize);
    s.mapped.resize(width);
    if (o.packing == Packing::Planes) s.bits.resize(width);
    s.packed.resize(std::max(static_cast<std::size_t>(s.stride), width));
    if (o.packing == Packing::Pages) s.page.assign(8 * width, 0);
    if (!header.empty() && !streamWriteAt(out, 0, header.data(), header.size())) return CopyFault::WriteFailed;
    if (s.bodyBytes == 0 && textFormat(o.format)) {  // an empty array is not C: it holds one 0
        const std::uint8_t zero = 0;
        s.bodyBytes = 1;
        if (!placeBytes(s, 0, &zero, 1)) return CopyFault::WriteFailed;
    }
    return CopyFault::None;
}

RowTaker formatSinkTaker(FormatSink& sink) { return RowTaker{&sink, formatTake}; }

bool formatSinkClose(FormatSink& s) {
    const std::int64_t trailerAt = formatLength(s.o, s.shape) - static_cast<std::int64_t>(trailerText(s.o).size());
    if (!flushPending(s)) return false;
    if (s.hold && !s.held.empty() && !streamWriteAt(*s.out, s.body, s.held.data(), s.held.size())) return false;
    const std::string trailer = trailerText(s.o);
    return trailer.empty() || streamWriteAt(*s.out, trailerAt, trailer.data(), trailer.size());
}

}  // namespace graybmp
