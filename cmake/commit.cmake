# The commit that the sources come from, which -V and the status file name beside the version.
# In a git checkout of these very sources, its HEAD in 12 hex digits, with "-modificado" when the
# tree differs from it (tracked changes or files git does not ignore). Sources that are not their
# own checkout (the Debian source package, unpacked anywhere, even inside another checkout) carry
# it in the file COMMIT, which scripts/comprobar-paquete writes into the sources it packs. Empty
# when neither says.
#
# As a script, `cmake -DDESTINO=<fichero> -P cmake/commit.cmake` writes this checkout's into
# DESTINO, so that the script and the build say it one way.

# Sets resultado to the commit of the sources in fuentes, or "". Within a configure, a new HEAD
# (a commit, another branch) configures the build again; the tree's changes are those seen now.
function(receptor_commit fuentes resultado)
  set(commit "")
  find_program(RECEPTOR_GIT git)
  if(RECEPTOR_GIT)
    execute_process(COMMAND ${RECEPTOR_GIT} rev-parse --show-toplevel --short=12 HEAD
                    WORKING_DIRECTORY ${fuentes} RESULT_VARIABLE fallo ERROR_QUIET
                    OUTPUT_VARIABLE lineas OUTPUT_STRIP_TRAILING_WHITESPACE)
    file(REAL_PATH ${fuentes} fuentes_reales)
    string(REPLACE "\n" ";" lineas "${lineas}")
    list(POP_FRONT lineas raiz cabeza)
    if(fallo EQUAL 0 AND raiz STREQUAL fuentes_reales)
      set(commit ${cabeza})
      execute_process(COMMAND ${RECEPTOR_GIT} status --porcelain WORKING_DIRECTORY ${fuentes}
                      OUTPUT_VARIABLE cambios ERROR_QUIET)
      if(NOT cambios STREQUAL "")
        string(APPEND commit "-modificado")
      endif()
      if(NOT CMAKE_SCRIPT_MODE_FILE)
        receptor_vigilar_head(${fuentes})
      endif()
    endif()
  endif()
  if(commit STREQUAL "" AND EXISTS ${fuentes}/COMMIT)
    file(STRINGS ${fuentes}/COMMIT commit LIMIT_COUNT 1)
    # it goes into a C string and a JSON one as it is
    if(NOT commit MATCHES "^([0-9a-f]+(-modificado)?)?$")
      message(FATAL_ERROR "${fuentes}/COMMIT does not hold a commit: ${commit}")
    endif()
  endif()
  set(${resultado} "${commit}" PARENT_SCOPE)
endfunction()

# HEAD and the branch it names, loose or packed, as files whose change configures again; not the
# index, which every `git add` of anyone working in the checkout touches.
function(receptor_vigilar_head fuentes)
  execute_process(COMMAND ${RECEPTOR_GIT} symbolic-ref -q HEAD WORKING_DIRECTORY ${fuentes}
                  OUTPUT_VARIABLE rama OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  foreach(nombre HEAD ${rama} packed-refs)
    execute_process(COMMAND ${RECEPTOR_GIT} rev-parse --path-format=absolute --git-path ${nombre}
                    WORKING_DIRECTORY ${fuentes}
                    OUTPUT_VARIABLE ruta OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    if(EXISTS "${ruta}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${ruta})
    endif()
  endforeach()
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  receptor_commit(${CMAKE_CURRENT_LIST_DIR}/.. commit)
  file(WRITE ${DESTINO} "${commit}\n")
endif()
