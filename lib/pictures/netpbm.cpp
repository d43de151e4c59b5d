// netpbm: P1 to P6 (PBM, PGM and PPM, plain and raw) and P7 (PAM with the tuple types
// BLACKANDWHITE, GRAYSCALE, RGB and their _ALPHA forms), maxval up to 65535. Samples
// become (v x 255 + maxval div 2) div maxval; PBM's 1 is black. Rows are read one at a
// time: memory grows with the width alone.
#include <cstring>
#include <string>
#include <vector>

#include "pictures/picture.h"

namespace graybmp {
namespace {

struct Netpbm {
    char kind = 0;  // '1' to '7'
    std::uint32_t maxval = 1;
    int channels = 1;  // samples a pixel
    bool alpha = false, blackIsOne = false;
    std::uint8_t buffer[4096];
    std::size_t at = 0, end = 0;
    bool exhausted = false;  // a read found the input's end
    std::vector<std::uint8_t> raw;
};

void release(void* state) { delete static_cast<Netpbm*>(state); }

// The next byte, or -1 at the input's end.
int nextByte(Picture& p, Netpbm& n) {
    if (n.at == n.end) {
        n.at = 0;
        n.end = pictureRead(p, n.buffer, sizeof n.buffer);
        if (n.end == 0) {
            n.exhausted = true;
            return -1;
        }
    }
    return n.buffer[n.at++];
}

bool isSpace(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// The next byte that is not white space or in a comment ('#' to the line's end).
int significant(Picture& p, Netpbm& n) {
    for (;;) {
        int c = nextByte(p, n);
        if (c == '#')
            while (c != '\n' && c != '\r' && c != -1) c = nextByte(p, n);
        if (!isSpace(c)) return c;
    }
}

// A decimal number of the header or a plain raster; the byte after it is read too (it
// must be white space, or '#', or the end).
bool number(Picture& p, Netpbm& n, std::uint32_t& value, std::uint32_t limit) {
    int c = significant(p, n);
    if (c < '0' || c > '9') return false;
    std::uint64_t v = 0;
    for (; c >= '0' && c <= '9'; c = nextByte(p, n)) {
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
        if (v > limit) return false;
    }
    if (c == '#') --n.at;  // the comment is skipped with the next number
    else if (c != -1 && !isSpace(c)) return false;
    value = static_cast<std::uint32_t>(v);
    return true;
}

// P7's header: lines of a keyword and its value, up to ENDHDR.
bool pamHeader(Picture& p, Netpbm& n, Failure& f) {
    std::uint32_t width = 0, height = 0, depth = 0, maxval = 0;
    bool seen[4] = {};
    std::string tuple;
    for (;;) {
        std::string line;
        int c;
        while ((c = nextByte(p, n)) != '\n' && c != -1)
            if (line.size() < 256) line += static_cast<char>(c);
        if (c == -1) {
            f = pictureCorrupt("its PAM header has no ENDHDR");
            return false;
        }
        std::size_t b = 0;
        while (b < line.size() && isSpace(line[b])) ++b;
        if (b == line.size() || line[b] == '#') continue;
        std::size_t e = b;
        while (e < line.size() && !isSpace(line[e])) ++e;
        const std::string key = line.substr(b, e - b);
        while (e < line.size() && isSpace(line[e])) ++e;
        std::string value = line.substr(e);
        while (!value.empty() && isSpace(value.back())) value.pop_back();
        if (key == "ENDHDR") break;
        if (key == "TUPLTYPE") {
            tuple = value;
            continue;
        }
        const char* keys[] = {"WIDTH", "HEIGHT", "DEPTH", "MAXVAL"};
        std::uint32_t* fields[] = {&width, &height, &depth, &maxval};
        int k = 0;
        while (k < 4 && key != keys[k]) ++k;
        if (k == 4) continue;  // keywords of newer versions are passed over
        std::uint64_t v = 0;
        bool digits = !value.empty();
        for (const char ch : value) {
            digits = digits && ch >= '0' && ch <= '9' && (v = v * 10 + static_cast<std::uint64_t>(ch - '0')) <= 0xFFFFFFFFu;
        }
        if (!digits) {
            f = pictureCorrupt("its PAM header's " + key + " is not a number");
            return false;
        }
        *fields[k] = static_cast<std::uint32_t>(v);
        seen[k] = true;
    }
    if (!seen[0] || !seen[1] || !seen[2] || !seen[3]) {
        f = pictureCorrupt("its PAM header lacks WIDTH, HEIGHT, DEPTH or MAXVAL");
        return false;
    }
    if (maxval == 0 || maxval > 65535) {
        f = pictureCorrupt("its maxval, " + std::to_string(maxval) + ", is not 1 to 65535");
        return false;
    }
    struct Tuple {
        const char* name;
        std::uint32_t depth;
    };
    const Tuple tuples[] = {{"BLACKANDWHITE", 1}, {"GRAYSCALE", 1},      {"RGB", 3},
                            {"BLACKANDWHITE_ALPHA", 2}, {"GRAYSCALE_ALPHA", 2}, {"RGB_ALPHA", 4}};
    bool known = tuple.empty() && depth >= 1 && depth <= 4;  // no type: the depth says
    for (const Tuple& t : tuples) known = known || (tuple == t.name && depth == t.depth);
    if (!known) {
        f = pictureUnsupported("a PAM of tuple type \"" + tuple + "\" and depth " + std::to_string(depth));
        return false;
    }
    n.maxval = maxval;
    n.channels = static_cast<int>(depth);
    n.alpha = depth == 2 || depth == 4;
    p.info.width = width, p.info.height = height;
    p.info.bits = (maxval > 255 ? 16 : 8) * static_cast<int>(depth);
    return true;
}

bool open(Picture& p, Failure& f) {
    auto* n = new Netpbm;
    p.state = n, p.release = release;
    const int magic = nextByte(p, *n), kind = nextByte(p, *n);
    if (magic != 'P' || kind < '1' || kind > '7') {
        f = pictureCorrupt("not a netpbm picture");
        return false;
    }
    n->kind = static_cast<char>(kind);
    if (kind == '7') {
        if (!isSpace(nextByte(p, *n))) {
            f = pictureCorrupt("its PAM header does not start with a line of its own");
            return false;
        }
        return pamHeader(p, *n, f);
    }
    std::uint32_t width = 0, height = 0, maxval = 1;
    const bool bitmap = kind == '1' || kind == '4';
    if (!number(p, *n, width, 0xFFFFFFFFu) || !number(p, *n, height, 0xFFFFFFFFu) ||
        (!bitmap && !number(p, *n, maxval, 0xFFFFFFFFu))) {
        f = pictureCorrupt("its header's width, height or maxval is missing or not a number");
        return false;
    }
    if (maxval == 0 || maxval > 65535) {
        f = pictureCorrupt("its maxval, " + std::to_string(maxval) + ", is not 1 to 65535");
        return false;
    }
    n->maxval = maxval;
    n->channels = kind == '3' || kind == '6' ? 3 : 1;
    n->blackIsOne = bitmap;
    p.info.width = width, p.info.height = height;
    p.info.bits = bitmap ? 1 : (maxval > 255 ? 16 : 8) * n->channels;
    return true;
}

// One row's samples (width x channels of them) into `samples`, from a raw or a plain
// raster.
bool rowSamples(Picture& p, Netpbm& n, std::uint32_t* samples, std::size_t count, Failure& f) {
    const std::size_t width = p.info.width;
    if (n.kind == '4') {  // eight pixels a byte, the first in the high bit
        for (std::size_t x = 0; x < width; x += 8) {
            const int c = nextByte(p, n);
            if (c < 0) return false;
            for (std::size_t k = 0; k < 8 && x + k < width; ++k) samples[x + k] = (static_cast<unsigned>(c) >> (7 - k)) & 1;
        }
        return true;
    }
    if (n.kind == '1') {  // digits, with or without white space between
        for (std::size_t i = 0; i < count; ++i) {
            const int c = significant(p, n);
            if (c != '0' && c != '1') {
                if (c >= 0) f = pictureCorrupt("its raster holds a byte that is not 0 or 1");
                return false;
            }
            samples[i] = static_cast<std::uint32_t>(c - '0');
        }
        return true;
    }
    if (n.kind == '2' || n.kind == '3') {
        for (std::size_t i = 0; i < count; ++i) {
            std::uint32_t v = 0;
            if (!number(p, n, v, 0xFFFFFFFFu)) {
                if (n.end != 0) f = pictureCorrupt("its raster holds something other than numbers");
                return false;
            }
            samples[i] = v;
        }
        return true;
    }
    const std::size_t size = n.maxval > 255 ? 2 : 1;
    for (std::size_t i = 0; i < count; ++i) {
        const int hi = nextByte(p, n);
        const int lo = size == 2 ? nextByte(p, n) : 0;
        if (hi < 0 || lo < 0) return false;
        samples[i] = size == 2 ? static_cast<std::uint32_t>(hi << 8 | lo) : static_cast<std::uint32_t>(hi);
    }
    return true;
}

CopyFault rows(Picture& p, RowTaker next) {
    Netpbm& n = *static_cast<Netpbm*>(p.state);
    const std::size_t width = p.info.width, channels = static_cast<std::size_t>(n.channels);
    std::vector<std::uint32_t> samples(width * channels);
    std::vector<std::uint8_t> rgba(4 * width);
    for (std::uint32_t y = 0; y < p.info.height; ++y) {
        Failure f;
        if (!rowSamples(p, n, samples.data(), samples.size(), f)) {
            if (p.in->error != 0) return CopyFault::ReadFailed;
            p.fault = f.status != GRAYBMP_OK ? f.message
                                             : "it ends early, in row " + std::to_string(y) + " of " +
                                                   std::to_string(p.info.height);
            return CopyFault::Corrupt;
        }
        for (std::size_t x = 0; x < width; ++x) {
            const std::uint32_t* s = samples.data() + x * channels;
            std::uint8_t v[4] = {};
            for (std::size_t c = 0; c < channels; ++c) {
                if (s[c] > n.maxval) {
                    p.fault = "a sample, " + std::to_string(s[c]) + ", is above its maxval, " +
                              std::to_string(n.maxval);
                    return CopyFault::Corrupt;
                }
                v[c] = n.blackIsOne ? static_cast<std::uint8_t>(s[c] != 0 ? 0 : 255) : eightOfMax(s[c], n.maxval);
            }
            std::uint8_t* o = rgba.data() + 4 * x;
            const bool colour = channels >= 3;
            o[0] = v[0], o[1] = colour ? v[1] : v[0], o[2] = colour ? v[2] : v[0];
            o[3] = n.alpha ? v[channels - 1] : 255;
        }
        if (!next(rgba.data())) return CopyFault::WriteFailed;
    }
    return CopyFault::None;
}

}  // namespace

bool netpbmHeaderEnded(const Picture& p) {
    const auto* n = static_cast<const Netpbm*>(p.state);
    return n != nullptr && !n->exhausted;
}

const PictureDecoder kNetpbmDecoder = {PictureFormat::Netpbm, "netpbm", open, rows};

}  // namespace graybmp
