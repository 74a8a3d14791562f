# Checks the version resource of QkXDR.dll: file and product version 1,1,0,4 in
# the fixed part, and the strings "1, 1, 0, 4". Run with -DLIBRARY=<QkXDR.dll>.
file(READ ${LIBRARY} image HEX)
# VS_FIXEDFILEINFO: signature, structure version, then file version MS/LS and
# product version MS/LS, all little-endian.
string(CONCAT fixed "bd04effe" "00000100" "01000100" "04000000" "01000100" "04000000")
string(FIND "${image}" "${fixed}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no fixed version 1,1,0,4 in ${LIBRARY}")
endif()
# "1, 1, 0, 4" in UTF-16LE.
set(version_string "31002c00200031002c00200030002c0020003400")
foreach(key FileVersion ProductVersion)
  string(HEX "${key}" key_hex)
  string(REGEX REPLACE "(..)" "\\100" key_utf16 "${key_hex}")
  string(FIND "${image}" "${key_utf16}" key_at)
  if(key_at EQUAL -1)
    message(FATAL_ERROR "no ${key} string in ${LIBRARY}")
  endif()
endforeach()
string(FIND "${image}" "${version_string}" string_at)
if(string_at EQUAL -1)
  message(FATAL_ERROR "no version string \"1, 1, 0, 4\" in ${LIBRARY}")
endif()
message(STATUS "version resource 1, 1, 0, 4 present")
