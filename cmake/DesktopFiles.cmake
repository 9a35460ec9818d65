# The MIME type and the file-type icon exist once, in resources/desktop: the package installs
# them, and the program embeds the same bytes for a portable copy's per-user association.
set(ZERVO_DESKTOP_DIR ${CMAKE_SOURCE_DIR}/resources/desktop)
file(READ ${ZERVO_DESKTOP_DIR}/zervo-daq.xml ZERVO_MIME_XML)
file(READ ${ZERVO_DESKTOP_DIR}/application-x-zvdat.svg ZERVO_ICON_SVG)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${ZERVO_DESKTOP_DIR}/zervo-daq.xml ${ZERVO_DESKTOP_DIR}/application-x-zvdat.svg)
configure_file(${CMAKE_SOURCE_DIR}/cmake/DesktopFiles.h.in
  ${CMAKE_BINARY_DIR}/generated/app/DesktopFiles.h @ONLY)
target_include_directories(zervo_core PUBLIC ${CMAKE_BINARY_DIR}/generated)
