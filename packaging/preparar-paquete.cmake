# Run by CPack on the staged tree before it builds the package, to leave it as Debian keeps it:
# man pages and the changelog compressed, without a name or a time stamp in the gzip header;
# /etc/client; and programs without the compiler's notes. CPack then dates every entry of the
# archive at SOURCE_DATE_EPOCH, which fecha.cmake sets.
set(raiz "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(usr "${raiz}${CPACK_PACKAGING_INSTALL_PREFIX}")

function(ejecutar)
  execute_process(COMMAND ${ARGV} RESULT_VARIABLE estado)
  if(NOT estado EQUAL 0)
    message(FATAL_ERROR "${ARGV}: ${estado}")
  endif()
endfunction()

file(GLOB comprimir "${usr}/share/man/man*/*.[1-9]" "${usr}/share/doc/client/changelog.Debian")
foreach(fichero IN LISTS comprimir)
  ejecutar(gzip -9nf "${fichero}")
endforeach()

# the directory of the configurations, which the administrator writes, is the package's
file(MAKE_DIRECTORY "${raiz}/etc/client")

# CPACK_STRIP_FILES took the symbols; these sections are left, and dh_strip takes them too
file(GLOB programas "${usr}/bin/*")
foreach(programa IN LISTS programas)
  ejecutar("${CPACK_RECEPTOR_STRIP}" --remove-section=.comment --remove-section=.note "${programa}")
endforeach()
