# What an installer author takes: the stripped DLL (its debug file in a
# folder of its own, so that bin/ holds the DLL alone), the header, import libraries for GNU and Microsoft linkers, the CMake package,
# the NSIS and Inno Setup includes, the companion tools, docs and examples.
# `cmake --install` lays this tree out; `make dist` zips it
# (cmake/MakeDist.cmake).
include(${PROJECT_SOURCE_DIR}/cmake/ImportLibrary.cmake)
include(CMakePackageConfigHelpers)

set(QMIS_SDK_DIR ${CMAKE_BINARY_DIR}/sdk)
set(QMIS_RELEASE_DIR ${CMAKE_BINARY_DIR}/release)
find_program(QMIS_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)

set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/qmis/QMIS.def)
qmis_gnu_import_definition(${PROJECT_SOURCE_DIR}/qmis/QMIS.def ${QMIS_SDK_DIR}/QMIS-gnu.def)
qmis_msvc_import_definition(${PROJECT_SOURCE_DIR}/qmis/QMIS.def ${QMIS_SDK_DIR}/QMIS.def)

# dlltool names symbols after the library's path as given: a bare name
# keeps the build folder out of them.
add_custom_command(OUTPUT ${QMIS_SDK_DIR}/libQMIS.dll.a
  COMMAND ${CMAKE_DLLTOOL} --deterministic-libraries --temp-prefix qmis_import
          -d QMIS-gnu.def -l libQMIS.dll.a
  WORKING_DIRECTORY ${QMIS_SDK_DIR}
  DEPENDS ${QMIS_SDK_DIR}/QMIS-gnu.def
  COMMENT "GNU import library for QMIS.dll")
add_custom_command(OUTPUT ${QMIS_SDK_DIR}/QMIS.lib
  COMMAND ${QMIS_LLVM_DLLTOOL} -m i386 -k -d ${QMIS_SDK_DIR}/QMIS.def -l ${QMIS_SDK_DIR}/QMIS.lib
  DEPENDS ${QMIS_SDK_DIR}/QMIS.def
  COMMENT "Microsoft-format import library for QMIS.dll")

# The shipped binaries carry no debug information; the DLL's goes into
# QMIS.dll.debug, which a debug link in the DLL names for gdb. objcopy would
# stamp the rewritten PE headers with the time of day unless told a time:
# 0, as the linker writes.
set(release_dll ${QMIS_RELEASE_DIR}/QMIS.dll)
set(objcopy ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=0 ${CMAKE_OBJCOPY})
add_custom_command(OUTPUT ${release_dll} ${release_dll}.debug
  COMMAND ${objcopy} --only-keep-debug $<TARGET_FILE:QMIS> QMIS.dll.debug
  COMMAND ${objcopy} --strip-all --add-gnu-debuglink=QMIS.dll.debug $<TARGET_FILE:QMIS> QMIS.dll
  WORKING_DIRECTORY ${QMIS_RELEASE_DIR}
  DEPENDS QMIS
  COMMENT "Stripped QMIS.dll and its debug file")
set(release_tools)
foreach(tool qmis-inspect qmis-uninstall-host)
  add_custom_command(OUTPUT ${QMIS_RELEASE_DIR}/${tool}.exe
    COMMAND ${objcopy} --strip-all $<TARGET_FILE:${tool}> ${QMIS_RELEASE_DIR}/${tool}.exe
    DEPENDS ${tool})
  list(APPEND release_tools ${QMIS_RELEASE_DIR}/${tool}.exe)
endforeach()
file(MAKE_DIRECTORY ${QMIS_RELEASE_DIR})

set(QMIS_BIN_DIR bin)
set(QMIS_LIB_DIR lib)
set(QMIS_INCLUDE_DIR include)
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/qmisConfig.cmake.in
  ${QMIS_SDK_DIR}/qmisConfig.cmake
  INSTALL_DESTINATION lib/cmake/qmis
  PATH_VARS QMIS_BIN_DIR QMIS_LIB_DIR QMIS_INCLUDE_DIR)
write_basic_package_version_file(${QMIS_SDK_DIR}/qmisConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
set(QMIS_VERSION_TEXT "${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.0.${PROJECT_VERSION_PATCH}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/release-readme.txt.in ${QMIS_RELEASE_DIR}/README @ONLY)

add_custom_target(qmis_release ALL DEPENDS
  ${QMIS_SDK_DIR}/libQMIS.dll.a ${QMIS_SDK_DIR}/QMIS.lib ${release_dll} ${release_tools})

install(FILES ${release_dll} DESTINATION bin)
install(FILES ${release_dll}.debug DESTINATION debug)
install(FILES ${PROJECT_SOURCE_DIR}/include/qmis.h DESTINATION include)
install(FILES ${QMIS_SDK_DIR}/libQMIS.dll.a ${QMIS_SDK_DIR}/QMIS.lib ${QMIS_SDK_DIR}/QMIS.def DESTINATION lib)
install(FILES ${QMIS_SDK_DIR}/qmisConfig.cmake ${QMIS_SDK_DIR}/qmisConfigVersion.cmake
  DESTINATION lib/cmake/qmis)
install(FILES ${PROJECT_SOURCE_DIR}/include/QMIS.nsh DESTINATION nsis)
install(FILES ${PROJECT_SOURCE_DIR}/include/QMIS.iss DESTINATION inno)
install(PROGRAMS ${release_tools} DESTINATION tools)
# docs/dev/ is about building and testing QMIS itself: not for the archive.
install(DIRECTORY ${PROJECT_SOURCE_DIR}/docs/ DESTINATION docs PATTERN dev EXCLUDE)
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION examples)
install(FILES ${QMIS_RELEASE_DIR}/README DESTINATION .)

# make dist: the installed tree as one zip with its checksum.
add_custom_target(dist
  COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${CMAKE_BINARY_DIR} -DSOURCE_DIR=${PROJECT_SOURCE_DIR}
          -DVERSION=${PROJECT_VERSION} -P ${PROJECT_SOURCE_DIR}/cmake/MakeDist.cmake
  DEPENDS qmis_release
  USES_TERMINAL)
