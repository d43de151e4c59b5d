// The fit the options ask for, checked, and the names of the fits and filters.
#include "api/options.h"

namespace graybmp {
namespace {

constexpr const char* kFitNames[] = {"contain", "cover", "stretch"};
constexpr const char* kFilterNames[] = {"lanczos3", "mitchell", "box", "nearest"};
static_assert(GRAYBMP_FIT_STRETCH + 1 == sizeof kFitNames / sizeof kFitNames[0] &&
                  static_cast<int>(FitMode::Stretch) == GRAYBMP_FIT_STRETCH &&
                  GRAYBMP_FILTER_NEAREST + 1 == sizeof kFilterNames / sizeof kFilterNames[0] &&
                  static_cast<int>(Filter::Nearest) == GRAYBMP_FILTER_NEAREST,
              "a name each, in the enums' order");

}  // namespace

bool fitOf(const graybmp_options& o, Settings& s, Failure& f) {
    const auto refuse = [&](const std::string& why) {
        f = badArgument(why);
        return false;
    };
    if (o.fit < 0 || o.fit > GRAYBMP_FIT_STRETCH) return refuse("unknown fit " + std::to_string(o.fit));
    if (o.filter < 0 || o.filter > GRAYBMP_FILTER_NEAREST) return refuse("unknown filter " + std::to_string(o.filter));
    if (o.rotate != 0 && o.rotate != 90 && o.rotate != 180 && o.rotate != 270 && o.rotate != GRAYBMP_ROTATE_AUTO)
        return refuse("a turn of " + std::to_string(o.rotate) + " degrees (0, 90, 180, 270 or automatic)");
    if (o.fit_width > kMaxPictureSide || o.fit_height > kMaxPictureSide)
        return refuse("a size of " + std::to_string(o.fit_width) + " x " + std::to_string(o.fit_height) +
                      " (at most " + std::to_string(kMaxPictureSide) + " a side)");
    if (std::uint64_t{o.fit_width} * o.fit_height > s.maxPixels)
        return refuse("a size of " + std::to_string(o.fit_width) + " x " + std::to_string(o.fit_height) +
                      " pixels (at most " + std::to_string(s.maxPixels) + ")");
    Fit& fit = s.fit;
    fit.width = o.fit_width, fit.height = o.fit_height;
    fit.mode = static_cast<FitMode>(o.fit);
    fit.filter = static_cast<Filter>(o.filter);
    fit.rotate = o.rotate;
    fit.autoOrient = o.no_auto_orient == 0;
    // Every fit makes new pixels: the levels', 256 of 8 bits when none are asked for.
    if (fitAsked(fit) && s.levels.count == 0) {
        s.levels.count = 256, s.levels.depth = 8;
        s.compact = false;
    }
    return true;
}

}  // namespace graybmp

extern "C" {

const char* graybmp_fit_name(size_t index) {
    return index < sizeof graybmp::kFitNames / sizeof graybmp::kFitNames[0] ? graybmp::kFitNames[index] : nullptr;
}

const char* graybmp_filter_name(size_t index) {
    return index < sizeof graybmp::kFilterNames / sizeof graybmp::kFilterNames[0] ? graybmp::kFilterNames[index] : nullptr;
}

}  // extern "C"
