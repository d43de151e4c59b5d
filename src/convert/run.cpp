#include "convert/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>

#include "bitmap/bitmap.h"
#include "bitmap/check.h"
#include "convert/convert.h"
#include "platform/console.h"
#include "platform/output.h"
#include "platform/stream.h"
#include "report/report.h"

namespace graybmp {
namespace {

int fail(std::ostream& errors, const char* file, const std::string& reason) {
    closeAllStreams();
    errors << "graybmp: " << file << ": " << reason << std::endl;
    return 1;
}

std::string systemError(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error != 0 ? error : EIO);
}

// The copy goes to a temporary beside the output and replaces it only when complete.
int writeGrayCopy(Stream& in, const char* inputName, const char* outputName,
                  const std::uint8_t* lead, const ImageLayout& layout, std::ostream& errors) {
    Stream out;
    OutputFile file;
    if (!outputCreate(file, outputName, out)) {
        if (errno == EINVAL) return fail(errors, outputName, "not a regular file; not replaced");
        return fail(errors, outputName, systemError("cannot create", errno));
    }

    CopyFault fault;
    try {
        fault = copyImage(in, out, lead, layout);
    } catch (const std::bad_alloc&) {
        fault = CopyFault::WriteFailed;
        out.error = ENOMEM;
    }
    testPoint();
    const bool closed = closeAllStreams();
    if (fault == CopyFault::None && closed) {
        if (outputCommit(file)) return 0;
        const int error = errno;
        outputDiscard(file);
        return fail(errors, outputName, systemError("cannot replace", error));
    }

    outputDiscard(file);
    if (fault == CopyFault::ReadFailed)
        return fail(errors, inputName, systemError("cannot read", in.error));
    if (fault == CopyFault::InputShrank)
        return fail(errors, inputName, "ended early: the file changed while it was read");
    return fail(errors, outputName, systemError("cannot write", out.error));
}

}  // namespace

int convertFiles(const char* inputName, const char* outputName, std::ostream& report,
                 std::ostream& errors) {
    Stream in;
    if (!streamOpen(in, inputName, "rb"))
        return fail(errors, inputName, systemError("cannot open", errno));
    FileKind kind = FileKind::Other;
    std::uint64_t fileSize = 0;
    if (!streamFileKind(in, kind, fileSize))
        return fail(errors, inputName, systemError("cannot examine", in.error));
    if (kind == FileKind::Directory) return fail(errors, inputName, "is a directory");

    std::uint8_t lead[kMaxLeadSize] = {};
    std::size_t leadSize = streamReadDirect(in, lead, kHeadersSize);
    if (in.error != 0) return fail(errors, inputName, systemError("cannot read", in.error));
    ImageLayout layout{};
    if (leadSize < headerBlockSize(lead, leadSize)) {
        return fail(errors, inputName,
                    describeInputError(InputError::TooShort, lead, leadSize, leadSize));
    }

    BitmapHeaders headers{};
    std::memcpy(headers.bytes, lead, leadSize);
    printHeaderReport(headers, report);

    // Sizes and seeks need a file: a pipe or a device can be neither checked nor copied.
    if (kind != FileKind::Regular) return fail(errors, inputName, "not a regular file");
    const std::size_t leadWanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kMaxLeadSize));
    if (leadWanted > leadSize)
        leadSize += streamReadDirect(in, lead + leadSize, leadWanted - leadSize);
    if (in.error != 0) return fail(errors, inputName, systemError("cannot read", in.error));

    const InputError refusal = checkInput(lead, leadSize, fileSize, layout);
    if (refusal != InputError::None)
        return fail(errors, inputName, describeInputError(refusal, lead, leadSize, fileSize));
    if (streamIsFile(in, outputName)) {
        return fail(errors, inputName,
                    std::string("the output ") + outputName + " is this very file");
    }
    return writeGrayCopy(in, inputName, outputName, lead, layout, errors);
}

int runConversion() {
    installInterruptHandlers();
    const int status = convertFiles(kInputName, kOutputName, std::cout, std::cerr);
    waitForKey();
    return status;
}

}  // namespace graybmp
