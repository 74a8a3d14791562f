# Compiles a translation unit that includes one header of include/ and nothing
# else, with every warning an error, as a user's first line would.
#   -DCOMPILER=<c++ compiler> -DINCLUDE_DIR=<include/> -DHEADER=<path under it>
#   -DMODE=alone|minmax -DWORK_DIR=<scratch folder>
# minmax: the header comes after function-like min and max macros, as a
# platform header defines them (<windows.h> without NOMINMAX). libstdc++
# drops those macros when its first header is read, so the unit reads the
# standard headers that include/ uses first, as a program has by then, and
# defines the macros after them: only the library's own code meets them.
foreach(var COMPILER INCLUDE_DIR HEADER MODE WORK_DIR)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_header.cmake: -D${var}=... is missing")
  endif()
endforeach()

set(unit "")
if(MODE STREQUAL "minmax")
  file(GLOB_RECURSE files ${INCLUDE_DIR}/*.h ${INCLUDE_DIR}/*.hpp)
  set(system_headers)
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*<[^>]+>")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*(<[^>]+>).*" "\\1" name "${line}")
      list(APPEND system_headers ${name})
    endforeach()
  endforeach()
  list(REMOVE_DUPLICATES system_headers)
  list(SORT system_headers)
  foreach(name IN LISTS system_headers)
    string(APPEND unit "#include ${name}\n")
  endforeach()
  string(APPEND unit "#define min(a, b) ((a) < (b) ? (a) : (b))\n"
                     "#define max(a, b) ((a) > (b) ? (a) : (b))\n")
elseif(NOT MODE STREQUAL "alone")
  message(FATAL_ERROR "check_header.cmake: MODE is alone or minmax, not ${MODE}")
endif()
string(APPEND unit "#include \"${HEADER}\"\n")

string(MAKE_C_IDENTIFIER "${HEADER}_${MODE}" name)
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/${name}.cpp "${unit}")
# The compiler's messages go to the test's output as they are.
execute_process(
  COMMAND ${COMPILER} -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only
          -I ${INCLUDE_DIR} ${WORK_DIR}/${name}.cpp
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${HEADER} does not compile (${MODE}): ${WORK_DIR}/${name}.cpp")
endif()
