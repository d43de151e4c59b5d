// The library's C boundary: options, the header, and every conversion (memory, in place,
// streams, files) through one input check and the one copy of each kind.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "api/api.h"
#include "api/failure.h"
#include "bitmap/bitmap.h"
#include "bitmap/check.h"
#include "convert/convert.h"
#include "convert/gray.h"
#include "graybmp.h"
#include "platform/memory.h"
#include "platform/output.h"
#include "platform/stream.h"

namespace graybmp {
namespace {

static_assert(static_cast<int>(InputError::ArrayBehindPipe) == GRAYBMP_ARRAY_BEHIND_PIPE &&
                  static_cast<int>(InputError::RowsDoNotFit) == GRAYBMP_ROWS_DO_NOT_FIT &&
                  static_cast<int>(InputError::TooShort) == GRAYBMP_TOO_SHORT,
              "the refusal classes stand in the same order as their statuses");

// The public values are the registry's places.
static_assert(GRAYBMP_MEAN == static_cast<int>(GrayMethod::Mean) &&
                  GRAYBMP_BT601 == static_cast<int>(GrayMethod::Bt601) &&
                  GRAYBMP_BT709 == static_cast<int>(GrayMethod::Bt709) &&
                  GRAYBMP_LUMINANCE == static_cast<int>(GrayMethod::Luminance) &&
                  GRAYBMP_MAX == static_cast<int>(GrayMethod::Max) &&
                  GRAYBMP_LIGHTNESS == static_cast<int>(GrayMethod::Lightness) &&
                  GRAYBMP_RMS == static_cast<int>(GrayMethod::Rms) &&
                  GRAYBMP_RED == static_cast<int>(GrayMethod::Red) &&
                  GRAYBMP_GREEN == static_cast<int>(GrayMethod::Green) &&
                  GRAYBMP_BLUE == static_cast<int>(GrayMethod::Blue) &&
                  GRAYBMP_WEIGHTS == static_cast<int>(GrayMethod::Weights) &&
                  GRAYBMP_WEIGHTS + 1 == kGrayMethods,
              "graybmp_method stands in the registry's order");
constexpr std::size_t kMethodCount = kGrayMethods;

// What the options say, read as far as the caller's struct goes.
struct Settings {
    GrayFormula method;
    bool compact = false;
    Levels levels;
};

constexpr std::uint64_t kMillion = 1000000;
constexpr std::uint64_t kMostWeight = kMillion * kMillion;

// Why `text` is not a weight (digits, optionally a point and 1 to 6 more digits, at most
// 1000000), or empty with its value in millionths in `value`.
std::string weightProblem(const std::string& text, const char* channel, std::uint64_t& value) {
    const std::string named = std::string("the ") + channel + " weight '" + text + "'";
    if (text.empty()) return std::string("the ") + channel + " weight is empty";
    if (text[0] == '+' || text[0] == '-') return named + " has a sign";
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string decimals = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string& t) {
        return t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(whole) || !digits(decimals))
        return named + " is not a decimal number (digits, a point and up to 6 decimals)";
    if (whole.empty()) return named + " needs a digit before its point";
    if (point != std::string::npos && decimals.empty()) return named + " needs a digit after its point";
    if (decimals.size() > 6) return named + " has more than 6 decimals";
    std::uint64_t units = 0;
    for (const char c : whole) {
        units = units * 10 + static_cast<std::uint64_t>(c - '0');
        if (units > kMillion) return named + " is over 1000000";
    }
    std::uint64_t fraction = 0;
    for (std::size_t i = 0; i < 6; ++i)
        fraction = fraction * 10 + (i < decimals.size() ? static_cast<std::uint64_t>(decimals[i] - '0') : 0);
    value = units * kMillion + fraction;
    return value > kMostWeight ? named + " is over 1000000" : "";
}

// Why weights in millionths are no formula (one over 10^12, or all 0), or empty.
std::string weightLimitsProblem(const std::uint64_t weights[3]) {
    for (int c = 0; c < 3; ++c)
        if (weights[c] > kMostWeight) return "a weight is over 1000000";
    return weights[0] + weights[1] + weights[2] == 0 ? "the weights are all 0" : "";
}

// "weights=R,G,B" into `f`, or why not.
std::string weightsProblem(const std::string& list, GrayFormula& f) {
    std::vector<std::string> fields(1);
    for (const char c : list) {
        if (c == ',') fields.emplace_back();
        else fields.back() += c;
    }
    if (fields.size() != 3)
        return "weights=" + list + " has " + std::to_string(fields.size()) +
               (fields.size() == 1 ? " number" : " numbers") + "; it takes three, R,G,B";
    const char* channels[] = {"red", "green", "blue"};
    GrayFormula weighted(0, 0, 0);
    for (int c = 0; c < 3; ++c) {
        const std::string problem = weightProblem(fields[static_cast<std::size_t>(c)], channels[c],
                                                  weighted.weights[c]);
        if (!problem.empty()) return "weights=" + list + ": " + problem;
    }
    const std::string limits = weightLimitsProblem(weighted.weights);
    if (!limits.empty()) return "weights=" + list + ": " + limits;
    f = weighted;
    return "";
}

// The first `size` bytes of a caller's struct over its defaults: one built against an
// older header knows fewer fields, and the others keep their defaults.
template <typename T>
T known(const T* given, T defaults) {
    if (given != nullptr)
        std::memcpy(&defaults, given, std::min(given->size, sizeof(T)));
    defaults.size = sizeof(T);
    return defaults;
}

graybmp_options defaultOptions() {
    graybmp_options o{};
    graybmp_options_init(&o);
    return o;
}

std::string methodList() {
    std::string list;
    for (std::size_t i = 0; i < kMethodCount; ++i)
        list += std::string(i == 0 ? "" : i + 1 == kMethodCount ? " or " : ", ") + kMethodRows[i].name;
    return list;
}

// The levels, depth and dithering the options ask for, or why they cannot be.
bool levelsOf(const graybmp_options& o, Levels& levels, Failure& f) {
    int dither = 0;
    static_assert(sizeof dither == sizeof o.dither, "the dithering is stored as an int");
    std::memcpy(&dither, &o.dither, sizeof dither);
    int count = o.levels;
    const int depth = o.depth;
    if (depth != 0 && depth != 1 && depth != 2 && depth != 4 && depth != 8) {
        f = badArgument("a depth of " + std::to_string(depth) + " bits (1, 2, 4 or 8)");
        return false;
    }
    if (count == 0 && depth != 0) count = 1 << depth;
    if (count != 0 && (count < 2 || count > 256)) {
        f = badArgument(std::to_string(count) + " levels (2 to 256)");
        return false;
    }
    if (depth != 0 && (1 << depth) < count) {
        f = badArgument(std::to_string(count) + " levels do not fit in " + std::to_string(depth) +
                        (depth == 1 ? " bit" : " bits"));
        return false;
    }
    if (dither < 0 || dither > GRAYBMP_DITHER_ORDERED) {
        f = badArgument("unknown dithering " + std::to_string(dither));
        return false;
    }
    if (dither != GRAYBMP_DITHER_NONE && (count == 0 || count == 256)) {
        f = badArgument(count == 0 ? "dithering needs levels (--levels)"
                                    : "dithering needs fewer than 256 levels");
        return false;
    }
    levels.count = count;
    levels.depth = depth != 0 ? depth : defaultDepth(count);
    levels.dither = static_cast<Dither>(dither);
    return true;
}

bool settingsOf(const graybmp_options* given, Settings& s, Failure& f) {
    if (given != nullptr && given->size < offsetof(graybmp_options, compact) + sizeof(int)) {
        f = badArgument("options whose size field is not set (graybmp_options_init sets it)");
        return false;
    }
    const graybmp_options o = known(given, defaultOptions());
    // A C caller may store any int in the enum: read it as one.
    int method = 0;
    static_assert(sizeof method == sizeof o.method, "the method is stored as an int");
    std::memcpy(&method, &o.method, sizeof method);
    if (method < 0 || static_cast<unsigned>(method) >= kMethodCount) {
        f = badArgument("unknown gray method " + std::to_string(method) + " (" + methodList() +
                        ")");
        return false;
    }
    s.method = GrayFormula(static_cast<GrayMethod>(method));
    if (s.method.method == GrayMethod::Weights) {
        const std::string limits = weightLimitsProblem(o.weights);
        if (!limits.empty()) {
            f = badArgument(limits);
            return false;
        }
        std::copy(o.weights, o.weights + 3, s.method.weights);
    }
    s.compact = o.compact != 0;
    return levelsOf(o, s.levels, f);
}

Failure refusalOf(InputError e, const std::string& reason) {
    Failure f;
    f.status = statusOf(e);
    f.side = GRAYBMP_SIDE_INPUT;
    f.message = reason;
    return f;
}

Failure inputFailure(graybmp_status status, const std::string& message) {
    Failure f;
    f.status = status;
    f.side = GRAYBMP_SIDE_INPUT;
    f.message = message;
    return f;
}

// ---- The header and the check ----

void fillHeader(const std::uint8_t* lead, std::size_t leadSize, graybmp_header& header) {
    // A bitmap array is described by its first bitmap, as if the file began there.
    const std::size_t at = bitmapArray(lead, leadSize) ? kArrayHeaderSize : 0;
    BitmapHeaders h{};
    std::memcpy(h.bytes, lead + at, std::min(leadSize - at, kHeadersSize));
    header = graybmp_header{};
    header.is_bmp = bfType(h) == kBmSignature;
    header.size = bfSize(h);
    if (biSize(h) == kCoreHeaderSize) {  // OS/2 1.x: 16-bit fields of its own
        header.width = bcWidth(h);
        header.height = bcHeight(h);
        header.bit_count = bcBitCount(h);
    } else {
        header.width = biWidth(h);
        header.height = biHeight(h);
        header.bit_count = biBitCount(h);
    }
}

graybmp_kind kindOf(const ImageLayout& l) {
    if (l.arrayFirst) return GRAYBMP_KIND_ARRAY;
    switch (l.kind) {
    case ImageKind::Indexed8:
        return GRAYBMP_KIND_INDEXED8;
    case ImageKind::Palettized:
        return GRAYBMP_KIND_PALETTIZED;
    case ImageKind::TrueColour:
        return GRAYBMP_KIND_TRUE_COLOUR;
    default:
        return GRAYBMP_KIND_RLE24;
    }
}

// The check of a lead: the refusal, or that of the compact form for a kind it does not take.
bool checked(const std::uint8_t* lead, std::size_t leadSize, std::uint64_t fileSize,
             const Settings& s, ImageLayout& layout, Failure& f) {
    const InputError e = checkInput(lead, leadSize, fileSize, layout);
    if (e != InputError::None) {
        f = refusalOf(e, describeInputError(e, lead, leadSize, fileSize));
        return false;
    }
    if (s.levels.count > 0) {
        const bool rle = layout.kind != ImageKind::TrueColour &&
                         (layout.compression == 1 || layout.compression == 2);
        const char* kind = layout.arrayFirst ? "a bitmap array"
                           : layout.kind == ImageKind::Rle24 ? "RLE24"
                           : layout.bitCount == 64 ? "64-bit"
                           : layout.kind == ImageKind::Palettized && layout.compression == 3
                               ? "OS/2 Huffman"
                           : rle && layout.height < 0 ? "top-down RLE"
                                                      : nullptr;
        if (kind != nullptr) {
            f = inputFailure(GRAYBMP_LEVELS_KIND,
                             std::string("--levels takes palettized (uncompressed, RLE8, RLE4) and "
                                         "16-, 24- and 32-bit images, not ") + kind + " ones");
            return false;
        }
        return true;
    }
    if (s.compact &&
        (layout.arrayFirst || layout.kind == ImageKind::Rle24 || layout.bitCount == 64)) {
        f = inputFailure(GRAYBMP_COMPACT_KIND,
                         "--compact writes 16-, 24- and 32-bit images only, not 64-bit, RLE24 or "
                         "bitmap-array ones");
        return false;
    }
    return true;
}

bool longEnough(const std::uint8_t* lead, std::size_t leadSize, Failure& f) {
    if (leadSize >= headerBlockSize(lead, leadSize)) return true;
    f = refusalOf(InputError::TooShort,
                  describeInputError(InputError::TooShort, lead, leadSize, leadSize));
    return false;
}

// How long the gray copy is: the input's length but for the compact form and the 8-bit
// kind, whose palette block and rows (when it has any) may reach past it.
std::int64_t outputLength(const ImageLayout& layout, const Settings& s, std::int64_t input) {
    if (s.levels.count > 0) return levelSize(layout, s.levels);
    if (s.compact && layout.kind == ImageKind::TrueColour && !layout.arrayFirst)
        return levelSize(layout, kCompactLevels);
    if (layout.kind != ImageKind::Indexed8 || layout.arrayFirst) return input;
    const std::int64_t paletteEnd = layout.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
    return std::max(input, layout.rowCount > 0 ? layout.tailOffset : paletteEnd);
}

// ---- The copy ----

// The copy's fault, as the caller hears of it.
Failure copyFailure(CopyFault fault, const Stream& in, const ImageLayout& layout,
                    const Refusal& refusal, const Settings& s) {
    switch (fault) {
    case CopyFault::ReadFailed:
        return systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", in.error);
    case CopyFault::InputShrank:
        return inputFailure(GRAYBMP_INPUT_SHRANK,
                            in.sequential ? "ended early, after " + std::to_string(in.position) +
                                                " bytes; it needs " +
                                                std::to_string(layout.requiredSize)
                                          : "ended early: the file changed while it was read");
    case CopyFault::Refused:
        return refusalOf(refusal.error, refusal.reason);
    case CopyFault::Translucent:
        return inputFailure(GRAYBMP_TRANSLUCENT,
                            std::string("has pixels that are not opaque; ") +
                                (s.levels.count > 0 ? "--levels" : "--compact") +
                                " would drop their alpha");
    default:
        return Failure{};
    }
}

// The copy itself; a write failure (and a copy that ran out of memory) in `f`.
bool copied(Stream& in, Stream& out, const std::uint8_t* lead, const ImageLayout& layout,
            const Settings& s, Failure& f) {
    CopyFault fault;
    Refusal refusal;
#if GRAYBMP_EXCEPTIONS
    try {
        fault = copyImage(in, out, lead, layout, kChunkSize, s.method, s.compact, &refusal,
                          processCpu(), s.levels);
    } catch (const std::bad_alloc&) {
        fault = CopyFault::NoMemory;
    }
#else
    fault = copyImage(in, out, lead, layout, kChunkSize, s.method, s.compact, &refusal,
                      processCpu(), s.levels);
#endif
    if (fault == CopyFault::None) return true;
    f = fault == CopyFault::WriteFailed
            ? systemFailure(GRAYBMP_WRITE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot write", out.error)
        : fault == CopyFault::NoMemory ? noMemory()
                                       : copyFailure(fault, in, layout, refusal, s);
    return false;
}

// ---- Memory ----

struct MemoryInput {
    Stream stream;
    std::uint8_t lead[kMaxLeadSize] = {};
    std::size_t leadSize = 0;
    ImageLayout layout{};
    std::int64_t outputSize = 0;
};

// Checks the first bytes of an input `fileSize` bytes long, `length` of them here (all of
// them for an input in memory, which the stream then reads).
bool checkedMemory(const void* input, std::size_t length, std::uint64_t fileSize, const Settings& s,
                   MemoryInput& m, Failure& f) {
    m.leadSize = std::min(length, kMaxLeadSize);
    if (m.leadSize > 0) std::memcpy(m.lead, input, m.leadSize);
    if (!longEnough(m.lead, m.leadSize, f) || !checked(m.lead, m.leadSize, fileSize, s, m.layout, f))
        return false;
    m.outputSize = outputLength(m.layout, s, static_cast<std::int64_t>(fileSize));
    streamAttachMemory(m.stream, input, length, false);
    return true;
}

bool checkedMemory(const void* input, std::size_t length, const Settings& s, MemoryInput& m,
                   Failure& f) {
    return checkedMemory(input, length, length, s, m, f);
}

bool convertedMemory(MemoryInput& m, void* output, std::size_t capacity, const Settings& s,
                     Failure& f) {
    const auto size = static_cast<std::uint64_t>(m.outputSize);
    if (capacity < size) {
        f.status = GRAYBMP_BUFFER_TOO_SHORT;
        f.needed = size;
        f.message = "the output buffer of " + std::to_string(capacity) + " bytes is too short; " +
                    std::to_string(size) + " needed";
        return false;
    }
    Stream out;
    streamAttachMemory(out, output, static_cast<std::size_t>(size), true);
    if (!copied(m.stream, out, m.lead, m.layout, s, f)) return false;
    streamFinishMemory(out, static_cast<std::size_t>(size));
    return true;
}

// Whether the copy of this layout reads every byte before it writes there, and finds
// every refusal before its first write, so that it can run where the image lies. Bitmap
// arrays are checked entry by entry as the copy goes; the compact form moves every
// byte; an 8-bit image's palette block may lie over its first rows.
bool grayableWhereItLies(const ImageLayout& l, const Settings& s) {
    if (l.arrayFirst || s.levels.count > 0) return false;
    if (s.compact && l.kind == ImageKind::TrueColour) return false;
    return l.kind != ImageKind::Indexed8 ||
           l.pixelOffset >= l.paletteOffset + static_cast<std::int64_t>(kPaletteSize);
}

// ---- Files and callbacks ----

struct Hooks {
    graybmp_hooks h{};
    void header(const graybmp_header& header) const {
        if (h.header != nullptr) h.header(h.context, &header);
    }
    void beforeRename() const {
        if (h.before_rename != nullptr) h.before_rename(h.context);
    }
};

struct Input {
    Stream stream;
    FileKind kind = FileKind::Regular;
    std::uint64_t fileSize = 0;
    std::uint8_t lead[kMaxLeadSize] = {};
    std::size_t leadSize = 0;
    ImageLayout layout{};
};

bool opened(const graybmp_job& job, Input& in, Failure& f) {
    if (job.input == nullptr) {
        std::int64_t length = -1;
        streamAttachReader(in.stream, job.reader, job.lead, job.lead_length, length);
        in.kind = in.stream.sequential ? FileKind::Pipe : FileKind::Regular;
        in.fileSize = length < 0 ? 0 : static_cast<std::uint64_t>(length);
        return true;
    }
    if (!streamOpen(in.stream, job.input, "rb")) {
        f = errno == EISDIR  // where a folder cannot be opened at all (Windows)
                ? inputFailure(GRAYBMP_INPUT_IS_DIRECTORY, "is a directory")
                : systemFailure(GRAYBMP_OPEN_FAILED, GRAYBMP_SIDE_INPUT, "cannot open", errno);
        return false;
    }
    if (!streamFileKind(in.stream, in.kind, in.fileSize)) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot examine", in.stream.error);
        return false;
    }
    if (in.kind == FileKind::Directory) {
        f = inputFailure(GRAYBMP_INPUT_IS_DIRECTORY, "is a directory");
        return false;
    }
    if (job.refuse_pipes != 0) return true;
    if (in.kind == FileKind::Terminal) {
        f = inputFailure(GRAYBMP_INPUT_IS_TERMINAL, "is a terminal; no image read");
        return false;
    }
    if (in.kind == FileKind::Pipe) streamMakeSequential(in.stream);
    return true;
}

// The lead: the header's bytes first (a pipe's as soon as they are there, for the header
// hook), then as much as the check looks at.
bool readLead(const graybmp_job& job, const Hooks& hooks, const Settings& s, Input& in,
              Failure& f) {
    Stream& st = in.stream;
    const std::size_t first =
        in.kind == FileKind::Regular && !st.sequential
            ? std::max<std::size_t>(kHeadersSize, static_cast<std::size_t>(std::min<std::uint64_t>(in.fileSize, kMaxLeadSize)))
            : kHeadersSize;
    in.leadSize = streamReadDirect(st, in.lead, first);
    const std::size_t block = headerBlockSize(in.lead, in.leadSize);  // more behind an array's
    if (in.leadSize < block && st.sequential && st.error == 0)
        in.leadSize += streamReadDirect(st, in.lead + in.leadSize, block - in.leadSize);
    if (st.error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", st.error);
        return false;
    }
    if (!longEnough(in.lead, in.leadSize, f)) return false;
    graybmp_header header;
    fillHeader(in.lead, in.leadSize, header);
    hooks.header(header);

    if (st.sequential) {  // a pipe's size is known only once it has ended
        in.leadSize += streamReadDirect(st, in.lead + in.leadSize, kMaxLeadSize - in.leadSize);
        in.fileSize = st.ended ? in.leadSize : static_cast<std::uint64_t>(kUnknownSize);
    } else if (in.kind != FileKind::Regular) {  // sizes and seeks need a file
        f = inputFailure(GRAYBMP_INPUT_NOT_REGULAR,
                         job.refuse_pipes != 0 ? "not a regular file" : "not a regular file or a pipe");
        return false;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(in.fileSize, kMaxLeadSize));
    if (wanted > in.leadSize)
        in.leadSize += streamReadDirect(st, in.lead + in.leadSize, wanted - in.leadSize);
    if (st.error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", st.error);
        return false;
    }
    return checked(in.lead, in.leadSize, in.fileSize, s, in.layout, f);
}

bool outputOpened(const graybmp_job& job, const Hooks& hooks, const char* name, Stream& out,
                  OutputFile& file, Failure& f) {
    if (name == nullptr) {
        streamAttachWriter(out, job.writer);
        return true;
    }
    file.hooks = &hooks.h;
    if (outputCreate(file, name, out)) return true;
    if (errno == EINVAL) {
        f.status = GRAYBMP_OUTPUT_NOT_REGULAR;
        f.side = GRAYBMP_SIDE_OUTPUT;
        f.message = "not a regular file; not replaced";
    } else {
        f = systemFailure(GRAYBMP_CREATE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot create", errno);
    }
    return false;
}

graybmp_status runJob(graybmp_job& job, const Settings& s, Failure& f) {
    Hooks hooks;
    hooks.h = known(job.hooks, graybmp_hooks{});
    Input in;
    if (!opened(job, in, f) || !readLead(job, hooks, s, in, f)) {
        streamClose(in.stream);
        return f.status;
    }
    const char* name = job.in_place != 0 ? job.input : job.output;
    if (job.in_place == 0 && job.output_checked == 0 && job.input != nullptr && name != nullptr &&
        in.kind == FileKind::Regular && streamIsFile(in.stream, name)) {
        streamClose(in.stream);
        f = inputFailure(GRAYBMP_OUTPUT_IS_INPUT,
                         std::string("the output ") + name + " is this very file");
        return f.status;
    }
    Stream out;
    OutputFile file;
    if (!outputOpened(job, hooks, name, out, file, f)) {
        streamClose(in.stream);
        return f.status;
    }
    bool ok = copied(in.stream, out, in.lead, in.layout, s, f);
    if (!streamClose(out) && ok) {
        ok = false;
        f = systemFailure(GRAYBMP_WRITE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot write", out.error);
    }
    streamClose(in.stream);
    if (!ok) {
        outputDiscard(file);
        return f.status;
    }
    if (name != nullptr) {
        hooks.beforeRename();
        if (!outputCommit(file)) {
            const int error = errno;
            outputDiscard(file);
            f = systemFailure(GRAYBMP_REPLACE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot replace", error);
            return f.status;
        }
    }
    const std::int64_t inputSize = in.fileSize >= static_cast<std::uint64_t>(kUnknownSize)
                                       ? in.stream.position
                                       : static_cast<std::int64_t>(in.fileSize);
    job.written = static_cast<std::uint64_t>(outputLength(in.layout, s, inputSize));
    return GRAYBMP_OK;
}

// Runs `body` with the failure it leaves delivered; nothing thrown gets past.
template <typename Body>
graybmp_status guarded(graybmp_error* error, Body body) {
    Failure f;
#if GRAYBMP_EXCEPTIONS
    try {
        body(f);
    } catch (const std::bad_alloc&) {
        f = noMemory();
    } catch (...) {
        f = badArgument("an unexpected failure inside the library");
    }
#else
    body(f);
#endif
    return deliver(f, error);
}

}  // namespace

graybmp_status compactPixels(const void* input, std::size_t length, const graybmp_options* options,
                             unsigned char* pixels, std::size_t stride, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        MemoryInput m;
        if (!settingsOf(options, s, f) || !checkedMemory(input, length, s, m, f)) return;
        const ImageLayout& l = m.layout;
        if (l.kind != ImageKind::TrueColour || l.arrayFirst || !isCompactForm(s.levels)) {
            f = badArgument("pixels of the compact form's rows are of true colour at 256 levels");
            return;
        }
        if (compactRows(static_cast<const std::uint8_t*>(input), l, s.method, processCpu(), pixels,
                        stride) != CopyFault::None)
            f = copyFailure(CopyFault::Translucent, m.stream, l, Refusal{}, s);
    });
}

}  // namespace graybmp

