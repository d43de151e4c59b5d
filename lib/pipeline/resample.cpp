// The scale stage (pipeline/resample.h has the definitions). The kernels are evaluated in
// IEEE double, every operation rounded to nearest in the order written here, without a
// call to libm and without fused multiply-adds (this file is built with contraction off),
// so that the weights are the same integers on every processor.
#include "pipeline/resample.h"

#include <algorithm>

#include "convert/kernels.h"
#include "pipeline/linear.h"
#include "platform/memory.h"

namespace graybmp {
namespace {

constexpr std::int32_t kOne = 16384;  // the weights of a pixel sum to this, 2^14
constexpr double kPi = 3.141592653589793;

std::int64_t floorOf(std::int64_t a, std::int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0); }

// sin(pi n / d) for n >= 0: n / d = q + r / d, sin(pi (q + s)) = (-1)^q sin(pi s), and
// sin(pi s) = sin(pi (1 - s)) takes s to [0, 1/2], where the Taylor polynomial of the
// 13th degree is within 7e-10.
double sinPi(std::int64_t n, std::int64_t d) {
    const std::int64_t q = n / d;
    std::int64_t r = n - q * d;
    if (2 * r > d) r = d - r;
    const double x = kPi * (static_cast<double>(r) / static_cast<double>(d));
    const double x2 = x * x;
    const double p =
        x * (1.0 + x2 * (-1.0 / 6.0 +
                         x2 * (1.0 / 120.0 +
                               x2 * (-1.0 / 5040.0 +
                                     x2 * (1.0 / 362880.0 + x2 * (-1.0 / 39916800.0 + x2 * (1.0 / 6227020800.0)))))));
    return q % 2 != 0 ? -p : p;
}

// K(n / d) for n >= 0: lanczos3 sinc(t) sinc(t / 3), sinc(t) = sin(pi t) / (pi t); mitchell
// with B = C = 1/3.
double kernel(Filter filter, std::int64_t n, std::int64_t d) {
    if (filter == Filter::Lanczos3) {
        if (n == 0) return 1.0;
        const double t = static_cast<double>(n) / static_cast<double>(d);
        const double third = static_cast<double>(n) / static_cast<double>(3 * d);
        return sinPi(n, d) / (kPi * t) * (sinPi(n, 3 * d) / (kPi * third));
    }
    const double a = static_cast<double>(n) / static_cast<double>(d);
    if (a < 1.0) return ((7.0 * a - 12.0) * a * a + 16.0 / 3.0) / 6.0;
    return (((-7.0 / 3.0 * a + 12.0) * a - 20.0) * a + 32.0 / 3.0) / 6.0;
}

// The rest of 16384 to the first largest weight, the zeros at both ends dropped.
void settled(std::int64_t& first, std::vector<std::int32_t>& w) {
    std::int32_t sum = 0;
    std::size_t largest = 0;
    for (std::size_t i = 0; i < w.size(); ++i) {
        sum += w[i];
        if (w[i] > w[largest]) largest = i;
    }
    w[largest] += kOne - sum;
    std::size_t lead = 0;
    while (lead + 1 < w.size() && w[lead] == 0) ++lead;
    std::size_t end = w.size();
    while (end > lead + 1 && w[end - 1] == 0) --end;
    w.assign(w.begin() + static_cast<std::ptrdiff_t>(lead), w.begin() + static_cast<std::ptrdiff_t>(end));
    first += static_cast<std::int64_t>(lead);
}

// Each gray's value less 32768, as the vectors' pass takes it: in linear light, or as it is.
struct ShiftedTable {
    std::int32_t v[256];
};
constexpr ShiftedTable shiftedOf(bool linear) {
    ShiftedTable t{};
    for (int g = 0; g < 256; ++g) t.v[g] = (linear ? kLinearOf[g] : g) - 32768;
    return t;
}
constexpr ShiftedTable kShiftedLinear = shiftedOf(true), kShiftedGray = shiftedOf(false);

// Sums of 16-bit values by weights whose magnitudes add up to at most this stay in 32 bits.
constexpr std::int64_t kNarrowSum = 32767;

std::int64_t sumOfMagnitudes(const std::vector<std::int32_t>& w) {
    std::int64_t sum = 0;
    for (const std::int32_t v : w) sum += v < 0 ? -std::int64_t{v} : v;
    return sum;
}

std::int32_t clamped(std::int64_t sum) {
    if (sum < -kOne / 2) return 0;
    return static_cast<std::int32_t>(std::min<std::int64_t>((sum + kOne / 2) >> 14, 65535));
}

}  // namespace

