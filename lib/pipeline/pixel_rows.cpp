#include "pipeline/pixel_rows.h"

#include <cstddef>
#include <vector>

#include "pipeline/bmp_rows.h"

namespace graybmp {
namespace {

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
constexpr int kRgbaLayout = 3;

}  // namespace

CopyFault pixelRows(const PixelsIn& p, const ImageLayout& l, const GrayFormula& method, Cpu cpu,
                    std::int32_t background, RowTaker next) {
    const std::size_t width = p.width;
    if (width == 0) return CopyFault::None;
    std::vector<std::uint8_t> bgra(4 * width), grays(width);
    const PixelGray gray = pixelGrayOf(l, nullptr, method, cpu);
    for (std::uint32_t r = 0; r < p.height; ++r) {
        const std::uint32_t picture = p.bottomUp ? p.height - 1 - r : r;
        kBgraRuns[p.layout](p.pixels + picture * p.stride, width, bgra.data());
        if (!grayRow(l, gray, bgra.data(), width, grays.data(), background)) return CopyFault::Translucent;
        if (!next(grays.data())) return CopyFault::WriteFailed;
    }
    return CopyFault::None;
}

namespace {

struct PictureGray {
    const ImageLayout* layout;
    PixelGray gray;
    std::int32_t background;
    std::size_t width;
    std::vector<std::uint8_t> bgra, grays;
    RowTaker next;
    bool ordered = false;  // the rows come as blue, green, red, alpha already
    bool translucent = false;
    bool alphaFree = false;  // a JPEG: every pixel opaque
};

bool pictureRow(void* self, const std::uint8_t* row) {
    auto& g = *static_cast<PictureGray*>(self);
    const std::uint8_t* bgra = row;
    if (!g.ordered) {
        kBgraRuns[kRgbaLayout](row, g.width, g.bgra.data());
        bgra = g.bgra.data();
    }
    if (g.alphaFree) {
        grayIndices(g.gray, bgra, g.width, g.grays.data());
    } else if (!grayRow(*g.layout, g.gray, bgra, g.width, g.grays.data(), g.background)) {
        g.translucent = true;
        return false;
    }
    return g.next(g.grays.data());
}

}  // namespace

CopyFault pictureRows(Picture& picture, const ImageLayout& l, const GrayFormula& method, Cpu cpu,
                      std::int32_t background, RowTaker next) {
    PictureGray g{&l, pixelGrayOf(l, nullptr, method, cpu), background, picture.rowsWidth, {}, {}, next,
                  picture.bgra};
    g.alphaFree = picture.info.format == PictureFormat::Jpeg;
    if (!g.ordered) g.bgra.resize(4 * g.width);
    g.grays.resize(g.width);
    const CopyFault fault = picture.decoder->rows(picture, RowTaker{&g, pictureRow});
    return g.translucent ? CopyFault::Translucent : fault;
}

}  // namespace graybmp