using namespace graybmp;

extern "C" {

void graybmp_options_init(graybmp_options* options) {
    if (options == nullptr) return;
    *options = graybmp_options{};
    options->size = sizeof(graybmp_options);
    options->method = GRAYBMP_MEAN;
}

graybmp_status graybmp_options_set_method(graybmp_options* options, const char* name,
                                          graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if (options == nullptr || name == nullptr) {
            f = badArgument("no options or no method name");
            return;
        }
        for (std::size_t i = 0; i + 1 < kMethodCount; ++i) {
            if (std::strcmp(kMethodRows[i].name, name) == 0) {
                options->method = static_cast<graybmp_method>(i);
                return;
            }
        }
        if (std::strncmp(name, "weights=", 8) == 0) {
            GrayFormula weighted;
            const std::string problem = weightsProblem(name + 8, weighted);
            if (!problem.empty()) {
                f = badArgument(problem);
                return;
            }
            options->method = GRAYBMP_WEIGHTS;
            for (int c = 0; c < 3; ++c) options->weights[c] = weighted.weights[c];
            return;
        }
        f = badArgument(std::string("unknown gray method '") + name + "' (" + methodList() + ")");
    });
}

graybmp_status graybmp_options_check(const graybmp_options* options, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        settingsOf(options, s, f);
    });
}

