# What `cmake --install` puts under the prefix: the shared library (on
# Windows the DLL and both import libraries), the headers, a CMake package
# (target QkXDR::QkXDR, component json), the pkg-config files qkxdr and
# qkxdr-json, the qkxdr tool when it is part of the build, and the
# documentation.
include(CMakePackageConfigHelpers)

set(QKXDR_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/QkXDR)

# QkXDR.hpp and the inline encoders need C++17 of every consumer.
target_compile_features(QkXDR INTERFACE cxx_std_17)

install(TARGETS QkXDR EXPORT QkXDRTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/QkXDR.h ${PROJECT_SOURCE_DIR}/include/QkXDR.hpp
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
# include/ is installed as it is: the public headers, and under
# qkxdr/detail/ the inline encoders and decoders they include by full path.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/qkxdr DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
if(WIN32)
  # Beside libQkXDR.dll.a, for MSVC-style links: QkXDR.lib and the module
  # definition file it is made from.
  install(FILES ${QKXDR_MSVC_IMPORT_LIBRARY} ${PROJECT_SOURCE_DIR}/src/QkXDR.def
    DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

# The JSON converter (qkxdr/json.hpp), where RapidJSON was found: a static
# library, exported as QkXDR::json.
if(TARGET qkxdr_json)
  install(TARGETS qkxdr_json EXPORT QkXDRTargets ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
endif()

install(EXPORT QkXDRTargets NAMESPACE QkXDR:: DESTINATION ${QKXDR_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/QkXDRConfig.cmake.in
  ${PROJECT_BINARY_DIR}/QkXDRConfig.cmake
  INSTALL_DESTINATION ${QKXDR_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/QkXDRConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/QkXDRConfig.cmake ${PROJECT_BINARY_DIR}/QkXDRConfigVersion.cmake
  DESTINATION ${QKXDR_CMAKE_DIR})

# The .pc file finds the prefix from its own place, so it stays right for
# `cmake --install --prefix` and for a moved tree.
set(QKXDR_PC_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
file(RELATIVE_PATH QKXDR_PC_TO_PREFIX /prefix/${QKXDR_PC_DIR} /prefix)
string(REGEX REPLACE "/$" "" QKXDR_PC_TO_PREFIX ${QKXDR_PC_TO_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/qkxdr.pc.in ${PROJECT_BINARY_DIR}/qkxdr.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/qkxdr.pc DESTINATION ${QKXDR_PC_DIR})
# The JSON converter has one name in each place: component json, CMake target
# QkXDR::json (qkxdr_json in this build), pkg-config module qkxdr-json,
# library libqkxdr_json.a. Its .pc file is there only where the library is.
if(TARGET qkxdr_json)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/qkxdr-json.pc.in ${PROJECT_BINARY_DIR}/qkxdr-json.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/qkxdr-json.pc DESTINATION ${QKXDR_PC_DIR})
endif()

if(TARGET qkxdr)
  # The installed tool finds the library in the prefix it was installed to.
  file(RELATIVE_PATH QKXDR_BIN_TO_LIB /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(qkxdr PROPERTIES INSTALL_RPATH $ORIGIN/${QKXDR_BIN_TO_LIB})
  install(TARGETS qkxdr RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}
  FILES_MATCHING PATTERN "*.md")
