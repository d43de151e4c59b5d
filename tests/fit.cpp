// Fit to the panel, against the tests' own reference of docs/fit.md: the sizes and
// offsets, the orientation and the turns done to the pixels themselves, the filters'
// weights and both passes in linear light.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats.h"
#include "graybmp.h"
#include "pictures/exif.h"
#include "convert/kernels.h"
#include "pipeline/resample.h"
#include "picture.h"

namespace graybmp {
namespace {

using test::Bytes;

struct Grays {
    std::int64_t w = 0, h = 0;
    std::vector<int> v;  // top row first
    int& at(std::int64_t x, std::int64_t y) { return v[static_cast<std::size_t>(y * w + x)]; }
    int at(std::int64_t x, std::int64_t y) const { return v[static_cast<std::size_t>(y * w + x)]; }
};

Grays blank(std::int64_t w, std::int64_t h, int fill) { return Grays{w, h, std::vector<int>(static_cast<std::size_t>(w * h), fill)}; }

// The eight orientations and the turns, as the pixels move.
Grays clockwise(const Grays& g) {
    Grays o = blank(g.h, g.w, 0);
    for (std::int64_t y = 0; y < o.h; ++y)
        for (std::int64_t x = 0; x < o.w; ++x) o.at(x, y) = g.at(y, g.h - 1 - x);
    return o;
}
Grays mirrored(const Grays& g) {
    Grays o = g;
    for (std::int64_t y = 0; y < g.h; ++y)
        for (std::int64_t x = 0; x < g.w; ++x) o.at(x, y) = g.at(g.w - 1 - x, y);
    return o;
}
Grays transposed(const Grays& g) {
    Grays o = blank(g.h, g.w, 0);
    for (std::int64_t y = 0; y < o.h; ++y)
        for (std::int64_t x = 0; x < o.w; ++x) o.at(x, y) = g.at(y, x);
    return o;
}
Grays turned(Grays g, int quarters) {
    for (int i = 0; i < quarters; ++i) g = clockwise(g);
    return g;
}
Grays upright(const Grays& g, int orientation) {
    switch (orientation) {
    case 2: return mirrored(g);
    case 3: return turned(g, 2);
    case 4: return turned(mirrored(g), 2);
    case 5: return transposed(g);
    case 6: return turned(g, 1);
    case 7: return turned(transposed(g), 2);
    case 8: return turned(g, 3);
    default: return g;
    }
}

// Linear light: Y(g) = round(65535 D(g / 255)).
int linearOf(int g) {
    const double v = g / 255.0;
    return static_cast<int>(std::lround(65535 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))));
}
int encodedOf(std::int64_t v) {
    static const std::vector<int> table = [] {
        std::vector<int> t;
        for (int g = 0; g < 256; ++g) t.push_back(linearOf(g));
        return t;
    }();
    int g = 0;
    for (int k = 1; k < 256; ++k)
        if (2 * v >= table[static_cast<std::size_t>(k - 1)] + table[static_cast<std::size_t>(k)]) g = k;
    return g;
}

constexpr double PI = 3.141592653589793;
double sinPi(std::int64_t n, std::int64_t d) {
    const std::int64_t q = n / d;
    std::int64_t r = n - q * d;
    if (2 * r > d) r = d - r;
    const double x = PI * (static_cast<double>(r) / static_cast<double>(d));
    const double x2 = x * x;
    const double p = x * (1 + x2 * (-1.0 / 6 + x2 * (1.0 / 120 + x2 * (-1.0 / 5040 + x2 * (1.0 / 362880 +
                     x2 * (-1.0 / 39916800 + x2 * (1.0 / 6227020800)))))));
    return q % 2 == 1 ? -p : p;
}
double K(const std::string& filter, std::int64_t n, std::int64_t d) {
    if (filter == "lanczos3") {
        if (n == 0) return 1;
        return (sinPi(n, d) / (PI * (static_cast<double>(n) / static_cast<double>(d)))) *
               (sinPi(n, 3 * d) / (PI * (static_cast<double>(n) / static_cast<double>(3 * d))));
    }
    const double a = static_cast<double>(n) / static_cast<double>(d);
    if (a < 1) return ((7 * a - 12) * a * a + 16.0 / 3) / 6;
    return (((-7.0 / 3 * a + 12) * a - 20) * a + 32.0 / 3) / 6;
}

