// Void and cluster, every step in integers:
//   the filter: a Gaussian of sigma 1.5 on the 64 x 64 torus, G(dx, dy) =
//     round(65536 exp(-(dx^2 + dy^2) / 4.5)) for |dx|, |dy| <= 8 (0 beyond); no value of
//     it lies near a half, so every libm rounds it alike (checked below);
//   a pixel's energy: the sum of G over the ones of the pattern around it, 64-bit;
//   the tightest cluster: the one with the greatest energy; the largest void: the zero with
//     the least; ties to the lowest row-major index;
//   the generator: x = x * 1103515245 + 12345 (mod 2^32) from x = 1993, a draw
//     (x >> 16) mod 4096; the initial pattern: the first 409 distinct draws set (a tenth);
//   phase 0: the tightest cluster moved into the largest void until it would come back to
//     where it was; phase 1: from that prototype the tightest cluster taken out, ranked from
//     ones - 1 down to 0; phase 2: from the prototype the largest void filled, ranked from
//     ones up to 4095 (past half the pattern, the tightest cluster of zeros, as the method
//     has it, is the same pixel: a zero's energy of zeros is the whole filter's sum less its
//     energy of ones).
#include "blue_noise.h"

#include <cmath>
#include <cstdlib>

namespace graybmp {
namespace {

constexpr int kSide = kBlueNoiseSide, kCells = kSide * kSide, kRadius = 8;

struct Energies {
    std::int64_t filter[2 * kRadius + 1][2 * kRadius + 1];
    std::vector<std::int64_t> of = std::vector<std::int64_t>(kCells, 0);
    std::vector<char> one = std::vector<char>(kCells, 0);
};

void flip(Energies& e, int at, bool set) {
    e.one[static_cast<std::size_t>(at)] = set ? 1 : 0;
    const int y = at / kSide, x = at % kSide;
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx) {
            const int to = (y + dy + kSide) % kSide * kSide + (x + dx + kSide) % kSide;
            const std::int64_t g = e.filter[dy + kRadius][dx + kRadius];
            e.of[static_cast<std::size_t>(to)] += set ? g : -g;
        }
}

// The one of greatest energy, or the zero of least.
int extreme(const Energies& e, bool cluster) {
    int best = -1;
    for (int i = 0; i < kCells; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if ((e.one[at] != 0) != cluster) continue;
        if (best < 0 || (cluster ? e.of[at] > e.of[static_cast<std::size_t>(best)]
                                 : e.of[at] < e.of[static_cast<std::size_t>(best)]))
            best = i;
    }
    return best;
}

}  // namespace

std::vector<std::uint16_t> makeBlueNoise() {
    Energies e;
    for (int dy = -kRadius; dy <= kRadius; ++dy)
        for (int dx = -kRadius; dx <= kRadius; ++dx) {
            const double g = 65536.0 * std::exp(-(dx * dx + dy * dy) / 4.5);
            const double fraction = g - std::floor(g);
            if (std::fabs(fraction - 0.5) < 1e-6) std::abort();  // a libm could round it either way
            e.filter[dy + kRadius][dx + kRadius] = static_cast<std::int64_t>(std::floor(g + 0.5));
        }
    std::uint32_t x = 1993;
    int ones = 0;
    while (ones < kCells / 10) {
        x = x * 1103515245u + 12345u;
        const int at = static_cast<int>((x >> 16) % kCells);
        if (e.one[static_cast<std::size_t>(at)] == 0) flip(e, at, true), ++ones;
    }
    for (;;) {
        const int cluster = extreme(e, true);
        flip(e, cluster, false);
        const int void_ = extreme(e, false);
        if (void_ == cluster) {
            flip(e, cluster, true);
            break;
        }
        flip(e, void_, true);
    }
    std::vector<std::uint16_t> rank(kCells, 0);
    const Energies prototype = e;
    for (int r = ones - 1; r >= 0; --r) {
        const int cluster = extreme(e, true);
        flip(e, cluster, false);
        rank[static_cast<std::size_t>(cluster)] = static_cast<std::uint16_t>(r);
    }
    e = prototype;
    for (int r = ones; r < kCells; ++r) {
        const int void_ = extreme(e, false);
        flip(e, void_, true);
        rank[static_cast<std::size_t>(void_)] = static_cast<std::uint16_t>(r);
    }
    return rank;
}

}  // namespace graybmp
