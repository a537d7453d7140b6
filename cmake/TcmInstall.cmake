# Installing the programs: one function for every program of the project.
include(GNUInstallDirs)

find_program(TCM_HELP2MAN help2man)
find_program(TCM_GZIP gzip)
if(NOT TCM_HELP2MAN OR NOT TCM_GZIP)
  message(FATAL_ERROR "help2man and gzip make the manual pages: run scripts/setup.sh")
endif()

# tcm_install_program(target)
# Installs the program into the binary folder and its manual page, made at build
# time by help2man from the program's --help and --version output plus the
# sections in packaging/man/<target>.h2m (name, exit status, examples), into
# section 1 of the manual, compressed as Debian expects.
function(tcm_install_program target)
  set(include ${PROJECT_SOURCE_DIR}/packaging/man/${target}.h2m)
  if(NOT EXISTS ${include})
    message(FATAL_ERROR "${target}: ${include} is missing (its NAME, EXIT STATUS and EXAMPLES)")
  endif()
  set(page ${PROJECT_BINARY_DIR}/man/${target}.1)
  add_custom_command(
    OUTPUT ${page}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${TCM_HELP2MAN} --no-info --include=${include} --output=${page} $<TARGET_FILE:${target}>
    COMMAND ${TCM_GZIP} -9nf ${page}
    DEPENDS ${target} ${include}
    COMMENT "Manual page of ${target}"
    VERBATIM)
  add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
  install(TARGETS ${target} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
