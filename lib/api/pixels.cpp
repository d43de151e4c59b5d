// Gray pixels in and out. Pixels out are the levels' conversion with the caller's rows as
// its sink; pixels in, with the caller's pixels as its source, read as the rows of the V4
// BMP that holds them. Either way the bytes are those of the conversion of that BMP.
#include <algorithm>
#include <cstring>
#include <string>

#include "api/jobs.h"
#include "api/memory.h"
#include "api/options.h"
#include "bitmap/headers.h"
#include "forms/forms.h"
#include "graybmp.h"
#include "pipeline/bmp_rows.h"

namespace graybmp {
namespace {

// The settings of pixels out: the caller's, at 8 bits a pixel, with 256 levels when none
// are asked for (a depth alone asks for 2^depth).
bool pixelSettings(const graybmp_options* given, Settings& s, Failure& f) {
    if (!settingsOf(given, s, f)) return false;
    if (s.levels.count == 0) s.levels.count = 256;
    s.levels.depth = 8;
    s.compact = false;
    return true;
}

// The settings of pixels in: the caller's, with 256 levels when none are asked for.
bool inSettings(const graybmp_options* given, Settings& s, Failure& f) {
    if (!settingsOf(given, s, f)) return false;
    if (s.levels.count == 0) s.levels.count = 256, s.levels.depth = 8;
    s.compact = false;
    return true;
}

Failure tooShort(const char* what, std::size_t capacity, std::uint64_t needed) {
    Failure f;
    f.status = GRAYBMP_BUFFER_TOO_SHORT;
    f.needed = needed;
    f.message = std::string("the ") + what + " of " + std::to_string(capacity) + " bytes is too short; " +
                std::to_string(needed) + " needed";
    return f;
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

// The length of the output of a picture of `inWidth` x `inHeight` pixels by `s`.
std::uint64_t levelsLength(std::uint32_t inWidth, std::uint32_t inHeight, const Settings& s) {
    std::int64_t w = inWidth, h = inHeight;
    fittedSize(s, w, h);
    if (!plainBmp(s.output)) {
        FormatShape shape;
        shape.width = w, shape.rows = w > 0 ? h : 0;
        shape.count = s.levels.count, shape.depth = s.levels.depth;
        return static_cast<std::uint64_t>(formatLength(s.output, shape));
    }
    return static_cast<std::uint64_t>(levelPixelOffset(s.levels.count) + levelStride(w, s.levels.depth) * (w > 0 ? h : 0));
}

// The input in memory checked by the settings of pixels out, and the size of its pixels
// (after a fit and turn).
bool pixelsChecked(const void* input, std::size_t length, const graybmp_options* options, MemoryInput& m,
                   std::int64_t& width, std::int64_t& height, Failure& f) {
    if (!pixelSettings(options, m.c.settings, f) || !checkedMemory(input, length, length, m, f)) return false;
    const ImageLayout& l = m.c.layout;
    width = l.width, height = l.height < 0 ? -std::int64_t{l.height} : l.height;
    fittedSize(m.c.settings, width, height);
    return true;
}

}  // namespace
}  // namespace graybmp

using namespace graybmp;

extern "C" {

graybmp_status graybmp_pixels_stream(const graybmp_reader* reader, const void* lead,
                                     size_t lead_length, const graybmp_options* options,
                                     int flags, graybmp_row_callback row, void* context,
                                     graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if (reader == nullptr || row == nullptr || reader->read == nullptr) {
            f = badArgument("no reader or no row callback");
            return;
        }
        graybmp_job job{};
        job.size = sizeof job;
        job.reader = reader;
        job.lead = lead;
        job.lead_length = lead != nullptr ? lead_length : 0;
        Input in;
        if (!pixelSettings(options, in.c.settings, f) || !inputOpened(job, in, f) ||
            !inputChecked(job, nullptr, nullptr, in, f))
            return;
        const PixelRows rows{(flags & GRAYBMP_PIXELS_INDICES) != 0, row, context};
        in.c.in = &in.stream;
        in.c.pixels = &rows;
        conversionRan(in.c, f);
        streamClose(in.stream);
    });
}

