#include "pipeline/turn.h"

namespace graybmp {
namespace {

bool turnTake(void* self, const std::uint8_t* row) {
    TurnStage& t = *static_cast<TurnStage*>(self);
    const std::int64_t cy = t.bottomUp ? t.canvasHeight - 1 - t.received : t.received;
    std::copy(row, row + t.canvasWidth, t.canvas.begin() + static_cast<std::ptrdiff_t>(cy * t.canvasWidth));
    if (++t.received < t.canvasHeight) return true;
    for (std::int64_t k = 0; k < t.outHeight; ++k) {
        const std::int64_t y = t.bottomUp ? t.outHeight - 1 - k : k;
        const std::int64_t b = t.turn.flipY ? t.outHeight - 1 - y : y;
        for (std::int64_t x = 0; x < t.outWidth; ++x) {
            const std::int64_t a = t.turn.flipX ? t.outWidth - 1 - x : x;
            const std::int64_t cx = t.turn.swap ? b : a, cyy = t.turn.swap ? a : b;
            t.row[static_cast<std::size_t>(x)] = t.canvas[static_cast<std::size_t>(cyy * t.canvasWidth + cx)];
        }
        if (!t.next(t.row.data())) return false;
    }
    return true;
}

}  // namespace

RowTaker turnInto(TurnStage& t, const FitPlan& plan, bool bottomUp, RowTaker next) {
    if (!isTurned(plan.turn)) return next;
    t.turn = plan.turn, t.bottomUp = bottomUp, t.next = next;
    t.canvasWidth = plan.canvasWidth, t.canvasHeight = plan.canvasHeight;
    t.outWidth = plan.outWidth, t.outHeight = plan.outHeight;
    t.canvas.assign(static_cast<std::size_t>(t.canvasWidth * t.canvasHeight), 0);
    t.row.assign(static_cast<std::size_t>(t.outWidth), 0);
    return RowTaker{&t, turnTake};
}

}  // namespace graybmp
