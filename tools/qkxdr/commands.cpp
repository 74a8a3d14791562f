// encode, which reads text or JSON, and validate, which checks any input.

#include <cstdint>
#include <optional>
#include <string>

#include "command.h"
#include "command_io.h"
#include "file_io.h"
#include "text_walk.h"

namespace qkxdr::tool {

int RunEncode(const Options& options) {
  if (options.json) return EncodeJson(options);
  return EncodeText(options);
}

int RunValidate(const Options& options) {
  if (options.json) return ValidateJson(options);
  uint64_t values;
  int status;
  uint64_t size;
  if (options.text) {
    TextWalk walk(options);
    FindingPrinter findings(options, true, false);
    std::optional<uint64_t> zero_unit;  // the first string holding U+0000
    const auto take = [&](const TextItem& item) {
      if (options.strict) findings.Check(walk, item);
      if (!zero_unit && IsZeroUnitString(item)) zero_unit = item.index;
      return true;
    };
    if (!walk.Run(take, true, &status)) return status;
    if (options.strict && findings.Close(walk) != 0) {
      findings.Print();
      return kExitBadData;
    }
    if (zero_unit) return RefuseZeroUnit(options, *zero_unit, nullptr);
    values = walk.values();
    size = walk.bytes();
  } else if (!CheckBinaryInput(options, &values, &size, &status)) {
    return status;
  }
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  out.Write("well formed: " + Counted(values, "value", "values") + " in " +
            Counted(size, "byte", "bytes") + "\n");
  return Finish(&out, kExitOk);
}

}  // namespace qkxdr::tool
