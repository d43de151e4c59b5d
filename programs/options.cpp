#include "options.h"

#include <getopt.h>

#include <algorithm>
#include <cstring>

#include "files.h"
#include "messages.h"

namespace graybmp {
namespace {

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"output-dir", required_argument, nullptr, 'd'},
    {"in-place", no_argument, nullptr, 'i'},
    {"method", required_argument, nullptr, 'm'},
    {"recursive", no_argument, nullptr, 'r'},
    {"report", no_argument, nullptr, 'R'},
    {"pictures", no_argument, nullptr, 'p'},
    {"compact", no_argument, nullptr, 'c'},
    {"levels", required_argument, nullptr, 'L'},
    {"depth", required_argument, nullptr, 'D'},
    {"dither", required_argument, nullptr, 'T'},
    {"serpentine", no_argument, nullptr, 'S'},
    {"strength", required_argument, nullptr, 'G'},
    {"input-range", required_argument, nullptr, 'I'},
    {"normalize", no_argument, nullptr, 'Z'},
    {"gamma", required_argument, nullptr, 'g'},
    {"negate", no_argument, nullptr, 'N'},
    {"grays", required_argument, nullptr, 'Y'},
    {"threshold", required_argument, nullptr, 'H'},
    {"linear", no_argument, nullptr, 'l'},
    {"format", required_argument, nullptr, 'F'},
    {"bit-order", required_argument, nullptr, 'b'},
    {"packing", required_argument, nullptr, 'k'},
    {"row-align", required_argument, nullptr, 'a'},
    {"name", required_argument, nullptr, 'n'},
    {"full-palette", no_argument, nullptr, 'f'},
    {"rows", required_argument, nullptr, 'w'},
    {"index-order", required_argument, nullptr, 'x'},
    {"size", required_argument, nullptr, 'z'},
    {"fit", required_argument, nullptr, 'j'},
    {"filter", required_argument, nullptr, 'q'},
    {"rotate", required_argument, nullptr, 't'},
    {"no-auto-orient", no_argument, nullptr, 'u'},
    {"background", required_argument, nullptr, 'B'},
    {"max-pixels", required_argument, nullptr, 'P'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
constexpr const char* kShortOptions = ":o:d:irm:hV";  // ':' first: a missing argument is told apart

// Options added after others that share their first letters, by when they came: a
// shortened option that named one of the options before alone still names it (--l is
// --levels, not ambiguous with --linear; --no is --normalize, not --no-auto-orient).
const char* const kLaterOptions[] = {"normalize", "gamma",   "linear",       "format", "bit-order",
                                     "packing",   "row-align", "name", "full-palette", "rows", "index-order"};
const char* const kLatestOptions[] = {"size", "fit", "filter", "rotate", "no-auto-orient"};

// A word of `words` (the first is 0), or -1.
int wordOf(const char* text, std::initializer_list<const char*> words) {
    int i = 0;
    for (const char* w : words) {
        if (std::string(text) == w) return i;
        ++i;
    }
    return -1;
}

// The options that take one word of a list: each word's value in the options (its place
// in the list where `values` is empty), and what the usage error says they take.
struct WordOption {
    int code;
    const char* name;
    int graybmp_options::*field;
    std::initializer_list<const char*> words;
    std::initializer_list<int> values;
    const char* takes;
};
const WordOption kWordOptions[] = {
    {'F', "--format", &graybmp_options::format, {"bmp", "raw", "c", "xbm", "pbm", "pgm"}, {},
     "bmp, raw, c, xbm, pbm or pgm"},
    {'b', "--bit-order", &graybmp_options::bit_order, {"msb", "lsb"}, {GRAYBMP_BIT_ORDER_MSB, GRAYBMP_BIT_ORDER_LSB},
     "msb or lsb"},
    {'k', "--packing", &graybmp_options::packing, {"rows", "pages", "planes"}, {}, "rows, pages or planes"},
    {'a', "--row-align", &graybmp_options::row_align, {"1", "2", "4"}, {1, 2, 4}, "1, 2 or 4 bytes"},
    {'w', "--rows", &graybmp_options::rows, {"top-down", "bottom-up"}, {GRAYBMP_ROWS_TOP_DOWN, GRAYBMP_ROWS_BOTTOM_UP},
     "top-down or bottom-up"},
    {'x', "--index-order", &graybmp_options::index_order, {"black-first", "white-first"}, {},
     "black-first or white-first"},
    {'t', "--rotate", &graybmp_options::rotate, {"0", "90", "180", "270", "auto"}, {0, 90, 180, 270, GRAYBMP_ROTATE_AUTO},
     "90, 180, 270 or auto"},
};

// The word option of `code`, or null.
const WordOption* wordOption(int code) {
    for (const WordOption& w : kWordOptions)
        if (w.code == code) return &w;
    return nullptr;
}

// `text` as the word option's value into `options`; false with the usage error.
bool takeWord(const WordOption& w, const char* text, graybmp_options& options, std::string& error) {
    const int i = wordOf(text, w.words);
    if (i < 0) {
        error = std::string(w.name) + " takes " + w.takes + ", not '" + text + "'";
        return false;
    }
    options.*w.field = w.values.size() == 0 ? i : w.values.begin()[i];
    return true;
}

// When an option came: 0 with the first, 1 and 2 later.
int generationOf(const char* name) {
    for (const char* l : kLatestOptions)
        if (std::string(name) == l) return 2;
    for (const char* l : kLaterOptions)
        if (std::string(name) == l) return 1;
    return 0;
}

// `arg` with a shortened earlier option written out, where the later ones made it ambiguous.
std::string earlierNamed(const std::string& arg) {
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) return arg;
    const std::size_t equals = arg.find('=');
    const std::string given = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
    const option* earlier = nullptr;
    int matches = 0, earlierMatches = 0, first = 3;
    for (const option* o = kLongOptions; o->name != nullptr; ++o) {
        if (given == o->name) return arg;
        if (std::string(o->name).compare(0, given.size(), given) != 0) continue;
        ++matches;
        const int generation = generationOf(o->name);
        if (generation < first) first = generation, earlierMatches = 0;
        if (generation == first) earlier = o, ++earlierMatches;
    }
    if (matches < 2 || earlierMatches != 1) return arg;
    return "--" + std::string(earlier->name) + (equals == std::string::npos ? "" : arg.substr(equals));
}

// Whether an option argument takes the next argument as its value ("-o NAME", "--output NAME").
bool takesNext(const std::string& arg) {
    if (arg.size() == 2 && arg[0] == '-' && arg[1] != '-') {
        const char* at = std::strchr(kShortOptions + 1, arg[1]);
        return at != nullptr && at[1] == ':';
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0 || arg.find('=') != std::string::npos) return false;
    const std::string given = arg.substr(2);
    const option* found = nullptr;
    for (const option* o = kLongOptions; o->name != nullptr; ++o) {
        if (given == o->name) return o->has_arg == required_argument;
        if (std::string(o->name).compare(0, given.size(), given) == 0) found = found == nullptr ? o : found;
    }
    return found != nullptr && found->has_arg == required_argument;
}

int numberIn(const char* text, int low, int high);

// "WxH", "W" or "xH", each side 1 to 65535 (0: not given).
bool sizeOf(const char* text, std::uint32_t& width, std::uint32_t& height) {
    const std::string t = text;
    const std::size_t x = t.find('x');
    const std::string w = t.substr(0, x), h = x == std::string::npos ? "" : t.substr(x + 1);
    if ((w.empty() && h.empty()) || (x != std::string::npos && h.empty())) return false;
    const int wv = w.empty() ? 0 : numberIn(w.c_str(), 1, 65535), hv = h.empty() ? 0 : numberIn(h.c_str(), 1, 65535);
    if (wv < 0 || hv < 0) return false;
    width = static_cast<std::uint32_t>(wv), height = static_cast<std::uint32_t>(hv);
    return true;
}

// The index of `text` among a library list of names, or -1; and the list in words.
int nameIndex(const char* text, const char* (*name)(std::size_t)) {
    for (std::size_t i = 0; name(i) != nullptr; ++i)
        if (std::strcmp(name(i), text) == 0) return static_cast<int>(i);
    return -1;
}
std::string namesOf(const char* (*name)(std::size_t)) {
    std::string list;
    for (std::size_t i = 0; name(i) != nullptr; ++i)
        list += std::string(i == 0 ? "" : name(i + 1) == nullptr ? " or " : ", ") + name(i);
    return list;
}

// A gamma of at most three decimals, 0.1 to 10, in thousandths; 0 for anything else.
int gammaOf(const char* text) {
    long whole = 0, thousandths = 0;
    const char* p = text;
    if (*p < '0' || *p > '9') return 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        if ((whole = whole * 10 + (*p - '0')) > 10) return 0;
    if (*p == '.') {
        long scale = 100;
        if (*++p == '\0') return 0;
        for (; *p >= '0' && *p <= '9'; ++p, scale /= 10) {
            if (scale == 0) return 0;
            thousandths += (*p - '0') * scale;
        }
    }
    const long value = whole * 1000 + thousandths;
    return *p == '\0' && value >= 100 && value <= 10000 ? static_cast<int>(value) : 0;
}

// A whole number from `low` to `high`, or -1.
int numberIn(const char* text, int low, int high) {
    long value = 0;
    if (*text == '\0') return -1;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > high) return -1;
        value = value * 10 + (*p - '0');
    }
    return value >= low && value <= high ? static_cast<int>(value) : -1;
}

