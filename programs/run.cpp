#include "run.h"

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <string>

#include "console.h"
#include "interrupt.h"
#include "messages.h"
#include "report.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

namespace graybmp {
namespace {

bool toConsole(const std::string& name) { return name == "-"; }

// Standard input and output as the library's reader and writer: pipes, read and written
// in order.
long long readInput(void*, void* buffer, std::size_t count) {
#ifdef _WIN32
    return _read(0, buffer, static_cast<unsigned>(count < (1u << 30) ? count : 1u << 30));
#else
    for (;;) {
        const ssize_t n = read(STDIN_FILENO, buffer, count);
        if (n >= 0 || errno != EINTR) return n;
    }
#endif
}

long long writeOutput(void*, const void* data, std::size_t count) {
#ifdef _WIN32
    return _write(1, data, static_cast<unsigned>(count < (1u << 30) ? count : 1u << 30));
#else
    for (;;) {
        const ssize_t n = write(STDOUT_FILENO, data, count);
        if (n >= 0 || errno != EINTR) return n;
    }
#endif
}

struct Report {
    const FileJob* job;
};

void printReport(void* context, const graybmp_header* header) {
    const FileJob& job = *static_cast<Report*>(context)->job;
    if (job.reportName) *job.report << "File: " << job.input << std::endl;
    printHeaderReport(*header, *job.report);
}

}  // namespace

int convertFile(const FileJob& job, std::ostream& errors, std::int64_t* written) {
    const auto fail = [&](const std::string& file, const std::string& reason) {
        errors << "graybmp: " << file << ": " << reason << std::endl;
        return 1;
    };
    if (toConsole(job.output) && consoleIsTerminal(true))
        return fail(job.input, "standard output is a terminal; image bytes are not written to it");
    if (toConsole(job.input) && job.pipes && consoleIsTerminal(false))
        return fail(job.input, "is a terminal; no image read");

    Report report{&job};
    const graybmp_hooks hooks =
        interruptHooks(job.report != nullptr ? printReport : nullptr, &report);
    const graybmp_reader in{nullptr, readInput, nullptr, nullptr};
    const graybmp_writer out{nullptr, writeOutput, nullptr};
    graybmp_job j;
    graybmp_job_init(&j);
    j.hooks = &hooks;
    j.in_place = job.inPlace;
    j.refuse_pipes = !job.pipes;
    j.output_checked = job.outputChecked;
    if (toConsole(job.input)) {
#ifdef _WIN32
        _setmode(0, _O_BINARY);
#endif
        j.reader = &in;
    } else {
        j.input = job.input.c_str();
    }
    if (toConsole(job.output)) {
        std::fflush(stdout);
#ifdef _WIN32
        _setmode(1, _O_BINARY);
#endif
        j.writer = &out;
    } else if (!job.inPlace) {
        j.output = job.output.c_str();
    }

    graybmp_error error;
    if (graybmp_convert(&j, &job.options, &error) == GRAYBMP_OK) {
        if (written != nullptr) *written = static_cast<std::int64_t>(j.written);
        return 0;
    }
    if (error.status == GRAYBMP_INPUT_IS_DIRECTORY && job.folderHint)
        return fail(job.input, std::string(error.message) +
                                   " (use -r with -d or -i to convert the BMPs in it)");
    if (error.side != GRAYBMP_SIDE_OUTPUT) return fail(job.input, toolWords(error.message));
    return fail(toConsole(job.output) ? "standard output" : job.output, toolWords(error.message));
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
