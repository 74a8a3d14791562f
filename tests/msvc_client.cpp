// A client built as MSVC builds one, with no C runtime: it writes a record
// through the DLL, reads it back through a view, and returns what it read as
// its exit code, ten times the record's size plus the integer in it.

#include "QkXDR.h"

extern "C" int ClientMain() {
  QkXDROStream2* out = QkXDRCreateOStream2();
  out->BeginArray();
  out->WriteInt(7);
  out->WriteString(u"ab");
  out->EndArray();
  QkXDRBinary record{};
  QkXDRBinaryAttach(&record, out->GetData(), out->GetSize());
  QkXDRIStream2* in = QkXDRCreateIStream2(QkXDRBinaryData(&record), QkXDRBinarySize(&record));
  int32_t value = 0;
  const bool read = in != nullptr && in->ReadBeginArray() && in->ReadInt(&value);
  const auto result = static_cast<int>(QkXDRBinarySize(&record) * 10 + value);
  if (in != nullptr) in->Release();
  QkXDRBinaryFree(&record);
  out->Release();
  return read ? result : 1;
}