const char* graybmp_dither_name(size_t index) {
    constexpr const char* kDitherNames[] = {"none", "floyd-steinberg", "atkinson", "ordered"};
    static_assert(sizeof kDitherNames / sizeof kDitherNames[0] == GRAYBMP_DITHER_ORDERED + 1 &&
                      static_cast<int>(Dither::Ordered) == GRAYBMP_DITHER_ORDERED &&
                      static_cast<int>(Dither::Atkinson) == GRAYBMP_DITHER_ATKINSON &&
                      static_cast<int>(Dither::FloydSteinberg) == GRAYBMP_DITHER_FLOYD_STEINBERG,
                  "a name a dithering, in graybmp_dither's order");
    return index < sizeof kDitherNames / sizeof kDitherNames[0] ? kDitherNames[index] : nullptr;
}

const char* graybmp_method_name(size_t index) {
    return index < kMethodCount ? kMethodRows[index].name : nullptr;
}

graybmp_status graybmp_read_header(const void* data, size_t length, uint64_t input_length,
                                   const graybmp_options* options, graybmp_header* header,
                                   graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        if ((data == nullptr && length > 0) || header == nullptr) {
            f = badArgument("no data or no header record");
            return;
        }
        if (!settingsOf(options, s, f)) return;
        std::uint8_t lead[kMaxLeadSize] = {};
        const std::size_t leadSize = std::min(length, kMaxLeadSize);
        if (leadSize > 0) std::memcpy(lead, data, leadSize);
        if (!longEnough(lead, leadSize, f)) return;
        fillHeader(lead, leadSize, *header);
        const std::uint64_t size =
            input_length == GRAYBMP_LENGTH_UNKNOWN || input_length >= static_cast<std::uint64_t>(kUnknownSize)
                ? static_cast<std::uint64_t>(kUnknownSize)
                : input_length;
        ImageLayout layout{};
        Failure refusal;
        if (checked(lead, static_cast<std::size_t>(std::min<std::uint64_t>(leadSize, size)), size, s, layout, refusal))
            header->kind = kindOf(layout);
        deliver(refusal, &header->refusal);
    });
}

