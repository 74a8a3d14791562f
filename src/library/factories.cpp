// The exported stream factories and the no-op entry point.

#include <new>

#include "QkXDR.h"
#include "text/text_istream.h"
#include "text/text_ostream.h"

extern "C" {

QKXDR_API QkXDROStream* QkXDRCreateOStream(void) { return nullptr; }

QKXDR_API QkXDROStream2* QkXDRCreateOStream2(void) { return nullptr; }

QKXDR_API QkXDRIStream* QkXDRCreateIStream(const void*, uint32_t) { return nullptr; }

QKXDR_API QkXDRIStream2* QkXDRCreateIStream2(const void*, uint32_t) { return nullptr; }

QKXDR_API QkXDROStream* QkXDRCreateTextOStream(void) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream>();
}

QKXDR_API QkXDROStream2* QkXDRCreateTextOStream2(void) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextOStreamImp<QkXDROStream2>();
}

QKXDR_API QkXDRIStream* QkXDRCreateTextIStream(const char16_t* text, uint32_t length) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextIStreamImp<QkXDRIStream>(text, text + length);
}

QKXDR_API QkXDRIStream2* QkXDRCreateTextIStream2(const char16_t* text, uint32_t length) {
  return new (std::nothrow) qkxdr::impl::QkXDRTextIStreamImp<QkXDRIStream2>(text, text + length);
}

QKXDR_API void QkXDRParse(void) {}

}  // extern "C"