// The taps of output pixel x: (input pixel, weight) pairs over every input pixel.
std::vector<std::pair<std::int64_t, std::int64_t>> tapsOf(const std::string& filter, std::int64_t in, std::int64_t out,
                                                           std::int64_t x) {
    std::vector<std::pair<std::int64_t, std::int64_t>> t;
    const auto nearest = [&] { return decltype(t){{(2 * x + 1) * in / (2 * out), 16384}}; };
    if (in == out) return {{x, 16384}};
    if (filter == "nearest") return nearest();
    if (filter == "box") {
        for (std::int64_t i = 0; i < in; ++i) {
            const std::int64_t k = std::min((i + 1) * out, (x + 1) * in) - std::max(i * out, x * in);
            if (k > 0) t.push_back({i, (2 * k * 16384 + in) / (2 * in)});
        }
    } else {
        const std::int64_t D = 2 * std::max(in, out), R = filter == "lanczos3" ? 3 : 2;
        std::vector<std::pair<std::int64_t, double>> k;
        double S = 0;
        for (std::int64_t i = 0; i < in; ++i) {
            const std::int64_t n = 2 * i * out - (2 * x + 1) * in + out;
            if (std::llabs(n) >= R * D) continue;
            k.push_back({i, K(filter, std::llabs(n), D)});
            S += k.back().second;
        }
        if (!(S > 0)) return nearest();
        for (const auto& [i, v] : k) t.push_back({i, static_cast<std::int64_t>(std::floor(v * 16384 / S + 0.5))});
    }
    std::int64_t sum = 0;
    std::size_t largest = 0;
    for (std::size_t i = 0; i < t.size(); ++i) {
        sum += t[i].second;
        if (t[i].second > t[largest].second) largest = i;
    }
    t[largest].second += 16384 - sum;
    return t;
}

std::int64_t passed(std::int64_t v) {
    const std::int64_t r = (v + 8192) >= 0 ? (v + 8192) / 16384 : -((-(v + 8192) + 16383) / 16384);
    return std::clamp<std::int64_t>(r, 0, 65535);
}

// The stored picture scaled to w x h: rows first, then columns.
Grays scaled(const Grays& g, std::int64_t w, std::int64_t h, const std::string& filter) {
    const bool linear = filter != "nearest";
    Grays across = blank(w, g.h, 0), out = blank(w, h, 0);
    for (std::int64_t y = 0; y < g.h; ++y)
        for (std::int64_t x = 0; x < w; ++x) {
            std::int64_t v = 0;
            for (const auto& [i, q] : tapsOf(filter, g.w, w, x)) v += q * (linear ? linearOf(g.at(i, y)) : g.at(i, y));
            across.at(x, y) = static_cast<int>(passed(v));
        }
    for (std::int64_t x = 0; x < w; ++x)
        for (std::int64_t y = 0; y < h; ++y) {
            std::int64_t v = 0;
            for (const auto& [i, q] : tapsOf(filter, g.h, h, y)) v += q * across.at(x, i);
            out.at(x, y) = linear ? encodedOf(passed(v)) : static_cast<int>(passed(v));
        }
    return out;
}

struct Ask {
    std::int64_t W = 0, H = 0;
    std::string fit = "contain", filter = "lanczos3";
    int rotate = 0;  // -1: auto
};

std::int64_t rounded(std::int64_t a, std::int64_t b) { return (2 * a + b) / (2 * b); }
std::int64_t floorHalf(std::int64_t v) { return v >= 0 ? v / 2 : -((1 - v) / 2); }

