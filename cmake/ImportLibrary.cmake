# The import libraries installers' C and C++ code links against, both made
# from QMIS.def, which maps each export name to its __stdcall symbol.
#
# GNU (libQMIS.dll.a): mingw's own, written by the linker, names the plain
# exports without their @N, which a __stdcall declaration does not find. So
# dlltool makes it from "X@N == X" (import X under the symbol X@N); the
# decorated names import as they stand.
function(qmis_gnu_import_definition module_def out_def)
  file(STRINGS ${module_def} lines)
  set(text "LIBRARY \"QMIS.dll\"\nEXPORTS\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^  ([?][^ ]+) = ")
      string(APPEND text "  \"${CMAKE_MATCH_1}\" == ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  ([A-Za-z][A-Za-z0-9_]*) = ([A-Za-z0-9_]+@[0-9]+)( @[0-9]+)?$")
      string(APPEND text "  ${CMAKE_MATCH_2} == ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  file(WRITE ${out_def} "${text}")
endfunction()

# Microsoft's format (QMIS.lib): "X@N" lines, which llvm-dlltool -k turns
# into the symbols _X@N that Microsoft's compilers give an extern "C"
# __stdcall function, importing the plain name X. The decorated names are
# their own symbols. Each line carries the export's fixed ordinal (imports
# still go by name). This definition ships beside the libraries. (In both,
# the entry point _DllMain@12 is left out: it is for the loader.)
function(qmis_msvc_import_definition module_def out_def)
  file(STRINGS ${module_def} lines)
  set(text "; The exports of QMIS.dll under the symbols their callers use, with their ordinals.\n")
  string(APPEND text "; llvm-dlltool -m i386 -k -d QMIS.def -l QMIS.lib makes QMIS.lib from it.\n")
  string(APPEND text "LIBRARY \"QMIS.dll\"\nEXPORTS\n")
  foreach(line IN LISTS lines)
    if(line MATCHES "^  ([?][^ ]+) = [^ ]+ (@[0-9]+)$")
      string(APPEND text "  ${CMAKE_MATCH_1} ${CMAKE_MATCH_2}\n")
    elseif(line MATCHES "^  ([A-Za-z][A-Za-z0-9_]*) = ([A-Za-z0-9_]+@[0-9]+) (@[0-9]+)$")
      string(APPEND text "  ${CMAKE_MATCH_2} ${CMAKE_MATCH_3}\n")
    endif()
  endforeach()
  file(WRITE ${out_def} "${text}")
endfunction()
