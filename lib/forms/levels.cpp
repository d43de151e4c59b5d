// The levels: a palettized or 16- to 32-bit image, or pixels in memory, as an uncompressed
// gray BMP of N levels (pipeline/levels.h has the definitions), or as the caller's rows
// of grays or indices. The pipeline: the source's rows of grays (bmpRows, pixelRows or
// pictureRows), the fit (scale, then turn) where one is asked for, the tone and quantize
// stages, then the BMP sink (or the caller's rows). One pass in file order; memory grows
// with the width, never the height (a picture's decoder may hold the picture: interlaced
// PNG and GIF, progressive JPEG, WebP; a turn holds the scaled output). Normalizing takes a first
// pass for the histogram of the grays: the source read again where it can be (a file,
// memory, a reader that seeks), or else its grays held, one byte a pixel.
#include <algorithm>
#include <string>
#include <vector>

#include "bitmap/headers.h"
#include "forms/forms.h"
#include "pictures/picture.h"
#include "pipeline/bmp_rows.h"
#include "pipeline/formats.h"
#include "pipeline/pixel_rows.h"
#include "pipeline/quantize.h"
#include "pipeline/resample.h"
#include "pipeline/sinks.h"
#include "pipeline/tone.h"
#include "pipeline/turn.h"

namespace graybmp {
namespace {

bool chosen(const ImageLayout&, const Settings& s) { return s.levels.count > 0; }

// The fit of an image of `layout`: inactive without one, or for an image with no pixels.
FitPlan planOf(const ImageLayout& l, const Settings& s) {
    if ((!fitAsked(s.fit) && s.fit.orientation == 1) || levelRows(l) == 0) return FitPlan{};
    return fitPlanOf(s.fit, l.width, levelRows(l));
}

// The layout of the output: the input's, at the fitted size.
ImageLayout outputLayout(const ImageLayout& l, const FitPlan& plan) {
    if (!plan.active) return l;
    ImageLayout o = l;
    o.width = static_cast<std::int32_t>(plan.outWidth);
    o.height = static_cast<std::int32_t>(l.height > 0 ? plan.outHeight : -plan.outHeight);
    return o;
}

// The largest side an image to be fitted may have, and the output of a fit.
constexpr std::int64_t kMostFitSide = std::int64_t{1} << 24;

bool fitTaken(const ImageLayout& l, const Settings& s, Failure& f) {
    const FitPlan plan = planOf(l, s);
    if (!plan.active) return true;
    if (l.width > kMostFitSide || levelRows(l) > kMostFitSide) {
        f = inputFailure(GRAYBMP_PICTURE_TOO_LARGE, "an image of " + std::to_string(l.width) + " x " +
                                                         std::to_string(levelRows(l)) +
                                                         " pixels is too large to scale or turn (at most " +
                                                         std::to_string(kMostFitSide) + " a side)");
        return false;
    }
    if (plan.outWidth > kMaxPictureSide || plan.outHeight > kMaxPictureSide ||
        static_cast<std::uint64_t>(plan.outWidth * plan.outHeight) > s.maxPixels) {
        f = inputFailure(GRAYBMP_PICTURE_TOO_LARGE,
                         "fitted, the output would be " + std::to_string(plan.outWidth) + " x " +
                             std::to_string(plan.outHeight) + " pixels, too large (at most " +
                             std::to_string(kMaxPictureSide) + " a side and " + std::to_string(s.maxPixels) +
                             " pixels)");
        return false;
    }
    return true;
}

bool takes(const ImageLayout& l, const Settings& s, Failure& f) {
    const bool rle = l.kind != ImageKind::TrueColour && (l.compression == 1 || l.compression == 2);
    const char* kind = l.arrayFirst                                           ? "a bitmap array"
                       : l.kind == ImageKind::Rle24                           ? "RLE24"
                       : l.bitCount == 64                                     ? "64-bit"
                       : l.kind == ImageKind::Palettized && l.compression == 3 ? "OS/2 Huffman"
                       : rle && l.height < 0                                  ? "top-down RLE"
                                                                              : nullptr;
    if (kind == nullptr) return fitTaken(l, s, f);
    f = inputFailure(GRAYBMP_LEVELS_KIND,
                     std::string("the levels take palettized (uncompressed, RLE8, RLE4) and 16-, 24- and "
                                 "32-bit images, not ") + kind + " ones");
    return false;
}

// The shape of the output of an image of `layout` (its resolution from `lead`, if given).
FormatShape shapeOf(const ImageLayout& l, const Levels& levels, const std::uint8_t* lead) {
    FormatShape shape;
    shape.width = l.width, shape.rows = levelRows(l);
    shape.count = levels.count, shape.depth = levels.depth;
    shape.inputBottomUp = l.height > 0;
    for (int i = 0; i < 2 && lead != nullptr; ++i) {  // resolution, as a BMP of levels copies it
        const std::size_t at = 38 + 4 * static_cast<std::size_t>(i);
        if (l.infoHeaderSize != std::int64_t{kCoreHeaderSize} &&
            static_cast<std::int64_t>(at + 4) <= static_cast<std::int64_t>(kFileHeaderSize) + l.infoHeaderSize)
            shape.lead[i] = static_cast<std::int32_t>(readU32le(lead + at));
    }
    return shape;
}

std::int64_t length(const ImageLayout& input, const Settings& s, std::int64_t) {
    const ImageLayout l = outputLayout(input, planOf(input, s));
    if (!plainBmp(s.output)) return formatLength(s.output, shapeOf(l, s.levels, nullptr));
    return levelSize(l, s.levels.count, s.levels.depth);
}

// At most what the levels' buffers take: a few bytes a pixel of a row (16 with error
// diffusion), a span of output rows, a row that does not fit the chunk, and the tables.
std::uint64_t levelsHeap(const ImageLayout& l, const Levels& levels, std::size_t chunkSize) {
    const auto width = static_cast<std::uint64_t>(l.width);
    const bool diffusing = diffuses(levels.dither);
    const auto outStride = static_cast<std::uint64_t>(levelStride(l.width, levels.depth));
    return width * (diffusing ? 16 : 4) + std::max<std::uint64_t>(chunkSize, outStride) +
           static_cast<std::uint64_t>(l.rowBytes) + 65536;
}

// The source's rows of grays, each to `first`: a picture (read again from its start when
// `again`), the caller's pixels or the BMP.
CopyFault sourceRows(Conversion& c, bool again, RowTaker first) {
    const ImageLayout& l = c.layout;
    if (c.picture != nullptr && again) {
        Picture p;
        Failure f;
        if (!pictureOpened(p, c.picture->info.format, *c.picture->in, c.settings.maxPixels, f, c.picture->base))
            return CopyFault::ReadFailed;
        if (c.picture->eighths != 8) pictureScaled(p, c.picture->eighths);
        return pictureRows(p, l, c.settings.method, c.cpu, c.settings.background, first);
    }
    return c.picture != nullptr ? pictureRows(*c.picture, l, c.settings.method, c.cpu, c.settings.background, first)
           : c.source != nullptr ? pixelRows(*c.source, l, c.settings.method, c.cpu, c.settings.background, first)
                                 : bmpRows(*c.in, l, c.chunk, c.settings.method, c.cpu, c.settings.background, first);
}

// The first pass of normalizing: the histogram of the grays, and the grays themselves
// where the source cannot be read again.
struct Histogram {
    std::uint64_t counts[256] = {};
    std::size_t width = 0;
    bool hold = false;
    std::vector<std::uint8_t> held;
};

bool histogramTake(void* self, const std::uint8_t* grays) {
    Histogram& h = *static_cast<Histogram*>(self);
    for (std::size_t x = 0; x < h.width; ++x) ++h.counts[grays[x]];
    if (h.hold) h.held.insert(h.held.end(), grays, grays + h.width);
    return true;
}

// The input's first bytes with its resolution's two axes swapped, for a quarter turn.
struct Lead {
    std::uint8_t bytes[kMaxLeadSize];
};
Lead turnedLead(const std::uint8_t* lead) {
    Lead t;
    std::copy(lead, lead + kMaxLeadSize, t.bytes);
    std::swap_ranges(t.bytes + 38, t.bytes + 42, t.bytes + 42);
    return t;
}

CopyFault copy(Conversion& c) {
    const ImageLayout& input = c.layout;
    const FitPlan plan = planOf(input, c.settings);
    const ImageLayout l = outputLayout(input, plan);
    Levels levels = c.settings.levels;
    if (c.pixels == nullptr && c.source == nullptr && c.picture == nullptr && isCompactForm(levels) &&
        l.kind == ImageKind::TrueColour && plainBmp(c.settings.output) && !plan.active)
        return compactCopy(c);
    if (!heapHas(levelsHeap(input, levels, c.chunk.size()) + levelsHeap(l, levels, 0))) return CopyFault::NoMemory;
    const Fit& fit = c.settings.fit;
    if (plan.active && !heapHas(scaleHeap(plan, fit.filter, input.width, levelRows(input)) +
                                (isTurned(plan.turn) ? static_cast<std::uint64_t>(plan.outWidth * plan.outHeight) : 0)))
        return CopyFault::NoMemory;
    // A JPEG to be scaled down is decoded at the least of 1/8, 1/4 and 1/2 of its size that
    // still leaves twice the scaled size both ways; the filter does the rest.
    if (c.picture != nullptr && plan.scales && fit.filter != Filter::Nearest) {
        const auto side = [](std::int64_t v, int e) { return (v * e + 7) / 8; };
        for (const int e : {1, 2, 4})
            if (side(input.width, e) >= 2 * plan.scaledWidth && side(levelRows(input), e) >= 2 * plan.scaledHeight &&
                pictureScaled(*c.picture, e))
                break;
    }
    const std::int64_t sourceWidth = c.picture != nullptr ? std::int64_t{c.picture->rowsWidth} : std::int64_t{input.width};
    const std::int64_t sourceHeight = c.picture != nullptr ? std::int64_t{c.picture->rowsHeight} : levelRows(input);
    const Lead turned = turnedLead(c.lead);
    const std::uint8_t* lead = plan.turn.swap ? turned.bytes : c.lead;
    const std::int64_t rows = levelRows(l);
    // The sink: the caller's rows, or the BMP's headers and then its rows, a span of rows
    // that fits the chunk (at least one) a write.
    PixelSink pixels;
    BmpSink bmp;
    FormatSink format;
    RowTaker sink;
    const bool formatted = c.pixels == nullptr && !plainBmp(c.settings.output);
    if (c.pixels != nullptr) {
        pixels = pixelSinkOf(*c.pixels, l.width, rows, l.height > 0, levels.count);
        sink = pixelSinkTaker(pixels);
    } else if (formatted) {
        const CopyFault opened = formatSinkOpen(format, *c.out, c.settings.output, shapeOf(l, levels, lead));
        if (opened != CopyFault::None) return opened;
        sink = formatSinkTaker(format);
    } else {
        const std::vector<std::uint8_t> headers = levelHeaders(l, lead, levels.count, levels.depth);
        if (!streamWriteAt(*c.out, 0, headers.data(), headers.size())) return CopyFault::WriteFailed;
        if (rows == 0) return CopyFault::None;
        const auto chunk = static_cast<std::int64_t>(c.chunk.size());
        const std::int64_t outStride = levelStride(l.width, levels.depth);
        bmp = bmpSinkOf(*c.out, l.width, levels.depth, levelPixelOffset(levels.count),
                        std::max<std::int64_t>(1, chunk / outStride));
        sink = bmpSinkTaker(bmp);
    }
    Histogram histogram;
    CopyFault fault = CopyFault::None;
    if (levels.normalize) {
        const Stream* in = c.picture != nullptr ? c.picture->in : c.source != nullptr ? nullptr : c.in;
        histogram.width = static_cast<std::size_t>(sourceWidth);
        histogram.hold = in != nullptr && in->sequential;
        if (histogram.hold && !heapHas(static_cast<std::uint64_t>(sourceWidth) * static_cast<std::uint64_t>(sourceHeight)))
            return CopyFault::NoMemory;
        fault = sourceRows(c, false, RowTaker{&histogram, histogramTake});
        if (fault != CopyFault::None) return fault;
        normalRange(levels, histogram.counts);
    }
    QuantizeStage stage;
    ToneStage tone;
    ScaleStage scale;
    TurnStage turn;
    RowTaker first =
        toneInto(tone, levels, l.width, quantizeInto(stage, levels, l.width, rows, l.height > 0, sink));
    if (plan.active) {
        const std::int32_t b = c.settings.background;
        const std::uint8_t background = b < 0 ? 255 : grayOf(c.settings.method, b & 0xFF, b >> 8 & 0xFF, b >> 16 & 0xFF);
        first = scaleInto(scale, plan, fit.filter, sourceWidth, sourceHeight, input.height > 0, background, c.cpu,
                          turnInto(turn, plan, input.height > 0, first));
    }
    if (histogram.hold) {
        for (std::int64_t y = 0; y < sourceHeight && fault == CopyFault::None; ++y)
            if (!first(histogram.held.data() + static_cast<std::size_t>(y) * histogram.width))
                fault = CopyFault::WriteFailed;
    } else {
        fault = sourceRows(c, levels.normalize, first);
    }
    if (fault == CopyFault::None && c.pixels == nullptr && !(formatted ? formatSinkClose(format) : bmpSinkFlush(bmp)))
        fault = CopyFault::WriteFailed;
    if (fault == CopyFault::ReadFailed && c.in != nullptr)
        fault = streamFault(*c.in, c.out != nullptr ? *c.out : Stream{});
    return fault;
}

}  // namespace

void fittedSize(const Settings& s, std::int64_t& width, std::int64_t& height) {
    if ((!fitAsked(s.fit) && s.fit.orientation == 1) || width <= 0 || height <= 0) return;
    const FitPlan plan = fitPlanOf(s.fit, width, height);
    if (plan.active) width = plan.outWidth, height = plan.outHeight;
}

const FormRow kLevelsForm = {"levels", chosen, takes, length, never, copy};

}  // namespace graybmp