// The output of docs/fit.md for a stored picture with an orientation tag (its rows
// `decoded` instead where the decoder scaled them).
Grays fitted(const Grays& stored, int orientation, const Ask& a, const Grays* decoded = nullptr) {
    const Grays up = upright(stored, orientation);
    int degrees = a.rotate;
    if (degrees < 0)
        degrees = a.W != 0 && a.H != 0 && ((up.w > up.h && a.W < a.H) || (up.w < up.h && a.W > a.H)) ? 90 : 0;
    const Grays shown = turned(up, degrees / 90);
    const std::int64_t w = shown.w, h = shown.h;
    std::int64_t sw = w, sh = h, W = w, H = h;
    if (a.W != 0 && a.H != 0) {
        W = a.W, H = a.H;
        if (a.fit == "stretch") sw = W, sh = H;
        else if (a.fit == "contain" ? W * h <= H * w : W * h >= H * w)
            sw = W, sh = std::max<std::int64_t>(1, rounded(h * W, w));
        else sw = std::max<std::int64_t>(1, rounded(w * H, h)), sh = H;
    } else if (a.W != 0) {
        W = sw = a.W, H = sh = std::max<std::int64_t>(1, rounded(h * a.W, w));
    } else if (a.H != 0) {
        H = sh = a.H, W = sw = std::max<std::int64_t>(1, rounded(w * a.H, h));
    }
    const bool quarter = (orientation >= 5) != (degrees == 90 || degrees == 270);
    const Grays picture =
        turned(upright(scaled(decoded != nullptr ? *decoded : stored, quarter ? sh : sw, quarter ? sw : sh, a.filter),
                       orientation),
               degrees / 90);
    Grays out = blank(W, H, 255);
    const std::int64_t ox = floorHalf(W - sw), oy = floorHalf(H - sh);
    for (std::int64_t y = 0; y < H; ++y)
        for (std::int64_t x = 0; x < W; ++x)
            if (x - ox >= 0 && x - ox < sw && y - oy >= 0 && y - oy < sh) out.at(x, y) = picture.at(x - ox, y - oy);
    return out;
}

Grays graysOf(const test::Picture& p) {
    Grays g = blank(p.width, p.height, 0);
    for (std::size_t i = 0; i < p.pixels.size(); ++i)
        g.v[i] = test::referenceGray(test::Method::Mean, p.pixels[i].r, p.pixels[i].g, p.pixels[i].b);
    return g;
}

graybmp_options optionsOf(const Ask& a) {
    graybmp_options o;
    graybmp_options_init(&o);
    o.fit_width = static_cast<std::uint32_t>(a.W), o.fit_height = static_cast<std::uint32_t>(a.H);
    for (int i = 0; graybmp_fit_name(static_cast<std::size_t>(i)) != nullptr; ++i)
        if (a.fit == graybmp_fit_name(static_cast<std::size_t>(i))) o.fit = i;
    for (int i = 0; graybmp_filter_name(static_cast<std::size_t>(i)) != nullptr; ++i)
        if (a.filter == graybmp_filter_name(static_cast<std::size_t>(i))) o.filter = i;
    o.rotate = a.rotate < 0 ? GRAYBMP_ROTATE_AUTO : a.rotate;
    return o;
}

// What the library writes for `file`, decoded by the tests' reader, or why not.
std::string outputProblem(const Bytes& file, const graybmp_options& o, const Grays& want) {
    std::uint64_t length = 0;
    graybmp_error e{};
    if (graybmp_output_length(file.data(), file.size(), &o, &length, &e) != GRAYBMP_OK) return e.message;
    // The length from the first bytes alone, as many as it asks for, is the same.
    std::uint64_t streamed = 0;
    for (std::size_t lead = std::min<std::size_t>(152, file.size());;) {
        if (graybmp_stream_output_length(file.data(), lead, file.size(), &o, &streamed, &e) == GRAYBMP_OK) break;
        if (e.status != GRAYBMP_TOO_SHORT || e.needed <= lead || e.needed > file.size()) return e.message;
        lead = static_cast<std::size_t>(e.needed);
    }
    if (streamed != length)
        return "a length of " + std::to_string(streamed) + " from the first bytes, " + std::to_string(length) + " from all";
    Bytes out(static_cast<std::size_t>(length));
    std::size_t written = 0;
    if (graybmp_convert_memory(file.data(), file.size(), out.data(), out.size(), &o, &written, &e) != GRAYBMP_OK)
        return e.message;
    if (written != length) return "wrote " + std::to_string(written) + " of " + std::to_string(length);
    test::Picture p;
    std::string why;
    if (!test::decodePicture(out, p, why)) return why;
    if (p.width != want.w || p.height != want.h)
        return "a size of " + std::to_string(p.width) + " x " + std::to_string(p.height) + ", not " +
               std::to_string(want.w) + " x " + std::to_string(want.h);
    const Grays got = graysOf(p);
    for (std::size_t i = 0; i < got.v.size(); ++i)
        if (got.v[i] != want.v[i])
            return "pixel (" + std::to_string(static_cast<std::int64_t>(i) % want.w) + ", " +
                   std::to_string(static_cast<std::int64_t>(i) / want.w) + ") is " + std::to_string(got.v[i]) +
                   ", not " + std::to_string(want.v[i]);
    return "";
}

