#pragma once
// SA_VECTOR_CLONES marks a function whose loops vectorise: on x86-64 it is compiled twice, for
// the baseline instruction set and for AVX2, and the loader picks the copy the processor runs
// (wider vectors, same arithmetic lane by lane: the results do not depend on the copy). FMA is not
// enabled, so no multiplication and addition are ever fused.
#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__))
#define SA_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define SA_VECTOR_CLONES
#endif
