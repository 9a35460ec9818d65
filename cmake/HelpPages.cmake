# Copies the help pages next to the program (bin/help), where the help commands look for them.
file(GLOB ZERVO_HELP_PAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/help/*)
set(ZERVO_HELP_OUTPUTS)
foreach(page IN LISTS ZERVO_HELP_PAGES)
  get_filename_component(name ${page} NAME)
  set(out ${CMAKE_BINARY_DIR}/bin/help/${name})
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/bin/help
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${page} ${out}
    DEPENDS ${page}
    COMMENT "Copying help page ${name}")
  list(APPEND ZERVO_HELP_OUTPUTS ${out})
endforeach()
add_custom_target(help_pages ALL DEPENDS ${ZERVO_HELP_OUTPUTS})
add_dependencies(zervo-daq help_pages)