// What graybmp_from_pixels writes for the RGBA pixels of `p`, or why not.
std::string fromPixelsProblem(const test::Picture& p, const graybmp_options& o, const Grays& want) {
    std::vector<std::uint8_t> rgba;
    for (const test::Rgba& c : p.pixels) rgba.insert(rgba.end(), {c.r, c.g, c.b, c.a});
    const auto w = static_cast<std::uint32_t>(p.width), h = static_cast<std::uint32_t>(p.height);
    std::uint64_t length = 0;
    graybmp_error e{};
    if (graybmp_from_pixels_length(w, h, &o, &length, &e) != GRAYBMP_OK) return e.message;
    Bytes out(static_cast<std::size_t>(length));
    std::size_t written = 0;
    if (graybmp_from_pixels(rgba.data(), w, h, 4 * w, GRAYBMP_LAYOUT_RGBA, 0, &o, out.data(), out.size(), &written,
                            &e) != GRAYBMP_OK)
        return e.message;
    test::Picture got;
    std::string why;
    if (written != length || !test::decodePicture(out, got, why)) return "not the length promised, or " + why;
    const Grays g = graysOf(got);
    return g.w == want.w && g.h == want.h && g.v == want.v ? "" : "other pixels";
}

test::Picture noise(std::int64_t w, std::int64_t h, std::uint32_t seed) {
    test::Picture p;
    p.width = w, p.height = h;
    for (std::int64_t i = 0; i < w * h; ++i) {
        seed = seed * 1103515245u + 12345u;
        const auto c = [&](int s) { return static_cast<std::uint8_t>(seed >> s); };
        p.pixels.push_back({c(8), c(16), c(24), 255});
    }
    return p;
}

// Every filter, fit and turn on pictures of odd and even sizes scaled by 1/17 to 5, one
// side or none given; PNGs (and a third of the cases as WebPs) with each of the eight
// orientations, BMPs bottom-up and top-down.
TEST(Fit, EveryFilterFitTurnAndOrientationGivesTheDefinitionsBytes) {
    const struct {
        std::int64_t w, h, W, H;
    } sizes[] = {{7, 5, 3, 2}, {7, 5, 35, 25}, {6, 9, 4, 4}, {34, 17, 2, 1}, {34, 17, 0, 5}, {6, 9, 13, 0}, {5, 7, 0, 0}};
    const char* filters[] = {"lanczos3", "mitchell", "box", "nearest"};
    const char* fits[] = {"contain", "cover", "stretch"};
    const int rotates[] = {0, 90, 180, 270, -1};
    const bool emulated = std::getenv("GRAYBMP_EMULATED") != nullptr && *std::getenv("GRAYBMP_EMULATED") != '\0';
    const bool png = test::buildDecodes(GRAYBMP_KIND_PNG), webp = test::buildDecodes(GRAYBMP_KIND_WEBP);
    std::size_t k = 0, ran = 0;
    for (const auto& s : sizes) {
        const test::Picture picture = noise(s.w, s.h, static_cast<std::uint32_t>(s.w * 31 + s.W));
        test::Shape bottomUp;
        bottomUp.bits = 24, bottomUp.width = static_cast<std::int32_t>(s.w), bottomUp.height = static_cast<std::int32_t>(s.h);
        bottomUp.seed = static_cast<std::uint32_t>(s.W + 3);
        const Bytes bmp = test::makePicture(bottomUp);
        test::Picture fromBmp;
        std::string why;
        ASSERT_TRUE(test::decodePicture(bmp, fromBmp, why)) << why;
        for (const char* filter : filters)
            for (const char* fit : fits) {
                if ((s.W == 0 || s.H == 0) && std::string(fit) != "contain") continue;
                if (s.W == 0 && s.H == 0 && std::string(filter) != "lanczos3") continue;
                for (const int rotate : rotates)
                    for (int orientation = 1; orientation <= 8; ++orientation, ++k) {
                        if (emulated && k % 5 != 0) continue;
                        const Ask a{s.W, s.H, fit, filter, rotate};
                        const graybmp_options o = optionsOf(a);
                        SCOPED_TRACE(std::to_string(s.w) + "x" + std::to_string(s.h) + " to " + std::to_string(s.W) +
                                     "x" + std::to_string(s.H) + " " + fit + " " + filter + " rotate " +
                                     std::to_string(rotate) + " orientation " + std::to_string(orientation));
                        if (png) {
                            EXPECT_EQ(outputProblem(test::pngOf(picture, orientation), o,
                                                    fitted(graysOf(picture), orientation, a)), "");
                            ++ran;
                        }
                        if (webp && k % 3 == 0) {  // a third of them again as WebP
                            EXPECT_EQ(outputProblem(test::webpOf(picture, orientation), o,
                                                    fitted(graysOf(picture), orientation, a)), "")
                                << "WebP";
                            ++ran;
                        }
                        if (orientation == 1) {
                            EXPECT_EQ(outputProblem(bmp, o, fitted(graysOf(fromBmp), 1, a)), "") << "bottom-up BMP";
                            EXPECT_EQ(outputProblem(test::bitmapOf(picture), o, fitted(graysOf(picture), 1, a)), "")
                                << "top-down BMP";
                            EXPECT_EQ(fromPixelsProblem(picture, o, fitted(graysOf(picture), 1, a)), "") << "pixels in";
                            ran += 3;
                        }
                    }
            }
    }
    EXPECT_GT(ran, 0u);
}

