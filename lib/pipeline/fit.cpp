#include "pipeline/fit.h"

#include <algorithm>

namespace graybmp {
namespace {

std::int64_t rounded(std::int64_t a, std::int64_t b) { return (2 * a + b) / (2 * b); }

std::int64_t floorHalf(std::int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

}  // namespace

Turn orientationTurn(int orientation) {
    switch (orientation) {
    case 2: return {false, true, false};   // mirrored left to right
    case 3: return {false, true, true};    // turned 180 degrees
    case 4: return {false, false, true};   // mirrored top to bottom
    case 5: return {true, false, false};   // mirrored along the main diagonal
    case 6: return {true, true, false};    // to be turned 90 degrees clockwise
    case 7: return {true, true, true};     // mirrored along the other diagonal
    case 8: return {true, false, true};    // to be turned 270 degrees clockwise
    default: return {};
    }
}

Turn clockwiseTurn(int degrees) {
    return degrees == 90 ? orientationTurn(6) : degrees == 180 ? orientationTurn(3)
                         : degrees == 270 ? orientationTurn(8) : Turn{};
}

Turn composed(const Turn& first, const Turn& second) {
    // The first maps (X, Y) to (m1, m2), flipping each by its own flag; the second takes
    // m1 or m2 to each of its coordinates and may flip it again.
    const bool flipM1 = first.swap ? first.flipY : first.flipX;  // m1's flip, from its source
    const bool flipM2 = first.swap ? first.flipX : first.flipY;
    const bool flipC1 = second.swap ? second.flipY != flipM2 : second.flipX != flipM1;
    const bool flipC2 = second.swap ? second.flipX != flipM1 : second.flipY != flipM2;
    Turn t;
    t.swap = first.swap != second.swap;
    // c1 comes from X without a swap (flipX), from Y with one (flipY).
    t.flipX = t.swap ? flipC2 : flipC1;
    t.flipY = t.swap ? flipC1 : flipC2;
    return t;
}

FitPlan fitPlanOf(const Fit& fit, std::int64_t width, std::int64_t height) {
    FitPlan p;
    Turn turn = orientationTurn(fit.orientation);
    std::int64_t w = turn.swap ? height : width, h = turn.swap ? width : height;  // upright
    const std::int64_t W = fit.width, H = fit.height;
    int degrees = fit.rotate;
    if (degrees == kRotateAuto)
        degrees = W != 0 && H != 0 && ((w > h && W < H) || (w < h && W > H)) ? 90 : 0;
    turn = composed(clockwiseTurn(degrees), turn);
    if (degrees == 90 || degrees == 270) std::swap(w, h);
    std::int64_t sw = w, sh = h, ow = w, oh = h;  // scaled, and the output, upright
    if (W != 0 && H != 0) {
        const bool wide = fit.mode == FitMode::Cover ? W * h >= H * w : W * h <= H * w;
        if (fit.mode == FitMode::Stretch) sw = W, sh = H;
        else if (wide) sw = W, sh = std::max<std::int64_t>(1, rounded(h * W, w));
        else sw = std::max<std::int64_t>(1, rounded(w * H, h)), sh = H;
        ow = W, oh = H;
    } else if (W != 0) {
        sw = ow = W, sh = oh = std::max<std::int64_t>(1, rounded(h * W, w));
    } else if (H != 0) {
        sh = oh = H, sw = ow = std::max<std::int64_t>(1, rounded(w * H, h));
    }
    const std::int64_t ox = floorHalf(ow - sw), oy = floorHalf(oh - sh);
    p.turn = turn;
    p.outWidth = ow, p.outHeight = oh;
    p.canvasWidth = turn.swap ? oh : ow, p.canvasHeight = turn.swap ? ow : oh;
    p.scaledWidth = turn.swap ? sh : sw, p.scaledHeight = turn.swap ? sw : sh;
    // The scaled picture's corner on the canvas: its output rectangle mapped back.
    const std::int64_t a = turn.flipX ? ow - ox - sw : ox, b = turn.flipY ? oh - oy - sh : oy;
    p.left = turn.swap ? b : a, p.top = turn.swap ? a : b;
    p.scales = p.scaledWidth != width || p.scaledHeight != height;
    p.active = p.scales || isTurned(turn) || p.canvasWidth != width || p.canvasHeight != height;
    return p;
}

}  // namespace graybmp
