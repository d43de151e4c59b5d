// Every other kind in its own encoding, its colours changed where they lie: palettized
// images with their colour table grayed and every other byte unchanged; RLE24 with its
// colour table and every colour triple of its runs grayed; true colour with its colour
// table (if any) and every pixel grayed.
#include "forms/copying.h"
#include "forms/forms.h"

namespace graybmp {
namespace {

bool chosen(const ImageLayout&, const Settings&) { return true; }

bool inPlace(const ImageLayout&, const Settings&) { return true; }

CopyFault copy(Conversion& c) {
    Copy k = copyOf(c);
    std::int64_t pos = 0;
    return grayBitmap(k, pos) && copyRange(k, pos, c.layout.fileSize) ? CopyFault::None
                                                                       : streamFault(*c.in, *c.out);
}

}  // namespace

const FormRow kRecolourForm = {"recolour", chosen, takesAll, inputsLength, inPlace, copy};

}  // namespace graybmp
