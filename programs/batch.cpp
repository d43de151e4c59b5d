#include "batch.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "files.h"
#include "interrupt.h"
#include "naming.h"
#include "options.h"
#include "run.h"


namespace graybmp {
namespace {

// One line on standard error, redrawn in place at most ten times a second while several
// inputs are converted, and erased at the end. Drawn only on a terminal.
struct Progress {
    bool shown = false, enabled = false;
    std::size_t width = 0;
    std::chrono::steady_clock::time_point last{};
};

void eraseProgress(Progress& p) {
    if (!p.shown) return;
    std::cerr << '\r' << std::string(p.width, ' ') << '\r' << std::flush;
    p.shown = false;
}

void drawProgress(Progress& p, std::size_t done, std::size_t total, std::int64_t bytes) {
    const auto now = std::chrono::steady_clock::now();
    if (!p.enabled || (p.shown && now - p.last < std::chrono::milliseconds(100))) return;
    char line[96];
    std::snprintf(line, sizeof line, "graybmp: %zu of %zu files, %.1f MiB written", done, total,
                  static_cast<double>(bytes) / 1048576.0);
    const std::string text = line;
    std::cerr << '\r' << text << std::string(p.width > text.size() ? p.width - text.size() : 0, ' ')
              << '\r' << std::flush;
    p.width = text.size();
    p.shown = true;
    p.last = now;
}

bool contains(const std::vector<FileIdentity>& ids, const FileIdentity& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

// Where an input's gray copy goes; a pipe's, like standard input's, to standard output
// unless the command line names it.
std::string outputOf(const Options& o, const std::string& input, bool pipe) {
    if (o.inPlace) return input;
    if (!o.output.empty()) return o.output;
    if (!o.outputDir.empty() && input != "-") return nameInFolder(o.outputDir, input);
    return input == "-" || pipe ? "-" : newName(input);
}

// Why the output may not be written, or empty: no input is overwritten but in place, and
// no output of this run twice.
std::string collision(const std::string& output, const std::vector<FileIdentity>& inputs,
                      const std::vector<FileIdentity>& written) {
    FileIdentity id;
    if (output == "-" || !fileIdentity(output, id)) return "";
    if (contains(inputs, id)) return "the output " + output + " is one of the inputs; not replaced";
    if (contains(written, id))
        return "the output " + output + " was already written by this run; not replaced";
    return "";
}

int convertAll(const Options& o) {
    std::vector<FileIdentity> inputs, written;
    std::vector<bool> pipes;
    std::vector<std::string> outputs;
    bool imageToStdout = false;
    for (const std::string& name : o.inputs) {
        FileIdentity id;
        const PathKind kind = name == "-" ? PathKind::Missing : pathKind(name, &id);
        if (kind != PathKind::Missing) inputs.push_back(id);
        pipes.push_back(kind == PathKind::Pipe);
        outputs.push_back(outputOf(o, name, pipes.back()));
        imageToStdout = imageToStdout || outputs.back() == "-";
    }
    std::ostream& reports = imageToStdout ? std::cerr : std::cout;
    Progress progress;
    progress.enabled = o.inputs.size() > 1 && errorsToTerminal() && !(o.report && imageToStdout);

    int status = 0;
    std::int64_t bytes = 0;
    for (std::size_t i = 0; i < o.inputs.size(); ++i) {
        FileJob job;
        job.input = o.inputs[i];
        job.output = outputs[i];
        job.report = o.report ? &reports : nullptr;
        job.reportName = true;
        job.pipes = true;
        job.inPlace = o.inPlace;
        job.outputChecked = true;  // the collisions below include the input itself
        job.options = o.gray;
        std::ostringstream errors;
        std::string refusal = o.inPlace ? "" : collision(job.output, inputs, written);
        if (o.inPlace && pipes[i]) refusal = "a pipe cannot be replaced in place";
        std::int64_t length = 0;
        int result = 1;
        if (refusal.empty()) {
            result = convertFile(job, errors, &length);
        } else {
            errors << "graybmp: " << job.input << ": " << refusal << "\n";
        }
        FileIdentity id;
        if (result == 0 && job.output != "-" && fileIdentity(job.output, id)) written.push_back(id);
        if (result != 0) status = 1;
        bytes += length;
        if (!errors.str().empty()) {
            eraseProgress(progress);
            std::cerr << errors.str() << std::flush;
        }
        drawProgress(progress, i + 1, o.inputs.size(), bytes);
    }
    eraseProgress(progress);
    return status;
}

}  // namespace

// One line when GRAYBMP_CPU names no variant of the pixel loops: it is ignored.
void warnOfUnknownCpu() {
    const char* wanted = std::getenv("GRAYBMP_CPU");
    if (wanted != nullptr && graybmp_cpu_known(wanted) == 0)
        std::cerr << "graybmp: GRAYBMP_CPU=" << wanted
                  << " is not avx512, avx2 or baseline; ignored" << std::endl;
}

int runCommandLine(int argc, char** argv) {
    warnOfUnknownCpu();
    if (argc <= 1) return runConversion();
    Options options;
    std::string error;
    if (!parseOptions(commandLineArguments(argc, argv), options, error)) {
        std::cerr << "graybmp: " << error << "\nTry 'graybmp --help' for more information."
                  << std::endl;
        return 2;
    }
    if (options.help) {
        std::cout << usageText() << std::flush;
        return 0;
    }
    if (options.version) {
        std::cout << "graybmp " << graybmp_version() << std::endl;
        return 0;
    }
    installInterruptHandlers();
    return convertAll(options);
}

}  // namespace graybmp
