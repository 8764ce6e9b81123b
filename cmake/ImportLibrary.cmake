# The import library installers' C and C++ code links against. mingw's own
# (written by the linker) names plain exports without their @N, which a
# __stdcall declaration does not find; this one is made with dlltool from a
# definition derived from QMIS.def: "X = X@N" becomes "X@N == X", and the
# decorated names import as they stand.
function(qmis_import_definition module_def out_def)
  file(STRINGS ${module_def} lines)
  set(text "LIBRARY \"QMIS.dll\"\nEXPORTS\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^  ([?][^ ]+) = ")
      string(APPEND text "  \"${CMAKE_MATCH_1}\" == ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  ([A-Za-z][A-Za-z0-9_]*) = ([A-Za-z0-9_]+@[0-9]+)$")
      string(APPEND text "  ${CMAKE_MATCH_2} == ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  file(WRITE ${out_def} "${text}")
endfunction()
