// Hints to the compiler that change no behaviour.

#ifndef QKXDR_DETAIL_BASE_COMPILER_H_
#define QKXDR_DETAIL_BASE_COMPILER_H_

// Keeps a rarely taken path out of line, so that the common path around it
// needs fewer registers and instructions.
#if defined(_MSC_VER)
#define QKXDR_NOINLINE __declspec(noinline)
#else
#define QKXDR_NOINLINE __attribute__((noinline))
#endif

// Inlines a step of every value's path that the compiler's size limits would
// otherwise leave as a call in the typed layer's deeply inlined reads.
#if defined(_MSC_VER)
#define QKXDR_INLINE __forceinline
#else
#define QKXDR_INLINE inline __attribute__((always_inline))
#endif

// The vector instruction sets the library uses. QKXDR_SIMD_SSE2: known at
// compile time to be there (every x86-64 build, and 32-bit x86 builds made
// with -msse2, as the library's are). QKXDR_SIMD_RUNTIME_X86: kernels for
// later sets are compiled in and chosen at run time by what the processor
// reports.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define QKXDR_SIMD_SSE2 1
#endif
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && defined(QKXDR_SIMD_SSE2)
#define QKXDR_SIMD_RUNTIME_X86 1
#endif

#endif  // QKXDR_DETAIL_BASE_COMPILER_H_
