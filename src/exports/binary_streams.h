// The binary writer and reader behind the exported interfaces: shells that
// forward every operation to a BinaryEncoder or a BinaryDecoder.

#ifndef QKXDR_SRC_EXPORTS_BINARY_STREAMS_H_
#define QKXDR_SRC_EXPORTS_BINARY_STREAMS_H_

#include <type_traits>

#include "QkXDR.h"
#include "exports/stream_imp.h"
#include "qkxdr/detail/binary/binary_decoder.h"
#include "qkxdr/detail/binary/binary_encoder.h"

// I is QkXDROStream or QkXDROStream2.
template <typename I>
using QkXDROStreamImp = qkxdr::impl::OStreamImp<I, qkxdr::impl::BinaryEncoder>;

// I is QkXDRIStream or QkXDRIStream2. The first generation has no code for
// blobs: it reports them as None.
template <typename I>
using QkXDRIStreamImp = qkxdr::impl::IStreamImp<I, qkxdr::impl::BinaryDecoder, QkXDRType::None>;

// Every pure virtual operation of the four interfaces is implemented.
static_assert(!std::is_abstract_v<QkXDROStreamImp<QkXDROStream>>);
static_assert(!std::is_abstract_v<QkXDROStreamImp<QkXDROStream2>>);
static_assert(!std::is_abstract_v<QkXDRIStreamImp<QkXDRIStream>>);
static_assert(!std::is_abstract_v<QkXDRIStreamImp<QkXDRIStream2>>);

#endif  // QKXDR_SRC_EXPORTS_BINARY_STREAMS_H_
