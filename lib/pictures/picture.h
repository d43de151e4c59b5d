// Pictures of other formats as a source of rows: PNG, JPEG, WebP, GIF and netpbm, each
// decoded by the library made for it (netpbm by our own code), recognised by their
// signature. A picture is opened (its decoder reads the header, and the size is checked
// against the limits before anything of the picture's size is allocated), then its rows
// come out as 8-bit RGBA, the top row first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "conversion/failure.h"
#include "pipeline/rows.h"
#include "platform/stream.h"

namespace graybmp {

enum class PictureFormat { None, Png, Jpeg, WebP, Gif, Netpbm };

// A side of a picture may not pass this, whatever the limit on pixels.
constexpr std::uint32_t kMaxPictureSide = 65535;
// The pixels a picture may have unless the caller says otherwise.
constexpr std::uint64_t kDefaultMaxPixels = std::uint64_t{1} << 28;
// The most a caller may allow: the 32-bit BMP of its pixels still fits a BMP's 32-bit sizes.
constexpr std::uint64_t kMaxPictureLimit = std::uint64_t{1} << 29;
// The bytes pictureFormatOf needs to tell every format apart.
constexpr std::size_t kSignatureSize = 12;

struct PictureInfo {
    PictureFormat format = PictureFormat::None;
    std::uint32_t width = 0, height = 0;
    int bits = 0;                  // bits a pixel, as the format counts them
    std::uint32_t xPpm = 0, yPpm = 0;  // pixels a metre, 0 when not given
    int orientation = 1;  // its Exif orientation, 1 to 8 (1: upright, or none given)
};

struct Picture;

// One format's decoder: `open` reads the header into p.info (false with the refusal in
// `f`); `rows` hands each row of width x 4 bytes (red, green, blue, alpha, or blue,
// green, red, alpha where it sets p.bgra) to `next`.
struct PictureDecoder {
    PictureFormat format;
    const char* name;  // "PNG", as the report's type line says it
    bool (*open)(Picture& p, Failure& f);  // null: not in this build
    CopyFault (*rows)(Picture& p, RowTaker next);
};

struct Picture {
    PictureInfo info;
    const PictureDecoder* decoder = nullptr;
    Stream* in = nullptr;
    std::int64_t base = 0;      // where the picture starts in `in` (a BMP may hold one)
    std::int64_t position = 0;  // how far the decoder has read, from `base`
    // The decoder's state, and how it is let go.
    void* state = nullptr;
    void (*release)(void* state) = nullptr;
    std::string fault;  // CopyFault::Corrupt: the decoder's reason
    bool bgra = false;  // the decoder's rows are blue, green, red, alpha instead
    // The size of the rows the decoder gives: the picture's, or less where it decodes at
    // a scale (pictureScaled).
    std::uint32_t rowsWidth = 0, rowsHeight = 0;
    int eighths = 8;  // JPEG: the scale of its decoding, in eighths
    Picture() = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;
    ~Picture() {
        if (release != nullptr) release(state);
    }
};

// The format of a file that starts with `lead` (its first min(n, kSignatureSize) bytes).
PictureFormat pictureFormatOf(const std::uint8_t* lead, std::size_t n);
const char* pictureFormatName(PictureFormat format);

// Opens the picture in `in` with its format's decoder: its header read and its size
// checked (at most kMaxPictureSide a side and `maxPixels` pixels, at least one).
bool pictureOpened(Picture& p, PictureFormat format, Stream& in, std::uint64_t maxPixels, Failure& f,
                   std::int64_t base = 0);

// Whether a picture of `info`'s size may be converted (at most kMaxPictureSide a side and
// `maxPixels` pixels, at least one); the refusal in `f`.
bool pictureSizeAllowed(const PictureInfo& info, std::uint64_t maxPixels, Failure& f);

// The picture's header fields from its first `n` bytes alone, without its decoder (with
// `orient`, its orientation too: a WebP that says it has Exif data needs all its bytes,
// a JPEG's and a PNG's is found where the bytes reach it): false
// when they are not all there, with `needed` the bytes that are (or n + 1 where that is
// not known before they come); a refusal that the fields show already in `f` (the size
// checked as pictureOpened does).
bool pictureProbed(const std::uint8_t* data, std::size_t n, PictureInfo& info, std::uint64_t& needed,
                   std::uint64_t maxPixels, Failure& f, bool orient = false);

// Reads up to `count` bytes at the decoder's position and moves it on; fewer only at the
// input's end or on an error (in->error).
std::size_t pictureRead(Picture& p, void* out, std::size_t count);

// Reads up to `count` bytes at `offset` from the picture's start, the position unmoved.
std::size_t pictureReadAt(Picture& p, std::int64_t offset, void* out, std::size_t count);

// The refusal of a picture the decoder cannot take: `reason` in its words.
Failure pictureCorrupt(const std::string& reason);
// The refusal of a picture whose kind graybmp does not take (CMYK, or a format this build
// does not decode).
Failure pictureUnsupported(const std::string& reason);

// A 16-bit sample at 8 bits, and a sample of `maxval` at 8 bits.
inline std::uint8_t eightOf16(std::uint32_t v) { return static_cast<std::uint8_t>((v * 255 + 32767) / 65535); }
inline std::uint8_t eightOfMax(std::uint32_t v, std::uint32_t maxval) {
    return static_cast<std::uint8_t>((std::uint64_t{v} * 255 + maxval / 2) / maxval);
}

// Each format's decoder, in its own file; `open` is null where the build has no decoder.
extern const PictureDecoder kPngDecoder;     // pictures/png.cpp, libspng
extern const PictureDecoder kJpegDecoder;    // pictures/jpeg.cpp, libjpeg(-turbo)
extern const PictureDecoder kWebPDecoder;    // pictures/webp.cpp, libwebp and libwebpdemux
extern const PictureDecoder kGifDecoder;     // pictures/gif.cpp, giflib
extern const PictureDecoder kNetpbmDecoder;  // pictures/netpbm.cpp, our own

// Makes the decoder give its rows at `eighths` / 8 of the picture's size (1, 2, 4 or 8),
// ceil(side x eighths / 8) a side: JPEG's scaled decoding (libjpeg's DCT scaling). False,
// and nothing changed, for a format that cannot.
bool pictureScaled(Picture& p, int eighths);

// The orientation of a whole WebP file's EXIF chunk, as libwebpdemux finds it (1: none, or
// no WebP decoder in this build).
int webpOrientation(const std::uint8_t* file, std::size_t size);

// Whether the netpbm decoder opened `p` (or refused it) before the bytes it was given ran
// out: what it read of the header cannot go on.
bool netpbmHeaderEnded(const Picture& p);

}  // namespace graybmp
