# Rebuilds the import library of a 32-bit DLL linked with -Wl,--kill-at.
#
# --kill-at gives the DLL's __stdcall exports their plain names (ZROpen), but
# it also strips the decoration from the symbols of the import library that
# the linker writes, while 32-bit callers reference them decorated
# (_ZROpen@12). From the linker's list of exports (-Wl,--output-def, lines
# "ZROpen = ZROpen@12 @35") this writes an import library whose decorated
# symbols import the plain names.
#
#   cmake -DDEF=zrreader.def -DDLL=zrreader.dll -DIMPLIB=libzrreader.dll.a -DDLLTOOL=... -P mingw-stdcall-implib.cmake
foreach(var DEF DLL IMPLIB DLLTOOL)
  if(NOT ${var})
    message(FATAL_ERROR "mingw-stdcall-implib: ${var} not given")
  endif()
endforeach()
file(STRINGS ${DEF} lines)
set(decorated "EXPORTS\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]*=[ \t]*([A-Za-z_][A-Za-z0-9_]*@[0-9]+)(.*)$")
    string(APPEND decorated "    ${CMAKE_MATCH_1}${CMAKE_MATCH_2}\n")
  elseif(NOT line MATCHES "^[ \t]*(EXPORTS|LIBRARY)")
    string(APPEND decorated "${line}\n")
  endif()
endforeach()
file(WRITE ${DEF}.decorated "${decorated}")
execute_process(COMMAND ${DLLTOOL} --kill-at --input-def ${DEF}.decorated --dllname ${DLL} --output-lib ${IMPLIB}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "mingw-stdcall-implib: ${DLLTOOL} failed (${result})")
endif()
