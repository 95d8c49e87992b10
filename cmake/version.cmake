# The version, from the one place that holds it: the first line of debian/changelog, such as
# "receptor-multicast (1.0.0) unstable; urgency=medium". Sets RECEPTOR_VERSION_PAQUETE, and a
# changed changelog configures the build again.
set(RECEPTOR_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/../debian/changelog)
file(STRINGS ${RECEPTOR_CHANGELOG} RECEPTOR_ENTRADA LIMIT_COUNT 1)
if(NOT RECEPTOR_ENTRADA MATCHES "^[a-z0-9][a-z0-9.+-]* \\(([0-9]+(\\.[0-9]+)*)[-)]")
  message(FATAL_ERROR "No version in the first line of ${RECEPTOR_CHANGELOG}: ${RECEPTOR_ENTRADA}")
endif()
set(RECEPTOR_VERSION_PAQUETE ${CMAKE_MATCH_1})
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${RECEPTOR_CHANGELOG})

# The commit beside it, in a header of its own that only what names it includes
# (generado/commit.h, RECEPTOR_COMMIT: "" when the sources do not say), rewritten only when it
# changes, so that a new commit compiles those few files again. Its directory is searched by the
# targets made after this; one made before adds RECEPTOR_DIR_GENERADO itself.
include(${CMAKE_CURRENT_LIST_DIR}/commit.cmake)
receptor_commit(${CMAKE_CURRENT_LIST_DIR}/.. RECEPTOR_COMMIT)
set(RECEPTOR_DIR_GENERADO ${CMAKE_BINARY_DIR}/generado)
file(CONFIGURE OUTPUT ${RECEPTOR_DIR_GENERADO}/commit.h
     CONTENT "// Written by cmake/version.cmake at configure time.\n#define RECEPTOR_COMMIT \"@RECEPTOR_COMMIT@\"\n"
     @ONLY)
include_directories(${RECEPTOR_DIR_GENERADO})
