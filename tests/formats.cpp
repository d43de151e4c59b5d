#include "formats.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graybmp.h"

// Which encoders there are: those of the decoders the library was built with.
#ifndef GRAYBMP_HAS_SPNG
#define GRAYBMP_HAS_SPNG 0
#endif
#ifndef GRAYBMP_HAS_JPEG
#define GRAYBMP_HAS_JPEG 0
#endif
#ifndef GRAYBMP_HAS_WEBP
#define GRAYBMP_HAS_WEBP 0
#endif
#ifndef GRAYBMP_HAS_GIF
#define GRAYBMP_HAS_GIF 0
#endif

#if GRAYBMP_HAS_SPNG
#include <spng.h>
#endif
#if GRAYBMP_HAS_JPEG
#include <jpeglib.h>
#endif
#if GRAYBMP_HAS_WEBP
#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>
#endif
#if GRAYBMP_HAS_GIF
#include <gif_lib.h>
#endif

namespace graybmp::test {
namespace {

void setU32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(v >> (8 * k));
}
void setU16(Bytes& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v), b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

// A fixed pseudo-random sequence.
struct Noise {
    std::uint32_t state;
    std::uint32_t next(std::uint32_t bound) {
        state = state * 1664525u + 1013904223u;
        return (state >> 8) % bound;
    }
};

Picture blank(int w, int h) {
    Picture p;
    p.width = w, p.height = h;
    p.pixels.assign(static_cast<std::size_t>(w * h), Rgba{0, 0, 0, 255});
    return p;
}

Rgba& at(Picture& p, std::int64_t x, std::int64_t y) { return p.pixels[static_cast<std::size_t>(y * p.width + x)]; }

// A sample of `bits` at 8 bits, as the docs define it.
std::uint8_t eight(std::uint32_t v, int bits) {
    if (bits == 16) return static_cast<std::uint8_t>((v * 255 + 32767) / 65535);
    if (bits == 8) return static_cast<std::uint8_t>(v);
    std::uint32_t out = 0;  // the bits repeated: a 2-bit 1 is 01010101
    for (int filled = 0; filled < 8; filled += bits) out = out << bits | v;
    return static_cast<std::uint8_t>(out);
}

std::uint8_t ofMax(std::uint32_t v, std::uint32_t maxval) {
    return static_cast<std::uint8_t>((std::uint64_t{v} * 255 + maxval / 2) / maxval);
}

#if GRAYBMP_HAS_SPNG
// A PNG of w x h of colour type `type` and `depth`, its samples from the noise; with a
// palette (type 3) of `entries`, tRNS when `trns` (type 0, 2: a key that occurs; type 3:
// alphas for the first entries), pHYs in metres when `ppm`.
Fixture png(const std::string& name, int w, int h, int type, int depth, bool interlaced, bool trns,
            std::uint32_t ppm, std::uint32_t seed) {
    Noise noise{seed};
    const int channels[] = {1, 0, 3, 1, 2, 0, 4};
    const int n = channels[type];
    const std::uint32_t top = (1u << depth) - 1;
    const std::size_t stride = (static_cast<std::size_t>(w) * static_cast<std::size_t>(n * depth) + 7) / 8;
    Bytes raw(stride * static_cast<std::size_t>(h), 0);
    Fixture f;
    f.name = name;
    f.pixels = blank(w, h);
    f.bits = depth * n;
    f.kind = GRAYBMP_KIND_PNG;
    f.xPpm = f.yPpm = ppm;
    spng_plte plte{};
    const std::uint32_t entries = type == 3 ? std::min<std::uint32_t>(top + 1, 200) : 0;
    plte.n_entries = entries;
    for (std::uint32_t k = 0; k < entries; ++k)
        plte.entries[k] = {static_cast<std::uint8_t>(noise.next(256)), static_cast<std::uint8_t>(noise.next(256)),
                           static_cast<std::uint8_t>(noise.next(256)), 255};
    spng_trns t{};
    if (type == 3) t.n_type3_entries = std::min<std::uint32_t>(entries, 5);
    for (std::uint32_t k = 0; k < t.n_type3_entries; ++k) t.type3_alpha[k] = static_cast<std::uint8_t>(k * 60);
    std::vector<std::uint32_t> first;  // the first pixel's samples: the tRNS key
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint32_t s[4];
            for (int c = 0; c < n; ++c) s[c] = type == 3 ? noise.next(entries) : noise.next(top + 1);
            if (trns && (type == 0 || type == 2) && x == 0 && y == 0) first.assign(s, s + n);
            if (trns && !first.empty() && (x + y) % 3 == 0)
                for (int c = 0; c < n; ++c) s[c] = first[static_cast<std::size_t>(c)];  // more keyed pixels
            for (int c = 0; c < n; ++c) {
                const std::size_t bit = static_cast<std::size_t>((x * n + c) * depth);
                std::uint8_t* row = raw.data() + static_cast<std::size_t>(y) * stride;
                if (depth == 16) {
                    const auto v = static_cast<std::uint16_t>(s[c]);
                    std::memcpy(row + bit / 8, &v, 2);  // libspng takes the host's order
                } else if (depth == 8) {
                    row[bit / 8] = static_cast<std::uint8_t>(s[c]);
                } else {
                    row[bit / 8] = static_cast<std::uint8_t>(row[bit / 8] | s[c] << (8 - static_cast<std::size_t>(depth) - bit % 8));
                }
            }
            Rgba& p = at(f.pixels, x, y);
            if (type == 3) {
                const spng_plte_entry& e = plte.entries[s[0]];
                p = {e.red, e.green, e.blue, s[0] < t.n_type3_entries ? t.type3_alpha[s[0]] : std::uint8_t{255}};
                continue;
            }
            const bool colour = type == 2 || type == 6;
            p.r = eight(s[0], depth), p.g = eight(s[colour ? 1 : 0], depth), p.b = eight(s[colour ? 2 : 0], depth);
            p.a = type == 4 ? eight(s[1], depth) : type == 6 ? eight(s[3], depth) : 255;
            if (!first.empty() && std::equal(first.begin(), first.end(), s)) p.a = 0;
        }
    if (!first.empty()) {
        t.gray = static_cast<std::uint16_t>(first[0]);
        if (type == 2)
            t.red = static_cast<std::uint16_t>(first[0]), t.green = static_cast<std::uint16_t>(first[1]),
            t.blue = static_cast<std::uint16_t>(first[2]);
    }
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), static_cast<std::uint8_t>(depth),
                   static_cast<std::uint8_t>(type), 0, 0, static_cast<std::uint8_t>(interlaced ? 1 : 0)};
    spng_set_ihdr(ctx, &ihdr);
    if (type == 3) spng_set_plte(ctx, &plte);
    if (trns) spng_set_trns(ctx, &t);
    if (ppm != 0) {
        spng_phys phys{ppm, ppm, 1};
        spng_set_phys(ctx, &phys);
    }
    int r = spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t length = 0;
    void* out = r == 0 ? spng_get_png_buffer(ctx, &length, &r) : nullptr;
    if (out == nullptr) {
        std::fprintf(stderr, "libspng cannot encode %s: %s\n", name.c_str(), spng_strerror(r));
        std::abort();
    }
    f.file.assign(static_cast<std::uint8_t*>(out), static_cast<std::uint8_t*>(out) + length);
    std::free(out);
    spng_ctx_free(ctx);
    if (type == 3 && !trns)
        for (Rgba& p : f.pixels.pixels) p.a = 255;  // no tRNS written: every entry opaque
    return f;
}
#endif

