// QkXDR: typed value streams in a compact binary encoding and a JSON-like
// UTF-16 text encoding, behind one set of abstract interfaces.
//
// The virtual slot order of every interface below, the enumerator values and
// the exported function names are the library's binary interface: they never
// change. Streams are created by the exported factories and destroyed only by
// their own Release().

#ifndef QKXDR_H_
#define QKXDR_H_

#include <stdint.h>

#if defined(QKXDR_STATIC)
#define QKXDR_API
#elif defined(_WIN32)
#if defined(QKXDR_BUILDING)
#define QKXDR_API __declspec(dllexport)
#else
#define QKXDR_API __declspec(dllimport)
#endif
#else
#define QKXDR_API __attribute__((visibility("default")))
#endif

// The exported functions use the C calling convention whatever a client's
// default is (/Gz, /Gr on 32-bit Windows).
#if defined(_WIN32) && !defined(_WIN64)
#define QKXDR_CALL __cdecl
#else
#define QKXDR_CALL
#endif

// Type of the current value, as reported by first-generation readers.
enum class QkXDRType : int32_t {
  ArrayBegin = 0,
  ArrayEnd = 1,
  Int = 2,
  String = 3,
  Double = 4,
  None = 5
};

// Type of the current value, as reported by second-generation readers.
enum class QkXDRType2 : int32_t {
  ArrayBegin = 0,
  ArrayEnd = 1,
  None = 2,
  Int = 3,
  String = 4,
  Double = 5,
  Binary = 6
};

// A caller-owned blob slot. Zero-initialise it before first use; fill it with
// QkXDRBinaryAttach, QkXDRBinaryCopy or a reader's ReadBinary, and empty it
// with QkXDRBinaryFree. Never copy the words by hand.
struct QkXDRBinary {
  void* words[3];
};

// Implemented by the caller: returns a buffer of `count` elements (UTF-16
// units or bytes, depending on the read) or null. The library only fills it.
class QkXDRAllocator {
 public:
  virtual void* Alloc(uint32_t count) = 0;

 protected:
  ~QkXDRAllocator() = default;
};

// Writer, first generation. Writes accept any call order. One that runs out
// of memory, or would pass the output's size limit, throws std::bad_alloc and
// leaves the output as it was (docs/robustness.md, "When memory runs out").
class QkXDROStream {
 public:
  virtual void WriteString(const char16_t* s) = 0;  // zero-terminated UTF-16
  virtual void WriteDouble(double v) = 0;
  virtual void WriteInt(int32_t v) = 0;
  virtual void BeginArray() = 0;
  virtual void EndArray() = 0;
  // The output so far; null while empty. Valid until the next write or Release.
  virtual const void* GetData() = 0;
  virtual uint32_t GetSize() = 0;  // in bytes
  virtual void Release() = 0;

 protected:
  ~QkXDROStream() = default;
};

// Writer, second generation: three extra writes, then the first generation's.
class QkXDROStream2 {
 public:
  virtual void WriteStringA(const char* s) = 0;  // zero-terminated 8-bit
  virtual void WriteBinary(const QkXDRBinary* blob) = 0;
  virtual void WriteInt64(int64_t v) = 0;
  virtual void WriteString(const char16_t* s) = 0;
  virtual void WriteDouble(double v) = 0;
  virtual void WriteInt(int32_t v) = 0;
  virtual void BeginArray() = 0;
  virtual void EndArray() = 0;
  virtual const void* GetData() = 0;
  virtual uint32_t GetSize() = 0;
  virtual void Release() = 0;

 protected:
  ~QkXDROStream2() = default;
};

// Reader, first generation. Every read works on the current value; a read of
// the wrong kind, or into a null output, returns false and changes nothing.
class QkXDRIStream {
 public:
  virtual bool ReadString(QkXDRAllocator* allocator) = 0;
  virtual bool ReadDouble(double* v) = 0;
  virtual bool ReadInt(int32_t* v) = 0;
  virtual QkXDRType ReadType() = 0;  // type of the current value; moves past it
  virtual QkXDRType PeekType() = 0;  // type of the current value; does not move
  virtual bool ReadBeginArray() = 0;
  virtual bool ReadEndArray() = 0;
  virtual void Skip() = 0;     // skips the rest of the innermost open array
  virtual bool IsValid() = 0;  // whether there is a current value
  virtual void Release() = 0;

