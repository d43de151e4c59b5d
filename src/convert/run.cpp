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

int fail(std::ostream& errors, const std::string& file, const std::string& reason) {
    closeAllStreams();
    errors << "graybmp: " << file << ": " << reason << std::endl;
    return 1;
}

std::string systemError(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error != 0 ? error : EIO);
}

bool toConsole(const std::string& name) { return name == "-"; }

// How long the gray copy is: the input's length but for the compact form and the 8-bit
// kind, whose palette block and rows may reach past it.
std::int64_t outputLength(const ImageLayout& layout, bool compact, const Stream& in) {
    const std::int64_t input = layout.fileSize >= kUnknownSize ? in.position : layout.fileSize;
    if (compact && layout.kind == ImageKind::TrueColour) return compactSize(layout);
    return layout.kind == ImageKind::Indexed8 ? std::max(input, layout.tailOffset) : input;
}

// The copy goes to standard output, or to a temporary beside the output that replaces it
// only when complete.
int writeGrayCopy(Stream& in, const FileJob& job, const std::uint8_t* lead,
                  const ImageLayout& layout, std::ostream& errors, std::int64_t* written) {
    const std::string& name = job.output;
    Stream out;
    OutputFile file;
    if (toConsole(name)) {
        streamAttachConsole(out, true);
    } else if (!outputCreate(file, name.c_str(), out)) {
        if (errno == EINVAL) return fail(errors, name, "not a regular file; not replaced");
        return fail(errors, name, systemError("cannot create", errno));
    }

    CopyFault fault;
    std::string refusal;
    try {
        fault = copyImage(in, out, lead, layout, kChunkSize, job.method, job.compact, &refusal);
    } catch (const std::bad_alloc&) {
        fault = CopyFault::WriteFailed;
        out.error = ENOMEM;
    }
    testPoint();
    if (toConsole(name) && !streamClose(out) && fault == CopyFault::None)
        fault = CopyFault::WriteFailed;
    const bool closed = closeAllStreams();
    if (fault == CopyFault::None && closed) {
        if (written != nullptr) *written = outputLength(layout, job.compact, in);
        if (toConsole(name) || outputCommit(file)) return 0;
        const int error = errno;
        outputDiscard(file);
        return fail(errors, name, systemError("cannot replace", error));
    }

    outputDiscard(file);
    const std::string outName = toConsole(name) ? "standard output" : name;
    if (fault == CopyFault::ReadFailed)
        return fail(errors, job.input, systemError("cannot read", in.error));
    if (fault == CopyFault::InputShrank && in.sequential) {
        return fail(errors, job.input,
                    "ended early, after " + std::to_string(in.position) + " bytes; it needs " +
                        std::to_string(layout.requiredSize));
    }
    if (fault == CopyFault::Refused) return fail(errors, job.input, refusal);
    if (fault == CopyFault::Translucent) {
        return fail(errors, job.input,
                    "has pixels that are not opaque; --compact would drop their alpha");
    }
    if (fault == CopyFault::InputShrank)
        return fail(errors, job.input, "ended early: the file changed while it was read");
    return fail(errors, outName, systemError("cannot write", out.error));
}

// Opens the input: a file by its name, or standard input.
int openInput(Stream& in, const FileJob& job, FileKind& kind, std::uint64_t& fileSize,
              std::ostream& errors) {
    if (toConsole(job.input)) {
        streamAttachConsole(in, false);
    } else if (!streamOpen(in, job.input.c_str(), "rb")) {
        return fail(errors, job.input, systemError("cannot open", errno));
    }
    if (!streamFileKind(in, kind, fileSize))
        return fail(errors, job.input, systemError("cannot examine", in.error));
    if (kind == FileKind::Directory) return fail(errors, job.input, "is a directory");
    if (!job.pipes) return 0;
    if (kind == FileKind::Terminal) return fail(errors, job.input, "is a terminal; no image read");
    if (kind == FileKind::Pipe || toConsole(job.input)) streamMakeSequential(in);
    return 0;
}

}  // namespace

