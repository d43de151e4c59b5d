#include "forms/forms.h"

namespace graybmp {
namespace {

// In order: the first chosen makes the output; the last is chosen for everything.
const FormRow* const kFormRows[] = {&kLevelsForm, &kCompactForm, &kArrayForm, &kIndexed8Form,
                                    &kRecolourForm};

}  // namespace

const FormRow& formOf(const ImageLayout& layout, const Settings& s) {
    for (const FormRow* row : kFormRows)
        if (row->chosen(layout, s)) return *row;
    return kRecolourForm;
}

}  // namespace graybmp
