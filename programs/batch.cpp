#include "batch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <unordered_set>
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
#include "walk.h"


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

using Identities = std::unordered_set<FileIdentity, FileIdentityHash>;

// Where an input's gray copy goes; a pipe's, like standard input's, to standard output
// unless the command line names it.
std::string outputOf(const Options& o, const std::string& input, bool pipe, bool picture) {
    if (o.inPlace) return input;
    if (!o.output.empty()) return o.output;
    const char* extension = outputExtension(o.gray.format, picture);
    if (!o.outputDir.empty() && input != "-")
        return nameInFolder(o.outputDir, extension != nullptr ? withExtension(input, extension) : input);
    return input == "-" || pipe ? "-" : newName(input, extension);
}

const char* const kNotReplaced = "a picture of another format cannot be replaced by a BMP under its name";

// Why the output may not be written, or empty: no input is overwritten but in place, and
// no output of this run twice.
std::string collision(const std::string& output, const Identities& inputs,
                      const Identities& written) {
    FileIdentity id;
    if (output == "-" || !fileIdentity(output, id)) return "";
    if (inputs.count(id) != 0) return "the output " + output + " is one of the inputs; not replaced";
    if (written.count(id) != 0)
        return "the output " + output + " was already written by this run; not replaced";
    return "";
}

// One input of the run, as planned before the first conversion.
struct Planned {
    std::string input, output;
    std::string folder;   // a folder under the output folder to make first, or empty
    std::string refusal;  // refused before it is read, or empty
    bool pipe = false;
};

// The inputs of the operands: each as it is, or with -r a folder's files; `inputs` gets
// every identity. A folder that cannot be read, or the output folder itself, is a line
// of its own.
std::vector<Planned> plan(const Options& o, Identities& inputs) {
    std::vector<Planned> planned;
    FileIdentity out;
    const bool haveOut = !o.outputDir.empty() && fileIdentity(o.outputDir, out);
    for (const std::string& name : o.inputs) {
        FileIdentity id;
        const PathKind kind = name == "-" ? PathKind::Missing : pathKind(name, &id);
        if (o.recursive && kind == PathKind::Directory) {
            if (haveOut && id == out) {
                planned.push_back({name, "", "", "the output folder itself; not walked"});
                continue;
            }
            std::vector<Found> found;
            std::vector<Unread> unread;
            walkFolder(name, haveOut ? &out : nullptr, found, unread, o.pictures);
            for (const Unread& u : unread) planned.push_back({u.folder, "", "", u.reason});
            for (const Found& f : found) {
                Planned p;
                p.input = f.input;
                const bool picture = isPicture(f.input);
                if (o.inPlace) {
                    p.output = f.input;
                    if (picture) p.refusal = kNotReplaced;
                } else {
                    p.folder = f.subfolder.empty() ? "" : joined(o.outputDir, f.subfolder);
                    const char* extension = outputExtension(o.gray.format, picture);
                    p.output = nameInFolder(p.folder.empty() ? o.outputDir : p.folder,
                                            extension != nullptr ? withExtension(f.input, extension) : f.input);
                }
                inputs.insert(f.id);
                planned.push_back(p);
            }
            continue;
        }
        if (kind != PathKind::Missing) inputs.insert(id);
        Planned p;
        p.input = name;
        p.pipe = kind == PathKind::Pipe;
        const bool picture = kind == PathKind::Regular && isPicture(name);
        p.output = outputOf(o, name, p.pipe, picture);
        if (o.inPlace && p.pipe) p.refusal = "a pipe cannot be replaced in place";
        if (o.inPlace && picture) p.refusal = kNotReplaced;
        planned.push_back(p);
    }
    return planned;
}

// The folders under the output folder this run made, made just before the first copy
// goes in, and removed again at the end when nothing landed in them.
struct MadeFolders {
    std::vector<std::string> made;
    std::string last;  // the folder of the copy before, there already
    bool make(const std::string& outputDir, const std::string& folder, std::string& why) {
        if (folder.empty() || folder == last) return true;
        if (pathKind(folder) == PathKind::Directory) {
            last = folder;
            return true;
        }
        // from the output folder down, each missing part
        std::vector<std::string> parts;
        for (std::string f = folder; f.size() > outputDir.size() && pathKind(f) != PathKind::Directory;) {
            parts.push_back(f);
            const std::size_t slash = f.find_last_of("/\\");
            if (slash == std::string::npos) break;
            f = f.substr(0, slash);
        }
        for (auto p = parts.rbegin(); p != parts.rend(); ++p) {
            if (!makeFolder(*p)) {
                why = "cannot make the folder " + *p + ": " + std::strerror(errno);
                return false;
            }
            made.push_back(*p);
        }
        last = folder;
        return true;
    }
    void removeEmpty() {
        for (auto p = made.rbegin(); p != made.rend(); ++p) removeEmptyFolder(*p);
    }
};

int convertAll(const Options& o) {
    Identities inputs, written;
    const std::vector<Planned> planned = plan(o, inputs);
    bool imageToStdout = false;
    for (const Planned& p : planned) imageToStdout = imageToStdout || p.output == "-";
    std::ostream& reports = imageToStdout ? std::cerr : std::cout;
    Progress progress;
    progress.enabled = planned.size() > 1 && errorsToTerminal() && !(o.report && imageToStdout);

    int status = 0;
    std::int64_t bytes = 0;
    MadeFolders folders;
    for (std::size_t i = 0; i < planned.size(); ++i) {
        const Planned& p = planned[i];
        FileJob job;
        job.input = p.input;
        job.output = p.output;
        job.report = o.report ? &reports : nullptr;
        job.reportName = true;
        job.pipes = true;
        job.folderHint = true;
        job.inPlace = o.inPlace;
        job.outputChecked = true;  // the collisions below include the input itself
        job.options = o.gray;
        if (!o.arrayName.empty()) job.options.name = o.arrayName.c_str();
        std::ostringstream errors;
        std::string refusal = p.refusal;
        if (refusal.empty() && !o.inPlace) refusal = collision(job.output, inputs, written);
        if (refusal.empty()) folders.make(o.outputDir, p.folder, refusal);
        std::int64_t length = 0;
        int result = 1;
        if (refusal.empty()) {
            result = convertFile(job, errors, &length);
        } else {
            errors << "graybmp: " << job.input << ": " << refusal << "\n";
        }
        FileIdentity id;
        if (result == 0 && job.output != "-" && fileIdentity(job.output, id)) written.insert(id);
        if (result != 0) status = 1;
        bytes += length;
        if (!errors.str().empty()) {
            eraseProgress(progress);
            std::cerr << errors.str() << std::flush;
        }
        drawProgress(progress, i + 1, planned.size(), bytes);
    }
    folders.removeEmpty();
    eraseProgress(progress);
    return status;
}

}  // namespace

// One line when GRAYBMP_CPU names no target of the pixel loops: it is ignored.
void warnOfUnknownCpu() {
    const char* wanted = std::getenv("GRAYBMP_CPU");
    if (wanted == nullptr || graybmp_cpu_known(wanted) != 0) return;
    std::string names;
    for (std::size_t i = 0; graybmp_cpu_name(i) != nullptr; ++i)
        names += std::string(i == 0 ? "" : ", ") + graybmp_cpu_name(i);
    std::cerr << "graybmp: GRAYBMP_CPU=" << wanted << " is not a target (" << names
              << "); ignored" << std::endl;
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
