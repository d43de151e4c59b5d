// What the processor runs: the targets by name, and the one place that asks the processor.
#pragma once

namespace graybmp {

// The processor targets, by Highway's names in lower case. Within a family each needs the
// one before it; the scalar code runs everywhere.
enum class Cpu { Scalar, Ssse3, Sse4, Avx2, Avx3, Avx3Dl, Neon, Sve, Sve2, Wasm };
constexpr int kCpus = 10;
const char* cpuName(Cpu cpu);  // "scalar", "ssse3", ..., "avx3_dl", "neon", "sve", "sve2", "wasm"
// A target's name, or one of the older names: "baseline" (scalar), "avx512" (avx3).
bool cpuNamed(const char* name, Cpu& cpu);

// Where a target stands: its family (0 for the scalar code, which every family has, then
// x86, arm64, WebAssembly) and so which targets can stand in for it.
int familyOf(Cpu cpu);

// Bit k set when the processor (and the system, for the wider registers' state) runs the
// code of the k-th value of Cpu: Highway's target requirements.
unsigned hardwareCpus();

}  // namespace graybmp
