# Fails unless docs/api.md quotes each program of examples/ in full, so that
# the guide shows the code that the package stage builds and runs.
# Usage: cmake -DSOURCE_DIR=<repository> -P check_doc_examples.cmake
file(READ ${SOURCE_DIR}/docs/api.md guide)
file(GLOB examples ${SOURCE_DIR}/examples/*.cpp)
foreach(example IN LISTS examples)
  file(READ ${example} code)
  string(FIND "${guide}" "${code}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "docs/api.md does not quote ${example} as it stands")
  endif()
endforeach()