graybmp_status graybmp_stream_output_length(const void* lead, size_t lead_length,
                                            uint64_t input_length, const graybmp_options* options,
                                            uint64_t* output_length, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        MemoryInput m;
        if ((lead == nullptr && lead_length > 0) || output_length == nullptr) {
            f = badArgument("no input or no place for the length");
            return;
        }
        if (input_length >= static_cast<std::uint64_t>(kUnknownSize)) {
            f = badArgument("the output's length needs the input's whole length");
            return;
        }
        if (!settingsOf(options, s, f)) return;
        const auto leadLength = static_cast<std::size_t>(std::min<std::uint64_t>(lead_length, input_length));
        if (!checkedMemory(lead, leadLength, input_length, s, m, f)) return;
        *output_length = static_cast<std::uint64_t>(m.outputSize);
    });
}

graybmp_status graybmp_output_length(const void* input, size_t length,
                                     const graybmp_options* options, uint64_t* output_length,
                                     graybmp_error* error) {
    return graybmp_stream_output_length(input, length, length, options, output_length, error);
}

graybmp_status graybmp_convert_memory(const void* input, size_t length, void* output,
                                      size_t capacity, const graybmp_options* options,
                                      size_t* written, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        MemoryInput m;
        if ((input == nullptr && length > 0) || (output == nullptr && capacity > 0)) {
            f = badArgument("no input or no output buffer");
            return;
        }
        if (!settingsOf(options, s, f) || !checkedMemory(input, length, s, m, f)) return;
        if (!convertedMemory(m, output, capacity, s, f)) return;
        if (written != nullptr) *written = static_cast<std::size_t>(m.outputSize);
    });
}

