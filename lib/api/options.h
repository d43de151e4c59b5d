// The caller's options, read as far as the caller's struct goes and checked, into the
// settings a conversion runs by; the method's names and the weights' syntax.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "conversion/context.h"
#include "graybmp.h"

namespace graybmp {

// The first `size` bytes of a caller's struct over its defaults: one built against an
// older header knows fewer fields, and the others keep their defaults.
template <typename T>
T known(const T* given, T defaults) {
    if (given != nullptr)
        std::memcpy(&defaults, given, std::min(given->size, sizeof(T)));
    defaults.size = sizeof(T);
    return defaults;
}

// The same where `into` holds the defaults already (a large struct, copied once).
template <typename T>
void knownInto(const T* given, T& into) {
    if (given != nullptr) std::memcpy(&into, given, std::min(given->size, sizeof(T)));
    into.size = sizeof(T);
}

// The settings of `given` (NULL: the defaults), or why they cannot be.
bool settingsOf(const graybmp_options* given, Settings& s, Failure& f);

// The size, fit, filter and turn of `o`, or why they cannot be (the levels already read:
// a fit makes 256 where none are asked for).
bool fitOf(const graybmp_options& o, Settings& s, Failure& f);

// "mean, bt601, ... or weights=R,G,B": every method by name.
std::string methodList();

}  // namespace graybmp
