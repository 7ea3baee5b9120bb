# Run by CPack on the staged files before it packs them: strips the programs as Debian's own
# tools do, dropping the compiler's notes that a plain strip leaves behind.
file(GLOB programs "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}/bin/*")
foreach(program IN LISTS programs)
  execute_process(
    COMMAND strip --strip-unneeded --remove-section=.comment --remove-section=.note ${program}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