graybmp_status graybmp_convert_in_place(void* buffer, size_t length,
                                        const graybmp_options* options, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        MemoryInput m;
        if (buffer == nullptr && length > 0) {
            f = badArgument("no buffer");
            return;
        }
        if (!settingsOf(options, s, f) || !checkedMemory(buffer, length, s, m, f)) return;
        if (m.outputSize != static_cast<std::int64_t>(length)) {
            f.status = GRAYBMP_LENGTH_CHANGES;
            f.needed = static_cast<std::uint64_t>(m.outputSize);
            f.message = "the gray copy is " + std::to_string(m.outputSize) +
                        " bytes long, the buffer " + std::to_string(length) +
                        "; it cannot be grayed in place";
            return;
        }
        if (grayableWhereItLies(m.layout, s)) {
            convertedMemory(m, buffer, length, s, f);
            return;
        }
        // The copy first, so that a refusal found on the way leaves the buffer as it was.
        std::vector<std::uint8_t> copy(length);
        if (convertedMemory(m, copy.data(), copy.size(), s, f))
            std::memcpy(buffer, copy.data(), length);
    });
}

void graybmp_job_init(graybmp_job* job) {
    if (job == nullptr) return;
    *job = graybmp_job{};
    job->size = sizeof(graybmp_job);
}

