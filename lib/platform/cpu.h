// What the processor runs: the one place that asks it.
#pragma once

namespace graybmp {

// Bit k set when the processor (and the system, for the wider registers' state) runs the
// code of the k-th value of Cpu (convert/kernels.h): Highway's target requirements.
unsigned hardwareCpus();

}  // namespace graybmp