graybmp_status graybmp_pixels(const void* input, size_t length, const graybmp_options* options,
                              int flags, void* pixels, size_t stride, size_t capacity,
                              uint32_t* width, uint32_t* height, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if ((input == nullptr && length > 0) || pixels == nullptr) {
            f = badArgument("no input or no pixels");
            return;
        }
        MemoryInput m;
        std::int64_t fw = 0, fh = 0;
        if (!pixelsChecked(input, length, options, m, fw, fh, f)) return;
        const ImageLayout& l = m.c.layout;
        const Settings& s = m.c.settings;
        const auto w = static_cast<std::uint64_t>(fw), rows = static_cast<std::uint64_t>(fh);
        if (width != nullptr) *width = static_cast<std::uint32_t>(w);
        if (height != nullptr) *height = static_cast<std::uint32_t>(rows);
        if (stride < w) {
            f = badArgument("a stride of " + std::to_string(stride) + " bytes is below the width, " +
                            std::to_string(w));
            return;
        }
        const std::uint64_t needed = w > 0 && rows > 0 ? stride * (rows - 1) + w : 0;
        if (capacity < needed) {
            f = tooShort("pixel buffer", capacity, needed);
            return;
        }
        auto* to = static_cast<unsigned char*>(pixels);
        // True colour at 256 levels, undithered: each row's grays straight into the pixels.
        if (l.kind == ImageKind::TrueColour && isCompactForm(s.levels) && m.c.picture == nullptr &&
            static_cast<std::int64_t>(w) == l.width && !fitAsked(m.c.settings.fit)) {
            if (grayRowsInMemory(static_cast<const std::uint8_t*>(input), l, s.method, m.c.cpu, s.background, to, stride) !=
                CopyFault::None)
                f = faultFailure(CopyFault::Translucent, m.c);
            return;
        }
        Place place{to, stride};
        const PixelRows sink{(flags & GRAYBMP_PIXELS_INDICES) != 0, placeRow, &place};
        m.c.pixels = &sink;
        conversionRan(m.c, f);
    });
}

graybmp_status graybmp_pixels_size(const void* input, size_t length, const graybmp_options* options,
                                   uint32_t* width, uint32_t* height, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if (input == nullptr && length > 0) {
            f = badArgument("no input");
            return;
        }
        MemoryInput m;
        std::int64_t w = 0, h = 0;
        if (!pixelsChecked(input, length, options, m, w, h, f)) return;
        if (width != nullptr) *width = static_cast<std::uint32_t>(w);
        if (height != nullptr) *height = static_cast<std::uint32_t>(h);
    });
}

graybmp_status graybmp_from_pixels_length(uint32_t width, uint32_t height,
                                          const graybmp_options* options, uint64_t* length,
                                          graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        if (!inSettings(options, s, f)) return;
        if (length == nullptr) {
            f = badArgument("no place for the length");
            return;
        }
        *length = levelsLength(width, height, s);
    });
}

graybmp_status graybmp_from_pixels(const void* pixels, uint32_t width, uint32_t height,
                                   size_t stride, graybmp_layout layout, int flags,
                                   const graybmp_options* options, void* output,
                                   size_t capacity, size_t* written, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        int layoutValue = 0;
        std::memcpy(&layoutValue, &layout, sizeof layoutValue);
        if (layoutValue < GRAYBMP_LAYOUT_GRAY || layoutValue > GRAYBMP_LAYOUT_BGRA) {
            f = badArgument("unknown pixel layout " + std::to_string(layoutValue));
            return;
        }
        const int channels[] = {1, 3, 3, 4, 4};
        const std::uint64_t rowBytes = std::uint64_t{width} * static_cast<std::uint64_t>(channels[layoutValue]);
        if ((pixels == nullptr && width > 0 && height > 0) || output == nullptr) {
            f = badArgument("no pixels or no output");
            return;
        }
        if (width > 0x1FFFFFFF || height > 0x7FFFFFFF) {
            f = badArgument("a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                            " pixels is too large for a BMP");
            return;
        }
        if (height > 1 && stride < rowBytes) {
            f = badArgument("a stride of " + std::to_string(stride) + " bytes is below a row's " +
                            std::to_string(rowBytes));
            return;
        }
        Conversion c;
        if (!inSettings(options, c.settings, f)) return;
        const std::uint64_t length = levelsLength(width, height, c.settings);
        if (capacity < length) {
            f = tooShort("output buffer", capacity, length);
            return;
        }
        // The V4 BMP that holds the pixels, as the check sees it: its headers alone.
        const bool bottomUp = (flags & GRAYBMP_PIXELS_BOTTOM_UP) != 0;
        v4Headers(width, height, bottomUp, c.lead);
        c.leadSize = kV4Offset;
        if (!conversionChecked(c, kV4Offset + 4 * std::uint64_t{width} * height, f)) return;
        const PixelsIn source{static_cast<const unsigned char*>(pixels), width, height, stride, layoutValue,
                              bottomUp};
        Stream out;
        streamAttachMemory(out, output, static_cast<std::size_t>(length), true);
        c.source = &source;
        c.out = &out;
        if (!conversionRan(c, f)) return;
        streamFinishMemory(out, static_cast<std::size_t>(length));
        if (written != nullptr) *written = static_cast<std::size_t>(length);
    });
}

}  // extern "C"
