// Included in every file of the mutate build (tools/mutate.py): whether
// mutant `id` is the one that the environment variable QKXDR_MUTANT selects.

#ifndef QKXDR_TOOLS_MUTANT_SWITCH_H_
#define QKXDR_TOOLS_MUTANT_SWITCH_H_

#include <cstdlib>

inline bool qkxdr_mutant_on(int id) {
  static const int active = [] {
    const char* selected = std::getenv("QKXDR_MUTANT");
    return selected == nullptr ? 0 : std::atoi(selected);
  }();
  return id == active;
}

#endif  // QKXDR_TOOLS_MUTANT_SWITCH_H_
