// The header, and the output's length, of an input's first bytes.
#include "api/header.h"

#include <algorithm>
#include <cstring>

#include "api/memory.h"
#include "api/options.h"
#include "bitmap/bitmap.h"

namespace graybmp {

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

namespace {

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

}  // namespace
}  // namespace graybmp

using namespace graybmp;

extern "C" {

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
        Conversion c;
        c.settings = s;
        const std::size_t leadSize = std::min(length, kMaxLeadSize);
        if (leadSize > 0) std::memcpy(c.lead, data, leadSize);
        if (!leadLongEnough(c.lead, leadSize, f)) return;
        fillHeader(c.lead, leadSize, *header);
        const std::uint64_t size =
            input_length == GRAYBMP_LENGTH_UNKNOWN || input_length >= static_cast<std::uint64_t>(kUnknownSize)
                ? static_cast<std::uint64_t>(kUnknownSize)
                : input_length;
        c.leadSize = static_cast<std::size_t>(std::min<std::uint64_t>(leadSize, size));
        Failure refusal;
        if (conversionChecked(c, size, refusal)) header->kind = kindOf(c.layout);
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
        *output_length = static_cast<std::uint64_t>(m.c.outputSize);
    });
}

graybmp_status graybmp_output_length(const void* input, size_t length,
                                     const graybmp_options* options, uint64_t* output_length,
                                     graybmp_error* error) {
    return graybmp_stream_output_length(input, length, length, options, output_length, error);
}

}  // extern "C"
