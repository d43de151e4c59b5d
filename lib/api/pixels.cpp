// Gray pixels in and out, on the library's own conversions: pixels out are the rows of the
// levels' gray BMP of 8 bits a pixel, caught as they are written; pixels in are read as the
// V4 BMP that holds them, made as it is read. Either way the bytes are the conversion's.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "api/api.h"
#include "api/failure.h"
#include "convert/levels.h"
#include "graybmp.h"
#include "platform/memory.h"

namespace graybmp {
namespace {

// The caller's options, read as far as they go, over the defaults.
graybmp_status callerOptions(const graybmp_options* given, graybmp_options& o, graybmp_error* error) {
    graybmp_options_init(&o);
    if (given == nullptr) return GRAYBMP_OK;
    if (given->size < sizeof(size_t) + sizeof(graybmp_method) + sizeof(int))
        return deliver(badArgument("options whose size field is not set (graybmp_options_init sets it)"),
                       error);
    std::memcpy(&o, given, std::min(given->size, sizeof o));
    o.size = sizeof o;
    return graybmp_options_check(&o, error);
}

// The options of pixels out: the caller's, at 8 bits a pixel, with 256 levels when none
// are asked for (a depth alone asks for 2^depth).
graybmp_status pixelOptions(const graybmp_options* given, graybmp_options& o, graybmp_error* error) {
    const graybmp_status s = callerOptions(given, o, error);
    if (s != GRAYBMP_OK) return s;
    if (o.levels == 0) o.levels = o.depth != 0 ? 1 << o.depth : 256;
    o.depth = 8;
    o.compact = 0;
    return GRAYBMP_OK;
}

graybmp_status tooShort(const char* what, std::size_t capacity, std::uint64_t needed,
                        graybmp_error* error) {
    Failure f;
    f.status = GRAYBMP_BUFFER_TOO_SHORT;
    f.needed = needed;
    f.message = std::string("the ") + what + " of " + std::to_string(capacity) +
                " bytes is too short; " + std::to_string(needed) + " needed";
    return deliver(f, error);
}

// A writer that takes the gray BMP apart: its headers and palette, then each row, handed
// on with its picture row as soon as it is whole.
struct RowCatcher {
    int flags;
    graybmp_row_callback row;
    void* context;
    unsigned char head[54 + 1024];  // the headers and palette, at most 256 entries
    std::size_t headSize = 0;
    std::vector<unsigned char> pending, line;  // a row cut by a write; a row of levels
    std::uint64_t pixelOffset = 0, at = 0;
    std::int64_t width = 0, rows = 0;
    bool bottomUp = false;
    std::uint32_t fileRow = 0;
};

std::uint32_t u32(const unsigned char* b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16) |
           static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// A whole row to the callback: where it lies when it needs no change (256 levels, or
// indices), else through the row buffer with each index's level, its palette entry.
bool handOn(RowCatcher& c, const unsigned char* row) {
    const bool levels = (c.flags & GRAYBMP_PIXELS_INDICES) == 0 && c.headSize < sizeof c.head;
    if (levels) {
        c.line.resize(static_cast<std::size_t>(c.width));
        for (std::size_t x = 0; x < c.line.size(); ++x) c.line[x] = c.head[54 + 4 * std::size_t{row[x]}];
        row = c.line.data();
    }
    const std::uint32_t picture =
        c.bottomUp ? static_cast<std::uint32_t>(c.rows - 1 - c.fileRow) : c.fileRow;
    ++c.fileRow;
    return c.row(c.context, picture, row, static_cast<std::uint32_t>(c.width)) == 0;
}

long long catchRows(void* context, const void* data, size_t count) {
    RowCatcher& c = *static_cast<RowCatcher*>(context);
    const auto* bytes = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < count;) {
        if (c.pixelOffset == 0 || c.at < c.pixelOffset) {  // the headers and the palette
            const std::uint64_t until = c.pixelOffset == 0 ? 54 : c.pixelOffset;
            const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count - i, until - c.at));
            const std::size_t keep = std::min(n, sizeof c.head - c.headSize);
            std::memcpy(c.head + c.headSize, bytes + i, keep);
            c.headSize += keep;
            i += n;
            c.at += n;
            if (c.pixelOffset == 0 && c.headSize == 54) {
                c.pixelOffset = u32(c.head, 10);
                c.width = static_cast<std::int32_t>(u32(c.head, 18));
                const auto height = static_cast<std::int32_t>(u32(c.head, 22));
                c.rows = height < 0 ? -std::int64_t{height} : height;
                c.bottomUp = height > 0;
            }
            continue;
        }
        const auto stride = static_cast<std::size_t>((c.width + 3) / 4 * 4);
        if (c.pending.empty() && count - i >= stride) {  // whole rows where they lie
            if (!handOn(c, bytes + i)) {
                errno = ECANCELED;
                return -1;
            }
            i += stride;
            c.at += stride;
            continue;
        }
        const std::size_t n = std::min(count - i, stride - c.pending.size());
        c.pending.insert(c.pending.end(), bytes + i, bytes + i + n);
        i += n;
        c.at += n;
        if (c.pending.size() < stride) continue;
        const bool ok = handOn(c, c.pending.data());
        c.pending.clear();
        if (!ok) {
            errno = ECANCELED;
            return -1;
        }
    }
    return static_cast<long long>(count);
}