// The weights of every output pixel of every filter, scaling 1 to 40 pixels to 1 to 40 and
// a few far ratios, are the definitions' integers (the zeros at the ends aside).
TEST(Fit, EveryFiltersWeightsAreTheDefinitions) {
    const struct {
        const char* name;
        Filter filter;
    } filters[] = {{"lanczos3", Filter::Lanczos3}, {"mitchell", Filter::Mitchell}, {"box", Filter::Box}, {"nearest", Filter::Nearest}};
    std::vector<std::pair<std::int64_t, std::int64_t>> scales;
    for (std::int64_t in = 1; in <= 40; ++in)
        for (std::int64_t out = 1; out <= 40; ++out) scales.push_back({in, out});
    for (const auto& far : {std::pair<std::int64_t, std::int64_t>{4000, 480}, {3000, 7}, {7, 1000}, {65535, 3}})
        scales.push_back(far);
    std::size_t checked = 0;
    for (const auto& f : filters)
        for (const auto& [in, out] : scales)
            for (std::int64_t x = 0; x < out; x += out > 100 ? 37 : 1) {
                std::vector<std::pair<std::int64_t, std::int64_t>> want = tapsOf(f.name, in, out, x);
                while (want.size() > 1 && want.back().second == 0) want.pop_back();
                while (want.size() > 1 && want.front().second == 0) want.erase(want.begin());
                std::int64_t first = 0;
                std::vector<std::int32_t> weights;
                filterTaps(f.filter, in, out, x, first, weights);
                std::vector<std::pair<std::int64_t, std::int64_t>> got;
                for (std::size_t i = 0; i < weights.size(); ++i)
                    got.push_back({first + static_cast<std::int64_t>(i), weights[i]});
                ASSERT_EQ(got, want) << f.name << " " << in << " to " << out << ", pixel " << x;
                ++checked;
            }
    EXPECT_GT(checked, 6400u);
    // And every 16-bit value encoded back to the gray nearest it.
    for (std::int32_t v = 0; v <= 65535; ++v) ASSERT_EQ(graybmp::encodedOf(v), encodedOf(std::int64_t{v})) << v;
}

// A JPEG scaled down is decoded at the least of 1/8, 1/4 and 1/2 that leaves twice the
// scaled size both ways, by libjpeg; the filter does the rest, the fit's sizes the full
// picture's. Nearest decodes it whole.
TEST(Fit, AJpegScaledDownIsDecodedAtTheLeastScaleThatLeavesTwiceTheSize) {
    if (!test::buildDecodes(GRAYBMP_KIND_JPEG)) GTEST_SKIP() << "no JPEG decoder in this build";
    const test::Picture picture = noise(131, 67, 5);
    std::vector<std::uint8_t> rgb;
    for (const test::Rgba& p : picture.pixels) rgb.insert(rgb.end(), {p.r, p.g, p.b});
    const Bytes jpeg = test::jpegOf(rgb, 131, 67, 3);
    const Grays full = graysOf(test::jpegPixels(jpeg));
    const struct {
        Ask ask;
        int eighths;
    } cases[] = {{{16, 8, "contain", "lanczos3", 0}, 2},   // 16 x 8: 1/8's 17 x 9 is not twice that
                 {{8, 4, "stretch", "box", 0}, 1},         // 17 x 9 leaves twice 8 x 4
                 {{30, 16, "cover", "mitchell", 0}, 4},    // 31 x 16: 1/4's 33 x 17 is not enough
                 {{9, 20, "contain", "lanczos3", 90}, 4},  // 18 x 9 in the stored frame
                 {{40, 0, "contain", "lanczos3", 0}, 8},   // 40 x 20: 1/2's 66 x 34 is not enough
                 {{8, 4, "stretch", "nearest", 0}, 8}};
    for (const auto& c : cases) {
        const int eighths = c.eighths;
        SCOPED_TRACE(std::to_string(c.ask.W) + "x" + std::to_string(c.ask.H) + " " + c.ask.filter);
        const Grays decoded = graysOf(test::jpegPixels(jpeg, eighths));
        EXPECT_EQ(outputProblem(jpeg, optionsOf(c.ask), fitted(full, 1, c.ask, &decoded)), "") << eighths << "/8";
    }
}

