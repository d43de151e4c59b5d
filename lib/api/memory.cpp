// Memory to memory, and in place.
#include "api/memory.h"

#include <cstring>
#include <string>
#include <vector>

#include "api/options.h"
#include "graybmp.h"

namespace graybmp {

bool checkedMemory(const void* input, std::size_t length, std::uint64_t fileSize, MemoryInput& m, Failure& f) {
    Conversion& c = m.c;
    c.leadSize = std::min(length, kMaxLeadSize);
    if (c.leadSize > 0) std::memcpy(c.lead, input, c.leadSize);
    if (leadIsPicture(c)) {  // its decoder reads the whole input
        streamAttachMemory(m.stream, input, length, false);
        c.in = &m.stream;
        return pictureChecked(c, m.stream, f);
    }
    if (!leadLongEnough(c.lead, c.leadSize, f) || !conversionChecked(c, fileSize, f)) return false;
    streamAttachMemory(m.stream, input, length, false);
    c.in = &m.stream;
    // A picture inside a BMP is opened where the whole input is given (not for its length).
    return c.embedded == PictureFormat::None || length < fileSize || embeddedOpened(c, m.stream, f);
}

namespace {

bool convertedMemory(MemoryInput& m, void* output, std::size_t capacity, Failure& f) {
    const auto size = static_cast<std::uint64_t>(m.c.outputSize);
    if (capacity < size) {
        f.status = GRAYBMP_BUFFER_TOO_SHORT;
        f.needed = size;
        f.message = "the output buffer of " + std::to_string(capacity) + " bytes is too short; " +
                    std::to_string(size) + " needed";
        return false;
    }
    Stream out;
    streamAttachMemory(out, output, static_cast<std::size_t>(size), true);
    m.c.out = &out;
    const bool ok = conversionRan(m.c, f);
    m.c.out = nullptr;
    if (ok) streamFinishMemory(out, static_cast<std::size_t>(size));
    return ok;
}

}  // namespace
}  // namespace graybmp

using namespace graybmp;

extern "C" {

graybmp_status graybmp_convert_memory(const void* input, size_t length, void* output,
                                      size_t capacity, const graybmp_options* options,
                                      size_t* written, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        MemoryInput m;
        if ((input == nullptr && length > 0) || (output == nullptr && capacity > 0)) {
            f = badArgument("no input or no output buffer");
            return;
        }
        if (!settingsOf(options, m.c.settings, f) || !checkedMemory(input, length, length, m, f)) return;
        if (!convertedMemory(m, output, capacity, f)) return;
        if (written != nullptr) *written = static_cast<std::size_t>(m.c.outputSize);
    });
}

graybmp_status graybmp_convert_in_place(void* buffer, size_t length,
                                        const graybmp_options* options, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        MemoryInput m;
        if (buffer == nullptr && length > 0) {
            f = badArgument("no buffer");
            return;
        }
        if (!settingsOf(options, m.c.settings, f)) return;
        if (m.c.settings.output.format != Format::Bmp) {
            f = badArgument("in place writes BMPs only, not another format");
            return;
        }
        if (!checkedMemory(buffer, length, length, m, f)) return;
        if (m.c.picture != nullptr && m.c.embedded == PictureFormat::None) {
            f = inputFailure(GRAYBMP_PICTURE_UNSUPPORTED,
                             "a picture of another format cannot be replaced by a BMP where it lies");
            return;
        }
        if (m.c.outputSize != static_cast<std::int64_t>(length)) {
            f.status = GRAYBMP_LENGTH_CHANGES;
            f.needed = static_cast<std::uint64_t>(m.c.outputSize);
            f.message = "the gray copy is " + std::to_string(m.c.outputSize) +
                        " bytes long, the buffer " + std::to_string(length) +
                        "; it cannot be grayed in place";
            return;
        }
        if (conversionInPlace(m.c)) {
            convertedMemory(m, buffer, length, f);
            return;
        }
        // The copy first, so that a refusal found on the way leaves the buffer as it was.
        std::vector<std::uint8_t> copy(length);
        if (convertedMemory(m, copy.data(), copy.size(), f))
            std::memcpy(buffer, copy.data(), length);
    });
}

}  // extern "C"
