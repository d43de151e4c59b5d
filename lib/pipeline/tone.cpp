#include "pipeline/tone.h"

#include <algorithm>

#include "convert/methods.h"

namespace graybmp {
namespace {

bool toneTake(void* self, const std::uint8_t* grays) {
    ToneStage& s = *static_cast<ToneStage*>(self);
    for (std::size_t x = 0; x < s.row.size(); ++x) s.row[x] = s.table[grays[x]];
    return s.next(s.row.data());
}

}  // namespace

std::uint8_t toneOf(const Levels& l, int g) {
    if (l.black >= 0) {
        const std::int64_t range = l.white - l.black;
        g = static_cast<int>(std::clamp<std::int64_t>(floorDiv((g - l.black) * std::int64_t{510} + range, 2 * range), 0, 255));
    }
    if (l.negate) g = 255 - g;
    return static_cast<std::uint8_t>(g);
}

RowTaker toneInto(ToneStage& stage, const Levels& levels, std::int64_t width, RowTaker next) {
    if (levels.black < 0 && !levels.negate) return next;
    for (int g = 0; g < 256; ++g) stage.table[g] = toneOf(levels, g);
    stage.row.resize(static_cast<std::size_t>(width));
    stage.next = next;
    return RowTaker{&stage, toneTake};
}

}  // namespace graybmp