void filterTaps(Filter filter, std::int64_t in, std::int64_t out, std::int64_t x, std::int64_t& first,
                std::vector<std::int32_t>& weights) {
    weights.clear();
    if (filter == Filter::Nearest || in == out) {
        first = in == out ? x : (2 * x + 1) * in / (2 * out);
        weights.push_back(kOne);
        return;
    }
    if (filter == Filter::Box) {
        first = x * in / out;
        const std::int64_t last = ((x + 1) * in - 1) / out;
        for (std::int64_t i = first; i <= last; ++i) {
            const std::int64_t overlap = std::min((i + 1) * out, (x + 1) * in) - std::max(i * out, x * in);
            weights.push_back(static_cast<std::int32_t>((2 * overlap * kOne + in) / (2 * in)));
        }
        settled(first, weights);
        return;
    }
    const std::int64_t reach = (filter == Filter::Lanczos3 ? 3 : 2) * 2 * std::max(in, out);  // R D
    const std::int64_t d = 2 * std::max(in, out), c = (2 * x + 1) * in - out;
    const std::int64_t lo = std::max<std::int64_t>(0, floorOf(c - reach, 2 * out) + 1);
    const std::int64_t hi = std::min<std::int64_t>(in - 1, floorOf(c + reach + 2 * out - 1, 2 * out) - 1);
    std::vector<double> k;
    double sum = 0;
    for (std::int64_t i = lo; i <= hi; ++i) {
        const std::int64_t n = 2 * i * out - c;
        if (n <= -reach || n >= reach) {
            k.push_back(0.0);
            continue;
        }
        k.push_back(kernel(filter, n < 0 ? -n : n, d));
        sum += k.back();
    }
    first = lo;
    if (!(sum > 0.0) || k.empty()) {  // no taps of weight left: the nearest pixel
        first = std::min<std::int64_t>(in - 1, (2 * x + 1) * in / (2 * out));
        weights.push_back(kOne);
        return;
    }
    for (const double v : k) {
        const double q = v * static_cast<double>(kOne) / sum + 0.5;
        const double whole = static_cast<double>(static_cast<std::int64_t>(q));
        weights.push_back(static_cast<std::int32_t>(whole > q ? whole - 1.0 : whole));  // floor
    }
    settled(first, weights);
}

namespace {

// The g nearest each 16th linear value (v = 16 b), where the search for any v from there
// starts: within 16 of it lies at most one point halfway between two Y(g).
struct EncodeStarts {
    std::uint8_t g[4096];
};
constexpr EncodeStarts encodeStarts() {
    EncodeStarts t{};
    int g = 0;
    for (int b = 0; b < 4096; ++b) {
        while (g < 255 && 2 * 16 * b >= kLinearOf[g] + kLinearOf[g + 1]) ++g;
        t.g[b] = static_cast<std::uint8_t>(g);
    }
    return t;
}
constexpr EncodeStarts kEncodeStarts = encodeStarts();

}  // namespace

std::uint8_t encodedOf(std::int32_t v) {
    // The greatest g with 2v >= Y(g - 1) + Y(g), or 0.
    int g = kEncodeStarts.g[v >> 4];
    while (g < 255 && 2 * v >= std::int32_t{kLinearOf[g]} + kLinearOf[g + 1]) ++g;
    return static_cast<std::uint8_t>(g);
}