#if GRAYBMP_HAS_JPEG
Picture jpegDecoded(const Bytes& file, int eighths) {
    jpeg_decompress_struct d{};
    jpeg_error_mgr errors{};
    d.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&d, TRUE);
    d.out_color_space = d.num_components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    d.dct_method = JDCT_ISLOW;
    d.do_fancy_upsampling = TRUE;
    d.scale_num = static_cast<unsigned>(eighths), d.scale_denom = 8;
    jpeg_start_decompress(&d);
    Picture p = blank(static_cast<int>(d.output_width), static_cast<int>(d.output_height));
    std::vector<std::uint8_t> row(d.output_width * static_cast<std::size_t>(d.output_components));
    for (std::int64_t y = 0; d.output_scanline < d.output_height; ++y) {
        JSAMPROW rows[1] = {row.data()};
        jpeg_read_scanlines(&d, rows, 1);
        for (std::int64_t x = 0; x < p.width; ++x) {
            const std::uint8_t* s = row.data() + x * d.output_components;
            at(p, x, y) = d.output_components == 1 ? Rgba{s[0], s[0], s[0], 255} : Rgba{s[0], s[1], s[2], 255};
        }
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    return p;
}
#endif

#if GRAYBMP_HAS_WEBP
Bytes taken(std::uint8_t* data, std::size_t size) {
    Bytes b(data, data + size);
    WebPFree(data);
    return b;
}

