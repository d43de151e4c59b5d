// Conversions through streams: a file by its name or a caller's reader in, a file or a
// caller's writer out (or the file in place), the output put in place only when complete.
#include "api/jobs.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <string>

#include "api/header.h"
#include "api/options.h"
#include "platform/output.h"

namespace graybmp {
namespace {

struct Hooks {
    graybmp_hooks h{};
    void header(const graybmp_header& header) const {
        if (h.header != nullptr) h.header(h.context, &header);
    }
    void beforeRename() const {
        if (h.before_rename != nullptr) h.before_rename(h.context);
    }
};

}  // namespace

bool inputOpened(const graybmp_job& job, Input& in, Failure& f) {
    if (job.input == nullptr) {
        std::int64_t length = -1;
        streamAttachReader(in.stream, job.reader, job.lead, job.lead_length, length);
        in.kind = in.stream.sequential ? FileKind::Pipe : FileKind::Regular;
        in.fileSize = length < 0 ? 0 : static_cast<std::uint64_t>(length);
        return true;
    }
    if (!streamOpen(in.stream, job.input, "rb")) {
        f = errno == EISDIR  // where a folder cannot be opened at all (Windows)
                ? inputFailure(GRAYBMP_INPUT_IS_DIRECTORY, "is a directory")
                : systemFailure(GRAYBMP_OPEN_FAILED, GRAYBMP_SIDE_INPUT, "cannot open", errno);
        return false;
    }
    if (!streamFileKind(in.stream, in.kind, in.fileSize)) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot examine", in.stream.error);
        return false;
    }
    if (in.kind == FileKind::Directory) {
        f = inputFailure(GRAYBMP_INPUT_IS_DIRECTORY, "is a directory");
        return false;
    }
    if (job.refuse_pipes != 0) return true;
    if (in.kind == FileKind::Terminal) {
        f = inputFailure(GRAYBMP_INPUT_IS_TERMINAL, "is a terminal; no image read");
        return false;
    }
    if (in.kind == FileKind::Pipe) streamMakeSequential(in.stream);
    return true;
}

bool inputChecked(const graybmp_job& job, void (*headerHook)(void* context, const graybmp_header* h),
                  void* context, Input& in, Failure& f) {
    Stream& st = in.stream;
    std::uint8_t* lead = in.c.lead;
    std::size_t& leadSize = in.c.leadSize;
    const std::size_t first =
        in.kind == FileKind::Regular && !st.sequential
            ? std::max<std::size_t>(kHeadersSize, static_cast<std::size_t>(std::min<std::uint64_t>(in.fileSize, kMaxLeadSize)))
            : kHeadersSize;
    leadSize = streamReadDirect(st, lead, first);
    const std::size_t block = headerBlockSize(lead, leadSize);  // more behind an array's
    if (leadSize < block && st.sequential && st.error == 0)
        leadSize += streamReadDirect(st, lead + leadSize, block - leadSize);
    if (st.error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", st.error);
        return false;
    }
    if (leadIsPicture(in.c)) {
        if (in.kind != FileKind::Regular && !st.sequential) {
            f = inputFailure(GRAYBMP_INPUT_NOT_REGULAR, "not a regular file or a pipe");
            return false;
        }
        const bool ok = pictureChecked(in.c, st, f);
        // The report once the decoder has read the size, refused or not.
        const PictureInfo& info = in.c.picture->info;
        if (headerHook != nullptr && (ok || info.width != 0 || info.height != 0)) {
            graybmp_header header;
            pictureHeader(in.c, st.sequential ? -1 : static_cast<std::int64_t>(in.fileSize), header);
            headerHook(context, &header);
        }
        return ok;
    }
    if (!leadLongEnough(lead, leadSize, f)) return false;
    if (headerHook != nullptr) {
        graybmp_header header;
        fillHeader(lead, leadSize, header);
        headerHook(context, &header);
    }

    if (st.sequential) {  // a pipe's size is known only once it has ended
        leadSize += streamReadDirect(st, lead + leadSize, kMaxLeadSize - leadSize);
        in.fileSize = st.ended ? leadSize : static_cast<std::uint64_t>(kUnknownSize);
    } else if (in.kind != FileKind::Regular) {  // sizes and seeks need a file
        f = inputFailure(GRAYBMP_INPUT_NOT_REGULAR,
                         job.refuse_pipes != 0 ? "not a regular file" : "not a regular file or a pipe");
        return false;
    }
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(in.fileSize, kMaxLeadSize));
    if (wanted > leadSize)
        leadSize += streamReadDirect(st, lead + leadSize, wanted - leadSize);
    if (st.error != 0) {
        f = systemFailure(GRAYBMP_READ_FAILED, GRAYBMP_SIDE_INPUT, "cannot read", st.error);
        return false;
    }
    return conversionChecked(in.c, in.fileSize, f) &&
           (in.c.embedded == PictureFormat::None || embeddedOpened(in.c, st, f));
}

