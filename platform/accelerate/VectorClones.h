#pragma once
// SA_VECTOR_CLONES marks a function whose loops vectorise: on x86-64 it is compiled three times,
// for the baseline instruction set, for AVX2 and for AVX-512, and the loader picks the copy the
// processor runs (wider vectors, the same arithmetic lane by lane: the results do not depend on the
// copy). AVX-512 could fuse a multiplication and an addition into one rounding; the build turns
// such contraction off everywhere (-ffp-contract=off), so it never does.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define SA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define SA_VECTOR_CLONES
#endif