std::vector<std::uint8_t> rgbaOf(const Picture& p) {
    std::vector<std::uint8_t> out;
    for (const Rgba& c : p.pixels) out.insert(out.end(), {c.r, c.g, c.b, c.a});
    return out;
}
#endif

#if GRAYBMP_HAS_GIF
int gifWrite(GifFileType* gif, const GifByteType* data, int count) {
    auto& out = *static_cast<Bytes*>(gif->UserData);
    out.insert(out.end(), data, data + count);
    return count;
}

// A GIF screen of sw x sh holding one image of w x h at (left, top): a global map of 16
// colours, a local one of 4 when `local`, the transparent index 1 when `transparent`.
Fixture gif(const std::string& name, int sw, int sh, int left, int top, int w, int h, bool local,
            bool transparent, bool interlaced, std::uint32_t seed) {
    Noise noise{seed};
    const auto colours = [&](int count) {
        ColorMapObject* map = GifMakeMapObject(count, nullptr);
        for (int k = 0; k < count; ++k)
            map->Colors[k] = {static_cast<GifByteType>(noise.next(256)), static_cast<GifByteType>(noise.next(256)),
                              static_cast<GifByteType>(noise.next(256))};
        return map;
    };
    ColorMapObject* global = colours(16);
    ColorMapObject* own = local ? colours(4) : nullptr;
    const ColorMapObject* used = local ? own : global;
    Fixture f;
    f.name = name;
    f.kind = GRAYBMP_KIND_GIF;
    f.bits = 8;
    f.pixels = blank(sw, sh);
    for (Rgba& p : f.pixels.pixels) p = {0, 0, 0, 0};
    std::vector<std::vector<GifPixelType>> rows(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto k = static_cast<GifPixelType>(noise.next(static_cast<std::uint32_t>(used->ColorCount)));
            rows[static_cast<std::size_t>(y)].push_back(k);
            if (left + x >= sw || top + y >= sh) continue;
            const GifColorType& c = used->Colors[k];
            at(f.pixels, left + x, top + y) =
                transparent && k == 1 ? Rgba{0, 0, 0, 0} : Rgba{c.Red, c.Green, c.Blue, 255};
        }
    int error = 0;
    GifFileType* g = EGifOpen(&f.file, gifWrite, &error);
    EGifSetGifVersion(g, true);
    EGifPutScreenDesc(g, sw, sh, 8, 0, global);
    if (transparent) {
        const GifByteType control[4] = {1, 0, 0, 1};
        EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, control);
    }
    EGifPutImageDesc(g, left, top, w, h, interlaced, own);
    std::vector<int> order;
    if (interlaced) {
        for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int y = start; y < h; y += step) order.push_back(y);
    } else {
        for (int y = 0; y < h; ++y) order.push_back(y);
    }
    for (const int y : order) EGifPutLine(g, rows[static_cast<std::size_t>(y)].data(), w);
    EGifCloseFile(g, &error);
    GifFreeMapObject(global);
    if (own != nullptr) GifFreeMapObject(own);
    return f;
}
#endif