namespace {

// The vertical taps of scaled row y into the stage, worked out once a row.
void rowTaps(ScaleStage& s, std::int64_t y, std::int64_t& first, std::vector<std::int32_t>& w) {
    if (s.rowFor != y) {
        filterTaps(s.filter, s.inHeight, s.plan.scaledHeight, y, s.rowFirst, w);
        s.rowFor = y;
    }
    first = s.rowFirst;
}

// Canvas row `cy` made into s.canvas if the rows it needs are in; false where they are not.
bool made(ScaleStage& s, std::int64_t cy) {
    std::uint8_t* out = s.canvas.data();
    const std::int64_t y = cy - s.plan.top;
    if (y < s.y0 || y >= s.y1) {
        std::fill(s.canvas.begin(), s.canvas.end(), s.background);
        return true;
    }
    std::int64_t first = 0;
    rowTaps(s, y, first, s.rowWeights);
    const auto taps = static_cast<std::int64_t>(s.rowWeights.size());
    const bool in = s.bottomUp ? s.received >= s.inHeight - first : s.received >= first + taps;
    if (!in) return false;
    std::fill(s.canvas.begin(), s.canvas.end(), s.background);
    const auto kept = static_cast<std::size_t>(s.x1 - s.x0);
    std::uint8_t* to = out + s.plan.left + s.x0;
    if (taps == 1) {  // a row as it is
        const std::uint16_t* row = s.rows.data() + static_cast<std::size_t>(first % s.ring) * kept;
        for (std::size_t x = 0; x < kept; ++x) to[x] = s.linear ? encodedOf(row[x]) : static_cast<std::uint8_t>(row[x]);
        return true;
    }
    // Tap by tap over the whole row, in 32 bits where the weights' magnitudes allow it.
    const bool narrow = sumOfMagnitudes(s.rowWeights) <= kNarrowSum;
    s.sums.assign(kept, 0);
    s.wideSums.assign(narrow ? 0 : kept, 0);
    for (std::int64_t j = 0; j < taps; ++j) {
        const std::int32_t w = s.rowWeights[static_cast<std::size_t>(j)];
        const std::uint16_t* row = s.rows.data() + static_cast<std::size_t>((first + j) % s.ring) * kept;
        if (narrow) {
            runAccumulate(s.cpu, s.sums.data(), row, w, kept);
        } else {
            for (std::size_t x = 0; x < kept; ++x) s.wideSums[x] += std::int64_t{w} * row[x];
        }
    }
    for (std::size_t x = 0; x < kept; ++x) {
        const std::int32_t v = clamped(narrow ? s.sums[x] : s.wideSums[x]);
        to[x] = s.linear ? encodedOf(v) : static_cast<std::uint8_t>(v);
    }
    return true;
}

bool scaleTake(void* self, const std::uint8_t* grays) {
    ScaleStage& s = *static_cast<ScaleStage*>(self);
    const std::int64_t y = s.bottomUp ? s.inHeight - 1 - s.received : s.received;
    ++s.received;
    const auto kept = static_cast<std::size_t>(s.x1 - s.x0);
    if (y >= s.needFrom && y < s.needTo) {
        std::uint16_t* row = s.rows.data() + static_cast<std::size_t>(y % s.ring) * kept;
        std::uint16_t* values = s.values.data();
        if (s.columns.single) {  // one tap each: the values themselves
            for (std::size_t x = 0; x < kept; ++x) {
                const std::uint8_t g = grays[s.columns.first[x]];
                row[x] = s.linear ? kLinearOf[g] : g;
            }
        } else if (s.columns.narrow) {
            std::int16_t* shifted = s.shifted.data();
            runShift(s.cpu, grays, static_cast<std::size_t>(s.inWidth), s.linear ? kShiftedLinear.v : kShiftedGray.v,
                     shifted);
            runScale(s.cpu, ScaleRun{shifted, s.columns.padded.data(), s.columns.paddedAt.data(),
                                     s.columns.first.data(), kept, row});
        } else {
            for (std::int64_t x = 0; x < s.inWidth; ++x) values[x] = s.linear ? kLinearOf[grays[x]] : grays[x];
            const std::int32_t* weights = s.columns.weights.data();
            for (std::size_t x = 0; x < kept; ++x) {
                const std::uint16_t* from = values + s.columns.first[x];
                std::int64_t sum = 0;
                for (std::uint32_t j = s.columns.at[x]; j < s.columns.at[x + 1]; ++j)
                    sum += std::int64_t{weights[j]} * from[j - s.columns.at[x]];
                row[x] = static_cast<std::uint16_t>(clamped(sum));
            }
        }
    }
    while (s.next < s.plan.canvasHeight) {
        const std::int64_t cy = s.bottomUp ? s.plan.canvasHeight - 1 - s.next : s.next;
        if (!made(s, cy)) break;
        if (!s.taker(s.canvas.data())) return false;
        ++s.next;
    }
    return true;
}

// The kept range of the scaled picture on an axis of `canvas` pixels, placed at `at`.
void keptOf(std::int64_t scaled, std::int64_t canvas, std::int64_t at, std::int64_t& from, std::int64_t& to) {
    from = std::max<std::int64_t>(0, -at);
    to = std::max(from, std::min(scaled, canvas - at));
}

}  // namespace

