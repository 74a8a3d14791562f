// The text writer and reader behind the exported interfaces: shells that
// forward every operation to a TextEncoder or a TextDecoder.

#ifndef QKXDR_SRC_EXPORTS_TEXT_STREAMS_H_
#define QKXDR_SRC_EXPORTS_TEXT_STREAMS_H_

#include <type_traits>

#include "QkXDR.h"
#include "exports/stream_imp.h"
#include "qkxdr/detail/text/text_decoder.h"
#include "qkxdr/detail/text/text_encoder.h"

namespace qkxdr::impl {

// I is QkXDROStream or QkXDROStream2.
template <typename I>
using QkXDRTextOStreamImp = OStreamImp<I, TextEncoder>;

// I is QkXDRIStream or QkXDRIStream2. The first generation has no code for
// blobs: blob text is a String there.
template <typename I>
using QkXDRTextIStreamImp = IStreamImp<I, TextDecoder, QkXDRType::String>;

// Every pure virtual operation of the four interfaces is implemented.
static_assert(!std::is_abstract_v<QkXDRTextOStreamImp<QkXDROStream>>);
static_assert(!std::is_abstract_v<QkXDRTextOStreamImp<QkXDROStream2>>);
static_assert(!std::is_abstract_v<QkXDRTextIStreamImp<QkXDRIStream>>);
static_assert(!std::is_abstract_v<QkXDRTextIStreamImp<QkXDRIStream2>>);

}  // namespace qkxdr::impl

#endif  // QKXDR_SRC_EXPORTS_TEXT_STREAMS_H_