// A netpbm fixture of w x h: `channels` samples a pixel of maxval `maxval` from the noise,
// plain (text) or raw, with the header `header` after the magic.
Fixture pnm(const std::string& name, char magic, int w, int h, int channels, std::uint32_t maxval, bool alpha,
            bool plain, bool pbm, const std::string& extra, std::uint32_t seed) {
    Noise noise{seed};
    Fixture f;
    f.name = name;
    f.kind = GRAYBMP_KIND_NETPBM;
    f.bits = pbm ? 1 : (maxval > 255 ? 16 : 8) * channels;
    f.pixels = blank(w, h);
    Bytes raster;
    std::string text;
    for (int y = 0; y < h; ++y) {
        std::uint32_t bits = 0;
        int count = 0;
        for (int x = 0; x < w; ++x) {
            std::uint32_t s[4];
            for (int c = 0; c < channels; ++c) s[c] = noise.next(maxval + 1);
            if (x == 0 && y == 0)
                for (int c = 0; c < channels; ++c) s[c] = maxval;  // the top of the range
            for (int c = 0; c < channels; ++c) {
                if (pbm && !plain) {
                    bits = bits << 1 | s[c], ++count;
                    if (count == 8) raster.push_back(static_cast<std::uint8_t>(bits)), bits = 0, count = 0;
                } else if (plain) {
                    text += std::to_string(s[c]) + ((x + c) % 5 == 4 ? "\n" : " ");
                } else if (maxval > 255) {
                    raster.push_back(static_cast<std::uint8_t>(s[c] >> 8));
                    raster.push_back(static_cast<std::uint8_t>(s[c]));
                } else {
                    raster.push_back(static_cast<std::uint8_t>(s[c]));
                }
            }
            const bool colour = channels - (alpha ? 1 : 0) >= 3;
            const auto v = [&](int c) { return pbm ? static_cast<std::uint8_t>(s[c] != 0 ? 0 : 255) : ofMax(s[c], maxval); };
            at(f.pixels, x, y) = {v(0), v(colour ? 1 : 0), v(colour ? 2 : 0), alpha ? v(channels - 1) : std::uint8_t{255}};
        }
        if (pbm && !plain && count > 0) raster.push_back(static_cast<std::uint8_t>(bits << (8 - count)));
    }
    if (plain) raster.assign(text.begin(), text.end());
    f.file = netpbm(magic, extra, raster);
    return f;
}

}  // namespace

