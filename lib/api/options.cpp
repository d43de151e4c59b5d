#include "api/options.h"

#include <cstddef>
#include <vector>

#include "convert/methods.h"

namespace graybmp {
namespace {

// The public values are the registry's places.
static_assert(GRAYBMP_MEAN == static_cast<int>(GrayMethod::Mean) &&
                  GRAYBMP_BT601 == static_cast<int>(GrayMethod::Bt601) &&
                  GRAYBMP_BT709 == static_cast<int>(GrayMethod::Bt709) &&
                  GRAYBMP_LUMINANCE == static_cast<int>(GrayMethod::Luminance) &&
                  GRAYBMP_MAX == static_cast<int>(GrayMethod::Max) &&
                  GRAYBMP_LIGHTNESS == static_cast<int>(GrayMethod::Lightness) &&
                  GRAYBMP_RMS == static_cast<int>(GrayMethod::Rms) &&
                  GRAYBMP_RED == static_cast<int>(GrayMethod::Red) &&
                  GRAYBMP_GREEN == static_cast<int>(GrayMethod::Green) &&
                  GRAYBMP_BLUE == static_cast<int>(GrayMethod::Blue) &&
                  GRAYBMP_WEIGHTS == static_cast<int>(GrayMethod::Weights) &&
                  GRAYBMP_WEIGHTS + 1 == kGrayMethods,
              "graybmp_method stands in the registry's order");
constexpr std::size_t kMethodCount = kGrayMethods;

constexpr std::uint64_t kMillion = 1000000;
constexpr std::uint64_t kMostWeight = kMillion * kMillion;

// Why `text` is not a weight (digits, optionally a point and 1 to 6 more digits, at most
// 1000000), or empty with its value in millionths in `value`.
std::string weightProblem(const std::string& text, const char* channel, std::uint64_t& value) {
    const std::string named = std::string("the ") + channel + " weight '" + text + "'";
    if (text.empty()) return std::string("the ") + channel + " weight is empty";
    if (text[0] == '+' || text[0] == '-') return named + " has a sign";
    const std::size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string decimals = point == std::string::npos ? "" : text.substr(point + 1);
    const auto digits = [](const std::string& t) {
        return t.find_first_not_of("0123456789") == std::string::npos;
    };
    if (!digits(whole) || !digits(decimals))
        return named + " is not a decimal number (digits, a point and up to 6 decimals)";
    if (whole.empty()) return named + " needs a digit before its point";
    if (point != std::string::npos && decimals.empty()) return named + " needs a digit after its point";
    if (decimals.size() > 6) return named + " has more than 6 decimals";
    std::uint64_t units = 0;
    for (const char c : whole) {
        units = units * 10 + static_cast<std::uint64_t>(c - '0');
        if (units > kMillion) return named + " is over 1000000";
    }
    std::uint64_t fraction = 0;
    for (std::size_t i = 0; i < 6; ++i)
        fraction = fraction * 10 + (i < decimals.size() ? static_cast<std::uint64_t>(decimals[i] - '0') : 0);
    value = units * kMillion + fraction;
    return value > kMostWeight ? named + " is over 1000000" : "";
}

// Why weights in millionths are no formula (one over 10^12, or all 0), or empty.
std::string weightLimitsProblem(const std::uint64_t weights[3]) {
    for (int c = 0; c < 3; ++c)
        if (weights[c] > kMostWeight) return "a weight is over 1000000";
    return weights[0] + weights[1] + weights[2] == 0 ? "the weights are all 0" : "";
}

// "weights=R,G,B" into `f`, or why not.
std::string weightsProblem(const std::string& list, GrayFormula& f) {
    std::vector<std::string> fields(1);
    for (const char c : list) {
        if (c == ',') fields.emplace_back();
        else fields.back() += c;
    }
    if (fields.size() != 3)
        return "weights=" + list + " has " + std::to_string(fields.size()) +
               (fields.size() == 1 ? " number" : " numbers") + "; it takes three, R,G,B";
    const char* channels[] = {"red", "green", "blue"};
    GrayFormula weighted(0, 0, 0);
    for (int c = 0; c < 3; ++c) {
        const std::string problem = weightProblem(fields[static_cast<std::size_t>(c)], channels[c],
                                                  weighted.weights[c]);
        if (!problem.empty()) return "weights=" + list + ": " + problem;
    }
    const std::string limits = weightLimitsProblem(weighted.weights);
    if (!limits.empty()) return "weights=" + list + ": " + limits;
    f = weighted;
    return "";
}

std::string hexOf(std::uint32_t v) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    do text.insert(text.begin(), digits[v % 16]);
    while ((v /= 16) != 0);
    return text;
}

}  // namespace

