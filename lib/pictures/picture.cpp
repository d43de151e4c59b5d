// Which format a picture is, its decoder opened and its size checked, and its header's
// fields read from its first bytes alone.
#include "pictures/picture.h"

#include "pictures/exif.h"

#include <cstring>

namespace graybmp {
namespace {

const PictureDecoder* decoderOf(PictureFormat format) {
    for (const PictureDecoder* d : {&kPngDecoder, &kJpegDecoder, &kWebPDecoder, &kGifDecoder, &kNetpbmDecoder})
        if (d->format == format) return d;
    return nullptr;
}

std::uint32_t be16(const std::uint8_t* p) { return std::uint32_t{p[0]} << 8 | p[1]; }
std::uint32_t be32(const std::uint8_t* p) { return be16(p) << 16 | be16(p + 2); }
std::uint32_t le16(const std::uint8_t* p) { return std::uint32_t{p[1]} << 8 | p[0]; }
std::uint32_t le24(const std::uint8_t* p) { return std::uint32_t{p[2]} << 16 | le16(p); }
std::uint32_t le32(const std::uint8_t* p) { return std::uint32_t{p[3]} << 24 | le24(p); }

bool shortOf(std::size_t n, std::uint64_t want, std::uint64_t& needed) {
    if (n >= want) return false;
    needed = want;
    return true;
}

// PNG's CRC-32 (ISO 3309, reflected, polynomial 0xEDB88320) of n bytes.
std::uint32_t crc32Of(const std::uint8_t* p, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// PNG: the IHDR chunk right behind the signature.
bool pngProbed(const std::uint8_t* d, std::size_t n, PictureInfo& info, std::uint64_t& needed, Failure& f) {
    if (shortOf(n, 26, needed)) return false;
    if (std::memcmp(d + 12, "IHDR", 4) != 0) {
        f = pictureCorrupt("its first chunk is not IHDR");
        return true;
    }
    info.width = be32(d + 16), info.height = be32(d + 20);
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    info.bits = d[25] < 7 ? d[24] * channels[d[25]] : 0;
    // An eXIf chunk before the first IDAT, as far as the bytes go.
    for (std::uint64_t at = 33; at + 8 <= n;) {
        const std::uint64_t length = be32(d + at);
        if (std::memcmp(d + at + 4, "IDAT", 4) == 0 || length > n) break;
        if (std::memcmp(d + at + 4, "eXIf", 4) == 0 && at + 12 + length <= n) {
            // libspng passes over an ancillary chunk whose CRC is wrong: so does this.
            if (crc32Of(d + at + 4, static_cast<std::size_t>(length) + 4) == be32(d + at + 8 + length))
                info.orientation = exifOrientation(d + at + 8, static_cast<std::size_t>(length));
            break;
        }
        at += 12 + length;
    }
    return true;
}

// JPEG: the segments up to the first start of frame; with `orient`, on up to the first
// scan, where libjpeg stops reading its header, for the first Exif APP1 segment.
bool jpegProbed(const std::uint8_t* d, std::size_t n, PictureInfo& info, std::uint64_t& needed, Failure& f,
                bool orient) {
    bool framed = false, exif = false;
    for (std::uint64_t at = 2;;) {
        if (shortOf(n, at + 2, needed)) return false;
        if (d[at] != 0xFF) {
            if (framed) return true;  // the decoder says what is wrong
            f = pictureCorrupt("a segment does not start with a marker");
            return true;
        }
        const std::uint8_t marker = d[at + 1];
        if (marker == 0xFF) {  // fill bytes
            ++at;
            continue;
        }
        if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) {
            if (!framed) f = pictureCorrupt("no frame header before its scans");
            return true;
        }
        if (shortOf(n, at + 4, needed)) return false;
        const std::uint32_t length = be16(d + at + 2);
        if (marker == 0xE1 && !exif && length >= 8) {
            if (shortOf(n, at + 2 + length, needed)) return false;
            if (std::memcmp(d + at + 4, "Exif\0\0", 6) == 0) {
                info.orientation = exifOrientation(d + at + 4, length - 2);
                exif = true;
            }
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame && !framed) {
            if (shortOf(n, at + 10, needed)) return false;
            info.height = be16(d + at + 5), info.width = be16(d + at + 7);
            info.bits = 8 * d[at + 9];
            if (d[at + 9] == 4) f = pictureUnsupported("a CMYK or YCCK JPEG");
            if (!orient || f.status != GRAYBMP_OK) return true;
            framed = true;
        }
        at += 2 + length;
    }
}

// WebP: the RIFF header and its first chunk.
bool webpProbed(const std::uint8_t* d, std::size_t n, PictureInfo& info, std::uint64_t& needed, Failure& f,
                bool orient) {
    if (shortOf(n, 16, needed)) return false;
    if (std::memcmp(d + 12, "VP8 ", 4) == 0) {
        if (shortOf(n, 30, needed)) return false;
        info.width = le16(d + 26) & 0x3FFF, info.height = le16(d + 28) & 0x3FFF, info.bits = 24;
    } else if (std::memcmp(d + 12, "VP8L", 4) == 0) {
        if (shortOf(n, 25, needed)) return false;
        const std::uint32_t b = le32(d + 21);
        info.width = (b & 0x3FFF) + 1, info.height = ((b >> 14) & 0x3FFF) + 1;
        info.bits = (b >> 28 & 1) != 0 ? 32 : 24;
    } else if (std::memcmp(d + 12, "VP8X", 4) == 0) {
        if (shortOf(n, 30, needed)) return false;
        info.width = le24(d + 24) + 1, info.height = le24(d + 27) + 1;
        info.bits = (d[20] & 0x10) != 0 ? 32 : 24;
        // Exif data, which most often follows the picture: the whole file, for its
        // orientation, whose chunk the walk finds.
        if ((d[20] & 0x08) != 0 && orient) {
            const std::uint64_t total = std::uint64_t{le32(d + 4)} + 8 + (le32(d + 4) & 1);  // as the decoder reads it
            if (shortOf(n, total, needed)) return false;
            info.orientation = webpOrientation(d, static_cast<std::size_t>(total));
        }
    } else {
        f = pictureCorrupt("its first chunk is not VP8, VP8L or VP8X");
    }
    return true;
}

}  // namespace

PictureFormat pictureFormatOf(const std::uint8_t* d, std::size_t n) {
    static const std::uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (n >= 8 && std::memcmp(d, png, 8) == 0) return PictureFormat::Png;
    if (n >= 3 && d[0] == 0xFF && d[1] == 0xD8 && d[2] == 0xFF) return PictureFormat::Jpeg;
    if (n >= 12 && std::memcmp(d, "RIFF", 4) == 0 && std::memcmp(d + 8, "WEBP", 4) == 0) return PictureFormat::WebP;
    if (n >= 6 && (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)) return PictureFormat::Gif;
    const auto space = [](std::uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v' || c == '#'; };
    if (n >= 3 && d[0] == 'P' && d[1] >= '1' && d[1] <= '7' && space(d[2])) return PictureFormat::Netpbm;
    return PictureFormat::None;
}

const char* pictureFormatName(PictureFormat format) {
    const PictureDecoder* d = decoderOf(format);
    return d != nullptr ? d->name : "BMP";
}

// A format whose decoder this build lacks.
static Failure notDecoded(PictureFormat format) {
    return pictureUnsupported(std::string("a ") + pictureFormatName(format) +
                              " picture, which this build of graybmp does not decode");
}

Failure pictureCorrupt(const std::string& reason) { return inputFailure(GRAYBMP_PICTURE_CORRUPT, reason); }
Failure pictureUnsupported(const std::string& reason) {
    return inputFailure(GRAYBMP_PICTURE_UNSUPPORTED, reason);
}

bool pictureSizeAllowed(const PictureInfo& info, std::uint64_t maxPixels, Failure& f) {
    const std::uint64_t pixels = std::uint64_t{info.width} * info.height;
    if (info.width == 0 || info.height == 0) {
        f = pictureCorrupt("it has no pixels (" + std::to_string(info.width) + " x " +
                           std::to_string(info.height) + ")");
        return false;
    }
    if (info.width > kMaxPictureSide || info.height > kMaxPictureSide || pixels > maxPixels) {
        f = inputFailure(GRAYBMP_PICTURE_TOO_LARGE,
                         "a picture of " + std::to_string(info.width) + " x " + std::to_string(info.height) +
                             " pixels is too large (at most " + std::to_string(kMaxPictureSide) +
                             " a side and " + std::to_string(maxPixels) + " pixels)");
        return false;
    }
    return true;
}

bool pictureOpened(Picture& p, PictureFormat format, Stream& in, std::uint64_t maxPixels, Failure& f,
                   std::int64_t base) {
    p.decoder = decoderOf(format);
    p.in = &in;
    p.base = base;
    p.position = 0;
    p.info.format = format;
    if (p.decoder == nullptr || p.decoder->open == nullptr) {
        f = notDecoded(format);
        return false;
    }
    if (!p.decoder->open(p, f)) return false;
    p.rowsWidth = p.info.width, p.rowsHeight = p.info.height;
    return pictureSizeAllowed(p.info, maxPixels, f);
}

bool pictureProbed(const std::uint8_t* d, std::size_t n, PictureInfo& info, std::uint64_t& needed,
                   std::uint64_t maxPixels, Failure& f, bool orient) {
    info = PictureInfo{};
    info.format = pictureFormatOf(d, n);
    bool found = false;
    switch (info.format) {
    case PictureFormat::Png:
        found = pngProbed(d, n, info, needed, f);
        break;
    case PictureFormat::Jpeg:
        found = jpegProbed(d, n, info, needed, f, orient);
        break;
    case PictureFormat::WebP:
        found = webpProbed(d, n, info, needed, f, orient);
        break;
    case PictureFormat::Gif:
        if (shortOf(n, 10, needed)) return false;
        info.width = le16(d + 6), info.height = le16(d + 8), info.bits = 8;
        found = true;
        break;
    case PictureFormat::Netpbm: {  // its header read by its own decoder, from memory
        Stream s;
        streamAttachMemory(s, d, n, false);
        Picture p;
        p.in = &s;
        p.decoder = &kNetpbmDecoder;
        p.info.format = PictureFormat::Netpbm;
        found = kNetpbmDecoder.open(p, f);
        // A header that reaches the lead's end may go on (a number cut short).
        if (!netpbmHeaderEnded(p) && static_cast<std::uint64_t>(p.position) >= n) {
            needed = n + 1;
            f = Failure{};
            return false;
        }
        info = p.info;
        found = true;
        break;
    }
    default:
        return true;
    }
    if (found && f.status == GRAYBMP_OK && decoderOf(info.format)->open == nullptr)
        f = notDecoded(info.format);
    if (found && f.status == GRAYBMP_OK) pictureSizeAllowed(info, maxPixels, f);
    return found;
}

bool pictureScaled(Picture& p, int eighths) {
    if (p.info.format != PictureFormat::Jpeg || p.decoder == nullptr || p.decoder->open == nullptr) return false;
    const auto side = [&](std::uint32_t v) {
        return static_cast<std::uint32_t>((std::uint64_t{v} * static_cast<std::uint64_t>(eighths) + 7) / 8);
    };
    p.eighths = eighths;
    p.rowsWidth = side(p.info.width), p.rowsHeight = side(p.info.height);
    return true;
}

std::size_t pictureRead(Picture& p, void* out, std::size_t count) {
    const std::size_t got = streamReadAt(*p.in, p.base + p.position, out, count);
    p.position += static_cast<std::int64_t>(got);
    return got;
}

std::size_t pictureReadAt(Picture& p, std::int64_t offset, void* out, std::size_t count) {
    return streamReadAt(*p.in, p.base + offset, out, count);
}

}  // namespace graybmp
