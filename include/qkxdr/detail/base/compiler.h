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

#endif  // QKXDR_DETAIL_BASE_COMPILER_H_
