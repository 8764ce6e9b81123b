# find_package(qmis 2.0) for C and C++ code that calls QMIS.dll: the
# imported target qmis::qmis carries the header folder and the GNU import
# library. qmisConfigVersion.cmake beside this file gives the version.
get_filename_component(_qmis_prefix "${CMAKE_CURRENT_LIST_DIR}/../../.." ABSOLUTE)

if(NOT TARGET qmis::qmis)
  add_library(qmis::qmis SHARED IMPORTED)
  set_target_properties(qmis::qmis PROPERTIES
    IMPORTED_LOCATION "${_qmis_prefix}/bin/QMIS.dll"
    IMPORTED_IMPLIB "${_qmis_prefix}/lib/libQMIS.dll.a"
    INTERFACE_INCLUDE_DIRECTORIES "${_qmis_prefix}/include")
endif()

set(qmis_FOUND TRUE)
unset(_qmis_prefix)
