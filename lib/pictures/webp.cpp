// WebP by libwebp: lossy and lossless, with or without alpha; of an animation the first
// frame, composited on its canvas by libwebpdemux's animation decoder (transparent outside
// the frame). The size comes from the first bytes; the file and the picture are then held
// whole, as libwebp decodes them.
#include "pictures/exif.h"
#include "pictures/picture.h"

#if GRAYBMP_HAS_WEBP

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace graybmp {
namespace {

constexpr std::size_t kHeadBytes = 64;

// The whole file, as its RIFF header says it is long, read a piece at a time so that a
// header's length alone allocates nothing; false where it cannot be read.
bool wholeFile(Picture& p, std::vector<std::uint8_t>& file) {
    std::uint8_t head[8];
    if (pictureReadAt(p, 0, head, sizeof head) != sizeof head) return false;
    const std::uint64_t riff = std::uint64_t{head[4]} | std::uint64_t{head[5]} << 8 | std::uint64_t{head[6]} << 16 |
                               std::uint64_t{head[7]} << 24;
    const std::uint64_t length = riff + 8 + (riff & 1);
    p.position = 0;
    while (file.size() < length) {
        const std::size_t at = file.size();
        file.resize(at + static_cast<std::size_t>(std::min<std::uint64_t>(length - at, std::size_t{1} << 20)));
        const std::size_t got = pictureRead(p, file.data() + at, file.size() - at);
        file.resize(at + got);
        if (got == 0) break;
    }
    return p.in->error == 0;
}

// The file, held from the opening where its orientation was looked for.
struct Held {
    std::vector<std::uint8_t> file;
    bool read = false;
};

void release(void* state) { delete static_cast<Held*>(state); }

}  // namespace

int webpOrientation(const std::uint8_t* file, std::size_t size) {
    const WebPData data{file, size};
    WebPDemuxer* demux = WebPDemuxPartial(&data, nullptr);
    if (demux == nullptr) return 1;
    WebPChunkIterator chunk;
    int orientation = 1;
    if (WebPDemuxGetChunk(demux, "EXIF", 1, &chunk)) {
        orientation = exifOrientation(chunk.chunk.bytes, chunk.chunk.size);
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return orientation;
}

namespace {

bool open(Picture& p, Failure& f) {
    std::uint8_t head[kHeadBytes];
    const std::size_t got = pictureRead(p, head, sizeof head);
    if (p.in->error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", p.in->error);
        return false;
    }
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(head, got, &features);
    if (status != VP8_STATUS_OK) {
        f = pictureCorrupt(status == VP8_STATUS_NOT_ENOUGH_DATA ? "it ends early" : "its header is not WebP's");
        return false;
    }
    p.info.width = static_cast<std::uint32_t>(features.width);
    p.info.height = static_cast<std::uint32_t>(features.height);
    p.info.bits = features.has_alpha ? 32 : 24;
    Failure unused;
    // An extended file that says it has Exif data (often behind the picture): held whole
    // here, as its decoding would hold it, for the orientation.
    if (got >= 21 && std::memcmp(head + 12, "VP8X", 4) == 0 && (head[20] & 0x08) != 0 &&
        pictureSizeAllowed(p.info, kMaxPictureLimit, unused)) {
        auto* held = new Held;
        p.state = held, p.release = release;
        if (!wholeFile(p, held->file)) {
            f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", p.in->error);
            return false;
        }
        held->read = true;
        p.info.orientation = webpOrientation(held->file.data(), held->file.size());
    }
    return true;
}

// Hands the rows of a decoded RGBA picture on.
CopyFault handed(const std::uint8_t* rgba, std::size_t width, std::size_t height, RowTaker next) {
    for (std::size_t y = 0; y < height; ++y)
        if (!next(rgba + 4 * width * y)) return CopyFault::WriteFailed;
    return CopyFault::None;
}

CopyFault rows(Picture& p, RowTaker next) {
    Held own;
    Held& held = p.state != nullptr ? *static_cast<Held*>(p.state) : own;
    if (!held.read && !wholeFile(p, held.file)) return CopyFault::ReadFailed;
    const std::vector<std::uint8_t>& file = held.file;
    const std::size_t width = p.info.width, height = p.info.height;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK) {
        p.fault = "it ends early";
        return CopyFault::Corrupt;
    }
    if (!features.has_animation) {
        std::vector<std::uint8_t> rgba(4 * width * height);
        if (WebPDecodeRGBAInto(file.data(), file.size(), rgba.data(), rgba.size(), static_cast<int>(4 * width)) ==
            nullptr) {
            p.fault = "libwebp cannot decode it (it is corrupt or ends early)";
            return CopyFault::Corrupt;
        }
        return handed(rgba.data(), width, height, next);
    }
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return CopyFault::NoMemory;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    WebPData data{file.data(), file.size()};
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    if (decoder == nullptr) {
        p.fault = "libwebpdemux cannot read its animation";
        return CopyFault::Corrupt;
    }
    WebPAnimInfo info;
    std::uint8_t* frame = nullptr;
    int timestamp = 0;
    CopyFault fault = CopyFault::None;
    if (!WebPAnimDecoderGetInfo(decoder, &info) || info.canvas_width != width || info.canvas_height != height ||
        !WebPAnimDecoderGetNext(decoder, &frame, &timestamp)) {
        p.fault = "libwebp cannot decode its first frame";
        fault = CopyFault::Corrupt;
    } else {
        fault = handed(frame, width, height, next);
    }
    WebPAnimDecoderDelete(decoder);
    return fault;
}

}  // namespace

const PictureDecoder kWebPDecoder = {PictureFormat::WebP, "WebP", open, rows};

}  // namespace graybmp

#else

namespace graybmp {
const PictureDecoder kWebPDecoder = {PictureFormat::WebP, "WebP", nullptr, nullptr};
int webpOrientation(const std::uint8_t*, std::size_t) { return 1; }
}  // namespace graybmp

#endif
