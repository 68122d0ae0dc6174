# Installs the metadata component into PREFIX and validates what landed
# there: the desktop entry and the AppStream file. Fails on any finding
# above pedantic level.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(
  COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component metadata --prefix "${PREFIX}"
  RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installing the metadata failed")
endif()

file(GLOB desktop "${PREFIX}/share/applications/*.desktop")
file(GLOB metainfo "${PREFIX}/share/metainfo/*.metainfo.xml")
if(NOT desktop OR NOT metainfo)
  message(FATAL_ERROR "desktop entry or AppStream file not installed")
endif()

execute_process(COMMAND ${DESKTOP_FILE_VALIDATE} ${desktop}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
# It reports warnings and hints (two main categories is a hint) on its
# output with a zero status.
if(NOT rc EQUAL 0 OR out MATCHES "(error|warning|hint):")
  message(FATAL_ERROR "desktop-file-validate: ${out}")
endif()

execute_process(COMMAND ${APPSTREAMCLI} validate --no-net --strict ${metainfo}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate: ${out}")
endif()
message(STATUS "valid: ${desktop} ${metainfo}")
