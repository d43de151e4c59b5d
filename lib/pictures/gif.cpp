// GIF by giflib: the first image on its logical screen, its local colour map or else the
// global one, its graphic control's transparent index; the screen outside the image is
// transparent. A non-interlaced image is decoded a row at a time; an interlaced one is
// held (the part of it on the screen).
#include "pictures/picture.h"

#if GRAYBMP_HAS_GIF

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace graybmp {
namespace {

void release(void* state) {
    int error = 0;
    if (state != nullptr) DGifCloseFile(static_cast<GifFileType*>(state), &error);
}

int readGif(GifFileType* gif, GifByteType* out, int count) {
    auto& p = *static_cast<Picture*>(gif->UserData);
    return static_cast<int>(pictureRead(p, out, static_cast<std::size_t>(count)));
}

std::string reasonOf(int error) {
    if (error == D_GIF_ERR_READ_FAILED) return "it ends early";
    const char* words = GifErrorString(error);
    return words != nullptr ? words : "giflib error " + std::to_string(error);
}

bool open(Picture& p, Failure& f) {
    int error = 0;
    GifFileType* gif = DGifOpen(&p, readGif, &error);
    if (gif == nullptr) {
        f = p.in->error != 0 ? systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", p.in->error)
            : error == D_GIF_ERR_NOT_ENOUGH_MEM ? noMemory()
                                                : pictureCorrupt(reasonOf(error));
        return false;
    }
    p.state = gif, p.release = release;
    p.info.width = static_cast<std::uint32_t>(gif->SWidth), p.info.height = static_cast<std::uint32_t>(gif->SHeight);
    p.info.bits = 8;
    return true;
}

CopyFault failed(Picture& p, const GifFileType* gif) {
    if (p.in->error != 0) return CopyFault::ReadFailed;
    p.fault = reasonOf(gif->Error);
    return CopyFault::Corrupt;
}

CopyFault rows(Picture& p, RowTaker next) {
    auto* gif = static_cast<GifFileType*>(p.state);
    int transparent = -1;
    // The records up to the first image: the graphic control before it says which index
    // is transparent.
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(gif, &type) == GIF_ERROR) return failed(p, gif);
        if (type == IMAGE_DESC_RECORD_TYPE) break;
        if (type == TERMINATE_RECORD_TYPE) {
            p.fault = "it holds no image";
            return CopyFault::Corrupt;
        }
        if (type != EXTENSION_RECORD_TYPE) continue;
        int code = 0;
        GifByteType* block = nullptr;
        if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return failed(p, gif);
        if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4)
            transparent = (block[1] & 1) != 0 ? block[4] : -1;
        while (block != nullptr)
            if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return failed(p, gif);
    }
    if (DGifGetImageDesc(gif) == GIF_ERROR) return failed(p, gif);
    const GifImageDesc& image = gif->Image;
    const ColorMapObject* map = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
    if (map == nullptr) {
        p.fault = "its image has no colour map";
        return CopyFault::Corrupt;
    }
    const std::size_t width = p.info.width, height = p.info.height;
    const auto left = static_cast<std::size_t>(image.Left), top = static_cast<std::size_t>(image.Top);
    const auto w = static_cast<std::size_t>(image.Width), h = static_cast<std::size_t>(image.Height);
    // The columns and rows of the image on the screen.
    const std::size_t x0 = std::min(left, width), x1 = std::min(left + w, width);
    const std::size_t y0 = std::min(top, height), y1 = std::min(top + h, height);
    std::vector<GifPixelType> line(std::max<std::size_t>(w, 1));
    std::vector<std::uint8_t> rgba(4 * width, 0);
    // The row's pixels on the screen, from the indices of its columns x0 to x1.
    const auto paint = [&](const GifPixelType* indices) {
        std::fill(rgba.begin(), rgba.end(), 0);
        for (std::size_t x = x0; x < x1; ++x) {
            const int k = indices[x - x0];
            if (k == transparent) continue;
            std::uint8_t* o = rgba.data() + 4 * x;
            if (k < map->ColorCount) {
                const GifColorType& c = map->Colors[k];
                o[0] = c.Red, o[1] = c.Green, o[2] = c.Blue;
            }  // an index past the map is black, as browsers show it
            o[3] = 255;
        }
    };
    const std::vector<std::uint8_t> clear(4 * width, 0);
    const std::size_t seen = x1 - x0;  // the image's columns on the screen
    std::vector<GifPixelType> held;    // an interlaced image's part on the screen
    if (image.Interlace && w > 0) {
        held.assign((y1 - y0) * seen, 0);
        const std::size_t starts[] = {0, 4, 2, 1}, steps[] = {8, 8, 4, 2};
        for (int pass = 0; pass < 4; ++pass)
            for (std::size_t y = starts[pass]; y < h; y += steps[pass]) {
                if (DGifGetLine(gif, line.data(), static_cast<int>(w)) == GIF_ERROR) return failed(p, gif);
                if (top + y >= y0 && top + y < y1 && seen > 0)
                    std::memcpy(held.data() + (top + y - y0) * seen, line.data() + (x0 - std::min(x0, left)), seen);
            }
    }
    for (std::size_t y = 0; y < height; ++y) {
        if (y < y0 || y >= y1 || w == 0) {
            if (!next(clear.data())) return CopyFault::WriteFailed;
            continue;
        }
        if (image.Interlace) {
            paint(held.data() + (y - y0) * seen);
        } else {
            if (DGifGetLine(gif, line.data(), static_cast<int>(w)) == GIF_ERROR) return failed(p, gif);
            paint(line.data() + (x0 - std::min(x0, left)));
        }
        if (!next(rgba.data())) return CopyFault::WriteFailed;
    }
    return CopyFault::None;
}

}  // namespace

const PictureDecoder kGifDecoder = {PictureFormat::Gif, "GIF", open, rows};

}  // namespace graybmp

#else

namespace graybmp {
const PictureDecoder kGifDecoder = {PictureFormat::Gif, "GIF", nullptr, nullptr};
}  // namespace graybmp

#endif
