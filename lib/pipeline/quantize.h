// The quantize stage: rows of grays into rows of level indices, dithered or not (the
// definitions are in pipeline/levels.h), and the indices packed as a BMP of levels packs
// them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "pipeline/levels.h"
#include "pipeline/rows.h"

namespace graybmp {

constexpr int kMostTaps = 12;

// The tables of indices and shares cover v in [-kLow, kHigh): every v of 8-bit grays and
// the errors they make.
constexpr std::int32_t kLow = 1024, kHigh = 1280;  // the shares of an error-diffusion kernel, at most

// What a value v passes on by an error-diffusion kernel: its index, its shares to the next
// pixel and the one after, and for each row below its shares to the five columns from two
// before it to two after, packed 12 bits a column (the first lowest) into one integer,
// the sum of s_c 2^(12 c), so that a row's window of five columns grows by one sum. A
// share that small holds: in the table's range |e| < 1280, and one row's shares to one
// column come from different pixels, at most |e| and the rests' roundings all told.
constexpr int kColumnBits = 12;

struct alignas(32) KernelShares {  // 32 bytes: found by a shift
    std::int64_t below[2];
    std::int32_t next1, next2, index;
};

// The rows of carried error a diffusing quantizer keeps in turn: the rows of a group of
// two and the two below them that its kernel reaches.
constexpr std::size_t kErrorRows = 4;

// The state one picture needs, which grows with its width alone; rows come in the order
// the file stores them.
struct Quantizer {
    Levels levels;
    std::int64_t width = 0, rows = 0, done = 0;
    bool bottomUp = false;
    std::vector<std::uint8_t> near;     // the index of v, for v in the table's range (in
                                        // linear light, of v from 0 to 65535)
    std::vector<std::int32_t> level;    // L_k (or G_k; in linear light, Y of them)
    std::vector<std::int32_t> errors;   // kErrorRows rows of carried error, two places beyond each end
    std::size_t errorRow = 0;           // which of them is this row's
    std::vector<std::uint8_t> indices;  // the row's indices
    std::vector<KernelShares> kernelShares;  // error diffusion: what v passes on, in the table's range
    int side = 0;                       // an ordered dithering's matrix: its side,
    std::vector<std::int32_t> ordered;  // the offset of each of its places, row by row
    // (in linear light, its rank M), and for each gray g the level a below Y(g) and the
    // least M that picks a + 1 instead
    std::uint8_t below[256] = {};
    std::int32_t upperFrom[256] = {};
};

Quantizer quantizerOf(const Levels& levels, std::int64_t width, std::int64_t rows, bool bottomUp);


// The next row: `grays` (width bytes) into q.indices.
void quantizeRow(Quantizer& q, const std::uint8_t* grays);

// The quantize stage between a source and a sink: each row of grays quantized and its
// indices handed on.
// Rows diffused one way run this many at once: a pixel's error reaches the next row at
// most two pixels back, so a row can follow the one above two pixels behind, its chain of
// lookups beside the other's (more rows than two run out of registers).
constexpr int kChains = 2;

struct QuantizeStage {
    Quantizer q;
    RowTaker next;
    int held = 0;                        // rows of grays waiting for their group
    std::vector<std::uint8_t> grays;     // kChains rows of grays,
    std::vector<std::uint8_t> indices;   // and of their indices
};

// What a source feeds for these levels: the stage, set up here, or the sink itself where
// the indices are the grays (256 levels, undithered).
RowTaker quantizeInto(QuantizeStage& stage, const Levels& levels, std::int64_t width, std::int64_t rows,
                      bool bottomUp, RowTaker sink);

// `width` indices of `depth` bits (1, 2, 4 or 8) packed most significant bits first into
// `out`, `stride` bytes, the padding zeroed.
void packRow(const std::uint8_t* indices, std::size_t width, int depth, std::size_t stride,
             std::uint8_t* out);

}  // namespace graybmp
