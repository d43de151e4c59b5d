// JPEG by libjpeg(-turbo)'s libjpeg API: baseline and progressive, gray and YCbCr, every
// subsampling; CMYK and YCCK refused. The bytes depend on the decoder's choices, so they
// are pinned: the slow exact integer IDCT, fancy upsampling, block smoothing. Errors come
// back through an error manager of our own (its message kept for the refusal), warnings are
// ignored, as camera files raise them, but an input that ends early is refused. A
// baseline picture is decoded a row at a time; a progressive one is held by libjpeg.
#include "pictures/exif.h"
#include "pictures/picture.h"

#if GRAYBMP_HAS_JPEG

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <jpeglib.h>

namespace graybmp {
namespace {

// The scans a progressive picture may have: a few dozen in any real file, while a
// crafted one of thousands takes minutes to decode.
constexpr int kMaxScans = 1000;
// What libjpeg may allocate: a progressive picture's coefficients at the largest size.
constexpr long kMaxMemory = 0x7FFFFFFF;

struct Jpeg {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_source_mgr source{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    char message[JMSG_LENGTH_MAX] = {};
    Picture* picture = nullptr;
    bool created = false;
    bool ended = false;  // the input ended before the picture did
    JOCTET buffer[64 * 1024] = {};
};

Jpeg& jpegOf(j_common_ptr info) { return *static_cast<Jpeg*>(info->client_data); }

void release(void* state) {
    auto* j = static_cast<Jpeg*>(state);
    if (j->created) jpeg_destroy_decompress(&j->info);
    delete j;
}

[[noreturn]] void errorExit(j_common_ptr info) {
    Jpeg& j = jpegOf(info);
    (*info->err->format_message)(info, j.message);
    std::longjmp(j.jump, 1);
}

void quiet(j_common_ptr) {}
void ignored(j_common_ptr, int) {}

void initSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr info) {
    Jpeg& j = jpegOf(reinterpret_cast<j_common_ptr>(info));
    const std::size_t got = pictureRead(*j.picture, j.buffer, sizeof j.buffer);
    if (got == 0) {
        j.ended = true;
        std::snprintf(j.message, sizeof j.message, "it ends early");
        std::longjmp(j.jump, 1);
    }
    j.source.next_input_byte = j.buffer;
    j.source.bytes_in_buffer = got;
    return TRUE;
}

void skipInput(j_decompress_ptr info, long count) {
    Jpeg& j = jpegOf(reinterpret_cast<j_common_ptr>(info));
    while (count > 0) {
        if (j.source.bytes_in_buffer == 0) fillInput(info);
        const std::size_t step = std::min<std::size_t>(static_cast<std::size_t>(count), j.source.bytes_in_buffer);
        j.source.next_input_byte += step;
        j.source.bytes_in_buffer -= step;
        count -= static_cast<long>(step);
    }
}

void termSource(j_decompress_ptr) {}

void progress(j_common_ptr info) {
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > kMaxScans) {
        Jpeg& j = jpegOf(info);
        std::snprintf(j.message, sizeof j.message, "it has more than %d scans", kMaxScans);
        std::longjmp(j.jump, 1);
    }
}

// The refusal after a jump: a read that failed, or the decoder's words.
Failure jumped(Jpeg& j) {
    if (j.picture->in->error != 0)
        return systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", j.picture->in->error);
    return pictureCorrupt(j.message);
}

bool open(Picture& p, Failure& f) {
    auto* j = new Jpeg;
    p.state = j, p.release = release;
    j->picture = &p;
    j->info.err = jpeg_std_error(&j->errors);
    j->errors.error_exit = errorExit;
    j->errors.output_message = quiet;
    j->errors.emit_message = ignored;
    j->info.client_data = j;
    if (setjmp(j->jump) != 0) {
        f = jumped(*j);
        return false;
    }
    jpeg_create_decompress(&j->info);
    j->created = true;
    j->info.mem->max_memory_to_use = kMaxMemory;
    j->source.init_source = initSource;
    j->source.fill_input_buffer = fillInput;
    j->source.skip_input_data = skipInput;
    j->source.resync_to_restart = jpeg_resync_to_restart;
    j->source.term_source = termSource;
    j->info.src = &j->source;
    j->progress.progress_monitor = progress;
    j->info.progress = &j->progress;
    jpeg_save_markers(&j->info, JPEG_APP0 + 1, 0xFFFF);  // Exif, for the orientation
    jpeg_read_header(&j->info, TRUE);
    const jpeg_decompress_struct& d = j->info;
    p.info.width = d.image_width, p.info.height = d.image_height;
    p.info.bits = 8 * d.num_components;
    if (d.saw_JFIF_marker && (d.density_unit == 1 || d.density_unit == 2)) {
        const auto perMetre = [&](std::uint32_t v) {
            return d.density_unit == 1 ? (v * 10000 + 127) / 254 : v * 100;
        };
        p.info.xPpm = perMetre(d.X_density), p.info.yPpm = perMetre(d.Y_density);
    }
    if (d.jpeg_color_space == JCS_CMYK || d.jpeg_color_space == JCS_YCCK) {
        f = pictureUnsupported("a CMYK or YCCK JPEG");
        return false;
    }
    if (d.num_components != 1 && d.num_components != 3) {
        f = pictureUnsupported("a JPEG of " + std::to_string(d.num_components) + " components");
        return false;
    }
    for (jpeg_saved_marker_ptr m = d.marker_list; m != nullptr; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            p.info.orientation = exifOrientation(m->data, m->data_length);
            break;
        }
    p.bgra = true;
    return true;
}

// Started, then each row straight into `row` as blue, green, red and 255 (libjpeg-turbo's
// extended colour spaces, from gray too); false after a jump (the fault in `fault`). Only
// plain data lives in this frame across the jump.
bool decoded(Jpeg& j, std::uint8_t* row, RowTaker next, CopyFault& fault) {
    if (setjmp(j.jump) != 0) {
        fault = j.picture->in->error != 0 ? CopyFault::ReadFailed : CopyFault::Corrupt;
        return false;
    }
    jpeg_decompress_struct& d = j.info;
    d.out_color_space = JCS_EXT_BGRA;
    d.dct_method = JDCT_ISLOW;
    d.do_fancy_upsampling = TRUE;
    d.do_block_smoothing = TRUE;
    d.scale_num = static_cast<unsigned>(j.picture->eighths), d.scale_denom = 8;
    jpeg_start_decompress(&d);
    while (d.output_scanline < d.output_height) {
        JSAMPROW rows[1] = {row};
        if (jpeg_read_scanlines(&d, rows, 1) != 1) continue;
        if (!next(row)) {
            fault = CopyFault::WriteFailed;
            return false;
        }
    }
    return true;
}

CopyFault rows(Picture& p, RowTaker next) {
    Jpeg& j = *static_cast<Jpeg*>(p.state);
    std::vector<std::uint8_t> row(4 * std::size_t{p.rowsWidth});
    CopyFault fault = CopyFault::None;
    if (!decoded(j, row.data(), next, fault) && fault == CopyFault::Corrupt) p.fault = j.message;
    return fault;
}

}  // namespace

const PictureDecoder kJpegDecoder = {PictureFormat::Jpeg, "JPEG", open, rows};

}  // namespace graybmp

#else

namespace graybmp {
const PictureDecoder kJpegDecoder = {PictureFormat::Jpeg, "JPEG", nullptr, nullptr};
}  // namespace graybmp

#endif
