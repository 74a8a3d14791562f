# Checks that the shared library exports exactly the 16 functions of the
# public header, under their plain names.
#   ELF: -DLIBRARY=<libQkXDR.so> -DNM=<nm>           (dynamic symbol table)
#   PE:  -DLIBRARY=<QkXDR.dll> -DOBJDUMP=<objdump>   (export name table)
set(expected
  QkXDRBinaryAttach QkXDRBinaryCopy QkXDRBinaryData QkXDRBinaryFree QkXDRBinaryRead
  QkXDRBinarySize QkXDRCreateIStream QkXDRCreateIStream2 QkXDRCreateOStream
  QkXDRCreateOStream2 QkXDRCreateTextIStream QkXDRCreateTextIStream2
  QkXDRCreateTextOStream QkXDRCreateTextOStream2 QkXDRParse QkXDRTextParse)

if(OBJDUMP)
  execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY} OUTPUT_VARIABLE table RESULT_VARIABLE status)
else()
  execute_process(COMMAND ${NM} -D --defined-only --format=posix ${LIBRARY}
    OUTPUT_VARIABLE table RESULT_VARIABLE status)
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cannot read the symbol table of ${LIBRARY}")
endif()

# The DLL must run without the compiler's runtime DLLs beside it.
if(OBJDUMP AND table MATCHES "DLL Name: (lib[^\n]*)")
  message(FATAL_ERROR "${LIBRARY} depends on ${CMAKE_MATCH_1}")
endif()

string(REPLACE "\n" ";" lines "${table}")
set(found)
set(in_pe_names OFF)
foreach(line IN LISTS lines)
  if(OBJDUMP)
    # Rows of the export name table look like "\t[   3] QkXDRBinaryFree".
    if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
      set(in_pe_names ON)
    elseif(in_pe_names AND line MATCHES "^\t\\[ *[0-9]+\\] (.+)$")
      list(APPEND found "${CMAKE_MATCH_1}")
    elseif(in_pe_names AND line STREQUAL "")
      set(in_pe_names OFF)
    endif()
  else()
    string(REGEX MATCH "^[^ ]+" name "${line}")
    # Version nodes of the linker are absolute symbols, not code of ours.
    if(name AND NOT line MATCHES " A ")
      list(APPEND found ${name})
    endif()
  endif()
endforeach()

list(SORT found)
list(SORT expected)
if(NOT found STREQUAL expected)
  message(FATAL_ERROR "exported symbols differ\n expected: ${expected}\n found: ${found}")
endif()
message(STATUS "exactly the 16 functions are exported")
