#include "pipeline/tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "convert/methods.h"

namespace graybmp {
namespace {

bool toneTake(void* self, const std::uint8_t* grays) {
    ToneStage& s = *static_cast<ToneStage*>(self);
    for (std::size_t x = 0; x < s.row.size(); ++x) s.row[x] = s.table[grays[x]];
    return s.next(s.row.data());
}

// A whole number of any size, 32 bits a limb, the lowest first.
using Big = std::vector<std::uint32_t>;

void multiply(Big& big, std::uint32_t by) {
    std::uint64_t carry = 0;
    for (std::uint32_t& limb : big) {
        carry += std::uint64_t{limb} * by;
        limb = static_cast<std::uint32_t>(carry);
        carry >>= 32;
    }
    if (carry != 0) big.push_back(static_cast<std::uint32_t>(carry));
}

Big power(std::uint32_t base, std::uint32_t exponent, Big big = Big{1}) {
    for (std::uint32_t i = 0; i < exponent; ++i) multiply(big, base);
    return big;
}

bool atLeast(const Big& a, const Big& b) {
    if (a.size() != b.size()) return a.size() > b.size();
    for (std::size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] > b[i];
    return true;
}

std::uint32_t gcd(std::uint32_t a, std::uint32_t b) { return b == 0 ? a : gcd(b, a % b); }

// The stretch of [black, white] over [0, 255].
int stretched(int g, int black, int white) {
    const std::int64_t range = white - black;
    return static_cast<int>(std::clamp<std::int64_t>(floorDiv((g - black) * std::int64_t{510} + range, 2 * range), 0, 255));
}

}  // namespace

int gammaOf(int g, int thousandths) {
    if (g == 0 || g == 255) return g;
    const double x = 255.0 * std::pow(g / 255.0, 1000.0 / thousandths);
    const double whole = std::floor(x);
    if (std::fabs(x - whole - 0.5) > 1e-6) return static_cast<int>(std::floor(x + 0.5));
    // Near a half, where the last bit of pow could decide: with G = p / q in lowest terms,
    // 255 (g / 255)^(1 / G) >= j + 1/2 exactly when g^q 510^p >= (2j + 1)^p 255^q.
    const std::uint32_t d = gcd(static_cast<std::uint32_t>(thousandths), 1000);
    const std::uint32_t p = static_cast<std::uint32_t>(thousandths) / d, q = 1000 / d;
    const auto j = static_cast<std::uint32_t>(whole);
    const bool up = atLeast(power(510, p, power(static_cast<std::uint32_t>(g), q)), power(2 * j + 1, p, power(255, q)));
    return static_cast<int>(j) + (up ? 1 : 0);
}

std::uint8_t toneOf(const Levels& l, int g) {
    if (l.black >= 0) g = stretched(g, l.black, l.white);
    if (l.normalBlack >= 0 && l.normalBlack < l.normalWhite) g = stretched(g, l.normalBlack, l.normalWhite);
    if (l.gamma != 0) g = gammaOf(g, l.gamma);
    if (l.negate) g = 255 - g;
    return static_cast<std::uint8_t>(g);
}

void normalRange(Levels& l, const std::uint64_t (&histogram)[256]) {
    std::uint64_t counts[256] = {}, pixels = 0;
    for (int g = 0; g < 256; ++g) {
        const int to = l.black >= 0 ? stretched(g, l.black, l.white) : g;  // after the input range
        counts[to] += histogram[g];
        pixels += histogram[g];
    }
    int black = 0, white = 255;
    for (std::uint64_t below = 0; black < 255 && (below += counts[black]) * 200 < pixels;) ++black;
    for (std::uint64_t above = 0; white > 0 && (above += counts[white]) * 200 < pixels;) --white;
    l.normalBlack = black, l.normalWhite = white;
}

RowTaker toneInto(ToneStage& stage, const Levels& levels, std::int64_t width, RowTaker next) {
    bool changes = false;
    for (int g = 0; g < 256; ++g) {
        stage.table[g] = toneOf(levels, g);
        changes = changes || stage.table[g] != g;
    }
    if (!changes) return next;
    stage.row.resize(static_cast<std::size_t>(width));
    stage.next = next;
    return RowTaker{&stage, toneTake};
}

}  // namespace graybmp