struct MemoryReader {
    const unsigned char* data;
    std::size_t size, at = 0;
};

long long readMemory(void* context, void* buffer, size_t count) {
    MemoryReader& m = *static_cast<MemoryReader*>(context);
    const std::size_t n = std::min(count, m.size - m.at);
    if (n > 0) std::memcpy(buffer, m.data + m.at, n);
    m.at += n;
    return static_cast<long long>(n);
}

long long memoryLength(void* context) {
    return static_cast<long long>(static_cast<MemoryReader*>(context)->size);
}

// Pixels out into a caller's buffer, row by row.
struct Place {
    unsigned char* pixels;
    std::size_t stride;
};

int placeRow(void* context, uint32_t row, const unsigned char* pixels, uint32_t width) {
    const Place& p = *static_cast<Place*>(context);
    std::memcpy(p.pixels + row * p.stride, pixels, width);
    return 0;
}

// The V4 BMP of pixels in memory, made as it is read.
struct PixelReader {
    const unsigned char* pixels;
    std::uint32_t width, height;
    std::size_t stride;
    graybmp_layout layout;
    bool bottomUp;
    unsigned char head[122];
    std::uint64_t at = 0, size = 0;
};

constexpr std::size_t kV4Offset = 14 + 108;

void put32(unsigned char* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// One pixel of `step` bytes (gray, three channels or four) as blue, green, red, alpha.
inline void bgraOf(const unsigned char* p, std::size_t step, bool bgr, unsigned char* to) {
    if (step == 1) {
        to[0] = to[1] = to[2] = p[0], to[3] = 255;
        return;
    }
    to[0] = p[bgr ? 0 : 2], to[1] = p[1], to[2] = p[bgr ? 2 : 0];
    to[3] = step == 4 ? p[3] : 255;
}

// `n` pixels of a layout as blue, green, red, alpha: a loop each, which the compiler
// unrolls with the step and the order fixed.
template <std::size_t Step, bool Bgr>
void bgraRun(const unsigned char* p, std::size_t n, unsigned char* to) {
    for (std::size_t i = 0; i < n; ++i, p += Step, to += 4) bgraOf(p, Step, Bgr, to);
}

using BgraRun = void (*)(const unsigned char*, std::size_t, unsigned char*);
constexpr BgraRun kBgraRuns[] = {bgraRun<1, false>, bgraRun<3, false>, bgraRun<3, true>,
                                 bgraRun<4, false>, bgraRun<4, true>};  // graybmp_layout's order

long long readPixels(void* context, void* buffer, size_t count) {
    PixelReader& r = *static_cast<PixelReader*>(context);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    const std::uint64_t rowBytes = 4 * std::uint64_t{r.width};
    const int channels[] = {1, 3, 3, 4, 4};
    const auto step = static_cast<std::size_t>(channels[r.layout]);
    const bool bgr = r.layout == GRAYBMP_LAYOUT_BGR || r.layout == GRAYBMP_LAYOUT_BGRA;
    while (done < count && r.at < r.size) {
        if (r.at < kV4Offset) {
            out[done++] = r.head[r.at++];
            continue;
        }
        const std::uint64_t in = r.at - kV4Offset, fileRow = in / rowBytes;
        const std::uint64_t picture = r.bottomUp ? r.height - 1 - fileRow : fileRow;
        const unsigned char* source = r.pixels + picture * r.stride;
        std::uint64_t x = in % rowBytes / 4;
        if (in % 4 == 0) {  // whole pixels, as many as fit
            const std::uint64_t n = std::min<std::uint64_t>(r.width - x, (count - done) / 4);
            const unsigned char* p = source + x * step;
            kBgraRuns[r.layout](p, static_cast<std::size_t>(n), out + done);
            done += static_cast<std::size_t>(4 * n);
            r.at += 4 * n;
            x += n;
        }
        if (x < r.width && done < count) {  // a pixel cut by a read's start or end
            unsigned char bgra[4];
            bgraOf(source + x * step, step, bgr, bgra);
            const auto from = static_cast<std::size_t>((r.at - kV4Offset) % 4);
            const std::size_t n = std::min<std::size_t>(4 - from, count - done);
            std::memcpy(out + done, bgra + from, n);
            done += n;
            r.at += n;
        }
    }
    return static_cast<long long>(done);
}

long long pixelLength(void* context) {
    return static_cast<long long>(static_cast<PixelReader*>(context)->size);
}

struct BufferWriter {
    unsigned char* out;
    std::size_t capacity, at = 0;
};

long long writeBuffer(void* context, const void* data, size_t count) {
    BufferWriter& w = *static_cast<BufferWriter*>(context);
    if (count > w.capacity - w.at) {
        errno = ENOSPC;
        return -1;
    }
    std::memcpy(w.out + w.at, data, count);
    w.at += count;
    return static_cast<long long>(count);
}

// The options of pixels in: the caller's, with 256 levels when none are asked for.
graybmp_status inOptions(const graybmp_options* given, graybmp_options& o, graybmp_error* error) {
    const graybmp_status s = callerOptions(given, o, error);
    if (s != GRAYBMP_OK) return s;
    if (o.levels == 0 && o.depth == 0) o.levels = 256;
    o.compact = 0;
    return GRAYBMP_OK;
}

}  // namespace
}  // namespace graybmp