// The horizontal pass of every target built in gives the sums of the definition: random
// values (the extremes among them) by the weights of every filter down and up.
TEST(Fit, EveryTargetsScalingPassGivesTheDefinitionsSums) {
    const Filter filters[] = {Filter::Lanczos3, Filter::Mitchell, Filter::Box};
    std::uint32_t seed = 99;
    for (const Cpu cpu : availableCpus())
        for (const Filter filter : filters)
            for (const auto& [in, out] : {std::pair<std::int64_t, std::int64_t>{97, 13}, {13, 97}, {600, 7}, {40, 39}}) {
                SCOPED_TRACE(std::string(cpuName(cpu)) + " " + std::to_string(in) + " to " + std::to_string(out));
                std::vector<std::int16_t> values(static_cast<std::size_t>(in) + kScaleLanes), weights;
                std::vector<std::int64_t> plain(static_cast<std::size_t>(in));
                for (std::size_t i = 0; i < plain.size(); ++i) {
                    seed = seed * 1103515245u + 12345u;
                    plain[i] = i % 7 == 0 ? 65535 : i % 11 == 0 ? 0 : seed >> 16;
                    values[i] = static_cast<std::int16_t>(plain[i] - 32768);
                }
                std::vector<std::uint32_t> at{0};
                std::vector<std::int64_t> firsts, want;
                for (std::int64_t x = 0; x < out; ++x) {
                    std::int64_t first = 0, sum = 0;
                    std::vector<std::int32_t> w;
                    filterTaps(filter, in, out, x, first, w);
                    for (std::size_t j = 0; j < w.size(); ++j) {
                        weights.push_back(static_cast<std::int16_t>(w[j]));
                        sum += w[j] * plain[static_cast<std::size_t>(first) + j];
                    }
                    weights.resize((weights.size() + kScaleLanes - 1) / kScaleLanes * kScaleLanes, 0);
                    at.push_back(static_cast<std::uint32_t>(weights.size()));
                    firsts.push_back(first);
                    want.push_back(passed(sum));
                }
                std::vector<std::uint16_t> got(static_cast<std::size_t>(out));
                runScale(cpu, ScaleRun{values.data(), weights.data(), at.data(), firsts.data(), got.size(), got.data()});
                EXPECT_EQ(std::vector<std::int64_t>(got.begin(), got.end()), want);
            }
}

