#pragma once
// SA_VECTOR_CLONES marks a function whose loops vectorise: on x86-64 it is compiled three times,
// for the baseline instruction set, for AVX2 and for AVX-512, and the loader picks the copy the
// processor runs (wider vectors, the same arithmetic lane by lane: the results do not depend on the
// copy). AVX-512 could fuse a multiplication and an addition into one rounding; the build turns
// such contraction off everywhere (-ffp-contract=off), so it never does.
// Under the thread sanitizer there is one copy: the loader runs the clones' resolvers before the
// sanitizer's runtime is ready, and they crash before main.
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define SA_THREAD_SANITIZER 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define SA_THREAD_SANITIZER 1
#endif

#if defined(__x86_64__) && defined(__ELF__) && (defined(__GNUC__) || defined(__clang__)) && \
    !defined(SA_THREAD_SANITIZER)
#define SA_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define SA_VECTOR_CLONES
#endif