std::string methodList() {
    std::string list;
    for (std::size_t i = 0; i < kMethodCount; ++i)
        list += std::string(i == 0 ? "" : i + 1 == kMethodCount ? " or " : ", ") + kMethodRows[i].name;
    return list;
}

namespace {

// The tone, the measured grays and the threshold the options ask for, or why they
// cannot be (the levels already read).
bool toneOf(const graybmp_options& o, Levels& levels, Failure& f) {
    if (o.input_range_given != 0) {
        if (o.input_black < 0 || o.input_white > 255 || o.input_black >= o.input_white) {
            f = badArgument("an input range of " + std::to_string(o.input_black) + " to " +
                            std::to_string(o.input_white) + " (black below white, 0 to 255)");
            return false;
        }
        levels.black = o.input_black, levels.white = o.input_white;
    }
    levels.normalize = o.normalize != 0;
    if (o.gamma != 0 && (o.gamma < 100 || o.gamma > 10000)) {
        f = badArgument("a gamma of " + std::to_string(o.gamma) + " thousandths (100 to 10000: 0.1 to 10)");
        return false;
    }
    levels.gamma = o.gamma == 1000 ? 0 : o.gamma;
    levels.negate = o.negate != 0;
    if (o.threshold_given != 0) {
        if (o.threshold < 0 || o.threshold > 255) {
            f = badArgument("a threshold of " + std::to_string(o.threshold) + " (0 to 255)");
            return false;
        }
        if ((levels.count != 0 && levels.count != 2) || levels.dither != Dither::None || o.grays_count != 0 ||
            o.linear != 0) {
            f = badArgument("a threshold makes two levels, undithered, of their own grays (not in linear light)");
            return false;
        }
        levels.count = 2;
        levels.depth = o.depth != 0 ? o.depth : 1;
        levels.threshold = o.threshold;
    }
    if (o.grays_count != 0) {
        if (o.grays_count != levels.count) {
            f = badArgument(std::to_string(o.grays_count) + " grays for " + std::to_string(levels.count) +
                            " levels (one a level)");
            return false;
        }
        for (int k = 1; k < o.grays_count; ++k)
            if (o.grays[k] <= o.grays[k - 1]) {
                f = badArgument("grays that do not increase (" + std::to_string(o.grays[k - 1]) + ", then " +
                                std::to_string(o.grays[k]) + ")");
                return false;
            }
        levels.graysCount = o.grays_count;
        std::copy(o.grays, o.grays + o.grays_count, levels.grays);
    }
    return true;
}

// The levels, depth and dithering the options ask for, or why they cannot be.
bool levelsOf(const graybmp_options& o, Levels& levels, Failure& f) {
    int dither = 0;
    static_assert(sizeof dither == sizeof o.dither, "the dithering is stored as an int");
    std::memcpy(&dither, &o.dither, sizeof dither);
    int count = o.levels;
    const int depth = o.depth;
    if (depth != 0 && depth != 1 && depth != 2 && depth != 4 && depth != 8) {
        f = badArgument("a depth of " + std::to_string(depth) + " bits (1, 2, 4 or 8)");
        return false;
    }
    if (count == 0 && depth != 0 && o.threshold_given == 0) count = 1 << depth;  // a threshold makes two
    if (count != 0 && (count < 2 || count > 256)) {
        f = badArgument(std::to_string(count) + " levels (2 to 256)");
        return false;
    }
    if (depth != 0 && (1 << depth) < count) {
        f = badArgument(std::to_string(count) + " levels do not fit in " + std::to_string(depth) +
                        (depth == 1 ? " bit" : " bits"));
        return false;
    }
    if (dither < 0 || dither > GRAYBMP_DITHER_BLUE_NOISE) {
        f = badArgument("unknown dithering " + std::to_string(dither));
        return false;
    }
    if (o.strength < 0 || o.strength > 100) {
        f = badArgument("a strength of " + std::to_string(o.strength) + " percent (0 to 100)");
        return false;
    }
    const bool diffusing = diffuses(static_cast<Dither>(dither));
    if ((o.serpentine != 0 || o.strength != 100) && !diffusing) {
        f = badArgument(std::string(o.serpentine != 0 ? "serpentine rows need" : "a strength below 100 needs") +
                        " an error-diffusion dithering (floyd-steinberg, atkinson, jarvis, stucki, burkes, "
                        "sierra, sierra2 or sierra-lite)");
        return false;
    }
    if (dither != GRAYBMP_DITHER_NONE && (count == 0 || count == 256)) {
        f = badArgument(count == 0 ? "dithering needs levels"
                                    : "dithering needs fewer than 256 levels");
        return false;
    }
    levels.count = count;
    levels.depth = depth != 0 ? depth : defaultDepth(count);
    levels.dither = static_cast<Dither>(dither);
    levels.serpentine = o.serpentine != 0;
    levels.strength = o.strength;
    if (!toneOf(o, levels, f)) return false;
    if (o.linear != 0 && (levels.count == 0 || levels.count == 256)) {
        f = badArgument("linear light needs fewer than 256 levels");
        return false;
    }
    levels.linear = o.linear != 0;
    return true;
}

// The output format and its layout the options ask for, or why they cannot be (the
// levels already read: a format other than bmp makes levels where none are asked for).
bool outputOf(const graybmp_options& o, Settings& s, Failure& f) {
    Output& out = s.output;
    const auto refuse = [&](const std::string& why) {
        f = badArgument(why);
        return false;
    };
    if (o.format < GRAYBMP_FORMAT_BMP || o.format > GRAYBMP_FORMAT_PGM)
        return refuse("unknown format " + std::to_string(o.format));
    out.format = static_cast<Format>(o.format);
    const bool bmp = out.format == Format::Bmp, packed = out.format == Format::Raw || out.format == Format::C;
    const bool twoLevels = out.format == Format::Xbm || out.format == Format::Pbm;
    const char* const names[] = {"bmp", "raw", "c", "xbm", "pbm", "pgm"};
    const std::string format = names[o.format];
    if (o.bit_order < 0 || o.bit_order > GRAYBMP_BIT_ORDER_LSB) return refuse("unknown bit order " + std::to_string(o.bit_order));
    if (o.packing < 0 || o.packing > GRAYBMP_PACKING_PLANES) return refuse("unknown packing " + std::to_string(o.packing));
    if (o.rows < 0 || o.rows > GRAYBMP_ROWS_BOTTOM_UP) return refuse("unknown row order " + std::to_string(o.rows));
    if (o.index_order < 0 || o.index_order > 1) return refuse("unknown index order " + std::to_string(o.index_order));
    if (o.row_align != 0 && o.row_align != 1 && o.row_align != 2 && o.row_align != 4)
        return refuse("a row alignment of " + std::to_string(o.row_align) + " bytes (1, 2 or 4)");
    if (!packed && (o.bit_order != 0 || o.packing != 0 || o.row_align != 0))
        return refuse("a bit order, packing or row alignment is for the raw and c formats, not " + format);
    if (o.name != nullptr && out.format != Format::C && out.format != Format::Xbm)
        return refuse("an array's name is for the c and xbm formats, not " + format);
    if (o.full_palette != 0 && !bmp) return refuse("a full palette is for BMPs, not " + format);
    if ((o.rows != 0 || o.index_order != 0) && !bmp && !packed)
        return refuse(std::string(o.rows != 0 ? "a row order" : "an index order") + " is for bmp, raw and c, not " +
                      format);
    if (bmp && s.levels.count == 0 && (o.full_palette != 0 || o.rows != 0 || o.index_order != 0))
        return refuse("a full palette, row order or index order is for the levels");
    if (!bmp && s.levels.count == 0) {  // the 256 levels of 8 bits, or 2
        s.levels.count = twoLevels ? 2 : 256;
        s.levels.depth = o.depth != 0 ? o.depth : twoLevels ? 1 : 8;
        s.compact = false;
    }
    if (twoLevels && s.levels.count != 2)
        return refuse(format + " takes 2 levels, not " + std::to_string(s.levels.count));
    const int depth = s.levels.depth;
    if (o.packing == GRAYBMP_PACKING_PAGES && depth != 1)
        return refuse("pages take 1 bit a pixel, not " + std::to_string(depth));
    if (o.packing == GRAYBMP_PACKING_PLANES && depth != 2 && depth != 4)
        return refuse("planes take 2 or 4 bits a pixel, not " + std::to_string(depth));
    if (o.packing == GRAYBMP_PACKING_PAGES && (o.rows != 0 || o.row_align != 0))
        return refuse("pages run from the top, a byte a column: no row order or alignment");
    out.bitOrder = static_cast<BitOrder>(o.bit_order);
    out.packing = static_cast<Packing>(o.packing);
    out.rowAlign = o.row_align != 0 ? o.row_align : 1;
    out.name = o.name != nullptr ? identifierOf(o.name) : "";
    out.fullPalette = o.full_palette != 0;
    out.rows = static_cast<RowOrder>(o.rows);
    out.whiteFirst = o.index_order != 0;
    return true;
}

}  // namespace

