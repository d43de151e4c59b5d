// PNG by libspng: every colour type and bit depth, tRNS applied, gamma and colour chunks
// not. Rows at 8 bits, or at 16 taken to 8 as (v x 255 + 32767) div 65535; 1-, 2- and
// 4-bit gray widened by repeating their bits (libspng's scaling to 8 bits is that). A
// non-interlaced picture is decoded a row at a time; an interlaced one is held whole.
#include "pictures/exif.h"
#include "pictures/picture.h"

#if GRAYBMP_HAS_SPNG

#include <spng.h>

#include <cstring>
#include <string>
#include <vector>

namespace graybmp {
namespace {

// Chunks libspng keeps (text, profiles, unknown ones) may not take more than this.
constexpr std::size_t kChunkLimit = std::size_t{64} << 20;

void release(void* state) { spng_ctx_free(static_cast<spng_ctx*>(state)); }

int readPng(spng_ctx*, void* user, void* dest, std::size_t length) {
    Picture& p = *static_cast<Picture*>(user);
    if (pictureRead(p, dest, length) == length) return 0;
    return p.in->error != 0 ? SPNG_IO_ERROR : SPNG_IO_EOF;
}

std::string reasonOf(int r) {
    if (r == SPNG_IO_EOF) return "it ends early";
    return spng_strerror(r);
}

bool open(Picture& p, Failure& f) {
    spng_ctx* ctx = spng_ctx_new(0);
    if (ctx == nullptr) {
        f = noMemory();
        return false;
    }
    p.state = ctx, p.release = release;
    spng_set_image_limits(ctx, kMaxPictureSide, kMaxPictureSide);
    spng_set_chunk_limits(ctx, kChunkLimit, kChunkLimit);
    spng_set_png_stream(ctx, readPng, &p);
    spng_ihdr ihdr{};
    int r = spng_get_ihdr(ctx, &ihdr);
    if (r == SPNG_IO_ERROR) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", p.in->error);
        return false;
    }
    if (r == SPNG_EUSER_WIDTH || r == SPNG_EUSER_HEIGHT) {
        // Past the limits: the size from the IHDR that libspng refused, for the refusal.
        std::uint8_t head[24];
        if (pictureReadAt(p, 0, head, sizeof head) == sizeof head) {
            p.info.width = std::uint32_t{head[16]} << 24 | std::uint32_t{head[17]} << 16 | std::uint32_t{head[18]} << 8 | head[19];
            p.info.height = std::uint32_t{head[20]} << 24 | std::uint32_t{head[21]} << 16 | std::uint32_t{head[22]} << 8 | head[23];
            return true;  // the size check refuses it
        }
    }
    if (r != 0) {
        f = pictureCorrupt(reasonOf(r));
        return false;
    }
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    p.info.width = ihdr.width, p.info.height = ihdr.height;
    p.info.bits = ihdr.bit_depth * channels[ihdr.color_type < 7 ? ihdr.color_type : 1];
    spng_phys phys{};
    r = spng_get_phys(ctx, &phys);  // reads the chunks before the first IDAT
    if (r == 0 && phys.unit_specifier == 1) p.info.xPpm = phys.ppu_x, p.info.yPpm = phys.ppu_y;
    spng_exif exif{};
    if (r == 0 || r == SPNG_ECHUNKAVAIL) {
        if (spng_get_exif(ctx, &exif) == 0) p.info.orientation = exifOrientation(reinterpret_cast<const std::uint8_t*>(exif.data), exif.length);
    }
    else if (r != 0 && r != SPNG_ECHUNKAVAIL) {
        f = r == SPNG_IO_ERROR ? systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", p.in->error)
                               : pictureCorrupt(reasonOf(r));
        return false;
    }
    return true;
}

// One decoded row (RGBA at 8 or 16 bits) to 8-bit RGBA.
void eightBits(const std::uint8_t* in, bool wide, std::size_t width, std::uint8_t* out) {
    if (!wide) {
        std::memcpy(out, in, 4 * width);
        return;
    }
    for (std::size_t i = 0; i < 4 * width; ++i) {
        std::uint16_t v;
        std::memcpy(&v, in + 2 * i, 2);  // libspng gives the host's byte order
        out[i] = eightOf16(v);
    }
}

CopyFault failed(Picture& p, int r) {
    if (r == SPNG_IO_ERROR) return CopyFault::ReadFailed;
    p.fault = reasonOf(r);
    return CopyFault::Corrupt;
}

CopyFault rows(Picture& p, RowTaker next) {
    auto* ctx = static_cast<spng_ctx*>(p.state);
    spng_ihdr ihdr{};
    spng_get_ihdr(ctx, &ihdr);
    const bool wide = ihdr.bit_depth == 16;
    const int format = wide ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
    const std::size_t width = p.info.width, rowBytes = width * (wide ? 8 : 4);
    std::vector<std::uint8_t> rgba(4 * width);
    if (ihdr.interlace_method != 0) {  // the passes interleave: the picture is held whole
        std::size_t size = 0;
        int r = spng_decoded_image_size(ctx, format, &size);
        if (r != 0) return failed(p, r);
        std::vector<std::uint8_t> image(size);
        r = spng_decode_image(ctx, image.data(), size, format, SPNG_DECODE_TRNS);
        if (r != 0) return failed(p, r);
        for (std::size_t y = 0; y < p.info.height; ++y) {
            eightBits(image.data() + y * rowBytes, wide, width, rgba.data());
            if (!next(rgba.data())) return CopyFault::WriteFailed;
        }
        return CopyFault::None;
    }
    int r = spng_decode_image(ctx, nullptr, 0, format, SPNG_DECODE_TRNS | SPNG_DECODE_PROGRESSIVE);
    if (r != 0) return failed(p, r);
    std::vector<std::uint8_t> row(rowBytes);
    for (std::uint32_t y = 0; y < p.info.height; ++y) {
        r = spng_decode_row(ctx, row.data(), row.size());
        if (r != 0 && r != SPNG_EOI) return failed(p, r);
        eightBits(row.data(), wide, width, rgba.data());
        if (!next(rgba.data())) return CopyFault::WriteFailed;
        if (r == SPNG_EOI && y + 1 < p.info.height) return failed(p, SPNG_IO_EOF);
    }
    return CopyFault::None;
}

}  // namespace

const PictureDecoder kPngDecoder = {PictureFormat::Png, "PNG", open, rows};

}  // namespace graybmp

#else

namespace graybmp {
const PictureDecoder kPngDecoder = {PictureFormat::Png, "PNG", nullptr, nullptr};
}  // namespace graybmp

#endif
