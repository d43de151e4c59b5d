#include "convert/runs.h"

namespace graybmp {
namespace {

void grayTriple(std::uint8_t* t, const GrayFormula& method) {
    t[0] = t[1] = t[2] = grayOf(method, t[0], t[1], t[2]);
}

}  // namespace

std::size_t walkRle24(Rle24Walk& w, std::uint8_t* data, std::size_t size,
                      const GrayFormula& method) {
    std::size_t at = 0;
    while (!w.ended) {
        const std::size_t left = size - at;
        if (w.literal > 0) {  // the next triple of an absolute run
            if (left < 3) break;
            grayTriple(data + at, method);
            at += 3;
            --w.literal;
        } else if (w.pad) {
            if (left < 1) break;
            at += 1;
            w.pad = false;
        } else if (left >= 2 && data[at] == 0 && data[at + 1] <= 1) {  // end of line, of bitmap
            w.ended = data[at + 1] == 1;
            at += 2;
        } else if (left >= 2 && data[at] == 0 && data[at + 1] >= 3) {  // an absolute run
            w.literal = data[at + 1];
            w.pad = (3 * w.literal) % 2 != 0;
            at += 2;
        } else {  // a delta, or an encoded run and its colour: four bytes each
            if (left < 4) break;
            if (data[at] != 0) grayTriple(data + at + 1, method);
            at += 4;
        }
    }
    return at;
}

}  // namespace graybmp
