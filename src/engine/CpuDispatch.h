#pragma once

// The byte-stream coder's lane loops are compiled twice, for the baseline
// x86-64 and for the x86-64-v3 level (AVX2, BMI2, LZCNT ...), and a codec's
// ProcessorCode names the version it runs. Both compute exactly the same
// results: the code is the same, only the instructions differ
// (floating-point contraction is off everywhere). Other compilers build the
// baseline alone.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define VELMORA_HAS_X86_64_V3 1
#define VELMORA_X86_64_V3 __attribute__((target("arch=x86-64-v3")))

// Whether this processor runs code built for the x86-64-v3 level.
inline bool RunsX86_64V3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("x86-64-v3");
}
#endif