bool settingsOf(const graybmp_options* given, Settings& s, Failure& f) {
    if (given != nullptr && given->size < offsetof(graybmp_options, compact) + sizeof(int)) {
        f = badArgument("options whose size field is not set (graybmp_options_init sets it)");
        return false;
    }
    // The caller's options read where they lie when they are as long as ours, else what
    // they hold over the defaults.
    graybmp_options defaults;
    if (given == nullptr || given->size < sizeof defaults) {
        graybmp_options_init(&defaults);
        knownInto(given, defaults);
    }
    const graybmp_options& o = given == nullptr || given->size < sizeof defaults ? defaults : *given;
    // A C caller may store any int in the enum: read it as one.
    int method = 0;
    static_assert(sizeof method == sizeof o.method, "the method is stored as an int");
    std::memcpy(&method, &o.method, sizeof method);
    if (method < 0 || static_cast<unsigned>(method) >= kMethodCount) {
        f = badArgument("unknown gray method " + std::to_string(method) + " (" + methodList() +
                        ")");
        return false;
    }
    s.method = GrayFormula(static_cast<GrayMethod>(method));
    if (s.method.method == GrayMethod::Weights) {
        const std::string limits = weightLimitsProblem(o.weights);
        if (!limits.empty()) {
            f = badArgument(limits);
            return false;
        }
        std::copy(o.weights, o.weights + 3, s.method.weights);
    }
    s.compact = o.compact != 0;
    if (o.background_given != 0 && o.background > 0xFFFFFF) {
        f = badArgument("a background of 0x" + hexOf(o.background) + " is not 0xRRGGBB");
        return false;
    }
    s.background = o.background_given != 0 ? static_cast<std::int32_t>(o.background) : -1;
    if (o.max_pixels > kMaxPictureLimit) {
        f = badArgument("a limit of " + std::to_string(o.max_pixels) + " pixels (at most 2^29)");
        return false;
    }
    s.maxPixels = o.max_pixels != 0 ? o.max_pixels : kDefaultMaxPixels;
    if (!levelsOf(o, s.levels, f)) return false;
    if (!outputOf(o, s, f) || !fitOf(o, s, f)) return false;
    // The tone needs new pixels: with the compact form, its 256 levels.
    if (toned(s.levels) && s.levels.count == 0 && s.compact) {
        s.levels.count = 256, s.levels.depth = 8;
        s.compact = false;
    }
    return true;
}


}  // namespace graybmp

