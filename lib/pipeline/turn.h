// The turn stage: the canvas (the picture in its stored frame, scaled and placed) held,
// one byte a pixel, then handed on turned, a row of the output at a time. It is the one
// stage that holds a picture: at most the output's pixels after a fit, or the picture's
// grays when it is turned without one.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/fit.h"
#include "pipeline/rows.h"

namespace graybmp {

struct TurnStage {
    Turn turn;
    std::int64_t canvasWidth = 0, canvasHeight = 0, outWidth = 0, outHeight = 0;
    bool bottomUp = false;  // rows come, and go, bottom first
    std::int64_t received = 0;
    std::vector<std::uint8_t> canvas, row;
    RowTaker next;
};

// What the scale stage (or the source) feeds: the stage, or `next` itself when there is
// no turn. Canvas rows come in the order `bottomUp` says; output rows go in that order too.
RowTaker turnInto(TurnStage& stage, const FitPlan& plan, bool bottomUp, RowTaker next);

}  // namespace graybmp
