// UTF-8 in a std::string to UTF-16 in a std::u16string and back, losing
// nothing either way: any byte string comes back byte for byte after
// Utf8ToUtf16 then Utf16ToUtf8, and any unit string comes back unit for unit
// after Utf16ToUtf8 then Utf8ToUtf16.
//
// Well-formed text maps as usual (byte 0 is unit 0). Below, a "triple" is the
// three bytes ED A0..BF 80..BF, the code point form of a surrogate S; an
// "escape" of byte b (80..FF) is the lone low surrogate U+DC00 + b.
//
// What invalid UTF-8 becomes: a byte that begins no well-formed sequence and
// no triple taken as a unit becomes its escape. A triple is taken as the
// unit S, except that it is escaped byte by byte
//  - for a high S, when the run of consecutive high triples it belongs to is
//    followed by a byte that is neither ASCII nor the start of a well-formed
//    sequence (the run's last unit would pair up with the low unit that byte
//    becomes): ED A0 80 80 is DCED DCA0 DC80 DC80, ED A0 80 41 is D800 0041;
//  - for S in DC80..DCFF, unless the byte S - DC00, put in the triple's
//    place, would begin a well-formed sequence or a triple taken as a unit
//    (a triple never spells an escape the byte itself would give).
//
// What unpaired surrogates become: their triple, except an escape, which
// becomes its byte unless that byte, followed by what the next units become,
// would be read back as the start of a sequence or of a triple taken as a
// unit; then the escape becomes its triple. Escapes of 80..C1 and F5..FF are
// always their byte; DCC3 DCA9 is ED B3 83 A9, as C3 A9 would be U+00E9.
//
// Both directions run in linear time and allocate nothing but the output.
// They look at most five bytes or units ahead, except to the end of a run of
// high triples, and, after a triple or escape for DCED, over repeated
// B3 AD; no byte is looked at more than a few times.

#ifndef QKXDR_DETAIL_BASE_UTF8_H_
#define QKXDR_DETAIL_BASE_UTF8_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace qkxdr::impl {
namespace utf8 {

using Byte = unsigned char;

constexpr char16_t kEscapeBase = 0xDC00;
constexpr Byte kSurrogateLead = 0xED;

inline bool IsContinuation(int byte) { return (byte & 0xC0) == 0x80; }
inline bool IsSurrogate(char16_t unit) { return (unit & 0xF800) == 0xD800; }
inline bool IsHighSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xD800; }
inline bool IsLowSurrogate(char16_t unit) { return (unit & 0xFC00) == 0xDC00; }
inline bool IsEscape(char16_t unit) { return (unit & 0xFF80) == 0xDC80; }
inline bool IsContinuationEscape(char16_t unit) { return (unit & 0xFFC0) == 0xDC80; }

// The two bytes after ED in a triple: A0..BF and a continuation byte.
inline bool IsTripleTail(int second, int third) {
  return second >= 0xA0 && second <= 0xBF && IsContinuation(third);
}

// The length of the sequences a byte leads, and the range of the byte after
// it; length 0 for bytes that lead none.
struct LeadRule {
  int length;
  int low;
  int high;
};

inline LeadRule RuleOfLead(Byte lead) {
  if (lead < 0xC2) return {0, 0, 0};
  if (lead < 0xE0) return {2, 0x80, 0xBF};
  if (lead < 0xF0) return {3, lead == 0xE0 ? 0xA0 : 0x80, lead == 0xED ? 0x9F : 0xBF};
  if (lead < 0xF5) return {4, lead == 0xF0 ? 0x90 : 0x80, lead == 0xF4 ? 0x8F : 0xBF};
  return {0, 0, 0};
}

// The length of the well-formed multi-byte sequence that `lead` begins when
// next(0), next(1), ... are the bytes after it (-1 for none), or 0.
template <typename Next>
inline int SequenceLength(Byte lead, const Next& next) {
  const LeadRule rule = RuleOfLead(lead);
  if (rule.length == 0 || next(0) < rule.low || next(0) > rule.high) return 0;
  for (int k = 1; k < rule.length - 1; ++k) {
    if (!IsContinuation(next(k))) return 0;
  }
  return rule.length;
}

inline bool IsHighTriple(const Byte* p, const Byte* end) {
  return end - p >= 3 && p[0] == kSurrogateLead && p[1] >= 0xA0 && p[1] <= 0xAF &&
         IsContinuation(p[2]);
}