using namespace graybmp;

extern "C" {

void graybmp_options_init(graybmp_options* options) {
    if (options == nullptr) return;
    std::memset(options, 0, sizeof *options);
    options->size = sizeof(graybmp_options);
    options->method = GRAYBMP_MEAN;
    options->strength = 100;
}

graybmp_status graybmp_options_set_method(graybmp_options* options, const char* name,
                                          graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if (options == nullptr || name == nullptr) {
            f = badArgument("no options or no method name");
            return;
        }
        for (std::size_t i = 0; i + 1 < kMethodCount; ++i) {
            if (std::strcmp(kMethodRows[i].name, name) == 0) {
                options->method = static_cast<graybmp_method>(i);
                return;
            }
        }
        if (std::strncmp(name, "weights=", 8) == 0) {
            GrayFormula weighted;
            const std::string problem = weightsProblem(name + 8, weighted);
            if (!problem.empty()) {
                f = badArgument(problem);
                return;
            }
            options->method = GRAYBMP_WEIGHTS;
            for (int c = 0; c < 3; ++c) options->weights[c] = weighted.weights[c];
            return;
        }
        f = badArgument(std::string("unknown gray method '") + name + "' (" + methodList() + ")");
    });
}

graybmp_status graybmp_options_check(const graybmp_options* options, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        Settings s;
        settingsOf(options, s, f);
    });
}

