# Read by cpack before each package: every time stamp in it is the last commit's, through
# SOURCE_DATE_EPOCH unless it is given, so that the same sources always make the same package.
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  execute_process(COMMAND git -C "${CPACK_RECEPTOR_FUENTES}" log -1 --format=%ct
    OUTPUT_VARIABLE fecha OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE estado ERROR_QUIET)
  if(NOT estado EQUAL 0 OR NOT fecha MATCHES "^[0-9]+$")
    # sources without their history: the changelog's own time
    file(TIMESTAMP "${CPACK_RECEPTOR_FUENTES}/packaging/changelog" fecha "%s" UTC)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${fecha}")
endif()
