#include "library.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace graybmp::test {
namespace {

// The options of a method by its name, as a program would set them.
graybmp_options optionsOf(Method method, bool compact) {
    graybmp_options o;
    graybmp_options_init(&o);
    graybmp_options_set_method(&o, methodName(method), nullptr);
    o.compact = compact;
    return o;
}

// An input read and an output written through callbacks, `piece` bytes a call at most.
struct Pipe {
    const Bytes* in = nullptr;
    Bytes out;
    std::size_t at = 0, piece = 0;
};

long long pipeRead(void* context, void* buffer, std::size_t count) {
    Pipe& p = *static_cast<Pipe*>(context);
    const std::size_t n = std::min({count, p.piece, p.in->size() - std::min(p.at, p.in->size())});
    if (n > 0) std::memcpy(buffer, p.in->data() + p.at, n);
    p.at += n;
    return static_cast<long long>(n);
}

long long pipeWrite(void* context, const void* data, std::size_t count) {
    Pipe& p = *static_cast<Pipe*>(context);
    const std::size_t n = std::min(count, p.piece);
    if (p.out.size() < p.at + n) p.out.resize(p.at + n);
    if (n > 0) std::memcpy(p.out.data() + p.at, data, n);
    p.at += n;
    return static_cast<long long>(n);
}

int pipeSeek(void* context, std::uint64_t offset) {
    Pipe& p = *static_cast<Pipe*>(context);
    p.at = static_cast<std::size_t>(offset);
    if (p.in == nullptr && p.out.size() < p.at) p.out.resize(p.at);  // zeros in between
    return 0;
}

long long pipeLength(void* context) {
    return static_cast<long long>(static_cast<Pipe*>(context)->in->size());
}

LibraryCopy throughCallbacks(const Bytes& input, const graybmp_options& o, std::size_t piece,
                             bool positioned, std::size_t lead) {
    Pipe in, out;
    in.in = &input, in.piece = piece, out.piece = piece + 1;
    in.at = positioned ? 0 : lead;
    graybmp_reader reader{&in, pipeRead, positioned ? pipeSeek : nullptr,
                          positioned ? pipeLength : nullptr};
    graybmp_writer writer{&out, pipeWrite, positioned ? pipeSeek : nullptr};
    graybmp_error e{};
    const graybmp_status s = graybmp_convert_stream(&reader, input.data(), lead, &writer, &o,
                                                    nullptr, &e);
    return {std::string(positioned ? "callbacks at offsets" : "callbacks in order") +
                ", pieces of " + std::to_string(piece) + ", lead " + std::to_string(lead),
            s, e.message, out.out};
}

}  // namespace

std::vector<LibraryCopy> libraryCopies(const Bytes& input, Method method, bool compact,
                                       const std::string& folder) {
    return libraryCopies(input, optionsOf(method, compact), folder);
}

std::vector<LibraryCopy> libraryCopies(const Bytes& input, const graybmp_options& o, const std::string& folder) {
    std::vector<LibraryCopy> copies;
    graybmp_error e{};

    std::uint64_t length = 0, ahead = 0;
    graybmp_status s = graybmp_output_length(input.data(), input.size(), &o, &length, &e);
    // The same length (or refusal) from the first bytes alone, as a stream's caller asks:
    // more of them while it says how many it needs (a picture's header may lie further).
    std::size_t given = std::min<std::size_t>(input.size(), GRAYBMP_HEADER_BYTES);
    graybmp_error short_{};
    graybmp_status first;
    while ((first = graybmp_stream_output_length(input.data(), given, input.size(), &o, &ahead, &short_)) ==
               GRAYBMP_TOO_SHORT &&
           short_.needed > given && short_.needed <= input.size())
        given = static_cast<std::size_t>(short_.needed);
    const bool aheadAgrees = first == s && ahead == length;
    Bytes memory(s == GRAYBMP_OK ? static_cast<std::size_t>(length) : 0);
    std::size_t written = 0;
    s = graybmp_convert_memory(input.data(), input.size(), memory.data(), memory.size(), &o,
                               &written, &e);
    if (!aheadAgrees || (s == GRAYBMP_OK && written != memory.size())) s = GRAYBMP_BAD_ARGUMENT;
    copies.push_back({"memory", s, e.message, memory});

    Bytes buffer = input;
    s = graybmp_convert_in_place(buffer.data(), buffer.size(), &o, &e);
    const bool picture = graybmp_picture_kind(input.data(), input.size()) != GRAYBMP_KIND_NONE;
    if (o.format != GRAYBMP_FORMAT_BMP) {  // in place writes BMPs only
        if (s != GRAYBMP_BAD_ARGUMENT || buffer != input) copies.push_back({"in place", GRAYBMP_BAD_ARGUMENT, "not refused", buffer});
    } else if (s != GRAYBMP_LENGTH_CHANGES && !(picture && s == GRAYBMP_PICTURE_UNSUPPORTED)) {
        if (s != GRAYBMP_OK && buffer != input) s = GRAYBMP_BAD_ARGUMENT;  // changed though refused
        copies.push_back({"in place", s, e.message, buffer});
    }

    const std::size_t lead = std::min<std::size_t>(input.size(), 60);
    copies.push_back(throughCallbacks(input, o, 1 << 20, false, 0));
    copies.push_back(throughCallbacks(input, o, 7, false, lead));
    copies.push_back(throughCallbacks(input, o, 1000, true, 0));

    const std::string in = folder + "/library-in.bmp", out = folder + "/library-out.bmp";
    const Bytes earlier = {'o', 'l', 'd'};
    writeFile(in, input);
    writeFile(out, earlier);
    s = graybmp_convert_file(in.c_str(), out.c_str(), &o, nullptr, &e);
    if (s != GRAYBMP_OK && readFile(out) != earlier) s = GRAYBMP_BAD_ARGUMENT;  // output lost
    copies.push_back({"file", s, e.message, s == GRAYBMP_OK ? readFile(out) : Bytes{}});
    std::remove(in.c_str());
    std::remove(out.c_str());
    return copies;
}

std::string libraryProblem(const Bytes& input, Method method, bool compact,
                           const std::string& folder, const Bytes* expected) {
    return libraryProblem(input, optionsOf(method, compact), folder, expected);
}

std::string libraryProblem(const Bytes& input, const graybmp_options& options, const std::string& folder,
                           const Bytes* expected) {
    const std::vector<LibraryCopy> copies = libraryCopies(input, options, folder);
    for (const LibraryCopy& c : copies) {
        if (expected != nullptr && c.status != GRAYBMP_OK)
            return c.path + ": " + graybmp_status_name(c.status) + ": " + c.message;
        if (expected != nullptr && c.output != *expected)
            return c.path + ": not the tool's bytes (" + std::to_string(c.output.size()) +
                   " bytes, not " + std::to_string(expected->size()) + ")";
        if (expected == nullptr && c.status == GRAYBMP_OK) return c.path + ": not refused";
        // Refused everywhere alike; a pipe may find an input's end only as it goes.
        if (expected == nullptr && c.status != copies[0].status &&
            c.status != GRAYBMP_INPUT_SHRANK && c.status != GRAYBMP_ARRAY_BEHIND_PIPE)
            return c.path + ": " + graybmp_status_name(c.status) + ", memory: " +
                   graybmp_status_name(copies[0].status);
    }
    return "";
}

}  // namespace graybmp::test
