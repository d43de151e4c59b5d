#include "convert/runs.h"

#include <algorithm>
#include <vector>

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

bool decodeRuns(Stream& in, const ImageLayout& l, Buffer& chunk, std::int64_t rows,
                bool (*row)(void* self, const std::uint8_t* indices), void* self) {
    const bool rle8 = l.compression == 1;
    const auto width = static_cast<std::int64_t>(l.width);
    std::vector<std::uint8_t> index(static_cast<std::size_t>(width), 0);
    std::int64_t x = 0, y = 0, at = l.pixelOffset;
    std::size_t have = 0, used = 0;
    bool ended = false;
    const auto next = [&](std::uint8_t& b) {
        if (used == have) {
            have = streamReadAt(in, at, chunk.data(), chunk.size());
            if (in.error != 0 || have == 0) return false;
            at += static_cast<std::int64_t>(have);
            used = 0;
        }
        b = chunk[used++];
        return true;
    };
    const auto emit = [&] {
        const bool on = row(self, index.data());
        std::fill(index.begin(), index.end(), std::uint8_t{0});
        x = 0;
        ++y;
        return on;
    };
    // The i-th pixel of a run or an absolute run whose byte is b: the byte, or its high
    // and low nibbles in turn.
    const auto pixel = [&](std::uint8_t b, int i) {
        if (x < width)
            index[static_cast<std::size_t>(x)] = static_cast<std::uint8_t>(rle8 ? b : i % 2 == 0 ? b >> 4 : b & 15);
        ++x;
    };
    while (y < rows && !ended) {
        std::uint8_t count = 0, code = 0;
        if (!next(count) || !next(code)) break;
        if (count > 0) {  // a run of one index, or of two alternating nibbles
            for (int i = 0; i < count; ++i) pixel(code, i);
        } else if (code == 0) {  // end of line
            if (!emit()) return false;
        } else if (code == 1) {  // end of bitmap
            ended = true;
        } else if (code == 2) {  // delta: right and down
            std::uint8_t dx = 0, dy = 0;
            if (!next(dx) || !next(dy)) break;
            const std::int64_t column = x + dx;
            for (int down = 0; down < dy && y < rows; ++down)
                if (!emit()) return false;
            x = column;
        } else {  // an absolute run of `code` indices, padded to whole 16-bit words
            const int bytes = rle8 ? code : (code + 1) / 2;
            std::uint8_t b = 0;
            for (int i = 0; i < code && !ended; ++i) {
                if ((rle8 || i % 2 == 0) && !next(b)) ended = true;
                else pixel(b, i);
            }
            if (!ended && bytes % 2 != 0 && !next(b)) ended = true;
        }
    }
    if (in.error != 0) return false;
    while (y < rows)
        if (!emit()) return false;
    return true;
}


}  // namespace graybmp