std::uint64_t scaleHeap(const FitPlan& plan, Filter filter, std::int64_t inWidth, std::int64_t inHeight) {
    // The ring at most the taps of a row, which a downscale widens by in / out.
    const std::int64_t reach = filter == Filter::Lanczos3 ? 6 : filter == Filter::Mitchell ? 4 : 1;
    const std::int64_t rows =
        reach * std::max<std::int64_t>(1, (inHeight + plan.scaledHeight - 1) / std::max<std::int64_t>(1, plan.scaledHeight)) + 2;
    const std::int64_t taps =
        reach * std::max<std::int64_t>(1, (inWidth + plan.scaledWidth - 1) / std::max<std::int64_t>(1, plan.scaledWidth)) + 2;
    return static_cast<std::uint64_t>(rows * plan.canvasWidth * 2 + inWidth * 2 + plan.canvasWidth * (taps * 4 + 16));
}

RowTaker scaleInto(ScaleStage& s, const FitPlan& plan, Filter filter, std::int64_t inWidth, std::int64_t inHeight,
                   bool bottomUp, std::uint8_t background, Cpu cpu, RowTaker next) {
    s.cpu = cpu;
    s.plan = plan, s.filter = filter, s.bottomUp = bottomUp;
    s.inWidth = inWidth, s.inHeight = inHeight, s.background = background;
    s.linear = plan.scales && filter != Filter::Nearest;
    s.taker = next;
    keptOf(plan.scaledWidth, plan.canvasWidth, plan.left, s.x0, s.x1);
    keptOf(plan.scaledHeight, plan.canvasHeight, plan.top, s.y0, s.y1);
    std::vector<std::int32_t> w;
    s.columns.at.push_back(0);
    for (std::int64_t x = s.x0; x < s.x1; ++x) {
        std::int64_t first = 0;
        filterTaps(filter, inWidth, plan.scaledWidth, x, first, w);
        s.columns.first.push_back(first);
        s.columns.weights.insert(s.columns.weights.end(), w.begin(), w.end());
        s.columns.at.push_back(static_cast<std::uint32_t>(s.columns.weights.size()));
    }
    // The weights padded for the vectors' pass, where every pixel's are narrow enough.
    s.columns.narrow = true, s.columns.single = true;
    s.columns.paddedAt.push_back(0);
    for (std::size_t x = 0; x + 1 < s.columns.at.size(); ++x) {
        const std::uint32_t a = s.columns.at[x], b = s.columns.at[x + 1];
        std::int64_t sum = 0;
        for (std::uint32_t j = a; j < b; ++j) {
            sum += s.columns.weights[j] < 0 ? -std::int64_t{s.columns.weights[j]} : s.columns.weights[j];
            s.columns.padded.push_back(static_cast<std::int16_t>(s.columns.weights[j]));
        }
        if (sum > kNarrowSum) s.columns.narrow = false;
        if (b - a != 1) s.columns.single = false;
        s.columns.padded.resize((s.columns.padded.size() + kScaleLanes - 1) / kScaleLanes * kScaleLanes, 0);
        s.columns.paddedAt.push_back(static_cast<std::uint32_t>(s.columns.padded.size()));
    }
    if (!s.columns.narrow || s.columns.single) s.columns.padded.clear(), s.columns.paddedAt.clear();
    s.shifted.assign(s.columns.narrow && !s.columns.single ? static_cast<std::size_t>(inWidth) + kScaleLanes : 0, 0);
    // The ring: the most taps of a row; the input rows any kept row reaches.
    s.ring = 1;
    s.needFrom = inHeight, s.needTo = 0;
    for (std::int64_t y = s.y0; y < s.y1; ++y) {
        std::int64_t first = 0;
        filterTaps(filter, inHeight, plan.scaledHeight, y, first, w);
        s.ring = std::max(s.ring, static_cast<std::int64_t>(w.size()));
        s.needFrom = std::min(s.needFrom, first);
        s.needTo = std::max(s.needTo, first + static_cast<std::int64_t>(w.size()));
    }
    s.rows.assign(static_cast<std::size_t>(s.ring * (s.x1 - s.x0)), 0);
    s.values.assign(static_cast<std::size_t>(inWidth), 0);
    s.canvas.assign(static_cast<std::size_t>(plan.canvasWidth), background);
    return RowTaker{&s, scaleTake};
}

}  // namespace graybmp
