#pragma once

// Hot loops are compiled twice, for the baseline x86-64 and for CPUs with
// AVX2, LZCNT and BMI2, and the loader picks the version the CPU runs. Both
// compute exactly the same results: the code is the same, only the
// instructions differ (floating-point contraction is off everywhere).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(VELMORA_NO_CLONES)
#define VELMORA_CPU_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define VELMORA_CPU_CLONES
#endif