int convertFile(const FileJob& job, std::ostream& errors, std::int64_t* written) {
    if (toConsole(job.output) && consoleIsTerminal(true)) {
        return fail(errors, job.input,
                    "standard output is a terminal; image bytes are not written to it");
    }
    Stream in;
    FileKind kind = FileKind::Other;
    std::uint64_t fileSize = 0;
    if (openInput(in, job, kind, fileSize, errors) != 0) return 1;

    // A file's lead is read at once; from a pipe the report's bytes come first.
    std::uint8_t lead[kMaxLeadSize] = {};
    const std::size_t first =
        kind == FileKind::Regular && !in.sequential
            ? std::max<std::size_t>(kHeadersSize, std::min<std::uint64_t>(fileSize, kMaxLeadSize))
            : kHeadersSize;
    std::size_t leadSize = streamReadDirect(in, lead, first);
    const std::size_t block = headerBlockSize(lead, leadSize);  // more behind a bitmap array's
    if (leadSize < block && in.sequential && in.error == 0)
        leadSize += streamReadDirect(in, lead + leadSize, block - leadSize);
    if (in.error != 0) return fail(errors, job.input, systemError("cannot read", in.error));
    ImageLayout layout{};
    if (leadSize < headerBlockSize(lead, leadSize)) {
        return fail(errors, job.input,
                    describeInputError(InputError::TooShort, lead, leadSize, leadSize));
    }

    if (job.report != nullptr) {
        if (job.reportName) *job.report << "File: " << job.input << std::endl;
        // A bitmap array is described by its first bitmap, as if the file began there.
        const std::size_t at = bitmapArray(lead, leadSize) ? kArrayHeaderSize : 0;
        BitmapHeaders headers{};
        std::memcpy(headers.bytes, lead + at, std::min(leadSize - at, kHeadersSize));
        printHeaderReport(headers, *job.report);
    }

    if (in.sequential) {  // a pipe's size is known only once it has ended
        leadSize += streamReadDirect(in, lead + leadSize, kMaxLeadSize - leadSize);
        fileSize = in.ended ? leadSize : static_cast<std::uint64_t>(kUnknownSize);
    } else if (kind != FileKind::Regular) {  // sizes and seeks need a file
        return fail(errors, job.input,
                    job.pipes ? "not a regular file or a pipe" : "not a regular file");
    }
    const std::size_t leadWanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(fileSize, kMaxLeadSize));
    if (leadWanted > leadSize)
        leadSize += streamReadDirect(in, lead + leadSize, leadWanted - leadSize);
    if (in.error != 0) return fail(errors, job.input, systemError("cannot read", in.error));

    const InputError refusal = checkInput(lead, leadSize, fileSize, layout);
    if (refusal != InputError::None)
        return fail(errors, job.input, describeInputError(refusal, lead, leadSize, fileSize));
    if (job.compact &&
        (layout.arrayFirst || layout.kind == ImageKind::Rle24 || layout.bitCount == 64)) {
        return fail(errors, job.input,
                    "--compact writes 16-, 24- and 32-bit images only, not 64-bit, RLE24 or "
                    "bitmap-array ones");
    }
    if (!job.inPlace && !job.outputChecked && !toConsole(job.output) && kind == FileKind::Regular &&
        streamIsFile(in, job.output.c_str())) {
        return fail(errors, job.input, "the output " + job.output + " is this very file");
    }
    return writeGrayCopy(in, job, lead, layout, errors, written);
}

int runConversion() {
    installInterruptHandlers();
    FileJob job;
    job.input = kInputName;
    job.output = kOutputName;
    job.report = &std::cout;
    const int status = convertFile(job, std::cerr);
    waitForKey();
    return status;
}

}  // namespace graybmp