// A background colour: white, black or #RRGGBB; false for anything else.
bool colourOf(const std::string& text, std::uint32_t& rgb) {
    if (text == "white" || text == "black") {
        rgb = text == "white" ? 0xFFFFFF : 0;
        return true;
    }
    if (text.size() != 7 || text[0] != '#') return false;
    rgb = 0;
    for (std::size_t i = 1; i < 7; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        rgb = rgb << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// Whole numbers 0 to 255 separated by commas, into `out`; false for anything else.
bool graysOf(const std::string& text, std::vector<int>& out) {
    std::size_t at = 0;
    while (at <= text.size()) {
        const std::size_t comma = std::min(text.find(',', at), text.size());
        const int v = numberIn(text.substr(at, comma - at).c_str(), 0, 255);
        if (v < 0 || out.size() == 256) return false;
        out.push_back(v);
        at = comma + 1;
    }
    return !out.empty();
}

// A count of pixels, 1 to `high`, or 0.
std::uint64_t countIn(const char* text, std::uint64_t high) {
    std::uint64_t value = 0;
    if (*text == '\0') return 0;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9' || value > high) return 0;
        value = value * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    return value <= high ? value : 0;
}

// The rules between options and operands; the first one broken, or empty.
std::string conflicts(const Options& o) {
    if (o.help || o.version) return "";
    if ((o.fitGiven || o.filterGiven) && o.gray.fit_width == 0 && o.gray.fit_height == 0)
        return std::string(o.fitGiven ? "--fit" : "--filter") + " needs --size";
    if (o.inputs.empty()) return "no input file given";
    const auto stdins = std::count(o.inputs.begin(), o.inputs.end(), "-");
    if (stdins > 1) return "standard input ('-') given more than once";
    if (!o.output.empty() && o.inputs.size() > 1) return "--output takes exactly one input";
    if (!o.output.empty() && !o.outputDir.empty()) return "--output and --output-dir conflict";
    if (!o.output.empty() && o.inPlace) return "--output and --in-place conflict";
    if (!o.outputDir.empty() && o.inPlace) return "--output-dir and --in-place conflict";
    if (stdins > 0 && !o.outputDir.empty()) return "standard input ('-') with --output-dir";
    if (stdins > 0 && o.inPlace) return "standard input ('-') cannot be replaced in place";
    if (o.recursive && !o.output.empty()) return "--recursive and --output conflict";
    if (o.recursive && stdins > 0) return "standard input ('-') with --recursive";
    if (o.recursive && o.outputDir.empty() && !o.inPlace)
        return "--recursive needs --output-dir or --in-place (the copies would land in the tree)";
    if (o.pictures && !o.recursive) return "--pictures needs --recursive";
    if (o.pictures && o.inPlace) return "--pictures and --in-place conflict (a picture cannot be replaced by a BMP)";
    if (o.inPlace && o.gray.format != GRAYBMP_FORMAT_BMP) return "--in-place writes BMPs only, not another --format";
    if (!o.outputDir.empty() && pathKind(o.outputDir) != PathKind::Directory)
        return "--output-dir '" + o.outputDir + "' is not a folder";
    return "";
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    std::vector<char*> argv;
    std::vector<std::string> copies;
    bool value = false;  // whether this argument is the value of the option before it
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--" && !value) {  // operands from here on
            copies.insert(copies.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        copies.push_back(i == 0 || value ? args[i] : earlierNamed(args[i]));
        value = i > 0 && !value && takesNext(copies.back());
    }
    for (std::string& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(copies.size());
    graybmp_error failure;
    opterr = 0;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr)) != -1;) {
        const std::string given = argv[static_cast<std::size_t>(optind - 1)];
        if (const WordOption* w = wordOption(c)) {
            if (!takeWord(*w, optarg, options.gray, error)) return false;
            continue;
        }
        switch (c) {
        case 'o':
            options.output = optarg;
            break;
        case 'd':
            options.outputDir = optarg;
            break;
        case 'i':
            options.inPlace = true;
            break;
        case 'm':
            if (graybmp_options_set_method(&options.gray, optarg, &failure) != GRAYBMP_OK) {
                error = failure.message;
                return false;
            }
            break;
        case 'r':
            options.recursive = true;
            break;
        case 'R':
            options.report = true;
            break;
        case 'p':
            options.pictures = true;
            break;
        case 'c':
            options.gray.compact = 1;
            break;
        case 'L':
            options.gray.levels = numberIn(optarg, 2, 256);
            if (options.gray.levels < 0) {
                error = std::string("--levels takes 2 to 256 levels, not '") + optarg + "'";
                return false;
            }
            break;
        case 'D':
            options.gray.depth = numberIn(optarg, 1, 8);
            if (options.gray.depth < 0 || (options.gray.depth & (options.gray.depth - 1)) != 0) {
                error = std::string("--depth takes 1, 2, 4 or 8 bits, not '") + optarg + "'";
                return false;
            }
            break;
        case 'T':
            if (graybmp_options_set_dither(&options.gray, optarg, &failure) != GRAYBMP_OK) {
                error = failure.message;
                return false;
            }
            break;
        case 'S':
            options.gray.serpentine = 1;
            break;
        case 'G':
            options.gray.strength = numberIn(optarg, 0, 100);
            if (options.gray.strength < 0) {
                error = std::string("--strength takes 0 to 100 percent, not '") + optarg + "'";
                return false;
            }
            break;
        case 'I': {
            std::vector<int> range;
            if (!graysOf(optarg, range) || range.size() != 2 || range[0] >= range[1]) {
                error = std::string("--input-range takes B,W, 0 <= B < W <= 255, not '") + optarg + "'";
                return false;
            }
            options.gray.input_range_given = 1;
            options.gray.input_black = range[0], options.gray.input_white = range[1];
            break;
        }
        case 'N':
            options.gray.negate = 1;
            break;
        case 'Z':
            options.gray.normalize = 1;
            break;
        case 'g':
            options.gray.gamma = gammaOf(optarg);
            if (options.gray.gamma == 0) {
                error = std::string("--gamma takes 0.1 to 10, at most three decimals, not '") + optarg + "'";
                return false;
            }
            break;
        case 'l':
            options.gray.linear = 1;
            break;
        case 'n':
            options.arrayName = optarg;
            break;
        case 'f':
            options.gray.full_palette = 1;
            break;
        case 'Y': {
            std::vector<int> grays;
            if (!graysOf(optarg, grays)) {
                error = std::string("--grays takes the grays of the levels, 0 to 255, comma-separated, not '") +
                        optarg + "'";
                return false;
            }
            options.gray.grays_count = static_cast<int>(grays.size());
            for (std::size_t k = 0; k < grays.size(); ++k) options.gray.grays[k] = static_cast<std::uint8_t>(grays[k]);
            break;
        }
        case 'H':
            options.gray.threshold = numberIn(optarg, 0, 255);
            if (options.gray.threshold < 0) {
                error = std::string("--threshold takes 0 to 255, not '") + optarg + "'";
                return false;
            }
            options.gray.threshold_given = 1;
            break;
        case 'z':
            if (!sizeOf(optarg, options.gray.fit_width, options.gray.fit_height)) {
                error = std::string("--size takes WxH, W or xH (1 to 65535 pixels a side), not '") + optarg + "'";
                return false;
            }
            break;
        case 'j':
            options.gray.fit = nameIndex(optarg, graybmp_fit_name);
            options.fitGiven = true;
            if (options.gray.fit < 0) {
                error = std::string("--fit takes ") + namesOf(graybmp_fit_name) + ", not '" + optarg + "'";
                return false;
            }
            break;
        case 'q':
            options.gray.filter = nameIndex(optarg, graybmp_filter_name);
            options.filterGiven = true;
            if (options.gray.filter < 0) {
                error = std::string("--filter takes ") + namesOf(graybmp_filter_name) + ", not '" + optarg + "'";
                return false;
            }
            break;
        case 'u':
            options.gray.no_auto_orient = 1;
            break;
        case 'B':
            if (!colourOf(optarg, options.gray.background)) {
                error = std::string("--background takes white, black or #RRGGBB, not '") + optarg + "'";
                return false;
            }
            options.gray.background_given = 1;
            break;
        case 'P':
            options.gray.max_pixels = countIn(optarg, kMaxPixelsAllowed);
            if (options.gray.max_pixels == 0) {
                error = std::string("--max-pixels takes 1 to ") + std::to_string(kMaxPixelsAllowed) +
                        " pixels, not '" + optarg + "'";
                return false;
            }
            break;
        case 'h':
            options.help = true;
            break;
        case 'V':
            options.version = true;
            break;
        case ':':
            error = "option '" + given + "' needs an argument";
            return false;
        default:
            error = optopt != 0 ? std::string("unknown option '-") + static_cast<char>(optopt) + "'"
                                : "unknown option '" + given + "'";
            return false;
        }
    }
    for (int i = optind; i < argc; ++i)
        for (const std::string& name : expandWildcards(argv[static_cast<std::size_t>(i)]))
            options.inputs.push_back(name);
    error = conflicts(options);
    graybmp_options checked = options.gray;
    if (!options.arrayName.empty()) checked.name = options.arrayName.c_str();
    if (error.empty() && graybmp_options_check(&checked, &failure) != GRAYBMP_OK)
        error = toolWords(failure.message);
    return error.empty();
}