using namespace graybmp;

extern "C" {

graybmp_status graybmp_pixels_stream(const graybmp_reader* reader, const void* lead,
                                     size_t lead_length, const graybmp_options* options,
                                     int flags, graybmp_row_callback row, void* context,
                                     graybmp_error* error) {
    if (reader == nullptr || row == nullptr)
        return deliver(badArgument("no reader or no row callback"), error);
    graybmp_options o;
    const graybmp_status s = pixelOptions(options, o, error);
    if (s != GRAYBMP_OK) return s;
    RowCatcher catcher{flags, row, context, {}, 0, {}, {}};
    const graybmp_writer writer{&catcher, catchRows, nullptr};
#if GRAYBMP_EXCEPTIONS
    try {
        return graybmp_convert_stream(reader, lead, lead_length, &writer, &o, nullptr, error);
    } catch (const std::bad_alloc&) {
        return deliver(noMemory(), error);
    }
#else
    return graybmp_convert_stream(reader, lead, lead_length, &writer, &o, nullptr, error);
#endif
}

graybmp_status graybmp_pixels(const void* input, size_t length, const graybmp_options* options,
                              int flags, void* pixels, size_t stride, size_t capacity,
                              uint32_t* width, uint32_t* height, graybmp_error* error) {
    if ((input == nullptr && length > 0) || pixels == nullptr)
        return deliver(badArgument("no input or no pixels"), error);
    graybmp_options o;
    graybmp_status s = pixelOptions(options, o, error);
    if (s != GRAYBMP_OK) return s;
    graybmp_header h;
    s = graybmp_read_header(input, length, length, &o, &h, error);
    if (s != GRAYBMP_OK) return s;
    if (h.refusal.status != GRAYBMP_OK) {
        if (error != nullptr) *error = h.refusal;
        return h.refusal.status;
    }
    const auto w = static_cast<std::uint64_t>(h.width);
    const auto rows = static_cast<std::uint64_t>(h.height < 0 ? -h.height : h.height);
    if (width != nullptr) *width = static_cast<std::uint32_t>(w);
    if (height != nullptr) *height = static_cast<std::uint32_t>(rows);
    if (stride < w) return deliver(badArgument("a stride of " + std::to_string(stride) +
                                               " bytes is below the width, " + std::to_string(w)),
                                   error);
    const std::uint64_t needed = w > 0 && rows > 0 ? stride * (rows - 1) + w : 0;
    if (capacity < needed) return tooShort("pixel buffer", capacity, needed, error);
    // True colour at 256 levels, undithered: each row's grays straight into the pixels.
    if (h.kind == GRAYBMP_KIND_TRUE_COLOUR && o.levels == 256 && o.dither == GRAYBMP_DITHER_NONE)
        return compactPixels(input, length, &o, static_cast<unsigned char*>(pixels), stride, error);
    Place place{static_cast<unsigned char*>(pixels), stride};
    // A small image is converted in memory and taken apart there: fewer steps a call.
    const std::uint64_t size = static_cast<std::uint64_t>(54 + 4 * o.levels) +
                               static_cast<std::uint64_t>(levelStride(static_cast<std::int64_t>(w), 8)) *
                                   (w > 0 ? rows : 0);
    // Without memory for the copy, the stream's way, which needs none.
    if (size <= (1u << 20) && (GRAYBMP_EXCEPTIONS || heapHas(size))) {
#if GRAYBMP_EXCEPTIONS
        try {
#endif
            Buffer copy(static_cast<std::size_t>(size));
            s = graybmp_convert_memory(input, length, copy.data(), copy.size(), &o, nullptr, error);
            if (s != GRAYBMP_OK) return s;
            RowCatcher catcher{flags, placeRow, &place, {}, 0, {}, {}};
            catchRows(&catcher, copy.data(), copy.size());
            return GRAYBMP_OK;
#if GRAYBMP_EXCEPTIONS
        } catch (const std::bad_alloc&) {
        }
#endif
    }
    MemoryReader m{static_cast<const unsigned char*>(input), length};
    const graybmp_reader reader{&m, readMemory, nullptr, memoryLength};
    return graybmp_pixels_stream(&reader, nullptr, 0, &o, flags, placeRow, &place, error);
}

graybmp_status graybmp_from_pixels_length(uint32_t width, uint32_t height,
                                          const graybmp_options* options, uint64_t* length,
                                          graybmp_error* error) {
    graybmp_options o;
    const graybmp_status s = inOptions(options, o, error);
    if (s != GRAYBMP_OK) return s;
    if (length == nullptr) return deliver(badArgument("no place for the length"), error);
    const int count = o.levels != 0 ? o.levels : 1 << o.depth;
    const int depth = o.depth != 0 ? o.depth : defaultDepth(count);
    *length = static_cast<std::uint64_t>(54 + 4 * count) +
              static_cast<std::uint64_t>(levelStride(width, depth)) * (width > 0 ? height : 0);
    return GRAYBMP_OK;
}

graybmp_status graybmp_from_pixels(const void* pixels, uint32_t width, uint32_t height,
                                   size_t stride, graybmp_layout layout, int flags,
                                   const graybmp_options* options, void* output,
                                   size_t capacity, size_t* written, graybmp_error* error) {
    int layoutValue = 0;
    std::memcpy(&layoutValue, &layout, sizeof layoutValue);
    if (layoutValue < GRAYBMP_LAYOUT_GRAY || layoutValue > GRAYBMP_LAYOUT_BGRA)
        return deliver(badArgument("unknown pixel layout " + std::to_string(layoutValue)), error);
    const int channels[] = {1, 3, 3, 4, 4};
    const std::uint64_t rowBytes = std::uint64_t{width} * static_cast<std::uint64_t>(channels[layoutValue]);
    if ((pixels == nullptr && width > 0 && height > 0) || output == nullptr)
        return deliver(badArgument("no pixels or no output"), error);
    if (width > 0x1FFFFFFF || height > 0x7FFFFFFF)
        return deliver(badArgument("a picture of " + std::to_string(width) + " x " +
                                   std::to_string(height) + " pixels is too large for a BMP"),
                       error);
    if (height > 1 && stride < rowBytes)
        return deliver(badArgument("a stride of " + std::to_string(stride) + " bytes is below a row's " +
                                   std::to_string(rowBytes)),
                       error);
    graybmp_options o;
    std::uint64_t length = 0;
    graybmp_status s = inOptions(options, o, error);
    if (s == GRAYBMP_OK) s = graybmp_from_pixels_length(width, height, &o, &length, error);
    if (s != GRAYBMP_OK) return s;
    if (capacity < length) return tooShort("output buffer", capacity, length, error);
    const bool bottomUp = (flags & GRAYBMP_PIXELS_BOTTOM_UP) != 0;
    PixelReader r{static_cast<const unsigned char*>(pixels), width, height, stride,
                  static_cast<graybmp_layout>(layoutValue), bottomUp, {}};
    r.size = kV4Offset + 4 * std::uint64_t{width} * height;
    // The V4 header: 32 bits, BI_BITFIELDS, masks of red, green, blue and alpha.
    unsigned char* h = r.head;
    h[0] = 'B', h[1] = 'M';
    put32(h + 2, r.size);
    put32(h + 10, kV4Offset);
    put32(h + 14, 108);
    put32(h + 18, width);
    put32(h + 22, bottomUp ? height : static_cast<std::uint32_t>(-static_cast<std::int64_t>(height)));
    h[26] = 1, h[28] = 32;
    put32(h + 30, 3);
    put32(h + 34, 4 * std::uint64_t{width} * height);
    put32(h + 54, 0x00FF0000), put32(h + 58, 0x0000FF00), put32(h + 62, 0x000000FF);
    put32(h + 66, 0xFF000000);
    put32(h + 70, 0x73524742);  // LCS_sRGB, "sRGB"
    const graybmp_reader reader{&r, readPixels, nullptr, pixelLength};
    BufferWriter w{static_cast<unsigned char*>(output), capacity};
    const graybmp_writer writer{&w, writeBuffer, nullptr};
    s = graybmp_convert_stream(&reader, nullptr, 0, &writer, &o, nullptr, error);
    if (s == GRAYBMP_OK && written != nullptr) *written = w.at;
    return s;
}

}  // extern "C"
