#include "options.h"

#include <getopt.h>

#include <algorithm>

#include "files.h"

namespace graybmp {
namespace {

const option kLongOptions[] = {
    {"output", required_argument, nullptr, 'o'},
    {"output-dir", required_argument, nullptr, 'd'},
    {"in-place", no_argument, nullptr, 'i'},
    {"method", required_argument, nullptr, 'm'},
    {"recursive", no_argument, nullptr, 'r'},
    {"report", no_argument, nullptr, 'R'},
    {"compact", no_argument, nullptr, 'c'},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};
constexpr const char* kShortOptions = ":o:d:irm:hV";  // ':' first: a missing argument is told apart

// The rules between options and operands; the first one broken, or empty.
std::string conflicts(const Options& o) {
    if (o.help || o.version) return "";
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
    if (!o.outputDir.empty() && pathKind(o.outputDir) != PathKind::Directory)
        return "--output-dir '" + o.outputDir + "' is not a folder";
    return "";
}

}  // namespace

bool parseOptions(const std::vector<std::string>& args, Options& options, std::string& error) {
    std::vector<char*> argv;
    std::vector<std::string> copies(args);
    for (std::string& a : copies) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int argc = static_cast<int>(copies.size());
    graybmp_error failure;
    opterr = 0;
    optind = 1;
    for (int c; (c = getopt_long(argc, argv.data(), kShortOptions, kLongOptions, nullptr)) != -1;) {
        const std::string given = argv[static_cast<std::size_t>(optind - 1)];
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
        case 'c':
            options.gray.compact = 1;
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
    return error.empty();
}

const char* usageText() {
    return "Usage: graybmp [OPTION]... FILE...\n"
           "Turn BMP images gray, changing nothing in them but their colours.\n"
           "Each FILE's gray copy is written beside it as its name with NEW before the\n"
           "extension (photo.bmp -> photoNEW.bmp). '-' reads standard input and writes\n"
           "standard output. Without arguments, converts _Carib256.bmp in the current\n"
           "folder to _Carib256NEW.bmp, prints its header and waits for a key.\n"
           "\n"
           "  -o, --output=FILE      write the gray copy of the one input to FILE\n"
           "                         ('-': standard output)\n"
           "  -d, --output-dir=DIR   write each gray copy into DIR under the input's name\n"
           "  -i, --in-place         replace each FILE by its gray copy\n"
           "  -r, --recursive        walk each FILE that is a folder, converting the .bmp\n"
           "                         and .dib files in it and its subfolders (with -d,\n"
           "                         mirrored under DIR by the folder's name; or -i)\n"
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
           "      --report           print each input's header (on standard error when\n"
           "                         standard output carries an image)\n"
           "  -h, --help             show this help and exit\n"
           "  -V, --version          show the version and exit\n"
           "\n"
           "Exit status: 0 when every input was converted, 1 when any was refused or not\n"
           "written, 2 for a usage error, 128+N when stopped by signal N.\n";
}

}  // namespace graybmp