Bytes netpbm(char magic, const std::string& header, const Bytes& raster) {
    const std::string head = std::string("P") + magic + header;
    Bytes out(head.size() + raster.size());
    std::copy(head.begin(), head.end(), out.begin());
    std::copy(raster.begin(), raster.end(), out.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return out;
}

bool buildDecodes(int kind) {
    switch (kind) {
    case GRAYBMP_KIND_PNG:
        return GRAYBMP_HAS_SPNG != 0;
    case GRAYBMP_KIND_JPEG:
        return GRAYBMP_HAS_JPEG != 0;
    case GRAYBMP_KIND_WEBP:
        return GRAYBMP_HAS_WEBP != 0;
    case GRAYBMP_KIND_GIF:
        return GRAYBMP_HAS_GIF != 0;
    default:
        return kind == GRAYBMP_KIND_NETPBM;
    }
}

Bytes bitmapOf(const Picture& p, std::uint32_t xPpm, std::uint32_t yPpm) {
    Bytes b(122 + 4 * p.pixels.size(), 0);
    b[0] = 'B', b[1] = 'M';
    setU32(b, 2, static_cast<std::uint32_t>(b.size()));
    setU32(b, 10, 122);
    setU32(b, 14, 108);
    setU32(b, 18, static_cast<std::uint32_t>(p.width));
    setU32(b, 22, static_cast<std::uint32_t>(-p.height));
    setU16(b, 26, 1);
    setU16(b, 28, 32);
    setU32(b, 30, 3);
    setU32(b, 34, static_cast<std::uint32_t>(4 * p.pixels.size()));
    setU32(b, 38, xPpm);
    setU32(b, 42, yPpm);
    setU32(b, 54, 0x00FF0000), setU32(b, 58, 0x0000FF00), setU32(b, 62, 0x000000FF), setU32(b, 66, 0xFF000000);
    for (std::size_t i = 0; i < p.pixels.size(); ++i) {
        const Rgba& c = p.pixels[i];
        b[122 + 4 * i] = c.b, b[123 + 4 * i] = c.g, b[124 + 4 * i] = c.r, b[125 + 4 * i] = c.a;
    }
    return b;
}

Picture composited(const Picture& in, std::uint32_t background) {
    Picture out = in;
    const unsigned b[3] = {background >> 16 & 0xFF, background >> 8 & 0xFF, background & 0xFF};
    for (Rgba& p : out.pixels) {
        const unsigned a = p.a;
        std::uint8_t* c[3] = {&p.r, &p.g, &p.b};
        for (int k = 0; k < 3; ++k) *c[k] = static_cast<std::uint8_t>((*c[k] * a + b[k] * (255 - a) + 127) / 255);
        p.a = 255;
    }
    return out;
}

#if GRAYBMP_HAS_JPEG
Bytes jpegOf(const std::vector<std::uint8_t>& samples, int w, int h, int components, bool progressive, int hs,
             int vs, int densityUnit, int xDensity, int yDensity) {
    jpeg_compress_struct c{};
    jpeg_error_mgr errors{};
    c.err = jpeg_std_error(&errors);
    jpeg_create_compress(&c);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &data, &size);
    c.image_width = static_cast<JDIMENSION>(w), c.image_height = static_cast<JDIMENSION>(h);
    c.input_components = components;
    c.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    if (components == 3) {
        c.comp_info[0].h_samp_factor = hs, c.comp_info[0].v_samp_factor = vs;
        c.comp_info[1].h_samp_factor = c.comp_info[1].v_samp_factor = 1;
        c.comp_info[2].h_samp_factor = c.comp_info[2].v_samp_factor = 1;
    }
    if (progressive) jpeg_simple_progression(&c);
    c.density_unit = static_cast<UINT8>(densityUnit);
    c.X_density = static_cast<UINT16>(xDensity), c.Y_density = static_cast<UINT16>(yDensity);
    jpeg_start_compress(&c, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(w * components));
    while (c.next_scanline < c.image_height) {
        std::memcpy(row.data(), samples.data() + c.next_scanline * row.size(), row.size());
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    Bytes out(data, data + size);
    std::free(data);
    return out;
}
#else
Bytes jpegOf(const std::vector<std::uint8_t>&, int, int, int, bool, int, int, int, int, int) { return {}; }
#endif

Bytes exifBlock(int value, int type, int count) {
    const auto hi = [](int v) { return static_cast<std::uint8_t>(v >> 8); };
    const auto lo = [](int v) { return static_cast<std::uint8_t>(v); };
    return {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, hi(type), lo(type), 0, 0, hi(count), lo(count),
            hi(value), lo(value), 0, 0, 0, 0, 0, 0};
}

#if GRAYBMP_HAS_SPNG
Bytes pngOf(const Picture& p, int orientation) {
    std::vector<std::uint8_t> raw;
    for (const Rgba& c : p.pixels) raw.insert(raw.end(), {c.r, c.g, c.b, c.a});
    spng_ctx* ctx = spng_ctx_new(SPNG_CTX_ENCODER);
    spng_set_option(ctx, SPNG_ENCODE_TO_BUFFER, 1);
    spng_ihdr ihdr{static_cast<std::uint32_t>(p.width), static_cast<std::uint32_t>(p.height), 8, 6, 0, 0, 0};
    spng_set_ihdr(ctx, &ihdr);
    Bytes block = exifBlock(orientation);
    spng_exif exif{block.size(), reinterpret_cast<char*>(block.data())};
    if (orientation > 0) spng_set_exif(ctx, &exif);
    int r = spng_encode_image(ctx, raw.data(), raw.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
    std::size_t length = 0;
    void* out = r == 0 ? spng_get_png_buffer(ctx, &length, &r) : nullptr;
    Bytes b;
    if (out != nullptr) b.assign(static_cast<std::uint8_t*>(out), static_cast<std::uint8_t*>(out) + length);
    std::free(out);
    spng_ctx_free(ctx);
    return b;
}
#else
Bytes pngOf(const Picture&, int) { return {}; }
#endif

std::vector<Fixture> everyPictureKind() {
    std::vector<Fixture> all;
    std::uint32_t seed = 7;
#if GRAYBMP_HAS_SPNG
    const struct {
        int type;
        std::vector<int> depths;
    } types[] = {{0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
    for (const auto& t : types)
        for (const int depth : t.depths)
            for (const bool interlaced : {false, true}) {
                const bool trns = t.type <= 3 && (depth % 2 == 0 || t.type == 3) && !interlaced;
                const std::string name = "PNG type " + std::to_string(t.type) + " " + std::to_string(depth) + "-bit" +
                                         (interlaced ? " interlaced" : "") + (trns ? " tRNS" : "");
                all.push_back(png(name, 13, 9, t.type, depth, interlaced, trns, depth == 8 ? 3780 : 0, ++seed));
            }
    all.push_back(png("PNG one pixel", 1, 1, 2, 8, false, false, 0, ++seed));
    all.push_back(png("PNG as wide as a picture may be", 65535, 2, 0, 8, false, false, 0, ++seed));
#endif
#if GRAYBMP_HAS_JPEG
    {
        Noise noise{++seed};
        const int w = 19, h = 13;
        std::vector<std::uint8_t> gray(static_cast<std::size_t>(w * h)), rgb(static_cast<std::size_t>(3 * w * h));
        for (std::size_t i = 0; i < gray.size(); ++i) gray[i] = static_cast<std::uint8_t>(i * 5 + noise.next(40));
        for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<std::uint8_t>(i * 3 + noise.next(60));
        const auto add = [&](const std::string& name, const Bytes& file, int components, std::uint32_t x = 0,
                             std::uint32_t y = 0) {
            Fixture f;
            f.name = name, f.file = file, f.kind = GRAYBMP_KIND_JPEG, f.bits = 8 * components;
            f.pixels = jpegDecoded(file, 8), f.xPpm = x, f.yPpm = y;
            all.push_back(f);
        };
        add("JPEG gray", jpegOf(gray, w, h, 1), 1);
        add("JPEG gray progressive", jpegOf(gray, w, h, 1, true), 1);
        for (const auto& [hs, vs] : {std::pair{1, 1}, {2, 1}, {2, 2}, {1, 2}, {4, 1}})
            for (const bool progressive : {false, true})
                add("JPEG YCbCr " + std::to_string(hs) + "x" + std::to_string(vs) + (progressive ? " progressive" : ""),
                    jpegOf(rgb, w, h, 3, progressive, hs, vs), 3);
        // 300 x 150 dots an inch, and 40 a centimetre.
        add("JPEG 300 x 150 dpi", jpegOf(rgb, w, h, 3, false, 2, 2, 1, 300, 150), 3, (300 * 10000 + 127) / 254,
            (150 * 10000 + 127) / 254);
        add("JPEG 40 dots a cm", jpegOf(rgb, w, h, 3, false, 2, 2, 2, 40, 40), 3, 4000, 4000);
    }
#endif
#if GRAYBMP_HAS_WEBP
    {
        Noise noise{++seed};
        Picture p = blank(11, 7);
        for (Rgba& c : p.pixels)
            c = {static_cast<std::uint8_t>(noise.next(256)), static_cast<std::uint8_t>(noise.next(256)),
                 static_cast<std::uint8_t>(noise.next(256)), static_cast<std::uint8_t>(noise.next(4) == 0 ? noise.next(256) : 255)};
        const std::vector<std::uint8_t> rgba = rgbaOf(p);
        std::uint8_t* out = nullptr;
        Fixture lossless;
        lossless.name = "WebP lossless with alpha", lossless.kind = GRAYBMP_KIND_WEBP, lossless.bits = 32;
        std::size_t size = WebPEncodeLosslessRGBA(rgba.data(), 11, 7, 44, &out);
        lossless.file = taken(out, size);
        lossless.pixels = p;
        // The RGB of a pixel of alpha 0 is the encoder's to change: composited, it is the
        // background whatever it holds.
        all.push_back(lossless);
        std::vector<std::uint8_t> rgb;
        for (const Rgba& c : p.pixels) rgb.insert(rgb.end(), {c.r, c.g, c.b});
        Fixture lossy;
        lossy.name = "WebP lossy", lossy.kind = GRAYBMP_KIND_WEBP, lossy.bits = 24;
        size = WebPEncodeRGB(rgb.data(), 11, 7, 33, 80, &out);
        lossy.file = taken(out, size);
        int w = 0, h = 0;
        std::uint8_t* decoded = WebPDecodeRGBA(lossy.file.data(), lossy.file.size(), &w, &h);
        lossy.pixels = blank(w, h);
        for (std::size_t i = 0; i < lossy.pixels.pixels.size(); ++i)
            lossy.pixels.pixels[i] = {decoded[4 * i], decoded[4 * i + 1], decoded[4 * i + 2], decoded[4 * i + 3]};
        WebPFree(decoded);
        all.push_back(lossy);
        // Two frames; the first is what comes out.
        WebPAnimEncoderOptions options;
        WebPAnimEncoderOptionsInit(&options);
        WebPAnimEncoder* encoder = WebPAnimEncoderNew(11, 7, &options);
        WebPConfig config;
        WebPConfigInit(&config);
        config.lossless = 1, config.exact = 1;
        Picture second = p;
        for (Rgba& c : second.pixels) c.r = static_cast<std::uint8_t>(255 - c.r);
        int timestamp = 0;
        for (const Picture* frame : {&p, &second}) {
            WebPPicture picture;
            WebPPictureInit(&picture);
            picture.use_argb = 1, picture.width = 11, picture.height = 7;
            const std::vector<std::uint8_t> bytes = rgbaOf(*frame);
            WebPPictureImportRGBA(&picture, bytes.data(), 44);
            WebPAnimEncoderAdd(encoder, &picture, timestamp, &config);
            WebPPictureFree(&picture);
            timestamp += 100;
        }
        WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
        WebPData data;
        WebPDataInit(&data);
        WebPAnimEncoderAssemble(encoder, &data);
        Fixture animated;
        animated.name = "WebP animated, its first frame", animated.kind = GRAYBMP_KIND_WEBP, animated.bits = 32;
        animated.file.assign(data.bytes, data.bytes + data.size);
        animated.pixels = p;
        WebPDataClear(&data);
        WebPAnimEncoderDelete(encoder);
        all.push_back(animated);
    }
#endif
#if GRAYBMP_HAS_GIF
    all.push_back(gif("GIF global map", 9, 6, 0, 0, 9, 6, false, false, false, ++seed));
    all.push_back(gif("GIF local map, transparent, inside its screen", 12, 10, 2, 3, 7, 5, true, true, false, ++seed));
    all.push_back(gif("GIF interlaced, past its screen's edge", 10, 12, 4, 1, 9, 11, false, true, true, ++seed));
#endif
    all.push_back(pnm("PBM plain", '1', 13, 3, 1, 1, false, true, true, "\n# a comment\n13 3\n", ++seed));
    all.push_back(pnm("PBM raw", '4', 13, 3, 1, 1, false, false, true, " 13\t3\n", ++seed));
    all.push_back(pnm("PGM plain, maxval 1000", '2', 7, 4, 1, 1000, false, true, false, "\n7 4\n1000\n", ++seed));
    all.push_back(pnm("PGM raw, maxval 255", '5', 7, 4, 1, 255, false, false, false, "\n7 4 #w h\n255\n", ++seed));
    all.push_back(pnm("PGM raw, maxval 65535", '5', 7, 4, 1, 65535, false, false, false, "\n7 4\n65535\n", ++seed));
    all.push_back(pnm("PPM plain, maxval 7", '3', 5, 3, 3, 7, false, true, false, "\n5 3\n7\n", ++seed));
    all.push_back(pnm("PPM raw, maxval 255", '6', 5, 3, 3, 255, false, false, false, "\n5 3\n255\n", ++seed));
    all.push_back(pnm("PPM raw, maxval 4095", '6', 5, 3, 3, 4095, false, false, false, "\n5 3\n4095\n", ++seed));
    const auto pam = [&](const char* type, int depth, std::uint32_t maxval, bool alpha) {
        std::string header = "\nWIDTH 6\nHEIGHT 4\nDEPTH " + std::to_string(depth) + "\nMAXVAL " +
                             std::to_string(maxval) + "\n";
        if (*type != '\0') header += std::string("TUPLTYPE ") + type + "\n";
        header += "ENDHDR\n";
        return pnm(std::string("PAM ") + (*type != '\0' ? type : "of no type") + ", maxval " + std::to_string(maxval),
                   '7', 6, 4, depth, maxval, alpha, false, false, header, ++seed);
    };
    all.push_back(pam("BLACKANDWHITE", 1, 1, false));
    all.push_back(pam("GRAYSCALE", 1, 255, false));
    all.push_back(pam("GRAYSCALE_ALPHA", 2, 255, true));
    all.push_back(pam("RGB", 3, 65535, false));
    all.push_back(pam("RGB_ALPHA", 4, 1023, true));
    all.push_back(pam("", 3, 255, false));
    return all;
}

Bytes webpOf(const Picture& p, int orientation) {
#if GRAYBMP_HAS_WEBP
    std::vector<std::uint8_t> rgba;
    for (const Rgba& c : p.pixels) rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
    std::uint8_t* out = nullptr;
    const std::size_t size = WebPEncodeLosslessRGBA(rgba.data(), static_cast<int>(p.width), static_cast<int>(p.height),
                                                    static_cast<int>(4 * p.width), &out);
    const Bytes plain = taken(out, size);
    // The EXIF chunk, behind the picture as cameras and encoders put it.
    WebPMux* mux = WebPMuxNew();
    const WebPData image{plain.data(), plain.size()};
    WebPMuxSetImage(mux, &image, 1);
    const Bytes block = exifBlock(orientation);
    const WebPData exif{block.data(), block.size()};
    WebPMuxSetChunk(mux, "EXIF", &exif, 1);
    WebPData assembled;
    WebPDataInit(&assembled);
    WebPMuxAssemble(mux, &assembled);
    Bytes file(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return file;
#else
    (void)p, (void)orientation;
    return {};
#endif
}

Picture jpegPixels(const Bytes& file, int eighths) {
#if GRAYBMP_HAS_JPEG
    return jpegDecoded(file, eighths);
#else
    (void)file, (void)eighths;
    return {};
#endif
}

}  // namespace graybmp::test