inline const Byte* EndOfHighTriples(const Byte* p, const Byte* end) {
  while (IsHighTriple(p, end)) p += 3;
  return p;
}

// Bytes from p on, for the look-ahead of the reading side.
struct ByteSource {
  const Byte* p;
  const Byte* end;

  int operator()(int k) const { return end - p > k ? int{p[k]} : -1; }
  void Skip(int k) { p += k; }
  // Whether a run of high triples ending here is taken as units: the next
  // byte is none, ASCII, or begins a well-formed sequence, so it reads as no
  // low unit.
  bool KeepsHighUnitsBefore() const {
    return p == end || *p < 0x80 || SequenceLength(*p, ByteSource{p + 1, end}) != 0;
  }
  // Whether the run of high triples starting here (maybe none) is taken as
  // units.
  bool HighTriplesTaken() const {
    return ByteSource{EndOfHighTriples(p, end), end}.KeepsHighUnitsBefore();
  }
};

// What the units from r on are written as, for the look-ahead of the writing
// side: an escape of a continuation byte is always that byte; any other unit
// is written starting with a byte that is no continuation (given as -1).
struct UnitSource {
  const char16_t* r;
  const char16_t* end;

  int operator()(int k) const {
    return end - r > k && IsContinuationEscape(r[k]) ? r[k] - kEscapeBase : -1;
  }
  void Skip(int k) { r += k; }
  // Units written after a run of high triples read back as they are, so the
  // run was taken as units unless a low unit comes next.
  bool HighTriplesTaken() const { return r == end || !IsLowSurrogate(*r); }
};

// Whether `lead`, followed by the bytes `next` gives, is read as the start of
// a well-formed sequence or of a triple taken as a unit. A triple for DCED is
// taken when ED in its place would be: the loop follows such a chain.
template <typename Source>
inline bool BeginsToken(Byte lead, Source next) {
  for (;;) {
    if (SequenceLength(lead, next) != 0) return true;
    if (lead != kSurrogateLead || !IsTripleTail(next(0), next(1))) return false;
    const int second = next(0);
    const int third = next(1);
    next.Skip(2);
    if (second < 0xB0) return next.HighTriplesTaken();
    if (second == 0xB2) return false;  // DC80..DCBF: escapes of continuations
    if (second != 0xB3) return true;   // a low surrogate that is no escape
    lead = static_cast<Byte>(0xC0 | (third & 0x3F));
  }
}

inline char16_t TripleUnit(const Byte* p) {
  return static_cast<char16_t>(0xD000 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
}

inline char16_t EscapeOf(Byte byte) { return static_cast<char16_t>(kEscapeBase + byte); }

inline char16_t* WriteCodePoint(uint32_t code_point, char16_t* dst) {
  if (code_point < 0x10000) {
    *dst++ = static_cast<char16_t>(code_point);
  } else {
    *dst++ = static_cast<char16_t>(0xD7C0 + (code_point >> 10));
    *dst++ = static_cast<char16_t>(0xDC00 | (code_point & 0x3FF));
  }
  return dst;
}

inline uint32_t CodePointOf(const Byte* p, int length) {
  uint32_t code_point = p[0] & (0x7F >> length);
  for (int k = 1; k < length; ++k) code_point = code_point << 6 | (p[k] & 0x3F);
  return code_point;
}

// A run of high triples: units, or escapes byte by byte when a low unit
// follows the run.
inline const Byte* DecodeHighTriples(const Byte* p, const Byte* end, char16_t** dst) {
  const Byte* const run_end = EndOfHighTriples(p, end);
  const bool as_units = ByteSource{run_end, end}.KeepsHighUnitsBefore();
  for (; p != run_end; p += 3) {
    if (as_units) {
      *(*dst)++ = TripleUnit(p);
    } else {
      for (int k = 0; k < 3; ++k) *(*dst)++ = EscapeOf(p[k]);
    }
  }
  return run_end;
}

// Decodes what starts at the non-ASCII byte *p; returns where it ends.
inline const Byte* DecodeNonAscii(const Byte* p, const Byte* end, char16_t** dst) {
  const int length = SequenceLength(*p, ByteSource{p + 1, end});
  if (length != 0) {
    *dst = WriteCodePoint(CodePointOf(p, length), *dst);
    return p + length;
  }
  if (IsHighTriple(p, end)) return DecodeHighTriples(p, end, dst);
  if (*p == kSurrogateLead && BeginsToken(*p, ByteSource{p + 1, end})) {
    *(*dst)++ = TripleUnit(p);
    return p + 3;
  }
  *(*dst)++ = EscapeOf(*p);
  return p + 1;
}

inline void AppendCodePoint(uint32_t code_point, std::string* out) {
  if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | code_point >> 6));
  } else {
    if (code_point < 0x10000) {
      out->push_back(static_cast<char>(0xE0 | code_point >> 12));
    } else {
      out->push_back(static_cast<char>(0xF0 | code_point >> 18));
      out->push_back(static_cast<char>(0x80 | (code_point >> 12 & 0x3F)));
    }
    out->push_back(static_cast<char>(0x80 | (code_point >> 6 & 0x3F)));
  }
  out->push_back(static_cast<char>(0x80 | (code_point & 0x3F)));
}

