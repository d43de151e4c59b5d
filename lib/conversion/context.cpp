#include "conversion/context.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "bitmap/headers.h"
#include "forms/forms.h"

namespace graybmp {

bool leadLongEnough(const std::uint8_t* lead, std::size_t leadSize, Failure& f) {
    if (leadSize >= headerBlockSize(lead, leadSize)) return true;
    f = refusalOf(InputError::TooShort,
                  describeInputError(InputError::TooShort, lead, leadSize, leadSize));
    return false;
}

namespace {
bool embeddedChecked(Conversion& c, std::uint64_t fileSize, Failure& f);
}  // namespace

bool conversionChecked(Conversion& c, std::uint64_t fileSize, Failure& f) {
    const InputError e = checkInput(c.lead, c.leadSize, fileSize, c.layout);
    // A JPEG or PNG in a BMP is decoded for the forms that make new pixels.
    if (e == InputError::EmbeddedImage && (c.settings.levels.count > 0 || c.settings.compact))
        return embeddedChecked(c, fileSize, f);
    if (e != InputError::None) {
        f = refusalOf(e, describeInputError(e, c.lead, c.leadSize, fileSize));
        return false;
    }
    c.form = &formOf(c.layout, c.settings);
    if (toned(c.settings.levels) && c.settings.levels.count == 0) {
        f = badArgument("an input range, a negation or grays need levels or the compact form");
        return false;
    }
    if (!c.form->takes(c.layout, c.settings, f)) return false;
    c.outputSize = conversionLength(c, static_cast<std::int64_t>(fileSize));
    return true;
}

bool leadIsPicture(const Conversion& c) {
    return pictureFormatOf(c.lead, c.leadSize) != PictureFormat::None;
}

namespace {

// The checks of a picture whose header is `info`: the layout of the top-down 32-bit BMP of
// its pixels, converted to the levels or to 256 grays.
bool pictureLaidOut(Conversion& c, const PictureInfo& info, Failure& f) {
    if (c.settings.levels.count == 0) c.settings.levels.count = 256, c.settings.levels.depth = 8;
    c.settings.compact = false;
    c.settings.fit.orientation = c.settings.fit.autoOrient ? info.orientation : 1;
    v4Headers(info.width, info.height, false, c.lead);
    writeU32le(c.lead + 38, info.xPpm);
    writeU32le(c.lead + 42, info.yPpm);
    c.leadSize = kV4Offset;
    return conversionChecked(c, kV4Offset + 4 * std::uint64_t{info.width} * info.height, f);
}

// A BMP of BI_JPEG or BI_PNG: the picture at bfOffBits, biSizeImage long, whose size the
// header's width and height give; converted as that picture is, with the BMP's resolution.
bool embeddedChecked(Conversion& c, std::uint64_t fileSize, Failure& f) {
    const std::uint8_t* h = c.lead;
    const auto width = static_cast<std::int32_t>(readU32le(h + 18));
    const auto height = static_cast<std::int32_t>(readU32le(h + 22));
    c.embedded = readU32le(h + 30) == 4 ? PictureFormat::Jpeg : PictureFormat::Png;
    c.embeddedAt = readU32le(h + 10), c.embeddedLength = readU32le(h + 34);
    const char* name = pictureFormatName(c.embedded);
    if (width <= 0 || height == 0) {
        f = pictureCorrupt(std::string("its header gives its ") + name + " a size of " + std::to_string(width) +
                           " x " + std::to_string(height));
        return false;
    }
    if (fileSize < static_cast<std::uint64_t>(kUnknownSize) &&
        static_cast<std::uint64_t>(c.embeddedAt) >= fileSize) {
        f = pictureCorrupt(std::string("its ") + name + " would start at " + std::to_string(c.embeddedAt) +
                           ", past the file's end");
        return false;
    }
    PictureInfo info;
    info.format = c.embedded;
    info.width = static_cast<std::uint32_t>(width);
    info.height = static_cast<std::uint32_t>(height < 0 ? -std::int64_t{height} : height);
    info.xPpm = readU32le(h + 38), info.yPpm = readU32le(h + 42);
    return pictureSizeAllowed(info, c.settings.maxPixels, f) && pictureLaidOut(c, info, f);
}

}  // namespace

bool embeddedOpened(Conversion& c, Stream& in, Failure& f) {
    const char* name = pictureFormatName(c.embedded);
    std::uint8_t signature[kSignatureSize] = {};
    const std::size_t got = streamReadAt(in, c.embeddedAt, signature, sizeof signature);
    if (in.error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", in.error);
        return false;
    }
    if (pictureFormatOf(signature, got) != c.embedded) {
        f = pictureCorrupt(std::string("its pixels are not a ") + name + " (its compression says they are)");
        return false;
    }
    c.picture.reset(new Picture);
    if (!pictureOpened(*c.picture, c.embedded, in, c.settings.maxPixels, f, c.embeddedAt)) return false;
    const PictureInfo& info = c.picture->info;
    const auto rows = static_cast<std::uint32_t>(c.layout.height < 0 ? -std::int64_t{c.layout.height} : c.layout.height);
    if (info.width != static_cast<std::uint32_t>(c.layout.width) || info.height != rows) {
        f = pictureCorrupt(std::string("its ") + name + " is " + std::to_string(info.width) + " x " +
                           std::to_string(info.height) + ", its header says " + std::to_string(c.layout.width) +
                           " x " + std::to_string(rows));
        return false;
    }
    return true;
}

bool pictureChecked(Conversion& c, Stream& in, Failure& f) {
    c.picture.reset(new Picture);
    if (!pictureOpened(*c.picture, pictureFormatOf(c.lead, c.leadSize), in, c.settings.maxPixels, f))
        return false;
    return pictureLaidOut(c, c.picture->info, f);
}

bool pictureLeadChecked(Conversion& c, const std::uint8_t* data, std::size_t n, PictureInfo& info, Failure& f) {
    std::uint64_t needed = 0;
    if (!pictureProbed(data, n, info, needed, c.settings.maxPixels, f, c.settings.fit.autoOrient)) {
        f = refusalOf(InputError::TooShort, std::string("too short for its ") + pictureFormatName(info.format) +
                                                " header: " + std::to_string(n) + " bytes; it needs " +
                                                (needed > n + 1 ? std::to_string(needed) : "more"));
        f.needed = needed;
        return false;
    }
    return f.status == GRAYBMP_OK && pictureLaidOut(c, info, f);
}

std::int64_t conversionLength(const Conversion& c, std::int64_t inputLength) {
    return c.form->length(c.layout, c.settings, inputLength);
}

bool conversionInPlace(const Conversion& c) { return c.form->inPlace(c.layout, c.settings); }

CopyFault conversionCopy(Conversion& c) {
    // A small file needs no more buffer than its own size.
    const auto size = static_cast<std::size_t>(
        std::max<std::int64_t>(c.layout.fileSize, static_cast<std::int64_t>(kMinChunkSize)));
    c.chunk = Buffer(std::max(kMinChunkSize, std::min(c.chunkSize, size)));
    CopyFault fault = c.form->copy(c);
    // A pipe is checked for the bytes its header promised once it has ended.
    if (fault == CopyFault::None && c.in != nullptr && c.layout.fileSize >= kUnknownSize &&
        c.in->position < c.layout.requiredSize)
        fault = streamFault(*c.in, *c.out);
    return fault;
}

Failure faultFailure(CopyFault fault, const Conversion& c) {
    const Settings& s = c.settings;
    switch (fault) {
    case CopyFault::WriteFailed:
        return c.pixels != nullptr
                   ? systemFailure(GRAYBMP_WRITE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot write", ECANCELED)
                   : systemFailure(GRAYBMP_WRITE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot write", c.out->error);
    case CopyFault::NoMemory:
        return noMemory();
    case CopyFault::ReadFailed:
        return systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", c.in->error);
    case CopyFault::InputShrank:
        return inputFailure(GRAYBMP_INPUT_SHRANK,
                            c.in->sequential ? "ended early, after " + std::to_string(c.in->position) +
                                                   " bytes; it needs " +
                                                   std::to_string(c.layout.requiredSize)
                                             : "ended early: the file changed while it was read");
    case CopyFault::Corrupt:
        return pictureCorrupt(c.picture != nullptr ? c.picture->fault : std::string("corrupt"));
    case CopyFault::Refused:
        return refusalOf(c.refusal.error, c.refusal.reason);
    case CopyFault::Translucent:
        if (c.picture != nullptr)
            return inputFailure(GRAYBMP_TRANSLUCENT,
                                "has pixels that are not opaque, and no background to composite them on");
        return inputFailure(GRAYBMP_TRANSLUCENT,
                            std::string("has pixels that are not opaque; ") +
                                (s.levels.count > 0 ? "the levels" : "the compact form") +
                                " would drop their alpha");
    default:
        return Failure{};
    }
}

bool conversionRan(Conversion& c, Failure& f) {
    CopyFault fault;
#if GRAYBMP_EXCEPTIONS
    try {
        fault = conversionCopy(c);
    } catch (const std::bad_alloc&) {
        fault = CopyFault::NoMemory;
    }
#else
    fault = conversionCopy(c);
#endif
    if (fault == CopyFault::None) return true;
    f = faultFailure(fault, c);
    return false;
}

}  // namespace graybmp