const char* graybmp_dither_name(size_t index) {
    constexpr const char* kDitherNames[] = {"none",   "floyd-steinberg", "atkinson", "ordered", "jarvis",
                                            "stucki", "burkes",          "sierra",   "sierra2", "sierra-lite",
                                            "bayer2", "bayer4",          "bayer16",  "halftone", "blue-noise"};
    static_assert(sizeof kDitherNames / sizeof kDitherNames[0] == GRAYBMP_DITHER_BLUE_NOISE + 1 &&
                      static_cast<int>(Dither::BlueNoise) == GRAYBMP_DITHER_BLUE_NOISE &&
                      static_cast<int>(Dither::Bayer16) == GRAYBMP_DITHER_BAYER16 &&
                      static_cast<int>(Dither::SierraLite) == GRAYBMP_DITHER_SIERRA_LITE &&
                      static_cast<int>(Dither::Jarvis) == GRAYBMP_DITHER_JARVIS &&
                      static_cast<int>(Dither::Ordered) == GRAYBMP_DITHER_ORDERED &&
                      static_cast<int>(Dither::Atkinson) == GRAYBMP_DITHER_ATKINSON &&
                      static_cast<int>(Dither::FloydSteinberg) == GRAYBMP_DITHER_FLOYD_STEINBERG,
                  "a name a dithering, in graybmp_dither's order");
    return index < sizeof kDitherNames / sizeof kDitherNames[0] ? kDitherNames[index] : nullptr;
}

graybmp_status graybmp_options_set_dither(graybmp_options* options, const char* name, graybmp_error* error) {
    return guarded(error, [&](Failure& f) {
        if (options == nullptr || name == nullptr) {
            f = badArgument("no options or no dithering name");
            return;
        }
        std::string names;
        for (std::size_t i = 0; graybmp_dither_name(i) != nullptr; ++i) {
            if (std::strcmp(graybmp_dither_name(i), name) == 0 ||
                (i == GRAYBMP_DITHER_ORDERED && std::strcmp(name, "bayer8") == 0)) {
                options->dither = static_cast<graybmp_dither>(i);
                return;
            }
            names += std::string(i == 0 ? "" : ", ") + graybmp_dither_name(i);
        }
        f = badArgument(std::string("unknown dithering '") + name + "' (" + names + ")");
    });
}

const char* graybmp_method_name(size_t index) {
    return index < kMethodCount ? kMethodRows[index].name : nullptr;
}

}  // extern "C"
