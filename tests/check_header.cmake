# Compiles a translation unit that includes one header of include/ and nothing
# else, with every warning an error, as a user's first line would.
#   -DCOMPILER=<c++ compiler> -DINCLUDE_DIR=<include/> -DHEADER=<path under it>
#   -DMODE=alone|minmax|nofields -DWORK_DIR=<scratch folder>
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
elseif(NOT MODE MATCHES "^(alone|nofields)$")
  message(FATAL_ERROR "check_header.cmake: MODE is alone, minmax or nofields, not ${MODE}")
endif()
string(APPEND unit "#include \"${HEADER}\"\n")
if(MODE STREQUAL "nofields")
  string(APPEND unit "struct NoFields {\n  int a;\n};\n"
                     "auto bytes = qkxdr::to_binary(NoFields{});\n")
endif()

string(MAKE_C_IDENTIFIER "${HEADER}_${MODE}" name)
file(MAKE_DIRECTORY ${WORK_DIR})
file(WRITE ${WORK_DIR}/${name}.cpp "${unit}")
execute_process(
  COMMAND ${COMPILER} -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only
          -I ${INCLUDE_DIR} ${WORK_DIR}/${name}.cpp
  RESULT_VARIABLE status OUTPUT_VARIABLE messages ERROR_VARIABLE messages)
if(MODE STREQUAL "nofields")
  if(status EQUAL 0 OR NOT messages MATCHES "static assertion failed: [^\n]*QKXDR_FIELDS")
    message(FATAL_ERROR "a struct without QKXDR_FIELDS is not refused by name:\n${messages}")
  endif()
  return()
endif()
if(NOT messages STREQUAL "")
  message("${messages}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${HEADER} does not compile (${MODE}): ${WORK_DIR}/${name}.cpp")
endif()
