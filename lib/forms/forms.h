// The output forms, a row each, as the gray methods are: which settings and layouts a
// form makes the output for, its refusals, its output's length, whether it can run where
// the input lies, and its copy. The first row that is chosen makes the output; adding a
// form is one file and one row here.
#pragma once

#include <cstdint>

#include "conversion/context.h"

namespace graybmp {

struct FormRow {
    const char* name;
    // Whether this form makes the output for these settings and this layout.
    bool (*chosen)(const ImageLayout& layout, const Settings& s);
    // Its refusal of a layout it does not take, in `f`: false then.
    bool (*takes)(const ImageLayout& layout, const Settings& s, Failure& f);
    // The output's length for an input `inputLength` bytes long.
    std::int64_t (*length)(const ImageLayout& layout, const Settings& s, std::int64_t inputLength);
    // Whether the copy reads every byte before it writes there and finds every refusal
    // before its first write, so that it can run where the input lies.
    bool (*inPlace)(const ImageLayout& layout, const Settings& s);
    CopyFault (*copy)(Conversion& c);
};

// Each form's row, in its own file.
extern const FormRow kLevelsForm;    // forms/levels.cpp: a gray BMP of N levels
extern const FormRow kCompactForm;   // forms/compact.cpp: true colour as an 8-bit gray BMP
extern const FormRow kArrayForm;     // forms/array.cpp: an OS/2 bitmap array, entry by entry
extern const FormRow kIndexed8Form;  // forms/indexed8.cpp: uncompressed 8 bits, row by row
extern const FormRow kRecolourForm;  // forms/recolour.cpp: every other kind, grayed in place

// The compact form's copy, which the levels form makes for true colour at 256 levels of 8
// bits, undithered: the same bytes.
CopyFault compactCopy(Conversion& c);

// The size of the levels' output of a picture of width x height by the settings' fit
// (unchanged without one), into the two.
void fittedSize(const Settings& s, std::int64_t& width, std::int64_t& height);

// The form that makes the output for these settings and this layout.
const FormRow& formOf(const ImageLayout& layout, const Settings& s);

// Forms that take any layout they are chosen for.
inline bool takesAll(const ImageLayout&, const Settings&, Failure&) { return true; }
// Forms whose output is as long as the input.
inline std::int64_t inputsLength(const ImageLayout&, const Settings&, std::int64_t input) { return input; }
inline bool never(const ImageLayout&, const Settings&) { return false; }

}  // namespace graybmp
