# Checks an installed Windows build of QkXDR and links a client to it the way
# MSVC links one.
#   cmake -DPREFIX=<install prefix> -DARCH=x86|x64 -DDEBUG_FILE=<QkXDR.dll.debug>
#         -DWORK_DIR=<scratch directory> [-DEMULATOR=<wine64>]
#         -P check_windows_package.cmake
# The installed DLL has no debug sections and links to DEBUG_FILE, which has
# them; lib/ holds QkXDR.lib, libQkXDR.dll.a and QkXDR.def. msvc_client.cpp is
# compiled by clang-cl without a C runtime (on x86 with /Gz, so that only
# functions declared __cdecl resolve), linked by lld-link against QkXDR.lib
# (with /SAFESEH on x86), and must import exactly the functions it calls under
# the names the DLL exports. With an EMULATOR it runs beside the DLL and must
# exit with the value it computed through it.
if(ARCH STREQUAL "x86")
  set(triple i686-w64-mingw32)
  set(compile_flags --target=i686-pc-windows-msvc /Gz)
  set(link_flags /machine:x86 /safeseh)
elseif(ARCH STREQUAL "x64")
  set(triple x86_64-w64-mingw32)
  set(compile_flags --target=x86_64-pc-windows-msvc)
  set(link_flags /machine:x64)
else()
  message(FATAL_ERROR "ARCH must be x86 or x64")
endif()
find_program(objdump ${triple}-objdump REQUIRED)
find_program(clang_cl NAMES clang-cl-14 clang-cl REQUIRED)
find_program(lld_link NAMES lld-link-14 lld-link REQUIRED)
set(dll ${PREFIX}/bin/QkXDR.dll)

foreach(file ${dll} ${PREFIX}/lib/QkXDR.lib ${PREFIX}/lib/libQkXDR.dll.a ${PREFIX}/lib/QkXDR.def)
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "${file} is not installed")
  endif()
endforeach()

execute_process(COMMAND ${objdump} -h ${dll} OUTPUT_VARIABLE sections COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${objdump} -h ${DEBUG_FILE} OUTPUT_VARIABLE debug_sections
  COMMAND_ERROR_IS_FATAL ANY)
if(sections MATCHES "\\.debug_" OR NOT sections MATCHES "\\.gnu_debuglink"
   OR NOT debug_sections MATCHES "\\.debug_info")
  message(FATAL_ERROR "${dll} must link to its debug sections in ${DEBUG_FILE}, not hold them")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(client ${WORK_DIR}/msvc_client.exe)
execute_process(
  COMMAND ${clang_cl} ${compile_flags} /nologo /c /O2 /GS- /GR- /Zl /X /I${PREFIX}/include
          /Fo${WORK_DIR}/msvc_client.obj -- ${CMAKE_CURRENT_LIST_DIR}/msvc_client.cpp
  COMMAND_ERROR_IS_FATAL ANY)
execute_process(
  COMMAND ${lld_link} ${link_flags} /nologo /nodefaultlib /entry:ClientMain /subsystem:console
          ${WORK_DIR}/msvc_client.obj ${PREFIX}/lib/QkXDR.lib /out:${client}
  COMMAND_ERROR_IS_FATAL ANY)

# Import rows read "\t<hint address>\t    <hint>  <name>"; export name rows
# "\t[  <index>] <name>".
execute_process(COMMAND ${objdump} -p ${client} OUTPUT_VARIABLE imports COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${objdump} -p ${dll} OUTPUT_VARIABLE exports COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "\n\t[0-9a-f]+\t +[0-9]+  [^\n]+" rows "${imports}")
set(imported)
foreach(row IN LISTS rows)
  string(REGEX REPLACE ".*  " "" name "${row}")
  string(FIND "${exports}" "] ${name}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "the client imports ${name}, which QkXDR.dll does not export")
  endif()
  list(APPEND imported ${name})
endforeach()
list(SORT imported)
set(called QkXDRBinaryAttach QkXDRBinaryData QkXDRBinaryFree QkXDRBinarySize QkXDRCreateIStream2
  QkXDRCreateOStream2)
if(NOT imported STREQUAL called)
  message(FATAL_ERROR "the client imports ${imported}, not ${called}")
endif()

if(EMULATOR)
  file(COPY ${dll} DESTINATION ${WORK_DIR})
  execute_process(COMMAND ${EMULATOR} ${client} RESULT_VARIABLE code)
  # The 8-byte record holds 7. Wine also exits 0 for a program it never started.
  if(NOT code STREQUAL "87")
    message(FATAL_ERROR "the client exited with ${code}, not 87")
  endif()
  message(STATUS "${ARCH}: stripped DLL; the MSVC-style client links and runs")
else()
  message(STATUS "${ARCH}: stripped DLL; the MSVC-style client links")
endif()