// Light is kept: a checkerboard of black and white halved shows half the light, 187 or
// 188, but near its edges; one gray stays itself by every filter and size.
TEST(Fit, ACheckerboardKeepsItsLightAndOneGrayStaysItself) {
    const std::int64_t side = 40;
    test::Picture board;
    board.width = board.height = side;
    for (std::int64_t y = 0; y < side; ++y)
        for (std::int64_t x = 0; x < side; ++x) {
            const auto v = static_cast<std::uint8_t>((x + y) % 2 == 0 ? 0 : 255);
            board.pixels.push_back({v, v, v, 255});
        }
    for (const char* filter : {"lanczos3", "box"}) {
        SCOPED_TRACE(filter);
        Ask a{side / 2, side / 2, "stretch", filter, 0};
        const graybmp_options o = optionsOf(a);
        std::vector<std::uint8_t> pixels(static_cast<std::size_t>(side * side));
        std::uint32_t w = 0, h = 0;
        const Bytes bmp = test::bitmapOf(board);
        ASSERT_EQ(graybmp_pixels(bmp.data(), bmp.size(), &o, 0, pixels.data(), static_cast<std::size_t>(side / 2),
                                 pixels.size(), &w, &h, nullptr),
                  GRAYBMP_OK);
        ASSERT_EQ(w, side / 2);
        ASSERT_EQ(h, side / 2);
        for (std::int64_t y = 3; y + 3 < side / 2; ++y)
            for (std::int64_t x = 3; x + 3 < side / 2; ++x) {
                const int v = pixels[static_cast<std::size_t>(y * (side / 2) + x)];
                EXPECT_TRUE(v == 187 || v == 188) << "(" << x << ", " << y << ") " << v;
            }
    }
    for (const int gray : {0, 1, 37, 128, 254, 255})
        for (const char* filter : {"lanczos3", "mitchell", "box", "nearest"})
            for (const auto& [W, H] : {std::pair<int, int>{3, 2}, {9, 7}, {40, 5}, {1, 1}}) {
                test::Picture one;
                one.width = 9, one.height = 7;
                const auto g = static_cast<std::uint8_t>(gray);
                one.pixels.assign(63, test::Rgba{g, g, g, 255});
                const Bytes bmp = test::bitmapOf(one);
                const graybmp_options o = optionsOf(Ask{W, H, "stretch", filter, 0});
                std::vector<std::uint8_t> pixels(static_cast<std::size_t>(W * H));
                ASSERT_EQ(graybmp_pixels(bmp.data(), bmp.size(), &o, 0, pixels.data(), static_cast<std::size_t>(W),
                                         pixels.size(), nullptr, nullptr, nullptr),
                          GRAYBMP_OK);
                EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [&](std::uint8_t v) { return v == gray; }))
                    << gray << " by " << filter << " to " << W << " x " << H;
            }
}

// The orientation reader: each value in either byte order, with the "Exif" prefix or
// without, and every broken block it must take as no orientation at all.
TEST(Fit, TheOrientationReaderTakesTheTagAndNothingBroken) {
    const auto little = [](Bytes b) {  // the same block in Intel order
        b[0] = b[1] = 'I';
        for (const std::size_t at : {2u, 8u, 10u, 12u, 18u}) std::swap(b[at], b[at + 1]);
        std::swap(b[4], b[7]), std::swap(b[5], b[6]);
        std::swap(b[14], b[17]), std::swap(b[15], b[16]);
        return b;
    };
    for (int v = 1; v <= 8; ++v) {
        const Bytes block = test::exifBlock(v);
        Bytes prefixed = {'E', 'x', 'i', 'f', 0, 0};
        prefixed.insert(prefixed.end(), block.begin(), block.end());
        EXPECT_EQ(exifOrientation(block.data(), block.size()), v);
        EXPECT_EQ(exifOrientation(little(block).data(), block.size()), v);
        EXPECT_EQ(exifOrientation(prefixed.data(), prefixed.size()), v);
    }
    const struct {
        const char* name;
        Bytes block;
    } broken[] = {
        {"value 0", test::exifBlock(0)},
        {"value 9", test::exifBlock(9)},
        {"a LONG", test::exifBlock(6, 4)},
        {"two values", test::exifBlock(6, 3, 2)},
        {"cut inside the entry", [] { Bytes b = test::exifBlock(6); b.resize(20); return b; }()},
        {"cut before the count", [] { Bytes b = test::exifBlock(6); b.resize(9); return b; }()},
        {"no byte order", [] { Bytes b = test::exifBlock(6); b[0] = 'X'; return b; }()},
        {"not 42", [] { Bytes b = test::exifBlock(6); b[3] = 43; return b; }()},
        {"the IFD past the end", [] { Bytes b = test::exifBlock(6); b[4] = 0x7F; return b; }()},
        {"the IFD at the very end", [] { Bytes b = test::exifBlock(6); b[7] = 26; return b; }()},
        {"the second entry past the end", [] { Bytes b = test::exifBlock(6); b[9] = 2, b[11] = 0x13; return b; }()},
        {"another tag", [] { Bytes b = test::exifBlock(6); b[11] = 0x13; return b; }()},
        {"empty", Bytes{}},
    };
    for (const auto& b : broken) EXPECT_EQ(exifOrientation(b.block.data(), b.block.size()), 1) << b.name;
}

}  // namespace
}  // namespace graybmp
