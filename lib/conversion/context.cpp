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

bool conversionChecked(Conversion& c, std::uint64_t fileSize, Failure& f) {
    const InputError e = checkInput(c.lead, c.leadSize, fileSize, c.layout);
    if (e != InputError::None) {
        f = refusalOf(e, describeInputError(e, c.lead, c.leadSize, fileSize));
        return false;
    }
    c.form = &formOf(c.layout, c.settings);
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
    if (c.settings.levels.count == 0) c.settings.levels = kCompactLevels;
    c.settings.compact = false;
    v4Headers(info.width, info.height, false, c.lead);
    writeU32le(c.lead + 38, info.xPpm);
    writeU32le(c.lead + 42, info.yPpm);
    c.leadSize = kV4Offset;
    return conversionChecked(c, kV4Offset + 4 * std::uint64_t{info.width} * info.height, f);
}

}  // namespace

bool pictureChecked(Conversion& c, Stream& in, Failure& f) {
    c.picture.reset(new Picture);
    if (!pictureOpened(*c.picture, pictureFormatOf(c.lead, c.leadSize), in, c.settings.maxPixels, f))
        return false;
    return pictureLaidOut(c, c.picture->info, f);
}

bool pictureLeadChecked(Conversion& c, const std::uint8_t* data, std::size_t n, PictureInfo& info, Failure& f) {
    std::uint64_t needed = 0;
    if (!pictureProbed(data, n, info, needed, c.settings.maxPixels, f)) {
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