graybmp_status graybmp_convert(graybmp_job* given, const graybmp_options* options,
                               graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        if (given == nullptr) {
            f = badArgument("no job");
            return;
        }
        graybmp_job job = known(given, graybmp_job{});
        const bool input = (job.input != nullptr) != (job.reader != nullptr && job.reader->read != nullptr);
        const bool output = job.in_place != 0
                                ? job.input != nullptr && job.output == nullptr && job.writer == nullptr
                                : (job.output != nullptr) !=
                                      (job.writer != nullptr && job.writer->write != nullptr);
        if (!input || !output) {
            f = badArgument(job.in_place != 0
                                ? "in place takes an input file's name and no output"
                                : "a job takes one input (a name or a reader with read) and one "
                                  "output (a name or a writer with write)");
            return;
        }
        if (!settingsOf(options, s, f)) return;
        runJob(job, s, f);
        if (f.status == GRAYBMP_OK && given->size >= offsetof(graybmp_job, written) + sizeof(uint64_t))
            given->written = job.written;
    });
}

graybmp_status graybmp_convert_stream(const graybmp_reader* reader, const void* lead,
                                      size_t lead_length, const graybmp_writer* writer,
                                      const graybmp_options* options, const graybmp_hooks* hooks,
                                      graybmp_error* error) {
    graybmp_job job;
    graybmp_job_init(&job);
    job.reader = reader;
    job.lead = lead;
    job.lead_length = lead != nullptr ? lead_length : 0;
    job.writer = writer;
    job.hooks = hooks;
    if (reader == nullptr || writer == nullptr) {
        return deliver(badArgument("no reader or no writer"), error);
    }
    return graybmp_convert(&job, options, error);
}

