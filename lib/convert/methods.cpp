#include "convert/methods.h"

#include <algorithm>
#include <cmath>

#include "convert/luminance.h"

namespace graybmp {
namespace {

std::int64_t weightsSum(const GrayFormula& f) {
    return static_cast<std::int64_t>(f.weights[0] + f.weights[1] + f.weights[2]);
}

// Each method's two formulas: Gray8 on 0 to 255, Gray64 on signed values.
template <GrayMethod M>
struct Formula;

template <>
struct Formula<GrayMethod::Mean> {
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        return floorDiv(b + g + r, 3);
    }
};
template <>
struct Formula<GrayMethod::Bt601> {
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        return floorDiv(299 * r + 587 * g + 114 * b + 500, 1000);
    }
};
template <>
struct Formula<GrayMethod::Bt709> {
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        return floorDiv(2126 * r + 7152 * g + 722 * b + 5000, 10000);
    }
};
template <>
struct Formula<GrayMethod::Max> {
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        return std::max({b, g, r});
    }
};
template <>
struct Formula<GrayMethod::Lightness> {
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        return floorDiv(std::max({b, g, r}) + std::min({b, g, r}) + 1, 2);
    }
};
template <>
struct Formula<GrayMethod::Rms> {  // with the sign of the sum, so that a gray stays itself
    static std::int64_t of(std::int64_t b, std::int64_t g, std::int64_t r) {
        const std::int64_t n = std::min<std::int64_t>(nearestRootOfThird(b * b + g * g + r * r), 32767);
        return b + g + r < 0 ? -n : n;
    }
};
template <>
struct Formula<GrayMethod::Red> {
    static std::int64_t of(std::int64_t, std::int64_t, std::int64_t r) { return r; }
};
template <>
struct Formula<GrayMethod::Green> {
    static std::int64_t of(std::int64_t, std::int64_t g, std::int64_t) { return g; }
};
template <>
struct Formula<GrayMethod::Blue> {
    static std::int64_t of(std::int64_t b, std::int64_t, std::int64_t) { return b; }
};

template <GrayMethod M>
std::uint8_t gray8(const GrayFormula&, unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>(Formula<M>::of(blue, green, red));
}

template <GrayMethod M>
std::int32_t gray64(const GrayFormula&, std::int32_t blue, std::int32_t green, std::int32_t red) {
    return static_cast<std::int32_t>(Formula<M>::of(blue, green, red));
}

std::uint8_t luminance8(const GrayFormula&, unsigned blue, unsigned green, unsigned red) {
    return luminanceOf(blue, green, red);
}

// Linear values already: BT.709's weights apply to them as they are.
std::int32_t luminance64(const GrayFormula& f, std::int32_t blue, std::int32_t green,
                         std::int32_t red) {
    return gray64<GrayMethod::Bt709>(f, blue, green, red);
}

std::int64_t weighted(const GrayFormula& f, std::int64_t b, std::int64_t g, std::int64_t r) {
    const auto w = [&](int c) { return static_cast<std::int64_t>(f.weights[c]); };
    const std::int64_t sum = weightsSum(f);
    return floorDiv(w(0) * r + w(1) * g + w(2) * b + sum / 2, sum);
}

std::uint8_t weights8(const GrayFormula& f, unsigned blue, unsigned green, unsigned red) {
    return static_cast<std::uint8_t>(weighted(f, blue, green, red));
}

std::int32_t weights64(const GrayFormula& f, std::int32_t blue, std::int32_t green,
                       std::int32_t red) {
    return static_cast<std::int32_t>(weighted(f, blue, green, red));
}

#define GRAYBMP_ROW(M, name) {GrayMethod::M, name, gray8<GrayMethod::M>, gray64<GrayMethod::M>}

}  // namespace

constexpr MethodRow kMethodRows[kGrayMethods] = {
    GRAYBMP_ROW(Mean, "mean"),
    GRAYBMP_ROW(Bt601, "bt601"),
    GRAYBMP_ROW(Bt709, "bt709"),
    {GrayMethod::Luminance, "luminance", luminance8, luminance64},
    GRAYBMP_ROW(Max, "max"),
    GRAYBMP_ROW(Lightness, "lightness"),
    GRAYBMP_ROW(Rms, "rms"),
    GRAYBMP_ROW(Red, "red"),
    GRAYBMP_ROW(Green, "green"),
    GRAYBMP_ROW(Blue, "blue"),
    {GrayMethod::Weights, "weights=R,G,B", weights8, weights64},
};
#undef GRAYBMP_ROW

// Every row filled, each where its method's value says (a row left out is all zeros).
constexpr bool rowsInOrder() {
    for (int i = 0; i < kGrayMethods; ++i)
        if (kMethodRows[i].name == nullptr || static_cast<int>(kMethodRows[i].id) != i) return false;
    return static_cast<int>(GrayMethod::Weights) + 1 == kGrayMethods;
}
static_assert(rowsInOrder(), "every method has its place in the registry");

// (n - 1/2)^2 <= q / 3 < (n + 1/2)^2, that is 3 (2n - 1)^2 <= 4q < 3 (2n + 1)^2, never
// equal (the one side is odd, the other even).
std::int64_t nearestRootOfThird(std::int64_t q) {
    auto n = static_cast<std::int64_t>(std::sqrt(static_cast<double>(q) / 3.0) + 0.5);
    while (n > 0 && 3 * (2 * n - 1) * (2 * n - 1) > 4 * q) --n;
    while (3 * (2 * n + 1) * (2 * n + 1) < 4 * q) ++n;
    return n;
}

}  // namespace graybmp
