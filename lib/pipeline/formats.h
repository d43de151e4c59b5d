// The output formats of the levels beside the BMP: the bytes a panel's firmware takes.
//   raw: the indices packed as the BMP packs them (or by pages or planes), rows from the
//     picture's top, no header, each row padded with zero bits to `rowAlign` bytes;
//   c: a C header of those bytes; xbm: an X bitmap (2 levels, least significant bit
//     first, 1 black); pbm: P4 (2 levels, 1 black); pgm: P5, maxval 255, each pixel its
//     level's gray L_k.
// A BMP laid out for strict readers (a full palette, rows in a chosen order, index 0 the
// white) is written here too; a BMP of neither goes to the BmpSink as it always has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/rows.h"
#include "platform/stream.h"

namespace graybmp {

enum class Format { Bmp, Raw, C, Xbm, Pbm, Pgm };
enum class BitOrder { Default, Msb, Lsb };  // Default: msb, but for pages the top pixel in bit 0
enum class Packing { Rows, Pages, Planes };
enum class RowOrder { Input, TopDown, BottomUp };  // Input: the input's order (a picture's top-down)

struct Output {
    Format format = Format::Bmp;
    BitOrder bitOrder = BitOrder::Default;
    Packing packing = Packing::Rows;
    int rowAlign = 1;
    std::string name;  // the C header's array (empty: "image")
    bool fullPalette = false;
    RowOrder rows = RowOrder::Input;
    bool whiteFirst = false;  // index k is level N - 1 - k
};

// Whether the output is the BMP of levels as it has always been written.
inline bool plainBmp(const Output& o) {
    return o.format == Format::Bmp && !o.fullPalette && o.rows == RowOrder::Input && !o.whiteFirst;
}

// A name as a C identifier: bytes outside [A-Za-z0-9_] made '_', a leading digit
// prefixed with '_' (empty: "image").
std::string identifierOf(const std::string& name);

// The C identifier of an output file's name: its last component without its extension.
std::string identifierOfPath(const char* path);

// What the output of a picture of width x rows at `count` levels of `depth` bits is.
struct FormatShape {
    std::int64_t width = 0, rows = 0;
    int count = 2, depth = 1;
    bool inputBottomUp = false;   // the rows come from the bottom
    std::int32_t lead[2] = {};    // a BMP's resolution, pixels a metre (x, y)
};

// The output's whole length.
std::int64_t formatLength(const Output& o, const FormatShape& shape);

// The sink that writes the format: the header, each row of indices (in the input's
// order) packed at its place, then the trailer.
struct FormatSink {
    Output o;
    FormatShape shape;
    Stream* out = nullptr;
    std::int64_t stride = 0;       // bytes of a packed row (of a plane)
    std::int64_t body = 0;         // where the packed bytes (or their text) start
    std::int64_t bodyBytes = 0;    // their count
    std::int64_t fileRow = 0;      // rows taken
    bool hold = false;             // a sequential output whose rows do not come in order: held
    std::vector<std::uint8_t> held;
    std::vector<std::uint8_t> mapped, bits, packed, text;  // a row's indices as the format has
                                                           // them, a plane's bits, packed, as text
    std::vector<std::uint8_t> page;  // pages: the current page's rows of indices
    std::vector<std::uint8_t> pending;  // bytes written next, from pendingAt
    std::int64_t pendingAt = 0;
    std::int64_t pageRows = 0;
    bool failed = false;
};

// Writes the header; false when the stream fails. `hold` memory is asked of the heap
// first: CopyFault::NoMemory when it is not there.
CopyFault formatSinkOpen(FormatSink& sink, Stream& out, const Output& o, const FormatShape& shape);
RowTaker formatSinkTaker(FormatSink& sink);
// Writes what is held and the trailer.
bool formatSinkClose(FormatSink& sink);

}  // namespace graybmp