 protected:
  ~QkXDRIStream() = default;
};

// Reader, second generation: three extra reads, then the first generation's
// operations with QkXDRType2 codes.
class QkXDRIStream2 {
 public:
  virtual bool ReadStringA(QkXDRAllocator* allocator) = 0;
  virtual bool ReadBinary(QkXDRBinary* slot) = 0;
  virtual bool ReadInt64(int64_t* v) = 0;
  virtual bool ReadString(QkXDRAllocator* allocator) = 0;
  virtual bool ReadDouble(double* v) = 0;
  virtual bool ReadInt(int32_t* v) = 0;
  virtual QkXDRType2 ReadType() = 0;
  virtual QkXDRType2 PeekType() = 0;
  virtual bool ReadBeginArray() = 0;
  virtual bool ReadEndArray() = 0;
  virtual void Skip() = 0;
  virtual bool IsValid() = 0;
  virtual void Release() = 0;

 protected:
  ~QkXDRIStream2() = default;
};

// Implemented by the caller of QkXDRTextParse. Each call returns true to go
// on, false to stop the parse. OnString's range is valid only during the call.
class QkXDRTextHandler {
 public:
  virtual bool OnDouble(double v) = 0;
  virtual bool OnInt(int32_t v) = 0;
  virtual bool OnString(const char16_t* begin, const char16_t* end) = 0;
  virtual bool OnBeginArray() = 0;
  virtual bool OnEndArray() = 0;

 protected:
  ~QkXDRTextHandler() = default;
};

extern "C" {

// Binary writers.
QKXDR_API QkXDROStream* QKXDR_CALL QkXDRCreateOStream(void);
QKXDR_API QkXDROStream2* QKXDR_CALL QkXDRCreateOStream2(void);
// Binary readers over [data, data + size); null for null data or size 0.
// The bytes must outlive the reader and every blob view it hands out.
QKXDR_API QkXDRIStream* QKXDR_CALL QkXDRCreateIStream(const void* data, uint32_t size);
QKXDR_API QkXDRIStream2* QKXDR_CALL QkXDRCreateIStream2(const void* data, uint32_t size);
// Text writers (UTF-16 output, GetSize in bytes).
QKXDR_API QkXDROStream* QKXDR_CALL QkXDRCreateTextOStream(void);
QKXDR_API QkXDROStream2* QKXDR_CALL QkXDRCreateTextOStream2(void);
// Text readers over `length` UTF-16 units; the text must outlive the reader.
QKXDR_API QkXDRIStream* QKXDR_CALL QkXDRCreateTextIStream(const char16_t* text, uint32_t length);
QKXDR_API QkXDRIStream2* QKXDR_CALL QkXDRCreateTextIStream2(const char16_t* text, uint32_t length);
// Reports every array bracket and readable value of the text to `handler`.
QKXDR_API void QKXDR_CALL QkXDRTextParse(QkXDRTextHandler* handler, const char16_t* text,
                                         uint32_t length);
// Does nothing.
QKXDR_API void QKXDR_CALL QkXDRParse(void);

// Blob slots. `dst` becomes a view on (data, size); nothing is copied.
QKXDR_API void QKXDR_CALL QkXDRBinaryAttach(QkXDRBinary* dst, const void* data, uint32_t size);
// `dst` becomes a copy of `src`: another view, or another owner of a shared block.
QKXDR_API void QKXDR_CALL QkXDRBinaryCopy(QkXDRBinary* dst, const QkXDRBinary* src);
// Empties the slot, releasing what it owns.
QKXDR_API void QKXDR_CALL QkXDRBinaryFree(QkXDRBinary* slot);
// The blob's bytes; null for an empty slot.
QKXDR_API const void* QKXDR_CALL QkXDRBinaryData(const QkXDRBinary* slot);
// The blob's size in bytes; 0 for an empty slot.
QKXDR_API uint32_t QKXDR_CALL QkXDRBinarySize(const QkXDRBinary* slot);
// Copies the bytes into allocator->Alloc(size); returns the bytes copied
// (0 when the blob is empty or Alloc returns null).
QKXDR_API uint32_t QKXDR_CALL QkXDRBinaryRead(const QkXDRBinary* slot, QkXDRAllocator* allocator);

}  // extern "C"

#endif  // QKXDR_H_