graybmp_status graybmp_convert_file(const char* input, const char* output,
                                    const graybmp_options* options, const graybmp_hooks* hooks,
                                    graybmp_error* error) {
    if (input == nullptr) return deliver(badArgument("no input file's name"), error);
    graybmp_job job;
    graybmp_job_init(&job);
    job.input = input;
    job.output = output;
    job.in_place = output == nullptr;
    job.hooks = hooks;
    return graybmp_convert(&job, options, error);
}

size_t graybmp_gray_name(const char* input, char* name, size_t capacity) {
    if (input == nullptr) input = "";
    const std::size_t size = std::strlen(input);
    std::size_t base = 0, stem = size;  // where the last name starts, and its extension
    for (std::size_t i = 0; i < size; ++i) {
#ifdef _WIN32
        if (input[i] == '/' || input[i] == '\\') base = i + 1, stem = size;
#else
        if (input[i] == '/') base = i + 1, stem = size;
#endif
        if (input[i] == '.' && i > base) stem = i;
    }
    // A dot before the last folder separator starts no extension either.
    if (stem < base) stem = size;
    // Stem, "NEW", extension, cut to the capacity.
    const char* parts[3] = {input, "NEW", input + stem};
    const std::size_t lengths[3] = {stem, 3, size - stem};
    std::size_t at = 0;
    for (int p = 0; p < 3 && name != nullptr && capacity > 0; ++p) {
        const std::size_t n = std::min(lengths[p], capacity - 1 - at);
        std::memcpy(name + at, parts[p], n);
        at += n;
    }
    if (name != nullptr && capacity > 0) name[at] = '\0';
    return size + 3;
}

const char* graybmp_version(void) { return GRAYBMP_VERSION_STRING; }

const char* graybmp_cpu(void) { return cpuName(processCpu()); }

int graybmp_cpu_known(const char* name) {
    Cpu cpu;
    return name != nullptr && cpuNamed(name, cpu) ? 1 : 0;
}

const char* graybmp_cpu_name(size_t index) {
    return index < kCpus ? cpuName(static_cast<Cpu>(index)) : nullptr;
}

}  // extern "C"
