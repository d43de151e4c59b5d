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

graybmp_kind pictureKind(PictureFormat format) {
    switch (format) {
    case PictureFormat::Png:
        return GRAYBMP_KIND_PNG;
    case PictureFormat::Jpeg:
        return GRAYBMP_KIND_JPEG;
    case PictureFormat::WebP:
        return GRAYBMP_KIND_WEBP;
    case PictureFormat::Gif:
        return GRAYBMP_KIND_GIF;
    case PictureFormat::Netpbm:
        return GRAYBMP_KIND_NETPBM;
    default:
        return GRAYBMP_KIND_NONE;
    }
}

void infoHeader(const PictureInfo& info, std::int64_t fileSize, graybmp_header& header) {
    header = graybmp_header{};
    header.size = fileSize;
    header.width = info.width;
    header.height = info.height;
    header.bit_count = info.bits;
    header.kind = pictureKind(info.format);
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

}  // namespace

void pictureHeader(const Conversion& c, std::int64_t fileSize, graybmp_header& header) {
    PictureInfo info;
    if (c.picture != nullptr) info = c.picture->info;
    infoHeader(info, fileSize, header);
}

}  // namespace graybmp

using namespace graybmp;

extern "C" {

graybmp_kind graybmp_picture_kind(const void* lead, size_t length) {
    if (lead == nullptr) return GRAYBMP_KIND_NONE;
    return pictureKind(pictureFormatOf(static_cast<const std::uint8_t*>(lead), length));
}

graybmp_status graybmp_read_header(const void* data, size_t length, uint64_t input_length,
                                   const graybmp_options* options, graybmp_header* header,
                                   graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if ((data == nullptr && length > 0) || header == nullptr) {
            f = badArgument("no data or no header record");
            return;
        }
        Conversion c;
        if (!settingsOf(options, c.settings, f)) return;
        const std::size_t leadSize = std::min(length, kMaxLeadSize);
        if (leadSize > 0) std::memcpy(c.lead, data, leadSize);
        c.leadSize = leadSize;
        if (leadIsPicture(c)) {
            const auto given = static_cast<std::size_t>(std::min<std::uint64_t>(length, input_length));
            PictureInfo info;
            Failure refusal;
            const bool ok = pictureLeadChecked(c, static_cast<const std::uint8_t*>(data), given, info, refusal);
            if (!ok && refusal.status == GRAYBMP_TOO_SHORT && given < input_length) {
                f = refusal;  // more of the input is needed for the report at all
                return;
            }
            infoHeader(info, input_length == GRAYBMP_LENGTH_UNKNOWN ? -1 : static_cast<std::int64_t>(input_length),
                       *header);
            deliver(refusal, &header->refusal);
            return;
        }
        if (!leadLongEnough(c.lead, leadSize, f)) return;
        fillHeader(c.lead, leadSize, *header);
        const std::uint64_t size =
            input_length == GRAYBMP_LENGTH_UNKNOWN || input_length >= static_cast<std::uint64_t>(kUnknownSize)
                ? static_cast<std::uint64_t>(kUnknownSize)
                : input_length;
        c.leadSize = static_cast<std::size_t>(std::min<std::uint64_t>(leadSize, size));
        Failure refusal;
        if (conversionChecked(c, size, refusal))
            header->kind = c.embedded != PictureFormat::None ? pictureKind(c.embedded) : kindOf(c.layout);
        deliver(refusal, &header->refusal);
    });
}

graybmp_status graybmp_stream_output_length(const void* lead, size_t lead_length,
                                            uint64_t input_length, const graybmp_options* options,
                                            uint64_t* output_length, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        MemoryInput m;
        if ((lead == nullptr && lead_length > 0) || output_length == nullptr) {
            f = badArgument("no input or no place for the length");
            return;
        }
        if (input_length >= static_cast<std::uint64_t>(kUnknownSize)) {
            f = badArgument("the output's length needs the input's whole length");
            return;
        }
        if (!settingsOf(options, m.c.settings, f)) return;
        const auto leadLength = static_cast<std::size_t>(std::min<std::uint64_t>(lead_length, input_length));
        m.c.leadSize = std::min(leadLength, kMaxLeadSize);
        if (m.c.leadSize > 0) std::memcpy(m.c.lead, lead, m.c.leadSize);
        if (leadIsPicture(m.c)) {
            PictureInfo info;
            if (pictureLeadChecked(m.c, static_cast<const std::uint8_t*>(lead), leadLength, info, f))
                *output_length = static_cast<std::uint64_t>(m.c.outputSize);
            return;
        }
        if (!checkedMemory(lead, leadLength, input_length, m, f)) return;
        *output_length = static_cast<std::uint64_t>(m.c.outputSize);
    });
}

graybmp_status graybmp_output_length(const void* input, size_t length,
                                     const graybmp_options* options, uint64_t* output_length,
                                     graybmp_error* error) {
    return graybmp_stream_output_length(input, length, length, options, output_length, error);
}

}  // extern "C"
