// Processor-specific code, chosen in one way for the whole toolchain.
//
// A function marked VORN_HOT_CLONES is built several times: for any x86-64
// processor, for processors with AVX, and for x86-64-v3 (AVX2, BMI1/2, FMA
// and friends). The loader picks the best build for the processor once,
// when the program starts; there is no check of the processor anywhere else.
// Code inlined into such a function is built for its target too.
//
// Only for code whose results are the same bits on every build: integer
// code, and floating-point code whose operations the compiler may not fuse
// or reorder (the build turns contraction off and fast math stays off).
#pragma once

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VORN_HOT_CLONES __attribute__((target_clones("default", "avx", "arch=x86-64-v3")))
#else
#define VORN_HOT_CLONES
#endif
