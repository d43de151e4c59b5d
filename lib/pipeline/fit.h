// Fit to the panel: the picture turned upright by its orientation tag, turned again as
// asked, scaled to the size asked for (contain, cover or stretch) in linear light, and
// padded or cropped to it. The plan here is integer arithmetic on the sizes alone; the
// stages that carry it out are pipeline/resample.cpp (the scaling, in the input's own
// frame, rows first) and pipeline/turn.cpp (the turn of the scaled picture).
//   scaled size, for a picture of w x h (after its turn) and a size W x H:
//     contain: W h <= H w ? (W, max(1, round(h W / w))) : (max(1, round(w H / h)), H)
//     cover:   W h >= H w ? (W, round(h W / w)) : (round(w H / h), H)
//     stretch: (W, H); a size of one side: that side, the other max(1, round(...))
//     round(a / b) = (2a + b) div (2b); offsets floor((W - w') / 2), floor((H - h') / 2)
#pragma once

#include <cstdint>

namespace graybmp {

enum class FitMode { Contain, Cover, Stretch };
enum class Filter { Lanczos3, Mitchell, Box, Nearest };

// One of the eight ways a picture may lie (an Exif orientation's), as the map from an
// output pixel (X, Y) of a W x H output to the pixel it shows of the stored picture:
// a = flipX ? W - 1 - X : X, b = flipY ? H - 1 - Y : Y, then (a, b), or (b, a) with swap.
struct Turn {
    bool swap = false, flipX = false, flipY = false;
};

// The turn of an Exif orientation (1 to 8; others none), and of a clockwise turn of
// 0, 90, 180 or 270 degrees.
Turn orientationTurn(int orientation);
Turn clockwiseTurn(int degrees);
// `first` (output to its input), then `second` (that input to the stored picture).
Turn composed(const Turn& first, const Turn& second);
inline bool isTurned(const Turn& t) { return t.swap || t.flipX || t.flipY; }

constexpr int kRotateAuto = -1;

// What the caller asked for: a size (0 for a side given by the picture's aspect; both 0:
// no scaling), a fit, a filter, a turn (degrees, or kRotateAuto) and the picture's
// orientation (1 where it has none or it is not applied).
struct Fit {
    std::uint32_t width = 0, height = 0;
    FitMode mode = FitMode::Contain;
    Filter filter = Filter::Lanczos3;
    int rotate = 0;
    bool autoOrient = true;
    int orientation = 1;  // the picture's, set when it is opened
};

inline bool fitAsked(const Fit& f) { return f.width != 0 || f.height != 0 || f.rotate != 0; }

// How a picture of `width` x `height` (as stored) becomes the output.
struct FitPlan {
    bool active = false;               // anything to do at all
    Turn turn;                         // output to canvas
    std::int64_t outWidth = 0, outHeight = 0;   // the output
    // In the stored picture's frame: the canvas (the output before its turn), the scaled
    // picture's size and its place on the canvas (negative where it is cropped).
    std::int64_t canvasWidth = 0, canvasHeight = 0;
    std::int64_t scaledWidth = 0, scaledHeight = 0;
    std::int64_t left = 0, top = 0;
    bool scales = false;  // a side changes size
};

FitPlan fitPlanOf(const Fit& fit, std::int64_t width, std::int64_t height);

}  // namespace graybmp