const char* usageText() {
    return "Usage: graybmp [OPTION]... FILE...\n"
           "Turn BMP images gray, changing nothing in them but their colours, and turn\n"
           "PNG, JPEG, WebP, GIF and netpbm pictures into gray BMPs.\n"
           "Each FILE's gray copy is written beside it as its name with NEW before the\n"
           "extension (photo.bmp -> photoNEW.bmp, photo.jpg -> photoNEW.bmp). '-' reads\n"
           "standard input and writes standard output. Without arguments, converts _Carib256.bmp in the current\n"
           "folder to _Carib256NEW.bmp, prints its header and waits for a key.\n"
           "\n"
           "  -o, --output=FILE      write the gray copy of the one input to FILE\n"
           "                         ('-': standard output)\n"
           "  -d, --output-dir=DIR   write each gray copy into DIR under the input's name\n"
           "  -i, --in-place         replace each FILE by its gray copy\n"
           "  -r, --recursive        walk each FILE that is a folder, converting the .bmp\n"
           "                         and .dib files in it and its subfolders (with -d,\n"
           "                         mirrored under DIR by the folder's name; or -i)\n"
           "      --pictures         with -r, take .png, .jpg, .jpeg, .webp, .gif, .pbm,\n"
           "                         .pgm, .ppm, .pnm and .pam files too\n"
           "  -m, --method=METHOD    how a colour's gray is worked out from red, green, blue:\n"
           "                           mean       floor((r + g + b) / 3), the default\n"
           "                           bt601      (299 r + 587 g + 114 b + 500) div 1000\n"
           "                           bt709      (2126 r + 7152 g + 722 b + 5000) div 10000\n"
           "                           luminance  linear-light Y = 0.2126 R + 0.7152 G +\n"
           "                                      0.0722 B of the sRGB-decoded channels,\n"
           "                                      encoded back to sRGB, rounded\n"
           "                           max        max(r, g, b)\n"
           "                           lightness  (max(r, g, b) + min(r, g, b) + 1) div 2\n"
           "                           rms        sqrt((r^2 + g^2 + b^2) / 3), rounded\n"
           "                           red, green, blue   that channel\n"
           "                           weights=R,G,B  (R r + G g + B b) / (R + G + B),\n"
           "                                      rounded; each weight digits with up to\n"
           "                                      6 decimals, at most 1000000\n"
           "      --compact          write true-colour inputs (16, 24 or 32 bits) as 8-bit\n"
           "                         gray BMPs: a palette of 256 grays and one index a\n"
           "                         pixel; refused for pixels that are not opaque\n"
           "      --levels=N         write an uncompressed gray BMP of N levels (2 to 256):\n"
           "                         level k is (510 k + N - 1) div (2 (N - 1)), each pixel\n"
           "                         the nearest to its gray; from palettized, 16-, 24-\n"
           "                         and 32-bit images\n"
           "      --depth=D          bits a pixel of those levels: 1, 2, 4 or 8 (by default\n"
           "                         the least of 1, 4, 8 that holds them; alone, 2^D levels)\n"
           "      --dither=METHOD    spread each pixel's rounding error, below 256 levels:\n"
           "                           none             the default\n"
           "                           floyd-steinberg  to the right and the row below\n"
           "                           atkinson         1/8 to six neighbours\n"
           "                           jarvis           Jarvis-Judice-Ninke, /48, two rows down\n"
           "                           stucki           Stucki, /42, two rows down\n"
           "                           burkes           Burkes, /32, one row down\n"
           "                           sierra           Sierra, /32, two rows down\n"
           "                           sierra2          two-row Sierra, /16, one row down\n"
           "                           sierra-lite      Sierra Lite, /4\n"
           "                           ordered          the 8 x 8 Bayer matrix (or bayer8)\n"
           "                           bayer2           the 2 x 2 Bayer matrix\n"
           "                           bayer4           the 4 x 4 Bayer matrix\n"
           "                           bayer16          the 16 x 16 Bayer matrix\n"
           "                           halftone         8 x 8 clustered dots, for printers\n"
           "                           blue-noise       a 64 x 64 blue-noise matrix\n"
           "      --serpentine       error diffusion: every second row right to left\n"
           "      --strength=P       error diffusion: diffuse P percent of each error\n"
           "                         (0 to 100, default 100)\n"
           "      --input-range=B,W  stretch the grays B to W over 0 to 255 before the levels\n"
           "      --normalize        stretch the picture's own range (0.5% clipped at each\n"
           "                         end) over 0 to 255 before the levels (reads it twice)\n"
           "      --gamma=G          g = 255 (g / 255)^(1 / G) before the levels: G > 1\n"
           "                         lightens (0.1 to 10)\n"
           "      --negate           turn each gray g into 255 - g before the levels\n"
           "      --grays=G0,...     the grays the panel shows for the levels, increasing:\n"
           "                         quantizing and dithering aim at them; the palette\n"
           "                         and indices stay the levels'\n"
           "      --threshold=T      two levels, undithered: white where the gray >= T\n"
           "      --linear           quantize and dither in linear light\n"
           "      --format=FORMAT    write the levels as bmp (the default), raw (the packed\n"
           "                         indices, no header), c (a C header of them), xbm,\n"
           "                         pbm (both 2 levels) or pgm; without --levels, 256\n"
           "      --bit-order=ORDER  raw and c: msb (the default) or lsb first in a byte\n"
           "      --packing=PACKING  raw and c: rows (the default), pages (1 bit: a byte is\n"
           "                         8 pixels of a column, for OLED controllers) or planes\n"
           "                         (2 and 4 bits: one 1-bit picture a bit)\n"
           "      --row-align=A      raw and c: pad each row to 1 (the default), 2 or 4 bytes\n"
           "      --name=NAME        c and xbm: the array's name (default: the output's\n"
           "                         file name without its extension)\n"
           "      --full-palette     bmp: 2^depth palette entries, those past the levels black\n"
           "      --rows=ORDER       bmp, raw and c: top-down or bottom-up rows\n"
           "      --index-order=O    bmp, raw and c: black-first (the default) or white-first\n"
           "      --size=WxH         fit the picture to W x H pixels (W or xH: that side, the\n"
           "                         other by its aspect), scaled in linear light\n"
           "      --fit=FIT          with --size: contain (the default: all of it, padded\n"
           "                         with the background, white by default), cover (all of\n"
           "                         the size, cropped) or stretch\n"
           "      --filter=FILTER    with --size: lanczos3 (the default), mitchell, box or\n"
           "                         nearest (for line art and 1-bit text)\n"
           "      --rotate=DEGREES   turn clockwise 90, 180 or 270, or auto: 90 when the\n"
           "                         picture and the size are not both landscape or portrait\n"
           "      --no-auto-orient   leave a JPEG's, PNG's or WebP's orientation tag unapplied\n"
           "      --background=COLOR composite pixels that are not opaque on COLOR (white,\n"
           "                         black or #RRGGBB) instead of refusing them\n"
           "      --max-pixels=N     refuse pictures of more than N pixels (default 2^28,\n"
           "                         at most 2^29; a side may not pass 65535)\n"
           "      --report           print each input's header (on standard error when\n"
           "                         standard output carries an image)\n"
           "  -h, --help             show this help and exit\n"
           "  -V, --version          show the version and exit\n"
           "\n"
           "Exit status: 0 when every input was converted, 1 when any was refused or not\n"
           "written, 2 for a usage error, 128+N when stopped by signal N.\n";
}

}  // namespace graybmp
