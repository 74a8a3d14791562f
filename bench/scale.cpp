#include "scale.h"

#include <cstdlib>
#include <cstring>

namespace bench {

double TakeScale(int& argc, char** argv, double absent) {
  constexpr char kFlag[] = "--scale=";
  double scale = absent;
  int kept = 0;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], kFlag, sizeof kFlag - 1) == 0) {
      scale = std::strtod(argv[i] + sizeof kFlag - 1, nullptr);
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  return scale > 0 ? scale : absent;
}

}  // namespace bench
