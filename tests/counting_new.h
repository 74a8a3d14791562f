// Replaces a program's global operator new and delete with ones that count
// the bytes held and the most held at once since the last ResetPeak(). Each
// block carries its size in front of it. Include it in one source file of a
// program, and only where nothing allocates on other threads.

#ifndef QKXDR_TESTS_COUNTING_NEW_H_
#define QKXDR_TESTS_COUNTING_NEW_H_

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace counting_new {

struct Counts {
  std::size_t held = 0;
  std::size_t peak = 0;
};

inline Counts& counts() {
  static Counts c;
  return c;
}

// Starts a new peak from what is held now.
inline void ResetPeak() { counts().peak = counts().held; }
// The most held at once since ResetPeak(), beyond what was held then.
inline std::size_t PeakSince(std::size_t held_before) { return counts().peak - held_before; }

}  // namespace counting_new

// Out of line, so that no compiler reads the size in front of a block that
// it cannot see came from here.
[[gnu::noinline]] void* operator new(std::size_t n) {
  auto* block = static_cast<std::max_align_t*>(std::malloc(n + sizeof(std::max_align_t)));
  if (block == nullptr) throw std::bad_alloc();
  *reinterpret_cast<std::size_t*>(block) = n;
  counting_new::Counts& c = counting_new::counts();
  c.held += n;
  c.peak = (std::max)(c.peak, c.held);
  return block + 1;
}
[[gnu::noinline]] void operator delete(void* p) noexcept {
  if (p == nullptr) return;
  auto* block = static_cast<std::max_align_t*>(p) - 1;
  counting_new::counts().held -= *reinterpret_cast<std::size_t*>(block);
  std::free(block);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  try {
    return operator new(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new[](std::size_t n, const std::nothrow_t& tag) noexcept {
  return operator new(n, tag);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }

#endif  // QKXDR_TESTS_COUNTING_NEW_H_