// An escape is written as its byte when that byte, followed by what the units
// after it are written as, is read back as an escape.
inline bool EscapeWrittenAsByte(char16_t unit, const char16_t* next, const char16_t* end) {
  return IsEscape(unit) &&
         !BeginsToken(static_cast<Byte>(unit - kEscapeBase), UnitSource{next, end});
}

// Encodes what starts at the non-ASCII unit *r; returns where it ends.
inline const char16_t* EncodeNonAscii(const char16_t* r, const char16_t* end, std::string* out) {
  const char16_t unit = *r++;
  if (IsHighSurrogate(unit) && r != end && IsLowSurrogate(*r)) {
    AppendCodePoint(0x10000 + ((unit & 0x3FFu) << 10 | (*r++ & 0x3FFu)), out);
  } else if (IsSurrogate(unit) && EscapeWrittenAsByte(unit, r, end)) {
    out->push_back(static_cast<char>(unit - kEscapeBase));
  } else {
    AppendCodePoint(unit, out);
  }
  return r;
}

inline const char16_t* AppendAsciiRun(const char16_t* r, const char16_t* end, std::string* out) {
  const char16_t* run_end = r;
  while (run_end != end && *run_end < 0x80) ++run_end;
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(run_end - r));
  char* dst = out->data() + at;
  while (r != run_end) *dst++ = static_cast<char>(*r++);
  return r;
}

}  // namespace utf8

// Whether every byte of `s` is ASCII other than 0 (U+0001 to U+007F): text
// whose UTF-16 form has the same units. Eight bytes a step, the last step
// over the last eight bytes (or, for a shorter text, over them and bytes 01
// after them): a word is refused for a byte from 0x80 (its bit 7), or for a
// zero byte (which the subtraction turns into one with bit 7 set).
inline bool IsAsciiWithoutZero(std::string_view s) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kHigh = 0x8080808080808080;
  const auto bad = [](uint64_t word) { return (word | ((word - kOnes) & ~word)) & kHigh; };
  uint64_t word = kOnes;
  if (s.size() < sizeof word) {
    std::memcpy(&word, s.data(), s.size());
    return bad(word) == 0;
  }
  uint64_t found = 0;
  for (size_t i = 0; s.size() - i > sizeof word; i += sizeof word) {
    std::memcpy(&word, s.data() + i, sizeof word);
    found |= bad(word);
  }
  std::memcpy(&word, s.data() + s.size() - sizeof word, sizeof word);
  return (found | bad(word)) == 0;
}

// Replaces *out with the UTF-16 form of `in`, as described at the top.
inline void Utf8ToUtf16(std::string_view in, std::u16string* out) {
  out->resize(in.size());  // no byte gives more than one unit
  const auto* p = reinterpret_cast<const utf8::Byte*>(in.data());
  const auto* const end = p + in.size();
  char16_t* const first = out->data();
  char16_t* dst = first;
  while (p != end) {
    while (p != end && *p < 0x80) *dst++ = *p++;
    if (p != end) p = utf8::DecodeNonAscii(p, end, &dst);
  }
  out->resize(static_cast<size_t>(dst - first));
}

// Replaces *out with the UTF-8 form of `in`, as described at the top.
inline void Utf16ToUtf8(std::u16string_view in, std::string* out) {
  out->clear();
  out->reserve(in.size());  // no unit gives less than one byte
  const char16_t* r = in.data();
  const char16_t* const end = r + in.size();
  while (r != end) {
    r = utf8::AppendAsciiRun(r, end, out);
    if (r != end) r = utf8::EncodeNonAscii(r, end, out);
  }
}

}  // namespace qkxdr::impl

#endif  // QKXDR_DETAIL_BASE_UTF8_H_