namespace {

bool outputOpened(const graybmp_job& job, const Hooks& hooks, const char* name, Stream& out,
                  OutputFile& file, Failure& f) {
    if (name == nullptr) {
        streamAttachWriter(out, job.writer);
        return true;
    }
    file.told = [](void* context, const char* temporary, bool made) {
        const graybmp_hooks& h = *static_cast<const graybmp_hooks*>(context);
        if (made && h.temporary_made != nullptr) h.temporary_made(h.context, temporary);
        if (!made && h.temporary_gone != nullptr) h.temporary_gone(h.context, temporary);
    };
    file.context = const_cast<graybmp_hooks*>(&hooks.h);
    if (outputCreate(file, name, out)) return true;
    if (errno == EINVAL) {
        f.status = GRAYBMP_OUTPUT_NOT_REGULAR;
        f.side = GRAYBMP_SIDE_OUTPUT;
        f.message = "not a regular file; not replaced";
    } else {
        f = systemFailure(GRAYBMP_CREATE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot create", errno);
    }
    return false;
}

graybmp_status runJob(graybmp_job& job, const Settings& s, Failure& f) {
    Hooks hooks;
    hooks.h = known(job.hooks, graybmp_hooks{});
    Input in;
    in.c.settings = s;
    const auto header = [](void* context, const graybmp_header* h) {
        static_cast<const Hooks*>(context)->header(*h);
    };
    if (!inputOpened(job, in, f) || !inputChecked(job, header, &hooks, in, f)) {
        streamClose(in.stream);
        return f.status;
    }
    if (job.in_place != 0 && in.c.picture != nullptr && in.c.embedded == PictureFormat::None) {
        streamClose(in.stream);
        f = inputFailure(GRAYBMP_PICTURE_UNSUPPORTED,
                         "a picture of another format cannot be replaced by a BMP under its name");
        return f.status;
    }
    const char* name = job.in_place != 0 ? job.input : job.output;
    if (job.in_place == 0 && job.output_checked == 0 && job.input != nullptr && name != nullptr &&
        in.kind == FileKind::Regular && streamIsFile(in.stream, name)) {
        streamClose(in.stream);
        f = inputFailure(GRAYBMP_OUTPUT_IS_INPUT,
                         std::string("the output ") + name + " is this very file");
        return f.status;
    }
    Stream out;
    OutputFile file;
    if (!outputOpened(job, hooks, name, out, file, f)) {
        streamClose(in.stream);
        return f.status;
    }
    in.c.in = &in.stream;
    in.c.out = &out;
    bool ok = conversionRan(in.c, f);
    if (!streamClose(out) && ok) {
        ok = false;
        f = systemFailure(GRAYBMP_WRITE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot write", out.error);
    }
    streamClose(in.stream);
    if (!ok) {
        outputDiscard(file);
        return f.status;
    }
    if (name != nullptr) {
        hooks.beforeRename();
        if (!outputCommit(file)) {
            const int error = errno;
            outputDiscard(file);
            f = systemFailure(GRAYBMP_REPLACE_FAILED, GRAYBMP_SIDE_OUTPUT, "cannot replace", error);
            return f.status;
        }
    }
    const std::int64_t inputSize = in.fileSize >= static_cast<std::uint64_t>(kUnknownSize)
                                       ? in.stream.position
                                       : static_cast<std::int64_t>(in.fileSize);
    job.written = static_cast<std::uint64_t>(conversionLength(in.c, inputSize));
    return GRAYBMP_OK;
}

}  // namespace
}  // namespace graybmp

using namespace graybmp;

extern "C" {

void graybmp_job_init(graybmp_job* job) {
    if (job == nullptr) return;
    *job = graybmp_job{};
    job->size = sizeof(graybmp_job);
}

}  // extern "C"

namespace graybmp {
namespace {

graybmp_status convertJob(graybmp_job* given, const graybmp_options* options, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        if (given == nullptr) {
            f = badArgument("no job");
            return;
        }
        graybmp_job job = known(given, graybmp_job{});
        const bool input = (job.input != nullptr) != (job.reader != nullptr && job.reader->read != nullptr);
        const bool output = job.in_place != 0
                                ? job.input != nullptr && job.output == nullptr && job.writer == nullptr
                                : (job.output != nullptr) !=
                                      (job.writer != nullptr && job.writer->write != nullptr);
        if (!input || !output) {
            f = badArgument(job.in_place != 0
                                ? "in place takes an input file's name and no output"
                                : "a job takes one input (a name or a reader with read) and one "
                                  "output (a name or a writer with write)");
            return;
        }
        if (!settingsOf(options, s, f)) return;
        if (job.in_place != 0 && s.output.format != Format::Bmp) {
            f = badArgument("in place writes BMPs only, not another format");
            return;
        }
        // A C header's or an X bitmap's array is named for its file, unless the options name it.
        if ((s.output.format == Format::C || s.output.format == Format::Xbm) && s.output.name.empty() && job.output != nullptr &&
            std::string(job.output) != "-")
            s.output.name = identifierOfPath(job.output);
        runJob(job, s, f);
        if (f.status == GRAYBMP_OK && given->size >= offsetof(graybmp_job, written) + sizeof(uint64_t))
            given->written = job.written;
    });
}

graybmp_job jobOf(const graybmp_hooks* hooks) {
    graybmp_job job{};
    job.size = sizeof job;
    job.hooks = hooks;
    return job;
}

}  // namespace
}  // namespace graybmp

extern "C" {

graybmp_status graybmp_convert(graybmp_job* job, const graybmp_options* options, graybmp_error* error) {
    return convertJob(job, options, error);
}

graybmp_status graybmp_convert_stream(const graybmp_reader* reader, const void* lead,
                                      size_t lead_length, const graybmp_writer* writer,
                                      const graybmp_options* options, const graybmp_hooks* hooks,
                                      graybmp_error* error) {
    graybmp_job job = jobOf(hooks);
    job.reader = reader;
    job.lead = lead;
    job.lead_length = lead != nullptr ? lead_length : 0;
    job.writer = writer;
    if (reader == nullptr || writer == nullptr) {
        return deliver(badArgument("no reader or no writer"), error);
    }
    return convertJob(&job, options, error);
}

graybmp_status graybmp_convert_file(const char* input, const char* output,
                                    const graybmp_options* options, const graybmp_hooks* hooks,
                                    graybmp_error* error) {
    if (input == nullptr) return deliver(badArgument("no input file's name"), error);
    graybmp_job job = jobOf(hooks);
    job.input = input;
    job.output = output;
    job.in_place = output == nullptr;
    return convertJob(&job, options, error);
}

}  // extern "C"
