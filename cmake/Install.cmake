# cmake --install and cpack -G DEB. Included last, when every program's target is known.
#
# The layout is the one ProgramPaths recognises as installed: the programs in <prefix>/bin,
# the help pages in <prefix>/share/zervo-daq/help. Such a copy keeps Sys.ini and its data in
# the XDG folders and never writes beside itself.
include(GNUInstallDirs)

set(ZERVO_PROGRAMS zervo-daq zvdat meter-sim)
if(TARGET zvrec)
  list(APPEND ZERVO_PROGRAMS zvrec)
endif()
install(TARGETS ${ZERVO_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(FILES ${ZERVO_HELP_PAGES} DESTINATION ${CMAKE_INSTALL_DATADIR}/zervo-daq/help)
install(FILES resources/desktop/zervo-daq.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES resources/desktop/zervo-daq.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)
install(FILES resources/desktop/application-x-zvdat.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/mimetypes)
install(FILES resources/desktop/application-x-zvdat.svg RENAME zervo-daq.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Man pages go out compressed, as Debian's policy wants them (-n: no time stamp, same bytes
# on every build).
find_program(GZIP_PROGRAM gzip REQUIRED)
set(ZERVO_MAN_PAGES)
foreach(program IN LISTS ZERVO_PROGRAMS)
  set(page ${CMAKE_SOURCE_DIR}/resources/man/${program}.1)
  set(out ${CMAKE_BINARY_DIR}/man/${program}.1.gz)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${GZIP_PROGRAM} -9nc ${page} > ${out}
    DEPENDS ${page}
    COMMENT "Compressing man page ${program}.1")
  list(APPEND ZERVO_MAN_PAGES ${out})
endforeach()
add_custom_target(man_pages ALL DEPENDS ${ZERVO_MAN_PAGES})
install(FILES ${ZERVO_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Debian package. The MIME, desktop and icon caches are refreshed by the triggers of
# shared-mime-info, desktop-file-utils and the icon theme on their own folders, so the package
# has no maintainer scripts and removing it removes exactly the files it installed.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zervo-daq)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "ZERVO Data Acquisition developers <zervo-daq@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "data acquisition for digital panel meters")
set(CPACK_PACKAGE_DESCRIPTION
  "Searches RS-232/RS-485 lines for digital panel meters, records their readings to .zvdat\n files and shows them as live values and charts. Includes the zvdat command-line tool\n and the meter-sim meter simulator.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt loads its platform and SVG plugins at run time, which dpkg-shlibdeps cannot see; the
# window needs a platform plugin and the Chinese texts a CJK font.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-noto-cjk | fonts-wqy-microhei, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "shared-mime-info, desktop-file-utils")
set(CPACK_STRIP_FILES ON)
include(CPack)
