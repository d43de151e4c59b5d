// OS/2 bitmap arrays: a chain of bitmaps, each grayed through its own layout: every
// entry's colour table and true-colour pixels grayed, every other byte kept.
#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "forms/copying.h"
#include "forms/forms.h"

namespace graybmp {
namespace {

// True-colour pixels of entries not reached yet, by where they start.
struct PendingPixels {
    std::int64_t start, end;
    ImageLayout layout;
};

// Grays, in file order, the pending pixels that start before `until`; pixels that reach
// past it would overlap the header there.
bool grayPending(Copy& c, std::vector<PendingPixels>& pending, std::int64_t until,
                 std::int64_t& pos, Refusal& refusal) {
    while (!pending.empty() && pending.front().start < until) {
        const PendingPixels p = pending.front();
        pending.erase(pending.begin());
        if (p.end > until || p.start < pos) {
            refusal = {InputError::ArrayOverlaps,
                       describeInputError(InputError::ArrayOverlaps, nullptr, 0, 0)};
            return false;
        }
        Copy entry{c.in, c.out, p.layout, c.chunk, c.method, c.cpu};
        if (!copyRange(entry, pos, p.start) || !grayTruePixels(entry)) return false;
        pos = p.end;
    }
    return true;
}

// Entry by entry along the chain: headers kept, the colour table grayed; true-colour
// pixels, which may lie anywhere behind, grayed when the copy reaches them.
bool copyArray(Copy& c, Refusal& refusal) {
    const auto refuse = [&](InputError e) {
        refusal = {e, describeInputError(e, nullptr, 0, static_cast<std::uint64_t>(c.layout.fileSize))};
        return false;
    };
    std::vector<PendingPixels> pending;
    std::int64_t pos = 0;
    ImageLayout entry = c.layout;
    for (;;) {
        if (entry.kind == ImageKind::Rle24) return refuse(InputError::ArrayOverlaps);
        ImageLayout tableOnly = entry;  // the pixels are grayed when the copy reaches them
        tableOnly.kind = ImageKind::Palettized;
        Copy headers{c.in, c.out, tableOnly, c.chunk, c.method, c.cpu};
        if (!grayBitmap(headers, pos)) return false;
        if (entry.kind == ImageKind::TrueColour && entry.rowCount > 0) {
            const std::int64_t end =
                std::min(entry.fileSize, entry.pixelOffset + entry.rowCount * entry.stride);
            auto at = std::find_if(pending.begin(), pending.end(), [&](const PendingPixels& p) {
                return p.start > entry.pixelOffset;
            });
            if ((at != pending.end() && at->start < end) ||
                (at != pending.begin() && std::prev(at)->end > entry.pixelOffset))
                return refuse(InputError::ArrayOverlaps);
            pending.insert(at, PendingPixels{entry.pixelOffset, end, entry});
        }
        const std::int64_t next = entry.arrayNext;
        if (next == 0) break;
        if (!grayPending(c, pending, next, pos, refusal)) return false;
        if (next < pos)
            return refuse(c.in.sequential ? InputError::ArrayBehindPipe : InputError::ArrayLoops);
        if (!copyRange(c, pos, next)) return false;  // a pipe passes nothing by unwritten
        pos = next;
        std::uint8_t lead[kMaxLeadSize];
        const std::size_t got = streamReadAt(c.in, next, lead, sizeof lead);
        if (c.in.error != 0) return false;
        const auto size = static_cast<std::uint64_t>(c.layout.fileSize);
        const InputError e = checkArrayEntry(lead, got, size, next, entry);
        if (e != InputError::None) {
            const bool own = e >= InputError::ArrayEntryNotBitmap || got < kArrayHeaderSize;
            refusal.error = e;
            refusal.reason = "the bitmap array's entry at offset " + std::to_string(next) + ": " +
                      (own ? describeInputError(e, nullptr, 0, size)
                           : describeInputError(e, lead + kArrayHeaderSize, got - kArrayHeaderSize,
                                                size));
            return false;
        }
    }
    return grayPending(c, pending, INT64_MAX, pos, refusal) && copyRange(c, pos, c.layout.fileSize);
}

bool chosen(const ImageLayout& l, const Settings&) { return l.arrayFirst; }

CopyFault copy(Conversion& c) {
    Copy k = copyOf(c);
    if (copyArray(k, c.refusal)) return CopyFault::None;
    return c.refusal.error != InputError::None ? CopyFault::Refused : streamFault(*c.in, *c.out);
}

}  // namespace

// Entries after the first are checked as the copy reaches them: never in place.
const FormRow kArrayForm = {"array", chosen, takesAll, inputsLength, never, copy};

}  // namespace graybmp
