// Wire types and the run record shared by the binary writer and reader.
//
// A binary stream is a sequence of runs: one tag byte, type * 42 + (n - 1),
// followed by the payloads of n values (1 <= n <= 42) of that type.

#ifndef QKXDR_DETAIL_BINARY_RUN_STATE_H_
#define QKXDR_DETAIL_BINARY_RUN_STATE_H_

#include <array>
#include <cstdint>

namespace qkxdr::impl {

enum class WireType : uint8_t {
  ArrayBegin = 0,
  ArrayEnd = 1,
  Int = 2,
  Double = 3,
  String = 4,
  Binary = 5,
  // Not a wire type: the reset state, and what tag bytes 252-255 split into.
  Other = 6,
};

constexpr uint8_t kMaxRunLength = 42;

// The run being written (count = values in it) or read (count = values left).
struct RunState {
  WireType type = WireType::Other;
  uint8_t count = 0;

  void Reset() {
    type = WireType::Other;
    count = 0;
  }

  // Writer side: whether a value of type t joins the run rather than
  // opening a new one.
  bool Continues(WireType t) const { return t == type && count < kMaxRunLength; }

  // Writer side: counts one value of type t; true when it opens a new run.
  bool Add(WireType t) {
    if (Continues(t)) {
      ++count;
      return false;
    }
    type = t;
    count = 1;
    return true;
  }

  // The tag byte of the run as it stands.
  uint8_t TagByte() const {
    return static_cast<uint8_t>(static_cast<uint8_t>(type) * kMaxRunLength + count - 1);
  }

  // Reader side: loads the run announced by tag byte b.
  void Split(uint8_t b);

  // Reader side: consumes one value; true when the run is used up.
  bool Consume() { return --count == 0; }
};

// The run each tag byte announces, worked out once: a reader loads one for
// every run it passes.
constexpr std::array<RunState, 256> SplitTagBytes() {
  std::array<RunState, 256> runs{};
  for (unsigned b = 0; b < runs.size(); ++b) {
    runs[b] = {static_cast<WireType>(b / kMaxRunLength),
               static_cast<uint8_t>(b % kMaxRunLength + 1)};
  }
  return runs;
}
inline constexpr std::array<RunState, 256> kTagRuns = SplitTagBytes();

inline void RunState::Split(uint8_t b) { *this = kTagRuns[b]; }

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BINARY_RUN_STATE_H_
