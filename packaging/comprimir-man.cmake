# Run by CPack on the staged tree before it builds the package: Debian keeps man pages
# compressed, without a name or a time stamp in the gzip header.
file(GLOB paginas "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/share/man/man*/*.[1-9]")
foreach(pagina IN LISTS paginas)
  execute_process(COMMAND gzip -9nf "${pagina}" RESULT_VARIABLE estado)
  if(NOT estado EQUAL 0)
    message(FATAL_ERROR "gzip ${pagina}: ${estado}")
  endif()
endforeach()
