// The commands encode, decode, dump and validate.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "QkXDR.h"
#include "command.h"
#include "command_io.h"
#include "decode.h"
#include "dump.h"
#include "encode.h"
#include "file_io.h"
#include "json_commands.h"
#include "text_walk.h"
#include "values.h"

namespace qkxdr::tool {
int RunEncode(const Options& options) {
  if (options.json) return EncodeJson(options);
  return EncodeText(options);
}

int RunDecode(const Options& options) {
  if (options.json && options.text) return DecodeTextToJson(options);
  if (options.json) return DecodeToJson(options);
  return DecodeToText(options);
}

int RunDump(const Options& options) {
  int status;
  Output out;
  if (!OpenOutput(options, false, &out, &status)) return status;
  Dumper dumper(options.hex, &out);
  uint64_t size = 0;
  const auto take = [&dumper](const WalkItem& item, const StreamBytes& bytes) {
    dumper.Take(item, bytes);
    return true;
  };
  if (!WalkBinaryInput(options, "dumping", take, &size, &status)) return status;
  return Finish(&out, dumper.Finish(size).faults == 0 ? kExitOk : kExitBadData);
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
      if (!zero_unit && IsZeroUnitString(item)) {
        zero_unit = item.index;
      }
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
