// One conversion: the checked settings, the input's layout, the output form chosen for
// them, the two streams and the chunk buffer. Every entry point of the library fills one
// in (its streams: files, callbacks or memory) and runs it; no step calls the public API.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "bitmap/check.h"
#include "conversion/failure.h"
#include "convert/gray.h"
#include "pictures/picture.h"
#include "pipeline/fit.h"
#include "pipeline/formats.h"
#include "pipeline/levels.h"
#include "pipeline/rows.h"
#include "platform/memory.h"
#include "platform/stream.h"

namespace graybmp {

// Rows are read, changed where they lie and written back in chunks of this many bytes
// (whole rows when they fit, else pieces of one row): the only buffer of the copy.
constexpr std::size_t kChunkSize = 256 * 1024;
// The least chunk: whole pixels of every size (2, 3, 4 and 8 bytes) and palette entries.
constexpr std::size_t kMinChunkSize = 24;

// What the caller's options say, checked.
struct Settings {
    GrayFormula method;
    bool compact = false;
    Levels levels;
    std::int32_t background = -1;  // 0xRRGGBB that translucent pixels are composited on; -1: refused
    std::uint64_t maxPixels = kDefaultMaxPixels;  // a picture's limit
    Output output;  // what the levels are written as
    Fit fit;        // the size, the turn and the scaling of the levels
};

// Why a later entry of a bitmap array was refused: the rule, and the reason in words.
struct Refusal {
    InputError error = InputError::None;
    std::string reason;
};

struct FormRow;

// The fault of a copy that stopped on a stream: the output's, the input's, or the input's
// end before what it held when it was checked.
inline CopyFault streamFault(const Stream& in, const Stream& out) {
    if (out.error != 0) return CopyFault::WriteFailed;
    if (in.error != 0) return CopyFault::ReadFailed;
    return CopyFault::InputShrank;
}

struct Conversion {
    Settings settings;
    Cpu cpu = processCpu();
    // The input's first bytes, as the check took them, and what it found.
    std::uint8_t lead[kMaxLeadSize] = {};
    std::size_t leadSize = 0;
    ImageLayout layout{};
    const FormRow* form = nullptr;  // chosen by conversionChecked
    std::int64_t outputSize = 0;    // the output's length, for an input of known length
    Stream* in = nullptr;
    Stream* out = nullptr;           // unused with `pixels`
    const PixelRows* pixels = nullptr;  // the sink is the caller's rows (forms that make pixels)
    const PixelsIn* source = nullptr;   // the source is the caller's pixels, `in` unused
    std::unique_ptr<Picture> picture;   // the source is a picture of another format, from `in`
    // A BMP that holds a JPEG or PNG (BI_JPEG, BI_PNG), converted to levels or compact as
    // the picture it holds: its format, where it starts and its length.
    PictureFormat embedded = PictureFormat::None;
    std::int64_t embeddedAt = 0, embeddedLength = 0;
    std::size_t chunkSize = kChunkSize;  // tests put the chunk's edges elsewhere
    Buffer chunk;
    Refusal refusal;  // CopyFault::Refused: why
};

// Whether the lead (leadSize bytes of an input `fileSize` long, kUnknownSize for a pipe
// that has not ended) is long enough for the check at all.
bool leadLongEnough(const std::uint8_t* lead, std::size_t leadSize, Failure& f);

// Whether the lead is a picture of another format (PNG, JPEG, WebP, GIF, netpbm).
bool leadIsPicture(const Conversion& c);

// Opens the picture that `in` holds (its lead in c.lead) with its decoder and checks it by
// the settings: the layout is then the 32-bit top-down BMP of its pixels, the form the
// levels' (256 grays without levels), and the output's length set. The stream must stay
// open for the copy.
bool pictureChecked(Conversion& c, Stream& in, Failure& f);

// As pictureChecked from the first `n` bytes alone (the header's fields, without the
// decoder): GRAYBMP_TOO_SHORT with f.needed when they are not all there. `info` holds
// what they showed.
bool pictureLeadChecked(Conversion& c, const std::uint8_t* data, std::size_t n, PictureInfo& info, Failure& f);

// After conversionChecked of a BMP that holds a picture (c.embedded): its decoder opened
// on `in` where the picture starts, and its size held to the BMP header's.
bool embeddedOpened(Conversion& c, Stream& in, Failure& f);

// Checks the lead: the input's refusal, or the form's for these settings, in `f`; else
// the layout, the form and the output's length are set.
bool conversionChecked(Conversion& c, std::uint64_t fileSize, Failure& f);

// The output's length for an input `inputLength` bytes long (a pipe's, once it ended).
std::int64_t conversionLength(const Conversion& c, std::int64_t inputLength);

// Whether the form reads every byte before it writes there and finds every refusal
// first, so that the conversion can run where the input lies.
bool conversionInPlace(const Conversion& c);

// The copy from c.in to c.out (or c.pixels) by the form; its fault in words in `f`.
bool conversionRan(Conversion& c, Failure& f);

// The copy alone, for the tests and the fuzzer: its fault.
CopyFault conversionCopy(Conversion& c);

// The words of a fault, as the caller hears of it.
Failure faultFailure(CopyFault fault, const Conversion& c);

}  // namespace graybmp
