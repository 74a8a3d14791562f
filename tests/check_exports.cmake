# Checks that the shared library's dynamic symbol table defines exactly the 16
# exported functions. Run with -DLIBRARY=<path> -DNM=<nm>.
set(expected
  QkXDRBinaryAttach QkXDRBinaryCopy QkXDRBinaryData QkXDRBinaryFree QkXDRBinaryRead
  QkXDRBinarySize QkXDRCreateIStream QkXDRCreateIStream2 QkXDRCreateOStream
  QkXDRCreateOStream2 QkXDRCreateTextIStream QkXDRCreateTextIStream2
  QkXDRCreateTextOStream QkXDRCreateTextOStream2 QkXDRParse QkXDRTextParse)
execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
  OUTPUT_VARIABLE table RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${table}")
set(found)
foreach(line IN LISTS lines)
  string(REGEX MATCH "^[^ ]+" name "${line}")
  # Version nodes of the linker are absolute symbols, not code of ours.
  if(name AND NOT line MATCHES " A ")
    list(APPEND found ${name})
  endif()
endforeach()
list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n found: ${found}")
endif()
message(STATUS "exactly the 16 functions are exported")
